// The LED monitor's decision on the channels' rates, and the colours.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/fpga_reg.h"
#include "platform/led.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

// A channel as the monitor sees it: no stream, or a stream's rates and flag.
struct ChannelView {
    bool stream = true;
    U32 total = 0;
    U32 effective = 0;
    bool overflow = false;
};

const ChannelView kNoStream{.stream = false};

LedPassDecision Decide(const std::vector<ChannelView>& channels) {
    std::vector<std::unique_ptr<Output_WebTSInfo>> filled;
    std::vector<const Output_WebTSInfo*> views;
    for (const ChannelView& channel : channels) {
        if (!channel.stream) {
            views.push_back(nullptr);
            continue;
        }
        auto view = std::make_unique<Output_WebTSInfo>();
        view->u8ValidFlag = 1;
        view->u32TotalBitRate = channel.total;
        view->u32EffectiveBitRate = channel.effective;
        view->bOverFlow = channel.overflow ? 1 : 0;
        views.push_back(view.get());
        filled.push_back(std::move(view));
    }
    return LED_DecidePass(views);
}

TEST(LedDecisionTest, TableOfChannelStates) {
    using enum LedAlarm;
    struct Case {
        const char* name;
        std::vector<ChannelView> channels;
        std::vector<LedRedChannel> red;
    };
    const std::vector<Case> cases = {
        {"no stream anywhere", std::vector<ChannelView>(16, kNoStream), {}},
        {"total rate 0 is never red for its effective rate", {{.total = 0, .effective = 0}}, {}},
        {"effective 199 with a total is red", {{.total = 38'000, .effective = 199}}, {{0, NoEffectiveRate}}},
        {"effective 200 is not", {{.total = 38'000, .effective = 200}}, {}},
        {"overflow", {kNoStream, {.total = 38'000, .effective = 30'000, .overflow = true}}, {{1, Overflow}}},
        {"overflow with a zero total", {{.total = 0, .effective = 0, .overflow = true}}, {{0, Overflow}}},
        {"no effective rate is told before overflow",
         {{.total = 38'000, .effective = 0, .overflow = true}},
         {{0, NoEffectiveRate}}},
        {"every red channel in order",
         {kNoStream, kNoStream, {.total = 1, .effective = 0}, {.total = 5, .effective = 5000}, kNoStream,
          kNoStream, kNoStream, {.overflow = true}},
         {{2, NoEffectiveRate}, {7, Overflow}}},
        {"all normal", {{.total = 38'000, .effective = 38'000}, kNoStream, {.total = 0, .effective = 0}}, {}},
    };
    for (const Case& c : cases) {
        const LedPassDecision decision = Decide(c.channels);
        EXPECT_EQ(c.red, decision.redChannels) << c.name;
        EXPECT_EQ(c.red.empty(), decision.allNormal) << c.name;
    }
}

TEST(LedColourTest, GreenDependsOnTheHardwareVersion) {
    struct Case {
        U32 hardwareVersion;
        U32 green;
    };
    for (const Case& c : {Case{0, 1}, Case{1, 1}, Case{2, 2}, Case{3, 1}, Case{6, 1}}) {
        test::TestEnvironment env;
        RunProfile profile = Profile();
        profile.simHardwareVersion = c.hardwareVersion;
        SetProfile(profile);
        test::SimBoard board;
        FPGA_LEDGreenLight();
        EXPECT_EQ(c.green, board.fpga().Peek(kRegLed)) << c.hardwareVersion;
        FPGA_LEDRedLight();
        EXPECT_EQ(0u, board.fpga().Peek(kRegLed));
        FPGA_LEDOut();
        EXPECT_EQ(3u, board.fpga().Peek(kRegLed));
    }
}

}  // namespace
}  // namespace hx

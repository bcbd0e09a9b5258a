#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "chassis/ipcomm.h"
#include "support/ipcomm_recorder.h"
#include "platform/fpga_reg.h"
#include "platform/led.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr std::uint64_t kSecond = 1'000'000;

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

class LedThreadTest : public ::testing::Test {
protected:
    // The blinker and monitor threads are held at their sleeps and released
    // one step at a time.
    void SetUp() override { env.clock().SetAutoAdvance(false); }

    void TearDown() override {
        // Leave no blinker behind on this test's clock.
        FPGA_LEDfresh_Stop();
        std::atomic<bool> ended{false};
        std::thread waiter([&] {
            FPGA_LEDfresh_WaitEnded();
            ended = true;
        });
        while (!ended) {
            env.clock().Advance(kSecond);
            std::this_thread::yield();
        }
        waiter.join();
    }

    // Lets the blinker or monitor run up to its next sleep.
    void StepTo(std::size_t sleepCalls) { env.clock().WaitForSleepCalls(sleepCalls); }

    std::vector<std::pair<std::uint64_t, U32>> History() {
        std::vector<std::pair<std::uint64_t, U32>> history;
        for (const sim::LedChange& change : board.fpga().led().History()) {
            history.emplace_back(change.micros - start, change.value);
        }
        return history;
    }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ChassisPeers peers;
    const std::uint64_t start = env.clock().MonotonicMicros();
};

TEST_F(LedThreadTest, BlinkerShowsRedAndOffEachSecondUntilStopped) {
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    for (std::size_t sleep = 1; sleep <= 5; ++sleep) {
        StepTo(sleep);
        env.clock().Advance(kSecond);
    }
    StepTo(6);
    FPGA_LEDfresh_Stop();  // during the off second of the third cycle
    env.clock().Advance(kSecond);
    FPGA_LEDfresh_WaitEnded();
    const std::vector<std::pair<std::uint64_t, U32>> expected = {
        {0, 3}, {0, 0}, {kSecond, 3}, {2 * kSecond, 0}, {3 * kSecond, 3}, {4 * kSecond, 0}, {5 * kSecond, 3}};
    EXPECT_EQ(expected, History());
    EXPECT_EQ(std::vector<std::uint64_t>(6, kSecond), env.clock().SleepHistory());
    EXPECT_NE(env.Console().find("Stop Red LED Fresh"), std::string::npos);
    const std::string log = env.ReadText("/sim/led.log");
    EXPECT_NE(log.find("red"), std::string::npos);
    EXPECT_NE(log.find("off"), std::string::npos);
}

TEST_F(LedThreadTest, BlinkerRunsAtLeastOneCycle) {
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    FPGA_LEDfresh_Stop();
    StepTo(1);
    env.clock().Advance(kSecond);
    StepTo(2);
    env.clock().Advance(kSecond);
    FPGA_LEDfresh_WaitEnded();
    const std::vector<std::pair<std::uint64_t, U32>> expected = {{0, 3}, {0, 0}, {kSecond, 3}};
    EXPECT_EQ(expected, History());
}

// The monitor takes over from the blinker only once the blinker has ended, so
// the blinker's last "off" comes before the monitor's first colour; then it
// reports normal to the back board on every pass.
TEST_F(LedThreadTest, MonitorSetsItsColourAfterTheBlinkerAndReportsEachPass) {
    IPComm_TakeRecordedSends();
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    StepTo(1);  // red, in the first second
    ASSERT_EQ(0u, LED_TaskMonitoring());
    while (FPGA_LEDfresh_IsSet()) {
        std::this_thread::yield();  // until the monitor has told the blinker to stop
    }
    env.clock().Advance(kSecond);
    StepTo(2);  // off
    env.clock().Advance(kSecond);
    StepTo(3);  // the blinker has ended; the monitor's first pass is done
    const std::vector<std::pair<std::uint64_t, U32>> expected = {{0, 3}, {0, 0}, {kSecond, 3}, {2 * kSecond, 1}};
    EXPECT_EQ(expected, History());
    std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(16u, sends[0].slot);
    EXPECT_EQ(IPCOMM_SEND_INDSTATUS, sends[0].command);
    EXPECT_EQ(std::vector<U8>{kLedReportNormal}, sends[0].data);

    env.clock().Advance(5 * kSecond);
    StepTo(4);
    sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size()) << "a report on every pass";
    EXPECT_EQ(std::vector<U8>{kLedReportNormal}, sends[0].data);
    EXPECT_EQ(1u, board.fpga().Peek(kRegLed));
    EXPECT_EQ(5 * kSecond, env.clock().SleepHistory().back());

    LED_MonitorRequestStop();
    env.clock().Advance(5 * kSecond);
    LED_MonitorWaitEnded();
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

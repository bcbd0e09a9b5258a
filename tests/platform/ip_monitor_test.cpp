#include "platform/ip_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "board_state_fixture.h"
#include "chassis/param_store.h"
#include "core/file_util.h"

namespace hx::test {
namespace {

using ::testing::HasSubstr;

class IPMonitorTest : public BoardStateTest {
protected:
    // True when the parameter file holds `settings` as its IP monitor record.
    bool Saved(const QAM_IPMonitorPara& settings) {
        const auto bytes = File_ReadAll(env_.Path(kQamParamFilePath));
        if (!bytes || bytes->size() != kQamParamFileSize) {
            return false;
        }
        QamParamFileBytes image{};
        std::copy(bytes->begin(), bytes->end(), image.begin());
        const QAM_IPMonitorPara saved = QamParams_Parse(image).st_IPMonitorParams.stIPMonitorParams;
        return saved.u8Enable == settings.u8Enable && saved.u8Channel == settings.u8Channel &&
               saved.u16DestPort == settings.u16DestPort && saved.u32DestIPAddr == settings.u32DestIPAddr &&
               saved.u16IP1MaxRate == settings.u16IP1MaxRate && saved.u32IP1 == settings.u32IP1;
    }
    static QAM_IPMonitorPara Enabled(U32 group, U16 port, U8 channel, U16 rate) {
        QAM_IPMonitorPara settings{};
        settings.u8Enable = 1;
        settings.u8Channel = channel;
        settings.u16DestPort = port;
        settings.u32DestIPAddr = group;
        settings.u16IP1MaxRate = rate;
        settings.u32IP1 = 0xC0A80214;
        return settings;
    }
    // The output as the simulated FPGA decoded it from the strobes.
    sim::IpMonitorOutput Output() { return Fpga().ipMonitor().Output(); }
    std::string DestinationMac() {
        const std::array<U8, 6> mac = Output().destinationMac;
        char text[18];
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
        return text;
    }
};

TEST_F(IPMonitorTest, DefaultsKeepTheSecondPortIdentity) {
    QAM_IPMonitorPara settings{};
    std::memset(&settings, 0x5A, sizeof settings);
    Init_IPMonitor_Parmeter(&settings);
    EXPECT_EQ(settings.u8Enable, 0);
    EXPECT_EQ(settings.u8Channel, 0);
    EXPECT_EQ(settings.u16DestPort, 1234);
    EXPECT_EQ(settings.u32DestIPAddr, 0xE30A145Au);
    EXPECT_EQ(settings.u16IP1MaxRate, 40);
    EXPECT_EQ(settings.u16PSIInterval, 100);
    EXPECT_EQ(settings.u8Mac1LicFlag, 0);
    EXPECT_EQ(settings.u32IP1, 0x5A5A5A5Au);
    EXPECT_TRUE(std::all_of(std::begin(settings.aru8Mac1), std::end(settings.aru8Mac1), [](U8 b) { return b == 0x5A; }));

    Init_IPMonitor_Parmeter(nullptr);
    EXPECT_THAT(env_.Console(), HasSubstr("Input Para is NULL"));
}

TEST_F(IPMonitorTest, MulticastMacTakesTheLow23BitsOfTheGroup) {
    struct Case {
        U32 group;
        U32 word;
    };
    for (const Case& c : {Case{0xE30A145A, 0x01005E0A}, Case{0xEFC80102, 0x01005E48}, Case{0xEFFFFFFF, 0x01005E7F},
                          Case{0xE0800001, 0x01005E00}}) {
        EXPECT_EQ(IPMonitor_MacWord(c.group), c.word) << std::hex << c.group;
    }
}

// Each address word is loaded by a strobe of 544 held 10 ms per edge; the
// meter channel and gate follow, then the rate limit.
TEST_F(IPMonitorTest, DefaultGroupIsProgrammed) {
    QAM_IPMonitorPara settings = Enabled(0xE30A145A, 1234, 5, 40);
    const std::vector<RegisterStep> expected = {
        {565, 0, 0},
        {523, 0xC0A80214, 0},
        {524, 1234, 0},
        {545, 0x200, 0},
        {547, 0xE30A145A, 0},
        {544, 0, 0},
        {544, 1, 10'000},
        {544, 0, 20'000},
        {545, 0x300, 30'000},
        {546, 0x01005E0A, 30'000},
        {547, 0x145A04D2, 30'000},
        {544, 0, 30'000},
        {544, 1, 40'000},
        {544, 0, 50'000},
        {833, 5, 60'000},
        {834, 135'000'000, 60'000},
        {845, 887234, 60'000},  // 40 x 22180.85
    };
    EXPECT_EQ(WriteSequence(Fpga(), [&] { EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u); }), expected);

    const sim::IpMonitorOutput output = Output();
    EXPECT_FALSE(output.stopped);
    EXPECT_EQ(output.sourceAddress, 0xC0A80214u);
    EXPECT_EQ(output.sourcePort, 1234u);
    EXPECT_EQ(output.destinationAddress, 0xE30A145Au);
    EXPECT_EQ(output.destinationPort, 1234);
    EXPECT_EQ(DestinationMac(), "01:00:5E:0A:14:5A");
    EXPECT_EQ(output.strobes, 2u);
    EXPECT_EQ(output.unknownModes, 0u);
    EXPECT_TRUE(Saved(settings));
}

TEST_F(IPMonitorTest, GroupWithHighSecondOctetKeepsAMulticastMac) {
    QAM_IPMonitorPara settings = Enabled(0xEFC80102, 5000, 15, 80);  // 239.200.1.2
    EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u);
    const sim::IpMonitorOutput output = Output();
    EXPECT_EQ(DestinationMac(), "01:00:5E:48:01:02");
    EXPECT_EQ(output.destinationAddress, 0xEFC80102u);
    EXPECT_EQ(output.destinationPort, 5000);
    EXPECT_EQ(output.rateWord, 1774468u);
}

// Off: the source is still set, the output stopped, no group programmed.
TEST_F(IPMonitorTest, SwitchingOffStopsTheOutputAndIsSaved) {
    QAM_IPMonitorPara settings = Enabled(0xE30A145A, 1234, 5, 40);
    settings.u8Enable = 0;
    const std::vector<RegisterStep> expected = {{565, 0, 0}, {523, 0xC0A80214, 0}, {524, 1234, 0}, {565, 1, 0}};
    EXPECT_EQ(WriteSequence(Fpga(), [&] { EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u); }), expected);
    EXPECT_TRUE(Output().stopped);
    EXPECT_EQ(Output().strobes, 0u);
    EXPECT_TRUE(Saved(settings)) << "switched off, it stays off after a restart";
}

TEST_F(IPMonitorTest, NullSettingsAreRefused) {
    EXPECT_EQ(SetQAM_IPMonitor(nullptr), 4u);
    EXPECT_THAT(env_.Console(), HasSubstr("Input Para is NULL"));
    EXPECT_FALSE(std::filesystem::exists(env_.Path(kQamParamFilePath)));
}

}  // namespace
}  // namespace hx::test

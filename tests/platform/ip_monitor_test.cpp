#include "platform/ip_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "board_state_fixture.h"

namespace hx::test {
namespace {

using ::testing::HasSubstr;

class IPMonitorTest : public BoardStateTest {
protected:
    // The save went to the parameter store: its file, or its call while the
    // store is still a stand-in.
    bool Saved() {
        return std::filesystem::exists(env_.Path("/vandik_data/HX_QAM.conf")) ||
               env_.Console().find("PARAMS_SetIPMonitorParams") != std::string::npos;
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
    // The MAC the FPGA sends to: 546 holds its first four bytes, 547's high half the last two.
    std::string DestinationMac() {
        const U32 high = Reg(kRegIPMonitorMac);
        const U32 low = Reg(kRegIPMonitorAddress) >> 16;
        char text[18];
        std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", high >> 24, high >> 16 & 0xFF,
                      high >> 8 & 0xFF, high & 0xFF, low >> 8, low & 0xFF);
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
    EXPECT_EQ(settings.u8Mac1LicFlag, 0x5A);
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

TEST_F(IPMonitorTest, DefaultGroupIsProgrammed) {
    QAM_IPMonitorPara settings = Enabled(0xE30A145A, 1234, 5, 40);
    EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u);

    EXPECT_EQ(Reg(kRegIPMonitorStop), 0u);
    EXPECT_EQ(Reg(kRegIPMonitorSourceIP), 0xC0A80214u);
    EXPECT_EQ(Reg(kRegIPMonitorSourcePort), 1234u);
    EXPECT_EQ(Reg(kRegIPMonitorMode), 0x300u);
    EXPECT_EQ(Reg(kRegIPMonitorMac), 0x01005E0Au);
    EXPECT_EQ(Reg(kRegIPMonitorAddress), 0x145A04D2u);
    EXPECT_EQ(Reg(kRegIPMonitorStrobe), 0u);
    EXPECT_EQ(Reg(kRegMeterChannel), 5u);
    EXPECT_EQ(Reg(kRegMeterGate), 135'000'000u);
    EXPECT_EQ(Reg(kRegIPMonitorRate), 887234u);  // 40 x 22180.85
    EXPECT_EQ(DestinationMac(), "01:00:5E:0A:14:5A");
    const std::vector<std::uint64_t> sleeps = env_.clock().SleepHistory();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10'000u), 6);  // two strobes, 10 ms per edge
    EXPECT_TRUE(Saved());
}

TEST_F(IPMonitorTest, GroupWithHighSecondOctetKeepsAMulticastMac) {
    QAM_IPMonitorPara settings = Enabled(0xEFC80102, 5000, 15, 80);  // 239.200.1.2
    EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u);
    EXPECT_EQ(DestinationMac(), "01:00:5E:48:01:02");
    EXPECT_EQ(Reg(kRegIPMonitorAddress) & 0xFFFF, 5000u);
    EXPECT_EQ(Reg(kRegIPMonitorRate), 1774468u);
}

TEST_F(IPMonitorTest, SwitchingOffStopsTheOutputAndIsSaved) {
    REG_Write(kRegIPMonitorMac, 0x12345678);
    QAM_IPMonitorPara settings = Enabled(0xE30A145A, 1234, 5, 40);
    settings.u8Enable = 0;
    EXPECT_EQ(SetQAM_IPMonitor(&settings), 0u);
    EXPECT_EQ(Reg(kRegIPMonitorStop), 1u);
    EXPECT_EQ(Reg(kRegIPMonitorSourceIP), 0xC0A80214u);
    EXPECT_EQ(Reg(kRegIPMonitorMac), 0x12345678u);  // no group programmed
    EXPECT_TRUE(Saved());
}

TEST_F(IPMonitorTest, NullSettingsAreRefused) {
    EXPECT_EQ(SetQAM_IPMonitor(nullptr), 4u);
    EXPECT_THAT(env_.Console(), HasSubstr("Input Para is NULL"));
    EXPECT_FALSE(Saved());
}

}  // namespace
}  // namespace hx::test

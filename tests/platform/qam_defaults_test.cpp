#include <gtest/gtest.h>

#include <cstring>

#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr U32 kUsPlan[16] = {57000,  63000,  69000,  79000,  85000,  177000, 183000, 189000,
                             195000, 201000, 207000, 213000, 123000, 129000, 135000, 141000};

class QamDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { Resource_GetHandle(kBackBoardSlot)->u8Standard = 0; }
    void TearDown() override {
        Resource_GetHandle(kBackBoardSlot)->u8Standard = 0;
        GetQAMPara_Handle()->Standard.value = 0;
    }

    // A table full of stale values with the given kept mode.
    static TParameter_QAM Stale(U32 mode) {
        TParameter_QAM table;
        std::memset(&table, 0xA5, sizeof table);
        table.Mode[0].value = mode;
        return table;
    }
    test::TestEnvironment env;
};

TEST_F(QamDefaultsTest, ModeAFactoryTable) {
    TParameter_QAM table = Stale(MODE_QAMA);
    QAM160T_Init_Parmeter(&table);

    const auto pair = [](const Parameter_Common& p) { return std::pair{p.address, p.value}; };
    EXPECT_EQ(std::pair(0u, 0u), pair(table.StructVersion));
    EXPECT_EQ(std::pair(256u, 32u), pair(table.MaxChannel));
    EXPECT_EQ(std::pair(258u, 0u), pair(table.PortEnable));
    EXPECT_EQ(std::pair(257u, 90u), pair(table.PowerLevel)) << "hardware version 0";
    EXPECT_EQ(std::pair(259u, 0u), pair(table.RFTemplate));
    EXPECT_EQ(std::pair(260u, 0u), pair(table.BoostDUC));
    EXPECT_EQ(std::pair(261u, 3u), pair(table.Attenuation));
    for (U32 g = 0; g < kQamGroups; ++g) {
        EXPECT_EQ(std::pair(272 + g, 0u), pair(table.Mode[g]));
        EXPECT_EQ(std::pair(304 + g, 2u), pair(table.Constellation[g]));
        EXPECT_EQ(std::pair(336 + g, 6875000u), pair(table.SymbolRate[g]));
        EXPECT_EQ(std::pair(368 + g, 2u), pair(table.Bandwidth[g]));
        EXPECT_EQ(std::pair(400 + g, 0u), pair(table.MaxRate[g]));
    }
    for (U32 c = 0; c < kQamChannelSlots; ++c) {
        EXPECT_EQ(std::pair(512 + c, 0u), pair(table.ChannelEnable[c]));
        EXPECT_EQ(std::pair(768 + c, c < 16 ? 200000 + 8000 * c : 2000u), pair(table.Frequency[c]));
        EXPECT_EQ(std::pair(1024 + c, 9u), pair(table.Interleaver[c]));
        EXPECT_EQ(std::pair(1280 + c, 70u), pair(table.Scale[c]));
        EXPECT_EQ(std::pair(2133 + c, 1u), pair(table.InsertPSIEnable[c]));
    }
    EXPECT_EQ(std::pair(0u, 0u), pair(table.ChannelTable));
    EXPECT_EQ(std::pair(0u, 0u), pair(table.NewPowerLevel));
    EXPECT_EQ(std::pair(1792u, 0u), pair(table.CheckBitrateEnable));
    EXPECT_EQ(std::pair(1793u, 66u), pair(table.BitrateThreshold));
    EXPECT_EQ(std::pair(2048u, 11u), pair(table.RDAValue));
    EXPECT_EQ(std::pair(2128u, 1u), pair(table.ATSCChannelMode));
    EXPECT_EQ(std::pair(2129u, 108u), pair(table.ReferPowerLevel));
    EXPECT_EQ(std::pair(2130u, 0u), pair(table.rflevelunittype));
    EXPECT_EQ(std::pair(2131u, 0u), pair(table.SingleMode));
    EXPECT_EQ(std::pair(2132u, 0u), pair(table.Standard));
    EXPECT_EQ(std::pair(0xFFFFFFFFu, 0u), pair(table.Res[0]));
    for (U32 i = 1; i < 598; ++i) {
        ASSERT_EQ(std::pair(0u, 0u), pair(table.Res[i])) << i;
    }
}

struct ModeCase {
    const char* name;
    U32 storedMode;
    U8 backBoardStandard;
    U32 keptMode;
    bool usPlan;
};

void PrintTo(const ModeCase& c, std::ostream* out) { *out << c.name; }

class QamDefaultsModeTest : public QamDefaultsTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(QamDefaultsModeTest, KeepsTheModeAndPicksTheFrequencyPlan) {
    const ModeCase& c = GetParam();
    // The back board's record sets its Standard in the live set too, which
    // is where the board reads its SI mode.
    Resource_GetHandle(kBackBoardSlot)->u8Standard = c.backBoardStandard;
    GetQAMPara_Handle()->Standard.value = c.backBoardStandard;
    TParameter_QAM table = Stale(c.storedMode);
    QAM160T_Init_Parmeter(&table);
    EXPECT_EQ(c.keptMode, table.Mode[3].value);
    EXPECT_EQ(c.backBoardStandard, table.Standard.value);
    EXPECT_EQ(c.keptMode == MODE_QAMB ? 5360537u : 6875000u, table.SymbolRate[0].value);
    EXPECT_EQ(c.keptMode == MODE_QAMA ? 2u : 1u, table.Constellation[1].value);
    EXPECT_EQ(c.keptMode == MODE_QAMB ? 0u : 2u, table.Bandwidth[2].value);
    for (U32 ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(c.usPlan ? kUsPlan[ch] : 200000 + 8000 * ch, table.Frequency[ch].value) << ch;
    }
    EXPECT_EQ(2000u, table.Frequency[16].value);
}

INSTANTIATE_TEST_SUITE_P(Cases, QamDefaultsModeTest,
                         ::testing::Values(ModeCase{"ModeA", 0, 0, 0, false}, ModeCase{"ModeB", 1, 0, 1, true},
                                           ModeCase{"ModeC", 2, 0, 2, false},
                                           ModeCase{"ModeAboveTwoBecomesA", 7, 0, 0, false},
                                           ModeCase{"AtscGivesUsPlanInModeA", 0, 1, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QamDefaultsTest, IPMonitorDefaultsKeepTheSecondPort) {
    QAM_IPMonitorPara record;
    std::memset(&record, 0x5A, sizeof record);
    Init_IPMonitor_Parmeter(&record);
    EXPECT_EQ(0, record.u8Enable);
    EXPECT_EQ(0, record.u8Channel);
    EXPECT_EQ(1234, record.u16DestPort);
    EXPECT_EQ(0xE30A145Au, record.u32DestIPAddr);
    EXPECT_EQ(40, record.u16IP1MaxRate);
    EXPECT_EQ(0, record.u8Mac1LicFlag);
    EXPECT_EQ(100, record.u16PSIInterval);
    EXPECT_EQ(0x5A5A5A5Au, record.u32IP1);
    EXPECT_EQ(0x5A, record.aru8Mac1[5]);
}

}  // namespace
}  // namespace hx

// The QAM set's factory values: every pair of the table in the order it is
// sent and stored, the power level by hardware version, and what a reset
// keeps of the stored mode and standard.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/run_profile.h"
#include "platform/qam_defaults.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

// The factory table QAM160T_Init_Parmeter fills: every used pair in table
// order and where the parameter file's bytes hold it, the power level the
// hardware version picks, and which stored settings (mode, standard) it keeps.
class FactoryDefaultsTest : public ::testing::Test {
protected:
    void PowerOn(U32 hardwareVersion) {
        // A fresh power-on: the version pins are exported anew.
        std::filesystem::remove_all(env.Path("/sys/class/gpio"));
        RunProfile profile = Profile();
        profile.simHardwareVersion = hardwareVersion;
        SetProfile(profile);
        board.emplace();
    }
    void SetUp() override {
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        Resource_GetHandle(kBackBoardSlot)->u8Standard = 0;
    }
    void TearDown() override {
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        Resource_GetHandle(kBackBoardSlot)->u8Standard = 0;
    }

    test::TestEnvironment env;
    std::optional<test::SimBoard> board;
};

TEST_F(FactoryDefaultsTest, EveryPairOfModeA) {
    PowerOn(0);
    TParameter_QAM& table = *GetQAMPara_Handle();
    std::memset(&table, 0xA5, sizeof table);  // stale values everywhere, but mode A kept
    table.Mode[0].value = MODE_QAMA;
    ASSERT_EQ(0u, QAM160T_Init_Parmeter(&table));
    const QamPairs pairs = QAM_PairsOf(table);
    // {address, value} of the 197 used pairs in table order.
    std::vector<Parameter_Common> expected = {{0, 0}, {256, 32}, {258, 0}, {257, 90}, {259, 0}, {260, 0}, {261, 3}};
    for (U32 base : {272u, 304u, 336u, 368u, 400u}) {
        for (U32 group = 0; group < 4; ++group) {
            const U32 value = base == 304 ? 2 : base == 336 ? 6'875'000 : base == 368 ? 2 : 0;
            expected.push_back({base + group, value});
        }
    }
    for (U32 base : {512u, 768u, 1024u, 1280u}) {
        for (U32 channel = 0; channel < 32; ++channel) {
            const U32 value = base == 768 ? (channel < 16 ? 200'000 + 8'000 * channel : 2'000)
                              : base == 1024 ? 9
                              : base == 1280 ? 70
                                             : 0;
            expected.push_back({base + channel, value});
        }
    }
    for (const Parameter_Common& pair : std::initializer_list<Parameter_Common>{
             {0, 0}, {0, 0}, {1792, 0}, {1793, 66}, {2048, 11}, {2128, 1}, {2129, 108}, {2130, 0}, {2131, 0}, {2132, 0}}) {
        expected.push_back(pair);
    }
    for (U32 channel = 0; channel < 32; ++channel) {
        expected.push_back({2133 + channel, 1});
    }
    ASSERT_EQ(kQamUsedPairs, expected.size());
    for (U32 i = 0; i < kQamUsedPairs; ++i) {
        EXPECT_EQ(expected[i].address, pairs[i].address) << "pair " << i;
        EXPECT_EQ(expected[i].value, pairs[i].value) << "pair " << i;
    }
    EXPECT_EQ(0xFFFFFFFFu, pairs[kQamUsedPairs].address);
    for (U32 i = kQamUsedPairs; i < kQamPairs; ++i) {
        EXPECT_EQ(0u, pairs[i].value);
        if (i > kQamUsedPairs) {
            EXPECT_EQ(0u, pairs[i].address);
        }
    }
    // As the parameter file holds it: little-endian pairs, 6,360 bytes.
    std::array<U8, sizeof(TParameter_QAM)> bytes{};
    std::memcpy(bytes.data(), &table, bytes.size());
    EXPECT_EQ(bytes.size(), 6'360u);
    const std::array<U8, 16> head = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 0, 0, 0x20, 0, 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    const std::array<U8, 8> symbolRate = {0x50, 0x01, 0x00, 0x00, 0x78, 0xE7, 0x68, 0x00};  // {336, 6,875,000}
    EXPECT_TRUE(std::equal(symbolRate.begin(), symbolRate.end(), bytes.begin() + 15 * 8));
    const std::array<U8, 8> end = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(end.begin(), end.end(), bytes.begin() + 1576));
}

TEST_F(FactoryDefaultsTest, PowerLevelFollowsTheHardwareVersion) {
    for (U32 version : {0u, 1u, 2u, 7u}) {
        board.reset();
        PowerOn(version);
        TParameter_QAM table{};
        ASSERT_EQ(0u, QAM160T_Init_Parmeter(&table));
        EXPECT_EQ(257u, table.PowerLevel.address);
        EXPECT_EQ(version > 1 ? 102u : 90u, table.PowerLevel.value) << version;
    }
}

TEST_F(FactoryDefaultsTest, KeptModeGroupSettingsAndUsPlan) {
    PowerOn(0);
    const std::array<U32, 16> usPlan = {57000,  63000,  69000,  79000,  85000,  177000, 183000, 189000,
                                        195000, 201000, 207000, 213000, 123000, 129000, 135000, 141000};
    struct Case {
        const char* name;
        U32 storedMode;
        U8 standard;
        U32 mode;
        U32 constellation;
        U32 symbolRate;
        U32 bandwidth;
        bool usPlan;
    };
    const std::vector<Case> cases = {
        {"mode A, DVB", MODE_QAMA, 0, MODE_QAMA, 2, 6'875'000, 2, false},
        {"mode B keeps the US plan", MODE_QAMB, 0, MODE_QAMB, 1, 5'360'537, 0, true},
        {"mode C", MODE_QAMC, 0, MODE_QAMC, 1, 6'875'000, 2, false},
        {"a stored 5 becomes mode A", 5, 0, MODE_QAMA, 2, 6'875'000, 2, false},
        {"mode A under ATSC takes the US plan", MODE_QAMA, 1, MODE_QAMA, 2, 6'875'000, 2, true},
    };
    for (const Case& c : cases) {
        Resource_GetHandle(kBackBoardSlot)->u8Standard = c.standard;
        TParameter_QAM& table = *GetQAMPara_Handle();
        table.Mode[0].value = c.storedMode;
        table.Frequency[20].value = 12345;  // wiped
        ASSERT_EQ(0u, QAM160T_Init_Parmeter(&table)) << c.name;
        EXPECT_EQ(c.standard, table.Standard.value) << c.name;
        for (U32 group = 0; group < 4; ++group) {
            EXPECT_EQ(c.mode, table.Mode[group].value) << c.name;
            EXPECT_EQ(c.constellation, table.Constellation[group].value) << c.name;
            EXPECT_EQ(c.symbolRate, table.SymbolRate[group].value) << c.name;
            EXPECT_EQ(c.bandwidth, table.Bandwidth[group].value) << c.name;
        }
        for (U32 channel = 0; channel < 16; ++channel) {
            EXPECT_EQ(c.usPlan ? usPlan[channel] : 200'000 + 8'000 * channel, table.Frequency[channel].value) << c.name;
        }
        EXPECT_EQ(2'000u, table.Frequency[20].value) << c.name;
    }
    EXPECT_EQ(4u, QAM160T_Init_Parmeter(nullptr));
}

}  // namespace
}  // namespace hx

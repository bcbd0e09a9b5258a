// The board MIB's channel rate status: the 160T's total and effective rates
// from its last status poll, and overflow against the main FPGA's configured
// rate.
#include "web/web_status.h"

#include <gtest/gtest.h>

#include "platform/z160t_status.h"
#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx {
namespace {

// Counts whose kbit/s (count × 1504 / 1000) the cases name.
constexpr U16 k38000Kbps = 25266;
constexpr U16 k1504Kbps = 1000;
constexpr U32 k37240Kbps = 24761;
constexpr U32 k37242Kbps = 24762;
constexpr U32 kFpgaEffective = 5000;  // 7520 kbit/s: not what the MIB reports

class SnmpTsStatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (U32 channel = 0; channel < 16; ++channel) {
            board.fpga160t().SetChannelRates(channel, k38000Kbps, k1504Kbps);
        }
        ASSERT_EQ(10000u, Z160T_UartComm_GetState());
    }
    void TearDown() override { Z160T_ResetStatus(); }

    struct Status {
        U32 total = 0xDEAD;
        U32 effective = 0xDEAD;
        U32 overflow = 0xDEAD;
    };
    static Status Read(U32 channel) {
        Status status;
        Snmp_GetTSStatus(channel, &status.total, &status.effective, &status.overflow);
        return status;
    }

    test::TestEnvironment env;
    test::Sim160TBoard board;
};

TEST_F(SnmpTsStatusTest, ReportsThe160TRatesAndOverflowBeyondNinetyEightPercent) {
    struct Case {
        U32 channel;
        U32 configuredCount;
        U32 overflow;
    };
    const Case cases[] = {
        {0, k37240Kbps, 0},   // 37,240 kbit/s: exactly 98 % of 38,000
        {0, k37242Kbps, 1},   // 37,242 kbit/s
        {7, k37242Kbps, 1},   // an odd channel: the high half of its status word
        {15, k37240Kbps, 0},  // the last channel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << ", count " << c.configuredCount);
        board.fpga().meters().SetChannelCounts(c.channel, c.configuredCount, kFpgaEffective);
        const Status status = Read(c.channel);
        EXPECT_EQ(38000u, status.total);
        EXPECT_EQ(1504u, status.effective) << "the 160T's effective rate, not the FPGA meter's";
        EXPECT_EQ(c.overflow, status.overflow);
    }
}

TEST_F(SnmpTsStatusTest, AChannelThe160TDoesNotReportGivesZeros) {
    // Channel 0 overflows, so an index that wrapped onto it would show.
    board.fpga().meters().SetChannelCounts(0, k37242Kbps, kFpgaEffective);
    for (U32 channel : {16u, 255u, 256u}) {
        SCOPED_TRACE(channel);
        const Status status = Read(channel);
        EXPECT_EQ(0u, status.total);
        EXPECT_EQ(0u, status.effective);
        EXPECT_EQ(0u, status.overflow);
    }
}

}  // namespace
}  // namespace hx

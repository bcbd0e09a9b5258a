// Rates in the web reports: the stream view's total and effective rate and
// overflow flag, the bit report's per-PID rates and continuity counts, read
// from the simulated 160T status and main-FPGA meters, and the LED monitor
// that acts on them.
#include <gtest/gtest.h>

#include <memory>

#include "chassis/ipcomm.h"
#include "engine/output_model.h"
#include "engine/web_report.h"
#include "platform/led.h"
#include "platform/z160t_status.h"
#include "support/ipcomm_recorder.h"
#include "support/model_builder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;

constexpr U16 kChannel = 3;  // odd: the high half of its 160T status words
constexpr U16 kPmtPid = 0x100;
constexpr U16 kVideoPid = 0x102;

// Packet counts per gate whose kbit/s (count × 1504 / 1000) the cases name.
constexpr U32 k38000Kbps = 25266;
constexpr U32 k37240Kbps = 24761;
constexpr U32 k37242Kbps = 24762;

TEST(ChannelOverflowRule, ComparesWithNinetyEightPercentOfTheTotal) {
    struct Case {
        U32 total;
        U32 configured;
        BOOL overflow;
    };
    const Case cases[] = {
        {38000, 37241, 1}, {38000, 37240, 0}, {0, 0, 0}, {0, 1, 1}, {100, 98, 0}, {100, 99, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.overflow, TSP_IsChannelOverflow(c.total, c.configured)) << c.total << " / " << c.configured;
    }
}

class WebReportRatesTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        ts = builder.AddStream(kChannel);
        const U16 program = builder.AddProgram(
            ts, {.sourceSlot = 5, .sourceChannel = 2, .programId = 1, .serviceId = 100, .pmtPid = kPmtPid,
                 .pcrPid = kVideoPid});
        builder.AddPid(PID_TYPE_PCRPID, program, {.key = kVideoPid, .pid = kVideoPid});
        builder.AddPid(PID_TYPE_ESPID, program, {.key = kVideoPid, .pid = kVideoPid, .streamType = 0x1B});
    }

    void TearDown() override { Z160T_ResetStatus(); }

    // The 160T's last status: total and effective packet counts of kChannel.
    static void Set160TCounts(U32 total, U32 effective) {
        g_u32State_Value[kZ160TTotalRateWord + kChannel / 2] = total << 16;
        g_u32State_Value[kZ160TEffectiveRateWord + kChannel / 2] = effective << 16;
    }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models;
    U16 ts = 0;
};

TEST_F(WebReportRatesTest, StreamViewCarriesTheModulatorRatesAndTheOverflowOfTheRoutingTable) {
    struct Case {
        const char* name;
        U32 configuredCount;
        BOOL overflow;
    };
    const Case cases[] = {
        {"routing table at 98 % of the total", k37240Kbps, 0},
        {"routing table beyond 98 % of the total", k37242Kbps, 1},
    };
    Set160TCounts(k38000Kbps, 1000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        board.fpga().meters().SetChannelCounts(kChannel, c.configuredCount, 0);
        auto view = std::make_unique<Output_WebTSInfo>();
        TSP_ModelLock lock;
        ASSERT_EQ(0u, TSP_SendTSInfoToWeb(kChannel, view.get(), TSP_GetTSParam()));
        EXPECT_EQ(38000u, view->u32TotalBitRate);
        EXPECT_EQ(1504u, view->u32EffectiveBitRate);
        EXPECT_EQ(c.overflow, view->bOverFlow);
    }
    auto empty = std::make_unique<Output_WebTSInfo>();
    TSP_ModelLock lock;
    ASSERT_EQ(0u, TSP_SendTSInfoToWeb(kChannel + 1, empty.get(), TSP_GetTSParam()));
    EXPECT_EQ(255, empty->u8ValidFlag);
    EXPECT_EQ(0u, empty->u32TotalBitRate) << "a channel without a stream reports no rates";
}

TEST_F(WebReportRatesTest, BitReportGivesEachPidItsMeterRateAndSevenContinuityBits) {
    Set160TCounts(k38000Kbps, 0);
    board.fpga().meters().SetPidCounts(kChannel, kPmtPid, 10, 0xFFFFFF85u);
    board.fpga().meters().SetPidCounts(kChannel, kVideoPid, 1000, 0);
    board.fpga().meters().SetPidCounts(kChannel + 1, kVideoPid, 5000, 0x7F);  // another channel's meter
    auto report = std::make_unique<Output_WebTSBitInfo>();
    ASSERT_EQ(0u, TSP_SendTSBitInfoToWeb(kChannel, report.get()));
    EXPECT_EQ(38000u, report->u32TotalBitRate);
    ASSERT_EQ(2, report->u16PIDNum);
    EXPECT_EQ(kPmtPid, report->arPIDBitInfo[0].u16PID);
    EXPECT_EQ(15u, report->arPIDBitInfo[0].u32BitRate);
    EXPECT_EQ(5, report->arPIDBitInfo[0].U8CcNum);
    EXPECT_EQ(kVideoPid, report->arPIDBitInfo[1].u16PID);
    EXPECT_EQ(2, report->arPIDBitInfo[1].u16SamePIDNum) << "PCR and video share the PID";
    EXPECT_EQ(1504u, report->arPIDBitInfo[1].u32BitRate);
    EXPECT_EQ(0, report->arPIDBitInfo[1].U8CcNum);
}

// The LED monitor reads its alarms from the stream view: a carried but empty
// channel and an overflowing one each turn the LED red and raise an alarm.
TEST_F(WebReportRatesTest, LedMonitorActsOnTheMeasuredRates) {
    test::ChassisPeers peers;
    struct Case {
        const char* name;
        U32 effectiveCount;
        U32 configuredCount;
        U8 report;
    };
    const Case cases[] = {
        {"carried and flowing", 1000, k37240Kbps, kLedReportNormal},
        {"no effective rate", 132, k37240Kbps, kLedReportAlarm},  // 198 kbit/s
        {"overflow", 1000, k37242Kbps, kLedReportAlarm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set160TCounts(k38000Kbps, c.effectiveCount);
        board.fpga().meters().SetChannelCounts(kChannel, c.configuredCount, 0);
        IPComm_TakeRecordedSends();
        ASSERT_TRUE(LED_MonitorPass());
        const std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
        ASSERT_FALSE(sends.empty());
        EXPECT_EQ(IPCOMM_SEND_INDSTATUS, sends.back().command);
        EXPECT_EQ(std::vector<U8>{c.report}, sends.back().data);
    }
}

}  // namespace
}  // namespace hx

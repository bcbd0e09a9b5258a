// The SI sender stepping through ticks (carousel sends, STT, TDT and TOT with
// the model lock tried) against an apply that empties and refills the
// carousel and changes the PSI interval, and a web thread that rewrites a
// stream's NIT and TOT and applies the temporary model, growing the table
// pool. ThreadSanitizer (./scripts/test's third stage) reports any access the
// model lock and SIMutex do not order.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "core/timer.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_edit.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "si/time_tables.h"
#include "support/model_builder.h"
#include "support/psi_sections.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr U32 kTicks = 600;
constexpr int kTurns = 30;

TEST(CarouselRaceTest, SenderAgainstApplyAndWebEdits) {
    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models({4, 16, 16, 0, 16, 0});
    SSD_ResetForTest();
    std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
    U16 ts = 0;
    {
        TSP_ModelLock lock;
        ts = test::ModelBuilder(TSP_GetTSParam()).AddStream(1);
        TSP_GetTSParam()->pOutputTS[ts].u8TOTGenerate = 1;
        TSP_GetTSParam()->pOutputTS[ts].u8NITGenerate = 1;
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
    }
    g_u32TimerCnt = 0;
    std::atomic<bool> running{true};
    std::atomic<int> applies{0};
    std::atomic<int> edits{0};

    // The sender goes on until every side has had its turns.
    std::thread sender([&] {
        SIPacketSenderState state;
        for (U32 tick = 1; tick <= kTicks || applies.load() < kTurns || edits.load() < kTurns; ++tick) {
            g_u32TimerCnt = tick;
            SIPacket_ServiceStep(state);
        }
        running = false;
    });
    std::thread apply([&] {
        const std::vector<U8> pat = test::LongSection(0x00, 1, 0, 0, 16);
        // Long intervals, so the time tables fall due every few ticks.
        U16 interval = 1000;
        while (running.load()) {
            TSP_ModelLock lock;
            SSD_InitBroadcastSI();
            SSD_AddBroadcastSI(pat.data(), static_cast<U16>(pat.size()), ts, 0);
            TSP_ConstructNIT(ts);
            TSP_SetPSIInterval(interval);
            interval = interval == 1000 ? 5000 : 1000;
            ++applies;
        }
    });
    std::thread web([&] {
        U16 id = 0;
        while (running.load()) {
            ++id;
            TSP_AddNIT_TS(1, id, id);
            TOTTable_t tot{};
            tot.u8SectionLen = 26;
            tot.arstDescInfo.u8DescLen = 13;
            TOTBuf_t buffer{};
            U16 length = 0;
            SIP_ConstructTOT(&tot, 64, buffer.aru8OutputTOTSection, &length);
            TSP_EditTOT_LTODescriptor(1, &buffer);
            TSP_ModelLock lock;
            TSP_CopyOutputTSInfo();
            if (id % 50 == 0) {
                TSP_DelOneNITInfo(ts);
            }
            ++edits;
        }
    });
    sender.join();
    apply.join();
    web.join();
    SSD_ResetForTest();
    EXPECT_GT(board.fpga().siInsertion().Accepted(), 0u);
}

}  // namespace
}  // namespace hx

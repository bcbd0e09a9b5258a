// The QAM and IP-monitor setters in two threads at once: each copies its
// section into the parameter image, computes the CRCs and saves, so the file
// must never hold a section under another state's CRC.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chassis/param_store.h"
#include "core/log.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(ParamStoreRaceTest, ConcurrentSettersNeverSaveARecordUnderAStaleCrc) {
    test::TestEnvironment env;
    env.FailOnUnexpectedErrors();
    log_Init(kMainLogPath);
    test::ResetParameterState();
    test::SimBoard board;
    PARAMS_Factory();
    constexpr int kRounds = 40;
    std::atomic<bool> go{false};
    std::thread qamWriter([&] {
        while (!go) {
        }
        for (int i = 0; i < kRounds; ++i) {
            TParameter_QAM qam = *GetQAMPara_Handle();
            qam.Frequency[0].value = 300000 + static_cast<U32>(i);
            PARAMS_SetQAMParams(&qam);
        }
    });
    std::thread monitorWriter([&] {
        while (!go) {
        }
        for (int i = 0; i < kRounds; ++i) {
            QAM_IPMonitorPara monitor = *GetQAMIPMonitor_Handle();
            monitor.u16DestPort = static_cast<U16>(4000 + i);
            PARAMS_SetIPMonitorParams(&monitor);
        }
    });
    go = true;
    qamWriter.join();
    monitorWriter.join();
    test::ResetParameterState();
    ASSERT_EQ(0u, PARAMS_VerifyConfigFiles());
    ASSERT_EQ(0u, PARAMS_Load());
    ASSERT_EQ(0u, PARAMS_Update_QAM());
    EXPECT_EQ(0, test::LiveMarks({test::MarkedSettings{300000 + kRounds - 1, 4000 + kRounds - 1}}));
}

}  // namespace
}  // namespace hx

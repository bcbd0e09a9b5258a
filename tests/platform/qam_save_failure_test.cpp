// A data partition that takes no writes (full, or mounted read-only): every
// setter of the QAM set and of the IP monitor, and the operations that end in
// them, apply the settings and then report that they could not be saved,
// instead of answering "applied and saved".
//
// The tests run as root, for whom permission bits do not stop a write, so the
// data folder is replaced by a plain file: no file can be created inside it,
// whoever asks.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "core/err.h"
#include "platform/fpga_reg.h"
#include "platform/ip_monitor.h"
#include "platform/network.h"
#include "platform/qam.h"
#include "platform/qam_apply.h"
#include "support/param_files.h"
#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx {
namespace {

class QamSaveFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ResetParameterState();
        ASSERT_EQ(0u, PARAMS_Factory());
        *scratch = *live;
    }
    void TearDown() override {
        if (std::filesystem::is_regular_file(folder)) {
            Writable();
        }
        test::ResetParameterState();
    }

    void ReadOnly() {
        std::filesystem::rename(folder, folder + ".kept");
        env.WriteText("/vandik_data", "not a folder");
    }
    void Writable() {
        std::filesystem::remove(folder);
        std::filesystem::rename(folder + ".kept", folder);
    }

    test::TestEnvironment env;
    test::Sim160TBoard board;
    const std::string folder = env.Path("/vandik_data");
    TParameter_QAM* live = GetQAMPara_Handle();
    TParameter_QAM* scratch = GetQAMParaTmp_Handle();
    QAM_IPMonitorPara* monitor = GetQAMIPMonitor_Handle();
};

struct SetterCase {
    const char* name;
    std::function<U32(TParameter_QAM* live, TParameter_QAM* scratch, QAM_IPMonitorPara* monitor)> set;
    // The settings hold what was set, in the live records and in the image of
    // the file.
    std::function<bool(const TParameter_QAM& live, const QAM_IPMonitorPara& monitor)> holds;
};

TEST_F(QamSaveFailureTest, EverySetterAndItsCallersReportTheFailedSaveAndKeepTheValues) {
    const std::vector<SetterCase> cases = {
        {"PARAMS_SetQAMParams",
         [](TParameter_QAM* table, TParameter_QAM*, QAM_IPMonitorPara*) {
             table->Frequency[1].value = 321000;
             return PARAMS_SetQAMParams(table);
         },
         [](const TParameter_QAM& table, const QAM_IPMonitorPara&) {
             return table.Frequency[1].value == 321000 &&
                    g_stCurPE.st_QAMParams.stQAM160TParams.Frequency[1].value == 321000;
         }},
        {"PARAMS_SetIPMonitorParams",
         [](TParameter_QAM*, TParameter_QAM*, QAM_IPMonitorPara* record) {
             record->u16DestPort = 4321;
             return PARAMS_SetIPMonitorParams(record);
         },
         [](const TParameter_QAM&, const QAM_IPMonitorPara& record) {
             return record.u16DestPort == 4321 && g_stCurPE.st_IPMonitorParams.stIPMonitorParams.u16DestPort == 4321;
         }},
        {"QAM160T_ParamsProcess",
         [](TParameter_QAM* table, TParameter_QAM* old, QAM_IPMonitorPara*) {
             *old = *table;
             table->Frequency[0].value = 474000;
             return QAM160T_ParamsProcess(old, table);
         },
         [](const TParameter_QAM& table, const QAM_IPMonitorPara&) {
             return table.Frequency[0].value == 474000 &&
                    g_stCurPE.st_QAMParams.stQAM160TParams.Frequency[0].value == 474000;
         }},
        {"QAM_SetSingleMode",
         [](TParameter_QAM*, TParameter_QAM*, QAM_IPMonitorPara*) { return QAM_SetSingleMode(1); },
         [](const TParameter_QAM& table, const QAM_IPMonitorPara&) {
             return table.SingleMode.value == 1 && g_stCurPE.st_QAMParams.stQAM160TParams.SingleMode.value == 1;
         }},
        {"SetQAM_IPMonitor",
         [](TParameter_QAM*, TParameter_QAM*, QAM_IPMonitorPara* record) {
             record->u8Enable = 1;
             record->u32DestIPAddr = 0xE1010203;
             return SetQAM_IPMonitor(record);
         },
         [](const TParameter_QAM&, const QAM_IPMonitorPara& record) {
             return record.u32DestIPAddr == 0xE1010203 &&
                    g_stCurPE.st_IPMonitorParams.stIPMonitorParams.u32DestIPAddr == 0xE1010203;
         }},
        {"IPconfig_SetIP1",
         [](TParameter_QAM*, TParameter_QAM*, QAM_IPMonitorPara* record) {
             record->u32IP1 = 0x7F000055;
             return IPconfig_SetIP1();
         },
         [](const TParameter_QAM&, const QAM_IPMonitorPara& record) {
             return record.u32IP1 == 0x7F000055 && g_stCurPE.st_IPMonitorParams.stIPMonitorParams.u32IP1 == 0x7F000055;
         }},
    };
    const std::vector<U8> before = test::ReadBytes(kQamParamFilePath);
    for (const SetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        ReadOnly();
        EXPECT_EQ(static_cast<U32>(VK_ERR_FAILURE), c.set(live, scratch, monitor));
        EXPECT_TRUE(c.holds(*live, *monitor)) << "the applied values stay in force";
        Writable();
        EXPECT_EQ(before, test::ReadBytes(kQamParamFilePath)) << "the old file is untouched";
    }

    // Writable again, the same calls answer "applied and saved".
    for (const SetterCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " on a writable partition");
        EXPECT_EQ(static_cast<U32>(VK_SUCCESS), c.set(live, scratch, monitor));
    }
    test::ResetParameterState();
    ASSERT_EQ(0u, PARAMS_VerifyConfigFiles());
    ASSERT_EQ(0u, PARAMS_Load());
    ASSERT_EQ(0u, PARAMS_Update_QAM());
    for (const SetterCase& c : cases) {
        EXPECT_TRUE(c.holds(*live, *monitor)) << c.name << ": saved once the partition takes writes";
    }
}

TEST_F(QamSaveFailureTest, TheModulatorStillGetsAnEditWhoseSaveFails) {
    ReadOnly();
    *scratch = *live;
    live->Frequency[2].value = 555000;
    EXPECT_EQ(static_cast<U32>(VK_ERR_FAILURE), QAM160T_ParamsProcess(scratch, live));
    EXPECT_EQ(555000u, board.fpga160t().ParameterMap().at(768 + 2)) << "the 160T runs the edit";
}

}  // namespace
}  // namespace hx

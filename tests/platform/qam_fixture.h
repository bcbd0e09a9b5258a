// The QAM parameter set on the simulated board with its 160T loaded, for the
// tests of the set-up, the applies and the status poll.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "platform/qam.h"
#include "platform/qam_defaults.h"
#include "sim/fpga160t.h"
#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx::test {

// The simulated board with a loaded 160T, the live table at factory values
// and the scratch table a copy of it, as a setter leaves them before an edit.
class QamTest : public ::testing::Test {
protected:
    void SetUp() override {
        QAM160T_Init_Parmeter(live);
        *scratch = *live;
        QAM_SetSaveObserver([this](const TParameter_QAM& table) { saved.push_back(table); });
    }
    void TearDown() override {
        std::memset(live, 0, sizeof *live);
        std::memset(scratch, 0, sizeof *scratch);
    }

    // What a setter does: keep the old values, edit the live table, apply.
    template <typename Edit>
    U32 ApplyEdit(Edit edit) {
        *scratch = *live;
        edit(*live);
        return QAM160T_ParamsProcess(scratch, live);
    }

    std::vector<int> Commands() {
        std::vector<int> commands;
        for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
            commands.push_back(frame.command);
        }
        return commands;
    }

    void ExpectSimulatorMapHoldsUsedPairs() {
        const std::map<U32, U32> map = fpga160t.ParameterMap();
        const QamPairs pairs = QAM_PairsOf(*live);
        for (U32 i = 0; i < kQamUsedPairs; ++i) {
            const auto it = map.find(pairs[i].address);
            ASSERT_NE(map.end(), it) << "pair " << i;
            EXPECT_EQ(pairs[i].value, it->second) << "pair " << i;
        }
    }

    TestEnvironment env;
    Sim160TBoard board;
    sim::Fpga160T& fpga160t = board.fpga160t();
    TParameter_QAM* live = GetQAMPara_Handle();
    TParameter_QAM* scratch = GetQAMParaTmp_Handle();
    std::vector<TParameter_QAM> saved;
};

}  // namespace hx::test

// A fresh simulated board for the platform tests: temporary data root, virtual
// clock, the simulated main FPGA on the register window, and the module
// records of the status, resource, chassis, QAM and serial modules back at
// their start values.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "core/err.h"
#include "platform/chassis_info.h"
#include "platform/fpga_reg.h"
#include "platform/mdio.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "platform/uart_comm.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx::test {

class BoardStateTest : public ::testing::Test {
protected:
    BoardStateTest() {
        // The module code under test runs in the test's thread; its waits
        // (MAC word gap, strobes, retries) only need to add up.
        env_.clock().SetAutoAdvance(true);
        PowerOn();
        Resource_Reset();
        ChassisInfo_Reset();
        UartComm_Close();
        Mdio_SetBus(nullptr);
        *GetQAMPara_Handle() = TParameter_QAM{};
        *GetQAMIPMonitor_Handle() = QAM_IPMonitorPara{};
        err_SetLanguage(EN_LANGUAGE_EN);
    }
    ~BoardStateTest() override {
        UartComm_Close();
        Mdio_SetBus(nullptr);
        err_SetLanguage(EN_LANGUAGE_EN);
    }

    // A freshly powered simulated board (FPGA_Init), built from the run
    // profile as it stands.
    void PowerOn() {
        board_.reset();
        board_ = std::make_unique<SimBoard>();
    }
    sim::MainFpga& Fpga() { return board_->fpga(); }

    // Changes the run profile of this test.
    template <typename Change>
    void EditProfile(Change change) {
        RunProfile profile = Profile();
        change(profile);
        SetProfile(profile);
    }

    U32 Reg(U32 index) {
        U32 value = 0xDEADBEEF;
        REG_Read(index, &value);
        return value;
    }

    TestEnvironment env_;
    std::unique_ptr<SimBoard> board_;  // detached before env_ goes
};

}  // namespace hx::test

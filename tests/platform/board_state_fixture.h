// A fresh simulated board for the platform tests: temporary data root, virtual
// clock, mapped register window, and the module records of the status,
// resource, chassis, QAM and serial modules back at their start values.
#pragma once

#include <gtest/gtest.h>

#include "core/err.h"
#include "platform/chassis_info.h"
#include "platform/fpga_reg.h"
#include "platform/mdio.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "platform/uart_comm.h"
#include "support/test_env.h"

namespace hx::test {

class BoardStateTest : public ::testing::Test {
protected:
    BoardStateTest() {
        // The module code under test runs in the test's thread; its waits
        // (MAC word gap, strobes, retries) only need to add up.
        env_.clock().SetAutoAdvance(true);
        FPGA_Init();
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
};

}  // namespace hx::test

// The simulated board powered on inside a TestEnvironment: FPGA_Init attaches
// a fresh simulated main FPGA (and installs the GPIO model); the destructor
// detaches it, so a later test starts with the window unmapped.
//
// Construct it after the TestEnvironment and after any change of the run
// profile that the board should see.
#pragma once

#include <memory>

#include "sim/main_fpga.h"

namespace hx::test {

class SimBoard {
public:
    SimBoard();
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    sim::MainFpga& fpga() { return *fpga_; }

private:
    std::shared_ptr<sim::MainFpga> fpga_;
};

}  // namespace hx::test

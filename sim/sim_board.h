// Power-on of the simulated board: what the register window attaches on the
// simulated profile (REG_Map). Builds a fresh simulated main FPGA from the run
// profile and installs the GPIO model with the profile's pin levels.
#pragma once

#include <memory>

#include "sim/main_fpga.h"

namespace hx::sim {

std::shared_ptr<MainFpga> SimBoard_PowerOn();

}  // namespace hx::sim

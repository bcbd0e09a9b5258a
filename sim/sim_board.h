// Power-on of the simulated board, and its wiring into the platform's seams.
//
// SimBoard_Install hands the simulated hardware to the card code, which never
// includes the simulator: the register window (REG_Map) then powers on a
// fresh simulated main FPGA, built from the run profile with the GPIO model
// installed at the profile's pin levels and the back board's FTP service
// (sim/ftp_service.h) answering ftpget and ftpput, and the SSH service
// (sim/ssh_service.h) answering its init script and "ps", stopped; PHY_Init reaches two
// simulated PHYs; a network interface whose address file is missing gets one. The program's
// start-up installs it on the simulated profile, before start-up runs; test
// environments install it for their lifetime. SimBoard_Uninstall gives the
// seams back their card back ends. Neither may run while another thread uses
// the seams.
#pragma once

#include <memory>

#include "sim/main_fpga.h"

namespace hx::sim {

std::shared_ptr<MainFpga> SimBoard_PowerOn();

void SimBoard_Install();
void SimBoard_Uninstall();

}  // namespace hx::sim

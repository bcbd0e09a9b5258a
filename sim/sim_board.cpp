#include "sim/sim_board.h"

#include "platform/fpga_reg.h"
#include "platform/mdio.h"
#include "platform/network.h"
#include "sim/ftp_service.h"
#include "sim/gpio_model.h"
#include "sim/sim_network.h"
#include "sim/sim_phy.h"
#include "sim/ssh_service.h"

namespace hx::sim {

namespace {

std::shared_ptr<RegisterBus> PowerOnBus() { return SimBoard_PowerOn(); }

std::unique_ptr<MdioBus> MakePhys() { return std::make_unique<SimMdioBus>(); }

}  // namespace

std::shared_ptr<MainFpga> SimBoard_PowerOn() {
    GpioModel_Install(GpioModel_FromProfile());
    SimFtp_Install();
    SimSsh_Install();
    return std::make_shared<MainFpga>(MainFpgaConfig_FromProfile());
}

void SimBoard_Install() {
    REG_SetBusSource(PowerOnBus);
    Mdio_SetBusSource(MakePhys);
    Network_SetInterfaceSource(SimNetwork_CreateInterface);
}

void SimBoard_Uninstall() {
    REG_SetBusSource(nullptr);
    Mdio_SetBusSource(nullptr);
    Network_SetInterfaceSource(nullptr);
}

}  // namespace hx::sim

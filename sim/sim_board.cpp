#include "sim/sim_board.h"

#include "sim/gpio_model.h"

namespace hx::sim {

std::shared_ptr<MainFpga> SimBoard_PowerOn() {
    GpioModel_Install(GpioModel_FromProfile());
    return std::make_shared<MainFpga>(MainFpgaConfig_FromProfile());
}

}  // namespace hx::sim

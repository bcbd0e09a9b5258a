#include "support/sim_board.h"

#include <stdexcept>

#include "platform/fpga_reg.h"

namespace hx::test {

SimBoard::SimBoard() {
    FPGA_Init();
    fpga_ = std::dynamic_pointer_cast<sim::MainFpga>(REG_GetBus());
    if (!fpga_) {
        throw std::logic_error("FPGA_Init did not attach the simulated main FPGA (is the profile the sim one?)");
    }
}

SimBoard::~SimBoard() { REG_AttachBus(nullptr); }

}  // namespace hx::test

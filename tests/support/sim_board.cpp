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

std::ostream& operator<<(std::ostream& out, const RegisterStep& step) {
    return out << "{" << step.index << ", 0x" << std::hex << step.value << std::dec << ", @" << step.atMicros << "}";
}

std::vector<RegisterStep> WriteSequence(sim::MainFpga& fpga, const std::function<void()>& action) {
    fpga.TakeWriteLog();
    fpga.StartWriteLog();
    action();
    fpga.StopWriteLog();
    const std::vector<sim::RegisterWrite> writes = fpga.TakeWriteLog();
    std::vector<RegisterStep> steps;
    for (const sim::RegisterWrite& write : writes) {
        steps.push_back({write.index, write.value, write.micros - writes.front().micros});
    }
    return steps;
}

}  // namespace hx::test

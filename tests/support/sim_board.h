// The simulated board powered on inside a TestEnvironment: FPGA_Init attaches
// a fresh simulated main FPGA (and installs the GPIO model); the destructor
// detaches it, so a later test starts with the window unmapped.
//
// Construct it after the TestEnvironment and after any change of the run
// profile that the board should see.
//
// WriteSequence runs an action with the simulated FPGA's write log on and
// gives back its writes with their virtual times, so tests compare whole
// register sequences, waits included, against a table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

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

// A write as the sequence tables state it: register, value, and the virtual
// time since the sequence's first write.
struct RegisterStep {
    U32 index;
    U32 value;
    std::uint64_t atMicros;
    bool operator==(const RegisterStep&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RegisterStep& step);

// The writes `action` makes to `fpga` (earlier logged writes are dropped).
std::vector<RegisterStep> WriteSequence(sim::MainFpga& fpga, const std::function<void()>& action);

}  // namespace hx::test

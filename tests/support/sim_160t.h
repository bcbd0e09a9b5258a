// The simulated board with its 160T loaded and the command link set up, for
// tests of the link and of the QAM parameter set: FPGA_Init attaches a fresh
// simulated main FPGA, a four-byte bitstream goes through the configuration
// port (so the UART hook lets the 160T talk), and Z160T_UART_Init resets the
// sequence counter and the FIFOs. The 160T's status and the QAM module's
// flags start clear.
//
// Construct it after the TestEnvironment.
#pragma once

#include "sim/fpga160t.h"
#include "sim/main_fpga.h"
#include "support/sim_board.h"

namespace hx::test {

// Loads the simulated 160T through the configuration port; true when done.
bool Load160T();

class Sim160TBoard {
public:
    // `load`: false leaves the 160T unconfigured (silent).
    explicit Sim160TBoard(bool load = true);
    ~Sim160TBoard();
    Sim160TBoard(const Sim160TBoard&) = delete;
    Sim160TBoard& operator=(const Sim160TBoard&) = delete;

    sim::MainFpga& fpga() { return board_.fpga(); }
    sim::Fpga160T& fpga160t() { return board_.fpga().fpga160t(); }

private:
    SimBoard board_;
};

}  // namespace hx::test

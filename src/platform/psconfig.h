// Loading the 160T FPGA from the bitstream held inside the program, through
// the main FPGA's configuration port (registers 192-196, platform/fpga_reg.h).
//
// Called once by start-up in the main thread, before anything talks to the
// 160T. Each port word goes through the window under g_reg_mutex; the polls
// wait through TheClock().
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kQamBitstreamSize = 6'692'688;

enum PSConfResult : U32 {
    PSCONF_OK = 0,
    PSCONF_ERROR = 1,        // the port reported an error
    PSCONF_TIMEOUT = 2,      // not ready within 100 ms, or not done within 1 s
    PSCONF_BAD_INPUT = 4,    // null data, length 0, or a target other than 1
};

// Configures the target FPGA (1 = the 160T) from `data`: starts a load (192 =
// 1), waits for ready, writes the length (194) and the bytes four at a time
// (195, first byte in bits 31-24, the last word zero-padded), pulses the end
// strobe (196 = 0, 1, 0) and waits for done or error; the port is released
// (192 = 0) whatever the outcome.
U32 PSConf_FWConfigGeneralFPGA32Bit(const U8* data, U32 length, U32 target);

}  // namespace hx

// The bitstream, embedded at build time.
extern "C" const hx::U8 qam_data_array[];

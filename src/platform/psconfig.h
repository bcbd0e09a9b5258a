// Loading the 160T FPGA from the bitstream held inside the program.
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kQamBitstreamSize = 6'692'688;

// Configures the target FPGA (1 = the 160T) from `data`; 0 on success.
U32 PSConf_FWConfigGeneralFPGA32Bit(const U8* data, U32 length, U32 target);

}  // namespace hx

// The bitstream, embedded at build time.
extern "C" const hx::U8 qam_data_array[];

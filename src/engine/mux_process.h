// The apply pipeline: conflict resolution, routing tables to the FPGA, PSI/SI
// regeneration, model file saved. Holds the model lock throughout (the
// pipeline re-enters it when its caller already holds it).
#pragma once

#include "core/types.h"

namespace hx {

// 0, or the first failing step's code with the later steps not run. An apply
// refused before the routing download (resolution, either table build)
// leaves the live model exactly as it was; a failed register write fails the
// apply with the write's code.
U32 TSP_MuxProcess();

}  // namespace hx

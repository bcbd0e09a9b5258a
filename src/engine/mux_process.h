// The apply pipeline: conflict resolution, routing tables to the FPGA, PSI/SI
// regeneration, model file saved. Holds the model lock throughout (the
// pipeline re-enters it when its caller already holds it).
#pragma once

#include "core/types.h"

namespace hx {

// 0, or the first failing step's code with the later steps not run.
U32 TSP_MuxProcess();

}  // namespace hx

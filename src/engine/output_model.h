// The output model: output streams, programs, PIDs, SI tables, descriptors and
// pass-through streams in index-linked record pools; a live instance and a
// temporary copy for web edits.
#pragma once

#include "core/types.h"

namespace hx {

struct Output_TSInfo;

Output_TSInfo* TSP_GetTSParam();
Output_TSInfo* TSP_GetTempTSParam();
// First valid stream of the live model on that output channel, 0xFFFF when none.
U32 TSP_GetOutputTSIndexByTS(U16 u16Channel, U16* pu16TSIndex);

}  // namespace hx

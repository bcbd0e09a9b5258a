// The temporary model and the two copies between it and the live model.
//
// Callers: the web application — the list request refreshes the temporary
// copy (TSP_InitOutputTempTSInfo, then TSP_CopyOutputTempTSInfo), the apply
// and the NIT requests copy it over the live model (TSP_CopyOutputTSInfo).
// Each takes the model lock.
//
// Both copies make the destination an exact image of the source's TS,
// program, PID, table and descriptor pools (the pass-through pool is never
// copied): the refresh gives the temporary pools the live counts; the apply
// first grows a live pool that is smaller than the temporary one and zeroes
// live records beyond the temporary count, which would otherwise stay valid
// and routed yet on no reachable chain. Every resize happens before the first
// record is copied; a failed allocation copies nothing (0xC0016). A temporary
// model not filled from the live one since its pools were made copies nothing
// (0xC0000), so an apply before the first refresh cannot wipe the live model.
#pragma once

#include "core/types.h"

namespace hx {

// Every temporary pool takes the live pool's count and is zeroed. 0 or 0xC0016
// (the temporary model then as it was).
U32 TSP_InitOutputTempTSInfo();
// The live pools into the temporary ones. 0 or 0xC0016.
U32 TSP_CopyOutputTempTSInfo();
// The temporary pools over the live ones. 0, 0xC0000 or 0xC0016.
U32 TSP_CopyOutputTSInfo();

}  // namespace hx

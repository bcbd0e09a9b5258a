// Record initialisers: turn a record copied from a message (or a zeroed one)
// into a fresh model record — version 0, in use, chains empty, counts 0.
//
// Callers: the input messages, the lookups that create a stream, the
// pass-through operations. They work on the caller's record (usually a local
// copy), so they need no lock. Each returns 0, or 0xC0000 for a null record.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// Counts 0; chain heads and the six table heads 0xFFFF; PAT, SDT and CAT
// versions and change flags 0; modulation mode 4; the PAT, PMT, CAT, SDT, TDT,
// MGT, VCT and STT generate switches on.
U32 TSP_InitOneOutputTSStream(Output_TSStream* pstOutputTS);
// Links 0xFFFF, counts 0, PMT version and change flag 0; output service ID,
// PCR PID and PMT PID from the input ones; an ATSC major or minor number above
// 1023 becomes 2; service type 2 in ATSC mode.
U32 TSP_InitOneOutputTSProgram(Output_TSProgram* pstOutputProgram);
// Links 0xFFFFFFFF (ES-info descriptor 0xFFFF), ES-ECM count 0, output PID
// from the input PID.
U32 TSP_InitOneOutputTSPID(Output_TSPID* pstOutputPID);
// TS, program, own and next indices 0xFFFF.
U32 TSP_InitOneOutputTSDescriptor(TSDescriptor* pstDescriptor);
U32 TSP_InitOneOutputBypassTS(Passthrough_TSStream* pstBypassTS);

}  // namespace hx

// Removing records from the output model while keeping every chain, count and
// change flag consistent.
//
// Two faces:
//   - by input source: the delete orders of the input cards and the clearing
//     of one input slot name what to remove by its input key. They work on
//     the live model (taking the model lock), raise the PSI change flags of
//     what they touch and zero an output stream once nothing is left in it;
//   - by index, in a model the caller passes (and holds the lock for): one
//     PID, descriptor, program, table chain or a whole stream, cascading
//     downwards, raising no change flag.
//
// Freeing a record zeroes it (ModelPool_FreeRecord). A pass that removes
// several records of one chain from a list collected before it marks each
// removed record by setting its own-index field to 0xFFFF, so the pass skips it
// when it looks for a live predecessor. No operation rolls back: what was
// removed before a failure stays removed. A count already 0 is never
// decremented (0xC0017); an index read from a record is followed only below
// its pool's count, and a descriptor is freed through its owner only when it
// names that owner back.
//
// Codes: 0xC0000 bad input, 0xC0002 PID not in its stream's chain, 0xC0008
// walker limit or link out of range, 0xC0017 missing record or count at 0,
// 2054 predecessor failures.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// Delete orders and slot clearing (live model).
U32 TSP_DelTSInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID);
U32 TSP_DelProgramInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID);
U32 TSP_DelPIDInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16PIDID,
                          U8 u8PIDFilterFlag);
U32 TSP_DelDescriptorInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID);
// Frees every PID record of one live program (PCR, program-level ECMs, ESs
// with their ES-level ECMs and ES-info descriptor records); the program's own
// heads and counts stay for its caller, which frees the program.
U32 TSP_DelAllPIDsInOneProgram(U16 u16ProgramIndex);
// Single removals of the input path (any model; zero and mark).
U32 TSP_DelOneOutputOtherPID(U16 u16OutTSIndex, U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOneOutputEMMPID(U16 u16OutTSIndex, U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOneOutputESPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOneOutputESECMPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOneOutputPSECMPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);

// Removal by index.
U32 TSP_DelOutputPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputDescriptor(U16 u16OutDescIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputEsDescriptor(U16 u16OutDescIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputProg(U16 u16OutProgIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputNitTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputBATTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputTOTTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputOtherNitTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);
U32 TSP_DelOutputOtherSdtTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);
// Frees the NIT, BAT, TOT, other-NIT and other-SDT chains of an empty stream
// (the TDT chain stays); a stream that is not empty is left alone.
U32 TSP_DelOutputTsTable(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS);
// The whole stream record; for the web channel deletion.
U32 TSP_DelOutputTS(U16 u16OutTSIndex, Output_TSInfo* pstParamTS);

// Predecessor of a record in its chain, 0xFFFF when it is the first.
U32 TSP_GetPrevOutputPIDIndex(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevPIDIndex);
U32 TSP_GetPrevOutputDescIndex(U16 u16OutDescIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevDescIndex);
U32 TSP_GetPrevOutputProgIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevProgIndex);

// True when the stream has no program, other PID or EMM PID.
bool TSP_IsOutputTSEmpty(const Output_TSStream& ts);

}  // namespace hx

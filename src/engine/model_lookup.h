// Lookups in the output model: a stream by output channel, a pass-through
// record by source, a program or PID by its input key, and the destination of
// a stream.
//
// Callers: the input messages and delete orders, slot bookkeeping, the LED
// monitor, the web pages. The lookups without a model argument search the live
// model and take the model lock themselves; all of them need it held across
// any use of the index they return.
//
// Each gives the first valid record in pool order that matches, or 0xFFFF,
// with result 0; a null out-pointer gives 0xC0000. Programs and PIDs are found
// through the key index (engine/model_state.h), which gives the same record.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// First valid stream of the live model on that output channel.
U32 TSP_GetOutputTSIndexByTS(U16 u16Channel, U16* pu16TSIndex);
// As TSP_GetOutputTSIndexByTS, but a missing stream is created in the first
// free slot: initialised, network, transport stream and original network IDs 0,
// on the asked channel. Growth failures pass up.
U32 TSP_GetOutputTSIndexByPID(U16 u16Channel, U16* pu16TSIndex);
// Pass-through record of a source slot and channel in the live model.
U32 TSP_GetOutputBypassTSIndex(U8 u8SourceSlotID, U16 u16SourceChannelID, U16* pu16Index);
// Program by (source slot, source channel, output channel, program ID).
U32 TSP_GetOutputProgramIndexByPID(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID,
                                   U16* pu16ProgramIndex);
// PID by (source slot, source channel, output channel, key): an ES-level ECM
// matches on u16ESECMPIDIndex, every other type on u16PIDID.
U32 TSP_GetOutputPIDIndexByPID(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16PIDID,
                               U16* pu16PIDIndex);
// Destination slot and channel of a valid stream of `model`; 0xC0000 for an
// index out of range, a stream not in use or a slot above 16.
U32 TSP_GetDestInfoByOutTSIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U8* pu8SlotID, U16* pu16Channel);

// The first valid stream of any model on that channel, 0xFFFF when none.
U16 ModelLookup_StreamOfChannel(const Output_TSInfo* model, U16 channel);

}  // namespace hx

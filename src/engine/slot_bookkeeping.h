// Slot bookkeeping: which input slots feed the live model, clearing what one
// slot put there, telling input cards to clear or to drop an output channel,
// and the per-channel status bytes of the board's resource record.
//
// Callers: the inter-board dispatcher (265 clear input, 264 send over, the
// resource record), the parameter store (factory reset) and the web requests
// that clear the configuration or one channel. Each function takes the model
// lock to read or change the model and releases it before any message goes
// to another board, so they must be called without it (checked in the
// sanitizer builds).
#pragma once

#include <atomic>

#include "core/types.h"

namespace hx {

// Delete-destination-channel notices (2068) sent and not yet answered by an
// apply command (271) from an input card. Counted up here before each notice
// goes out (and down again when it fails), counted down by the inter-board
// dispatcher, waited on by the web request that clears one channel.
extern std::atomic<U8> g_DelDestChannelNum;

// Removes from the live model, stream by stream, the other and EMM PIDs and
// then the programs whose own source slot is `u8Slot`, stopping at the first
// failure; then runs the apply pipeline, the resource update and the EIT list
// and saves the model file, failure or not. Returns the removal failure, else
// the apply pipeline's result; 0xC0000 for a slot above 16.
U32 ClearOneSlotInfoFromInput(U8 u8Slot);
// Sends the clear-output command (266) once to every input slot that feeds the
// live model (programs, PIDs, pass-through sources), never to this board's own
// slot. 0, or the first failed send's code (the other slots are still sent to).
U32 TSP_SendClearCmd();
// Each output channel's status byte (0 no stream, 1 pass-through, 2 multiplexed)
// into au8ChannelStatus of the own resource record; when one changed, the
// record goes to the back board (slot 16) with command 257. 0 or the send's code.
U32 TSP_UpdateResourceInfo();
// For the channel's stream in the live model, tells each distinct source slot
// (the pass-through source, or the sources of its programs, EMM PIDs and
// other PIDs) but this board's own to drop the channel (command 2068, the channel as a
// little-endian u32) when its board is plugged in or it is slot 16, counting
// g_DelDestChannelNum; a slot whose board is gone is cleared from the model at
// once. A failed send ends the walk with its code. 0 without sending when the
// channel has no stream. For the web channel deletion.
U32 TSP_SendDelDestChannelNumToInputBoard(U16 u16Channel);

}  // namespace hx

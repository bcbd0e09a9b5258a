// SI packet carousel: queued PSI/SI sections sent to the FPGA on every tick.
//
// SIMutex serialises the SI packet pool between the table builders (in the
// caller's thread) and the SI packet sender thread. It is statically
// initialised: start-up's first apply uses it before SIP_Init starts the sender.
#pragma once

#include <mutex>

#include "core/types.h"

namespace hx {

extern std::mutex SIMutex;

// Starts the tick timer and the SI packet sender thread.
U32 SIP_Init();
// Empties the broadcast SI store (under SIMutex).
void SSD_InitBroadcastSI();

}  // namespace hx

// Serial link to the back board ("/dev/ttyPS1", 115200 8N1): network settings
// at start-up and error-code reports.
#pragma once

#include "core/types.h"

namespace hx {

void UartComm_init();
// Asks the back board for the network settings; falls back to built-in
// addresses after its retries. Start-up goes on whatever it returns.
U32 UartComm_GetIpAddr(U32 u32Slot);
U32 UartComm_SendErrorCodeToBB(U32 u32ErrCode);

}  // namespace hx

// Serial link to the back board ("/dev/ttyPS1" on the card, 115200 8N1 raw):
// the network settings at start-up and the error-code reports. Frames are
// those of serial_frame.h.
//
// Called from start-up and from the threads that report failures to the back
// board. One exchange (a request and its answer) runs at a time under
// s_UartCommMutex, which also guards the open descriptor; the lock is not held
// between the retries. Waits for an answer last the run profile's read
// time-out; the pauses between retries sleep through TheClock().
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kUartGetIpTries = 50;
constexpr std::uint64_t kUartGetIpGapMicros = 10'000;
constexpr U32 kUartErrorCodeTries = 72;

// Opens the run profile's serial device (a logical path) and sets it to
// 115200 8N1 raw. 0, or 1 (logged) when it cannot be opened or is no terminal;
// every exchange then fails at once.
U32 UartComm_init();
// Closes the device (tests, and before opening it again).
void UartComm_Close();

// Unless the back board has answered before, asks it for the network
// settings and applies them: back-board address, own address, netmask,
// gateway, and the clock when the answer carries one; sets the IP-request
// flag; 0. Settings that fail IPconfig_IsValidSettings count as a failed
// exchange. After 50 failed exchanges, 10 ms apart, logs "Uart Comm Error!",
// takes the run profile's fallback addresses (own = base + slot) and returns 2.
U32 UartComm_GetIpAddr(U32 u32Slot);

// Reports an error code to the back board, sending it again until the back
// board acknowledges that code, at most 72 times. 0, or 1283 after the last
// unanswered send.
U32 UartComm_SendErrorCodeToBB(U32 u32ErrCode);

}  // namespace hx

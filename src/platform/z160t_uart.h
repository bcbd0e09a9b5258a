// Byte level of the command link to the 160T FPGA: the register UART that the
// main FPGA exposes (registers 32-43, platform/fpga_reg.h), and the link's
// lock.
//
// Receive: 37 bit 0 reads 1 while the receive FIFO is empty, 35 holds the next
// byte, 34 written 1 then 0 pops it. Transmit: 43 bit 0 reads 1 while the
// transmit FIFO is full, 42 takes the byte, 41 pulsed 0, 1, 0 sends it. Every
// register word goes through REG_Read/REG_Write; every wait through
// TheClock().
//
// Callers: the frame and exchange layer (platform/z160t_link.h,
// platform/z160t_status.h) in the thread of whoever commands the 160T (start-
// up, web, SNMP, the status poll).
//
// Lock: ReadWrite_Mutex, the link's one lock. It is held across a whole
// exchange (a command and its acknowledgement, a request and its reply) and
// across a parameter burst from START to END, so no other thread's frame falls
// in between; it is recursive so that a burst, or a caller grouping several
// exchanges under Z160TLinkGuard, can run exchanges that take it again. It is
// taken after the QAM apply lock (platform/qam_apply.h), never before it.
//
// Results of this layer are its own: 10000 is success, 10001-10005 failures;
// its callers test for 10000. Each message it logs ends with a line feed, so
// consecutive failures are lines of their own on the console.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>

#include "core/types.h"

namespace hx {

enum Z160TUartResult : U32 {
    VK_160TUART_SUCCESS = 10000,
    VK_160TUART_ERROR_PARAMS = 10001,
    VK_160TUART_ERROR_DATA = 10002,
    VK_160TUART_TIME_OUT = 10003,
    VK_160TUART_DATA_NULL = 10004,
    VK_160TUART_MALLOC_ERROR = 10005,
};

// Transmit time-out of a frame write, in 1 ms polls of a full FIFO.
constexpr U32 kZ160TWriteTimeout = 500;
// Pops of one clear before it gives up on a FIFO that keeps filling.
constexpr U32 kZ160TClearLimit = 1024;
// Empty polls of the reader: 100 in each phase, 5 ms apart for the header
// and 500 µs apart for the payload.
constexpr U32 kZ160TReadPolls = 100;
constexpr std::uint64_t kZ160THeaderPollMicros = 5'000;
constexpr std::uint64_t kZ160TPayloadPollMicros = 500;

// Sets up the link: its lock, the sequence counter (the first frame carries
// 1) and the serial FIFOs (FPGA_UART_Init). Start-up step 9. 10000.
U32 Z160T_UART_Init();

// The link's lock (ReadWrite_Mutex). Z160T_Lock_Init has nothing to create,
// the mutex being static, and is kept for start-up's order.
void Z160T_Lock_Init();
std::recursive_mutex& Z160T_LinkMutex();
using Z160TLinkGuard = std::lock_guard<std::recursive_mutex>;

// Pops received bytes until the FIFO is empty, 100 µs after each; stops after
// 1,024 with "Read Uart Data More Than 1024 " (INFO).
void UART_Clear();

// Sends the bytes; each full-FIFO poll waits 1 ms and uses one unit of
// `u32TimeOut`. 10000, or 10003 ("Write Data Time Out. ") when it is used up
// with bytes left.
U32 UART_WriteData(std::span<const U8> data, U32 u32TimeOut = kZ160TWriteTimeout);

// Reads one frame into `buffer`: the 8-byte head, then the declared data and
// the 4 CRC bytes. *pu32Length gets the frame's size. 10000; 10003 when 100
// polls of either phase found the FIFO empty; 10002 for a head word other
// than 0x47474747, a declared length of 245 or more, or a frame that would
// not fit `buffer`. The FIFO is cleared after every failure. The CRC is not
// checked here.
U32 UART_ReadData(std::span<U8> buffer, U32* pu32Length);

}  // namespace hx

// Exchanges of the 160T command link on top of the register UART
// (platform/z160t_uart.h) and the frame (platform/z160t_frame.h): the
// acknowledged command, the unacknowledged request, the register reads and
// writes of the 160T and of its AD9119 DAC, switching the RF output off, and
// the parameter burst.
//
// Callers: the QAM parameter set (platform/qam_apply.h, platform/qam.h) in
// the start-up, web and SNMP threads, and the status poll
// (platform/z160t_status.h) in its own thread.
//
// Lock: every exchange holds ReadWrite_Mutex (Z160T_LinkMutex) from its first
// byte written to its reply read, so another thread's frame never falls
// between a command and its acknowledgement; a burst holds it from START to
// END. u8CommOrder changes only under it.
//
// Results: 10000 success, 10001-10005 (platform/z160t_uart.h).
#pragma once

#include <atomic>
#include <span>

#include "core/types.h"
#include "platform/qam_params.h"
#include "platform/z160t_frame.h"

namespace hx {

// Sequence number of the last acknowledged command sent. The values run
// 1 .. 254, 0, 1, ...; 255 is never sent.
extern std::atomic<U8> u8CommOrder;
// Moves u8CommOrder on and returns the new value (call under the link lock).
U8 Z160T_NextCommOrder();

// Pause between writing a command and reading its acknowledgement, and after
// an acknowledged one.
constexpr std::uint64_t kZ160TAckWaitMicros = 100'000;
constexpr std::uint64_t kZ160TAfterAckMicros = 1'000;
// Pause between writing a register read and reading its reply.
constexpr std::uint64_t kZ160TReadWaitMicros = 10'000;
// The ack's data: its last byte (frame byte 11) is 0xFF.
constexpr std::size_t kZ160TAckByte = 11;
constexpr U8 kZ160TAckValue = 0xFF;

// One acknowledged command with {address, value}, one try, the receive FIFO
// cleared before the frame goes out (so a late answer to an earlier command
// is never taken for this one's): 10000 when the
// reply has the right header, command, sequence and 0xFF at byte 11; else
// 10003 after "160T Uart Recv Ack Error" and "160T Uart Send Para Time Out"
// (and "... ACK Fail...." first when a reply came that does not match), the
// receive FIFO cleared.
U32 Z160T_UART_SendData(U8 cmd, U32 address, U32 value);

// An unacknowledged request: sequence 0, no data; written, then 1 ms. 10000.
U32 Z160T_UART_SendStateCmd(U8 cmd);

// Checks a received frame as the status and register replies are checked:
// 10000 with the frame decoded, or 10002 after "... Receive Uart Data Len
// Error..." or "... Receive Uart CRC Error...".
U32 Z160T_CheckReply(std::span<const U8> bytes, Z160T_UART_CMD& reply);

// 160T registers (WRITEFPGA 11, READFPGA 12) and DAC registers (WRITE9119 14,
// READ9119 15). The writes are acknowledged commands. A read sends sequence
// 0 with the register as data, waits 10 ms and reads the reply: 10000 with
// *value set when it is a good frame of the same command with a data word;
// else 10002 and *value untouched. A null value gives 10004.
U32 Z160T_UartComm_WriteFPGA(U32 reg, U32 value);
U32 Z160T_UartComm_ReadFPGA(U32 reg, U32* value);
U32 Z160T_UartComm_Write9119(U32 reg, U32 value);
U32 Z160T_UartComm_Read9119(U32 reg, U32* value);

// RF output off: WRITEFPGA register 21 = 1, then RESET9119 {0, 0}. 10000 or
// the first failure.
U32 Z160T_UartComm_DisableRF();

// One parameter burst: START {0, 0}, PARAMETERS for every pair, END with the
// last pair ({0, 0} when there is none). Every frame is sent whatever the
// earlier ones got; 10000 only when all were acknowledged, else the first
// failure. A null list logs "Input Parameter is NULL. " and gives 10004,
// nothing sent.
U32 UartComm_WriteMulti(const Parameter_Common* pairs, U32 count);

}  // namespace hx

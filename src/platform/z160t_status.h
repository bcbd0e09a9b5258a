// The 160T's status: one poll over the command link, the words of the last
// reply, the temperature with its flag, and the over-temperature guard that
// switches the RF output off.
//
// Callers: the status poll thread (platform/qam_poll.h) polls; the web report
// builders and the SNMP agent read the words and the record from their own
// threads.
//
// Shared state: g_u32State_Value and stQAMStatus are written by the poll and
// read by other threads; every word is an atomic, so a reader sees each word
// whole (the words of one reply are not a snapshot as a set). The exchange
// holds the link lock (platform/z160t_uart.h); the guard runs after it is
// released, since switching the RF off sends commands of its own.
#pragma once

#include <array>
#include <atomic>
#include <span>

#include "core/types.h"

namespace hx {

// The reader takes at most 244 data bytes: 61 words.
constexpr U32 kZ160TStateWords = 61;
constexpr U32 kZ160TTemperatureWord = 48;
constexpr U32 kZ160TTotalRateWord = 16;      // 16-23: total rates, two channels a word
constexpr U32 kZ160TEffectiveRateWord = 32;  // 32-39: effective rates
// Up to this many degrees the 160T is normal.
constexpr U32 kZ160TWarmLimit = 69;
// Above this many degrees the RF output is switched off.
constexpr U32 kZ160THotLimit = 73;
// The warm warning is logged on the first warm poll and every 100th after.
constexpr U32 kZ160TWarmLogEvery = 100;

extern std::array<std::atomic<U32>, kZ160TStateWords> g_u32State_Value;

// Last 160T status.
struct TQAM_Status {
    std::atomic<U32> u32Temperature{0};      // degrees C
    std::atomic<U32> u32TemperatureFlag{0};  // 0 normal, 1 over 70 degrees
};
extern TQAM_Status stQAMStatus;

// The record; never null. For the web pages and the SNMP agent.
TQAM_Status* Z160T_Get_Status();

// Checks a received status reply (Z160T_CheckReply) and, when it is a STATUS
// reply, copies its u16Length / 4 words into g_u32State_Value (*pu32Words
// gets how many). 10000; 10002 for a bad length or CRC, nothing changed; a
// reply of another command is ignored: 10000, nothing copied.
U32 Z160T_UartComm_ParseData(std::span<const U8> bytes, U32* pu32Words = nullptr);

// One poll: clear the receive FIFO, send STATUS unacknowledged, read and parse
// the reply; then, when it carried the temperature, the guard. 10000 or the
// failing step's code (10002, 10003).
U32 Z160T_UartComm_GetState();

// The guard over a temperature: up to 69 the flag is 0 ("Temperature is 0"
// at INFO only for 0); 70 to 73 the flag is 1, with "Temperature is over 70
// degree" at INFO on the first such poll and every 100th; above 73 the flag
// is 1, the RF output is switched off and "Temperature is over 74 degree" is
// logged at WARNING.
void Z160T_TemperatureGuard(U32 u32Temperature);

// For tests: forget the status and the warning count.
void Z160T_ResetStatus();

}  // namespace hx

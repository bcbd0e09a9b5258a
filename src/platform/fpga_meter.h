// The main FPGA's rate meters: the per-channel rate meter (configured and
// effective packet counts) and the PID meter (packet and continuity-error
// counts of one PID of one channel).
//
// Callers: the web report builders and the SNMP agent (their own threads), the
// IP monitor set-up. A meter is read by selecting a channel or PID in one
// register and reading the count from another, so two readers interleaving
// their steps would read each other's counts: every select-to-read sequence
// holds g_meter_mutex (taken before g_reg_mutex, which each word still takes).
// Waits go through TheClock().
#pragma once

#include <mutex>

#include "core/types.h"

namespace hx {

// Held by every meter sequence from its first select to its last read; the IP
// monitor set-up takes it around its 833/834 writes.
extern std::mutex g_meter_mutex;

constexpr U32 kRateMeterGate = 135'000'000;

// Counts of 188-byte packets to kbit/s: count × 1504 / 1000 in unsigned 32-bit
// arithmetic, as the meters' consumers have always computed it.
constexpr U32 FPGA_MeterCountToKbps(U32 count) { return count * 1504u / 1000u; }

// 834 = gate, 5 µs, 839 = channel, 5 µs, reads 840 (configured) and 841
// (effective). 0; VK_ERR_PARAMS for a null pointer (no register touched).
U32 FPGA_GetChannelBitRate(U16 u16Channel, U32* pu32LUTBitRate, U32* pu32EffBitRate);

// 833 = channel, 834 = gate, 836 = PID, each followed by 5 µs; reads 837, 5 µs,
// reads 838. Rate from 837, continuity count = 838 & 0x7F. 0; 0xC0000 for a
// null pointer (no register touched).
U32 FPGA_GetPIDBitInfo(U16 u16Channel, U16 u16PID, U32* pu32BitRate, U8* pu8CcNumber);

// Register 835 = 0, 1, 0 with 5 µs between. For the web PID page.
void FPGA_ClearPIDCc();

}  // namespace hx

// One output channel's rate status for the board MIB: the 160T's total and
// effective rate and the overflow flag against the main FPGA's configured
// (routing-table) rate.
//
// Caller: the SNMP agent thread (baseInfoTable). It takes no lock of its own:
// the 160T status words are atomics written by the status poll, and the meter
// sequence holds g_meter_mutex (platform/fpga_meter.h).
#pragma once

#include "core/types.h"

namespace hx {

// Rates in kbit/s from the last 160T status; *pu32Overflow is 1 when the
// configured rate exceeds 98 % of the total (TSP_IsChannelOverflow), else 0.
// A channel the 160T does not report (above 15) gives zeros, and the meters
// are not touched. Null outputs are ignored.
void Snmp_GetTSStatus(U32 u32Channel, U32* pu32TotalBitRate, U32* pu32EffectiveBitRate, U32* pu32Overflow);

}  // namespace hx

// Register and debug wrappers of the web application's engineering pages:
// the 160T's registers and PID continuity counters, the AD9119 DAC's
// registers, the main FPGA's registers by index, the main FPGA's PID counters
// and the console dumps of the routing tables.
//
// Caller: the HTTP server thread. No lock of their own: each register access
// takes its link's or the register window's lock for itself. The results of
// the operations are not passed on: the pages show what the value holds.
#pragma once

#include "core/types.h"

namespace hx {

void Web_Read160TFPGA(U32 u32Register, U32* pu32Value);
void Web_Write160TFPGA(U32 u32Register, U32 u32Value);
// The 160T's continuity counter of one PID (channel 8 bits, PID 16 bits).
void Web_Get160TPIDCc(U32 u32Channel, U32 u32Pid, U16* pu16Count);
void Web_Clear160TPIDCc();

// The main FPGA's PID continuity counters cleared.
void Web_ClearPIDCc();

// The mux and bypass routing tables printed on the console.
void Web_DebugPrintMuxLUT();
void Web_DebugPrintBypassLUT();

void Web_ReadAD9119Reg(U32 u32Register, U32* pu32Value);
void Web_WriteAD9119Reg(U32 u32Register, U32 u32Value);

// Main FPGA register by index.
void web_REG_Read_fortest(U32 u32Register, U32* pu32Value);
void web_REG_Write_fortest(U32 u32Register, U32 u32Value);

// The SSH service started ("/etc/init.d/dropbear start") when `u32Switch` is
// 1, stopped otherwise; then 1 s for the service to come up or go.
void Web_ConnectService(U32 u32Switch);
// 1 when the process list shows a dropbear process (a line naming "dropbear"
// that is not a grep's), else 0 (also when "ps" cannot run).
void Web_GetConnectService(U32* pu32State);
// Flags the data partition for erasure at the next start
// ("/vandik_data/EraseDataMtd.flag"), synced, when the board's erase script
// "/vandik_app/app/EraseDataMtd.sh" exists; else logs its absence and does
// nothing. The start-up scripts erase the partition, not this program.
void Web_EraseData();

}  // namespace hx

// The main FPGA's network block: the Ethernet PHY reset line, the MAC address
// registers of both ports, the own-address filter and the IP0 stream set-up.
//
// Callers: the own resource record at start-up (eth0's MAC), the network
// set-up (PHY reset at start-up, eth1's MAC with the IP monitor port) and the
// QAM start-up send (FPGA_Set_IP0), in the main thread or the inter-board
// server thread. Each register word goes through the window under
// g_reg_mutex; the waits go through TheClock().
#pragma once

#include "core/types.h"

namespace hx {

// Port selected by the low byte of ETHType: 0 eth0 (265/266), else eth1
// (521/522). Writes the high word (bytes 0-2), waits 20 ms, writes the low
// word (bytes 3-5). A null address is logged and nothing is written.
void FPGA_SetMacAddr(const U8* u8MacAddr, U32 ETHType);

// Register 256 = 1, 0, 1, each followed by 200 ms.
void FPGA_PhyReset();

// Register 269 = the address (host order, first octet in the top byte).
void FPGA_setIP0Filter(U32 u32Addr);

// Programs the IP0 stream with the own address of the resource record (305 =
// 1, 308 = 7, 289 = 0, 290 = 1234, 291 = address), restarts it (288 held at 1
// for 1 s, then 0, then 10 ms), then sets up the second port and the IP
// monitor (IPconfig_SetIP1) and returns its result.
U32 FPGA_Set_IP0();

}  // namespace hx

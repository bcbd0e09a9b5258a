// IP monitor output: one output channel copied as a UDP multicast stream out of
// the second Ethernet port (eth1), set up through main-FPGA registers 523-547,
// 565, 833, 834 and 845 (platform/fpga_reg.h).
//
// Called by the web application (HTTP thread) and by the eth1 set-up
// (IPconfig_SetIP1, start-up and the inter-board server thread). The settings
// record is the live one of qam_params.h (no lock, like the other live
// records); the meter registers 833/834 are written under g_meter_mutex
// (platform/fpga_meter.h), so a concurrent meter sequence never sees another
// channel selected.
#pragma once

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

constexpr U16 kIPMonitorSourcePort = 1234;

// The defaults: off, channel 0, 227.10.20.90:1234, 40 Mbit/s, second-MAC
// flag off, PSI interval 100 ms; the second MAC and the eth1 address stay as
// they are. Neither sends nor saves. Null logs and does nothing.
void Init_IPMonitor_Parmeter(QAM_IPMonitorPara* pstIPMonitor);
inline void Init_IPMonitor_Parmeter() { Init_IPMonitor_Parmeter(GetQAMIPMonitor_Handle()); }

// Applies the settings to the main FPGA and saves them (a disabled monitor is
// stopped and saved too, so a restart keeps it off). 0; 1 when applied but the
// parameter file could not be written; 4 for null.
U32 SetQAM_IPMonitor(QAM_IPMonitorPara* pstIPMonitor);

// Register 546 for a multicast group: 01:00:5E and the group's low 23 bits,
// of which this register takes the second octet's low 7 bits.
U32 IPMonitor_MacWord(U32 u32GroupIP);

}  // namespace hx

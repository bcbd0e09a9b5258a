// IP monitor output settings: the factory defaults of the live record.
#pragma once

#include "platform/qam_params.h"

namespace hx {

// Writes the IP monitor defaults into `pstIPMonitor`: output off, channel 0,
// destination 227.10.20.90 port 1234, at most 40 Mbit/s, PSI interval 100 ms.
// The second MAC address and the monitor port's own address keep what they
// hold. A null record is left alone.
void Init_IPMonitor_Parmeter(QAM_IPMonitorPara* pstIPMonitor);

}  // namespace hx

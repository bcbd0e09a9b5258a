#include "platform/ip_monitor.h"

namespace hx {

void Init_IPMonitor_Parmeter(QAM_IPMonitorPara* pstIPMonitor) {
    if (pstIPMonitor == nullptr) {
        return;
    }
    pstIPMonitor->u8Enable = 0;
    pstIPMonitor->u8Channel = 0;
    pstIPMonitor->u16DestPort = 1234;
    pstIPMonitor->u32DestIPAddr = 0xE30A145A;  // 227.10.20.90
    pstIPMonitor->u16IP1MaxRate = 40;
    pstIPMonitor->u8Mac1LicFlag = 0;
    pstIPMonitor->u16PSIInterval = 100;
}

}  // namespace hx

#include "platform/ip_monitor.h"

#include <mutex>

#include "chassis/param_store.h"
#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "platform/fpga_meter.h"
#include "platform/fpga_reg.h"

namespace hx {

namespace {

constexpr std::uint64_t kStrobeStepMicros = 10'000;
constexpr double kRateScale = 22180.85;  // Mbit/s -> the output's rate-limit word

// The FPGA takes one address word per strobe; it needs 10 ms per edge.
void Strobe() {
    for (U32 level : {0u, 1u, 0u}) {
        REG_Write(kRegMonitorStrobe, level);
        TheClock().SleepMicros(kStrobeStepMicros);
    }
}

}  // namespace

void Init_IPMonitor_Parmeter(QAM_IPMonitorPara* pstIPMonitor) {
    if (pstIPMonitor == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Para is NULL\n\n");
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

U32 IPMonitor_MacWord(U32 u32GroupIP) { return 0x01005E00u | ((u32GroupIP >> 16) & 0x7F); }

U32 SetQAM_IPMonitor(QAM_IPMonitorPara* pstIPMonitor) {
    if (pstIPMonitor == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Para is NULL\n\n");
        return VK_ERR_PARAMS;
    }
    const QAM_IPMonitorPara settings = *pstIPMonitor;
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM,
           "u3Enable = %u u8Channel = %u u32DestIPAddr = 0x%x u16DestPort = %u BitRate = %u\n\n", settings.u8Enable,
           settings.u8Channel, settings.u32DestIPAddr, settings.u16DestPort, settings.u16IP1MaxRate);

    REG_Write(kRegMonitorStop, 0);
    REG_Write(kRegMonitorSourceIp, settings.u32IP1);
    REG_Write(kRegMonitorSourcePort, kIPMonitorSourcePort);
    if (settings.u8Enable == 0) {
        REG_Write(kRegMonitorStop, 1);
    } else {
        REG_Write(kRegMonitorMode, kMonitorModeDestination);
        REG_Write(kRegMonitorData, settings.u32DestIPAddr);
        Strobe();
        REG_Write(kRegMonitorMode, kMonitorModeMacAndPort);
        REG_Write(kRegMonitorMac, IPMonitor_MacWord(settings.u32DestIPAddr));
        REG_Write(kRegMonitorData, settings.u32DestIPAddr << 16 | settings.u16DestPort);
        Strobe();
        {
            std::lock_guard meter(g_meter_mutex);
            REG_Write(kRegPidMeterChannel, settings.u8Channel);
            REG_Write(kRegRateMeterGate, kRateMeterGate);
        }
        const float rate = settings.u16IP1MaxRate;
        REG_Write(kRegMonitorMaxRate, static_cast<U32>(static_cast<double>(rate) * kRateScale));
    }
    // Saved in both states: a monitor switched off stays off after a restart.
    return PARAMS_SetIPMonitorParams(&settings);
}

}  // namespace hx

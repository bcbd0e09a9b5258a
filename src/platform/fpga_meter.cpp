#include "platform/fpga_meter.h"

#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "platform/fpga_reg.h"

namespace hx {

std::mutex g_meter_mutex;

namespace {

constexpr U32 kMeterSettleMicros = 5;
constexpr U32 kNullPointerResult = 0xC0000;

void Settle() { TheClock().SleepMicros(kMeterSettleMicros); }

}  // namespace

U32 FPGA_GetChannelBitRate(U16 u16Channel, U32* pu32LUTBitRate, U32* pu32EffBitRate) {
    if (pu32LUTBitRate == nullptr || pu32EffBitRate == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    U32 configured = 0;
    U32 effective = 0;
    {
        std::lock_guard meter(g_meter_mutex);
        REG_Write(kRegRateMeterGate, kRateMeterGate);
        Settle();
        REG_Write(kRegChannelMeterChannel, u16Channel);
        Settle();
        REG_Read(kRegChannelMeterConfigured, &configured);
        REG_Read(kRegChannelMeterEffective, &effective);
    }
    *pu32LUTBitRate = FPGA_MeterCountToKbps(configured);
    *pu32EffBitRate = FPGA_MeterCountToKbps(effective);
    return VK_SUCCESS;
}

U32 FPGA_GetPIDBitInfo(U16 u16Channel, U16 u16PID, U32* pu32BitRate, U8* pu8CcNumber) {
    if (pu32BitRate == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "pu32BitRate is null\r\n\n");
        return kNullPointerResult;
    }
    if (pu8CcNumber == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "pu8CcNumber is null\r\n\n");
        return kNullPointerResult;
    }
    U32 count = 0;
    U32 continuity = 0;
    {
        std::lock_guard meter(g_meter_mutex);
        REG_Write(kRegPidMeterChannel, u16Channel);
        Settle();
        REG_Write(kRegRateMeterGate, kRateMeterGate);
        Settle();
        REG_Write(kRegPidMeterPid, u16PID);
        Settle();
        REG_Read(kRegPidMeterCount, &count);
        Settle();
        REG_Read(kRegPidMeterCc, &continuity);
    }
    *pu32BitRate = FPGA_MeterCountToKbps(count);
    *pu8CcNumber = static_cast<U8>(continuity & 0x7F);
    return VK_SUCCESS;
}

void FPGA_ClearPIDCc() {
    REG_Write(kRegPidCcClear, 0);
    Settle();
    REG_Write(kRegPidCcClear, 1);
    Settle();
    REG_Write(kRegPidCcClear, 0);
}

}  // namespace hx

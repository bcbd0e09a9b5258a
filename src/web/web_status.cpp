#include "web/web_status.h"

#include "core/err.h"
#include "engine/web_report.h"
#include "platform/fpga_meter.h"
#include "platform/qam.h"

namespace hx {

void Snmp_GetTSStatus(U32 u32Channel, U32* pu32TotalBitRate, U32* pu32EffectiveBitRate, U32* pu32Overflow) {
    if (pu32TotalBitRate == nullptr || pu32EffectiveBitRate == nullptr || pu32Overflow == nullptr) {
        return;
    }
    *pu32TotalBitRate = 0;
    *pu32EffectiveBitRate = 0;
    *pu32Overflow = 0;
    // The 160T reports channels 0-15 only; a wider index must not wrap onto one of them.
    if (u32Channel > 0xFF) {
        return;
    }
    U32 total = 0;
    U32 effective = 0;
    if (GetChannel_BiteRate(static_cast<U8>(u32Channel), &total, &effective) != VK_SUCCESS) {
        return;
    }
    U32 configured = 0;
    U32 fpgaEffective = 0;
    FPGA_GetChannelBitRate(static_cast<U16>(u32Channel), &configured, &fpgaEffective);
    *pu32TotalBitRate = total;
    *pu32EffectiveBitRate = effective;
    *pu32Overflow = TSP_IsChannelOverflow(total, configured);
}

}  // namespace hx

#include "web/web_accessors.h"

#include <cstring>

#include "chassis/ipcomm_messages.h"
#include "chassis/param_store.h"
#include "engine/web_report.h"
#include "platform/board.h"
#include "platform/gpio.h"
#include "platform/qam.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "platform/z160t_status.h"
#include "si/si_packet.h"

namespace hx {

TQAM_Status* Web_GetStatus() { return Z160T_Get_Status(); }

U32 Web_GetTSStatus(U32 u32Channel, Output_WebTSBitInfo* pstBitInfo) {
    return TSP_SendTSBitInfoToWeb(static_cast<U16>(u32Channel), pstBitInfo);
}

U32 Web_SetFactory() { return PARAMS_WEB_Factory(WEB_SET_FACTORY); }

U32 Web_GetMac1Address(U8* pu8Mac) {
    const QAM_IPMonitorPara* monitor = GetQAMIPMonitor_Handle();
    if (monitor == nullptr || pu8Mac == nullptr) return 1;
    std::memcpy(pu8Mac, monitor->aru8Mac1, sizeof(monitor->aru8Mac1));
    return 0;
}

U32 Web_Reboot() { return BMN_SubBoardReboot(); }

void Web_GetPSIInterval(U16* pu16Interval) { TSP_GetPSIInterval(pu16Interval); }

void Web_SetPSIInterval(U32 u32Interval) { TSP_SetPSIInterval(static_cast<U16>(u32Interval)); }

TResource_TS* Web_GetResourceHandle() { return Resource_getSelfHandle(); }

U8 Web_GetOutputChannelNum() { return static_cast<U8>(BMN_GetOutputChannelNum()); }

U32 web_GetSelfBoardDescriptor(U8* pu8Descriptor) {
    return Resource_getBoardDescriptor(Status_GetSlotID(), pu8Descriptor);
}

U8 Web_GetSIMode() { return Resource_GetSIMode(); }

U8 Web_GetPowerLevelType() { return PIN_GetHWVerSion() > 1 ? 1 : 0; }

void Web_SetSingleMode(U32 u32Mode) { QAM_SetSingleMode(static_cast<U8>(u32Mode)); }

U8 web_IsAllBoardSupportDelChannelProg() { return Resource_IsAllBoardSupportDelChannelProg(); }

}  // namespace hx

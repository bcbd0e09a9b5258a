// The web application's way into the output model (web/web_model.h).
#include "web/web_model.h"

#include "chassis/ipcomm_messages.h"
#include "chassis/param_store.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "engine/web_edit.h"

namespace hx {

U32 Web_GetTSWebInfo(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo) {
    TSP_ModelLock lock;
    return TSP_SendTSInfoToWeb(u16Channel, pstWebTSInfo, TSP_GetTSParam());
}

U32 Web_GetProgramInfoToWeb(U16 u16Channel, U16 u16ServiceId, Output_WebProgramInfo* pstWebProgramInfo) {
    TSP_ModelLock lock;
    return TSP_SendProgramInfoToWeb(u16Channel, u16ServiceId, pstWebProgramInfo, TSP_GetTSParam());
}

U32 Web_GetTempTSWebInfo(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo) {
    TSP_ModelLock lock;
    return TSP_SendTSInfoToWeb(u16Channel, pstWebTSInfo, TSP_GetTempTSParam());
}

U32 Web_GetTempProgramInfoToWeb(U16 u16Channel, U16 u16ServiceId, Output_WebProgramInfo* pstWebProgramInfo) {
    TSP_ModelLock lock;
    return TSP_SendProgramInfoToWeb(u16Channel, u16ServiceId, pstWebProgramInfo, TSP_GetTempTSParam());
}

U32 Web_ModifyTSWebInfo(Output_WebTSInfo* pstWebTSInfo, U8* pu8ConflictFlag) {
    return TSP_ModifyTSInfoByWeb(pstWebTSInfo, pu8ConflictFlag);
}

U32 Web_ModifyProWebInfo(U16 u16Channel, Output_WebProgramInfo* pstWebProgramInfo, U8* pu8ConflictFlag) {
    return TSP_ModifyProgramInfoByWeb(u16Channel, pstWebProgramInfo, pu8ConflictFlag);
}

U32 Web_MuxProcess() {
    const U32 copied = TSP_CopyOutputTSInfo();
    if (copied != 0) {
        return copied;
    }
    IPComm_SendEITInfo();
    return TSP_MuxProcess();
}

U32 Web_ClearTS() {
    return PARAMS_WEB_Factory(WEB_CLEAR_TS);
}

}  // namespace hx

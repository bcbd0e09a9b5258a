#include "engine/web_report.h"

#include <cstring>

#include "core/standin.h"

namespace hx {

U32 TSP_SendTSInfoToWeb(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo, Output_TSInfo*) {
    if (pstWebTSInfo == nullptr) {
        return 0xC0000;
    }
    std::memset(pstWebTSInfo, 0, sizeof *pstWebTSInfo);
    pstWebTSInfo->u8ValidFlag = 255;
    pstWebTSInfo->u16Channel = u16Channel;
    return 0;
}

U32 TSP_SendTSBitInfoToWeb(U16, Output_WebTSBitInfo* pstBitInfo) {
    if (pstBitInfo == nullptr) {
        return 0xC0000;
    }
    std::memset(pstBitInfo, 0, sizeof *pstBitInfo);
    pstBitInfo->u8ValidFlag = 255;
    return 0;
}

}  // namespace hx

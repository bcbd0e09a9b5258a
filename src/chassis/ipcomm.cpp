#include "chassis/ipcomm.h"

#include <mutex>
#include <utility>

#include "core/err.h"
#include "core/standin.h"

namespace hx {

namespace {

std::mutex g_sendMutex;
std::vector<IPCommRecordedSend> g_sends;
U32 g_failCode = 0;
U32 g_failCount = 0;

S32 RecordSend(U32 slot, U32 command, const U8* data, U32 length) {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "send to slot %u: command %u, %u bytes (recorded)\n", slot, command, length);
    std::lock_guard lock(g_sendMutex);
    if (g_failCount > 0) {
        --g_failCount;
        return static_cast<S32>(g_failCode);
    }
    g_sends.push_back(IPCommRecordedSend{slot, command, std::vector<U8>(data, data + (data ? length : 0))});
    return 0;
}

}  // namespace

U32 IPServer_Start() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

U32 IPComm_SendResourceToBb() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

S32 IPComm_SendData2Slot(U32 u32Slot, U32 u32cmd, const U8* u8Data, U32 u32DataLen) {
    if (u8Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Input Param NULL\n");
        return VK_ERR_PARAMS;
    }
    return RecordSend(u32Slot, u32cmd, u8Data, u32DataLen);
}

S32 IPComm_SendCmd2Slot(U32 u32Slot, U32 u32cmd) { return RecordSend(u32Slot, u32cmd, nullptr, 0); }

S32 IPComm_SendClearCmd2Slot(U8 u8Slot) { return IPComm_SendCmd2Slot(u8Slot, 266); }

U32 IPComm_SendEITInfo() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

std::vector<IPCommRecordedSend> IPComm_TakeRecordedSends() {
    std::lock_guard lock(g_sendMutex);
    return std::exchange(g_sends, {});
}

void IPComm_FailNextSends(U32 code, U32 count) {
    std::lock_guard lock(g_sendMutex);
    g_failCode = code;
    g_failCount = code == 0 ? 0 : count;
}

}  // namespace hx

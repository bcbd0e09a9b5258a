#include "platform/resource.h"

#include <cstring>

#include "core/run_profile.h"
#include "core/standin.h"
#include "platform/qam_params.h"

namespace hx {

namespace {

TResource_TS g_resources[kResourceRecords];
U32 g_slotId = 0;

}  // namespace

void Status_Init() {
    HX_STANDIN(LOG_MODULE_SYS);
    g_slotId = Profile().simSlotId & 0xF;
}

U32 Status_GetSlotID() { return g_slotId; }

U8 Status_GetIPReqflag() { return 0; }

void Resource_Init() {
    HX_STANDIN(LOG_MODULE_SYS);
    TResource_TS& self = g_resources[g_slotId];
    self.u8SlotID = static_cast<U8>(g_slotId);
    self.u8BoardType = kQamBoardType;
    self.u16OutputChannelNum = 16;
    std::strncpy(reinterpret_cast<char*>(self.au8BoardDescriptor), "QAM Board", sizeof self.au8BoardDescriptor);
}

TResource_TS* Resource_getSelfHandle() { return &g_resources[g_slotId]; }

TResource_TS* Resource_GetHandle(U32 slot) { return slot < kResourceRecords ? &g_resources[slot] : nullptr; }

U8 Resource_GetSIMode() { return GetQAMPara_Handle()->Standard.value == 1 ? 1 : 0; }

}  // namespace hx

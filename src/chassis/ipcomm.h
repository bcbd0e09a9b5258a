// Inter-board link: the server on port 8000 and the messages to other boards.
//
// Until the transport is built, the senders record what they would send (in
// order, logged) and can be told to fail, so callers and their tests run.
#pragma once

#include <vector>

#include "core/types.h"

namespace hx {

U32 IPServer_Start();
U32 IPComm_SendResourceToBb();

S32 IPComm_SendData2Slot(U32 u32Slot, U32 u32cmd, const U8* u8Data, U32 u32DataLen);
S32 IPComm_SendCmd2Slot(U32 u32Slot, U32 u32cmd);
S32 IPComm_SendClearCmd2Slot(U8 u8Slot);
U32 IPComm_SendEITInfo();

struct IPCommRecordedSend {
    U32 slot;
    U32 command;
    std::vector<U8> data;
};
// The sends recorded so far, oldest first; taking clears them.
std::vector<IPCommRecordedSend> IPComm_TakeRecordedSends();
// The next `count` sends fail with `code` (0 stops failing).
void IPComm_FailNextSends(U32 code, U32 count = 1);

}  // namespace hx

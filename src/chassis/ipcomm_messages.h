// Messages this board originates on the inter-board link, and the board actions
// that go with them: the resource announcement to the back board, the EIT list
// to the EIT board, upgrade progress, taking over network settings, the clear
// order to input cards, and both reboot paths.
//
// Run in the caller's thread (start-up, the inter-board server thread, the HTTP
// thread, the output engine, the upgrade reporter); state stays on the stack.
// Retries sleep through TheClock().
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kAnnounceSends = 21;

U32 IPComm_SendResourceToBb();
U32 IPComm_SendEITInfo();
U32 IPComm_SendUpProFlagToBackBoard(U8* OldFlag);
U32 IPComm_ChangeIP(U32 u32slot, const U8* pu8Data);
S32 IPComm_SendClearCmd2Slot(U8 u8Slot);
U32 IPComm_SendRebootSubCmd();
void IPComm_RecycleBeforeReboot();
U32 IPComm_RebootSubboard();
// Reboot ordered from the web: the back board is asked first; only after its
// success reply is the board prepared and rebooted.
U32 BMN_SubBoardReboot();

}  // namespace hx

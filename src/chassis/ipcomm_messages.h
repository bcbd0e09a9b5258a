// Messages this board originates on the inter-board link, and the board actions
// that go with them: the resource announcement to the back board, the EIT list
// to the EIT board, upgrade progress, taking over network settings, the clear
// order to input cards, and both reboot paths.
//
// Run in the caller's thread (start-up, the inter-board server thread, the HTTP
// thread, the output engine, the upgrade reporter); state stays on the stack.
// The one exception is the announcement that follows new network settings
// (514), which runs in a worker thread of its own (see IPComm_ChangeIP).
// Retries sleep through TheClock(). The EIT list is read under the model lock
// and sent after it is released, so IPComm_SendEITInfo must be called without
// the lock (the sanitizer builds abort otherwise). Host commands (reboot
// preparation, reboot) go through the command runner.
#pragma once

#include "chassis/upgrade.h"
#include "core/types.h"

namespace hx {

constexpr U32 kAnnounceSends = 21;

// The own resource record to the back board (257): 21 sends at most, the
// second at once, 1 s after each later one; the last error then goes over the
// serial line. When the serial request for network settings had failed it is
// made once more first. Always 0.
U32 IPComm_SendResourceToBb();
// The EIT list (278) and then 279 to the EIT board; nothing without one. 0 or
// the failing send's code.
U32 IPComm_SendEITInfo();
// The progress record (3847) when its step differs from *OldFlag, which then
// takes it; repeats as the resource record, and a report that cannot be
// delivered clears u8CommStatusFlag. Always 0. The first form sends a copy of
// the current record, the second the copy given (the progress reporter sends
// the copies kept at each step change).
U32 IPComm_SendUpProFlagToBackBoard(U8* OldFlag);
U32 IPComm_SendUpProFlagToBackBoard(U8* OldFlag, const st_VK_UPGRADE& record);
// The network settings of a 514 message (back board, own address, netmask,
// gateway, little-endian U32 each). Only from slot 16 and only settings that
// pass IPconfig_IsValidSettings; else 1 and nothing changes. The settings are
// applied before it returns; the record, as it stands then, is announced to
// the back board just named by the announcement worker: a pause of 1 s, then
// sends as IPComm_SendResourceToBb makes them. So a silent back board holds
// the worker, never the inter-board server. A newer 514 supersedes a running
// announcement: it stops before its next send and the newer one follows.
U32 IPComm_ChangeIP(U32 u32slot, const U8* pu8Data);
// Tests: stops the running announcement before its next send (returns at
// once), and waits until no announcement is pending or running.
void IPComm_CancelAnnouncement();
void IPComm_WaitAnnouncement();
S32 IPComm_SendClearCmd2Slot(U8 u8Slot);
// 3842 to the back board, at most three exchanges: 0 on its success reply,
// 1538/1539 at once, else 1.
U32 IPComm_SendRebootSubCmd();
// Logging and syslog stopped, file systems synced, the data partition
// unmounted and its UBI device detached. One-way.
void IPComm_RecycleBeforeReboot();
U32 IPComm_RebootSubboard();
// Reboot ordered from the web ("Reboot.w"): the back board is asked first;
// only after its success reply is the board prepared and rebooted.
U32 BMN_SubBoardReboot();

}  // namespace hx

// Chassis information: the chassis type, which decides how hardware slot
// numbers map to the slot numbers the web pages show, and the plug mask the
// back board sends (bit n set when slot n holds a board).
//
// Written by the inter-board server thread (plug mask) and the HTTP thread
// (chassis type); read from any thread. Both sit behind s_ChassisInfoMutex.
#pragma once

#include "core/types.h"

namespace hx {

constexpr U8 kNoSlot = 255;

// Chassis type 0: hardware and user-interface slot numbers are the same; any
// other type uses the fixed renumbering of the larger chassis. The web
// application sets the type and shows slots through these.
void VKSYS_SetZelType(U8 u8Type);
U8 VKSYS_GetZelType();

// 255 for a slot that has no counterpart.
U8 VKSYS_HWSlot2UISlot(U8 u8ChassisType, U8 u8HWSlot);
U8 VKSYS_UISlot2HWSlot(U8 u8ChassisType, U8 u8UISlot);

void Status_SetSubBoardPlugStatus(U16 u16SubBoardplug);
U16 Status_GetSubBoardPlugStatus();
// 1 when slot `u32Slot` (0-15) holds a board; 0 for an empty or invalid slot.
BOOL Status_CheckSubBoardPlugExist(U32 u32Slot);

// Back to a fresh start: chassis type 0, nothing plugged.
void ChassisInfo_Reset();

}  // namespace hx

#include "platform/chassis_info.h"

#include <array>
#include <mutex>
#include <utility>

namespace hx {

namespace {

std::mutex s_ChassisInfoMutex;
U8 s_chassisType = 0;
U16 s_plugMask = 0;

// Hardware slot -> user-interface slot of the renumbered chassis; the inverse
// table is derived from it so the two can never disagree.
constexpr std::array<std::pair<U8, U8>, 8> kRenumbered = {{
    {8, 2}, {9, 1}, {10, 0}, {11, 5}, {12, 3}, {13, 4}, {14, 6}, {16, 16},
}};

}  // namespace

void VKSYS_SetZelType(U8 u8Type) {
    std::lock_guard lock(s_ChassisInfoMutex);
    s_chassisType = u8Type;
}

U8 VKSYS_GetZelType() {
    std::lock_guard lock(s_ChassisInfoMutex);
    return s_chassisType;
}

U8 VKSYS_HWSlot2UISlot(U8 u8ChassisType, U8 u8HWSlot) {
    if (u8ChassisType == 0) {
        return u8HWSlot;
    }
    for (const auto& [hardware, ui] : kRenumbered) {
        if (hardware == u8HWSlot) {
            return ui;
        }
    }
    return kNoSlot;
}

U8 VKSYS_UISlot2HWSlot(U8 u8ChassisType, U8 u8UISlot) {
    if (u8ChassisType == 0) {
        return u8UISlot;
    }
    for (const auto& [hardware, ui] : kRenumbered) {
        if (ui == u8UISlot) {
            return hardware;
        }
    }
    return kNoSlot;
}

void Status_SetSubBoardPlugStatus(U16 u16SubBoardplug) {
    std::lock_guard lock(s_ChassisInfoMutex);
    s_plugMask = u16SubBoardplug;
}

U16 Status_GetSubBoardPlugStatus() {
    std::lock_guard lock(s_ChassisInfoMutex);
    return s_plugMask;
}

BOOL Status_CheckSubBoardPlugExist(U32 u32Slot) {
    if (u32Slot >= 16) {
        return HX_FALSE;
    }
    std::lock_guard lock(s_ChassisInfoMutex);
    return (s_plugMask >> u32Slot) & 1u ? HX_TRUE : HX_FALSE;
}

void ChassisInfo_Reset() {
    std::lock_guard lock(s_ChassisInfoMutex);
    s_chassisType = 0;
    s_plugMask = 0;
}

}  // namespace hx

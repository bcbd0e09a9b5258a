// The chassis type and slot numbering of the web pages, over the platform's
// chassis information (which holds its own lock). Callers: the web handlers
// and the proxy-link set-up, in the HTTP server thread or at start-up.
#include "web/web_slot.h"

#include "platform/chassis_info.h"

namespace hx {

void Web_SetZELType(U32 u32Type) {
    VKSYS_SetZelType(static_cast<U8>(u32Type & 0xFF));
}

U8 Web_GetZELType() {
    return VKSYS_GetZelType();
}

// A slot number above 255 names no slot; cutting it to 8 bits would name another.
U8 Web_GetWebSlot(U32 u32ChassisType, U32 u32HardwareSlot) {
    if (u32HardwareSlot > 0xFF) {
        return kNoSlot;
    }
    return VKSYS_HWSlot2UISlot(static_cast<U8>(u32ChassisType & 0xFF), static_cast<U8>(u32HardwareSlot & 0xFF));
}

U8 Web_GetRealSlot(U32 u32ChassisType, U32 u32WebSlot) {
    if (u32WebSlot > 0xFF) {
        return kNoSlot;
    }
    return VKSYS_UISlot2HWSlot(static_cast<U8>(u32ChassisType & 0xFF), static_cast<U8>(u32WebSlot & 0xFF));
}

}  // namespace hx

// The chassis type the pages send and the two slot numberings it selects.
// The chassis type is kept by the platform under its own lock.
#pragma once

#include "core/types.h"

namespace hx {

// Stores the low 8 bits of the chassis type.
void Web_SetZELType(U32 u32Type);
// The stored chassis type, low 8 bits.
U8 Web_GetZELType();
// The user-interface slot of a hardware slot (255 when there is none).
U8 Web_GetWebSlot(U32 u32ChassisType, U32 u32HardwareSlot);
// The hardware slot of a user-interface slot.
U8 Web_GetRealSlot(U32 u32ChassisType, U32 u32WebSlot);

}  // namespace hx

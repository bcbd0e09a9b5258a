// Value conversions of the web application shared with other modules.
#pragma once

#include "core/types.h"

namespace hx {

// Binary to packed BCD: decimal digits, least significant first, fill 4-bit
// groups from bit 0 up (eight digits at most). Used for the frequency and
// symbol-rate fields of the cable delivery descriptor.
U32 Bcd2Hex(U32 u32BcdCode);

}  // namespace hx

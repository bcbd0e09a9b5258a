#include "web/web_value.h"

namespace hx {

U32 Bcd2Hex(U32 u32BcdCode) {
    U32 packed = 0;
    for (int digit = 0; digit < 8 && u32BcdCode != 0; ++digit) {
        packed |= (u32BcdCode % 10) << (4 * digit);
        u32BcdCode /= 10;
    }
    return packed;
}

}  // namespace hx

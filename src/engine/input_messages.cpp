#include "engine/input_messages.h"

#include "core/log.h"

namespace hx {

U32 TSP_ConstructOutputTS(U8* u8Buffer, IPCOMM_CMD eDataType, U16 u16Length) {
    if (u8Buffer == nullptr || u16Length == 0) {
        return 0xC0000;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "stand-in, nothing done: message %u of %u bytes\n",
           static_cast<U32>(eDataType), static_cast<U32>(u16Length));
    return 0;
}

}  // namespace hx

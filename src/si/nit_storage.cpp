#include "si/nit_storage.h"

#include "core/standin.h"

namespace hx {

U32 TSP_ConstructOutputTSByAddNITTable(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    (void)u8Buffer;
    (void)u16Number;
    (void)u16Length;
    HX_STANDIN(LOG_MODULE_TSPROCESS);
    return 0;
}

}  // namespace hx

#include "chassis/oid_snapshot.h"

#include "core/err.h"
#include "core/standin.h"

namespace hx {

U32 OIDDATA_Recovery() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return VK_ERR_FAILURE;  // no snapshot
}

void OIDDATA_Save() {
    HX_STANDIN(LOG_MODULE_PARAMS);
}

void OID_ModifyVersionNumber(U16 /*u16newVersion*/) {
    HX_STANDIN(LOG_MODULE_PARAMS);
}

}  // namespace hx

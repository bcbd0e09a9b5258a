#include "chassis/qam_json.h"

#include "core/err.h"
#include "core/standin.h"

namespace hx {

U32 DATA_Save() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return VK_SUCCESS;
}

U32 DATA_Recovery() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return VK_ERR_FAILURE;  // nothing applied
}

}  // namespace hx

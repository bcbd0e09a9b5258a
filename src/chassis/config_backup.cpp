#include "chassis/config_backup.h"

#include "core/err.h"
#include "core/standin.h"

namespace hx {

U32 IPComm_GetAndSetParam() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return VK_SUCCESS;
}

U32 FTP_SendBackUpPara() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return VK_SUCCESS;
}

}  // namespace hx

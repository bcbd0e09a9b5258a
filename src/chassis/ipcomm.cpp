#include "chassis/ipcomm.h"

#include "core/standin.h"

namespace hx {

U32 IPServer_Start() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

U32 IPComm_SendResourceToBb() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

}  // namespace hx

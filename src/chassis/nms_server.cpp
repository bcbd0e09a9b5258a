#include "chassis/nms_server.h"

#include "core/standin.h"

namespace hx {

U32 NMS_SocketServerTask_Start() {
    HX_STANDIN(LOG_MODULE_SOCKET);
    return 0;
}

}  // namespace hx

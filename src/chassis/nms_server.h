// Network-management TCP service (port 30 on the card).
#pragma once

#include "core/types.h"

namespace hx {

U32 NMS_SocketServerTask_Start();

}  // namespace hx

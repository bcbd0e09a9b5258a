// Inter-board link: the server on port 8000 and the messages to other boards.
#pragma once

#include "core/types.h"

namespace hx {

U32 IPServer_Start();
U32 IPComm_SendResourceToBb();

}  // namespace hx

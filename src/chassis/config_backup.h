// Configuration backup and import through the back board: the import order
// (516) and the export order (517) of the inter-board link. Run in the
// inter-board server thread.
#pragma once

#include "core/types.h"

namespace hx {

U32 IPComm_GetAndSetParam();
U32 FTP_SendBackUpPara();

}  // namespace hx

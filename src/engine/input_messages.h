// Input-card configuration messages applied to the live output model. Called
// by the inter-board dispatcher in the server thread.
#pragma once

#include "chassis/ipcomm_packet.h"
#include "core/types.h"

namespace hx {

U32 TSP_ConstructOutputTS(U8* u8Buffer, IPCOMM_CMD eDataType, U16 u16Length);

}  // namespace hx

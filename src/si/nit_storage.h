// NIT storage: each output stream's NIT kept as raw sections in table records
// chained from the stream, and the NIT an input card sends.
//
// Called by the output engine's configuration entry in the inter-board server
// thread, under the model lock.
#pragma once

#include "core/types.h"

namespace hx {

// Input-card data type 273: u16Number raw 1,184-byte table records.
U32 TSP_ConstructOutputTSByAddNITTable(U8* u8Buffer, U16 u16Number, U16 u16Length);

}  // namespace hx

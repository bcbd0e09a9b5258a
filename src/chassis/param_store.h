// Parameter store: the QAM parameter file, the output-model file, the OID
// snapshot and the user-rights table, loaded once at start-up.
#pragma once

#include "core/types.h"

namespace hx {

U32 PARAMS_Init();

}  // namespace hx

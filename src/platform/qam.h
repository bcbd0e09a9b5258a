// QAM parameter set: sending it to the 160T, the status poll, the RF DAC switch.
#pragma once

#include "core/types.h"

namespace hx {

U32 UartComm_ConfigQAM160T();
U32 QAM160TComm_Start();
U32 IsChannelenableConfig9119();

}  // namespace hx

// Factory defaults of the QAM parameter set.
//
// Called by the parameter store's factory reset on the live table (start-up or
// a web request, in that caller's thread); it writes the table only, sending
// and saving nothing.
#pragma once

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

// Writes the factory table into *pstQAMParams: the QAM mode it held is kept
// (a value above 2 becomes 0) and the group settings follow it, the power
// level follows the hardware version, the SI standard comes from the back
// board's resource record, channels 0-15 take the US frequency plan in mode B
// or under ATSC, and Res[0].address is 0xFFFFFFFF. 0; 4 for a null pointer.
U32 QAM160T_Init_Parmeter(TParameter_QAM* pstQAMParams);

}  // namespace hx

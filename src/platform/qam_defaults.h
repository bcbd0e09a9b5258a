// Factory defaults of the QAM parameter set.
//
// Called by the parameter store's factory reset on the live table; nothing is
// sent to the 160T and nothing is saved here. Runs in the caller's thread and
// touches only the table it is given.
#pragma once

#include "platform/qam_params.h"

namespace hx {

// Writes the factory table into `pstQAMParams`. The QAM mode of group 0
// survives the reset (a stored mode above 2 becomes mode A); channels 0-15 take
// the US frequency plan in mode B or when the back board says ATSC. A null
// table is left alone.
void QAM160T_Init_Parmeter(TParameter_QAM* pstQAMParams);

}  // namespace hx

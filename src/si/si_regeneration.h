// PSI/SI regeneration of the output streams (the tables each stream gets on
// every apply). Only what the NIT broadcast and the time tables need of it
// stands here so far.
//
// Callers hold the model lock; the live model is read.
#pragma once

#include "core/types.h"

namespace hx {

// True when one of the stream's other (pass-through) PID records carries that
// output PID: the table then arrives from an input card.
bool IsPSITableInOtherPID(U16 u16OutTSIndex, U16 u16PID);

}  // namespace hx

// JSON copy of the QAM and IP monitor settings ("/vandik_data/oid.json").
//
// Start-up rewrites it from a good QAM parameter file and restores from it
// when the parameter file had to be rebuilt from factory defaults. Runs in the
// caller's thread.
#pragma once

#include "core/types.h"

namespace hx {

// Writes the live QAM and IP monitor settings to the JSON copy.
U32 DATA_Save();
// Applies the JSON copy to the live settings and saves the QAM parameter
// file; 0 when something was applied.
U32 DATA_Recovery();

}  // namespace hx

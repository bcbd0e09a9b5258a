// OID-keyed snapshot of the output model ("/vandik_data/oiddata.conf"), carried
// across backups and upgrades and applied once at the next start-up.
#pragma once

#include "core/types.h"

namespace hx {

// Applies a pending snapshot to the live model; 0 when one was applied, 1 when
// there was none to apply.
U32 OIDDATA_Recovery();

}  // namespace hx

// OID-keyed snapshot of the output model ("/vandik_data/oiddata.conf"), carried
// across backups and upgrades and applied once at the next start-up.
#pragma once

#include "core/types.h"

namespace hx {

// Applies a pending snapshot to the live model; 0 when one was applied, 1 when
// there was none to apply.
U32 OIDDATA_Recovery();
// Writes a snapshot of the live model stamped with the current version.
void OIDDATA_Save();
// The version the next save stamps: 1 before an upgrade (left on disk,
// never applied), 0xFFFF before a backup export (applied once).
void OID_ModifyVersionNumber(U16 u16newVersion);

}  // namespace hx

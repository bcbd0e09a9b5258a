// Fuzz targets whose code waits (the 160T link's time-outs, the upgrade's
// pauses, the inter-board retries) run on a virtual clock that moves on by
// itself at every wait: an input costs what its handler does, not the time it
// would wait on a board.
#pragma once

#include "core/clock.h"

namespace hx::fuzz {

// Installs the clock as the process's; it is never destroyed, so a thread
// still waiting on it at exit finds it.
inline void UseAutoAdvancingClock() {
    static VirtualClock* const clock = [] {
        auto* created = new VirtualClock();
        created->SetAutoAdvance(true);
        return created;
    }();
    SetClock(clock);
}

}  // namespace hx::fuzz

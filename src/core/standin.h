// Marks an operation whose module is not built yet: it logs that it stood in
// and succeeds, so start-up and callers run end to end on every build. The
// module that owns the operation replaces the body; callers never change.
#pragma once

#include "core/log.h"

#define HX_STANDIN(module) HX_LOG(LOG_LEVEL_INFO, (module), "stand-in, nothing done\n")

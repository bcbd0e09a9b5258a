#include "engine/mux_process.h"

#include "core/standin.h"
#include "engine/model_lock.h"

namespace hx {

U32 TSP_MuxProcess() {
    // The pipeline reads and rewrites the live model from start to end.
    TSP_ModelLock lock;
    HX_STANDIN(LOG_MODULE_TSPROCESS);
    return 0;
}

}  // namespace hx

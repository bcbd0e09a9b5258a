#include "engine/mux_process.h"

#include "core/standin.h"

namespace hx {

U32 TSP_MuxProcess() {
    HX_STANDIN(LOG_MODULE_TSPROCESS);
    return 0;
}

}  // namespace hx

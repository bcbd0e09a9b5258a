#include "engine/mux_process.h"

#include <memory>
#include <new>

#include "chassis/param_store.h"
#include "core/log.h"
#include "engine/conflict_process.h"
#include "engine/model_lock.h"
#include "engine/mux_lut.h"
#include "si/si_packet.h"
#include "si/si_regeneration.h"

namespace hx {

U32 TSP_MuxProcess() {
    // The pipeline reads and rewrites the live model from start to end.
    TSP_ModelLock lock;
    if (const U32 rc = TSP_ConflictProcess(); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_ConflictProcess return error\r\n\n");
        return rc;
    }
    // Both tables are built and checked before either is downloaded, so a
    // refused apply leaves routing, carousel and model file as they were.
    std::unique_ptr<MuxLutTable> mux;
    try {
        mux = std::make_unique<MuxLutTable>();
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteOutputLUTInfo return error\r\n\n");
        return kTspErrMemory;
    }
    if (const U32 rc = TSP_BuildOutputLUT(mux.get()); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteOutputLUTInfo return error\r\n\n");
        return rc;
    }
    BypassLutTable bypass;
    if (const U32 rc = TSP_BuildByPassOutputLUT(&bypass); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteByPassOutputLUTInfo return error\r\n\n");
        return rc;
    }
    TSP_DownloadOutputLUT(*mux);
    TSP_DownloadByPassOutputLUT(bypass);
    if (const U32 rc = TSP_MuxOutputAllSI(); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_MuxOutputAllSI return error\r\n\n");
        return rc;
    }
    if (const U32 rc = PARAMS_TSPParametersSave(); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "PARAMS_TSPParametersSave return error\r\n\n");
        return rc;
    }
    return 0;
}

}  // namespace hx

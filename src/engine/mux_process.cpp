#include "engine/mux_process.h"

#include <memory>
#include <new>

#include "chassis/param_store.h"
#include "core/log.h"
#include "engine/conflict_process.h"
#include "engine/model_lock.h"
#include "engine/mux_lut.h"
#include "engine/output_model.h"
#include "si/si_packet.h"
#include "si/si_regeneration.h"

namespace hx {

U32 TSP_MuxProcess() {
    // The pipeline reads and rewrites the live model from start to end.
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    // Nothing in the live model may change until every check has passed:
    // resolution works on the live model, so what it changes is kept aside
    // and put back when resolution or a table build refuses the apply; the
    // builds only read, and the records they find unrouted go after them.
    std::unique_ptr<ConflictSnapshot> before;
    std::unique_ptr<MuxLutTable> mux;
    try {
        before = std::make_unique<ConflictSnapshot>(*live);
        mux = std::make_unique<MuxLutTable>();
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "no memory for the apply\r\n\n");
        return kTspErrMemory;
    }
    if (const U32 rc = TSP_ConflictProcess(); rc != 0) {
        before->Restore(live);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_ConflictProcess return error\r\n\n");
        return rc;
    }
    // Both tables are built and checked before either is downloaded, so a
    // refused apply leaves routing, carousel and model file as they were.
    if (const U32 rc = TSP_BuildOutputLUT(mux.get()); rc != 0) {
        before->Restore(live);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteOutputLUTInfo return error\r\n\n");
        return rc;
    }
    BypassLutTable bypass;
    if (const U32 rc = TSP_BuildByPassOutputLUT(&bypass); rc != 0) {
        before->Restore(live);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteByPassOutputLUTInfo return error\r\n\n");
        return rc;
    }
    TSP_FreeUnroutedPids(*mux);
    if (const U32 rc = TSP_DownloadOutputLUT(*mux); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteOutputLUTInfo return error\r\n\n");
        return rc;
    }
    if (const U32 rc = TSP_DownloadByPassOutputLUT(bypass); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteByPassOutputLUTInfo return error\r\n\n");
        return rc;
    }
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

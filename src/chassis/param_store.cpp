#include "chassis/param_store.h"

#include "core/standin.h"
#include "engine/model_pools.h"

namespace hx {

U32 PARAMS_Init() {
    // No parameter file is read yet: both output models start empty, as after
    // a factory reset, so every later user finds their pools.
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "stand-in, output models set to factory state\n");
    return TSP_FactoryOutputTSInfo();
}

U32 PARAMS_SetQAMParams(const TParameter_QAM*) {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return 0;
}

U32 PARAMS_SetIPMonitorParams(const QAM_IPMonitorPara*) {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return 0;
}

U32 PARAMS_TSPParametersSave() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return 0;
}

}  // namespace hx

#include "chassis/param_store.h"

#include "core/standin.h"
#include "engine/model_pools.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"

namespace hx {

U32 PARAMS_Init() {
    // No parameter file is read yet: the board starts as a card without one
    // does, from factory settings. Both output models start empty, so every
    // later user finds their pools, and the QAM set and the IP monitor take
    // their defaults, so the start-up send to the 160T carries a usable set.
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "stand-in, output models and QAM parameters set to factory state\n");
    QAM160T_Init_Parmeter(GetQAMPara_Handle());
    Init_IPMonitor_Parmeter(GetQAMIPMonitor_Handle());
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

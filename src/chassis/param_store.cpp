#include "chassis/param_store.h"

#include "core/standin.h"

namespace hx {

U32 PARAMS_Init() {
    HX_STANDIN(LOG_MODULE_PARAMS);
    return 0;
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

// Parameter store: the QAM parameter file, the output-model file, the OID
// snapshot and the user-rights table, loaded once at start-up, and the savers
// other modules call after a change.
#pragma once

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

U32 PARAMS_Init();
U32 PARAMS_SetQAMParams(const TParameter_QAM* pstQAMParams);
U32 PARAMS_SetIPMonitorParams(const QAM_IPMonitorPara* pstIPMonitor);
U32 PARAMS_TSPParametersSave();

}  // namespace hx

#include "platform/qam_params.h"

namespace hx {

namespace {

TParameter_QAM s_QAMParams;
TParameter_QAM s_QAMParamsTmp;
QAM_IPMonitorPara s_QAMIPMonitor;

}  // namespace

TParameter_QAM* GetQAMPara_Handle() { return &s_QAMParams; }
TParameter_QAM* GetQAMParaTmp_Handle() { return &s_QAMParamsTmp; }
QAM_IPMonitorPara* GetQAMIPMonitor_Handle() { return &s_QAMIPMonitor; }

}  // namespace hx

#include "engine/conflict_process.h"

#include "core/standin.h"
#include "engine/model_lock.h"

namespace hx {

namespace {

constexpr U16 kHighestOutputPid = 0x1FFE;

}  // namespace

U32 TSP_CheckOutputPidConflict(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, U16 u16NewPid,
                               Output_TSInfo* pstParamTS, U8* pu8Flag) {
    HX_STANDIN(LOG_MODULE_TSPROCESS);
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (u16NewPid > kHighestOutputPid) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NewPid:%d error\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    if (pstParamTS == nullptr || pu8Flag == nullptr || u16OutputTSIndex >= pstParamTS->u32OutputTSNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    if (ePidType == PID_TYPE_PMTPID || ePidType == PID_TYPE_PCRPID) {
        if (u16PidOffset >= pstParamTS->u32OutputProgramNumber) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
            return kTspErrInput;
        }
        Output_TSProgram& program = pstParamTS->pOutputProgram[u16PidOffset];
        if (ePidType == PID_TYPE_PMTPID) {
            program.u16PMTPID = u16NewPid;
        } else {
            program.u16PCRPID = u16NewPid;
            if (program.u16PCRIndex < pstParamTS->u32OutputPIDNumber) {
                pstParamTS->pOutputPID[program.u16PCRIndex].u16PID = u16NewPid;
            }
        }
        return 0;
    }
    if (u16PidOffset >= pstParamTS->u32OutputPIDNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    pstParamTS->pOutputPID[u16PidOffset].u16PID = u16NewPid;
    return 0;
}

}  // namespace hx

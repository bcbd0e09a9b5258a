#include "engine/model_debug.h"

#include <utility>
#include <vector>

#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"

namespace hx {

namespace {

using Fields = std::vector<std::pair<const char*, U32>>;

bool Refused(const char* function, const Output_TSInfo* model, ModelPool pool, U16 index) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (model != nullptr && ModelPool_IsValid(model, pool, index)) {
        return false;
    }
    log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d input ERROR\r\n\n", Log_ThreadId(), function, __LINE__);
    return true;
}

void Print(const char* function, U16 index, const Fields& fields) {
    for (const auto& [name, value] : fields) {
        log_printf(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "%ld:%s:%d [%u] %s = %u\r\n\n", Log_ThreadId(), function,
                   __LINE__, index, name, value);
    }
}

}  // namespace

U32 TSP_DebugPrintOneTS(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS) {
    if (Refused(__func__, pstParamTS, ModelPool::Stream, u16OutTSIndex)) {
        return kTspErrInput;
    }
    const Output_TSStream& ts = pstParamTS->pOutputTS[u16OutTSIndex];
    Print(__func__, u16OutTSIndex,
          {{"u16ChannelID", ts.u16ChannelID},
           {"u8SlotID", ts.u8SlotID},
           {"u16NetworkID", ts.u16NetworkID},
           {"u16TransportStreamID", ts.u16TransportStreamID},
           {"u16OriginalNetworkID", ts.u16OriginalNetworkID},
           {"u8BypassFlag", ts.u8BypassFlag},
           {"u8SrcSlotID", ts.u8SrcSlotID},
           {"u16SrcChannelID", ts.u16SrcChannelID},
           {"u16ProgramNum", ts.u16ProgramNum},
           {"u16ProgramIndex", ts.u16ProgramIndex},
           {"u16OtherPIDNum", ts.u16OtherPIDNum},
           {"u16OtherPIDIndex", ts.u16OtherPIDIndex},
           {"u16EMMPIDNumber", ts.u16EMMPIDNumber},
           {"u16EMMPIDIndex", ts.u16EMMPIDIndex},
           {"u16DescriptorNum", ts.u16DescriptorNum},
           {"u16DescriptorIndex", ts.u16DescriptorIndex},
           {"u16NITIndex", ts.u16NITIndex},
           {"u8ModulationMode", ts.u8ModulationMode}});
    return 0;
}

U32 TSP_DebugPrintOneProgram(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS) {
    if (Refused(__func__, pstParamTS, ModelPool::Program, u16OutProgIndex)) {
        return kTspErrInput;
    }
    const Output_TSProgram& program = pstParamTS->pOutputProgram[u16OutProgIndex];
    Print(__func__, u16OutProgIndex,
          {{"u8SourceSlotID", program.u8SourceSlotID},
           {"u16SourceChannelID", program.u16SourceChannelID},
           {"u16ChannelID", program.u16ChannelID},
           {"u16ProgramID", program.u16ProgramID},
           {"u16TSIndex", program.u16TSIndex},
           {"u16NextProgramIndex", program.u16NextProgramIndex},
           {"u16OldServiceID", program.u16OldServiceID},
           {"u16ServiceID", program.u16ServiceID},
           {"u16OldPMTPID", program.u16OldPMTPID},
           {"u16PMTPID", program.u16PMTPID},
           {"u16OldPCRPID", program.u16OldPCRPID},
           {"u16PCRPID", program.u16PCRPID},
           {"u16PCRIndex", program.u16PCRIndex},
           {"u16ESNumber", program.u16ESNumber},
           {"u16PIDIndex", program.u16PIDIndex},
           {"u16PSECMPIDNumber", program.u16PSECMPIDNumber},
           {"u16PSECMPIDIndex", program.u16PSECMPIDIndex},
           {"u16ProgramInfoLength", program.u16ProgramInfoLength},
           {"u16ProgramInfoDescriptorIndex", program.u16ProgramInfoDescriptorIndex}});
    return 0;
}

U32 TSP_DebugPrintOnePID(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS) {
    if (Refused(__func__, pstParamTS, ModelPool::Pid, u16OutPIDIndex)) {
        return kTspErrInput;
    }
    const Output_TSPID& pid = pstParamTS->pOutputPID[u16OutPIDIndex];
    Print(__func__, u16OutPIDIndex,
          {{"u8SourceSlotID", pid.u8SourceSlotID},
           {"u16SourceChannelID", pid.u16SourceChannelID},
           {"u16ChannelID", pid.u16ChannelID},
           {"u8PIDType", pid.u8PIDType},
           {"u16PIDID", pid.u16PIDID},
           {"u16OldPID", pid.u16OldPID},
           {"u16PID", pid.u16PID},
           {"u32TSIndex", pid.u32TSIndex},
           {"u32ProgramIndex", pid.u32ProgramIndex},
           {"u32NextPIDIndex", pid.u32NextPIDIndex},
           {"u16ESECMPIDNumber", pid.u16ESECMPIDNumber},
           {"u16ESECMPIDIndex", pid.u16ESECMPIDIndex},
           {"u8StreamType", pid.u8StreamType},
           {"u8PIDFilterFlag", pid.u8PIDFilterFlag}});
    return 0;
}

U32 TSP_DebugPrintOneBypassTS(U16 u16BypassIndex, const Output_TSInfo* pstParamTS) {
    if (Refused(__func__, pstParamTS, ModelPool::Bypass, u16BypassIndex)) {
        return kTspErrInput;
    }
    const Passthrough_TSStream& bypass = pstParamTS->pOutputBypassTS[u16BypassIndex];
    Fields fields = {{"u8SourceSlotID", bypass.u8SourceSlotID}, {"u16SourceChannelID", bypass.u16SourceChannelID}};
    static constexpr const char* kDestinations[8] = {
        "aru32BypassDestChannel[0]", "aru32BypassDestChannel[1]", "aru32BypassDestChannel[2]",
        "aru32BypassDestChannel[3]", "aru32BypassDestChannel[4]", "aru32BypassDestChannel[5]",
        "aru32BypassDestChannel[6]", "aru32BypassDestChannel[7]"};
    for (int i = 0; i < 8; ++i) {
        fields.emplace_back(kDestinations[i], bypass.aru32BypassDestChannel[i]);
    }
    Print(__func__, u16BypassIndex, fields);
    return 0;
}

}  // namespace hx

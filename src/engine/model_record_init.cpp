#include "engine/model_record_init.h"

#include "core/log.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U16 kMaxAtscChannelNumber = 1023;
constexpr U16 kAtscFallbackChannelNumber = 2;
constexpr U8 kAtscDigitalTelevisionService = 2;
constexpr U8 kInitialModulationMode = 4;

template <typename Record>
bool Refuse(const Record* record, const char* function) {
    if (record != nullptr) {
        return false;
    }
    log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d Input error\r\n\n", Log_ThreadId(), function, __LINE__);
    return true;
}

}  // namespace

U32 TSP_InitOneOutputTSStream(Output_TSStream* pstOutputTS) {
    if (Refuse(pstOutputTS, __func__)) {
        return kTspErrInput;
    }
    Output_TSStream& ts = *pstOutputTS;
    ts.u32StructVersion = 0;
    ts.u8ValidFlag = kRecordValid;
    ts.u16ProgramNum = 0;
    ts.u16OtherPIDNum = 0;
    ts.u16EMMPIDNumber = 0;
    ts.u16DescriptorNum = 0;
    ts.u16ProgramIndex = kChainEnd;
    ts.u16OtherPIDIndex = kChainEnd;
    ts.u16EMMPIDIndex = kChainEnd;
    ts.u16DescriptorIndex = kChainEnd;
    ts.u16NITIndex = kChainEnd;
    ts.u16BATIndex = kChainEnd;
    ts.u16TDTIndex = kChainEnd;
    ts.u16TOTIndex = kChainEnd;
    ts.u16OtherNITIndex = kChainEnd;
    ts.u16OtherSDTIndex = kChainEnd;
    ts.u8PATVersionNumber = 0;
    ts.u8PATChangeFlag = 0;
    ts.u8SDTVersionNumber = 0;
    ts.u8SDTChangeFlag = 0;
    ts.u8CATVersionNumber = 0;
    ts.u8CATChangeFlag = 0;
    ts.u8ModulationMode = kInitialModulationMode;
    ts.u8PATGenerate = 1;
    ts.u8PMTGenerate = 1;
    ts.u8CATGenerate = 1;
    ts.u8SDTGenerate = 1;
    ts.u8TDTGenerate = 1;
    ts.u8MGTGenerate = 1;
    ts.u8VCTGenerate = 1;
    ts.u8STTGenerate = 1;
    return 0;
}

U32 TSP_InitOneOutputTSProgram(Output_TSProgram* pstOutputProgram) {
    if (Refuse(pstOutputProgram, __func__)) {
        return kTspErrInput;
    }
    Output_TSProgram& program = *pstOutputProgram;
    program.u32StructVersion = 0;
    program.u8ValidFlag = kRecordValid;
    program.u8PMTVersionNumber = 0;
    program.u8PMTChangeFlag = 0;
    program.u16TSIndex = kChainEnd;
    program.u16ProgramIndex = kChainEnd;
    program.u16NextProgramIndex = kChainEnd;
    program.u16PSECMPIDIndex = kChainEnd;
    program.u16PCRIndex = kChainEnd;
    program.u16PIDIndex = kChainEnd;
    program.u16ProgramInfoDescriptorIndex = kChainEnd;
    program.u16SDTInfoDescriptorIndex = kChainEnd;
    program.u16PSECMPIDNumber = 0;
    program.u16ESNumber = 0;
    program.u16ServiceID = program.u16OldServiceID;
    program.u16PCRPID = program.u16OldPCRPID;
    program.u16PMTPID = program.u16OldPMTPID;
    if (program.u16MajorChannelNum > kMaxAtscChannelNumber) {
        program.u16MajorChannelNum = kAtscFallbackChannelNumber;
    }
    if (program.u16MinorChannelNum > kMaxAtscChannelNumber) {
        program.u16MinorChannelNum = kAtscFallbackChannelNumber;
    }
    if (Resource_GetSIMode() == kSiModeAtsc) {
        program.u8ServiceType = kAtscDigitalTelevisionService;
    }
    return 0;
}

U32 TSP_InitOneOutputTSPID(Output_TSPID* pstOutputPID) {
    if (Refuse(pstOutputPID, __func__)) {
        return kTspErrInput;
    }
    Output_TSPID& pid = *pstOutputPID;
    pid.u32StructVersion = 0;
    pid.u8ValidFlag = kRecordValid;
    pid.u32TSIndex = kChainEnd32;
    pid.u32ProgramIndex = kChainEnd32;
    pid.u32PIDIndex = kChainEnd32;
    pid.u32NextPIDIndex = kChainEnd32;
    pid.u16ESECMPIDNumber = 0;
    pid.u16PID = pid.u16OldPID;
    pid.u16ESInfoDescriptorIndex = kChainEnd;
    return 0;
}

U32 TSP_InitOneOutputTSDescriptor(TSDescriptor* pstDescriptor) {
    if (Refuse(pstDescriptor, __func__)) {
        return kTspErrInput;
    }
    TSDescriptor& descriptor = *pstDescriptor;
    descriptor.u32StructVersion = 0;
    descriptor.u8ValidFlag = kRecordValid;
    descriptor.u16TSIndex = kChainEnd;
    descriptor.u16ProgramIndex = kChainEnd;
    descriptor.u16DescriptorIndex = kChainEnd;
    descriptor.u16NextDescriptorIndex = kChainEnd;
    return 0;
}

U32 TSP_InitOneOutputBypassTS(Passthrough_TSStream* pstBypassTS) {
    if (Refuse(pstBypassTS, __func__)) {
        return kTspErrInput;
    }
    pstBypassTS->u32StructVersion = 0;
    pstBypassTS->u8ValidFlag = kRecordValid;
    return 0;
}

}  // namespace hx

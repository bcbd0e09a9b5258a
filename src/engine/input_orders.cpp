// The input messages that change or remove what is there: delete orders (262,
// 263, 274, 289), descrambling settings (268, 269, 270), the PMT monitor's PID
// changes (275) and the pass-through operations. See input_messages.h.
#include <cstdio>
#include <cstring>

#include "core/err.h"
#include "engine/input_common.h"
#include "engine/input_messages.h"
#include "engine/input_records.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_pools.h"
#include "engine/model_record_init.h"
#include "engine/model_remove.h"
#include "engine/output_model.h"

namespace hx {

namespace {

constexpr U8 kDescrambleOn = 1;
constexpr U8 kDescrambleOff = 255;
constexpr U32 kBypassDestinationWords = 8;

// Runs one removal per delete record; `stopAtFailure` ends the message at the
// first failing order, else failures are logged and the rest run.
template <typename Record, typename Order>
U32 RunDeleteOrders(const char* function, const U8* records, U16 number, U32 length, const char* kind,
                    bool stopAtFailure, Order order) {
    if (const U32 result = Input_CheckCounted(function, records, number, length, sizeof(Record), kind); result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    for (U16 i = 0; i < number; ++i) {
        const U32 result = order(Input_Read<Record>(records, i));
        if (result == 0) {
            continue;
        }
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "order[%u] failed, enErrCode[%X]\r\n\n", i, result);
        if (stopAtFailure) {
            return result;
        }
    }
    return 0;
}

}  // namespace

U32 TSP_ConstructOutputTSByDelTS(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return RunDeleteOrders<Delete_TSStream>(__func__, u8Buffer, u16Number, u16Length, "Delete_TSStream", true,
                                            [](const Delete_TSStream& order) {
                                                std::printf("Del TS sourceSlot[%d],destSlot[%d],sourceChannel[%d],"
                                                            "DestChannel[%d]\r\n",
                                                            order.u8SourceSlotID, order.u8Slot,
                                                            order.u16SourceChannelID, order.u16ChannelID);
                                                std::fflush(stdout);
                                                return TSP_DelTSInfoByInput(order.u8SourceSlotID,
                                                                            order.u16SourceChannelID,
                                                                            order.u16ChannelID);
                                            });
}

U32 TSP_ConstructOutputTSByDelProgram(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return RunDeleteOrders<Delete_TSProgram>(
        __func__, u8Buffer, u16Number, u16Length, "Delete_TSProgram", false, [](const Delete_TSProgram& order) {
            std::printf("Del Pro sourceSlot[%d],sourceChannel[%d],DestChannel[%d],u16ProgramID[%d]\r\n",
                        order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID, order.u16ProgramID);
            std::fflush(stdout);
            return TSP_DelProgramInfoByInput(order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID,
                                             order.u16ProgramID);
        });
}

U32 TSP_ConstructOutputTSByDelPID(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return RunDeleteOrders<Delete_TSPID>(
        __func__, u8Buffer, u16Number, u16Length, "Delete_TSPID", false, [](const Delete_TSPID& order) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
                   "Del PID sourceSlot[%d],sourceChannel[%d],DestChannel[%d],u16PIDID[%d],u8PIDFilterFlag[%d]\r\n\n",
                   order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID, order.u16PIDID,
                   order.u8PIDFilterFlag);
            return TSP_DelPIDInfoByInput(order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID,
                                         order.u16PIDID, order.u8PIDFilterFlag);
        });
}

U32 TSP_ConstructOutputTSByDelDescriptors(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return RunDeleteOrders<Delete_TSProgramDescriptor>(
        __func__, u8Buffer, u16Number, u16Length, "Delete_TSProgramDescriptor", false,
        [](const Delete_TSProgramDescriptor& order) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
                   "Del Descriptor sourceSlot[%d],sourceChannel[%d],DestChannel[%d],u16ProgramID[%d]\r\n\n",
                   order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID, order.u16ProgramID);
            return TSP_DelDescriptorInfoByInput(order.u8SourceSlotID, order.u16SourceChannelID, order.u16ChannelID,
                                                order.u16ProgramID);
        });
}

namespace {

// 269 and 270: every valid program of the record's source and input service
// ID, whatever its output channel.
U32 SetDescrambling(const char* function, const U8* records, U16 number, U32 length, U8 flag) {
    if (const U32 result =
            Input_CheckCounted(function, records, number, length, sizeof(Output_TSProgram), "Output_TSProgram");
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    for (U16 i = 0; i < number; ++i) {
        const Output_TSProgram record = Input_Read<Output_TSProgram>(records, i);
        for (U32 p = 0; p < live->u32OutputProgramNumber; ++p) {
            Output_TSProgram& program = live->pOutputProgram[p];
            if (program.u8ValidFlag != kRecordValid || program.u8SourceSlotID != record.u8SourceSlotID ||
                program.u16SourceChannelID != record.u16SourceChannelID ||
                program.u16OldServiceID != record.u16OldServiceID) {
                continue;
            }
            program.u8CIFlag = flag;
            if (program.u8CAMIndex == record.u8CAMIndex) {
                continue;
            }
            program.u8CAMIndex = record.u8CAMIndex;
            if (program.u16TSIndex < live->u32OutputTSNumber) {
                live->pOutputTS[program.u16TSIndex].u8SDTChangeFlag = 1;
            }
            HX_LOG_AS(function, LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "service id %d set camindex %d\r\n\n",
                      program.u16OldServiceID, program.u8CAMIndex);
        }
    }
    return 0;
}

}  // namespace

U32 TSP_ConstructOutputTSBySetSCR(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return SetDescrambling(__func__, u8Buffer, u16Number, u16Length, kDescrambleOn);
}

U32 TSP_ConstructOutputTSByDelSCRInfo(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    return SetDescrambling(__func__, u8Buffer, u16Number, u16Length, kDescrambleOff);
}

U32 TSP_ConstructOutputTSBySetSCRPIDInfo(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    // The CAM's stream and PID become the source word of routed PIDs.
    if (const U32 result = Input_CheckMessage<Output_TSPID>(
            __func__, u8Buffer, u16Number, u16Length, "Output_TSPID",
            [](RecordChecks& checks, U16 i, const Output_TSPID& record) {
                checks.AtMost(i, "u16SrcCIStreamID", record.u16SrcCIStreamID, kMaxSourceStream);
                checks.AtMost(i, "u16CISrcPID", record.u16CISrcPID, kMaxInputPid);
            });
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    for (U16 i = 0; i < u16Number; ++i) {
        const Output_TSPID record = Input_Read<Output_TSPID>(u8Buffer, i);
        for (U32 p = 0; p < live->u32OutputPIDNumber; ++p) {
            Output_TSPID& pid = live->pOutputPID[p];
            if (pid.u8ValidFlag == kRecordValid && pid.u8SourceSlotID == record.u8SourceSlotID &&
                pid.u16SourceChannelID == record.u16SourceChannelID && pid.u16OldPID == record.u16OldPID) {
                pid.u16CISrcPID = record.u16CISrcPID;
                pid.u16SrcCIStreamID = record.u16SrcCIStreamID;
            }
        }
    }
    return 0;
}

namespace {

// A loop the monitor reports: copied inline when it fits; a longer one names
// the sender's descriptor record, which means nothing on this board, so the
// local loop and its descriptor link stay as they are.
bool TakeMonitorLoop(const MonitorPID_t& change, U8* inlineLoop, U16& length, const char* what) {
    if (change.u16DescriptorInfoLength > kInlineLoopSize) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
               "%s Length bigger than 188 Bytes! sender descriptor index[%u] not used\r\n\n", what,
               change.u16DescriptorIndex);
        return false;
    }
    std::memset(inlineLoop, 0, kInlineLoopSize);
    std::memcpy(inlineLoop, change.aru8DescriptorInfo, change.u16DescriptorInfoLength);
    length = change.u16DescriptorInfoLength;
    return true;
}

void LogTargetMissing(const MonitorPID_t& change) {
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
           "u8SrcSlot[%d] u16SrcChannel[%d] u16DestChannel[%d] u16PIDID[%d] get u16OutputIndex invalid\r\n\n",
           change.u8SrcSlot, change.u16SrcChannel, change.u16DestChannel, change.u16PIDID);
}

}  // namespace

U32 TSP_ConstructOutputTSByMonitorPID(U8* u8Buffer, U16 u16Length) {
    if (u8Buffer == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (u16Length < sizeof(MonitorPID_t)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "MonitorPID_t data length u16Length[%u] smaller than structure[%u]\r\n\n", u16Length,
               static_cast<unsigned>(sizeof(MonitorPID_t)));
        return kTspErrLength;
    }
    const MonitorPID_t change = Input_Read<MonitorPID_t>(u8Buffer, 0);
    RecordChecks checks(__func__);
    checks.AtMost(0, "u16NewPID", change.u16NewPID, kMaxInputPid);
    checks.AtMost(0, "u16DescriptorInfoLength", change.u16DescriptorInfoLength, kDescriptorLoopSize);
    if (!checks.Passed()) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    if (change.u8PIDType == kMonitorPmt) {
        U16 programIndex = kChainEnd;
        if (const U32 result = TSP_GetOutputProgramIndexByPID(change.u8SrcSlot, change.u16SrcChannel,
                                                              change.u16DestChannel, change.u16PIDID, &programIndex);
            result != 0) {
            return result;
        }
        if (programIndex == kChainEnd) {
            LogTargetMissing(change);
            return VK_ERR_TSP_TS_ERROR;
        }
        Output_TSProgram& program = live->pOutputProgram[programIndex];
        program.u16PMTPID = change.u16NewPID;
        program.u16OldPMTPID = change.u16NewPID;
        TakeMonitorLoop(change, program.aru8ProgramInfo, program.u16ProgramInfoLength, "ProgramInfo");
        program.u8PMTChangeFlag = 1;
        return 0;
    }
    U16 pidIndex = kChainEnd;
    if (const U32 result = TSP_GetOutputPIDIndexByPID(change.u8SrcSlot, change.u16SrcChannel, change.u16DestChannel,
                                                      change.u16PIDID, &pidIndex);
        result != 0) {
        return result;
    }
    if (pidIndex == kChainEnd) {
        LogTargetMissing(change);
        return VK_ERR_TSP_TS_ERROR;
    }
    Output_TSPID& pid = live->pOutputPID[pidIndex];
    if (pid.u8PIDType != change.u8PIDType) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "find u16OutputIndex[%d] error! PID Type not same! old u8PIDType[%d] vs new u8PIDType[%d]\r\n\n",
               pidIndex, pid.u8PIDType, change.u8PIDType);
        return VK_ERR_TSP_TS_ERROR;
    }
    const bool hasProgram = pid.u32ProgramIndex < live->u32OutputProgramNumber &&
                            pid.u8PIDType != PID_TYPE_EMMPID && pid.u8PIDType != PID_TYPE_OTHERPID;
    switch (pid.u8PIDType) {
        case PID_TYPE_PCRPID:
            if (hasProgram) {
                live->pOutputProgram[pid.u32ProgramIndex].u16PCRPID = change.u16NewPID;
                live->pOutputProgram[pid.u32ProgramIndex].u16OldPCRPID = change.u16NewPID;
            }
            break;
        case PID_TYPE_PS_ECMPID:
        case PID_TYPE_ES_ECMPID:
            pid.u16CASID = change.u16CASID;
            break;
        case PID_TYPE_ESPID:
            TakeMonitorLoop(change, pid.aru8ESInfo, pid.u16ESInfoLength, "ESInfo");
            break;
        default:
            break;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
           "PMT monitor modify out pid:old[0x%x] to new[0x%x], StreamType:old[%d] to new[%d]\n", pid.u16OldPID,
           change.u16NewPID, pid.u8StreamType, change.u8StreamType);
    pid.u16OldPID = change.u16NewPID;
    pid.u16PID = change.u16NewPID;
    pid.u16CISrcPID = change.u16NewPID;
    pid.u8StreamType = change.u8StreamType;
    if (hasProgram) {
        live->pOutputProgram[pid.u32ProgramIndex].u8PMTChangeFlag = 1;
    }
    return 0;
}

namespace {

U32 BypassEntry(const char* function, const U8* records, U16 number, U32 length, Passthrough_TSStream* record,
                U16* index) {
    if (const U32 result = Input_CheckCounted(function, records, number, length, sizeof(Passthrough_TSStream),
                                              "Passthrough_TSStream");
        result != 0) {
        return result;
    }
    *record = Input_Read<Passthrough_TSStream>(records, 0);
    return TSP_GetOutputBypassTSIndex(record->u8SourceSlotID, record->u16SourceChannelID, index);
}

}  // namespace

U32 TSP_ConstructOutputTSByAddBypassTs(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    TSP_ModelLock lock;
    Passthrough_TSStream record{};
    U16 index = kChainEnd;
    if (const U32 result = BypassEntry(__func__, u8Buffer, u16Number, u16Length, &record, &index); result != 0) {
        return result;
    }
    Output_TSInfo* live = TSP_GetTSParam();
    if (index == kChainEnd) {
        if (const U32 result = TSP_GetUnusedOutputBypassTsIndex(live, &index); result != 0) {
            return result;
        }
        TSP_InitOneOutputBypassTS(&record);
        live->pOutputBypassTS[index] = record;
        return 0;
    }
    for (U32 word = 0; word < kBypassDestinationWords; ++word) {
        live->pOutputBypassTS[index].aru32BypassDestChannel[word] |= record.aru32BypassDestChannel[word];
    }
    return 0;
}

U32 TSP_ConstructOutputTSByDelBypassTS(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    TSP_ModelLock lock;
    Passthrough_TSStream record{};
    U16 index = kChainEnd;
    if (const U32 result = BypassEntry(__func__, u8Buffer, u16Number, u16Length, &record, &index); result != 0) {
        return result;
    }
    if (index == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "The bypass ts been deleted don't exsit\r\n\n");
        return kTspErrNoProgram;
    }
    for (U32 word = 0; word < kBypassDestinationWords; ++word) {
        TSP_GetTSParam()->pOutputBypassTS[index].aru32BypassDestChannel[word] &= ~record.aru32BypassDestChannel[word];
    }
    return 0;
}

}  // namespace hx

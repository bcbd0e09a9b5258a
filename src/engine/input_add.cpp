// The adding family of input messages: streams (259), programs (260), PIDs
// (261) and program descriptor loops (288). See input_messages.h.
#include <cstdio>

#include "engine/input_common.h"
#include "engine/input_messages.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_pools.h"
#include "engine/model_record_init.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U8 kBytesPerConsoleLine = 20;

// A record whose owner is not in the model is shown on the console as it came.
void PrintSkippedRecord(const U8* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        std::printf("0x%x  ", bytes[i]);
        if ((i + 1) % kBytesPerConsoleLine == 0) {
            std::printf("\n");
        }
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Links `index` behind `last` (0xFFFF: as the head) and counts it.
template <typename SetNext>
void LinkBehind(U16 last, U16 index, U16& head, U16& count, SetNext setNext) {
    if (last == kChainEnd) {
        head = index;
        count = 1;
    } else {
        setNext(last, index);
        ++count;
    }
}

void LinkPidBehind(Output_TSInfo* model, U16 last, U16 index, U16& head, U16& count) {
    LinkBehind(last, index, head, count, [&](U16 at, U16 next) { model->pOutputPID[at].u32NextPIDIndex = next; });
}

}  // namespace

U32 TSP_IsProgramRepeated(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID,
                          BOOL* pbRepeated) {
    if (u8SourceSlotID > kMaxSlot || pbRepeated == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error u8SourceSlotID[%u]\r\n\n", u8SourceSlotID);
        return kTspErrInput;
    }
    U16 index = kChainEnd;
    if (const U32 result =
            TSP_GetOutputProgramIndexByPID(u8SourceSlotID, u16SourceChannelID, u16ChannelID, u16ProgramID, &index);
        result != 0) {
        return result;
    }
    *pbRepeated = index != kChainEnd ? HX_TRUE : HX_FALSE;
    return 0;
}

U32 TSP_ConstructOutputTSByAddTS(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    // A stream may pass a whole input stream through (now or after a web
    // edit): its source goes into a bypass routing word.
    if (const U32 result = Input_CheckMessage<Output_TSStream>(
            __func__, u8Buffer, u16Number, u16Length, "Output_TSStream",
            [](RecordChecks& checks, U16 i, const Output_TSStream& record) {
                checks.AtMost(i, "u8SrcSlotID", record.u8SrcSlotID, kMaxSlot);
                checks.AtMost(i, "u16SrcStreamID", record.u16SrcStreamID, kMaxSourceStream);
            });
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    for (U16 i = 0; i < u16Number; ++i) {
        Output_TSStream record = Input_Read<Output_TSStream>(u8Buffer, i);
        U16 existing = kChainEnd;
        if (const U32 result = TSP_GetOutputTSIndexByTS(record.u16ChannelID, &existing); result != 0) {
            return result;
        }
        if (existing != kChainEnd) {
            continue;  // an existing stream is never overwritten
        }
        U16 slot = kChainEnd;
        if (const U32 result = TSP_GetUnusedOutputTSIndex(live, &slot); result != 0) {
            return result;
        }
        TSP_InitOneOutputTSStream(&record);
        live->pOutputTS[slot] = record;
    }
    return 0;
}

U32 TSP_ConstructOutputTSByAddPrograms(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    if (const U32 result = Input_CheckMessage<Output_TSProgram>(
            __func__, u8Buffer, u16Number, u16Length, "Output_TSProgram",
            [](RecordChecks& checks, U16 i, const Output_TSProgram& record) {
                checks.AtMost(i, "u8SourceSlotID", record.u8SourceSlotID, kMaxSlot);
                checks.AtMost(i, "u8ServiceNameLen", record.u8ServiceNameLen, kMaxNameLength);
                checks.AtMost(i, "u8ServiceProviderLen", record.u8ServiceProviderLen, kMaxNameLength);
                checks.AtMost(i, "u16ProgramInfoLength", record.u16ProgramInfoLength, kDescriptorLoopSize);
                checks.AtMost(i, "u16SDTInfoLength", record.u16SDTInfoLength, kDescriptorLoopSize);
                checks.AtMost(i, "u16OldPMTPID", record.u16OldPMTPID, kMaxInputPid);
                checks.AtMost(i, "u16OldPCRPID", record.u16OldPCRPID, kMaxInputPid);
            });
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    // Every record is checked against the model before any is added; records
    // of one message are not compared with each other.
    for (U16 i = 0; i < u16Number; ++i) {
        const Output_TSProgram record = Input_Read<Output_TSProgram>(u8Buffer, i);
        BOOL repeated = HX_FALSE;
        if (const U32 result = TSP_IsProgramRepeated(record.u8SourceSlotID, record.u16SourceChannelID,
                                                     record.u16ChannelID, record.u16ProgramID, &repeated);
            result != 0) {
            return result;
        }
        if (repeated) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "Program SrcSlot[%u],SrcChannel[%u],DestChannel[%u],OldServiceId[%u]sends repeatly\r\n\n",
                   record.u8SourceSlotID, record.u16SourceChannelID, record.u16ChannelID, record.u16OldServiceID);
            return kTspErrCount;
        }
    }
    Output_TSInfo* live = TSP_GetTSParam();
    IndexInfoList slots;
    if (const U32 result = TSP_GetUnusedOutputProgList(live, u16Number, &slots); result != 0) {
        return result;
    }
    for (U16 i = 0; i < u16Number; ++i) {
        Output_TSProgram program = Input_Read<Output_TSProgram>(u8Buffer, i);
        const U16 slot = slots.aru16IndexList[i];
        U16 ts = kChainEnd;
        if (const U32 result = TSP_GetOutputTSIndexByTS(program.u16ChannelID, &ts); result != 0) {
            return result;
        }
        U16 last = kChainEnd;
        if (ts == kChainEnd) {
            if (const U32 result = TSP_GetUnusedOutputTSIndex(live, &ts); result != 0) {
                return result;
            }
            Output_TSStream stream{};
            TSP_InitOneOutputTSStream(&stream);
            stream.u16NetworkID = 0;
            stream.u8SlotID = program.u8SlotID;
            stream.u16ChannelID = program.u16ChannelID;
            // The customer variant numbers a stream made for a program as the
            // program's record says; otherwise the web sets the IDs later.
            if (IsQuenlorCustom()) {
                stream.u16TransportStreamID = program.u16TransportStreamID;
                stream.u16OriginalNetworkID = program.u16OriginalNetworkID;
            } else {
                stream.u16TransportStreamID = 0;
                stream.u16OriginalNetworkID = 0;
            }
            live->pOutputTS[ts] = stream;
        } else if (const U32 result = Input_AppendPoint(__func__, InputChain::Programs, ts, live, &last);
                   result != 0) {
            return result;
        }
        TSP_InitOneOutputTSProgram(&program);
        program.u16TSIndex = ts;
        program.u16ProgramIndex = slot;
        program.u16NextProgramIndex = kChainEnd;
        live->pOutputProgram[slot] = program;
        Output_TSStream& stream = live->pOutputTS[ts];
        LinkBehind(last, slot, stream.u16ProgramIndex, stream.u16ProgramNum,
                   [&](U16 at, U16 next) { live->pOutputProgram[at].u16NextProgramIndex = next; });
        Input_Appended(InputChain::Programs, ts, slot);
        stream.u8PATChangeFlag = 1;
        stream.u8SDTChangeFlag = 1;
    }
    return 0;
}

namespace {

// Where one PID record goes, by its type. Returns 0 with *skipped set when
// its owner is not in the model.
U32 PlacePid(Output_TSInfo* live, Output_TSPID& pid, U16 slot, bool* skipped) {
    const char* function = "TSP_ConstructOutputTSByAddPIDs";
    *skipped = false;
    auto skip = [&](const char* what) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[TSP_ConstructOutputTSByAddPIDs]%s\r\n\n", what);
        *skipped = true;
        return 0u;
    };
    switch (pid.u8PIDType) {
        case PID_TYPE_PCRPID:
        case PID_TYPE_ESPID:
        case PID_TYPE_PS_ECMPID: {
            U16 programIndex = kChainEnd;
            if (const U32 result = TSP_GetOutputProgramIndexByPID(pid.u8SourceSlotID, pid.u16SourceChannelID,
                                                                  pid.u16ChannelID, pid.u16ProgramID, &programIndex);
                result != 0) {
                return result;
            }
            if (programIndex == kChainEnd) {
                return skip(pid.u8PIDType == PID_TYPE_PCRPID  ? "PCRPID find no Program index"
                            : pid.u8PIDType == PID_TYPE_ESPID ? "ESPID find no Program index"
                                                              : "PS_ECMPID find no Program index");
            }
            pid.u32ProgramIndex = programIndex;
            pid.u32TSIndex = live->pOutputProgram[programIndex].u16TSIndex;
            if (pid.u8PIDType == PID_TYPE_PCRPID) {
                // The program's one PCR link is replaced; the record it named
                // goes, or it would stay valid and routed on no chain.
                const U16 replaced = live->pOutputProgram[programIndex].u16PCRIndex;
                if (replaced < live->u32OutputPIDNumber && replaced != slot &&
                    live->pOutputPID[replaced].u8ValidFlag == kRecordValid &&
                    live->pOutputPID[replaced].u8PIDType == PID_TYPE_PCRPID &&
                    live->pOutputPID[replaced].u32ProgramIndex == programIndex) {
                    ModelPool_FreeRecord(live, ModelPool::Pid, replaced);
                }
                live->pOutputPID[slot] = pid;
                live->pOutputProgram[programIndex].u16PCRIndex = slot;
                return 0;
            }
            const bool es = pid.u8PIDType == PID_TYPE_ESPID;
            const InputChain chain = es ? InputChain::ElementaryStreams : InputChain::ProgramEcms;
            U16 last = kChainEnd;
            if (const U32 result = Input_AppendPoint(function, chain, programIndex, live, &last); result != 0) {
                return result;
            }
            live->pOutputPID[slot] = pid;
            Output_TSProgram& program = live->pOutputProgram[programIndex];
            LinkPidBehind(live, last, slot, es ? program.u16PIDIndex : program.u16PSECMPIDIndex,
                          es ? program.u16ESNumber : program.u16PSECMPIDNumber);
            Input_Appended(chain, programIndex, slot);
            return 0;
        }
        case PID_TYPE_EMMPID:
        case PID_TYPE_OTHERPID: {
            const bool emm = pid.u8PIDType == PID_TYPE_EMMPID;
            U16 ts = kChainEnd;
            if (const U32 result = TSP_GetOutputTSIndexByPID(pid.u16ChannelID, &ts); result != 0) {
                return result;
            }
            if (ts == kChainEnd) {
                return skip(emm ? "EMMPID find no Ts index" : "OTHERPID find no Ts index");
            }
            const InputChain chain = emm ? InputChain::Emms : InputChain::Others;
            U16 last = kChainEnd;
            if (const U32 result = Input_AppendPoint(function, chain, ts, live, &last); result != 0) {
                return result;
            }
            pid.u32TSIndex = ts;
            live->pOutputPID[slot] = pid;
            Output_TSStream& stream = live->pOutputTS[ts];
            if (last == kChainEnd) {
                stream.u8SlotID = pid.u8SlotID;
                stream.u16ChannelID = pid.u16ChannelID;
            }
            LinkPidBehind(live, last, slot, emm ? stream.u16EMMPIDIndex : stream.u16OtherPIDIndex,
                          emm ? stream.u16EMMPIDNumber : stream.u16OtherPIDNum);
            Input_Appended(chain, ts, slot);
            if (emm) {
                stream.u8CATChangeFlag = 1;
            }
            return 0;
        }
        case PID_TYPE_ES_ECMPID: {
            U16 es = kChainEnd;
            if (const U32 result = TSP_GetOutputPIDIndexByPID(pid.u8SourceSlotID, pid.u16SourceChannelID,
                                                              pid.u16ChannelID, pid.u16PIDID, &es);
                result != 0) {
                return result;
            }
            // Only an ES carries an ES-level ECM chain; hung anywhere else the
            // record would sit on no chain its stream's walkers follow.
            if (es == kChainEnd || live->pOutputPID[es].u8PIDType != PID_TYPE_ESPID) {
                return skip("ES_ECMPID find no EsPID index");
            }
            U16 last = kChainEnd;
            if (const U32 result = Input_AppendPoint(function, InputChain::EsEcms, es, live, &last); result != 0) {
                return result;
            }
            Output_TSPID& owner = live->pOutputPID[es];
            pid.u32ProgramIndex = owner.u32ProgramIndex;
            pid.u32TSIndex = owner.u32TSIndex;
            pid.u8PIDType = PID_TYPE_ES_ECMPID;
            pid.u16ESPIDIndex = es;
            live->pOutputPID[slot] = pid;
            LinkPidBehind(live, last, slot, owner.u16ESECMPIDIndex, owner.u16ESECMPIDNumber);
            Input_Appended(InputChain::EsEcms, es, slot);
            return 0;
        }
        default:
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "PID type error,PidType[%u]\r\n\n",
                      pid.u8PIDType);
            return kTspErrCommand;
    }
}

}  // namespace

U32 TSP_ConstructOutputTSByAddPIDs(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    if (const U32 result = Input_CheckMessage<Output_TSPID>(
            __func__, u8Buffer, u16Number, u16Length, "Output_TSPID",
            [](RecordChecks& checks, U16 i, const Output_TSPID& record) {
                checks.AtMost(i, "u8SourceSlotID", record.u8SourceSlotID, kMaxSlot);
                checks.AtMost(i, "u16SrcStreamID", record.u16SrcStreamID, kMaxSourceStream);
                checks.AtMost(i, "u16OldPID", record.u16OldPID, kMaxInputPid);
                checks.AtMost(i, "u16ESInfoLength", record.u16ESInfoLength, kDescriptorLoopSize);
            });
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    IndexInfoList slots;
    if (const U32 result = TSP_GetUnusedOutputPIDIndex(live, u16Number, &slots); result != 0) {
        return result;
    }
    for (U16 i = 0; i < u16Number; ++i) {
        Output_TSPID pid = Input_Read<Output_TSPID>(u8Buffer, i);
        TSP_InitOneOutputTSPID(&pid);
        const U16 slot = slots.aru16IndexList[i];
        pid.u32PIDIndex = slot;
        pid.u32NextPIDIndex = kChainEnd32;
        bool skipped = false;
        if (const U32 result = PlacePid(live, pid, slot, &skipped); result != 0) {
            return result;
        }
        if (skipped) {
            PrintSkippedRecord(u8Buffer + static_cast<std::size_t>(i) * sizeof(Output_TSPID), sizeof(Output_TSPID));
            continue;
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "OutputTS PID type[%u] Index[%u] Pid [%u] has been added \r\n\n",
               pid.u8PIDType, slot, pid.u16PID);
    }
    return 0;
}

U32 TSP_ConstructOutputTSByAddDescriptors(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    // The length becomes the program's 16-bit loop length.
    if (const U32 result = Input_CheckMessage<TSDescriptor>(
            __func__, u8Buffer, u16Number, u16Length, "TSDescriptor",
            [](RecordChecks& checks, U16 i, const TSDescriptor& record) {
                checks.AtMost(i, "u32Length", record.u32Length, kDescriptorLoopSize);
            });
        result != 0) {
        return result;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    for (U16 i = 0; i < u16Number; ++i) {
        TSDescriptor descriptor = Input_Read<TSDescriptor>(u8Buffer, i);
        // The record's u16ProgramIndex carries the input card's program ID.
        const U16 programId = descriptor.u16ProgramIndex;
        U16 programIndex = kChainEnd;
        if (const U32 result = TSP_GetOutputProgramIndexByPID(descriptor.u8SourceSlotID, descriptor.u16SourceChannelID,
                                                              descriptor.u16ChannelID, programId, &programIndex);
            result != 0) {
            return result;
        }
        if (programIndex == kChainEnd) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "Can't find the relevant OutputProgram index, "
                   "u16ProgramID[%u],u8SourceSlotID[%u],u16SourceChannelID[%u],u16ChannelID[%u]\r\n\n",
                   programId, descriptor.u8SourceSlotID, descriptor.u16SourceChannelID, descriptor.u16ChannelID);
            return kTspErrInput;
        }
        if (live->pOutputProgram[programIndex].u16ProgramInfoDescriptorIndex != kChainEnd) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "DescriptorInfo already exist in OutputProgram Index[%u]\r\n", programIndex);
            return kTspErrInput;
        }
        const U16 ts = live->pOutputProgram[programIndex].u16TSIndex;
        U16 last = kChainEnd;
        if (const U32 result = Input_AppendPoint(__func__, InputChain::Descriptors, ts, live, &last); result != 0) {
            return result;
        }
        U16 slot = kChainEnd;
        if (const U32 result = TSP_GetUnusedOutputDescIndex(live, &slot); result != 0) {
            return result;
        }
        TSP_InitOneOutputTSDescriptor(&descriptor);
        descriptor.u16ProgramIndex = programIndex;
        descriptor.u16TSIndex = ts;
        // A program's loop: no ES owns it.
        descriptor.u16PIDIndex = kChainEnd;
        live->pDescriptor[slot] = descriptor;
        Output_TSStream& stream = live->pOutputTS[ts];
        LinkBehind(last, slot, stream.u16DescriptorIndex, stream.u16DescriptorNum,
                   [&](U16 at, U16 next) { live->pDescriptor[at].u16NextDescriptorIndex = next; });
        Input_Appended(InputChain::Descriptors, ts, slot);
        Output_TSProgram& program = live->pOutputProgram[programIndex];
        program.u16ProgramInfoDescriptorIndex = slot;
        program.u16ProgramInfoLength = static_cast<U16>(descriptor.u32Length);
    }
    return 0;
}

}  // namespace hx

// Removal by input key: the delete orders of the input cards and the single
// removals they use. See model_remove.h.
#include <cstdio>

#include "core/err.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_remove.h"
#include "engine/model_unlink.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U8 kPidFilterRemove = 2;

bool SameSource(U8 slot, U16 sourceChannel, U16 channel, U8 recordSlot, U16 recordSourceChannel, U16 recordChannel) {
    return slot == recordSlot && sourceChannel == recordSourceChannel && channel == recordChannel;
}

// The program-info descriptor record of a program, when it names the program back.
bool ProgramDescriptorToFree(const char* function, const Output_TSInfo* model, U16 programIndex, U16* descriptor) {
    *descriptor = model->pOutputProgram[programIndex].u16ProgramInfoDescriptorIndex;
    if (*descriptor == kChainEnd) {
        return false;
    }
    if (*descriptor >= model->u32OutputDescriptorNumber ||
        model->pDescriptor[*descriptor].u8ValidFlag != kRecordValid ||
        model->pDescriptor[*descriptor].u16ProgramIndex != programIndex) {
        LogNoLink(function, "Program descriptor", programIndex, *descriptor);
        return false;
    }
    return true;
}

// Zeroes a stream the input path found empty, after freeing what still hangs on it.
U32 ZeroStream(U16 tsIndex, Output_TSInfo* model, const char* announcement) {
    if (const U32 result = ReleaseStreamContents(tsIndex, model); result != 0) {
        return result;
    }
    ModelPool_FreeRecord(model, ModelPool::Stream, tsIndex);
    PrintStreamDeleted(announcement, tsIndex);
    return 0;
}

// The stream an order names by its destination channel; the order's own
// code and line when there is none.
U32 OrderStream(const char* function, U8 slot, U16 channel, U32 missingCode, const char* missing, U16* tsIndex) {
    if (slot > kMaxSlot) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (const U32 result = TSP_GetOutputTSIndexByTS(channel, tsIndex); result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputTSIndexByTS return error\r\n\n");
        return result;
    }
    if (*tsIndex == kChainEnd) {
        char text[128];
        std::snprintf(text, sizeof text, missing, *tsIndex);
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s", text);
        return missingCode;
    }
    return 0;
}

// The program a program or descriptor order names by its input key.
U32 OrderProgram(const char* function, U8 slot, U16 sourceChannel, U16 channel, U16 programId, U16* programIndex) {
    if (const U32 result = TSP_GetOutputProgramIndexByPID(slot, sourceChannel, channel, programId, programIndex);
        result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputProgramIndexByPID return error\r\n\n");
        return result;
    }
    if (*programIndex == kChainEnd) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "the program being deleted don't exist in outputboard\r\n\n");
        return kTspErrCount;
    }
    return 0;
}

// A program order names its stream by the destination channel and the program
// by its input key; both must be found before anything is removed.
U32 OrderStreamAndProgram(const char* function, U8 slot, U16 sourceChannel, U16 channel, U16 programId, U16* tsIndex,
                          U16* programIndex) {
    if (const U32 result = OrderStream(function, slot, channel, kTspErrCount,
                                       "the program being deleted don't find ts index\r\n\n", tsIndex);
        result != 0) {
        return result;
    }
    return OrderProgram(function, slot, sourceChannel, channel, programId, programIndex);
}

// Pass removal of every other (or EMM) PID of one stream that came from the source.
U32 RemoveSourcePids(const char* function, Output_TSInfo* model, U16 tsIndex, U8 slot, U16 sourceChannel,
                     U16 channel, bool emm) {
    IndexInfoList list;
    const U32 walked = emm ? TSP_GetOutTSEMMPIDIndexList(tsIndex, model, &list)
                           : TSP_GetOutTSOtherPIDIndexList(tsIndex, model, &list);
    if (walked != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n",
                  emm ? "TSP_GetOutTSEMMPIDIndexList" : "TSP_GetOutTSOtherPIDIndexList");
        return walked;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U16 index = list.aru16IndexList[i];
        const Output_TSPID& pid = model->pOutputPID[index];
        if (!SameSource(slot, sourceChannel, channel, pid.u8SourceSlotID, pid.u16SourceChannelID, pid.u16ChannelID)) {
            continue;
        }
        Output_TSStream& ts = model->pOutputTS[tsIndex];
        U16& count = emm ? ts.u16EMMPIDNumber : ts.u16OtherPIDNum;
        if (CountAtZero(function, count, "TS", tsIndex, emm ? "EMMPIDNum" : "OtherPIDNum")) {
            return kTspErrCount;
        }
        U16& head = emm ? ts.u16EMMPIDIndex : ts.u16OtherPIDIndex;
        PassUnlink(
            list, i, pid.u32NextPIDIndex, [&](U16 at) { return model->pOutputPID[at].u32PIDIndex; },
            [&](U16 at, U32 next) { model->pOutputPID[at].u32NextPIDIndex = next; },
            [&](U32 next) { head = static_cast<U16>(next); });
        FreePidRecord(model, index, true);
        --count;
        if (emm) {
            ts.u8CATChangeFlag = 1;
        }
    }
    return 0;
}

}  // namespace

U32 TSP_DelTSInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID) {
    TSP_ModelLock lock;
    U16 tsIndex = kChainEnd;
    if (const U32 result = OrderStream(__func__, u8SourceSlotID, u16ChannelID, kTspErrInput,
                                       "del ts index[%u] is invalid!\r\n\n", &tsIndex);
        result != 0) {
        return result;
    }
    Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list;

    for (const bool emm : {false, true}) {
        if (const U32 result =
                RemoveSourcePids(__func__, model, tsIndex, u8SourceSlotID, u16SourceChannelID, u16ChannelID, emm);
            result != 0) {
            return result;
        }
    }

    if (const U32 result = TSP_GetOutTSNITTableIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSNITTableIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U16 index = list.aru16IndexList[i];
        const TSTable& table = model->pOutputTable[index];
        if (table.u8SlotID != u8SourceSlotID || table.u16ChannelID != u16ChannelID) {
            continue;
        }
        Output_TSStream& ts = model->pOutputTS[tsIndex];
        PassUnlink(
            list, i, table.u16NextIndex, [&](U16 at) { return model->pOutputTable[at].u16Index; },
            [&](U16 at, U32 next) { model->pOutputTable[at].u16NextIndex = static_cast<U16>(next); },
            [&](U32 next) { ts.u16NITIndex = static_cast<U16>(next); });
        FreeTableRecord(model, index, true);
    }

    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U16 index = list.aru16IndexList[i];
        const Output_TSProgram& program = model->pOutputProgram[index];
        if (!SameSource(u8SourceSlotID, u16SourceChannelID, u16ChannelID, program.u8SourceSlotID,
                        program.u16SourceChannelID, program.u16ChannelID)) {
            continue;
        }
        if (CountAtZero(__func__, model->pOutputTS[tsIndex].u16ProgramNum, "TS", tsIndex, "ProgramNum")) {
            return kTspErrCount;
        }
        U16 descriptor = kChainEnd;
        if (ProgramDescriptorToFree(__func__, model, index, &descriptor)) {
            if (const U32 result = TSP_DelOutputDescriptor(descriptor, model); result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor return error\r\n\n");
                return result;
            }
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor Desc[%u] deleted!\r\n\n",
                   descriptor);
        }
        if (const U32 result = TSP_DelAllPIDsInOneProgram(index); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelAllPIDsInOneProgram return error\r\n\n");
            return result;
        }
        Output_TSStream& ts = model->pOutputTS[tsIndex];
        PassUnlink(
            list, i, model->pOutputProgram[index].u16NextProgramIndex,
            [&](U16 at) { return model->pOutputProgram[at].u16ProgramIndex; },
            [&](U16 at, U32 next) { model->pOutputProgram[at].u16NextProgramIndex = static_cast<U16>(next); },
            [&](U32 next) { ts.u16ProgramIndex = static_cast<U16>(next); });
        FreeProgramRecord(model, index, true);
        --ts.u16ProgramNum;
        ts.u8PATChangeFlag = 1;
        ts.u8SDTChangeFlag = 1;
    }

    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    if (list.u16IndexListNum != 0) {
        return 0;
    }
    for (auto walker : {TSP_GetOutTSOtherPIDIndexList, TSP_GetOutTSEMMPIDIndexList}) {
        if (const U32 result = walker(tsIndex, model, &list); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n",
                   walker == TSP_GetOutTSEMMPIDIndexList ? "TSP_GetOutTSEMMPIDIndexList"
                                                          : "TSP_GetOutTSOtherPIDIndexList");
            return result;
        }
        if (list.u16IndexListNum != 0) {
            return 0;
        }
    }
    return ZeroStream(tsIndex, model, "delete ts index[%u]\n");
}

U32 TSP_DelProgramInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID) {
    TSP_ModelLock lock;
    U16 tsIndex = kChainEnd;
    U16 programIndex = kChainEnd;
    if (const U32 result = OrderStreamAndProgram(__func__, u8SourceSlotID, u16SourceChannelID, u16ChannelID,
                                                 u16ProgramID, &tsIndex, &programIndex);
        result != 0) {
        return result;
    }
    const TResource_TS* source = Resource_GetHandle(u8SourceSlotID);
    Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    const U16 position = PositionIn(list, programIndex);
    if (position == list.u16IndexListNum) {
        return 0;
    }
    if (CountAtZero(__func__, model->pOutputTS[tsIndex].u16ProgramNum, "TS", tsIndex, "ProgramNum")) {
        return kTspErrCount;
    }
    if (const U32 result = TSP_DelAllPIDsInOneProgram(programIndex); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelAllPIDsInOneProgram return error\r\n\n");
        return result;
    }
    U16 descriptor = kChainEnd;
    if (ProgramDescriptorToFree(__func__, model, programIndex, &descriptor)) {
        if (const U32 result = TSP_DelOutputDescriptor(descriptor, model); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor Error, return enErrCode[%08x]\r\n\n",
                   result);
            return result;
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor Desc[%u] deleted!\r\n\n", descriptor);
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    const U16 next = model->pOutputProgram[programIndex].u16NextProgramIndex;
    if (position == 0) {
        ts.u16ProgramIndex = next;
    } else {
        model->pOutputProgram[list.aru16IndexList[position - 1]].u16NextProgramIndex = next;
    }
    FreeProgramRecord(model, programIndex, false);
    --ts.u16ProgramNum;
    ts.u8PATChangeFlag = 1;
    ts.u8SDTChangeFlag = 1;

    if (source != nullptr && source->u8MuxPIDEnable != 0) {
        if (TSP_IsOutputTSEmpty(ts)) {
            return ZeroStream(tsIndex, model, "delete ts index[%u]\n");
        }
    } else if (ts.u16ProgramNum == 0) {
        // A source that does not mux PIDs owns the stream through its programs
        // alone; the PIDs left on the stream go with it.
        return ZeroStream(tsIndex, model, "delete ts index[%u] by delete all programs\n");
    }
    return 0;
}

U32 TSP_DelPIDInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16PIDID,
                          U8 u8PIDFilterFlag) {
    TSP_ModelLock lock;
    U16 tsIndex = kChainEnd;
    if (const U32 result = OrderStream(__func__, u8SourceSlotID, u16ChannelID, kTspErrCount,
                                       "the pid being deleted don't find ts index\r\n\n", &tsIndex);
        result != 0) {
        return result;
    }
    U16 pidIndex = kChainEnd;
    if (const U32 result =
            TSP_GetOutputPIDIndexByPID(u8SourceSlotID, u16SourceChannelID, u16ChannelID, u16PIDID, &pidIndex);
        result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputPIDIndexByPID return error\r\n\n");
        return result;
    }
    if (pidIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "the pid being deleted don't exist in outputboard\r\n\n");
        return kTspErrCount;
    }
    Output_TSInfo* model = TSP_GetTSParam();
    Output_TSPID& pid = model->pOutputPID[pidIndex];
    U32 result = 0;
    const char* remover = nullptr;
    // ES and ECM records go only on flag 2; any other flag is kept in the record.
    auto removeOnFlag = [&](const char* name, U32 (*remove)(U16, Output_TSInfo*)) {
        if (u8PIDFilterFlag == kPidFilterRemove) {
            remover = name;
            result = remove(pidIndex, model);
        } else {
            pid.u8PIDFilterFlag = u8PIDFilterFlag;
        }
    };
    switch (pid.u8PIDType) {
        case PID_TYPE_OTHERPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete other pid from input board\r\n\n");
            remover = "TSP_DelOneOutputOtherPID";
            result = TSP_DelOneOutputOtherPID(tsIndex, pidIndex, model);
            break;
        case PID_TYPE_EMMPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete EMM pid from input board\r\n\n");
            remover = "TSP_DelOneOutputEMMPID";
            result = TSP_DelOneOutputEMMPID(tsIndex, pidIndex, model);
            break;
        case PID_TYPE_PCRPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete PCR pid from input board\r\n\n");
            pid.u8PIDFilterFlag = u8PIDFilterFlag;
            break;
        case PID_TYPE_ESPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete ES pid from input board\r\n\n");
            removeOnFlag("TSP_DelOneOutputESPID", TSP_DelOneOutputESPID);
            break;
        case PID_TYPE_PS_ECMPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete PS_ECM pid from input board\r\n\n");
            removeOnFlag("TSP_DelOneOutputPSECMPID", TSP_DelOneOutputPSECMPID);
            break;
        case PID_TYPE_ES_ECMPID:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete ES_ECM pid from input board\r\n\n");
            removeOnFlag("TSP_DelOneOutputESECMPID", TSP_DelOneOutputESECMPID);
            break;
        default:
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "don't support delete the pid %d type %d so far\r\n\n",
                   pid.u16PID, pid.u8PIDType);
            break;
    }
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n", remover);
        return result;
    }
    if (model->pOutputTS[tsIndex].u8ValidFlag == kRecordValid && TSP_IsOutputTSEmpty(model->pOutputTS[tsIndex])) {
        return ZeroStream(tsIndex, model, "delete ts index[%u]\n");
    }
    return 0;
}

U32 TSP_DelDescriptorInfoByInput(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID) {
    TSP_ModelLock lock;
    U16 tsIndex = kChainEnd;
    U16 programIndex = kChainEnd;
    if (const U32 result = OrderStreamAndProgram(__func__, u8SourceSlotID, u16SourceChannelID, u16ChannelID,
                                                 u16ProgramID, &tsIndex, &programIndex);
        result != 0) {
        return result;
    }
    Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    U16 descriptor = kChainEnd;
    if (PositionIn(list, programIndex) == list.u16IndexListNum ||
        !ProgramDescriptorToFree(__func__, model, programIndex, &descriptor)) {
        return 0;
    }
    if (const U32 result = TSP_DelOutputDescriptor(descriptor, model); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor Error, return enErrCode[%08x]\r\n\n",
               result);
        return result;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "TSP_DelOutputDescriptor Desc[%u] deleted!\r\n\n", descriptor);
    return 0;
}

U32 TSP_DelAllPIDsInOneProgram(U16 u16ProgramIndex) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    if (u16ProgramIndex >= model->u32OutputProgramNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    const U16 pcr = model->pOutputProgram[u16ProgramIndex].u16PCRIndex;
    if (pcr == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "u16ProgramIndex[%u] has no pcr\r\n\n", u16ProgramIndex);
    } else if (pcr >= model->u32OutputPIDNumber) {
        LogNoLink(__func__, "Program PCR", u16ProgramIndex, pcr);
    } else {
        FreePidRecord(model, pcr, false);
    }
    IndexInfoList list;
    if (const U32 result = TSP_GetOutProgPSECMPIDIndexList(u16ProgramIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutProgPSECMPIDIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        FreePidRecord(model, list.aru16IndexList[i], false);
    }
    if (const U32 result = TSP_GetOutProgESPIDIndexList(u16ProgramIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutProgESPIDIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U16 es = list.aru16IndexList[i];
        IndexInfoList ecms;
        if (const U32 result = TSP_GetOutESECMPIDIndexList(es, model, &ecms); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutESECMPIDIndexList return error\r\n\n");
            return result;
        }
        for (U16 e = 0; e < ecms.u16IndexListNum; ++e) {
            FreePidRecord(model, ecms.aru16IndexList[e], false);
        }
        // An ES-info loop longer than 188 bytes has a record on the stream's
        // descriptor chain; left there it would outlive its ES.
        const U16 descriptor = model->pOutputPID[es].u16ESInfoDescriptorIndex;
        if (descriptor != kChainEnd) {
            if (descriptor >= model->u32OutputDescriptorNumber ||
                model->pDescriptor[descriptor].u8ValidFlag != kRecordValid ||
                model->pDescriptor[descriptor].u16PIDIndex != es) {
                LogNoLink(__func__, "ES descriptor", es, descriptor);
            } else if (const U32 result = TSP_DelOutputEsDescriptor(descriptor, model); result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputEsDescriptor return error\r\n\n");
                return result;
            }
        }
        FreePidRecord(model, es, false);
    }
    return 0;
}

namespace {

U32 DelOneStreamPid(const char* function, U16 tsIndex, U16 pidIndex, Output_TSInfo* model, bool emm) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (model == nullptr || tsIndex >= model->u32OutputTSNumber || pidIndex >= model->u32OutputPIDNumber) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    IndexInfoList list;
    const U32 result = emm ? TSP_GetOutTSEMMPIDIndexList(tsIndex, model, &list)
                           : TSP_GetOutTSOtherPIDIndexList(tsIndex, model, &list);
    if (result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n",
                  emm ? "TSP_GetOutTSEMMPIDIndexList" : "TSP_GetOutTSOtherPIDIndexList");
        return result;
    }
    const U16 position = PositionIn(list, pidIndex);
    if (position == list.u16IndexListNum) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "the %s pid being deleted don't exist in ts\r\n\n",
                  emm ? "EMM" : "other");
        return kTspErrNotInChain;
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    U16& count = emm ? ts.u16EMMPIDNumber : ts.u16OtherPIDNum;
    if (CountAtZero(function, count, "TS", tsIndex, emm ? "EMMPIDNum" : "OtherPIDNum")) {
        return kTspErrCount;
    }
    const U32 next = model->pOutputPID[pidIndex].u32NextPIDIndex;
    if (position == 0) {
        (emm ? ts.u16EMMPIDIndex : ts.u16OtherPIDIndex) = static_cast<U16>(next);
    } else {
        model->pOutputPID[list.aru16IndexList[position - 1]].u32NextPIDIndex = next;
    }
    FreePidRecord(model, pidIndex, true);
    --count;
    return 0;
}

// Common entry of the ES and ECM removers: model and index checks, the predecessor.
U32 EnterPidRemoval(const char* function, U16 pidIndex, Output_TSInfo* model, U16* previous) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (model == nullptr || pidIndex >= model->u32OutputPIDNumber) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    if (const U32 result = TSP_GetPrevOutputPIDIndex(pidIndex, model, previous); result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "[%s:%d]TSP_GetPrevOutputPID Error:enErrCode[%X],u16OutPIDIndex[%u]\r\n\n", function, __LINE__,
                  result, pidIndex);
        return result;
    }
    return 0;
}

void UnlinkAfter(Output_TSInfo* model, U16 previous, U32 next, U16& head) {
    if (previous == kChainEnd) {
        head = static_cast<U16>(next);
    } else {
        model->pOutputPID[previous].u32NextPIDIndex = next;
    }
}

void RaisePmtChange(Output_TSInfo* model, U32 programIndex) {
    if (programIndex < model->u32OutputProgramNumber) {
        model->pOutputProgram[programIndex].u8PMTChangeFlag = 1;
    }
}

}  // namespace

U32 TSP_DelOneOutputOtherPID(U16 u16OutTSIndex, U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    return DelOneStreamPid(__func__, u16OutTSIndex, u16OutPIDIndex, pstParamTS, false);
}

U32 TSP_DelOneOutputEMMPID(U16 u16OutTSIndex, U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    return DelOneStreamPid(__func__, u16OutTSIndex, u16OutPIDIndex, pstParamTS, true);
}

U32 TSP_DelOneOutputESPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutPIDIndex >= pstParamTS->u32OutputPIDNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    Output_TSInfo* model = pstParamTS;
    IndexInfoList ecms;
    if (const U32 result = TSP_GetOutPIDESECMPIDIndexList(u16OutPIDIndex, model, &ecms); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutPIDESECMPIDIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < ecms.u16IndexListNum; ++i) {
        if (const U32 result = TSP_DelOutputPID(ecms.aru16IndexList[i], model); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]TSP_DelOutputPID Error:enErrCode[%X],ESECM[%u][%u]\r\n\n",
                   __func__, __LINE__, result, i, ecms.aru16IndexList[i]);
            return result;
        }
    }
    U16 previous = kChainEnd;
    if (const U32 result = EnterPidRemoval(__func__, u16OutPIDIndex, model, &previous); result != 0) {
        return result;
    }
    Output_TSPID& es = model->pOutputPID[u16OutPIDIndex];
    // The predecessor walk checked the program index.
    const U16 programIndex = static_cast<U16>(es.u32ProgramIndex);
    Output_TSProgram& program = model->pOutputProgram[programIndex];
    if (CountAtZero(__func__, program.u16ESNumber, "Program", programIndex, "ESNumber")) {
        return kTspErrCount;
    }
    UnlinkAfter(model, previous, es.u32NextPIDIndex, program.u16PIDIndex);
    const U16 descriptor = es.u16ESInfoDescriptorIndex;
    if (descriptor != kChainEnd) {
        if (descriptor >= model->u32OutputDescriptorNumber || model->pDescriptor[descriptor].u8ValidFlag != kRecordValid ||
            model->pDescriptor[descriptor].u16PIDIndex != u16OutPIDIndex) {
            LogNoLink(__func__, "ES descriptor", u16OutPIDIndex, descriptor);
        } else if (const U32 result = TSP_DelOutputEsDescriptor(descriptor, model); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputEsDescriptor return error\r\n\n");
        }
    }
    const U16 outputPid = es.u16PID;
    FreePidRecord(model, u16OutPIDIndex, true);
    --program.u16ESNumber;
    program.u8PMTChangeFlag = 1;
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "ES PID Index[%u] Pid [%u] has been deleted\r\n\n", u16OutPIDIndex,
           outputPid);
    return 0;
}

namespace {

// What sets an ES-level ECM apart from a program-level one: whose chain holds
// it and how the lines name it.
struct EcmOwner {
    U16& head;
    U16& count;
    const char* ownerKind;
    U32 ownerIndex;
    const char* countName;
    const char* pidKind;
};

// Takes an ECM record off its owner's chain, frees it, and marks the
// program's PMT for rebuilding. `previous` is its predecessor on that chain.
U32 RemoveEcm(const char* function, Output_TSInfo* model, U16 index, U16 previous, const EcmOwner& owner) {
    if (CountAtZero(function, owner.count, owner.ownerKind, owner.ownerIndex, owner.countName)) {
        return kTspErrCount;
    }
    const Output_TSPID& ecm = model->pOutputPID[index];
    UnlinkAfter(model, previous, ecm.u32NextPIDIndex, owner.head);
    const U32 programIndex = ecm.u32ProgramIndex;
    const U16 outputPid = ecm.u16PID;
    FreePidRecord(model, index, true);
    --owner.count;
    RaisePmtChange(model, programIndex);
    HX_LOG_AS(function, LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "%s Index[%u] Pid [%u] has been deleted\r\n\n",
              owner.pidKind, index, outputPid);
    return 0;
}

}  // namespace

U32 TSP_DelOneOutputESECMPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    U16 previous = kChainEnd;
    if (const U32 result = EnterPidRemoval(__func__, u16OutPIDIndex, pstParamTS, &previous); result != 0) {
        return result;
    }
    const Output_TSPID& ecm = pstParamTS->pOutputPID[u16OutPIDIndex];
    // The predecessor walk checked the ES index.
    Output_TSPID& es = pstParamTS->pOutputPID[ecm.u16ESPIDIndex];
    return RemoveEcm(__func__, pstParamTS, u16OutPIDIndex, previous,
                     {es.u16ESECMPIDIndex, es.u16ESECMPIDNumber, "ES", ecm.u16ESPIDIndex, "ESECMPIDNumber", "ES_ECMPID"});
}

U32 TSP_DelOneOutputPSECMPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    U16 previous = kChainEnd;
    if (const U32 result = EnterPidRemoval(__func__, u16OutPIDIndex, pstParamTS, &previous); result != 0) {
        return result;
    }
    const U16 programIndex = static_cast<U16>(pstParamTS->pOutputPID[u16OutPIDIndex].u32ProgramIndex);
    Output_TSProgram& program = pstParamTS->pOutputProgram[programIndex];
    return RemoveEcm(__func__, pstParamTS, u16OutPIDIndex, previous,
                     {program.u16PSECMPIDIndex, program.u16PSECMPIDNumber, "Program", programIndex, "PSECMPIDNumber",
                      "PS_ECMPID"});
}

}  // namespace hx

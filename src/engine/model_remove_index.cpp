// Removal by pool index (any model), the predecessor finders and the table
// chains. See model_remove.h.
#include <cstring>

#include "core/err.h"
#include "engine/model_lock.h"
#include "engine/model_remove.h"
#include "engine/model_unlink.h"
#include "engine/model_walkers.h"
#include "si/ca_descriptor.h"

namespace hx {

namespace {

constexpr U16 kNoPcrPid = 0x1FFF;

using Walker = U32 (*)(U16, const Output_TSInfo*, IndexInfoList*);

// The PID chain a PID sits on: its walker and the owner the walker starts from.
struct PidChainOf {
    Walker walker = nullptr;
    U32 owner = 0;
    U32 ownerCount = 0;
    const char* walkerName = "";
};

PidChainOf ChainOfPid(const Output_TSInfo* model, const Output_TSPID& pid) {
    switch (pid.u8PIDType) {
        case PID_TYPE_ESPID:
            return {TSP_GetOutProgESPIDIndexList, pid.u32ProgramIndex, model->u32OutputProgramNumber,
                    "TSP_GetOutProgESPIDIndexList"};
        case PID_TYPE_EMMPID:
            return {TSP_GetOutTSEMMPIDIndexList, pid.u32TSIndex, model->u32OutputTSNumber,
                    "TSP_GetOutTSEMMPIDIndexList"};
        case PID_TYPE_PS_ECMPID:
            return {TSP_GetOutProgPSECMPIDIndexList, pid.u32ProgramIndex, model->u32OutputProgramNumber,
                    "TSP_GetOutProgPSECMPIDIndexList"};
        case PID_TYPE_ES_ECMPID:
            return {TSP_GetOutESECMPIDIndexList, pid.u16ESPIDIndex, model->u32OutputPIDNumber,
                    "TSP_GetOutESECMPIDIndexList"};
        case PID_TYPE_OTHERPID:
            return {TSP_GetOutTSOtherPIDIndexList, pid.u32TSIndex, model->u32OutputTSNumber,
                    "TSP_GetOutTSOtherPIDIndexList"};
        default:
            return {};
    }
}

// Single unlink of a PID: the predecessor's next link, or the owner's head
// (which keeps the low 16 bits of the 32-bit link).
void UnlinkPid(Output_TSInfo* model, U16 previous, U32 next, U16& head) {
    if (previous == kChainEnd) {
        head = static_cast<U16>(next);
    } else {
        model->pOutputPID[previous].u32NextPIDIndex = next;
    }
}

// A descriptor record reached from its owner is freed only when it names that owner back.
bool ProgramDescriptorNamesOwner(const Output_TSInfo* model, U16 descriptor, U16 program) {
    return descriptor < model->u32OutputDescriptorNumber &&
           model->pDescriptor[descriptor].u8ValidFlag == kRecordValid &&
           model->pDescriptor[descriptor].u16ProgramIndex == program;
}

bool EsDescriptorNamesOwner(const Output_TSInfo* model, U16 descriptor, U16 es) {
    return descriptor < model->u32OutputDescriptorNumber &&
           model->pDescriptor[descriptor].u8ValidFlag == kRecordValid &&
           model->pDescriptor[descriptor].u16PIDIndex == es;
}

// Takes the CA descriptors of an ECM out of its owner's loop: inline when the
// loop fits 188 bytes, else in its descriptor record; a loop shortened to 188
// bytes or less moves inline and its record is freed.
struct LoopOwner {
    U8* inlineLoop;
    U16* length;
    U16* descriptorIndex;
    U16 ownerIndex;
    bool program;  // program-info loop, else ES-info loop
};

void RemoveCaDescriptors(Output_TSInfo* model, LoopOwner owner, U16 caPid) {
    const char* function = "TSP_DelOutputPID";
    if (*owner.length <= kInlineLoopSize) {
        U16 length = *owner.length;
        if (const U32 result = TSP_DelCaDescriptors(owner.inlineLoop, &length, kInlineLoopSize, caPid); result != 0) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelCaDescriptors Error:enErrCode[%X]\r\n\n",
                      result);
            return;
        }
        *owner.length = length;
        return;
    }
    const U16 descriptorIndex = *owner.descriptorIndex;
    if (descriptorIndex >= model->u32OutputDescriptorNumber) {
        if (owner.program) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "TSP_DelOutputPID OutProgIndex:%d u16ProInfoDescriptorIndex:%d out of range\r\n\n",
                      owner.ownerIndex, descriptorIndex);
        } else {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "TSP_DelOutputPID OutPidIndex:%d u16PidInfoDescriptorIndex:%d out of range\r\n\n",
                      owner.ownerIndex, descriptorIndex);
        }
        return;
    }
    const bool namesOwner = owner.program ? ProgramDescriptorNamesOwner(model, descriptorIndex, owner.ownerIndex)
                                          : EsDescriptorNamesOwner(model, descriptorIndex, owner.ownerIndex);
    if (!namesOwner) {
        LogNoLink(function, owner.program ? "Program descriptor" : "ES descriptor", owner.ownerIndex, descriptorIndex);
        return;
    }
    TSDescriptor& descriptor = model->pDescriptor[descriptorIndex];
    U16 length = *owner.length;
    if (const U32 result = TSP_DelCaDescriptors(descriptor.u8DescriptorInfo, &length, kDescriptorLoopSize, caPid);
        result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelCaDescriptors Error:enErrCode[%X]\r\n\n",
                  result);
        return;
    }
    *owner.length = length;
    descriptor.u32Length = length;
    if (length > kInlineLoopSize) {
        return;
    }
    std::memset(owner.inlineLoop, 0, kInlineLoopSize);
    std::memcpy(owner.inlineLoop, descriptor.u8DescriptorInfo, length);
    const U32 result = owner.program ? TSP_DelOutputDescriptor(descriptorIndex, model)
                                     : TSP_DelOutputEsDescriptor(descriptorIndex, model);
    if (result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "free descriptor[%u] Error:enErrCode[%X]\r\n\n",
                  descriptorIndex, result);
    }
    // Freeing the record cleared the owner's length; the loop now lives inline.
    *owner.length = length;
}

U32 DelTableChain(const char* function, Walker walker, const char* walkerName, U16 tsIndex, Output_TSInfo* model,
                  U16 Output_TSStream::*head) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (model == nullptr || tsIndex >= model->u32OutputTSNumber) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]Input Error,pstParamTS[%p],u16OutTSIndex[%u]\r\n",
                   function, __LINE__, static_cast<void*>(model), tsIndex);
        return kTspErrInput;
    }
    IndexInfoList list;
    if (const U32 result = walker(tsIndex, model, &list); result != 0) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]%s Error:enErrCode[%X],u16OutTSIndex[%u]\r\n",
                   function, __LINE__, walkerName, result, tsIndex);
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        FreeTableRecord(model, list.aru16IndexList[i], true);
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    if (ts.u8ValidFlag == kRecordValid) {
        ts.*head = kChainEnd;
    }
    return 0;
}

}  // namespace

bool TSP_IsOutputTSEmpty(const Output_TSStream& ts) {
    return ts.u16ProgramNum == 0 && ts.u16OtherPIDNum == 0 && ts.u16EMMPIDNumber == 0;
}

U32 TSP_GetPrevOutputPIDIndex(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevPIDIndex) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pu16PrevPIDIndex == nullptr || u16OutPIDIndex >= pstParamTS->u32OutputPIDNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutPIDIndex[%u]\r\n",
                  static_cast<const void*>(pstParamTS), u16OutPIDIndex);
        return kTspErrInput;
    }
    const Output_TSPID& pid = pstParamTS->pOutputPID[u16OutPIDIndex];
    if (pid.u8PIDType == PID_TYPE_PCRPID) {
        *pu16PrevPIDIndex = kChainEnd;
        return 0;
    }
    const PidChainOf chain = ChainOfPid(pstParamTS, pid);
    if (chain.walker == nullptr) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Error,unknown pid type:u16OutPIDIndex[%u],u8PIDType[%u]\r\n",
                  u16OutPIDIndex, pid.u8PIDType);
        return VK_ERR_TSP_TS_ERROR;
    }
    if (chain.owner >= chain.ownerCount) {
        // Truncating a 32-bit owner link would name some other record.
        LogNoLink(__func__, "PID", u16OutPIDIndex, chain.owner);
        return kTspErrInput;
    }
    IndexInfoList list;
    if (const U32 result = chain.walker(static_cast<U16>(chain.owner), pstParamTS, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s Error:enErrCode[%X],u16OutPIDIndex[%u]\r\n",
                  chain.walkerName, result, u16OutPIDIndex);
        return result;
    }
    if (list.u16IndexListNum == 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetPrevOutputPIDIndex error:u16OutPIDIndex[%u] u16IndexListNum[%u]\r\n", u16OutPIDIndex,
                  list.u16IndexListNum);
        return VK_ERR_TSP_TS_ERROR;
    }
    const U16 position = PositionIn(list, u16OutPIDIndex);
    if (position == list.u16IndexListNum) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetPrevOutputPIDIndex error:u16OutPIDIndex[%u] can't find in stIndexList\r\n", u16OutPIDIndex);
        return VK_ERR_TSP_TS_ERROR;
    }
    *pu16PrevPIDIndex = position == 0 ? kChainEnd : list.aru16IndexList[position - 1];
    return 0;
}

U32 TSP_GetPrevOutputDescIndex(U16 u16OutDescIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevDescIndex) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pu16PrevDescIndex == nullptr ||
        u16OutDescIndex >= pstParamTS->u32OutputDescriptorNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutDescIndex[%u]\r\n",
                  static_cast<const void*>(pstParamTS), u16OutDescIndex);
        return kTspErrInput;
    }
    const TSDescriptor& descriptor = pstParamTS->pDescriptor[u16OutDescIndex];
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSDescIndexList(descriptor.u16TSIndex, pstParamTS, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetOutTSDescIndexList Error:u16OutProgIndex[%u],u16OutTSIndex[%u],enErrCode[%08X]\r\n",
                  descriptor.u16ProgramIndex, descriptor.u16TSIndex, result);
        return result;
    }
    const U16 position = PositionIn(list, u16OutDescIndex);
    if (position == list.u16IndexListNum) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "u16OutDescIndex[%u] not in TS[%u] descriptor list\r\n",
                  u16OutDescIndex, descriptor.u16TSIndex);
        return kTspErrCount;
    }
    *pu16PrevDescIndex = position == 0 ? kChainEnd : list.aru16IndexList[position - 1];
    return 0;
}

U32 TSP_GetPrevOutputProgIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16PrevProgIndex) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pu16PrevProgIndex == nullptr ||
        u16OutProgIndex >= pstParamTS->u32OutputProgramNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutProgIndex[%u]\r\n",
                  static_cast<const void*>(pstParamTS), u16OutProgIndex);
        return kTspErrInput;
    }
    const Output_TSProgram& program = pstParamTS->pOutputProgram[u16OutProgIndex];
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(program.u16TSIndex, pstParamTS, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetOutTSProgIndexList Error:u16OutProgIndex[%u],u16OutTSIndex[%u],enErrCode[%08X]\r\n",
                  u16OutProgIndex, program.u16TSIndex, result);
        return result;
    }
    const U16 position = PositionIn(list, u16OutProgIndex);
    if (position == list.u16IndexListNum) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "u16OutProgIndex[%u] not in TS[%u] program list\r\n",
                  u16OutProgIndex, program.u16TSIndex);
        return VK_ERR_TSP_TS_ERROR;
    }
    *pu16PrevProgIndex = position == 0 ? kChainEnd : list.aru16IndexList[position - 1];
    return 0;
}

U32 TSP_DelOutputPID(U16 u16OutPIDIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutPIDIndex >= pstParamTS->u32OutputPIDNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutProgIndex[%u]\r\n",
                  static_cast<void*>(pstParamTS), u16OutPIDIndex);
        return kTspErrInput;
    }
    Output_TSInfo* model = pstParamTS;
    const U8 type = model->pOutputPID[u16OutPIDIndex].u8PIDType;
    if (type < PID_TYPE_PCRPID || type > PID_TYPE_OTHERPID) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Unknown u8PIDType[%u]\r\n", type);
        return kTspErrInput;
    }
    if (type == PID_TYPE_ESPID) {
        IndexInfoList ecms;
        if (const U32 result = TSP_GetOutESECMPIDIndexList(u16OutPIDIndex, model, &ecms); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "TSP_GetOutESECMPIDIndexList Error:enErrCode[%X],u16OutPIDIndex[%u]\r\n", result,
                      u16OutPIDIndex);
            return result;
        }
        for (U16 i = 0; i < ecms.u16IndexListNum; ++i) {
            if (const U32 result = TSP_DelOutputPID(ecms.aru16IndexList[i], model); result != 0) {
                HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputPID Error:enErrCode[%X],ESECM[%u][%u]\r\n",
                          result, i, ecms.aru16IndexList[i]);
                return result;
            }
        }
    }
    U16 previous = kChainEnd;
    if (const U32 result = TSP_GetPrevOutputPIDIndex(u16OutPIDIndex, model, &previous); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetPrevOutputPIDIndex Error:enErrCode[%X],u16OutPIDIndex[%u]\r\n",
                  result, u16OutPIDIndex);
        return result;
    }
    Output_TSPID& pid = model->pOutputPID[u16OutPIDIndex];
    const U32 next = pid.u32NextPIDIndex;
    switch (type) {
        case PID_TYPE_PCRPID: {
            if (pid.u32ProgramIndex >= model->u32OutputProgramNumber) {
                LogNoLink(__func__, "PCR", u16OutPIDIndex, pid.u32ProgramIndex);
                break;
            }
            Output_TSProgram& program = model->pOutputProgram[pid.u32ProgramIndex];
            program.u16PCRIndex = kChainEnd;
            program.u16PCRPID = kNoPcrPid;
            break;
        }
        case PID_TYPE_ESPID: {
            // The walker that found the predecessor checked the program index.
            const U16 programIndex = static_cast<U16>(pid.u32ProgramIndex);
            Output_TSProgram& program = model->pOutputProgram[programIndex];
            if (CountAtZero(__func__, program.u16ESNumber, "Program", programIndex, "ESNumber")) {
                return kTspErrCount;
            }
            UnlinkPid(model, previous, next, program.u16PIDIndex);
            --program.u16ESNumber;
            const U16 descriptor = pid.u16ESInfoDescriptorIndex;
            if (descriptor != kChainEnd && descriptor < model->u32OutputDescriptorNumber) {
                if (!EsDescriptorNamesOwner(model, descriptor, u16OutPIDIndex)) {
                    LogNoLink(__func__, "ES descriptor", u16OutPIDIndex, descriptor);
                } else if (const U32 result = TSP_DelOutputEsDescriptor(descriptor, model); result != 0) {
                    HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                              "TSP_DelOutputEsDescriptor Error:enErrCode[%X],u16OutDescIndex[%u]\r\n", result,
                              descriptor);
                }
            }
            break;
        }
        case PID_TYPE_EMMPID:
        case PID_TYPE_OTHERPID: {
            const U16 tsIndex = static_cast<U16>(pid.u32TSIndex);
            Output_TSStream& ts = model->pOutputTS[tsIndex];
            const bool emm = type == PID_TYPE_EMMPID;
            U16& count = emm ? ts.u16EMMPIDNumber : ts.u16OtherPIDNum;
            if (CountAtZero(__func__, count, "TS", tsIndex, emm ? "EMMPIDNum" : "OtherPIDNum")) {
                return kTspErrCount;
            }
            UnlinkPid(model, previous, next, emm ? ts.u16EMMPIDIndex : ts.u16OtherPIDIndex);
            --count;
            break;
        }
        case PID_TYPE_PS_ECMPID: {
            const U16 programIndex = static_cast<U16>(pid.u32ProgramIndex);
            Output_TSProgram& program = model->pOutputProgram[programIndex];
            if (CountAtZero(__func__, program.u16PSECMPIDNumber, "Program", programIndex, "PSECMPIDNumber")) {
                return kTspErrCount;
            }
            UnlinkPid(model, previous, next, program.u16PSECMPIDIndex);
            --program.u16PSECMPIDNumber;
            RemoveCaDescriptors(model,
                                LoopOwner{program.aru8ProgramInfo, &program.u16ProgramInfoLength,
                                          &program.u16ProgramInfoDescriptorIndex, programIndex, true},
                                pid.u16OldPID);
            break;
        }
        case PID_TYPE_ES_ECMPID: {
            const U16 esIndex = pid.u16ESPIDIndex;
            Output_TSPID& es = model->pOutputPID[esIndex];
            if (CountAtZero(__func__, es.u16ESECMPIDNumber, "ES", esIndex, "ESECMPIDNumber")) {
                return kTspErrCount;
            }
            UnlinkPid(model, previous, next, es.u16ESECMPIDIndex);
            --es.u16ESECMPIDNumber;
            RemoveCaDescriptors(
                model, LoopOwner{es.aru8ESInfo, &es.u16ESInfoLength, &es.u16ESInfoDescriptorIndex, esIndex, false},
                pid.u16OldPID);
            break;
        }
        default: break;
    }
    FreePidRecord(model, u16OutPIDIndex, false);
    return 0;
}

namespace {

// Unlinks a descriptor record from its stream's chain and frees it; its owner
// (a program for a program-info loop, else an ES) loses the link and the loop
// length when it names the record back.
U32 DelDescriptor(const char* function, U16 index, Output_TSInfo* model, bool programOwner, U32 inputError) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (model == nullptr || index >= model->u32OutputDescriptorNumber) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]Input Error:pstParamTS[%p],u16InDescIndex[%u]\r\n",
                   function, __LINE__, static_cast<void*>(model), index);
        return inputError;
    }
    U16 previous = kChainEnd;
    if (const U32 result = TSP_GetPrevOutputDescIndex(index, model, &previous); result != 0) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "[%s:%d]TSP_GetPrevOutputDescIndex Error:u16OutDescIndex[%u],enErrCode[%08X]\r\n", function,
                   __LINE__, index, result);
        return result;
    }
    TSDescriptor& descriptor = model->pDescriptor[index];
    // The predecessor walk checked the stream index.
    Output_TSStream& ts = model->pOutputTS[descriptor.u16TSIndex];
    if (CountAtZero(function, ts.u16DescriptorNum, "TS", descriptor.u16TSIndex, "DescriptorNum")) {
        return kTspErrCount;
    }
    if (previous == kChainEnd) {
        ts.u16DescriptorIndex = descriptor.u16NextDescriptorIndex;
    } else {
        model->pDescriptor[previous].u16NextDescriptorIndex = descriptor.u16NextDescriptorIndex;
    }
    const U16 owner = programOwner ? descriptor.u16ProgramIndex : descriptor.u16PIDIndex;
    ModelPool_FreeRecord(model, ModelPool::Descriptor, index);
    U16* ownerLink = nullptr;
    U16* ownerLength = nullptr;
    if (programOwner && owner < model->u32OutputProgramNumber) {
        ownerLink = &model->pOutputProgram[owner].u16ProgramInfoDescriptorIndex;
        ownerLength = &model->pOutputProgram[owner].u16ProgramInfoLength;
    } else if (!programOwner && owner < model->u32OutputPIDNumber) {
        ownerLink = &model->pOutputPID[owner].u16ESInfoDescriptorIndex;
        ownerLength = &model->pOutputPID[owner].u16ESInfoLength;
    }
    if (ownerLink != nullptr && *ownerLink == index) {
        *ownerLink = kChainEnd;
        *ownerLength = 0;
    } else {
        LogNoLink(function, "Descriptor owner", index, owner);
    }
    --ts.u16DescriptorNum;
    return 0;
}

}  // namespace

U32 TSP_DelOutputDescriptor(U16 u16OutDescIndex, Output_TSInfo* pstParamTS) {
    return DelDescriptor(__func__, u16OutDescIndex, pstParamTS, true, kTspErrInput);
}

U32 TSP_DelOutputEsDescriptor(U16 u16OutDescIndex, Output_TSInfo* pstParamTS) {
    return DelDescriptor(__func__, u16OutDescIndex, pstParamTS, false, VK_ERR_TSP_TS_ERROR);
}

U32 TSP_DelOutputProg(U16 u16OutProgIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutProgIndex >= pstParamTS->u32OutputProgramNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutProgIndex[%u]\r\n",
                  static_cast<void*>(pstParamTS), u16OutProgIndex);
        return kTspErrInput;
    }
    Output_TSInfo* model = pstParamTS;
    const U16 pcr = model->pOutputProgram[u16OutProgIndex].u16PCRIndex;
    if (pcr < model->u32OutputPIDNumber) {
        if (const U32 result = TSP_DelOutputPID(pcr, model); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputPID PCR Error:enErrCode[%X],u16Index[%u]\r\n",
                      result, pcr);
            return result;
        }
    }
    IndexInfoList list;
    if (const U32 result = TSP_GetOutProgESPIDIndexList(u16OutProgIndex, model, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutProgESPIDIndexList Error:enErrCode[%X],u16OutProgIndex[%u]\r\n",
                  result, u16OutProgIndex);
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (const U32 result = TSP_DelOutputPID(list.aru16IndexList[i], model); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputPID Error:enErrCode[%X],ES[%u][%u]\r\n", result,
                      i, list.aru16IndexList[i]);
            return result;
        }
    }
    if (const U32 result = TSP_GetOutProgPSECMPIDIndexList(u16OutProgIndex, model, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetOutProgPSECMPIDIndexList Error:enErrCode[%X],u16OutProgIndex[%u]\r\n", result,
                  u16OutProgIndex);
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (const U32 result = TSP_DelOutputPID(list.aru16IndexList[i], model); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputPID Error:enErrCode[%X],PSECM[%u][%u]\r\n",
                      result, i, list.aru16IndexList[i]);
            return result;
        }
    }
    const U16 descriptor = model->pOutputProgram[u16OutProgIndex].u16ProgramInfoDescriptorIndex;
    if (descriptor != kChainEnd && descriptor < model->u32OutputDescriptorNumber) {
        if (!ProgramDescriptorNamesOwner(model, descriptor, u16OutProgIndex)) {
            LogNoLink(__func__, "Program descriptor", u16OutProgIndex, descriptor);
        } else if (const U32 result = TSP_DelOutputDescriptor(descriptor, model); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "TSP_DelOutputDescriptor Error: u16OutProgIndex[%u],PSECM u16ProgramInfoDescriptorIndex[%u],"
                   "enErrCode[%08X]\r\n\n",
                   u16OutProgIndex, descriptor, result);
            return result;
        }
    }
    U16 previous = kChainEnd;
    if (const U32 result = TSP_GetPrevOutputProgIndex(u16OutProgIndex, model, &previous); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetPrevOutputProgIndex Error:enErrCode[%X],u16OutProgIndex[%u]\r\n",
                  result, u16OutProgIndex);
        return result;
    }
    Output_TSProgram& program = model->pOutputProgram[u16OutProgIndex];
    Output_TSStream& ts = model->pOutputTS[program.u16TSIndex];
    if (CountAtZero(__func__, ts.u16ProgramNum, "TS", program.u16TSIndex, "ProgramNum")) {
        return kTspErrCount;
    }
    if (previous == kChainEnd) {
        ts.u16ProgramIndex = program.u16NextProgramIndex;
    } else {
        model->pOutputProgram[previous].u16NextProgramIndex = program.u16NextProgramIndex;
    }
    --ts.u16ProgramNum;
    FreeProgramRecord(model, u16OutProgIndex, false);
    return 0;
}

U32 TSP_DelOutputNitTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    return DelTableChain(__func__, TSP_GetOutTSNITTableIndexList, "TSP_GetOutTSNITTableIndexList", u16OutTSIndex,
                         pstParamTS, &Output_TSStream::u16NITIndex);
}

U32 TSP_DelOutputBATTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    return DelTableChain(__func__, TSP_GetOutTSBATTableIndexList, "TSP_GetOutTSBATTableIndexList", u16OutTSIndex,
                         pstParamTS, &Output_TSStream::u16BATIndex);
}

U32 TSP_DelOutputTOTTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    return DelTableChain(__func__, TSP_GetOutTSTOTTableIndexList, "TSP_GetOutTSTOTTableIndexList", u16OutTSIndex,
                         pstParamTS, &Output_TSStream::u16TOTIndex);
}

U32 TSP_DelOutputOtherNitTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    return DelTableChain(__func__, TSP_GetOutTSOtherNitTableIndexList, "TSP_GetOutTSOtherNitTableIndexList",
                         u16OutTSIndex, pstParamTS, &Output_TSStream::u16OtherNITIndex);
}

U32 TSP_DelOutputOtherSdtTable(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    return DelTableChain(__func__, TSP_GetOutTSOtherSdtTableIndexList, "TSP_GetOutTSOtherSdtTableIndexList",
                         u16OutTSIndex, pstParamTS, &Output_TSStream::u16OtherSDTIndex);
}

namespace {

// The table chains TSP_DelOutputTsTable frees, in order; the TDT chain is not one of them.
struct TableChainRemover {
    U32 (*remove)(U16, Output_TSInfo*);
    const char* name;
};
constexpr TableChainRemover kTableChains[] = {
    {TSP_DelOutputNitTable, "TSP_DelOutputNitTable"},
    {TSP_DelOutputBATTable, "TSP_DelOutputBATTable"},
    {TSP_DelOutputTOTTable, "TSP_DelOutputTOTTable"},
    {TSP_DelOutputOtherNitTable, "TSP_DelOutputOtherNitTable"},
    {TSP_DelOutputOtherSdtTable, "TSP_DelOutputOtherSdtTable"},
};

U32 FreeTableChains(U16 tsIndex, Output_TSInfo* model, const char* function) {
    for (const TableChainRemover& chain : kTableChains) {
        if (const U32 result = chain.remove(tsIndex, model); result != 0) {
            log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]%s Error:enErrCode[%X],u16OutTSIndex[%u]\r\n",
                       function, __LINE__, chain.name, result, tsIndex);
            return result;
        }
    }
    return 0;
}

}  // namespace

U32 TSP_DelOutputTsTable(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutputTSIndex >= pstParamTS->u32OutputTSNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (!TSP_IsOutputTSEmpty(pstParamTS->pOutputTS[u16OutputTSIndex])) {
        return 0;
    }
    return FreeTableChains(u16OutputTSIndex, pstParamTS, __func__);
}

U32 TSP_DelOutputTS(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutTSIndex >= pstParamTS->u32OutputTSNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],u16OutTSIndex[%u]\r\n",
                  static_cast<void*>(pstParamTS), u16OutTSIndex);
        return kTspErrInput;
    }
    Output_TSInfo* model = pstParamTS;
    struct PidWalk {
        Walker walker;
        const char* walkerName;
        const char* kind;
    };
    const PidWalk pidWalks[] = {{TSP_GetOutTSEMMPIDIndexList, "TSP_GetOutTSEMMPIDIndexList", "EMM PID"},
                                {TSP_GetOutTSOtherPIDIndexList, "TSP_GetOutTSOtherPIDIndexList", "Other PID"}};
    IndexInfoList list;
    for (const PidWalk& walk : pidWalks) {
        if (const U32 result = walk.walker(u16OutTSIndex, model, &list); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s Error:enErrCode[%X],u16OutTSIndex[%u]\r\n",
                      walk.walkerName, result, u16OutTSIndex);
            return result;
        }
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            if (const U32 result = TSP_DelOutputPID(list.aru16IndexList[i], model); result != 0) {
                HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputPID Error:enErrCode[%X],%s[%u][%u]\r\n",
                          result, walk.kind, i, list.aru16IndexList[i]);
                return result;
            }
        }
    }
    if (const U32 result = TSP_GetOutTSProgIndexList(u16OutTSIndex, model, &list); result != 0) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList Error:enErrCode[%X],u16OutTSIndex[%u]\r\n",
                  result, u16OutTSIndex);
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (const U32 result = TSP_DelOutputProg(list.aru16IndexList[i], model); result != 0) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelOutputProg Error:enErrCode[%X],Program[%u][%u]\r\n",
                      result, i, list.aru16IndexList[i]);
            return result;
        }
    }
    if (TSP_IsOutputTSEmpty(model->pOutputTS[u16OutTSIndex])) {
        TSP_DelOutputTsTable(u16OutTSIndex, model);
        ModelPool_FreeRecord(model, ModelPool::Stream, u16OutTSIndex);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "delete output ts index[%u]\r\n\n", u16OutTSIndex);
    }
    return 0;
}

U32 ReleaseStreamContents(U16 tsIndex, Output_TSInfo* model) {
    const Walker pidWalkers[] = {TSP_GetOutTSOtherPIDIndexList, TSP_GetOutTSEMMPIDIndexList};
    const char* names[] = {"TSP_GetOutTSOtherPIDIndexList", "TSP_GetOutTSEMMPIDIndexList"};
    IndexInfoList list;
    for (int w = 0; w < 2; ++w) {
        if (const U32 result = pidWalkers[w](tsIndex, model, &list); result != 0) {
            HX_LOG_AS("ReleaseStreamContents", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n",
                      names[w]);
            return result;
        }
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            FreePidRecord(model, list.aru16IndexList[i], false);
        }
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    ts.u16OtherPIDNum = 0;
    ts.u16OtherPIDIndex = kChainEnd;
    ts.u16EMMPIDNumber = 0;
    ts.u16EMMPIDIndex = kChainEnd;
    return FreeTableChains(tsIndex, model, "ReleaseStreamContents");
}

}  // namespace hx

#include "engine/model_walkers.h"

#include "core/err.h"
#include "core/log.h"
#include "engine/model_lock.h"

namespace hx {

namespace {

bool Append(IndexInfoList* list, U16 index) {
    if (list->u16IndexListNum >= kIndexListSize) {
        return false;
    }
    list->aru16IndexList[list->u16IndexListNum++] = index;
    return true;
}

struct PidChain {
    U16 count;
    U16 head;
};

// One PID chain: members valid, of `type`, and named by their own index.
U32 WalkPids(const char* function, const Output_TSInfo* model, PidChain chain, U8 type, bool checkStoredIndex,
             IndexInfoList* list) {
    if (chain.count == 0) {
        return 0;
    }
    U32 index = chain.head;
    while (index != kChainEnd && index < model->u32OutputPIDNumber) {
        const Output_TSPID& pid = model->pOutputPID[index];
        if (pid.u8ValidFlag != kRecordValid || pid.u8PIDType != type) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "PID offset[%u] u8ValidFlag[%u] u8PIDType[%u] error\r\n\n", index, pid.u8ValidFlag,
                      pid.u8PIDType);
            return kTspErrInput;
        }
        if (checkStoredIndex && pid.u32PIDIndex > 0xFFFE) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "PID offset[%u] u32PIDIndex[%u] out of range\r\n\n", index, pid.u32PIDIndex);
            return kTspErrRange;
        }
        if (pid.u32PIDIndex != index) {
            // The list names records by their own index; one that disagrees
            // with where the chain found it would send callers elsewhere.
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "PID offset[%u] u32PIDIndex[%u] error\r\n\n",
                      index, pid.u32PIDIndex);
            return kTspErrInput;
        }
        if (!Append(list, static_cast<U16>(pid.u32PIDIndex))) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "IndexListNum[%u] out or range\r\n\n",
                      list->u16IndexListNum);
            return kTspErrRange;
        }
        index = static_cast<U16>(pid.u32NextPIDIndex);
    }
    if (list->u16IndexListNum != chain.count) {
        HX_LOG_AS(function, LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "chain count[%u] but IndexListNum[%u]\r\n\n",
                  chain.count, list->u16IndexListNum);
    }
    return 0;
}

bool BadInput(const char* function, const Output_TSInfo* model, U32 ownerIndex, U32 ownerCount, IndexInfoList* list) {
    if (model == nullptr || list == nullptr || ownerIndex >= ownerCount) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return true;
    }
    list->u16IndexListNum = 0;
    return false;
}

U32 StreamPids(const char* function, U16 tsIndex, const Output_TSInfo* model, IndexInfoList* list, U8 type) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (BadInput(function, model, tsIndex, model ? model->u32OutputTSNumber : 0, list)) {
        return kTspErrInput;
    }
    const Output_TSStream& ts = model->pOutputTS[tsIndex];
    const PidChain chain = type == PID_TYPE_EMMPID ? PidChain{ts.u16EMMPIDNumber, ts.u16EMMPIDIndex}
                                                   : PidChain{ts.u16OtherPIDNum, ts.u16OtherPIDIndex};
    return WalkPids(function, model, chain, type, true, list);
}

U32 ProgramPids(const char* function, U16 programIndex, const Output_TSInfo* model, IndexInfoList* list, U8 type) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (BadInput(function, model, programIndex, model ? model->u32OutputProgramNumber : 0, list)) {
        return kTspErrInput;
    }
    const Output_TSProgram& program = model->pOutputProgram[programIndex];
    const bool es = type == PID_TYPE_ESPID;
    const PidChain chain = es ? PidChain{program.u16ESNumber, program.u16PIDIndex}
                              : PidChain{program.u16PSECMPIDNumber, program.u16PSECMPIDIndex};
    return WalkPids(function, model, chain, type, es, list);
}

enum class TableChain { Nit, Bat, Tot, OtherNit, OtherSdt };

U32 WalkTables(const char* function, TableChain kind, U16 tsIndex, const Output_TSInfo* model, IndexInfoList* list) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (BadInput(function, model, tsIndex, model ? model->u32OutputTSNumber : 0, list)) {
        return kTspErrInput;
    }
    const Output_TSStream& ts = model->pOutputTS[tsIndex];
    if (ts.u8ValidFlag != kRecordValid) {
        // A zeroed stream has table heads 0, which would name table 0.
        return 0;
    }
    const char* kindName = "NITTable";
    U16 head = ts.u16NITIndex;
    switch (kind) {
        case TableChain::Nit: break;
        case TableChain::Bat: kindName = "BATTable"; head = ts.u16BATIndex; break;
        case TableChain::Tot: kindName = "TOTTable"; head = ts.u16TOTIndex; break;
        case TableChain::OtherNit: kindName = "NitOtherTable"; head = ts.u16OtherNITIndex; break;
        case TableChain::OtherSdt: kindName = "SdtOtherTable"; head = ts.u16OtherSDTIndex; break;
    }
    U16 index = head;
    while (index != kChainEnd) {
        if (index >= model->u32OutputTableNumber) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s TS[%u] %s out of range\r\n\n", function,
                      tsIndex, kindName);
            return kTspErrRange;
        }
        const TSTable& table = model->pOutputTable[index];
        if (table.u8ValidFlag != kRecordValid || table.u16Index != index) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s TS[%u] %s[%u] Valid[%u] error\r\n\n",
                      function, tsIndex, kindName, index, table.u8ValidFlag);
            return kTspErrInput;
        }
        if (!Append(list, table.u16Index)) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "%s TS[%u] %s IndexListNum[%u] out or range\r\n\n", function, tsIndex, kindName,
                      list->u16IndexListNum);
            return kTspErrRange;
        }
        index = table.u16NextIndex;
    }
    return 0;
}

template <typename Walker>
U32 LastOf(Walker walker, U16 owner, const Output_TSInfo* model, U16* last) {
    if (last == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    IndexInfoList list;
    if (const U32 result = walker(owner, model, &list); result != 0) {
        return result;
    }
    *last = list.u16IndexListNum == 0 ? kChainEnd : list.aru16IndexList[list.u16IndexListNum - 1];
    return 0;
}

}  // namespace

U32 TSP_GetOutTSProgIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadInput(__func__, pstParamTS, u16OutTSIndex, pstParamTS ? pstParamTS->u32OutputTSNumber : 0,
                 pstIndexInfoList)) {
        return kTspErrInput;
    }
    const Output_TSStream& ts = pstParamTS->pOutputTS[u16OutTSIndex];
    if (ts.u16ProgramNum == 0) {
        return 0;
    }
    if (ts.u16ProgramIndex >= pstParamTS->u32OutputProgramNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TS[%u] u16ProgramIndex[%u] out of range\r\n\n", u16OutTSIndex,
               ts.u16ProgramIndex);
        return kTspErrRange;
    }
    U32 index = ts.u16ProgramIndex;
    while (index != kChainEnd && index < pstParamTS->u32OutputProgramNumber) {
        const Output_TSProgram& program = pstParamTS->pOutputProgram[index];
        if (program.u8ValidFlag != kRecordValid || program.u16ProgramIndex != index) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "Program offset[%u] u8ValidFlag[%u] u16ProgramIndex[%u] error\r\n\n", index, program.u8ValidFlag,
                   program.u16ProgramIndex);
            return kTspErrInput;
        }
        if (!Append(pstIndexInfoList, program.u16ProgramIndex)) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "IndexListNum[%u] out or range\r\n\n",
                   pstIndexInfoList->u16IndexListNum);
            return kTspErrRange;
        }
        index = program.u16NextProgramIndex;
    }
    if (pstIndexInfoList->u16IndexListNum != ts.u16ProgramNum) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "TS[%u] u16ProgramNum[%u] but IndexListNum[%u]\r\n\n",
               u16OutTSIndex, ts.u16ProgramNum, pstIndexInfoList->u16IndexListNum);
    }
    return 0;
}

U32 TSP_GetOutTSEMMPIDIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList) {
    return StreamPids(__func__, u16OutTSIndex, pstParamTS, pstIndexInfoList, PID_TYPE_EMMPID);
}

U32 TSP_GetOutTSOtherPIDIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList) {
    return StreamPids(__func__, u16OutTSIndex, pstParamTS, pstIndexInfoList, PID_TYPE_OTHERPID);
}

U32 TSP_GetOutProgESPIDIndexList(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS,
                                 IndexInfoList* pstIndexInfoList) {
    return ProgramPids(__func__, u16OutProgIndex, pstParamTS, pstIndexInfoList, PID_TYPE_ESPID);
}

U32 TSP_GetOutProgPSECMPIDIndexList(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS,
                                    IndexInfoList* pstIndexInfoList) {
    return ProgramPids(__func__, u16OutProgIndex, pstParamTS, pstIndexInfoList, PID_TYPE_PS_ECMPID);
}

U32 TSP_GetOutESECMPIDIndexList(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadInput(__func__, pstParamTS, u16OutPIDIndex, pstParamTS ? pstParamTS->u32OutputPIDNumber : 0,
                 pstIndexInfoList)) {
        return kTspErrInput;
    }
    const Output_TSPID& es = pstParamTS->pOutputPID[u16OutPIDIndex];
    return WalkPids(__func__, pstParamTS, PidChain{es.u16ESECMPIDNumber, es.u16ESECMPIDIndex}, PID_TYPE_ES_ECMPID,
                    true, pstIndexInfoList);
}

U32 TSP_GetOutTSDescIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pstIndexInfoList == nullptr || u16OutTSIndex >= pstParamTS->u32OutputTSNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n");
        return kTspErrInput;
    }
    pstIndexInfoList->u16IndexListNum = 0;
    const Output_TSStream& ts = pstParamTS->pOutputTS[u16OutTSIndex];
    if (ts.u16DescriptorNum == 0) {
        return 0;
    }
    // Invalid records are skipped, not appended, so the list limit alone does
    // not end a cycle through them: no chain visits more records than the pool has.
    U32 steps = 0;
    U32 index = ts.u16DescriptorIndex;
    while (index != kChainEnd && index < pstParamTS->u32OutputDescriptorNumber) {
        if (++steps > pstParamTS->u32OutputDescriptorNumber) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Too many Desc, TS[%u] chain loops\r\n", u16OutTSIndex);
            return kTspErrRange;
        }
        const TSDescriptor& descriptor = pstParamTS->pDescriptor[index];
        if (descriptor.u8ValidFlag == kRecordValid) {
            if (pstIndexInfoList->u16IndexListNum + 1u >= kIndexListSize) {
                HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Too many Desc, TS[%u]\r\n", u16OutTSIndex);
                return kTspErrRange;
            }
            Append(pstIndexInfoList, static_cast<U16>(index));
        }
        index = descriptor.u16NextDescriptorIndex;
    }
    if (pstIndexInfoList->u16IndexListNum != ts.u16DescriptorNum) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TS[%u] u16DescriptorNum[%u] but IndexListNum[%u]\r\n",
                  u16OutTSIndex, ts.u16DescriptorNum, pstIndexInfoList->u16IndexListNum);
        return kTspErrCount;
    }
    return 0;
}

U32 TSP_GetOutTSNITTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList) {
    return WalkTables(__func__, TableChain::Nit, u16OutTSIndex, pstParamTS, pstIndexInfoList);
}

U32 TSP_GetOutTSBATTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList) {
    return WalkTables(__func__, TableChain::Bat, u16OutTSIndex, pstParamTS, pstIndexInfoList);
}

U32 TSP_GetOutTSTOTTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList) {
    return WalkTables(__func__, TableChain::Tot, u16OutTSIndex, pstParamTS, pstIndexInfoList);
}

U32 TSP_GetOutTSOtherNitTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                       IndexInfoList* pstIndexInfoList) {
    return WalkTables(__func__, TableChain::OtherNit, u16OutTSIndex, pstParamTS, pstIndexInfoList);
}

U32 TSP_GetOutTSOtherSdtTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                       IndexInfoList* pstIndexInfoList) {
    return WalkTables(__func__, TableChain::OtherSdt, u16OutTSIndex, pstParamTS, pstIndexInfoList);
}

U32 TSP_GetOutPIDESECMPIDIndexList(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS,
                                   IndexInfoList* pstIndexInfoList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pstIndexInfoList == nullptr || u16OutPIDIndex >= pstParamTS->u32OutputPIDNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "Input Error:pstIndexList[%p],pstParamTS[%p],u16OutPIDIndex[%u]\r\n",
                  static_cast<void*>(pstIndexInfoList), static_cast<const void*>(pstParamTS), u16OutPIDIndex);
        return kTspErrInput;
    }
    pstIndexInfoList->u16IndexListNum = 0;
    const Output_TSPID& es = pstParamTS->pOutputPID[u16OutPIDIndex];
    if (es.u16ESECMPIDNumber == 0) {
        return 0;
    }
    U32 index = es.u16ESECMPIDIndex;
    while (index < pstParamTS->u32OutputPIDNumber) {
        if (pstIndexInfoList->u16IndexListNum + 1u >= kIndexListSize) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Error:Too many ESECMPID\r\n");
            return kTspErrRange;
        }
        Append(pstIndexInfoList, static_cast<U16>(index));
        index = static_cast<U16>(pstParamTS->pOutputPID[index].u32NextPIDIndex);
    }
    if (pstIndexInfoList->u16IndexListNum != es.u16ESECMPIDNumber) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "Error:ESECMPID Number Not the same,u16IndexListNum[%u],u16ESECMPIDNumber[%u]\r\n",
                  pstIndexInfoList->u16IndexListNum, es.u16ESECMPIDNumber);
        return VK_ERR_TSP_TS_ERROR;
    }
    return 0;
}

U32 TSP_GetOutTSProgLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutTSProgIndexList, u16OutTSIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutTSEMMPIDLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutTSEMMPIDIndexList, u16OutTSIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutTSOtherPIDLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutTSOtherPIDIndexList, u16OutTSIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutProgPIDListLastIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutProgESPIDIndexList, u16OutProgIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutProgPSECMPIDLastIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutProgPSECMPIDIndexList, u16OutProgIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutESECMPIDLastIndex(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutESECMPIDIndexList, u16OutPIDIndex, pstParamTS, pu16LastIndex);
}

U32 TSP_GetOutTSLastDescIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex) {
    return LastOf(TSP_GetOutTSDescIndexList, u16OutTSIndex, pstParamTS, pu16LastIndex);
}

}  // namespace hx

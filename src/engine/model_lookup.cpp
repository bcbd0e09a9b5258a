#include "engine/model_lookup.h"

#include <cstdio>
#include <cstdlib>

#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/model_record_init.h"
#include "engine/model_state.h"
#include "engine/output_model.h"

namespace hx {

namespace {

U32 RefuseNull() {
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
    return kTspErrInput;
}

#if defined(HX_SANITIZED)
// The index must give what the scan it replaces gives.
void CheckAgainstScan(const Output_TSInfo* model, ModelPool pool, std::uint64_t key, U16 indexed) {
    U16 scanned = kChainEnd;
    const U32 count = ModelPool_Count(model, pool);
    for (U32 index = 0; index < count && scanned == kChainEnd; ++index) {
        if (!ModelPool_IsValid(model, pool, index)) {
            continue;
        }
        const std::uint64_t recordKey =
            pool == ModelPool::Program ? ProgramKeyOf(model->pOutputProgram[index]) : PidKeyOf(model->pOutputPID[index]);
        if (recordKey == key) {
            scanned = static_cast<U16>(index);
        }
    }
    if (scanned != indexed) {
        std::fprintf(stderr,
                     "key index gave record %u where the scan gives %u: a record became valid or changed its key "
                     "without ModelPool_RecordsChanged\n",
                     indexed, scanned);
        std::abort();
    }
}
#endif

}  // namespace

U16 ModelLookup_StreamOfChannel(const Output_TSInfo* model, U16 channel) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    for (U32 index = 0; index < model->u32OutputTSNumber; ++index) {
        const Output_TSStream& ts = model->pOutputTS[index];
        if (ts.u8ValidFlag == kRecordValid && ts.u16ChannelID == channel) {
            return static_cast<U16>(index);
        }
    }
    return kChainEnd;
}

U32 TSP_GetOutputTSIndexByTS(U16 u16Channel, U16* pu16TSIndex) {
    if (pu16TSIndex == nullptr) {
        return RefuseNull();
    }
    TSP_ModelLock lock;
    *pu16TSIndex = ModelLookup_StreamOfChannel(TSP_GetTSParam(), u16Channel);
    return 0;
}

U32 TSP_GetOutputTSIndexByPID(U16 u16Channel, U16* pu16TSIndex) {
    if (pu16TSIndex == nullptr) {
        return RefuseNull();
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    U16 index = ModelLookup_StreamOfChannel(model, u16Channel);
    if (index == kChainEnd) {
        if (const U32 result = TSP_GetUnusedOutputTSIndex(model, &index); result != 0) {
            return result;
        }
        Output_TSStream created{};
        TSP_InitOneOutputTSStream(&created);
        created.u16NetworkID = 0;
        created.u16TransportStreamID = 0;
        created.u16OriginalNetworkID = 0;
        // Carrying its channel from the start, the new stream is found by the
        // next lookup of that channel instead of a second one being made.
        created.u16ChannelID = u16Channel;
        model->pOutputTS[index] = created;
    }
    *pu16TSIndex = index;
    return 0;
}

U32 TSP_GetOutputBypassTSIndex(U8 u8SourceSlotID, U16 u16SourceChannelID, U16* pu16Index) {
    if (pu16Index == nullptr) {
        return RefuseNull();
    }
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    *pu16Index = kChainEnd;
    for (U32 index = 0; index < model->u32OutputBypassTSNumber; ++index) {
        const Passthrough_TSStream& bypass = model->pOutputBypassTS[index];
        if (bypass.u8ValidFlag == kRecordValid && bypass.u8SourceSlotID == u8SourceSlotID &&
            bypass.u16SourceChannelID == u16SourceChannelID) {
            *pu16Index = static_cast<U16>(index);
            break;
        }
    }
    return 0;
}

namespace {

// A program or PID of the live model by its key, through the key index.
U32 LookupByKey(ModelPool pool, std::uint64_t key, U16* index) {
    if (index == nullptr) {
        return RefuseNull();
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    *index = pool == ModelPool::Program ? KeyIndex_FindProgram(model, key) : KeyIndex_FindPid(model, key);
#if defined(HX_SANITIZED)
    CheckAgainstScan(model, pool, key, *index);
#endif
    return 0;
}

}  // namespace

U32 TSP_GetOutputProgramIndexByPID(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16ProgramID,
                                   U16* pu16ProgramIndex) {
    return LookupByKey(ModelPool::Program, ProgramKey(u8SourceSlotID, u16SourceChannelID, u16ChannelID, u16ProgramID),
                       pu16ProgramIndex);
}

U32 TSP_GetOutputPIDIndexByPID(U8 u8SourceSlotID, U16 u16SourceChannelID, U16 u16ChannelID, U16 u16PIDID,
                               U16* pu16PIDIndex) {
    return LookupByKey(ModelPool::Pid, PidKey(u8SourceSlotID, u16SourceChannelID, u16ChannelID, u16PIDID),
                       pu16PIDIndex);
}

U32 TSP_GetDestInfoByOutTSIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U8* pu8SlotID, U16* pu16Channel) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pu8SlotID == nullptr || pu16Channel == nullptr ||
        u16OutTSIndex >= pstParamTS->u32OutputTSNumber ||
        pstParamTS->pOutputTS[u16OutTSIndex].u8ValidFlag != kRecordValid) {
        return RefuseNull();
    }
    const Output_TSStream& ts = pstParamTS->pOutputTS[u16OutTSIndex];
    if (ts.u8SlotID > kMaxSlot) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TS[%u] u8SlotID[%u] error\r\n\n", u16OutTSIndex, ts.u8SlotID);
        return kTspErrInput;
    }
    *pu8SlotID = ts.u8SlotID;
    *pu16Channel = ts.u16ChannelID;
    return 0;
}

}  // namespace hx

#include "engine/model_pools.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/err.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_state.h"
#include "engine/output_model.h"
#include "si/si_packet.h"

namespace hx {

namespace {

struct PoolTraits {
    std::size_t recordSize;
    std::size_t validOffset;
    U32 growthStep;
    const char* growName;      // "allocating new [%u] <name> memory ..."
    const char* fullName;      // "... Get no invalid <name>, but the memory is full"
    const char* pointerName;   // "calloc for <pointer> fail ..."
    const char* sizeName;
};

constexpr PoolTraits kTraits[kModelPoolCount] = {
    {sizeof(Output_TSStream), offsetof(Output_TSStream, u8ValidFlag), 16, "TS", "outputTS", "pOutputTS", "TSSize"},
    {sizeof(Output_TSProgram), offsetof(Output_TSProgram, u8ValidFlag), 500, "Pro", "outputProgram", "pOutputProgram",
     "ProgramSize"},
    {sizeof(Output_TSPID), offsetof(Output_TSPID, u8ValidFlag), 1000, "PID", "outputPID", "pOutputPID", "PIDSize"},
    {sizeof(TSTable), offsetof(TSTable, u8ValidFlag), 100, "Table", "outputTable", "pOutputTable", "TableSize"},
    {sizeof(TSDescriptor), offsetof(TSDescriptor, u8ValidFlag), 500, "Descriptor", "outputDescriptor", "pDescriptor",
     "DescriptorSize"},
    {sizeof(Passthrough_TSStream), offsetof(Passthrough_TSStream, u8ValidFlag), 256, "OutputBypassTS", "OutputBypassTS",
     "pOutputBypassTS", "BypassTSSize"},
};

constexpr ModelPool kAllPools[kModelPoolCount] = {ModelPool::Stream, ModelPool::Program,    ModelPool::Pid,
                                                 ModelPool::Table,  ModelPool::Descriptor, ModelPool::Bypass};
// The pools the two models share in kind; the temporary model has no
// pass-through pool.
constexpr ModelPool kFivePools[5] = {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                     ModelPool::Descriptor};

const PoolTraits& Traits(ModelPool pool) { return kTraits[static_cast<std::size_t>(pool)]; }

ModelAllocHook& AllocHook() {
    static ModelAllocHook hook;
    return hook;
}

bool AllocationAllowed(std::size_t bytes) {
    const ModelAllocHook& hook = AllocHook();
    return !hook || hook(bytes);
}

void* PoolPointer(const Output_TSInfo* model, ModelPool pool) {
    switch (pool) {
        case ModelPool::Stream: return model->pOutputTS;
        case ModelPool::Program: return model->pOutputProgram;
        case ModelPool::Pid: return model->pOutputPID;
        case ModelPool::Table: return model->pOutputTable;
        case ModelPool::Descriptor: return model->pDescriptor;
        case ModelPool::Bypass: return model->pOutputBypassTS;
    }
    return nullptr;
}

U32* PoolCountField(Output_TSInfo* model, ModelPool pool) {
    switch (pool) {
        case ModelPool::Stream: return &model->u32OutputTSNumber;
        case ModelPool::Program: return &model->u32OutputProgramNumber;
        case ModelPool::Pid: return &model->u32OutputPIDNumber;
        case ModelPool::Table: return &model->u32OutputTableNumber;
        case ModelPool::Descriptor: return &model->u32OutputDescriptorNumber;
        case ModelPool::Bypass: return &model->u32OutputBypassTSNumber;
    }
    return nullptr;
}

void SetPool(Output_TSInfo* model, ModelPool pool, void* block, U32 count) {
    switch (pool) {
        case ModelPool::Stream: model->pOutputTS = static_cast<Output_TSStream*>(block); break;
        case ModelPool::Program: model->pOutputProgram = static_cast<Output_TSProgram*>(block); break;
        case ModelPool::Pid: model->pOutputPID = static_cast<Output_TSPID*>(block); break;
        case ModelPool::Table: model->pOutputTable = static_cast<TSTable*>(block); break;
        case ModelPool::Descriptor: model->pDescriptor = static_cast<TSDescriptor*>(block); break;
        case ModelPool::Bypass: model->pOutputBypassTS = static_cast<Passthrough_TSStream*>(block); break;
    }
    *PoolCountField(model, pool) = count;
}

U32 CountOf(const TSInfoInitNum& counts, ModelPool pool) {
    switch (pool) {
        case ModelPool::Stream: return counts.u32OutputTSNumber;
        case ModelPool::Program: return counts.u32OutputProgramNumber;
        case ModelPool::Pid: return counts.u32OutputPIDNumber;
        case ModelPool::Table: return counts.u32OutputTableNumber;
        case ModelPool::Descriptor: return counts.u32OutputDescriptorNumber;
        case ModelPool::Bypass: return counts.u32OutputBypassTSNumber;
    }
    return 0;
}

// One step of growth: realloc keeps the records, the new tail is zeroed.
U32 GrowPool(Output_TSInfo* model, ModelPool pool) {
    const PoolTraits& traits = Traits(pool);
    const U32 count = ModelPool_Count(model, pool);
    const U32 newCount = std::min<U32>(count + traits.growthStep, kPoolCapacityLimit);
    void* grown = nullptr;
    if (newCount > count && AllocationAllowed(static_cast<std::size_t>(newCount) * traits.recordSize)) {
        grown = std::realloc(PoolPointer(model, pool), static_cast<std::size_t>(newCount) * traits.recordSize);
    }
    if (grown == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "allocating memory: Get no invalid %s, but the memory is full\r\n\n",
               traits.fullName);
        return kTspErrMemory;
    }
    std::memset(static_cast<U8*>(grown) + static_cast<std::size_t>(count) * traits.recordSize, 0,
                static_cast<std::size_t>(newCount - count) * traits.recordSize);
    SetPool(model, pool, grown, newCount);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "allocating new [%u] %s memory, now total %s number is [%u]\r\n\n",
           newCount - count, traits.growName, traits.growName, newCount);
    return 0;
}

// The first free record at or after `from`, or the pool's count.
U32 ScanFree(const Output_TSInfo* model, ModelPool pool, U32 from) {
    const U32 count = ModelPool_Count(model, pool);
    for (U32 index = from; index < count; ++index) {
        if (!ModelPool_IsValid(model, pool, index)) {
            return index;
        }
    }
    return count;
}

// Where a search may start: every record below it is in use.
U32 SearchStart(Output_TSInfo* model, ModelPool pool) {
    ModelEngineState& state = EngineState(model);
    U32& start = state.freeSearchStart[static_cast<std::size_t>(pool)];
    start = std::min(start, ModelPool_Count(model, pool));
#if defined(HX_SANITIZED)
    const U32 scanned = ScanFree(model, pool, 0);
    if (scanned < start) {
        std::fprintf(stderr,
                     "free search of pool %u starts at %u but record %u is free: a record was freed without "
                     "ModelPool_FreeRecord or ModelPool_RecordsChanged\n",
                     static_cast<unsigned>(pool), start, scanned);
        std::abort();
    }
#endif
    return start;
}

U32 FindOneFree(Output_TSInfo* model, ModelPool pool, U16* pu16Index) {
    if (model == nullptr || pu16Index == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    U32 found = ScanFree(model, pool, SearchStart(model, pool));
    if (found == ModelPool_Count(model, pool)) {
        if (const U32 result = GrowPool(model, pool); result != 0) {
            return result;
        }
    }
    EngineState(model).freeSearchStart[static_cast<std::size_t>(pool)] = found;
    KeyIndex_Pending(model, pool, found);
    *pu16Index = static_cast<U16>(found);
    return 0;
}

U32 Collect(Output_TSInfo* model, ModelPool pool, U16 wanted, IndexInfoList* list) {
    list->u16IndexListNum = 0;
    const U32 count = ModelPool_Count(model, pool);
    for (U32 index = SearchStart(model, pool); index < count && list->u16IndexListNum < wanted; ++index) {
        if (!ModelPool_IsValid(model, pool, index)) {
            list->aru16IndexList[list->u16IndexListNum++] = static_cast<U16>(index);
        }
    }
    return list->u16IndexListNum;
}

U32 FindFreeList(Output_TSInfo* model, ModelPool pool, U16 wanted, IndexInfoList* list, U32 limit,
                 const char* limitText, const char* shortText) {
    if (model == nullptr || list == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    if (wanted == 0) {
        list->u16IndexListNum = 0;
        return 0;
    }
    // The list holds 300 indices: asking for more than that would write past it.
    const U32 refusedAbove = std::min<U32>(limit, kIndexListSize);
    if (wanted > refusedAbove) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s [%d]\r\n\n", limitText, static_cast<int>(refusedAbove));
        return kTspErrInput;
    }
    if (Collect(model, pool, wanted, list) < wanted) {
        if (const U32 result = GrowPool(model, pool); result != 0) {
            return result;
        }
        if (Collect(model, pool, wanted, list) < wanted) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s\r\n\n", shortText);
            return kTspErrCount;
        }
    }
    EngineState(model).freeSearchStart[static_cast<std::size_t>(pool)] = list->aru16IndexList[0];
    for (U16 i = 0; i < list->u16IndexListNum; ++i) {
        KeyIndex_Pending(model, pool, list->aru16IndexList[i]);
    }
    return 0;
}

void ClearFive(Output_TSInfo* model) {
    for (ModelPool pool : kFivePools) {
        SetPool(model, pool, nullptr, 0);
    }
    EngineState_PoolsReplaced(model);
}

void FreeFive(Output_TSInfo* model) {
    for (ModelPool pool : kFivePools) {
        std::free(PoolPointer(model, pool));
    }
}

}  // namespace

std::size_t ModelPool_RecordSize(ModelPool pool) { return Traits(pool).recordSize; }

U32 ModelPool_Count(const Output_TSInfo* model, ModelPool pool) {
    return *PoolCountField(const_cast<Output_TSInfo*>(model), pool);
}

U8* ModelPool_Record(Output_TSInfo* model, ModelPool pool, U32 index) {
    return static_cast<U8*>(PoolPointer(model, pool)) + static_cast<std::size_t>(index) * Traits(pool).recordSize;
}

const U8* ModelPool_Record(const Output_TSInfo* model, ModelPool pool, U32 index) {
    return static_cast<const U8*>(PoolPointer(model, pool)) + static_cast<std::size_t>(index) * Traits(pool).recordSize;
}

bool ModelPool_IsValid(const Output_TSInfo* model, ModelPool pool, U32 index) {
    return index < ModelPool_Count(model, pool) &&
           ModelPool_Record(model, pool, index)[Traits(pool).validOffset] == kRecordValid;
}

void ModelPool_SetAllocHook(ModelAllocHook hook) {
    TSP_ModelLock lock;
    AllocHook() = std::move(hook);
}

bool PoolAllocate(ModelPool pool, U32 count, void** block) {
    *block = nullptr;
    if (count == 0) {
        return true;
    }
    const std::size_t size = Traits(pool).recordSize;
    if (!AllocationAllowed(static_cast<std::size_t>(count) * size)) {
        return false;
    }
    *block = std::calloc(count, size);
    return *block != nullptr;
}

void PoolRelease(void* block) { std::free(block); }

void PoolInstall(Output_TSInfo* model, ModelPool pool, void* block, U32 count) {
    std::free(PoolPointer(model, pool));
    SetPool(model, pool, block, count);
}

void TSP_InitOutputTSInfo() {
    TSP_ModelLock lock;
    ClearFive(TSP_GetTSParam());
    ClearFive(TSP_GetTempTSParam());
    SSD_InitBroadcastSI();
}

U32 TSP_FreeOutputTSInfo() {
    TSP_ModelLock lock;
    FreeFive(TSP_GetTSParam());
    FreeFive(TSP_GetTempTSParam());
    TSP_InitOutputTSInfo();
    return 0;
}

U32 TSP_FactoryOutputTSInfo() {
    TSP_ModelLock lock;
    // Both models' new pools exist before anything is freed, so a failure
    // leaves the board with the models it had.
    void* blocks[2][5] = {};
    for (auto& model : blocks) {
        for (std::size_t i = 0; i < 5; ++i) {
            const ModelPool pool = kFivePools[i];
            if (!PoolAllocate(pool, CountOf(kDefaultPoolCounts, pool), &model[i])) {
                HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "calloc for %s fail,u32Num[%u],%s[%u]\r\n",
                          Traits(pool).pointerName, CountOf(kDefaultPoolCounts, pool), Traits(pool).sizeName,
                          static_cast<unsigned>(Traits(pool).recordSize));
                for (auto& release : blocks) {
                    for (void* block : release) {
                        PoolRelease(block);
                    }
                }
                return VK_ERR_MALLOC_FALIURE;
            }
        }
    }
    TSP_FreeOutputTSInfo();
    Output_TSInfo* models[2] = {TSP_GetTSParam(), TSP_GetTempTSParam()};
    for (std::size_t m = 0; m < 2; ++m) {
        for (std::size_t i = 0; i < 5; ++i) {
            SetPool(models[m], kFivePools[i], blocks[m][i], CountOf(kDefaultPoolCounts, kFivePools[i]));
        }
        EngineState_PoolsReplaced(models[m]);
    }
    return 0;
}

U32 TSP_InitTSInfo(Output_TSInfo* pstParamTS, const TSInfoInitNum* pstTSInfoInitNum) {
    if (pstParamTS == nullptr || pstTSInfoInitNum == nullptr) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],pstTSInfoInitNum[%u]\r\n",
                  static_cast<void*>(pstParamTS),
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pstTSInfoInitNum)));
        return VK_ERR_PARAMS;
    }
    TSP_ModelLock lock;
    U32 counts[kModelPoolCount];
    for (std::size_t i = 0; i < kModelPoolCount; ++i) {
        const U32 asked = CountOf(*pstTSInfoInitNum, kAllPools[i]);
        counts[i] = asked == 0 ? CountOf(kDefaultPoolCounts, kAllPools[i]) : asked;
        if (counts[i] > kPoolCapacityLimit) {
            // Records beyond 65,535 could not be linked: 0xFFFF ends a chain.
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,pstParamTS[%p],pstTSInfoInitNum[%u]\r\n",
                      static_cast<void*>(pstParamTS), counts[i]);
            return VK_ERR_PARAMS;
        }
    }
    void* blocks[kModelPoolCount] = {};
    for (std::size_t i = 0; i < kModelPoolCount; ++i) {
        if (!PoolAllocate(kAllPools[i], counts[i], &blocks[i])) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "calloc for %s fail,u32Num[%u],%s[%u]\r\n",
                      Traits(kAllPools[i]).pointerName, counts[i], Traits(kAllPools[i]).sizeName,
                      static_cast<unsigned>(Traits(kAllPools[i]).recordSize));
            for (void* block : blocks) {
                PoolRelease(block);
            }
            return VK_ERR_MALLOC_FALIURE;
        }
    }
    for (std::size_t i = 0; i < kModelPoolCount; ++i) {
        PoolInstall(pstParamTS, kAllPools[i], blocks[i], counts[i]);
    }
    EngineState_PoolsReplaced(pstParamTS);
    return 0;
}

void ModelPool_FreeAll(Output_TSInfo* model) {
    if (model == nullptr) {
        return;
    }
    for (ModelPool pool : kAllPools) {
        PoolInstall(model, pool, nullptr, 0);
    }
    delete model->pstEngineState;
    model->pstEngineState = nullptr;
}

U32 TSP_GetUnusedOutputTSIndex(Output_TSInfo* pstParamTS, U16* pu16Index) {
    return FindOneFree(pstParamTS, ModelPool::Stream, pu16Index);
}

U32 TSP_GetUnusedOutputDescIndex(Output_TSInfo* pstParamTS, U16* pu16Index) {
    return FindOneFree(pstParamTS, ModelPool::Descriptor, pu16Index);
}

U32 TSP_GetUnusedOutputBypassTsIndex(Output_TSInfo* pstParamTS, U16* pu16Index) {
    return FindOneFree(pstParamTS, ModelPool::Bypass, pu16Index);
}

U32 TSP_GetUnusedOutputProgList(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList) {
    return FindFreeList(pstParamTS, ModelPool::Program, u16Number, pstIndexList, 500, "Need Program Number beyond",
                        "didn't get enouth Unused progList");
}

U32 TSP_GetUnusedOutputPIDIndex(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList) {
    return FindFreeList(pstParamTS, ModelPool::Pid, u16Number, pstIndexList, 1000, "Need PID Number beyond",
                        "didn't get enouth Unused PIDList");
}

U32 ModelPool_GetUnusedTableList(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList) {
    return FindFreeList(pstParamTS, ModelPool::Table, u16Number, pstIndexList, kIndexListSize,
                        "Need Table Number beyond", "didn't get enouth Unused TableList");
}

void ModelPool_FreeRecord(Output_TSInfo* model, ModelPool pool, U32 index) {
    if (model == nullptr || index >= ModelPool_Count(model, pool)) {
        return;
    }
    KeyIndex_Forget(model, pool, index);
    std::memset(ModelPool_Record(model, pool, index), 0, Traits(pool).recordSize);
    U32& start = EngineState(model).freeSearchStart[static_cast<std::size_t>(pool)];
    start = std::min(start, index);
}

void ModelPool_RecordsChanged(Output_TSInfo* model) {
    if (model != nullptr) {
        EngineState_RecordsChanged(model);
    }
}

}  // namespace hx

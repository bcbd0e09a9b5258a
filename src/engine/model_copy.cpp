#include "engine/model_copy.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/model_state.h"
#include "engine/output_model.h"

namespace hx {

namespace {

constexpr ModelPool kCopied[5] = {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                  ModelPool::Descriptor};
constexpr const char* kFullNames[5] = {"outputTS", "outputPro", "outputPID", "outputTable", "outputDescriptor"};

// New blocks for the pools whose count must change, all or none.
struct Resize {
    bool replace[5] = {};
    void* blocks[5] = {};
    U32 counts[5] = {};
};

U32 AllocateResize(Resize& resize) {
    for (std::size_t i = 0; i < 5; ++i) {
        if (resize.replace[i] && !PoolAllocate(kCopied[i], resize.counts[i], &resize.blocks[i])) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "allocating memory: Get no invalid %s, but the memory is full\r\n\n", kFullNames[i]);
            for (void* block : resize.blocks) {
                PoolRelease(block);
            }
            return kTspErrMemory;
        }
    }
    return 0;
}

void InstallResize(Output_TSInfo* model, Resize& resize) {
    for (std::size_t i = 0; i < 5; ++i) {
        if (resize.replace[i]) {
            PoolInstall(model, kCopied[i], resize.blocks[i], resize.counts[i]);
        }
    }
}

// Gives every temporary pool the live pool's count: new zero-filled pools
// where the count differs, all made before any is installed. Which pools were
// replaced is returned in `resize`.
U32 ResizeTemporaryToLive(Output_TSInfo* live, Output_TSInfo* temp, Resize& resize) {
    for (std::size_t i = 0; i < 5; ++i) {
        resize.counts[i] = ModelPool_Count(live, kCopied[i]);
        resize.replace[i] = resize.counts[i] != ModelPool_Count(temp, kCopied[i]);
    }
    if (const U32 result = AllocateResize(resize); result != 0) {
        return result;
    }
    InstallResize(temp, resize);
    return 0;
}

}  // namespace

U32 TSP_InitOutputTempTSInfo() {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    Output_TSInfo* temp = TSP_GetTempTSParam();
    Resize resize;
    if (const U32 result = ResizeTemporaryToLive(live, temp, resize); result != 0) {
        return result;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (!resize.replace[i] && resize.counts[i] != 0) {
            std::memset(ModelPool_Record(temp, kCopied[i], 0), 0, resize.counts[i] * ModelPool_RecordSize(kCopied[i]));
        }
    }
    EngineState_PoolsReplaced(temp);
    return 0;
}

U32 TSP_CopyOutputTempTSInfo() {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    Output_TSInfo* temp = TSP_GetTempTSParam();
    Resize resize;
    if (const U32 result = ResizeTemporaryToLive(live, temp, resize); result != 0) {
        return result;
    }
    for (std::size_t i = 0; i < 5; ++i) {
        if (resize.counts[i] != 0) {
            std::memcpy(ModelPool_Record(temp, kCopied[i], 0), ModelPool_Record(live, kCopied[i], 0),
                        resize.counts[i] * ModelPool_RecordSize(kCopied[i]));
        }
    }
    EngineState_PoolsReplaced(temp);
    EngineState(temp).filledFromLive = true;
    return 0;
}

U32 TSP_CopyOutputTSInfo() {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    Output_TSInfo* temp = TSP_GetTempTSParam();
    if (!EngineState(temp).filledFromLive) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "temporary model not filled from the live model since its pools were made, nothing copied\r\n\n");
        return kTspErrInput;
    }
    Resize resize;
    for (std::size_t i = 0; i < 5; ++i) {
        const U32 tempCount = ModelPool_Count(temp, kCopied[i]);
        resize.replace[i] = ModelPool_Count(live, kCopied[i]) < tempCount;
        resize.counts[i] = tempCount;
    }
    if (const U32 result = AllocateResize(resize); result != 0) {
        return result;
    }
    InstallResize(live, resize);
    for (std::size_t i = 0; i < 5; ++i) {
        const ModelPool pool = kCopied[i];
        const std::size_t size = ModelPool_RecordSize(pool);
        const U32 tempCount = ModelPool_Count(temp, pool);
        const U32 liveCount = ModelPool_Count(live, pool);
        if (tempCount != 0) {
            std::memcpy(ModelPool_Record(live, pool, 0), ModelPool_Record(temp, pool, 0), tempCount * size);
        }
        if (liveCount > tempCount) {
            std::memset(ModelPool_Record(live, pool, tempCount), 0, (liveCount - tempCount) * size);
        }
    }
    EngineState_RecordsChanged(live);
    return 0;
}

}  // namespace hx

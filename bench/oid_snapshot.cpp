// The OID snapshot: the save (copy into the key tree under the model lock,
// then the atomic file write) and the start-up apply (read, parse, rebuild,
// model-file save), on models from the default pool counts (16, 500, 1,000,
// 100, 500, 256 records) up to eight times those, and on the largest model the
// apply pipeline takes (bench/mux_process: 16 streams with a NIT each, 500
// programs with five PIDs each, 32 EMM PIDs). Measured apart: the part that
// holds the model lock, the whole save, the whole apply.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_env.h"

#include "chassis/oid_snapshot.h"
#include "core/file_util.h"
#include "core/run_profile.h"
#include "engine/output_model.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "models/largest_model.h"

namespace hx {
namespace {


void StartOnce() {
    static const bool started = [] {
        static bench::BenchDataRoot dataRoot;
        bench::Bench_StartLog(LOG_LEVEL_WARNING | LOG_LEVEL_ERROR);
        OID_ModifyVersionNumber(kOidBackupVersion);
        return true;
    }();
    (void)started;
}

// Pools of `scale` times the default counts, every byte of every record set
// (0x5A: the valid flags say free, so the engine's lookups index nothing).
U32 ScaledModel(U32 scale) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    const TSInfoInitNum counts{16 * scale, 500 * scale, 1000 * scale, 100 * scale, 500 * scale, 256 * scale};
    if (TSP_InitTSInfo(model, &counts) != 0) {
        return 0;
    }
    U32 records = 0;
    for (const ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                 ModelPool::Descriptor, ModelPool::Bypass}) {
        const U32 count = ModelPool_Count(model, pool);
        std::memset(ModelPool_Record(model, pool, 0), 0x5A, count * ModelPool_RecordSize(pool));
        records += count;
    }
    ModelPool_RecordsChanged(model);
    return records;
}

// The apply pipeline's largest model; its record count.
U32 MaximalModel() {
    if (bench::BuildLargestModel(bench::kLargestModelPrograms) == 0) {
        return 0;
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    U32 records = 0;
    for (const ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                 ModelPool::Descriptor, ModelPool::Bypass}) {
        records += ModelPool_Count(model, pool);
    }
    return records;
}

// Arg 0 is the maximal model; 1 to 8 scale the default counts.
bool Prepare(benchmark::State& state) {
    StartOnce();
    const U32 records = state.range(0) == 0 ? MaximalModel() : ScaledModel(static_cast<U32>(state.range(0)));
    if (records == 0) {
        state.SkipWithError("model not built");
        return false;
    }
    state.SetComplexityN(records);
    state.counters["records"] = records;
    return true;
}

void BM_OidCollectUnderLock(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    for (auto _ : state) {
        AVLTree tree;
        OID_CreateAvlTree(tree);
        {
            TSP_ModelLock lock;
            OID_SetAllValueInAvlTree(tree.get(), TSP_GetTSParam());
        }
        benchmark::DoNotOptimize(tree.get());
        state.PauseTiming();
        destroy_avltree(std::move(tree));
        state.ResumeTiming();
    }
}

void BM_OidSave(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    for (auto _ : state) {
        OIDDATA_Save();
    }
    state.counters["file_bytes"] = static_cast<double>(File_Size(ResolvePath(kOidSnapshotPath)).value_or(0));
}

void BM_OidApply(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    OIDDATA_Save();
    const std::string path = ResolvePath(kOidSnapshotPath);
    const std::vector<U8> file = File_ReadAll(path).value_or(std::vector<U8>{});
    for (auto _ : state) {
        state.PauseTiming();
        File_WriteAtomic(path, file);
        state.ResumeTiming();
        if (OIDDATA_Recovery() != 0) {
            state.SkipWithError("not applied");
            break;
        }
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

#define HX_SCALES Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN)
BENCHMARK(BM_OidCollectUnderLock)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OidCollectUnderLock)->HX_SCALES;
BENCHMARK(BM_OidSave)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OidSave)->HX_SCALES;
BENCHMARK(BM_OidApply)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OidApply)->HX_SCALES;

}  // namespace
}  // namespace hx

// Conflict resolution of the model the input-message benchmark builds (three
// sources per stream numbering their programs and PIDs alike, so two of three
// programs are renumbered), from an eighth of the apply's largest model (500
// programs) to 4,784 programs, 299 per stream. Measured: the pass the apply
// runs, whose PID map follows each renumbering, against the pass that
// rebuilds the map for every record; and the ATSC pass with channel numbers.
// Each iteration resolves the same unresolved model, restored from a copy.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "core/log.h"
#include "engine/conflict_process.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "support/input_card_model.h"
#include "support/model_checker.h"
#include "support/resolution_checker.h"

namespace hx {
namespace {

// The record-by-record method over every stream of the live model.
U32 ResolveRecordByRecord() {
    Output_TSInfo* live = TSP_GetTSParam();
    for (U32 index = 0; index < live->u32OutputTSNumber; ++index) {
        if (live->pOutputTS[index].u8ValidFlag != kRecordValid) {
            continue;
        }
        const U16 ts = static_cast<U16>(index);
        if (const U32 result = TSP_AddOutputTSHandleServID(ts, live); result != 0) {
            return result;
        }
        if (const U32 result = TSP_AddOutputTSHandlePidPerRecord(ts, live); result != 0) {
            return result;
        }
    }
    return 0;
}

// Builds the model and keeps the unresolved copy in the temporary model.
bool Prepare(benchmark::State& state, bool atsc) {
    Log_SetConsoleSink([](std::string_view) {});
    GetQAMPara_Handle()->Standard.value = atsc ? 1 : 0;
    const test::InputCardModel model = test::MakeInputCardModel(static_cast<U32>(state.range(0)));
    TSP_ModelLock lock;
    if (TSP_FactoryOutputTSInfo() != 0 || test::SendInputCardMessages(model.build) != 0 ||
        TSP_InitOutputTempTSInfo() != 0) {
        state.SkipWithError("model not built");
        return false;
    }
    TSP_CopyOutputTempTSInfo();
    state.SetComplexityN(static_cast<int64_t>(model.records));
    state.counters["records"] = static_cast<double>(model.records);
    return true;
}

void Resolve(benchmark::State& state, bool atsc, U32 (*resolve)()) {
    if (!Prepare(state, atsc)) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        TSP_ModelLock lock;
        TSP_CopyOutputTSInfo();
        state.ResumeTiming();
        if (resolve() != 0) {
            state.SkipWithError("resolution failed");
            break;
        }
    }
    TSP_ModelLock lock;
    if (const auto violations = test::CheckResolved(*TSP_GetTSParam(), atsc && resolve == TSP_ConflictProcess);
        !violations.empty()) {
        std::fprintf(stderr, "%s", test::DescribeViolations(violations).substr(0, 2000).c_str());
        state.SkipWithError("resolved model breaks a promise");
    }
    GetQAMPara_Handle()->Standard.value = 0;
}

void BM_Resolve(benchmark::State& state) { Resolve(state, false, TSP_ConflictProcess); }
void BM_ResolveRecordByRecord(benchmark::State& state) { Resolve(state, false, ResolveRecordByRecord); }
void BM_ResolveAtsc(benchmark::State& state) { Resolve(state, true, TSP_ConflictProcess); }

void Sizes(benchmark::internal::Benchmark* benchmark) {
    for (int programs : {62, 125, 250, 500, 1000, 2000, 4784}) {
        benchmark->Arg(programs);
    }
    benchmark->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_Resolve)->Apply(Sizes);
BENCHMARK(BM_ResolveRecordByRecord)->Apply(Sizes);
BENCHMARK(BM_ResolveAtsc)->Arg(500)->Arg(4784)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hx

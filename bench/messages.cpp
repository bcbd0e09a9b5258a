// Input-card configuration messages at the sizes the board meets: the whole
// model built from messages of at most 5,120 data bytes as the dispatcher
// delivers them (programs, PIDs, program-info loops, NIT sections), then
// removed again by delete orders. The argument is the number of programs over
// 16 streams, from an eighth of the apply's largest model (500) to 4,784, 299
// per stream, the most a walkable model holds (a stream's descriptor chain
// stops at 299). Every built model is checked by the invariant checker.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "bench_env.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "support/input_card_model.h"
#include "support/model_checker.h"

namespace hx {
namespace {

// The log as on the card, taking warnings and errors only, its outputs
// dropped (the input path's INFO lines are not taken); every source card muxes
// PIDs, so a stream stays until its last PID goes; delete orders are announced
// on standard output, kept out of the report.
class Quiet {
public:
    Quiet() : saved_(dup(STDOUT_FILENO)) {
        static const bool logStarted = [] {
            static bench::BenchDataRoot dataRoot;
            bench::Bench_StartLog(LOG_LEVEL_WARNING | LOG_LEVEL_ERROR);
            return true;
        }();
        (void)logStarted;
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
        }
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~Quiet() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

bool Fresh(benchmark::State& state) {
    if (TSP_FactoryOutputTSInfo() != 0) {
        state.SkipWithError("no model");
        return false;
    }
    return true;
}

bool Built(benchmark::State& state, const test::InputCardModel& model) {
    TSP_ModelLock lock;
    if (!Fresh(state) || test::SendInputCardMessages(model.build) != 0) {
        state.SkipWithError("model not built");
        return false;
    }
    if (const auto violations = test::CheckModel(*TSP_GetTSParam()); !violations.empty()) {
        std::fprintf(stderr, "%s", test::DescribeViolations(violations).substr(0, 2000).c_str());
        state.SkipWithError("model built broken");
        return false;
    }
    return true;
}

void BM_BuildByMessages(benchmark::State& state) {
    Quiet quiet;
    const test::InputCardModel model = test::MakeInputCardModel(static_cast<U32>(state.range(0)));
    if (!Built(state, model)) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        TSP_ModelLock lock;
        if (!Fresh(state)) {
            break;
        }
        state.ResumeTiming();
        if (test::SendInputCardMessages(model.build) != 0) {
            state.SkipWithError("build failed");
            break;
        }
    }
    state.SetComplexityN(static_cast<int64_t>(model.records));
    state.counters["records"] = static_cast<double>(model.records);
    state.counters["messages"] = static_cast<double>(model.build.size());
}

void BM_RemoveByDeleteOrders(benchmark::State& state) {
    Quiet quiet;
    const test::InputCardModel model = test::MakeInputCardModel(static_cast<U32>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        if (!Built(state, model)) {
            break;
        }
        state.ResumeTiming();
        TSP_ModelLock lock;
        if (test::SendInputCardMessages(model.remove) != 0 ||
            ModelLookup_StreamOfChannel(TSP_GetTSParam(), 0) != 0xFFFF) {
            state.SkipWithError("removal failed");
            break;
        }
    }
    state.SetComplexityN(static_cast<int64_t>(model.records));
    state.counters["messages"] = static_cast<double>(model.remove.size());
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    for (int programs : {62, 125, 250, 500, 1000, 2000, 4784}) {
        benchmark->Arg(programs);
    }
    benchmark->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_BuildByMessages)->Apply(Sizes);
BENCHMARK(BM_RemoveByDeleteOrders)->Apply(Sizes);

}  // namespace
}  // namespace hx

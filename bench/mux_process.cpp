// The apply pipeline on the largest model the hardware tables take: 16
// streams with a NIT each, 500 programs (the default pool) each routing a
// video PID that carries its PCR and three more PIDs, and 32 EMM PIDs, so
// 2,032 routed PIDs plus the 16 EIT entries of an EIT board fill the mux
// table's 2,048. Ranged by programs from an eighth of that to full, against
// the simulated main FPGA. Measured: the whole pipeline, and apart its steps
// (conflict resolution, both table builds, the downloads, SI regeneration)
// and the model-file save.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_env.h"

#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "chassis/param_store.h"
#include "engine/conflict_process.h"
#include "engine/mux_lut.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "si/si_regeneration.h"
#include "sim/main_fpga.h"
#include "models/largest_model.h"

namespace hx {
namespace {

U32 BuildModel(U32 programs) { return bench::BuildLargestModel(programs); }

// The apply ends by saving the model file, into a temporary data root, so
// the host's own folders are never written. The log takes warnings and errors
// only: the download's and the SI builders' INFO lines are dropped.
bool Prepare(benchmark::State& state) {
    static const bool logStarted = [] {
        static bench::BenchDataRoot dataRoot;
        bench::Bench_StartLog(LOG_LEVEL_WARNING | LOG_LEVEL_ERROR);
        return true;
    }();
    (void)logStarted;
    static auto fpga = std::make_shared<sim::MainFpga>(sim::MainFpgaConfig{});
    REG_AttachBus(fpga);
    Resource_Reset();
    TResource_TS* eit = Resource_GetHandle(5);
    eit->u8BoardType = kEitBoardType;
    eit->u8EitEnable = 1;
    GetQAMPara_Handle()->Standard.value = 0;
    const U32 routed = BuildModel(static_cast<U32>(state.range(0)));
    if (routed == 0 || TSP_MuxProcess() != 0) {
        state.SkipWithError("model not built");
        return false;
    }
    state.SetComplexityN(state.range(0));
    state.counters["routed"] = routed;
    return true;
}

template <U32 (*Step)()>
void Run(benchmark::State& state) {
    if (!Prepare(state)) {
        return;
    }
    for (auto _ : state) {
        TSP_ModelLock lock;
        if (Step() != 0) {
            state.SkipWithError("step failed");
            break;
        }
    }
}

U32 BuildTables() {
    static MuxLutTable mux;
    BypassLutTable bypass;
    const U32 rc = TSP_BuildOutputLUT(&mux);
    return rc != 0 ? rc : TSP_BuildByPassOutputLUT(&bypass);
}
U32 Download() {
    TSP_SendOutputLUT();
    return TSP_SendByPassOutputLUT();
}

void BM_MuxProcess(benchmark::State& state) { Run<TSP_MuxProcess>(state); }
void BM_ConflictProcess(benchmark::State& state) { Run<TSP_ConflictProcess>(state); }
void BM_BuildTables(benchmark::State& state) { Run<BuildTables>(state); }
void BM_DownloadTables(benchmark::State& state) { Run<Download>(state); }
void BM_MuxOutputAllSI(benchmark::State& state) { Run<TSP_MuxOutputAllSI>(state); }
void BM_ModelSave(benchmark::State& state) { Run<PARAMS_TSPParametersSave>(state); }

#define HX_RANGE Arg(62)->Arg(125)->Arg(250)->Arg(500)->Unit(benchmark::kMillisecond)->Complexity()
BENCHMARK(BM_MuxProcess)->HX_RANGE;
BENCHMARK(BM_ConflictProcess)->HX_RANGE;
BENCHMARK(BM_BuildTables)->HX_RANGE;
BENCHMARK(BM_DownloadTables)->HX_RANGE;
BENCHMARK(BM_MuxOutputAllSI)->HX_RANGE;
BENCHMARK(BM_ModelSave)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hx

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
#include "support/model_builder.h"

namespace hx {
namespace {

constexpr U16 kStreams = 16;
constexpr U32 kFullPrograms = 500;
constexpr U32 kFullEmms = 32;

std::vector<U8> NitOf(U16 networkId) {
    std::vector<U8> section = {0x40, 0xF0, 0x0D, static_cast<U8>(networkId >> 8), static_cast<U8>(networkId),
                               0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x00};
    section[2] = static_cast<U8>(section.size() + 4 - 3);
    const U32 crc = Common_CRC(section, kCrcInitMpeg2);
    section.resize(section.size() + 4);
    PutBe32(&section[section.size() - 4], crc);
    return section;
}

// The model of `programs` programs; the number of routed PIDs.
U32 BuildModel(U32 programs) {
    TSP_ModelLock lock;
    if (TSP_FactoryOutputTSInfo() != 0) {
        return 0;
    }
    Output_TSInfo* model = TSP_GetTSParam();
    test::ModelBuilder builder(model);
    std::array<U16, kStreams> streams{};
    for (U16 c = 0; c < kStreams; ++c) {
        streams[c] = builder.AddStream(c);
        const std::vector<U8> nit = NitOf(c);
        std::vector<TSTable> records;
        TSP_SectionsToRecords(nit.data(), static_cast<U32>(nit.size()), kNitTableId, kNitTableType, 0, c, streams[c],
                              records);
        TSP_ReplaceTableChain(model, streams[c], TableChainHead::Nit, records);
        model->pOutputTS[streams[c]].u8NITGenerate = 1;
    }
    U32 routed = 0;
    for (U32 p = 0; p < programs; ++p) {
        const U16 c = static_cast<U16>(p % kStreams);
        const U8 slot = static_cast<U8>(1 + p % 8);
        const U16 id = static_cast<U16>(p + 1);
        const U16 base = static_cast<U16>(0x100 + 8 * (p / kStreams));
        const U16 program = builder.AddProgram(
            streams[c], test::ProgramSpec{.sourceSlot = slot, .programId = id, .serviceId = id, .pmtPid = base,
                                          .pcrPid = static_cast<U16>(base + 1)});
        builder.AddPid(PID_TYPE_PCRPID, program,
                       test::PidSpec{.sourceSlot = slot, .key = static_cast<U16>(4 * id), .pid = static_cast<U16>(base + 1)});
        for (U16 e = 1; e <= 4; ++e) {
            builder.AddPid(PID_TYPE_ESPID, program,
                           test::PidSpec{.sourceSlot = slot, .key = static_cast<U16>(4 * id + e),
                                         .pid = static_cast<U16>(base + e), .streamType = e == 1 ? U8{0x02} : U8{0x04}});
        }
        routed += 4;
    }
    const U32 emms = kFullEmms * programs / kFullPrograms;
    for (U32 e = 0; e < emms; ++e) {
        const U16 emm = builder.AddPid(PID_TYPE_EMMPID, streams[e % kStreams],
                                       test::PidSpec{.sourceSlot = 9, .key = static_cast<U16>(60000 + e),
                                                     .pid = static_cast<U16>(0x1F00 + e)});
        model->pOutputPID[emm].u16CASID = 0x0B00;
        ++routed;
    }
    return routed;
}

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

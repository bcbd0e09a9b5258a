// The output model store at the sizes the board meets: building a model the
// way input-card messages do (free-slot finders, key lookups, appends behind a
// chain's last member), removing it all again by input orders, and the two
// copies between the live and the temporary model.
//
// The argument is the number of programs over 16 streams: 500 is the largest
// model the apply handles (with 2,032 PIDs, a descriptor record per program
// and a NIT per stream); the range runs from an eighth of it to 4,800, the
// walkers' limit of 300 programs per stream. Every model is checked by the
// invariant checker before it is measured.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "support/model_builder.h"
#include "support/model_checker.h"

namespace hx {
namespace {

constexpr U16 kStreams = 16;
constexpr U8 kSources[] = {3, 5, 7};
constexpr U16 kProgramsPerMessage = 5;  // 5,120 data bytes carry five 920-byte programs
constexpr U16 kPidsPerMessage = 13;     // ... or thirteen 372-byte PIDs

struct ProgramKey {
    U8 slot;
    U16 channel;
    U16 programId;
};

U16 PidBase(U16 programId) { return static_cast<U16>(0x40 + 4 * programId); }

// Feeds the live model as input cards do; the caller holds the model lock.
class InputCards {
public:
    explicit InputCards(U32 programs) {
        for (U32 i = 0; i < programs; ++i) {
            keys_.push_back({kSources[i % 3], static_cast<U16>(i % kStreams), static_cast<U16>(i + 1)});
        }
    }

    const std::vector<ProgramKey>& keys() const { return keys_; }

    bool Build() {
        Output_TSInfo* live = TSP_GetTSParam();
        for (std::size_t first = 0; first < keys_.size(); first += kProgramsPerMessage) {
            const std::size_t count = std::min<std::size_t>(kProgramsPerMessage, keys_.size() - first);
            if (!AddPrograms(live, first, count)) {
                return false;
            }
        }
        // Per program: PCR, video, audio, program ECM.
        std::vector<std::pair<PIDTYPE_E, std::size_t>> pids;
        for (std::size_t p = 0; p < keys_.size(); ++p) {
            for (PIDTYPE_E type : {PID_TYPE_PCRPID, PID_TYPE_ESPID, PID_TYPE_ESPID, PID_TYPE_PS_ECMPID}) {
                pids.emplace_back(type, p);
            }
        }
        for (std::size_t first = 0; first < pids.size(); first += kPidsPerMessage) {
            const std::size_t count = std::min<std::size_t>(kPidsPerMessage, pids.size() - first);
            if (!AddPids(live, pids, first, count)) {
                return false;
            }
        }
        test::ModelBuilder builder(live);
        std::vector<U8> loop(200, 0);
        loop[0] = 0x0A;
        loop[1] = 198;
        for (const ProgramKey& key : keys_) {
            U16 program = 0;
            if (TSP_GetOutputProgramIndexByPID(key.slot, 0, key.channel, key.programId, &program) != 0 ||
                builder.AddProgramDescriptor(program, loop) == kChainEnd) {
                return false;
            }
        }
        for (U16 channel = 0; channel < kStreams; ++channel) {
            U16 ts = 0;
            TSP_GetOutputTSIndexByTS(channel, &ts);
            const U16 emm = builder.AddPid(PID_TYPE_EMMPID, ts, {3, 0, static_cast<U16>(0x1F00 + channel), 0x1F00});
            const U16 other = builder.AddPid(PID_TYPE_OTHERPID, ts, {3, 0, static_cast<U16>(0x1E00 + channel), 0x1E00});
            if (emm == kChainEnd || other == kChainEnd ||
                builder.AddTable(ts, test::TableChainKind::Nit, 3, channel) == kChainEnd) {
                return false;
            }
        }
        return true;
    }

    bool RemoveAll() {
        for (const ProgramKey& key : keys_) {
            if (TSP_DelProgramInfoByInput(key.slot, 0, key.channel, key.programId) != 0) {
                return false;
            }
        }
        for (U16 channel = 0; channel < kStreams; ++channel) {
            if (TSP_DelPIDInfoByInput(3, 0, channel, static_cast<U16>(0x1F00 + channel), 0) != 0 ||
                TSP_DelPIDInfoByInput(3, 0, channel, static_cast<U16>(0x1E00 + channel), 0) != 0) {
                return false;
            }
        }
        return true;
    }

private:
    bool AddPrograms(Output_TSInfo* live, std::size_t first, std::size_t count) {
        for (std::size_t i = first; i < first + count; ++i) {
            U16 existing = 0;
            if (TSP_GetOutputProgramIndexByPID(keys_[i].slot, 0, keys_[i].channel, keys_[i].programId, &existing) != 0 ||
                existing != kChainEnd) {
                return false;
            }
        }
        IndexInfoList slots;
        if (TSP_GetUnusedOutputProgList(live, static_cast<U16>(count), &slots) != 0) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const ProgramKey& key = keys_[first + i];
            U16 ts = 0;
            U16 last = 0;
            if (TSP_GetOutputTSIndexByPID(key.channel, &ts) != 0 || TSP_GetOutTSProgLastIndex(ts, live, &last) != 0) {
                return false;
            }
            Output_TSProgram program{};
            program.u8SourceSlotID = key.slot;
            program.u16ChannelID = key.channel;
            program.u16ProgramID = key.programId;
            program.u16OldServiceID = key.programId;
            program.u16OldPMTPID = PidBase(key.programId);
            program.u16OldPCRPID = static_cast<U16>(PidBase(key.programId) + 1);
            TSP_InitOneOutputTSProgram(&program);
            const U16 index = slots.aru16IndexList[i];
            program.u16TSIndex = ts;
            program.u16ProgramIndex = index;
            live->pOutputProgram[index] = program;
            Output_TSStream& stream = live->pOutputTS[ts];
            if (stream.u16ProgramNum == 0) {
                stream.u16ProgramIndex = index;
            } else {
                live->pOutputProgram[last].u16NextProgramIndex = index;
            }
            ++stream.u16ProgramNum;
            stream.u8PATChangeFlag = stream.u8SDTChangeFlag = 1;
        }
        return true;
    }

    bool AddPids(Output_TSInfo* live, const std::vector<std::pair<PIDTYPE_E, std::size_t>>& pids, std::size_t first,
                 std::size_t count) {
        IndexInfoList slots;
        if (TSP_GetUnusedOutputPIDIndex(live, static_cast<U16>(count), &slots) != 0) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const auto [type, p] = pids[first + i];
            const ProgramKey& key = keys_[p];
            U16 programIndex = 0;
            if (TSP_GetOutputProgramIndexByPID(key.slot, 0, key.channel, key.programId, &programIndex) != 0 ||
                programIndex == kChainEnd) {
                return false;
            }
            Output_TSProgram& program = live->pOutputProgram[programIndex];
            const U16 pidValue = static_cast<U16>(PidBase(key.programId) + 1 + (first + i) % 4);
            Output_TSPID pid{};
            pid.u8SourceSlotID = key.slot;
            pid.u16ChannelID = key.channel;
            pid.u16PIDID = pidValue;
            pid.u16OldPID = pidValue;
            pid.u8PIDType = static_cast<U8>(type);
            TSP_InitOneOutputTSPID(&pid);
            const U16 index = slots.aru16IndexList[i];
            pid.u32PIDIndex = index;
            pid.u32ProgramIndex = programIndex;
            pid.u32TSIndex = program.u16TSIndex;
            live->pOutputPID[index] = pid;
            if (type == PID_TYPE_PCRPID) {
                program.u16PCRIndex = index;
                continue;
            }
            const bool es = type == PID_TYPE_ESPID;
            U16 last = 0;
            if ((es ? TSP_GetOutProgPIDListLastIndex(programIndex, live, &last)
                    : TSP_GetOutProgPSECMPIDLastIndex(programIndex, live, &last)) != 0) {
                return false;
            }
            U16& chainCount = es ? program.u16ESNumber : program.u16PSECMPIDNumber;
            U16& head = es ? program.u16PIDIndex : program.u16PSECMPIDIndex;
            if (chainCount == 0) {
                head = index;
            } else {
                live->pOutputPID[last].u32NextPIDIndex = index;
            }
            ++chainCount;
        }
        return true;
    }

    std::vector<ProgramKey> keys_;
};

// Records in a model of `programs` programs: programs, PIDs, descriptors, NITs, streams.
int64_t Records(int64_t programs) { return programs * 6 + kStreams * 4; }

// No log output, and every source card muxes PIDs, so a stream stays until
// its last PID goes.
void Quiet() {
    Log_SetConsoleSink([](std::string_view) {});
    for (U8 slot : kSources) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
    }
}

// Stream records zeroed by input orders are announced on standard output;
// keep them out of the benchmark's report.
class StdoutSilenced {
public:
    StdoutSilenced() : saved_(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~StdoutSilenced() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

bool FreshAndBuilt(benchmark::State& state, InputCards& cards, bool build) {
    TSP_ModelLock lock;
    if (TSP_FactoryOutputTSInfo() != 0 || (build && !cards.Build())) {
        state.SkipWithError("model not built");
        return false;
    }
    if (build && !test::CheckModel(*TSP_GetTSParam()).empty()) {
        std::fprintf(stderr, "%s", test::DescribeViolations(test::CheckModel(*TSP_GetTSParam())).substr(0, 2000).c_str());
        state.SkipWithError("model built broken");
        return false;
    }
    return true;
}

void BM_BuildModel(benchmark::State& state) {
    Quiet();
    InputCards cards(static_cast<U32>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        if (!FreshAndBuilt(state, cards, false)) {
            break;
        }
        state.ResumeTiming();
        TSP_ModelLock lock;
        if (!cards.Build()) {
            state.SkipWithError("build failed");
            break;
        }
    }
    state.SetComplexityN(Records(state.range(0)));
    state.counters["records"] = static_cast<double>(Records(state.range(0)));
}

void BM_RemoveByInputOrders(benchmark::State& state) {
    Quiet();
    StdoutSilenced silenced;
    InputCards cards(static_cast<U32>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        if (!FreshAndBuilt(state, cards, true)) {
            break;
        }
        state.ResumeTiming();
        if (!cards.RemoveAll()) {
            state.SkipWithError("removal failed");
            break;
        }
    }
    state.SetComplexityN(Records(state.range(0)));
}

void BM_CopyBothWays(benchmark::State& state) {
    Quiet();
    InputCards cards(static_cast<U32>(state.range(0)));
    if (!FreshAndBuilt(state, cards, true)) {
        return;
    }
    for (auto _ : state) {
        if (TSP_InitOutputTempTSInfo() != 0 || TSP_CopyOutputTempTSInfo() != 0 || TSP_CopyOutputTSInfo() != 0) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    state.SetComplexityN(Records(state.range(0)));
}

void BM_LookupProgramByKey(benchmark::State& state) {
    Quiet();
    InputCards cards(static_cast<U32>(state.range(0)));
    if (!FreshAndBuilt(state, cards, true)) {
        return;
    }
    std::size_t next = 0;
    for (auto _ : state) {
        const ProgramKey& key = cards.keys()[next++ % cards.keys().size()];
        U16 index = 0;
        benchmark::DoNotOptimize(TSP_GetOutputProgramIndexByPID(key.slot, 0, key.channel, key.programId, &index));
    }
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    for (int programs : {62, 125, 250, 500, 1000, 2000, 4784}) {
        benchmark->Arg(programs);
    }
    benchmark->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_BuildModel)->Apply(Sizes);
BENCHMARK(BM_RemoveByInputOrders)->Apply(Sizes);
BENCHMARK(BM_CopyBothWays)->Apply(Sizes);
BENCHMARK(BM_LookupProgramByKey)->Arg(500)->Arg(4784);

}  // namespace
}  // namespace hx

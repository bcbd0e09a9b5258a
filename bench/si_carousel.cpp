// Speed of the SI packet carousel on the simulated board: one tick of
// SSD_SendBroadcastSI (every record through the register window into the
// simulated main FPGA and its packet files) and the refill of the carousel by
// SSD_AddBroadcastSI, from 100 records to the full 3,000; and the tick of the
// carousel that the apply's largest model (500 programs on 16 streams) fills.
// A tick holds SIMutex, so an apply that queues waits that long.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "si/si_packet.h"
#include "sim/sim_board.h"
#include "support/model_builder.h"
#include "support/psi_sections.h"

namespace {

using namespace hx;

constexpr U16 kStreams = 16;

// A simulated board and a live model of 16 streams for the whole run.
class BenchBoard {
public:
    BenchBoard() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        SetProfile(SimProfile(root_));
        PrepareDataRoot();
        Log_SetConsoleSink([](std::string_view) {});
        sim::SimBoard_Install();
        FPGA_Init();
        TSP_ModelLock lock;
        TSP_InitTSInfo(TSP_GetTSParam(), &kDefaultPoolCounts);
        test::ModelBuilder builder(TSP_GetTSParam());
        for (U16 channel = 0; channel < kStreams; ++channel) {
            streams_.push_back(builder.AddStream(channel));
        }
    }
    ~BenchBoard() {
        REG_AttachBus(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::vector<U16>& streams() const { return streams_; }

private:
    std::filesystem::path root_;
    std::vector<U16> streams_;
};

const BenchBoard& PowerOn() {
    static BenchBoard board;
    return board;
}

// `records` records as one-packet tables (PMT-sized sections) spread over the streams.
void Fill(U32 records) {
    const auto& streams = PowerOn().streams();
    const std::vector<U8> pmt = test::LongSection(0x02, 1, 0, 0, 120);
    for (U32 i = 0; i < records; ++i) {
        SSD_AddBroadcastSI(pmt.data(), static_cast<U16>(pmt.size()), streams[i % streams.size()],
                           static_cast<U16>(0x100 + i / streams.size()));
    }
}

void Tick() {
    std::lock_guard lock(SIMutex);
    SSD_SendBroadcastSI();
}

void BM_SendTick(benchmark::State& state) {
    PowerOn();
    SSD_InitBroadcastSI();
    Fill(static_cast<U32>(state.range(0)));
    for (auto _ : state) {
        Tick();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SendTick)->Arg(100)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000)->Arg(3000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_Refill(benchmark::State& state) {
    PowerOn();
    for (auto _ : state) {
        SSD_InitBroadcastSI();
        Fill(static_cast<U32>(state.range(0)));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Refill)->Arg(100)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000)->Arg(3000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// The carousel of the apply's largest model: per stream a PAT, a CAT, a
// three-section NIT and an SDT of 31 or 32 services; 500 PMTs.
void FillApplyModel() {
    const auto& streams = PowerOn().streams();
    const std::vector<U8> pat = test::LongSection(0x00, 1, 0, 0, 12 + 4 * 32);
    const std::vector<U8> cat = test::LongSection(0x01, 0xFFFF, 0, 0, 24);
    std::vector<U8> nit;
    for (U8 number = 0; number < 3; ++number) {
        const auto s = test::LongSection(0x40, 1, number, 2, 300);
        nit.insert(nit.end(), s.begin(), s.end());
    }
    const std::vector<U8> sdt = test::LongSection(0x42, 1, 0, 0, 15 + 32 * 30);
    const std::vector<U8> pmt = test::LongSection(0x02, 1, 0, 0, 60);
    for (U16 ts : streams) {
        SSD_AddBroadcastSI(pat.data(), static_cast<U16>(pat.size()), ts, 0);
        SSD_AddBroadcastSI(cat.data(), static_cast<U16>(cat.size()), ts, 1);
        SSD_AddBroadcastSI(nit.data(), static_cast<U16>(nit.size()), ts, 16);
        SSD_AddBroadcastSI(sdt.data(), static_cast<U16>(sdt.size()), ts, 17);
    }
    for (U16 program = 0; program < 500; ++program) {
        SSD_AddBroadcastSI(pmt.data(), static_cast<U16>(pmt.size()), streams[program % streams.size()],
                           static_cast<U16>(0x100 + program));
    }
}

void BM_ApplyModelTick(benchmark::State& state) {
    PowerOn();
    SSD_InitBroadcastSI();
    FillApplyModel();
    {
        std::lock_guard lock(SIMutex);
        state.counters["records"] = SSD_GetBroadcastSI().u16TSPacketNum;
        state.counters["tables"] = SSD_GetBroadcastSI().u16SIInfoNum;
    }
    for (auto _ : state) {
        Tick();
    }
}
BENCHMARK(BM_ApplyModelTick)->Unit(benchmark::kMillisecond);

}  // namespace

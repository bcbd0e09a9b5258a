// Speed of the register window on the simulated board: single writes and
// reads, SI records with their append to the channel's ".ts" file, and the
// 160T bitstream load through the configuration port.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <array>
#include <filesystem>

#include "core/common_fun.h"
#include "core/run_profile.h"
#include "platform/fpga_reg.h"
#include "platform/psconfig.h"
#include "sim/sim_board.h"

namespace {

using namespace hx;

// A simulated board in a temporary data root for the whole run.
class BenchBoard {
public:
    BenchBoard() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        SetProfile(SimProfile(root_));
        PrepareDataRoot();
        sim::SimBoard_Install();
        FPGA_Init();
    }
    ~BenchBoard() {
        REG_AttachBus(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

private:
    std::filesystem::path root_;
};

void PowerOn() { static BenchBoard board; }

void BM_RegWrite(benchmark::State& state) {
    PowerOn();
    U32 value = 0;
    for (auto _ : state) {
        REG_Write(1000, ++value);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegWrite);

// A register with a model behind it (the SI word index).
void BM_RegWriteModelled(benchmark::State& state) {
    PowerOn();
    U32 value = 0;
    for (auto _ : state) {
        REG_Write(kRegSiWordIndex, ++value & 0x3F);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegWriteModelled);

void BM_RegRead(benchmark::State& state) {
    PowerOn();
    U32 value = 0;
    for (auto _ : state) {
        REG_Read(1000, &value);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegRead);

// Records per iteration as the argument: the time per record stays flat.
void BM_CommSendData(benchmark::State& state) {
    PowerOn();
    std::array<U8, 196> bytes;
    bytes.fill(0xFF);
    bytes[0] = 1;
    bytes[1] = 3;
    bytes[8] = 0x47;
    bytes[9] = 0x40;
    bytes[10] = 0x00;
    bytes[11] = 0x10;
    std::array<U32, 49> words;
    Common_ChangeBit8To32(words.data(), bytes.data(), 196);
    const auto records = state.range(0);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < records; ++i) {
            FPGA_Comm_SendData(words.data(), 49);
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.SetComplexityN(records);
}
BENCHMARK(BM_CommSendData)->RangeMultiplier(8)->Range(64, 4096)->Complexity(benchmark::oN);

void BM_BitstreamLoad(benchmark::State& state) {
    PowerOn();
    for (auto _ : state) {
        if (PSConf_FWConfigGeneralFPGA32Bit(qam_data_array, kQamBitstreamSize, 1) != 0) {
            state.SkipWithError("the load failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kQamBitstreamSize));
}
BENCHMARK(BM_BitstreamLoad)->Unit(benchmark::kMillisecond);

}  // namespace

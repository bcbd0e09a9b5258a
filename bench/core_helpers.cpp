// Speed of the helpers every path leans on: the CRC (PSI/SI sections of up to
// 1,024 bytes on every apply, whole parameter files of up to 1.5 MB on every
// save) and one log line through the device-log merge. The system zlib's
// crc32 over the same buffers is the yardstick of memory speed: it computes
// the reflected CRC-32, not ours, so only its speed is compared.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace {

std::vector<hx::U8> CrcInput(std::int64_t size) {
    std::vector<hx::U8> data(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<hx::U8>(i * 31);
    }
    return data;
}

void BM_Crc(benchmark::State& state) {
    const std::vector<hx::U8> data = CrcInput(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(hx::Common_CRC_Calculate(data.data(), static_cast<hx::U32>(data.size()), hx::kCrcInitMpeg2));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc)->Arg(188)->Arg(1024)->Arg(1'541'812);

// The table form alone: what a processor without carry-less multiply gets.
void BM_CrcTableForm(benchmark::State& state) {
    const std::vector<hx::U8> data = CrcInput(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(hx::Common_CRC_ContinueByTable(hx::kCrcInitMpeg2, data));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CrcTableForm)->Arg(188)->Arg(1024)->Arg(1'541'812);

void BM_ZlibCrc32(benchmark::State& state) {
    const std::vector<hx::U8> data = CrcInput(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(188)->Arg(1024)->Arg(1'541'812);

// A syslog line costs a read of up to 16 KiB of the device log and a rewrite
// of that window with a sync; this measures it with a full window.
void BM_DeviceLogMerge(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-bench-XXXXXX").string();
    const std::string root = mkdtemp(pattern.data());
    hx::SetProfile(hx::SimProfile(root));
    hx::PrepareDataRoot();
    for (int i = 0; i < 400; ++i) {
        hx::uniqlog(("[INFO][SYS]1:filler:" + std::to_string(i) + " some text of a typical length\n").c_str());
    }
    int source = 0;
    for (auto _ : state) {
        // Alternate between a repeated source and a new one, as real logs do.
        hx::uniqlog(("[INFO][SYS]1:bench:" + std::to_string(source++ % 50) + " repeated line\n").c_str());
    }
    std::filesystem::remove_all(root);
    hx::SetProfile(hx::CardProfile());
}
BENCHMARK(BM_DeviceLogMerge)->Unit(benchmark::kMicrosecond);

}  // namespace

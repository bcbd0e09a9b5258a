// The card's PSI section builders against an independent generator,
// libdvbpsi's, on the same model in one run: 16 output streams of 31
// programs, each program with a video and an audio ES carrying a language
// descriptor and an SDT entry with a service descriptor; per stream a PAT,
// the 31 PMTs and the SDT (528 tables).
//
// Each side starts from its own table records, made before the timing (ours
// as the table assembly fills them, libdvbpsi's dvbpsi_pat_t, dvbpsi_pmt_t
// and dvbpsi_sdt_t), and is timed building every section of the model:
// ours into one reused construction buffer, as the SI regeneration does;
// libdvbpsi's into the section lists its generators allocate, freed again,
// since that is how they hand sections over. What the two build is checked to
// decode to the same tables by tests/si/psi_generators_test.cpp.
#include <benchmark/benchmark.h>

#include <array>

#include "support/psi_generators.h"

namespace hx {
namespace {

constexpr U16 kStreams = 16;
constexpr U16 kProgramsPerStream = 31;

const std::vector<test::PsiStreamTables>& Model() {
    static const std::vector<test::PsiStreamTables> model = test::MakePsiModel(kStreams, kProgramsPerStream);
    return model;
}

void SetRates(benchmark::State& state, std::size_t sections) {
    state.counters["sections"] = static_cast<double>(sections);
    state.counters["sections/s"] =
        benchmark::Counter(static_cast<double>(sections), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PsiOwn(benchmark::State& state) {
    static std::array<U8, kSiConstructBytes> buffer;
    std::size_t sections = 0;
    if (!test::BuildOwnPsi(Model(), buffer, [&](U16, std::span<const U8> table) {
            sections += test::CountSections(table);
        })) {
        state.SkipWithError("a builder failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(test::BuildOwnPsi(Model(), buffer, {}));
        benchmark::ClobberMemory();
    }
    SetRates(state, sections);
}
BENCHMARK(BM_PsiOwn)->Unit(benchmark::kMicrosecond);

void BM_PsiLibdvbpsi(benchmark::State& state) {
    test::LibdvbpsiPsi generator(Model());
    std::size_t sections = 0;
    if (!generator.Generate([&](U16, std::span<const U8>) { ++sections; })) {
        state.SkipWithError("a generator gave nothing");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(generator.Generate({}));
    }
    SetRates(state, sections);
}
BENCHMARK(BM_PsiLibdvbpsi)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hx

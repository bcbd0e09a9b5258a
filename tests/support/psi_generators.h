// One output model's PSI built by two independent generators: the card's
// section builders (si/psi_tables.h) and libdvbpsi's own generators
// (dvbpsi_pat_sections_generate, dvbpsi_pmt_sections_generate,
// dvbpsi_sdt_sections_generate). The PSI benchmark times the two against each
// other; an SI test checks that what they build decodes to the same tables.
//
// libdvbpsi's types stay inside psi_generators.cpp (its dvbpsi_descriptor_t
// would clash with ours). Single-threaded, like the tests and benchmarks.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/types.h"
#include "si/psi_tables.h"

namespace hx::test {

constexpr U16 kSdtPid = 0x11;

// The tables of one output stream: its PAT, a PMT per program (the PAT gives
// each PMT's PID) and its SDT.
struct PsiStreamTables {
    PATTable_t pat;
    std::vector<PMTTable_t> pmts;
    SDTTable_t sdt;
};

// `streams` streams of `programs` programs each: every program has a video
// and an audio ES, each with an ISO 639 language descriptor, and an SDT entry
// with a service descriptor (provider and name).
std::vector<PsiStreamTables> MakePsiModel(U16 streams, U16 programs);

// Receives the sections of one table, the PID it goes out on and the
// sections back to back.
using PsiTableSink = std::function<void(U16 pid, std::span<const U8> sections)>;

// Builds every table with the card's builders into `buffer` (one table at a
// time, as the SI regeneration does), handing each table's sections to
// `sink` when there is one. False when a builder fails.
bool BuildOwnPsi(std::span<const PsiStreamTables> model, std::span<U8> buffer, const PsiTableSink& sink);

// The same model as libdvbpsi's table records, made once.
class LibdvbpsiPsi {
public:
    explicit LibdvbpsiPsi(std::span<const PsiStreamTables> model);
    ~LibdvbpsiPsi();
    LibdvbpsiPsi(const LibdvbpsiPsi&) = delete;
    LibdvbpsiPsi& operator=(const LibdvbpsiPsi&) = delete;

    // Runs libdvbpsi's generator over every table, hands each generated
    // section to `sink` when there is one, and frees the sections. False when
    // a generator gives nothing.
    bool Generate(const PsiTableSink& sink);

private:
    struct Tables;
    std::unique_ptr<Tables> tables_;
};

// Sections laid back to back, counted by their section_length fields.
std::size_t CountSections(std::span<const U8> sections);

}  // namespace hx::test

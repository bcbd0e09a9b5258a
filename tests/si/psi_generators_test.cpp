// The card's PSI builders against libdvbpsi's generators on the model of the
// PSI benchmark: what each builds, read back by libdvbpsi's decoder, gives the
// same tables, and those are the model's; the sections themselves are the same
// bytes.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <vector>

#include "support/psi_decoder.h"
#include "support/psi_generators.h"

namespace hx {
namespace {

constexpr U16 kStreams = 16;
constexpr U16 kPrograms = 31;

// Sections of one stream's tables by PID, as a sink collects them.
using SectionsByPid = std::map<U16, std::vector<U8>>;

test::PsiTableSink CollectInto(SectionsByPid& sections) {
    return [&sections](U16 pid, std::span<const U8> bytes) {
        sections[pid].insert(sections[pid].end(), bytes.begin(), bytes.end());
    };
}

// One stream's sections through libdvbpsi's decoder.
void Decode(const test::PsiStreamTables& tables, const SectionsByPid& sections, test::PsiDecoder& decoder) {
    for (const PATProgram_t& program : tables.pat.vecPrograms) {
        decoder.WatchPmt(program.u16PMTPID, program.u16ProgramNumber);
    }
    for (const auto& [pid, bytes] : sections) {
        decoder.Push(test::Packetize(pid, bytes));
    }
}

TEST(PsiGeneratorsTest, OursAndLibdvbpsisDecodeToTheSameTablesAndTheModels) {
    const std::vector<test::PsiStreamTables> model = test::MakePsiModel(kStreams, kPrograms);
    std::array<U8, kSiConstructBytes> buffer{};
    for (std::size_t s = 0; s < model.size(); ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const std::span<const test::PsiStreamTables> stream(&model[s], 1);
        SectionsByPid own;
        SectionsByPid theirs;
        ASSERT_TRUE(test::BuildOwnPsi(stream, buffer, CollectInto(own)));
        test::LibdvbpsiPsi generator(stream);
        ASSERT_TRUE(generator.Generate(CollectInto(theirs)));

        // Byte for byte, even: both set every reserved bit and split alike.
        EXPECT_EQ(theirs, own);

        test::PsiDecoder ours;
        test::PsiDecoder reference;
        Decode(model[s], own, ours);
        Decode(model[s], theirs, reference);
        EXPECT_TRUE(ours.Problems().empty()) << ours.Problems().front();
        EXPECT_TRUE(reference.Problems().empty()) << reference.Problems().front();

        ASSERT_EQ(1u, ours.patTables.size());
        ASSERT_EQ(kPrograms, ours.pmts.size());
        ASSERT_EQ(1u, ours.sdts.size());
        EXPECT_EQ(reference.patTables, ours.patTables);
        EXPECT_EQ(reference.pmts, ours.pmts);
        EXPECT_EQ(reference.sdts, ours.sdts);

        // And what they agree on is the model.
        const test::PsiStreamTables& tables = model[s];
        EXPECT_EQ(tables.pat.u16TransportStreamID, ours.patTables[0].transportStreamId);
        EXPECT_EQ(tables.pat.u8VersionNumber, ours.patTables[0].version);
        ASSERT_EQ(kPrograms, ours.patTables[0].programs.size());
        for (U16 p = 0; p < kPrograms; ++p) {
            const PMTTable_t& pmt = tables.pmts[p];
            EXPECT_EQ(std::make_pair(pmt.u16ProgramNumber, tables.pat.vecPrograms[p].u16PMTPID),
                      ours.patTables[0].programs[p]);
            const test::DecodedPmt& decoded = ours.pmts[p];
            EXPECT_EQ(pmt.u16ProgramNumber, decoded.program);
            EXPECT_EQ(pmt.u16PCRPID, decoded.pcrPid);
            ASSERT_EQ(2u, decoded.streams.size());
            for (std::size_t e = 0; e < 2; ++e) {
                EXPECT_EQ(std::make_pair(pmt.vecStreams[e].u8StreamType, pmt.vecStreams[e].u16PID),
                          decoded.streams[e]);
                const std::vector<U8>& language = pmt.vecStreams[e].vecESInfo;
                EXPECT_EQ((std::vector<test::RawDescriptor>{{language[0], {language.begin() + 2, language.end()}}}),
                          decoded.streamDescriptors[e]);
            }
            const SDTService_t& service = tables.sdt.vecServices[p];
            const test::DecodedSdtService& entry = ours.sdts[0].services[p];
            EXPECT_EQ(service.u16ServiceID, entry.serviceId);
            EXPECT_EQ(service.u8RunningStatus, entry.runningStatus);
            EXPECT_TRUE(entry.eitPresentFollowing);
            const std::vector<U8>& descriptor = service.vecDescriptors;
            EXPECT_EQ((std::vector<test::RawDescriptor>{{descriptor[0], {descriptor.begin() + 2, descriptor.end()}}}),
                      entry.descriptors);
        }
    }
}

}  // namespace
}  // namespace hx

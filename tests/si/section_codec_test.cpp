// NIT, TDT and TOT sections byte for byte; the merge and split of stored NITs
// as tables of cases, checked by libdvbpsi; the parsers fed sections whose
// lengths lie.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "nit_fixture.h"
#include "si/section_codec.h"
#include "si/time_tables.h"
#include "support/psi_decoder.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::Concat;
using test::Descriptor;
using test::Entries;
using test::NitEntrySpec;
using test::NitSection;

std::vector<U8> Bytes(std::initializer_list<int> values) {
    std::vector<U8> out;
    for (int v : values) {
        out.push_back(static_cast<U8>(v));
    }
    return out;
}

std::unique_ptr<NITBuf_t> Buffer(const std::vector<U8>& bytes) {
    auto buffer = std::make_unique<NITBuf_t>();
    buffer->u16NITLength = static_cast<U16>(bytes.size());
    buffer->u32OutputNITSectionOffset = static_cast<U32>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), buffer->aru8OutputNITSection);
    return buffer;
}

std::vector<U8> Contents(const NITBuf_t& buffer) {
    return {buffer.aru8OutputNITSection, buffer.aru8OutputNITSection + buffer.u16NITLength};
}

// The sections of a back-to-back buffer.
std::vector<std::vector<U8>> SplitSections(const std::vector<U8>& bytes) {
    std::vector<std::vector<U8>> sections;
    for (std::size_t at = 0; at + 3 <= bytes.size();) {
        const std::size_t size = SIP_SectionBytes(bytes.data() + at);
        sections.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                              bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + size, bytes.size())));
        at += size;
    }
    return sections;
}

class SectionCodecTest : public ::testing::Test {
protected:
    test::TestEnvironment env;
};

TEST_F(SectionCodecTest, EmptyNitIsSixteenBytesWithItsCrc) {
    const auto section = SIP_EmptyNITSection(0x1234);
    const std::vector<U8> bytes(section.begin(), section.end());
    EXPECT_EQ(Bytes({0x40, 0xF0, 0x0D, 0x12, 0x34, 0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x00}),
              std::vector<U8>(bytes.begin(), bytes.begin() + 12));
    EXPECT_EQ(Common_CRC_Calculate(bytes.data(), 12, kCrcInitMpeg2), GetBe32(bytes.data() + 12));
    EXPECT_EQ(NitSection(0x1234, 0, 0, 0, {}, {}), bytes);
}

TEST_F(SectionCodecTest, TdtOfAKnownDateAndItsRefusals) {
    TDTTable_t tdt{};
    tdt.u8SectionLen = 5;
    PutBe16(tdt.aru8UTCTime, TSP_CalMJD(93, 10, 13));
    tdt.aru8UTCTime[2] = TSP_CalBCD(12);
    tdt.aru8UTCTime[3] = TSP_CalBCD(45);
    tdt.aru8UTCTime[4] = TSP_CalBCD(0);
    std::array<U8, 16> out{};
    U16 length = 0;
    ASSERT_EQ(0u, SIP_ConstructTDT(&tdt, 8, out.data(), &length));
    EXPECT_EQ(8, length);
    EXPECT_EQ(Bytes({0x70, 0x70, 0x05, 0xC0, 0x79, 0x12, 0x45, 0x00}), std::vector<U8>(out.begin(), out.begin() + 8));

    EXPECT_EQ(kSipErrInput, SIP_ConstructTDT(&tdt, 7, out.data(), &length));
    EXPECT_EQ(kSipErrInput, SIP_ConstructTDT(nullptr, 8, out.data(), &length));
    tdt.u8SectionLen = 200;  // would read past the 5-byte time
    EXPECT_EQ(kSipErrBound, SIP_ConstructTDT(&tdt, 16, out.data(), &length));
}

TEST_F(SectionCodecTest, UtcTimeComesFromTheWallClock) {
    env.clock().SetWallSeconds(750516300);  // 1993-10-13 12:45:00 UTC
    std::array<U8, 5> utc{};
    ASSERT_EQ(0u, TSP_GetUTCTime(utc.data()));
    EXPECT_EQ((std::array<U8, 5>{0xC0, 0x79, 0x12, 0x45, 0x00}), utc);
    // January and February count in the previous year's reckoning.
    EXPECT_EQ(TSP_CalMJD(100, 2, 28) + 1, TSP_CalMJD(100, 2, 29));
    EXPECT_EQ(TSP_CalMJD(100, 2, 29) + 1, TSP_CalMJD(100, 3, 1));
    EXPECT_EQ(51544, TSP_CalMJD(100, 1, 1));  // 2000-01-01
    EXPECT_EQ(0x59, TSP_CalBCD(59));
}

TOTTable_t SampleTot() {
    TOTTable_t tot{};
    tot.u8SectionLen = 26;
    const U8 utc[5] = {0xC0, 0x79, 0x12, 0x45, 0x00};
    std::copy(utc, utc + 5, tot.aru8UTCTime);
    tot.arstDescInfo.u8Tag = 0x58;
    tot.arstDescInfo.u8DescLen = 13;
    TOTDesc_t& entry = tot.arstDescInfo.arstDes[0];
    entry.u32CountryCode = 0x43484E;  // "CHN"
    entry.u8CountryRegID = 5;
    entry.u8LocalTimeOffsetPol = 1;
    entry.u16LocalTimeOffset = 0x0800;
    const U8 change[5] = {0xC1, 0x00, 0x02, 0x00, 0x00};
    std::copy(change, change + 5, entry.u8TimeOfChange);
    entry.u16NextTimeOffset = 0x0900;
    return tot;
}

TEST_F(SectionCodecTest, TotBuildsByteForByteAndParsesBack) {
    const TOTTable_t tot = SampleTot();
    std::array<U8, 64> out{};
    U16 length = 0;
    ASSERT_EQ(0u, SIP_ConstructTOT(&tot, static_cast<U16>(out.size()), out.data(), &length));
    ASSERT_EQ(29, length);
    const std::vector<U8> expected = Bytes({0x73, 0x70, 26, 0xC0, 0x79, 0x12, 0x45, 0x00, 0xF0, 0x0F, 0x58, 13,
                                            0x43, 0x48, 0x4E, (5 << 2) | 0x02 | 1, 0x08, 0x00, 0xC1, 0x00, 0x02,
                                            0x00, 0x00, 0x09, 0x00});
    EXPECT_EQ(expected, std::vector<U8>(out.begin(), out.begin() + 25));
    EXPECT_EQ(Common_CRC_Calculate(out.data(), 25, kCrcInitMpeg2), GetBe32(out.data() + 25));

    TOTTable_t parsed{};
    ASSERT_EQ(0u, SIP_ParseTOT(out.data(), length, &parsed, 0));
    EXPECT_EQ(tot.u8SectionLen, parsed.u8SectionLen);
    EXPECT_EQ(0, std::memcmp(tot.aru8UTCTime, parsed.aru8UTCTime, 5));
    EXPECT_EQ(tot.arstDescInfo.u8Tag, parsed.arstDescInfo.u8Tag);
    EXPECT_EQ(tot.arstDescInfo.u8DescLen, parsed.arstDescInfo.u8DescLen);
    const TOTDesc_t& sent = tot.arstDescInfo.arstDes[0];
    const TOTDesc_t& back = parsed.arstDescInfo.arstDes[0];
    EXPECT_EQ(sent.u32CountryCode, back.u32CountryCode);
    EXPECT_EQ(sent.u8CountryRegID, back.u8CountryRegID);
    EXPECT_EQ(sent.u8LocalTimeOffsetPol, back.u8LocalTimeOffsetPol);
    EXPECT_EQ(sent.u16LocalTimeOffset, back.u16LocalTimeOffset);
    EXPECT_EQ(0, std::memcmp(sent.u8TimeOfChange, back.u8TimeOfChange, 5));
    EXPECT_EQ(sent.u16NextTimeOffset, back.u16NextTimeOffset);

    // libdvbpsi reads the same section.
    test::PsiDecoder decoder;
    decoder.Push(test::Packetize(20, std::span<const U8>(out.data(), length)));
    ASSERT_EQ(1u, decoder.times.size());
    EXPECT_EQ(0x73, decoder.times[0].tableId);
    EXPECT_EQ(0xC079124500ull, decoder.times[0].utc);
    ASSERT_EQ(1u, decoder.times[0].descriptors.size());
    EXPECT_EQ(std::vector<U8>(out.begin() + 12, out.begin() + 25), decoder.times[0].descriptors[0].data);
    EXPECT_TRUE(decoder.Problems().empty());
}

TEST_F(SectionCodecTest, TotRecordsThatWouldReadPastTheirEntryAreRefused) {
    std::array<U8, 64> out{};
    U16 length = 0;
    TOTTable_t tot = SampleTot();
    tot.u8SectionLen = 39;
    EXPECT_EQ(kSipErrBound, SIP_ConstructTOT(&tot, 64, out.data(), &length));
    tot = SampleTot();
    tot.arstDescInfo.u8DescLen = 26;
    EXPECT_EQ(kSipErrBound, SIP_ConstructTOT(&tot, 64, out.data(), &length));
    tot = SampleTot();
    EXPECT_EQ(kSipErrInput, SIP_ConstructTOT(&tot, 28, out.data(), &length));
    EXPECT_EQ(kSipErrInput, SIP_ConstructTOT(nullptr, 64, out.data(), &length));
}

TEST_F(SectionCodecTest, TotParseTakesOneEntryAndRefusesRoomForTwo) {
    const TOTTable_t tot = SampleTot();
    std::array<U8, 64> section{};
    U16 length = 0;
    ASSERT_EQ(0u, SIP_ConstructTOT(&tot, 64, section.data(), &length));
    TOTTable_t parsed{};

    std::array<U8, 64> longer = section;
    longer[2] = 39;  // (39 - 13) / 13 = 2 entries
    EXPECT_EQ(kSipErrInput, SIP_ParseTOT(longer.data(), 64, &parsed, 0));
    EXPECT_NE(std::string::npos, env.Console().find("u8LOTDescNum=[2]"));

    longer[2] = 12;  // too short for its own fixed fields
    EXPECT_EQ(kSipErrInput, SIP_ParseTOT(longer.data(), 64, &parsed, 0));
    EXPECT_EQ(kSipErrInput, SIP_ParseTOT(section.data(), 28, &parsed, 0)) << "buffer shorter than the section";
    EXPECT_EQ(kSipErrInput, SIP_ParseTOT(nullptr, 29, &parsed, 0));
    longer[1] = 0x73;
    longer[2] = 0xFE;  // section_length 1022
    std::vector<U8> big(1100, 0);
    std::copy(longer.begin(), longer.end(), big.begin());
    EXPECT_EQ(kSipErrInput, SIP_ParseTOT(big.data(), static_cast<U16>(big.size()), &parsed, 0));

    // Section number 0 clears the record; a later section keeps what was there.
    std::array<U8, 64> bare = section;
    bare[2] = 13;
    parsed = {};
    ASSERT_EQ(0u, SIP_ParseTOT(section.data(), length, &parsed, 0));
    ASSERT_EQ(0u, SIP_ParseTOT(bare.data(), 16, &parsed, 1));
    EXPECT_EQ(0x43484Eu, parsed.arstDescInfo.arstDes[0].u32CountryCode);
    ASSERT_EQ(0u, SIP_ParseTOT(bare.data(), 16, &parsed, 0));
    EXPECT_EQ(0u, parsed.arstDescInfo.arstDes[0].u32CountryCode);
}

struct MergeCase {
    std::string name;
    std::vector<std::vector<U8>> sections;
    U32 result;
    std::vector<U8> merged;  // when result is 0
};

TEST_F(SectionCodecTest, MergeCases) {
    const std::vector<U8> name = Descriptor(0x40, 5, 'A');
    const std::vector<U8> other = Descriptor(0x4A, 3, 1);
    const auto entries = Entries({0, 8, 20, 6, 300, 0});
    const std::vector<NitEntrySpec> first(entries.begin(), entries.begin() + 2);
    const std::vector<NitEntrySpec> second(entries.begin() + 2, entries.begin() + 4);
    const std::vector<NitEntrySpec> third(entries.begin() + 4, entries.end());
    std::vector<U8> oddNibbles = NitSection(7, 3, 0, 0, name, entries);
    oddNibbles[1] = static_cast<U8>(0xB0 | (oddNibbles[1] & 0x0F));

    // Five entries whose merged section_length is exactly 4,095 (13 + 5 × 6 + 4,052).
    const auto full = Entries({1000, 1000, 1000, 1000, 52});
    const auto over = Entries({1000, 1000, 1000, 1000, 53});
    auto oneEntryEach = [](const std::vector<NitEntrySpec>& all) {
        std::vector<U8> sections;
        for (std::size_t k = 0; k < all.size(); ++k) {
            const auto s = NitSection(1, 0, static_cast<U8>(k), static_cast<U8>(all.size() - 1), {}, {all[k]});
            sections.insert(sections.end(), s.begin(), s.end());
        }
        return sections;
    };
    std::vector<U8> runsPast = Concat({NitSection(7, 3, 0, 1, name, first), NitSection(7, 3, 1, 1, {}, second)});
    runsPast.resize(runsPast.size() - 1);

    const std::vector<MergeCase> cases = {
        {"one section is copied as it is", {oddNibbles}, 0, oddNibbles},
        {"three sections merge in order, network loop of section 0 only",
         {NitSection(7, 3, 0, 2, name, first), NitSection(7, 3, 1, 2, other, second),
          NitSection(7, 3, 2, 2, {}, third)},
         0,
         NitSection(7, 3, 0, 0, name, entries)},
        {"a merged section_length of exactly 4,095", {oneEntryEach(full)}, 0, NitSection(1, 0, 0, 0, {}, full)},
        {"one byte over 4,095 is refused", {oneEntryEach(over)}, kSipErrMergeTooLong, {}},
        {"a section running past the buffer", {runsPast}, kSipErrMergeOverrun, {}},
        {"no NIT section at all", {Bytes({0x42, 0xF0, 0x00})}, kSipErrInput, {}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<U8> input;
        for (const auto& s : c.sections) {
            input.insert(input.end(), s.begin(), s.end());
        }
        const auto in = Buffer(input);
        auto out = std::make_unique<NITBuf_t>();
        ASSERT_EQ(c.result, SIP_ConstructBigNITSection(in.get(), out.get()));
        if (c.result == 0) {
            EXPECT_EQ(c.merged, Contents(*out));
            EXPECT_EQ(out->u16NITLength, out->u32OutputNITSectionOffset);
        } else {
            EXPECT_EQ(0, out->u16NITLength) << "nothing half-written";
        }
    }
}

struct SplitCase {
    std::string name;
    std::vector<U8> network;
    std::vector<std::size_t> descriptorBytes;   // of each entry
    std::vector<std::size_t> entriesPerSection; // expected
    U32 result;
};

TEST_F(SectionCodecTest, SplitCases) {
    const std::vector<U8> name = Descriptor(0x40, 12, 'a');
    const std::vector<SplitCase> cases = {
        {"a section of at most 1,024 bytes stays one", name, {100, 200, 300}, {3}, 0},
        {"exactly 1,024 bytes stay one", {}, {1002}, {1}, 0},
        {"an entry opens the next section though a later smaller one would fit", {}, {900, 200, 10}, {1, 2}, 0},
        {"network descriptors leave section 0 without entries",
         Concat({Descriptor(0x40, 255), Descriptor(0x40, 241)}),
         {600, 600},
         {0, 1, 1},
         0},
        {"many small entries", name, std::vector<std::size_t>(300, 6), {}, 0},
        {"an entry that fits no section", {}, {1003}, {}, kSipErrBound},
        {"network descriptors too long for section 0",
         Concat({Descriptor(0x40, 255), Descriptor(0x40, 255), Descriptor(0x40, 255), Descriptor(0x40, 236)}),
         {6},
         {},
         kSipErrInput},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entries = Entries(c.descriptorBytes);
        const std::vector<U8> merged = NitSection(0x55, 9, 0, 0, c.network, entries);
        std::vector<U8> out(kNitBufBytes);
        U16 length = 0;
        const U32 result = SIP_SplitNITSection(merged.data(), static_cast<U16>(merged.size()),
                                               static_cast<U16>(out.size()), out.data(), &length);
        ASSERT_EQ(c.result, result);
        if (result != 0) {
            continue;
        }
        out.resize(length);
        const auto sections = SplitSections(out);
        if (!c.entriesPerSection.empty()) {
            ASSERT_EQ(c.entriesPerSection.size(), sections.size());
        }
        std::size_t entry = 0;
        for (std::size_t k = 0; k < sections.size(); ++k) {
            const auto& s = sections[k];
            ASSERT_LE(s.size(), 1024u);
            EXPECT_EQ(k, s[6]);
            EXPECT_EQ(sections.size() - 1, s[7]);
            const std::size_t network = k == 0 ? c.network.size() : 0;
            const std::size_t count = c.entriesPerSection.empty()
                                          ? std::size_t{0}
                                          : c.entriesPerSection[k];
            if (!c.entriesPerSection.empty()) {
                const std::vector<NitEntrySpec> expected(entries.begin() + static_cast<std::ptrdiff_t>(entry),
                                                         entries.begin() + static_cast<std::ptrdiff_t>(entry + count));
                EXPECT_EQ(NitSection(0x55, 9, static_cast<U8>(k), static_cast<U8>(sections.size() - 1),
                                     k == 0 ? c.network : std::vector<U8>{}, expected),
                          s);
                entry += count;
            }
            EXPECT_EQ(network, SIP_Length12(s.data() + 8)) << "network descriptors in section 0 only";
        }
        EXPECT_EQ(merged.size() + 16 * (sections.size() - 1), out.size());

        // libdvbpsi gets every entry back, in order, from the sections.
        test::PsiDecoder decoder;
        decoder.Push(test::Packetize(16, out));
        ASSERT_EQ(1u, decoder.nits.size());
        EXPECT_TRUE(decoder.Problems().empty()) << decoder.Problems().front();
        ASSERT_EQ(entries.size(), decoder.nits[0].entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].tsid, decoder.nits[0].entries[i].transportStreamId);
            EXPECT_EQ(entries[i].onid, decoder.nits[0].entries[i].originalNetworkId);
        }
        EXPECT_EQ(c.network.empty(), decoder.nits[0].network.empty());
    }
}

TEST_F(SectionCodecTest, MergeThenSplitReproducesAMultiSectionNit) {
    const auto entries = Entries({250, 0, 400, 120, 700, 8, 900, 16, 2});
    const std::vector<U8> name = Descriptor(0x40, 7, 'N');
    const std::vector<U8> stored =
        Concat({NitSection(3, 4, 0, 2, name, {entries[0], entries[1], entries[2]}),
                NitSection(3, 4, 1, 2, {}, {entries[3], entries[4]}),
                NitSection(3, 4, 2, 2, {}, {entries[5], entries[6], entries[7], entries[8]})});
    const auto in = Buffer(stored);
    auto merged = std::make_unique<NITBuf_t>();
    ASSERT_EQ(0u, SIP_ConstructBigNITSection(in.get(), merged.get()));
    std::vector<U8> out(kNitBufBytes);
    U16 length = 0;
    ASSERT_EQ(0u, SIP_SplitNITSection(merged->aru8OutputNITSection, merged->u16NITLength,
                                      static_cast<U16>(out.size()), out.data(), &length));
    out.resize(length);
    auto parsed = std::make_unique<NITTable_t>();
    const auto sections = SplitSections(out);
    for (std::size_t k = 0; k < sections.size(); ++k) {
        ASSERT_EQ(0u, SIP_ParseNIT(sections[k].data(), static_cast<U16>(sections[k].size()), parsed.get(),
                                   static_cast<U16>(k)));
    }
    ASSERT_EQ(entries.size(), parsed->u16TPNumber);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const TSInfoStruct_t& got = parsed->arstTPData[i];
        EXPECT_EQ(entries[i].tsid, got.u16TSID);
        EXPECT_EQ(entries[i].descriptors,
                  std::vector<U8>(got.aru8Descriptors, got.aru8Descriptors + got.u16DescriptorsLen));
    }
    EXPECT_EQ(name, std::vector<U8>(parsed->aru8NetworkInfo, parsed->aru8NetworkInfo + parsed->u16NetworkInfoLen));
    EXPECT_EQ(3, parsed->u16NetworkId);
    EXPECT_EQ(4, parsed->u8VersionNum);
}

struct ParseCase {
    std::string name;
    std::vector<U8> section;
    U16 bufferLength;  // 0: the section's size
    U32 result;
};

TEST_F(SectionCodecTest, NitParseRefusesLengthsThatRunPastTheSection) {
    const auto good = NitSection(1, 0, 0, 0, Descriptor(0x40, 4), Entries({8, 0}));
    auto patched = [&](std::size_t at, U8 value) {
        auto s = good;
        s[at] = value;
        return s;
    };
    const std::size_t loopAt = 10 + 6;
    std::vector<U8> longest = good;
    longest.resize(1100, 0xFF);
    longest[1] = 0xF3;
    longest[2] = 0xFE;
    std::vector<ParseCase> cases = {
        {"a good section", good, 0, 0},
        {"network loop past the section", patched(9, 0x40), 0, kSipErrInput},
        {"transport-stream loop past the section", patched(loopAt + 1, 0xF0), 0, kSipErrInput},
        {"entry descriptors past the loop", patched(loopAt + 2 + 5, 9), 0, kSipErrInput},
        {"buffer shorter than the section", good, static_cast<U16>(good.size() - 1), kSipErrInput},
        {"section_length of 1,022", longest, 0, kSipErrInput},
        {"section_length too short for a NIT", Bytes({0x40, 0xF0, 0x05, 0, 1, 0xC1, 0, 0}), 0, kSipErrInput},
        {"network descriptors over 1,000 bytes",
         NitSection(1, 0, 0, 0, Concat({Descriptor(0x40, 255), Descriptor(0x40, 255), Descriptor(0x40, 255),
                                        Descriptor(0x40, 228)}),
                    {}),
         0,
         kSipErrBound},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<U8> heap(c.section);  // exactly its size, so ASan sees any overrun
        auto table = std::make_unique<NITTable_t>();
        const U16 length = c.bufferLength != 0 ? c.bufferLength : static_cast<U16>(heap.size());
        EXPECT_EQ(c.result, SIP_ParseNIT(heap.data(), length, table.get(), 0));
    }
}

TEST_F(SectionCodecTest, NitParseHoldsAtMost96Entries) {
    auto table = std::make_unique<NITTable_t>();
    const auto first = NitSection(1, 0, 0, 1, {}, Entries(std::vector<std::size_t>(96, 0)));
    ASSERT_EQ(0u, SIP_ParseNIT(first.data(), static_cast<U16>(first.size()), table.get(), 0));
    EXPECT_EQ(96, table->u16TPNumber);
    const auto second = NitSection(1, 0, 1, 1, {}, Entries({0}));
    EXPECT_EQ(kSipErrBound, SIP_ParseNIT(second.data(), static_cast<U16>(second.size()), table.get(), 1));
    EXPECT_NE(std::string::npos, env.Console().find("TransportStreamNum:97 out of range"));
}

}  // namespace
}  // namespace hx

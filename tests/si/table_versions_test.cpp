// The versions of the tables on air, settled per output channel and table:
// the change flags decide only for a table not sent before; afterwards the
// version moves exactly when the bytes change, and every section carries it
// under a valid CRC.
#include <gtest/gtest.h>

#include <vector>

#include "core/common_fun.h"
#include "si/section_codec.h"
#include "si/table_versions.h"
#include "support/psi_sections.h"

namespace hx {
namespace {

using test::LongSection;

class TableVersionsTest : public ::testing::Test {
protected:
    TableVersionsTest() { SIVersion_Reset(); }
    ~TableVersionsTest() override { SIVersion_Reset(); }

    // Settles and, unless told otherwise, marks as sent; the version written.
    int SendTable(std::vector<U8>& sections, U8 modelVersion, bool flag, U16 channel = 2, bool sent = true) {
        const auto settled =
            SIVersion_Settle(channel, sections.data(), static_cast<U32>(sections.size()), modelVersion, flag);
        if (!settled) {
            return -1;
        }
        if (sent) {
            SIVersion_Sent(*settled);
        }
        return settled->u8Version;
    }
};

std::vector<U8> Pat(U16 tsid, std::size_t bytes = 16, U8 fill = 0) {
    std::vector<U8> section = LongSection(0x00, tsid, 0, 0, bytes);
    section[8] = fill;
    PutBe32(&section[bytes - 4], Common_CRC_Calculate(section.data(), static_cast<U32>(bytes - 4), kCrcInitMpeg2));
    return section;
}

U8 VersionIn(const std::vector<U8>& section, std::size_t at = 0) {
    return static_cast<U8>((section[at + 5] >> 1) & 0x1F);
}

TEST_F(TableVersionsTest, FlagsDecideOnlyBeforeTheFirstSend) {
    struct Case {
        U8 model;
        bool flag;
        int expected;
    };
    for (const Case c : {Case{0, false, 0}, Case{0, true, 1}, Case{7, false, 7}, Case{31, true, 0}}) {
        SCOPED_TRACE(testing::Message() << int{c.model} << " " << c.flag);
        SIVersion_Reset();
        std::vector<U8> pat = Pat(1);
        EXPECT_EQ(SendTable(pat, c.model, c.flag), c.expected);
        EXPECT_EQ(VersionIn(pat), c.expected);
    }
}

TEST_F(TableVersionsTest, OnceSentTheBytesDecide) {
    std::vector<U8> pat = Pat(1);
    ASSERT_EQ(SendTable(pat, 4, false), 4);

    // The same bytes keep the version, whatever flag and model version say: a
    // second apply of one copy, a record made again with its version at 0.
    for (const auto& [model, flag] : {std::pair<U8, bool>{4, true}, {0, false}, {0, true}, {30, false}}) {
        std::vector<U8> same = Pat(1);
        EXPECT_EQ(SendTable(same, model, flag), 4);
    }
    // Changed bytes move on from the version on air, whatever the model holds.
    std::vector<U8> changed = Pat(1, 16, 0x55);
    EXPECT_EQ(SendTable(changed, 0, false), 5);
    std::vector<U8> longer = Pat(1, 20);
    EXPECT_EQ(SendTable(longer, 5, false), 6);
    std::vector<U8> back = Pat(1);
    EXPECT_EQ(SendTable(back, 6, false), 7);
}

TEST_F(TableVersionsTest, VersionWrapsAfter31) {
    std::vector<U8> pat = Pat(1);
    ASSERT_EQ(SendTable(pat, 31, false), 31);
    std::vector<U8> changed = Pat(1, 16, 1);
    EXPECT_EQ(SendTable(changed, 31, false), 0);
}

TEST_F(TableVersionsTest, OnlyATableMarkedSentIsRemembered) {
    std::vector<U8> pat = Pat(1);
    ASSERT_EQ(SendTable(pat, 3, false), 3);
    std::vector<U8> refused = Pat(1, 16, 9);
    EXPECT_EQ(SendTable(refused, 3, false, 2, false), 4);
    // Still compared with the table on air, not with the refused one.
    std::vector<U8> again = Pat(1, 16, 9);
    EXPECT_EQ(SendTable(again, 3, false), 4);
    std::vector<U8> same = Pat(1, 16, 9);
    EXPECT_EQ(SendTable(same, 3, false), 4);
}

TEST_F(TableVersionsTest, EachChannelAndTableHasItsOwnEntry) {
    std::vector<U8> pat = Pat(1);
    ASSERT_EQ(SendTable(pat, 6, false, 2), 6);
    // Another channel, another extension, another table id: not sent before.
    std::vector<U8> otherChannel = Pat(1, 16, 1);
    EXPECT_EQ(SendTable(otherChannel, 0, false, 3), 0);
    std::vector<U8> otherTsid = Pat(2, 16, 1);
    EXPECT_EQ(SendTable(otherTsid, 0, false, 2), 0);
    std::vector<U8> pmt = LongSection(0x02, 1, 0, 0, 20);
    EXPECT_EQ(SendTable(pmt, 9, false, 2), 9);
}

TEST_F(TableVersionsTest, TablesGoneForGoodAreForgottenPastTheBound) {
    auto pmt = [](U16 program) { return LongSection(0x02, program, 0, 0, 20); };
    std::vector<U8> first = pmt(0);
    ASSERT_EQ(SendTable(first, 3, false), 3);
    std::vector<U8> kept = pmt(1);
    ASSERT_EQ(SendTable(kept, 3, false), 3);
    for (U16 program = 2; program <= kSIVersionMaxEntries; ++program) {
        std::vector<U8> other = pmt(program);
        ASSERT_EQ(SendTable(other, 0, false), 0);
        if (program == 2) {
            std::vector<U8> again = pmt(1);  // still on air: sent again
            ASSERT_EQ(SendTable(again, 0, false), 3);
        }
    }
    std::vector<U8> forgotten = pmt(0);
    EXPECT_EQ(SendTable(forgotten, 9, false), 9) << "the least recently sent entry went";
    std::vector<U8> remembered = pmt(1);
    EXPECT_EQ(SendTable(remembered, 9, false), 3);
}

TEST_F(TableVersionsTest, EverySectionCarriesTheVersionUnderAValidCrc) {
    std::vector<U8> sdt = LongSection(0x42, 7, 0, 2, 40);
    for (U8 number : {1, 2}) {
        const std::vector<U8> next = LongSection(0x42, 7, number, 2, 30 + number);
        sdt.insert(sdt.end(), next.begin(), next.end());
    }
    ASSERT_EQ(SendTable(sdt, 0, true), 1);
    for (const std::size_t at : {std::size_t{0}, std::size_t{40}, std::size_t{71}}) {
        const std::size_t bytes = SIP_SectionBytes(&sdt[at]);
        EXPECT_EQ(VersionIn(sdt, at), 1);
        EXPECT_EQ(sdt[at + 5] & 0xC1, 0xC1) << "reserved bits and current_next kept";
        EXPECT_EQ(Common_CRC_Calculate(&sdt[at], static_cast<U32>(bytes), kCrcInitMpeg2), 0u) << at;
    }
    // One section changed: the whole table moves.
    std::vector<U8> changed = sdt;
    changed[71 + 10] ^= 0xFF;
    EXPECT_EQ(SendTable(changed, 0, false), 2);
    EXPECT_EQ(VersionIn(changed, 0), 2);
}

TEST_F(TableVersionsTest, MalformedSectionsAreLeftAlone) {
    const std::vector<U8> whole = Pat(1);
    std::vector<std::vector<U8>> cases = {
        {whole.begin(), whole.end() - 1},  // shorter than it announces
        [&] {
            std::vector<U8> s = whole;
            s.push_back(0x00);  // a stray byte after the section
            return s;
        }(),
        [&] {
            std::vector<U8> s = whole;
            s[1] &= 0x7F;  // short form: no version field
            return s;
        }(),
        {0x00, 0xB0, 0x05, 0x00, 0x01, 0xC1, 0x00, 0x00},  // too short for a CRC
        {},
    };
    for (std::vector<U8>& sections : cases) {
        const std::vector<U8> before = sections;
        EXPECT_EQ(SendTable(sections, 0, true), -1);
        EXPECT_EQ(sections, before);
    }
}

}  // namespace
}  // namespace hx

// The character-set routines of DVB text, against code points known from the
// character-set standards (not from the tables under test). Every input and
// output lives in a heap buffer of exactly its size, so AddressSanitizer
// catches a read or write one byte past either.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "si/dvb_text.h"

namespace hx {
namespace {

using Bytes = std::vector<U8>;
using Units = std::vector<U16>;

constexpr U16 kBad = 0xFFFD;

Units Trimmed(Units out, U32 count) {
    EXPECT_EQ(out[count], 0) << "NUL-terminated";
    out.resize(count);
    return out;
}

Units Latin(const Bytes& text, U32 capacity = 64) {
    Units out(capacity, 0xAAAA);
    return Trimmed(out, Convert_8859_to_U(text.data(), static_cast<U32>(text.size()), out.data(), capacity));
}
Units Gb(const Bytes& text, U32 capacity = 64) {
    Units out(capacity, 0xAAAA);
    return Trimmed(out, ConvertGBToUTF16(text.data(), static_cast<U32>(text.size()), out.data(), capacity));
}
Units Big5(const Bytes& text, U32 capacity = 64) {
    Units out(capacity, 0xAAAA);
    return Trimmed(out, ConvertBIG5ToUTF16(text.data(), static_cast<U32>(text.size()), out.data(), capacity));
}
Bytes Encoded(U32 (*convert)(const U16*, U32, U8*, U32), const Units& text, U32 capacity = 64) {
    Bytes out(capacity, 0xAA);
    const U32 length = convert(text.data(), static_cast<U32>(text.size()), out.data(), capacity);
    EXPECT_EQ(out[length], 0) << "NUL-terminated";
    out.resize(length);
    return out;
}

struct Utf8Case {
    const char* what;
    Bytes utf8;
    Units units;
    bool complete = true;
};

TEST(UTF82UnicodeTest, DecodesTheBmpAndReplacesWhatIsNotWellFormed) {
    const Utf8Case cases[] = {
        {"ASCII", {'T', 'V', '1'}, {'T', 'V', '1'}},
        {"two bytes", {0xC3, 0xA9}, {0x00E9}},
        {"three bytes", {0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87}, {0x4E2D, 0x6587}},
        {"past the BMP: one U+FFFD", {0xF0, 0x9F, 0x98, 0x80, 'x'}, {kBad, 'x'}},
        {"stray continuation", {0x80, 'a'}, {kBad, 'a'}},
        {"overlong C0 AF", {0xC0, 0xAF}, {kBad, kBad}},
        {"overlong E0 80 80", {0xE0, 0x80, 0x80}, {kBad, kBad, kBad}},
        {"surrogate ED A0 80", {0xED, 0xA0, 0x80}, {kBad, kBad, kBad}},
        {"past U+10FFFF", {0xF4, 0x90, 0x80, 0x80}, {kBad, kBad, kBad, kBad}},
        {"old five-byte lead", {0xF8, 'a'}, {kBad, 'a'}},
        {"broken sequence, next byte read again", {0xE4, 0xB8, 'a'}, {kBad, 'a'}},
        {"cut at the end", {'a', 0xE4, 0xB8}, {'a', kBad}},
        {"lead FE stops", {'a', 0xFE, 'b'}, {'a'}, false},
        {"lead FF stops", {0xFF}, {}, false},
    };
    for (const Utf8Case& c : cases) {
        Units out(16, 0xAAAA);
        U32 count = 99;
        EXPECT_EQ(UTF82Unicode(c.utf8.data(), static_cast<U32>(c.utf8.size()), out.data(), 16, &count), c.complete)
            << c.what;
        out.resize(count);
        EXPECT_EQ(out, c.units) << c.what;
    }
}

TEST(UTF82UnicodeTest, StopsAtTheOutputCapacity) {
    const Bytes text = {0xE4, 0xB8, 0xAD, 0xE6, 0x96, 0x87, 'x'};
    Units out(1);
    U32 count = 0;
    EXPECT_TRUE(UTF82Unicode(text.data(), static_cast<U32>(text.size()), out.data(), 1, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(out[0], 0x4E2D);
}

struct LatinCase {
    const char* what;
    Bytes text;
    Units units;
};

// Every selector of the ISO/IEC 8859 tables, with an ASCII letter that every
// part shares and one character only that part has at that byte.
TEST(Convert8859ToUTest, EverySelectorReadsItsPart) {
    const LatinCase cases[] = {
        {"0x01: 8859-5", {0x01, 'A', 0xB0}, {'A', 0x0410}},
        {"0x02: 8859-6", {0x02, 'A', 0xC7}, {'A', 0x0627}},
        {"0x03: 8859-7", {0x03, 'A', 0xC1}, {'A', 0x0391}},
        {"0x04: 8859-8", {0x04, 'A', 0xE0}, {'A', 0x05D0}},
        {"0x05: 8859-9", {0x05, 'A', 0xD0}, {'A', 0x011E}},
        {"0x06: 8859-10", {0x06, 'A', 0xA1}, {'A', 0x0104}},
        {"0x07: 8859-11", {0x07, 'A', 0xA1}, {'A', 0x0E01}},
        {"0x08: reserved", {0x08, 'A', 0xE0}, {'A', kBad}},
        {"0x09: 8859-13", {0x09, 'A', 0xA1}, {'A', 0x201D}},
        {"0x0A: 8859-14", {0x0A, 'A', 0xA1}, {'A', 0x1E02}},
        {"0x0B: 8859-15", {0x0B, 'A', 0xA4}, {'A', 0x20AC}},
        {"0x10 00 01: 8859-1", {0x10, 0x00, 0x01, 'A', 0xE9}, {'A', 0x00E9}},
        {"0x10 00 02: 8859-2", {0x10, 0x00, 0x02, 'A', 0xA3}, {'A', 0x0141}},
        {"0x10 00 03: 8859-3", {0x10, 0x00, 0x03, 'A', 0xA1}, {'A', 0x0126}},
        {"0x10 00 04: 8859-4", {0x10, 0x00, 0x04, 'A', 0xA2}, {'A', 0x0138}},
        {"0x10 00 05: 8859-5", {0x10, 0x00, 0x05, 'A', 0xB0}, {'A', 0x0410}},
        {"0x10 00 06: 8859-6", {0x10, 0x00, 0x06, 'A', 0xC7}, {'A', 0x0627}},
        {"0x10 00 07: 8859-7", {0x10, 0x00, 0x07, 'A', 0xC1}, {'A', 0x0391}},
        {"0x10 00 08: 8859-8", {0x10, 0x00, 0x08, 'A', 0xE0}, {'A', 0x05D0}},
        {"0x10 00 09: 8859-9", {0x10, 0x00, 0x09, 'A', 0xD0}, {'A', 0x011E}},
        {"0x10 00 0A: 8859-10", {0x10, 0x00, 0x0A, 'A', 0xA1}, {'A', 0x0104}},
        {"0x10 00 0B: 8859-11", {0x10, 0x00, 0x0B, 'A', 0xA1}, {'A', 0x0E01}},
        {"0x10 00 0C: reserved", {0x10, 0x00, 0x0C, 'A', 0xE0}, {'A', kBad}},
        {"0x10 00 0D: 8859-13", {0x10, 0x00, 0x0D, 'A', 0xA1}, {'A', 0x201D}},
        {"0x10 00 0E: 8859-14", {0x10, 0x00, 0x0E, 'A', 0xA1}, {'A', 0x1E02}},
        {"0x10 00 0F: 8859-15", {0x10, 0x00, 0x0F, 'A', 0xA4}, {'A', 0x20AC}},
        {"0x10 00 00: reserved", {0x10, 0x00, 0x00, 'A', 0xE9}, {'A', kBad}},
        {"0x10 00 10: reserved", {0x10, 0x00, 0x10, 'A', 0xE9}, {'A', kBad}},
        {"0x10 01 05: reserved", {0x10, 0x01, 0x05, 'A', 0xB0}, {'A', kBad}},
        {"byte a part leaves undefined (8859-3 A5)", {0x10, 0x00, 0x03, 0xA5}, {kBad}},
        {"C1 control byte of a part", {0x01, 0x8A}, {0x008A}},
        {"0x10 without its table bytes", {0x10}, {}},
        {"0x10 with one table byte", {0x10, 0x00}, {}},
        {"selector only", {0x01}, {}},
        {"NUL ends the text", {0x01, 'a', 0x00, 'b'}, {'a'}},
        {"text without a selector", {'A', 0xE9}, {'A', kBad}},
    };
    for (const LatinCase& c : cases) {
        EXPECT_EQ(Latin(c.text), c.units) << c.what;
    }
}

TEST(Convert8859ToUTest, WritesNoMoreThanItsCapacityWithTheNul) {
    EXPECT_EQ(Latin({0x01, 'a', 'b', 'c'}, 3), (Units{'a', 'b'}));
    EXPECT_EQ(Latin({0x01, 'a'}, 1), Units{});
}

TEST(DoubleByteToUcs2Test, Gb2312AndBig5DecodeAndStayInsideTheirInput) {
    const LatinCase gb[] = {
        {"中文", {0xD6, 0xD0, 0xCE, 0xC4}, {0x4E2D, 0x6587}},
        {"ASCII passes", {'T', 'V', 0xD6, 0xD0}, {'T', 'V', 0x4E2D}},
        {"ideographic space and 啊", {0xA1, 0xA1, 0xB0, 0xA1}, {0x3000, 0x554A}},
        {"trailing lead byte ends the text", {0xD6, 0xD0, 0xCE}, {0x4E2D}},
        {"lone lead byte", {0xD6}, {}},
        {"lead without a trail: the next byte read again", {0xD6, 'a'}, {kBad, 'a'}},
        {"pair GB2312 leaves undefined (row 2 cell 1)", {0xA2, 0xA1, 'a'}, {kBad, 'a'}},
        {"byte 0x80", {0x80, 'a'}, {kBad, 'a'}},
        {"NUL ends the text", {0xD6, 0xD0, 0x00, 0xCE, 0xC4}, {0x4E2D}},
    };
    for (const LatinCase& c : gb) {
        EXPECT_EQ(Gb(c.text), c.units) << "GB2312 " << c.what;
    }
    const LatinCase big5[] = {
        {"中文", {0xA4, 0xA4, 0xA4, 0xE5}, {0x4E2D, 0x6587}},
        {"trail byte below 0x7F (乂 A4 40)", {0xA4, 0x40}, {0x4E00}},
        {"trailing lead byte ends the text", {'a', 0xA4}, {'a'}},
        {"lead without a trail", {0xA4, 0x20}, {kBad, ' '}},
    };
    for (const LatinCase& c : big5) {
        EXPECT_EQ(Big5(c.text), c.units) << "Big5 " << c.what;
    }
    // A two-unit buffer holds one character and the NUL.
    EXPECT_EQ(Gb({0xD6, 0xD0, 0xCE, 0xC4}, 2), Units{0x4E2D});
}

TEST(UcsToByteSetTest, WritesWholeCharactersAndQuestionMarksForWhatTheSetLacks) {
    EXPECT_EQ(Encoded(Convert_U_to_GB, {0x4E2D, 0x6587, 'A'}), (Bytes{0xD6, 0xD0, 0xCE, 0xC4, 'A'}));
    // 體 is traditional only, ☃ in no Chinese set.
    EXPECT_EQ(Encoded(Convert_U_to_GB, {0x9AD4, 0x2603, 0x4E2D}), (Bytes{'?', '?', 0xD6, 0xD0}));
    EXPECT_EQ(Encoded(Convert_U_to_GB, {0x00E9, 0x0410}), (Bytes{0xA8, 0xA6, 0xA7, 0xA1})) << "é and А";
    // Four bytes hold one two-byte character and the NUL, never half of one.
    EXPECT_EQ(Encoded(Convert_U_to_GB, {0x4E2D, 0x6587}, 4), (Bytes{0xD6, 0xD0}));
    EXPECT_EQ(Encoded(Convert_U_to_GB, {'a', 0, 'b'}), Bytes{'a'}) << "a NUL unit ends the text";

    EXPECT_EQ(Encoded(Convert_U_to_8859_5, {0x041F, 0x0440, 0x0438, 'A', 0x2116}), (Bytes{0xBF, 0xE0, 0xD8, 'A', 0xF0}));
    EXPECT_EQ(Encoded(Convert_U_to_8859_5, {0x4E2D, 0x00E9}), (Bytes{'?', '?'}));
    EXPECT_EQ(Encoded(Convert_U_to_8859_5, {0x0410, 0x0411, 0x0412}, 3), (Bytes{0xB0, 0xB1}));
}

TEST(UcsToUtf8Test, WritesWholeCharactersAndReplacesSurrogates) {
    using Convert = U32 (*)(const U16*, U32, U8*, U32);
    for (const Convert convert : {Convert{utf16_to_utf8}, Convert{UCS2_to_UTF8}}) {
        EXPECT_EQ(Encoded(convert, {'A', 0x00E9, 0x4E2D}), (Bytes{'A', 0xC3, 0xA9, 0xE4, 0xB8, 0xAD}));
        EXPECT_EQ(Encoded(convert, {0xD83D, 0xDE00}), (Bytes{0xEF, 0xBF, 0xBD, 0xEF, 0xBF, 0xBD}));
        EXPECT_EQ(Encoded(convert, {'a', 0, 'b'}), Bytes{'a'});
        // Six bytes: 'A', é, then no room for the three bytes of 中 and the NUL.
        EXPECT_EQ(Encoded(convert, {'A', 0x00E9, 0x4E2D}, 6), (Bytes{'A', 0xC3, 0xA9}));
    }
}

TEST(CharacterClassTest, SelectorHeuristicsAndUnicodeRanges) {
    const std::pair<Bytes, bool> gbCases[] = {
        {{'C', 'C', 'T', 'V'}, false},
        {{0xD6, 0xD0}, true},
        {{0x13, 0xD6, 0xD0}, true},
        {{0x14, 0xA4, 0xA4}, true},
        {{0x15, 0xE4, 0xB8, 0xAD}, false},
        {{0x01, 0xB0, 0xD0}, false},
        {{'a', 0xA0}, false},  // above 0xA0 only
        {{}, false},
    };
    for (const auto& [text, expected] : gbCases) {
        EXPECT_EQ(IsGBSimplifiedChinese(text.data(), static_cast<U32>(text.size())), expected)
            << testing::PrintToString(text);
    }
    const std::pair<Units, bool> cyrillic[] = {
        {{'a', 0x03FF}, false}, {{'a', 0x0400}, true}, {{0x04FF}, true}, {{0x0500}, false}, {{}, false}};
    for (const auto& [text, expected] : cyrillic) {
        EXPECT_EQ(IsUnicodeCyrillic(text.data(), static_cast<U32>(text.size())), expected)
            << testing::PrintToString(text);
    }
    const std::pair<Units, bool> chinese[] = {
        {{'a', 0x4E2D}, true},
        {{0x00E9}, false},  // GB2312 writes é, but it is no ideograph
        {{0x0410}, false},
        {{0x3000}, false},
        {{0x9AD4}, false},  // an ideograph GB2312 lacks
        {{}, false},
    };
    for (const auto& [text, expected] : chinese) {
        EXPECT_EQ(IsUnicodeSimplifiedChinese(text.data(), static_cast<U32>(text.size())), expected)
            << testing::PrintToString(text);
    }
}

}  // namespace
}  // namespace hx

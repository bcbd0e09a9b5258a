#include <gtest/gtest.h>

#include <cstring>

#include "core/common_fun.h"
#include "support/test_env.h"

namespace hx {
namespace {

const U8* Bytes(const char* text) { return reinterpret_cast<const U8*>(text); }

TEST(CrcTest, CheckValuesOfBothInitialValues) {
    // CRC-32/MPEG-2 check value; the link form starts from the polynomial itself.
    EXPECT_EQ(0x0376E6E7u, Common_CRC_Calculate(Bytes("123456789"), 9, 0));
    EXPECT_EQ(0x0376E6E7u, Common_CRC_Calculate(Bytes("123456789"), 9, kCrcInitMpeg2));
    EXPECT_EQ(0x0376E6E7u, Common_CRCCalculate("123456789", 9, 0));
    // Reference: the bitwise MSB-first register started at 0x04C11DB7.
    U32 crc = kCrcInitLinks;
    for (const char* p = "123456789"; *p; ++p) {
        crc ^= static_cast<U32>(static_cast<U8>(*p)) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    EXPECT_EQ(crc, Common_CRC_Calculate(Bytes("123456789"), 9, kCrcInitLinks));
}

TEST(CrcTest, EmptyInputGivesInitialValueAndSectionCrcVerifiesToZero) {
    EXPECT_EQ(0xFFFFFFFFu, Common_CRC_Calculate(Bytes(""), 0, 0));
    EXPECT_EQ(kCrcInitLinks, Common_CRC_Calculate(Bytes(""), 0, kCrcInitLinks));
    // A PSI section followed by its big-endian CRC checks to 0.
    U8 section[12] = {0x00, 0xB0, 0x09, 0x00, 0x01, 0xC1, 0x00, 0x00};
    PutBe32(section + 8, Common_CRC_Calculate(section, 8, kCrcInitMpeg2));
    EXPECT_EQ(0u, Common_CRC_Calculate(section, 12, kCrcInitMpeg2));
}

TEST(CrcTest, NullDataIsRefusedOnlyByTheCheckedForm) {
    test::TestEnvironment env;
    EXPECT_EQ(0u, Common_CRCCalculate(nullptr, 4, 0));
}

TEST(PackingTest, WordsToBytesAreBigEndianAndIgnoreTheRemainder) {
    const U32 words[2] = {0x01020304, 0xA0B0C0D0};
    U8 bytes[9];
    std::memset(bytes, 0xEE, sizeof bytes);
    Common_ChangeBit32To8(words, bytes, 7);  // one whole word only
    const U8 expected[9] = {1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, std::memcmp(expected, bytes, sizeof bytes));
}

TEST(PackingTest, BytesToWordsStopAtTheSiRecordSize) {
    U8 bytes[200];
    for (int i = 0; i < 200; ++i) {
        bytes[i] = static_cast<U8>(i);
    }
    U32 words[50];
    std::fill(std::begin(words), std::end(words), 0xDEADBEEFu);
    Common_ChangeBit8To32(words, bytes, 197);
    EXPECT_EQ(0xDEADBEEFu, words[0]) << "197 bytes is over the limit: nothing written";
    Common_ChangeBit8To32(words, bytes, 196);
    EXPECT_EQ(0x00010203u, words[0]);
    EXPECT_EQ(0xC0C1C2C3u, words[48]);
    EXPECT_EQ(0xDEADBEEFu, words[49]) << "49 words, no more";
}

TEST(HelpersTest, AsciiBecomesUtf16BigEndian) {
    U8 wide[6];
    Common_ConvertASCToUTF16(Bytes("HBO"), 3, wide);
    const U8 expectedWide[6] = {0, 'H', 0, 'B', 0, 'O'};
    EXPECT_EQ(0, std::memcmp(expectedWide, wide, 6));
}

TEST(HelpersTest, AddressText) {
    char text[32];
    Common_AddrU32toString(text, 0xC0A8010Bu);
    EXPECT_STREQ("192.168.1.11", text);
}

TEST(HelpersTest, NumbersAreWholeDecimalOrHexWithinTheirBound) {
    struct Case {
        const char* text;
        U32 max;
        std::optional<U32> expected;
    };
    const Case cases[] = {
        {"8000", 65535, 8000},   {"0x1F40", 65535, 8000}, {"0X1f40", 65535, 8000}, {"65535", 65535, 65535},
        {"65536", 65535, {}},    {"4294967296", 0xFFFFFFFFu, {}}, {"", 10, {}},    {"0x", 10, {}},
        {"-1", 10, {}},          {" 1", 10, {}},          {"1 ", 10, {}},          {"12a", 100, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Common_ParseNumber(c.text, c.max)) << c.text;
    }
}

}  // namespace
}  // namespace hx

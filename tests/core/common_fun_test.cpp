#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "core/common_fun.h"
#include "support/test_env.h"

namespace hx {
namespace {

const U8* Bytes(const char* text) { return reinterpret_cast<const U8*>(text); }

// The definition: the MSB-first register, one bit at a time.
U32 BitwiseCrc(U32 crc, const U8* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= static_cast<U32>(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

TEST(CrcTest, CheckValuesOfBothInitialValues) {
    // CRC-32/MPEG-2 check value; the link form starts from the polynomial itself.
    EXPECT_EQ(0x0376E6E7u, Common_CRC_Calculate(Bytes("123456789"), 9, 0));
    EXPECT_EQ(0x0376E6E7u, Common_CRC_Calculate(Bytes("123456789"), 9, kCrcInitMpeg2));
    EXPECT_EQ(0x0376E6E7u, Common_CRCCalculate("123456789", 9, 0));
    EXPECT_EQ(BitwiseCrc(kCrcInitLinks, Bytes("123456789"), 9),
              Common_CRC_Calculate(Bytes("123456789"), 9, kCrcInitLinks));
}

// Both forms, and the one chosen at start, against the bitwise register: every
// length up to 256 (the carry-less form starts at 64 bytes and folds 16 and 64
// at a time) and random lengths up to 4,096, each at every offset 0-7 from an
// 8-byte boundary, from the initial values in use and random ones. The input
// sits at the end of its own allocation, so a read past it is caught by the
// sanitizer build.
TEST(CrcTest, EveryFormMatchesTheBitwiseRegisterForAnyLengthAndAlignment) {
    std::mt19937 random(0x5EED);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 256; ++length) {
        lengths.push_back(length);
    }
    std::uniform_int_distribution<std::size_t> anyLength(0, 4096);
    for (int i = 0; i < 300; ++i) {
        lengths.push_back(anyLength(random));
    }
    const bool carryless = Common_CRC_ContinueByCarrylessMultiply(0, {}).has_value();
    if (!carryless) {
        std::printf("no carry-less multiply on this processor: the table form only\n");
    }
    int round = 0;
    for (const std::size_t length : lengths) {
        for (std::size_t offset = 0; offset < 8; ++offset, ++round) {
            std::vector<U8> storage(offset + length);
            for (U8& byte : storage) {
                byte = static_cast<U8>(random());
            }
            const U8* data = storage.data() + offset;
            const U32 initials[] = {kCrcInitMpeg2, kCrcInitLinks, static_cast<U32>(random())};
            const U32 initial = initials[round % 3];
            const U32 expected = BitwiseCrc(initial, data, length);
            const std::span<const U8> bytes(data, length);
            ASSERT_EQ(expected, Common_CRC_Calculate(data, static_cast<U32>(length), initial))
                << length << " bytes at offset " << offset;
            ASSERT_EQ(expected, Common_CRC_ContinueByTable(initial, bytes)) << length << " at " << offset;
            if (carryless) {
                ASSERT_EQ(expected, Common_CRC_ContinueByCarrylessMultiply(initial, bytes))
                    << length << " at " << offset;
            }
            // In two pieces, split anywhere, as the model save sums its pools.
            const std::size_t split = length == 0 ? 0 : random() % (length + 1);
            ASSERT_EQ(expected, Common_CRC_Continue(Common_CRC_Continue(initial, bytes.first(split)),
                                                    bytes.subspan(split)))
                << length << " split at " << split;
        }
    }
}

TEST(CrcTest, ARunningRegisterOfZeroStaysZeroWhenContinued) {
    // Only the first piece's 0 means 0xFFFFFFFF: a running register that
    // happens to be 0 must not restart. Four bytes equal to the register's
    // top bring it to 0 exactly.
    U8 data[8] = {};
    const U32 start = 0x12345678;
    PutBe32(data, start);
    ASSERT_EQ(0u, BitwiseCrc(start, data, 4));
    EXPECT_EQ(BitwiseCrc(start, data, 8), Common_CRC_Continue(Common_CRC_Continue(start, {data, 4}), {data + 4, 4}));
    EXPECT_NE(BitwiseCrc(start, data, 8),
              Common_CRC_Calculate(data + 4, 4, Common_CRC_Calculate(data, 4, start)))
        << "chaining through the substituting form restarts at 0xFFFFFFFF";
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

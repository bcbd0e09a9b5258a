// The HTTP server's byte strings: storage growth, text and raw appends,
// number and hex text, the six encoders, URL decoding, path simplification
// and the comparisons.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "http/buffer.h"
#include "http/http_test_util.h"

namespace hx::test {
namespace {

// --- storage growth ---

struct GrowthCase {
    const char* name;
    std::string initialText;  // copied in first ("" = never touched)
    bool prepareCopy;         // else prepare_append
    size_t request;
    size_t expectedSize;
    size_t expectedUsed;
};

class BufferGrowth : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(BufferGrowth, AllocatesWhole64ByteBlocks) {
    const GrowthCase& c = GetParam();
    BufferPtr b = c.initialText.empty() ? NewBuffer() : NewBuffer(c.initialText);
    if (c.prepareCopy) {
        buffer_prepare_copy(b.get(), c.request);
    } else {
        buffer_prepare_append(b.get(), c.request);
    }
    EXPECT_EQ(b->size, c.expectedSize);
    EXPECT_EQ(b->used, c.expectedUsed);
    EXPECT_EQ(b->size % 64, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferGrowth,
    ::testing::Values(GrowthCase{"AppendOneToNothing", "", false, 1, 64, 0},
                      GrowthCase{"AppendZeroToNothing", "", false, 0, 64, 0},
                      GrowthCase{"Copy63", "", true, 63, 64, 0}, GrowthCase{"Copy64", "", true, 64, 128, 0},
                      GrowthCase{"Copy0", "", true, 0, 64, 0},
                      // Copy discards the content even when the storage is big enough.
                      GrowthCase{"CopyKeepsStorage", "abc", true, 10, 64, 0},
                      // Growth is on top of the current allocation: (64 + 100) -> 128 + 64.
                      GrowthCase{"AppendGrowsOnTopOfSize", std::string(59, 'x'), false, 101, 192, 60},
                      GrowthCase{"AppendThatFits", std::string(9, 'x'), false, 54, 64, 10}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Buffer, Appending100BytesToTenUsedOf64GrowsTo192) {
    BufferPtr b = NewBuffer(std::string(9, 'a'));
    ASSERT_EQ(b->size, 64U);
    ASSERT_EQ(b->used, 10U);
    const std::string more(100, 'b');
    buffer_append_string_len(b.get(), more.data(), more.size());
    EXPECT_EQ(b->size, 192U);
    EXPECT_EQ(b->used, 110U);
    EXPECT_EQ(Text(b.get()), std::string(9, 'a') + more);
}

TEST(Buffer, ResetKeepsSmallStorageAndReleasesLarge) {
    BufferPtr small = NewBuffer();
    buffer_prepare_copy(small.get(), 4000);  // 4032 bytes
    buffer_copy_string(small.get(), "text");
    buffer_reset(small.get());
    EXPECT_EQ(small->used, 0U);
    EXPECT_EQ(small->size, 4032U);
    ASSERT_NE(small->ptr, nullptr);
    EXPECT_EQ(small->ptr[0], '\0');

    BufferPtr exact = NewBuffer();
    buffer_prepare_copy(exact.get(), 4032);  // 4096 bytes: still kept
    buffer_reset(exact.get());
    EXPECT_EQ(exact->size, 4096U);

    BufferPtr large = NewBuffer();
    buffer_prepare_copy(large.get(), 4096);  // 4160 bytes
    buffer_reset(large.get());
    EXPECT_EQ(large->ptr, nullptr);
    EXPECT_EQ(large->size, 0U);
    EXPECT_EQ(large->used, 0U);
}

// --- text and raw content ---

TEST(Buffer, UsedCountsTheNulOfText) {
    BufferPtr b = NewBuffer();
    buffer_copy_string(b.get(), "abc");
    EXPECT_EQ(b->used, 4U);
    EXPECT_EQ(b->ptr[3], '\0');
    buffer_append_string(b.get(), "de");
    EXPECT_EQ(b->used, 6U);
    EXPECT_STREQ(b->ptr, "abcde");

    buffer_copy_string(b.get(), "");
    EXPECT_EQ(b->used, 1U);
    EXPECT_TRUE(buffer_is_equal_string(b.get(), "", 0));
}

TEST(Buffer, EmptyAppendsLeaveAnEmptyBufferWithoutNul) {
    BufferPtr b = NewBuffer();
    BufferPtr empty = NewBuffer();
    buffer_append_string_len(b.get(), "", 0);
    buffer_append_string(b.get(), "");
    buffer_append_string_buffer(b.get(), empty.get());
    buffer_append_string_encoded(b.get(), "", 0, ENCODING_HTML);
    EXPECT_EQ(b->used, 0U);
    EXPECT_TRUE(buffer_is_empty(b.get()));
    EXPECT_FALSE(buffer_is_equal_string(b.get(), "", 0));
}

TEST(Buffer, CopyingAnEmptyBufferEmptiesTheTarget) {
    BufferPtr b = NewBuffer("something");
    BufferPtr empty = NewBuffer();
    EXPECT_EQ(buffer_copy_string_buffer(b.get(), empty.get()), 0);
    EXPECT_EQ(b->used, 0U);
    EXPECT_TRUE(buffer_is_equal(b.get(), empty.get()));
}

TEST(Buffer, NullPointersAreRefused) {
    BufferPtr b = NewBuffer("x");
    EXPECT_EQ(buffer_copy_string(nullptr, "a"), -1);
    EXPECT_EQ(buffer_copy_string(b.get(), nullptr), -1);
    EXPECT_EQ(buffer_append_string_len(b.get(), nullptr, 3), -1);
    EXPECT_EQ(buffer_copy_string_buffer(b.get(), nullptr), -1);
    EXPECT_EQ(buffer_urldecode_path(nullptr), -1);
    EXPECT_EQ(buffer_path_simplify(b.get(), nullptr), -1);
    EXPECT_EQ(Text(b.get()), "x");
    buffer_free(nullptr);
}

TEST(Buffer, AppendingItsOwnTextSurvivesGrowth) {
    BufferPtr b = NewBuffer(std::string(40, 'a'));
    buffer_append_string_buffer(b.get(), b.get());  // 81 bytes: storage moves
    EXPECT_EQ(Text(b.get()), std::string(80, 'a'));
    buffer_copy_string_buffer(b.get(), b.get());
    EXPECT_EQ(Text(b.get()), std::string(80, 'a'));
}

TEST(Buffer, RawMemoryHasNoNul) {
    BufferPtr b = NewBuffer();
    buffer_append_memory(b.get(), "ab\0c", 4);
    EXPECT_EQ(b->used, 4U);
    buffer_append_memory(b.get(), "d", 1);
    EXPECT_EQ(b->used, 5U);
    EXPECT_EQ(std::memcmp(b->ptr, "ab\0cd", 5), 0);
    buffer_copy_memory(b.get(), "xy", 2);
    EXPECT_EQ(b->used, 2U);
    EXPECT_EQ(std::memcmp(b->ptr, "xy", 2), 0);
}

TEST(Buffer, RightFillPadsOrCutsToExactlyMaxlen) {
    BufferPtr b = NewBuffer("[");
    buffer_append_string_rfill(b.get(), "abc", 5);
    buffer_append_string_rfill(b.get(), "abcdef", 3);
    buffer_append_string(b.get(), "]");
    EXPECT_EQ(Text(b.get()), "[abc  abc]");
}

TEST(Buffer, CaseFoldingTouchesAsciiLettersOnly) {
    BufferPtr b = NewBuffer("Ab-Z\xc3\x89z@[");
    buffer_to_lower(b.get());
    EXPECT_EQ(Text(b.get()), "ab-z\xc3\x89z@[");
    buffer_to_upper(b.get());
    EXPECT_EQ(Text(b.get()), "AB-Z\xc3\x89Z@[");
}

// --- numbers and hex ---

struct LongCase {
    std::int32_t value;
    const char* text;
};

TEST(Buffer, DecimalTextOfEverySigned32BitValue) {
    const std::vector<LongCase> cases = {
        {0, "0"}, {7, "7"}, {-1, "-1"}, {10, "10"}, {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const LongCase& c : cases) {
        char text[16];
        EXPECT_EQ(LI_ltostr(text, c.value), static_cast<int>(std::strlen(c.text))) << c.text;
        EXPECT_STREQ(text, c.text);

        BufferPtr copied = NewBuffer("old");
        buffer_copy_long(copied.get(), c.value);
        EXPECT_EQ(Text(copied.get()), c.text);

        BufferPtr appended = NewBuffer("n=");
        buffer_append_long(appended.get(), c.value);
        EXPECT_EQ(Text(appended.get()), std::string("n=") + c.text);
        EXPECT_EQ(appended->used, 3 + std::strlen(c.text));
    }
    BufferPtr empty = NewBuffer();
    buffer_append_long(empty.get(), -42);
    EXPECT_EQ(Text(empty.get()), "-42");
}

TEST(Buffer, LongHexHasAnEvenNumberOfDigits) {
    const std::vector<std::pair<std::uint32_t, const char*>> cases = {
        {0, "00"},        {0xF, "0f"},          {0xAB, "ab"},        {0xABC, "0abc"},
        {0x1000, "1000"}, {0x10000, "010000"}, {0xFFFFFFFF, "ffffffff"}, {0x1000000, "01000000"}};
    for (const auto& [value, text] : cases) {
        BufferPtr b = NewBuffer();
        buffer_append_long_hex(b.get(), value);
        EXPECT_EQ(Text(b.get()), text);
        BufferPtr after = NewBuffer("x");
        buffer_append_long_hex(after.get(), value);
        EXPECT_EQ(Text(after.get()), std::string("x") + text);
    }
}

TEST(Buffer, StringHexIsTwoLowerCaseDigitsPerByte) {
    BufferPtr b = NewBuffer("old");
    ASSERT_EQ(buffer_copy_string_hex(b.get(), "\x00\x0f\xab\xff Z", 6), 0);
    EXPECT_EQ(Text(b.get()), "000fabff205a");
    ASSERT_EQ(buffer_copy_string_hex(b.get(), "", 0), 0);
    EXPECT_EQ(b->used, 1U);
    // A length that is negative as a 32-bit number is refused before any byte is read.
    EXPECT_EQ(buffer_copy_string_hex(b.get(), "", static_cast<size_t>(0x80000000U)), -1);
    EXPECT_EQ(buffer_copy_string_hex(b.get(), "", SIZE_MAX), -1);
}

TEST(Buffer, HexDigitConversions) {
    EXPECT_EQ(int2hex(0), '0');
    EXPECT_EQ(int2hex(9), '9');
    EXPECT_EQ(int2hex(10), 'a');
    EXPECT_EQ(int2hex(15), 'f');
    const std::vector<std::pair<unsigned char, int>> cases = {
        {'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
        {'g', 0xFF}, {'G', 0xFF}, {'/', 0xFF}, {':', 0xFF}, {'@', 0xFF}, {0, 0xFF}, {0xE1, 0xFF}};
    for (const auto& [c, value] : cases) {
        EXPECT_EQ(hex2int(c), value) << static_cast<int>(c);
    }
}

TEST(Buffer, CharacterClassesAreAsciiOnly) {
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool hex = digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        EXPECT_EQ(light_isdigit(c) != 0, digit) << c;
        EXPECT_EQ(light_isalpha(c) != 0, alpha) << c;
        EXPECT_EQ(light_isalnum(c) != 0, digit || alpha) << c;
        EXPECT_EQ(light_isxdigit(c) != 0, hex) << c;
    }
}

// --- the six encodings ---

std::string AllBytes() {
    std::string bytes;
    for (int c = 0; c < 256; ++c) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

// The URI encodings as stated from the other side: only letters, digits and
// ! ( ) * - . _ (and / for the whole-URI form) pass unchanged.
std::string ExpectedUri(const std::string& in, bool slashPasses) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        const bool passes = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                            (c != 0 && std::strchr("!()*-._", c) != nullptr) || (slashPasses && c == '/');
        if (passes) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

TEST(BufferEncoding, UriEncodingsOverEveryByte) {
    const std::string bytes = AllBytes();
    BufferPtr uri = NewBuffer("");
    buffer_append_string_encoded(uri.get(), bytes.data(), bytes.size(), ENCODING_REL_URI);
    EXPECT_EQ(Text(uri.get()), ExpectedUri(bytes, true));

    BufferPtr part = NewBuffer("");
    buffer_append_string_encoded(part.get(), bytes.data(), bytes.size(), ENCODING_REL_URI_PART);
    EXPECT_EQ(Text(part.get()), ExpectedUri(bytes, false));
}

struct EncodingCase {
    const char* name;
    buffer_encoding_t encoding;
    std::string in;
    std::string out;
};

class BufferEncodingTable : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(BufferEncodingTable, ByteForByte) {
    const EncodingCase& c = GetParam();
    BufferPtr b = NewBuffer("<<");
    ASSERT_EQ(buffer_append_string_encoded(b.get(), c.in.data(), c.in.size(), c.encoding), 0);
    EXPECT_EQ(Text(b.get()), "<<" + c.out);
    EXPECT_EQ(b->used, 3 + c.out.size());
    EXPECT_EQ(b->ptr[b->used - 1], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferEncodingTable,
    ::testing::Values(
        EncodingCase{"UriSample", ENCODING_REL_URI, "/a b?c=d&e+f,g~", "/a%20b%3fc%3dd%26e%2bf%2cg%7e"},
        EncodingCase{"UriPartSample", ENCODING_REL_URI_PART, "/a-b_c.d!(*)", "%2fa-b_c.d!(*)"},
        EncodingCase{"Html", ENCODING_HTML, std::string("a<b>&c\x01\x7f\x80\xff\"'\t", 13),
                     "a&#x3c;b&#x3e;&#x26;c&#x01;&#x7f;&#x80;&#xff;\"'&#x09;"},
        EncodingCase{"MinimalXmlKeepsHighBytes", ENCODING_MINIMAL_XML, std::string("a<b>&c\x01\x7f\x80\xff\"'", 12),
                     "a&#x3c;b&#x3e;&#x26;c&#x01;&#x7f;\x80\xff\"'"},
        EncodingCase{"HexEveryByte", ENCODING_HEX, std::string("\x00\x1f" "Az\xff", 5), "001f417aff"},
        EncodingCase{"HeaderFoldsLineFeeds", ENCODING_HTTP_HEADER, "a\nb\r\nc", "a\n\tb\r\n\tc"},
        EncodingCase{"NulByteEscaped", ENCODING_HTML, std::string("\0x", 2), "&#x00;x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BufferEncoding, OutputIsReservedInOneStep) {
    // 62 escaped bytes after one character: 186 bytes and a NUL reserved at
    // once give ((64 + 187) & ~63) + 64 = 256.
    BufferPtr b = NewBuffer("x");
    const std::string spaces(62, ' ');
    buffer_append_string_encoded(b.get(), spaces.data(), spaces.size(), ENCODING_REL_URI);
    EXPECT_EQ(b->used, 2U + 186U);
    EXPECT_EQ(b->size, 256U);
}

TEST(BufferEncoding, EmptyTargetBecomesText) {
    BufferPtr b = NewBuffer();
    buffer_append_string_encoded(b.get(), "<", 1, ENCODING_MINIMAL_XML);
    EXPECT_EQ(Text(b.get()), "&#x3c;");
    EXPECT_EQ(b->used, 7U);
}

TEST(BufferEncodingDeathTest, RawTargetAndUnknownEncodingEndTheProcess) {
    BufferPtr raw = NewBuffer();
    buffer_append_memory(raw.get(), "ab", 2);
    EXPECT_DEATH(buffer_append_string_encoded(raw.get(), "x", 1, ENCODING_HEX), "buffer.cpp.[0-9]+: aborted");
    BufferPtr text = NewBuffer("ok");
    EXPECT_DEATH(buffer_append_string_encoded(text.get(), "x", 1, static_cast<buffer_encoding_t>(7)),
                 "assertion failed: map != NULL");
    EXPECT_DEATH(buffer_append_string_encoded(text.get(), "x", 1, ENCODING_UNSET), "assertion failed: map != NULL");
}

// --- URL decoding and path simplification ---

struct DecodeCase {
    std::string in;
    std::string path;   // buffer_urldecode_path
    std::string query;  // buffer_urldecode_query
};

TEST(BufferUrlDecode, Table) {
    const std::vector<DecodeCase> cases = {
        {"/a%2Fb%00%zz", "/a/b_%zz", "/a/b_%zz"},
        {"%41%6a%6A", "Ajj", "Ajj"},
        {"%7f%7F%1f%01%20", "____ ", "____ "},
        {"%", "%", "%"},
        {"%4", "%4", "%4"},
        {"ab%", "ab%", "ab%"},
        {"%%41", "%A", "%A"},
        {"%g1%1g", "%g1%1g", "%g1%1g"},
        {"a+b%2B%2b", "a+b++", "a b++"},
        {"%e2%82%ac", "\xe2\x82\xac", "\xe2\x82\xac"},
        {"%25%32%35", "%25", "%25"},  // decoded once only
        {"plain", "plain", "plain"},
    };
    for (const DecodeCase& c : cases) {
        BufferPtr path = NewBuffer(c.in);
        buffer_urldecode_path(path.get());
        EXPECT_EQ(Text(path.get()), c.path) << c.in;
        EXPECT_EQ(path->used, c.path.size() + 1) << c.in;

        BufferPtr query = NewBuffer(c.in);
        buffer_urldecode_query(query.get());
        EXPECT_EQ(Text(query.get()), c.query) << c.in;
    }
    BufferPtr empty = NewBuffer();
    EXPECT_EQ(buffer_urldecode_path(empty.get()), 0);
    EXPECT_EQ(empty->used, 0U);
}

struct SimplifyCase {
    std::string raw;  // as requested: decoded first, then simplified
    std::string simplified;
};

TEST(BufferPathSimplify, Table) {
    const std::vector<SimplifyCase> cases = {
        {"/a/b/../c", "/a/c"},
        {"/a/./b", "/a/b"},
        {"a//b", "/a/b"},
        {"/a/b/..", "/a/"},
        {"/..", "/"},
        {"/abc/", "/abc/"},
        {"   x/../y", "/y"},
        {"", "/"},
        {"/", "/"},
        {"//", "/"},
        {"/a/.", "/a/"},
        {"/a/b/../", "/a/"},
        {"/...", "/..."},
        {"/a../..b/.c", "/a../..b/.c"},
        {"/../../a", "/a"},
        {"/a/b/../../..", "/"},
        {"/a/../../b/./../c/", "/c/"},
        // Escapes are decoded before the path is simplified, so encoded dots
        // and slashes climb no higher than plain ones.
        {"/a/%2e%2e/b", "/b"},
        {"/%2e%2e/%2E%2E/etc/passwd", "/etc/passwd"},
        {"/a%2F..%2Fb", "/b"},
        {"/static%2F..%2F..%2F..%2Fetc", "/etc"},
        {"/a/%2e/b", "/a/b"},
        {"/a%2f%2f", "/a/"},
    };
    for (const SimplifyCase& c : cases) {
        BufferPtr path = NewBuffer(c.raw);
        buffer_urldecode_path(path.get());
        BufferPtr out = NewBuffer("previous");
        ASSERT_EQ(buffer_path_simplify(out.get(), path.get()), 0);
        EXPECT_EQ(Text(out.get()), c.simplified) << c.raw;
        // In place gives the same.
        buffer_path_simplify(path.get(), path.get());
        EXPECT_EQ(Text(path.get()), c.simplified) << c.raw;
    }
    BufferPtr empty = NewBuffer();
    BufferPtr out = NewBuffer();
    buffer_path_simplify(out.get(), empty.get());
    EXPECT_EQ(Text(out.get()), "/");
}

// --- comparisons and search ---

TEST(Buffer, EqualityRules) {
    BufferPtr a = NewBuffer("Host");
    BufferPtr b = NewBuffer("Host");
    BufferPtr empty1 = NewBuffer();
    BufferPtr empty2 = NewBuffer();
    EXPECT_TRUE(buffer_is_equal(a.get(), b.get()));
    EXPECT_TRUE(buffer_is_equal(empty1.get(), empty2.get()));
    EXPECT_FALSE(buffer_is_equal(a.get(), empty1.get()));
    EXPECT_TRUE(buffer_is_equal_string(a.get(), "Host", 4));
    EXPECT_FALSE(buffer_is_equal_string(a.get(), "Hos", 3));
    EXPECT_FALSE(buffer_is_equal_string(a.get(), "host", 4));
    EXPECT_TRUE(buffer_is_equal_caseless_string(a.get(), "hOST", 4));
    EXPECT_FALSE(buffer_is_equal_caseless_string(a.get(), "hOSTs", 5));
    EXPECT_FALSE(buffer_is_equal_caseless_string(empty1.get(), "", 0));
}

TEST(Buffer, RightEnds) {
    BufferPtr a = NewBuffer("index.html");
    BufferPtr b = NewBuffer(".html");
    BufferPtr c = NewBuffer(".htm");
    BufferPtr empty = NewBuffer();
    EXPECT_TRUE(buffer_is_equal_right_len(a.get(), b.get(), 5));
    EXPECT_TRUE(buffer_is_equal_right_len(a.get(), b.get(), 0));
    EXPECT_TRUE(buffer_is_equal_right_len(empty.get(), empty.get(), 0));
    EXPECT_FALSE(buffer_is_equal_right_len(a.get(), b.get(), 6));  // b too short
    EXPECT_FALSE(buffer_is_equal_right_len(a.get(), c.get(), 4));
    EXPECT_FALSE(buffer_is_equal_right_len(a.get(), empty.get(), 1));
}

TEST(Buffer, SearchStaysInsideTheText) {
    BufferPtr b = NewBuffer("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(buffer_search_string_len(b.get(), "\r\n\r\n", 4), b->ptr + 14);
    EXPECT_EQ(buffer_search_string_len(b.get(), "GET", 3), b->ptr);
    EXPECT_EQ(buffer_search_string_len(b.get(), "POST", 4), nullptr);
    EXPECT_EQ(buffer_search_string_len(b.get(), "GET", 0), nullptr);
    EXPECT_EQ(buffer_search_string_len(b.get(), nullptr, 3), nullptr);
    // The NUL is not part of the text.
    EXPECT_EQ(buffer_search_string_len(b.get(), "\n\0", 2), nullptr);
    BufferPtr shortText = NewBuffer("ab");
    EXPECT_EQ(buffer_search_string_len(shortText.get(), "abc", 3), nullptr);
    BufferPtr empty = NewBuffer();
    EXPECT_EQ(buffer_search_string_len(empty.get(), "a", 1), nullptr);
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(Buffer, CaselessOrder) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const std::vector<Case> cases = {
        {"host", "Host", 0},  {"HOST", "host", 0}, {"abc", "ABD", -1}, {"ab", "abc", -1},
        {"abc", "ab", 1},     {"", "", 0},         {"", "a", -1},
        // '_' lies between 'Z' and 'a', so folding decides: "_" is above "A" in
        // bytes but below it caselessly.
        {"_", "A", -1},       {"[", "a", -1},      {"\xe9", "a", 1}, {"Z", "a", 1}};
    for (const Case& c : cases) {
        const int result = buffer_caseless_compare(c.a, std::strlen(c.a) + 1, c.b, std::strlen(c.b) + 1);
        EXPECT_EQ(Sign(result), c.sign) << c.a << " vs " << c.b;
    }
    EXPECT_EQ(buffer_caseless_compare("abc", 3, "ABCD", 4), -1);
}

// --- buffer arrays ---

TEST(BufferArray, GrowsBy16AndReusesItsBuffers) {
    buffer_array* list = buffer_array_init();
    std::vector<buffer*> first;
    for (int i = 0; i < 20; ++i) {
        buffer* b = buffer_array_append_get_buffer(list);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(buffer_is_empty(b));
        buffer_copy_long(b, i);
        first.push_back(b);
    }
    EXPECT_EQ(list->used, 20U);
    EXPECT_EQ(list->size, 32U);
    buffer_array_reset(list);
    EXPECT_EQ(list->used, 0U);
    for (int i = 0; i < 20; ++i) {
        buffer* b = buffer_array_append_get_buffer(list);
        EXPECT_EQ(b, first[static_cast<size_t>(i)]);
        EXPECT_EQ(b->used, 0U);
    }
    buffer_array_free(list);
}

}  // namespace
}  // namespace hx::test

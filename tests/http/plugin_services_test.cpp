// What the program offers modules beside the loader: named status counters,
// generate_crc32c (the ordinary CRC-32) and MD5.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "http/http_test_util.h"
#include "http/md5.h"
#include "http/plugin.h"

namespace hx {
namespace {

class StatusCounters : public testing::Test {
protected:
    void SetUp() override { srv_ = server_init(); }
    void TearDown() override { server_free(srv_); }
    int Value(const std::string& name) { return status_counter_get_counter(srv_, name.data(), name.size())->value; }
    server* srv_ = nullptr;
};

TEST_F(StatusCounters, CountUpAndDownButNeverBelowZero) {
    const std::string name = "mod_x.requests";
    EXPECT_EQ(Value(name), 0);
    EXPECT_EQ(status_counter_inc(srv_, name.data(), name.size()), 0);
    EXPECT_EQ(status_counter_inc(srv_, name.data(), name.size()), 0);
    EXPECT_EQ(Value(name), 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(status_counter_dec(srv_, name.data(), name.size()), 0);
    }
    EXPECT_EQ(Value(name), 0);
    EXPECT_EQ(status_counter_set(srv_, name.data(), name.size(), -5), 0);
    EXPECT_EQ(Value(name), -5);
    EXPECT_EQ(status_counter_dec(srv_, name.data(), name.size()), 0);
    EXPECT_EQ(Value(name), -5);
    EXPECT_EQ(srv_->status->used, 1u);
}

TEST_F(StatusCounters, TheNameIsTheFirstLenBytesAndEachNameHasItsOwnCounter) {
    const char text[] = "mod_a.hits-and-more";
    status_counter_set(srv_, text, 9, 7);  // "mod_a.hit"
    status_counter_inc(srv_, text, 10);    // "mod_a.hits"
    EXPECT_EQ(Value("mod_a.hit"), 7);
    EXPECT_EQ(Value("mod_a.hits"), 1);
    ASSERT_EQ(srv_->status->used, 2u);
    EXPECT_EQ(test::KeyOf(srv_->status->data[0]), "mod_a.hit");
}

TEST_F(StatusCounters, ASpareIntegerOfTheArrayIsReused) {
    data_integer* first = status_counter_get_counter(srv_, "old", 3);
    first->value = 9;
    array_reset(srv_->status);
    data_integer* again = status_counter_get_counter(srv_, "new", 3);
    EXPECT_EQ(again, first);
    EXPECT_EQ(test::KeyOf(again), "new");
    EXPECT_EQ(again->value, 0);
}

TEST(Crc32c, IsTheOrdinaryReflectedCrc32) {
    const struct {
        std::string data;
        std::uint32_t crc;
    } cases[] = {
        {"", 0x00000000},
        {"123456789", 0xCBF43926},  // not the Castagnoli check value 0xE3069283
        {"a", 0xE8B7BE43},
        {std::string("\xFF", 1), 0xFF000000},  // bytes taken unsigned
        {std::string("\x00\x80\xFE", 3), 0x9EC79E42},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(generate_crc32c(c.data.data(), c.data.size()), c.crc) << c.data;
    }
}

std::string Md5Hex(const std::string& data, size_t piece) {
    li_MD5_CTX context;
    li_MD5_Init(&context);
    for (size_t at = 0; at < data.size(); at += piece) {
        li_MD5_Update(&context, data.data() + at, std::min(piece, data.size() - at));
    }
    unsigned char digest[16];
    li_MD5_Final(digest, &context);
    std::string hex;
    for (unsigned char byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

TEST(Md5, GivesTheDigestsOfRfc1321HoweverTheInputIsSplit) {
    const struct {
        std::string data;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // Padding on either side of the 56-byte boundary.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1000000}}) {
            if (piece == 1 && c.data.size() > 1000) {
                continue;
            }
            EXPECT_EQ(Md5Hex(c.data, piece), c.digest) << c.data.size() << " bytes in pieces of " << piece;
        }
    }
}

}  // namespace
}  // namespace hx

// Entity tags: the text from a file's status by the flags, the quoted hash
// and the comparison.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "http/etag.h"
#include "http/http_test_util.h"

namespace hx {
namespace {

struct stat Status(ino_t inode, off_t size, time_t mtime) {
    struct stat st {};
    st.st_ino = inode;
    st.st_size = size;
    st.st_mtime = mtime;
    return st;
}

TEST(Etag, CreateByFlags) {
    const struct {
        int flags;
        const char* text;
    } cases[] = {
        {ETAG_USE_INODE | ETAG_USE_SIZE | ETAG_USE_MTIME, "12-34-56"},
        {ETAG_USE_INODE, "12-"},
        {ETAG_USE_SIZE, "34-"},
        {ETAG_USE_MTIME, "56"},
        {ETAG_USE_INODE | ETAG_USE_MTIME, "12-56"},
        {0, "unchanged"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        struct stat st = Status(12, 34, 56);
        auto etag = test::NewBuffer("unchanged");
        EXPECT_EQ(etag_create(etag.get(), &st, static_cast<etag_flags_t>(c.flags)), 0);
        EXPECT_EQ(test::Text(etag.get()), c.text);
    }
}

TEST(Etag, WideInodesAndSizesAreWrittenWhole) {
    struct stat st = Status(0x1234567890ULL, off_t{5} << 32, 1'767'225'600);
    auto etag = test::NewBuffer();
    etag_create(etag.get(), &st, static_cast<etag_flags_t>(ETAG_USE_INODE | ETAG_USE_SIZE | ETAG_USE_MTIME));
    EXPECT_EQ(test::Text(etag.get()), "78187493520-21474836480-1767225600");
}

TEST(Etag, MutateIsTheQuotedSignedHash) {
    const struct {
        const char* text;
        const char* quoted;
    } cases[] = {
        {"abc", "\"100387\""},
        {"12-34-56", "\"-651513070\""},
        {"", "\"0\""},
    };
    for (const auto& c : cases) {
        auto etag = test::NewBuffer(c.text);
        auto out = test::NewBuffer("old");
        EXPECT_EQ(etag_mutate(out.get(), etag.get()), 0);
        EXPECT_EQ(test::Text(out.get()), c.quoted) << c.text;
    }
}

TEST(Etag, EqualOnlyForTheSameNonEmptyText) {
    auto etag = test::NewBuffer("\"100387\"");
    EXPECT_EQ(etag_is_equal(etag.get(), "\"100387\""), 1);
    EXPECT_EQ(etag_is_equal(etag.get(), "\"100387"), 0);
    EXPECT_EQ(etag_is_equal(etag.get(), "\"100387\" "), 0);
    EXPECT_EQ(etag_is_equal(etag.get(), "W/\"100387\""), 0);
    auto empty = test::NewBuffer();
    EXPECT_EQ(etag_is_equal(empty.get(), ""), 0);
    auto blank = test::NewBuffer("");
    EXPECT_EQ(etag_is_equal(blank.get(), ""), 0);
}

}  // namespace
}  // namespace hx

// The splay tree against an ordered map, and the stat cache on real files:
// entries, errors, symbolic links, the once-a-second reuse of found and
// failed lookups and of kept file bytes, hash collisions and the cleanup in
// virtual time.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "http/http_test_util.h"
#include "http/etag.h"
#include "http/stat_cache.h"
#include "support/test_env.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// Checks every node's size and the search order; the node count.
int CheckTree(const tree_node* t, long low, long high) {
    if (t == nullptr) {
        return 0;
    }
    EXPECT_GT(t->key, low);
    EXPECT_LT(t->key, high);
    const int left = CheckTree(t->left, low, t->key);
    const int right = CheckTree(t->right, t->key, high);
    EXPECT_EQ(t->size, left + right + 1) << "key " << t->key;
    return left + right + 1;
}

void FreeTree(tree_node* t) {
    while (t != nullptr) {
        t = splaytree_delete(t, t->key);
    }
}

TEST(SplayTree, MatchesAnOrderedMapUnderRandomInsertAndDelete) {
    std::mt19937 random(18);
    std::uniform_int_distribution<int> keys(0, 200);
    std::map<int, std::intptr_t> model;
    tree_node* tree = nullptr;
    for (int step = 0; step < 20000; ++step) {
        const int key = keys(random);
        const int what = static_cast<int>(random() % 3);
        if (what == 0) {
            tree = splaytree_insert(tree, key, reinterpret_cast<void*>(static_cast<std::intptr_t>(step)));
            model.emplace(key, step);  // an existing key keeps its data
            ASSERT_EQ(tree->key, key);
        } else if (what == 1) {
            tree = splaytree_delete(tree, key);
            model.erase(key);
        } else {
            tree = splaytree_splay(tree, key);
            if (model.count(key) != 0) {
                ASSERT_EQ(tree->key, key);
                EXPECT_EQ(reinterpret_cast<std::intptr_t>(tree->data), model[key]);
            } else if (tree != nullptr) {
                // The last node on the search path: a neighbour of the key.
                auto above = model.upper_bound(key);
                const bool is_next = above != model.end() && above->first == tree->key;
                const bool is_previous = above != model.begin() && std::prev(above)->first == tree->key;
                EXPECT_TRUE(is_next || is_previous) << key << " at " << tree->key;
            }
        }
        ASSERT_EQ(CheckTree(tree, -1, 1L << 40), static_cast<int>(model.size())) << "step " << step;
        ASSERT_EQ(tree == nullptr ? 0 : tree->size, static_cast<int>(model.size()));
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
    FreeTree(tree);
}

TEST(SplayTree, AscendingInsertsThenDeletesKeepSizes) {
    tree_node* tree = nullptr;
    for (int key = 0; key < 1000; ++key) {
        tree = splaytree_insert(tree, key, nullptr);
    }
    tree = splaytree_splay(tree, 0);  // a long left spine, splayed back
    EXPECT_EQ(CheckTree(tree, -1, 1L << 40), 1000);
    EXPECT_EQ(splaytree_delete(nullptr, 3), nullptr);
    EXPECT_EQ(splaytree_splay(nullptr, 3), nullptr);
    for (int key = 999; key >= 0; key -= 2) {
        tree = splaytree_delete(tree, key);
    }
    EXPECT_EQ(CheckTree(tree, -1, 1L << 40), 500);
    tree = splaytree_delete(tree, 5000);  // absent: nothing changes
    EXPECT_EQ(tree->size, 500);
    FreeTree(tree);
}

class StatCache : public testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_SIMPLE;
        srv_->stat_cache = stat_cache_init();
        Tick();
        mimetypes_ = array_init();
        array_set_key_value(mimetypes_, ".html", 5, "text/html", 9);
        array_set_key_value(mimetypes_, ".tar.gz", 7, "application/x-tgz", 17);
        array_set_key_value(mimetypes_, ".gz", 3, "application/x-gzip", 18);
        con_.conf.mimetypes = mimetypes_;
        con_.conf.follow_symlink = 1;
        con_.etag_flags = ETAG_USE_INODE | ETAG_USE_SIZE | ETAG_USE_MTIME;
        dir_ = env_.root() / "www";
        fs::create_directories(dir_ / "sub");
    }
    void TearDown() override {
        array_free(mimetypes_);
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }
    // The second the event loop would take at its next turn.
    void Tick() { srv_->cur_ts = static_cast<std::time_t>(TheClock().WallTime().tv_sec); }
    void Advance(int seconds) {
        env_.clock().Advance(static_cast<std::uint64_t>(seconds) * 1'000'000);
        Tick();
    }
    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    handler_t Get(const std::string& path, stat_cache_entry** sce) {
        auto name = test::NewBuffer(path);
        errno = 0;
        return stat_cache_get_entry(srv_, &con_, name.get(), sce);
    }
    int Entries() const { return srv_->stat_cache->files == nullptr ? 0 : srv_->stat_cache->files->size; }
    // The kept bytes of a path's fresh entry, or "(none)".
    std::string Content(const std::string& path) {
        stat_cache_entry* sce = nullptr;
        if (Get(path, &sce) != HANDLER_GO_ON) {
            return "(error)";
        }
        const buffer* content = stat_cache_entry_content(srv_, sce);
        return content == nullptr ? "(none)" : test::Text(content);
    }
    size_t KeptBytes() const { return srv_->stat_cache->content_bytes; }
    std::string Log() const { return test::ErrorLogText(srv_); }

    test::TestEnvironment env_;
    server* srv_ = nullptr;
    connection con_{};
    array* mimetypes_ = nullptr;
    fs::path dir_;
};

TEST_F(StatCache, RegularFileGetsTypeAndEtag) {
    const struct {
        const char* name;
        const char* type;
    } cases[] = {
        {"index.html", "text/html"},
        {"PAGE.HTML", "text/html"},
        {"backup.tar.gz", "application/x-tgz"},  // the first matching suffix, in configured order
        {"log.gz", "application/x-gzip"},
        {"data.bin", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Write(c.name, "12345");
        stat_cache_entry* sce = nullptr;
        ASSERT_EQ(Get(path, &sce), HANDLER_GO_ON);
        ASSERT_NE(sce, nullptr);
        EXPECT_EQ(test::Text(sce->name), path);
        EXPECT_EQ(test::Text(sce->content_type), c.type);
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(test::Text(sce->etag), std::to_string(st.st_ino) + "-5-" + std::to_string(st.st_mtime));
        EXPECT_EQ(sce->st.st_size, 5);
        EXPECT_EQ(sce->stat_ts, srv_->cur_ts);
        EXPECT_EQ(sce->is_symlink, 0);
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(StatCache, DirectoriesGetAnEtagOtherFilesNone) {
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get((dir_ / "sub").string(), &sce), HANDLER_GO_ON);
    EXPECT_TRUE(S_ISDIR(sce->st.st_mode));
    EXPECT_FALSE(test::Text(sce->etag).empty());
    EXPECT_EQ(test::Text(sce->content_type), "");
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(Get((dir_ / "fifo").string(), &sce), HANDLER_GO_ON);
    EXPECT_EQ(test::Text(sce->etag), "");
}

TEST_F(StatCache, FailuresSetErrno) {
    const std::string file = Write("file.html", "x");
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {(dir_ / "missing.html").string(), ENOENT},
        {file + "/", ENOTDIR},         // a file named as a folder
        {file + "/extra", ENOTDIR},    // a file used as a folder
        {"", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        stat_cache_entry* sce = nullptr;
        EXPECT_EQ(Get(c.path, &sce), HANDLER_ERROR);
        EXPECT_EQ(errno, c.error);
        EXPECT_EQ(sce, nullptr);
    }
    if (::geteuid() != 0) {
        const std::string closed = Write("closed.html", "x");
        fs::permissions(closed, fs::perms::none);
        stat_cache_entry* sce = nullptr;
        EXPECT_EQ(Get(closed, &sce), HANDLER_ERROR);
        EXPECT_EQ(errno, EACCES);
    }
}

TEST_F(StatCache, SymbolicLinksAreMarkedWhenNotFollowed) {
    const std::string target = Write("real.html", "x");
    fs::create_symlink(target, dir_ / "link.html");
    fs::create_directory_symlink(dir_ / "sub", dir_ / "linkdir");
    Write("sub/inner.html", "y");
    const struct {
        std::string path;
        bool follow;
        bool is_link;
    } cases[] = {
        {(dir_ / "link.html").string(), false, true},
        {(dir_ / "linkdir/inner.html").string(), false, true},  // a parent folder is the link
        {(dir_ / "linkdir").string() + "/", false, true},
        {target, false, false},
        {(dir_ / "sub/inner.html").string(), false, false},
        {(dir_ / "link.html").string(), true, false},
        {(dir_ / "linkdir/inner.html").string(), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + (c.follow ? " followed" : " not followed"));
        con_.conf.follow_symlink = c.follow ? 1 : 0;
        stat_cache_entry* sce = nullptr;
        ASSERT_EQ(Get(c.path, &sce), HANDLER_GO_ON);
        EXPECT_EQ(sce->is_symlink != 0, c.is_link);
    }
    EXPECT_EQ(Log(), "");
}

TEST_F(StatCache, SimpleEngineStatsOncePerSecond) {
    const std::string path = Write("page.html", "one");
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get(path, &sce), HANDLER_GO_ON);
    Write("page.html", "three");
    ASSERT_EQ(Get(path, &sce), HANDLER_GO_ON);
    EXPECT_EQ(sce->st.st_size, 3) << "taken again within the same second";
    Advance(1);
    ASSERT_EQ(Get(path, &sce), HANDLER_GO_ON);
    EXPECT_EQ(sce->st.st_size, 5);
    EXPECT_EQ(Entries(), 1);

    srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_NONE;
    Write("page.html", "sixsix");
    ASSERT_EQ(Get(path, &sce), HANDLER_GO_ON);
    EXPECT_EQ(sce->st.st_size, 6);
    // A vanished file is an error even while its entry is fresh.
    srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_SIMPLE;
    Advance(1);
    fs::remove(path);
    EXPECT_EQ(Get(path, &sce), HANDLER_ERROR);
    EXPECT_EQ(errno, ENOENT);
}

// Bernstein's hash as the cache keys paths (with the follow-symlink digit).
int Hash(const std::string& text) {
    std::uint32_t h = 5381;
    for (unsigned char c : text) {
        h = h * 33 + c;
    }
    return static_cast<int>(h & 0x7FFFFFFF);
}

TEST_F(StatCache, CollidingPathTakesTheEntryOver) {
    // 33 * 'b' + 'A' == 33 * 'a' + 'b': equal hashes from there on.
    const std::string first = (dir_ / "bA.html").string();
    const std::string second = (dir_ / "ab.html").string();
    ASSERT_EQ(Hash(first + "1"), Hash(second + "1"));
    std::ofstream(first) << "first";
    std::ofstream(second) << "second!";
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get(first, &sce), HANDLER_GO_ON);
    ASSERT_EQ(Get(second, &sce), HANDLER_GO_ON);
    EXPECT_EQ(test::Text(sce->name), second);
    EXPECT_EQ(sce->st.st_size, 7);
    // Same second: the first path must not be served the second's entry.
    ASSERT_EQ(Get(first, &sce), HANDLER_GO_ON);
    EXPECT_EQ(test::Text(sce->name), first);
    EXPECT_EQ(sce->st.st_size, 5);
    EXPECT_EQ(Entries(), 1);
}

TEST_F(StatCache, CleanupDropsEntriesOlderThanTwoSeconds) {
    const std::string old_file = Write("old.html", "x");
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get(old_file, &sce), HANDLER_GO_ON);
    Advance(1);
    for (int i = 0; i < 20; ++i) {
        const std::string name = std::to_string(i) + ".html";
        ASSERT_EQ(Get(Write(name, "x"), &sce), HANDLER_GO_ON);
    }
    EXPECT_EQ(Entries(), 21);
    Advance(1);
    EXPECT_EQ(stat_cache_trigger_cleanup(srv_), 0);
    EXPECT_EQ(Entries(), 21) << "two seconds old stays";
    Advance(1);
    stat_cache_trigger_cleanup(srv_);
    EXPECT_EQ(Entries(), 20);
    EXPECT_EQ(CheckTree(srv_->stat_cache->files, -1, 1L << 40), 20);
    Advance(1);
    stat_cache_trigger_cleanup(srv_);
    EXPECT_EQ(Entries(), 0);
    // Looked up again, a path gets a fresh entry.
    ASSERT_EQ(Get(old_file, &sce), HANDLER_GO_ON);
    EXPECT_EQ(Entries(), 1);
}

// A failed lookup is answered from the cache for the rest of its second, like
// a found one: a name that appears, or a file that goes, is seen from the
// next second on. Without the cache every lookup looks again.
TEST_F(StatCache, FailedLookupIsKeptForItsSecond) {
    const std::string file = Write("file.html", "x");
    const std::string missing = (dir_ / "GetModules.w").string();
    const struct {
        std::string path;
        int error;
        std::function<void()> mend;  // makes the path resolve
    } cases[] = {
        {missing, ENOENT, [&] { Write("GetModules.w", "now here"); }},
        {file + "/", ENOTDIR, [&] { fs::remove(file); fs::create_directory(file); }},
        {(dir_ / "gone/page.html").string(), ENOENT, [&] {
             fs::create_directory(dir_ / "gone");
             Write("gone/page.html", "y");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        stat_cache_entry* sce = nullptr;
        ASSERT_EQ(Get(c.path, &sce), HANDLER_ERROR);
        EXPECT_EQ(errno, c.error);
        c.mend();
        EXPECT_EQ(Get(c.path, &sce), HANDLER_ERROR) << "within the second";
        EXPECT_EQ(errno, c.error);
        EXPECT_EQ(sce, nullptr);
        Advance(1);
        ASSERT_EQ(Get(c.path, &sce), HANDLER_GO_ON);
        EXPECT_EQ(test::Text(sce->name), c.path);
    }

    // A found file that goes is missing from the next second on, and the
    // failure then stands for its own second.
    const std::string page = Write("page.html", "abc");
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get(page, &sce), HANDLER_GO_ON);
    Advance(1);
    fs::remove(page);
    EXPECT_EQ(Get(page, &sce), HANDLER_ERROR);
    Write("page.html", "abcd");
    EXPECT_EQ(Get(page, &sce), HANDLER_ERROR);
    EXPECT_EQ(errno, ENOENT);
    Advance(1);
    ASSERT_EQ(Get(page, &sce), HANDLER_GO_ON);
    EXPECT_EQ(sce->st.st_size, 4);
    EXPECT_EQ(sce->stat_errno, 0);
    EXPECT_FALSE(test::Text(sce->etag).empty());

    // Failures age out with the cleanup like any entry.
    const int before = Entries();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Get((dir_ / (std::to_string(i) + ".none")).string(), &sce), HANDLER_ERROR);
    }
    EXPECT_EQ(Entries(), before + 5);
    Advance(3);
    stat_cache_trigger_cleanup(srv_);
    EXPECT_EQ(Entries(), 0);

    // The disabled cache keeps nothing.
    srv_->srvconf.stat_cache_engine = STAT_CACHE_ENGINE_NONE;
    EXPECT_EQ(Get(missing + ".new", &sce), HANDLER_ERROR);
    Write("GetModules.w.new", "z");
    EXPECT_EQ(Get(missing + ".new", &sce), HANDLER_GO_ON);
    EXPECT_EQ(Log(), "");
}

// A small file's bytes stay with its entry for the entry's second: what the
// status and ETag describe is what is sent, and a change on disk shows from
// the next second on. Bytes that no longer match the status are not kept.
TEST_F(StatCache, FileBytesAreKeptWithTheirEntry) {
    const std::string page = Write("page.html", "first");
    EXPECT_EQ(Content(page), "first");
    const size_t kept = KeptBytes();
    EXPECT_GE(kept, 5u);
    Write("page.html", "second!");
    EXPECT_EQ(Content(page), "first") << "within the second";
    EXPECT_EQ(KeptBytes(), kept) << "read once";
    Advance(1);
    EXPECT_EQ(Content(page), "second!");
    Advance(1);
    fs::remove(page);
    EXPECT_EQ(Content(page), "(error)");
    EXPECT_EQ(KeptBytes(), 0u) << "dropped with the entry's renewal";

    // Changed between the status and the first read: not kept, not tried again
    // within the second, kept once the status is taken again.
    const std::string moving = Write("moving.html", "12345");
    stat_cache_entry* sce = nullptr;
    ASSERT_EQ(Get(moving, &sce), HANDLER_GO_ON);
    Write("moving.html", "1234567890");
    EXPECT_EQ(stat_cache_entry_content(srv_, sce), nullptr);
    EXPECT_EQ(Content(moving), "(none)");
    Advance(1);
    EXPECT_EQ(Content(moving), "1234567890");

    const struct {
        std::string path;
        const char* why;
    } refused[] = {
        {Write("large.bin", std::string(kStatCacheContentMaxFile + 1, 'L')), "larger than the limit"},
        {Write("empty.html", ""), "empty"},
        {(dir_ / "sub").string(), "a folder"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(Content(c.path), "(none)");
    }
    EXPECT_EQ(Content(Write("limit.bin", std::string(kStatCacheContentMaxFile, 'M'))).size(),
              static_cast<size_t>(kStatCacheContentMaxFile));
    EXPECT_EQ(Log(), "");
}

// All kept bytes stay within the budget; the cleanup gives them back.
TEST_F(StatCache, KeptBytesStayWithinTheirBudget) {
    const std::string bytes(kStatCacheContentMaxFile, 'B');
    const size_t files = kStatCacheContentMaxTotal / bytes.size() + 4;
    size_t kept_files = 0;
    for (size_t i = 0; i < files; ++i) {
        if (Content(Write(std::to_string(i) + ".f", bytes)) == bytes) {
            ++kept_files;
        }
        EXPECT_LE(KeptBytes(), kStatCacheContentMaxTotal);
    }
    EXPECT_LT(kept_files, files);
    EXPECT_GE(kept_files, files - 6);
    Advance(3);
    stat_cache_trigger_cleanup(srv_);
    EXPECT_EQ(Entries(), 0);
    EXPECT_EQ(KeptBytes(), 0u);
    EXPECT_EQ(Content(Write("0.f", bytes)), bytes);
}

}  // namespace
}  // namespace hx

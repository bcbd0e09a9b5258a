// Bit sets, read-only file mappings and the server's state record.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "http/http_base.h"
#include "http/http_test_util.h"
#include "support/test_env.h"

namespace hx::test {
namespace {

TEST(Bitset, BitsAcrossWordBoundaries) {
    bitset* set = bitset_init(70);
    for (size_t pos : {0U, 31U, 32U, 63U, 69U}) {
        EXPECT_EQ(bitset_test_bit(set, pos), 0);
        EXPECT_EQ(bitset_set_bit(set, pos), 1);
        EXPECT_EQ(bitset_test_bit(set, pos), 1);
    }
    EXPECT_EQ(set->bits[0], 0x80000001U);
    EXPECT_EQ(set->bits[1], 0x80000001U);
    EXPECT_EQ(set->bits[2], 0x20U);
    EXPECT_EQ(bitset_clear_bit(set, 31), 1);
    EXPECT_EQ(bitset_test_bit(set, 31), 0);
    EXPECT_EQ(bitset_test_bit(set, 32), 1);
    bitset_reset(set);
    EXPECT_EQ(bitset_test_bit(set, 69), 0);
    bitset_free(set);
}

TEST(BitsetDeathTest, PositionBeyondTheSetEndsTheProcess) {
    bitset* set = bitset_init(8);
    EXPECT_DEATH(bitset_set_bit(set, 8), "bitset.cpp.[0-9]+: aborted");
    EXPECT_DEATH(bitset_test_bit(set, 100), "aborted");
    bitset_free(set);
}

class StreamTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = (env_.root() / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    TestEnvironment env_;
};

TEST_F(StreamTest, MapsTheWholeFile) {
    const std::string content = "server.port = 80\n" + std::string(5000, '#');
    BufferPtr path = NewBuffer(Write("webserver.conf", content));
    stream f{};
    ASSERT_EQ(stream_open(&f, path.get()), 0);
    EXPECT_EQ(f.size, static_cast<http_off_t>(content.size()));
    ASSERT_NE(f.start, nullptr);
    EXPECT_EQ(std::string(f.start, static_cast<size_t>(f.size)), content);
    stream_close(&f);
    EXPECT_EQ(f.start, nullptr);
    stream_close(&f);
}

TEST_F(StreamTest, EmptyOrMissingFileFails) {
    BufferPtr empty = NewBuffer(Write("empty.conf", ""));
    stream f{};
    EXPECT_EQ(stream_open(&f, empty.get()), -1);
    EXPECT_EQ(f.start, nullptr);
    EXPECT_EQ(f.size, 0);
    stream_close(&f);

    BufferPtr missing = NewBuffer((env_.root() / "missing.conf").string());
    EXPECT_EQ(stream_open(&f, missing.get()), -1);
    EXPECT_EQ(f.start, nullptr);
}

TEST(ServerRecord, InitialStateAndRelease) {
    TestEnvironment env;
    const timespec now = env.clock().WallTime();
    server* srv = server_init();
    EXPECT_EQ(Text(srv->srvconf.modules_dir), "/vandik_app/tools/webserver/lib");
    EXPECT_EQ(srv->srvconf.reject_expect_100_with_417, 1);
    EXPECT_EQ(srv->errorlog_fd, 2);
    EXPECT_EQ(srv->errorlog_mode, ERRORLOG_FD);
    EXPECT_EQ(srv->cur_ts, now.tv_sec);
    EXPECT_EQ(srv->startup_ts, now.tv_sec);
    EXPECT_EQ(srv->is_real_entropy, 1);
    for (const mtime_cache_type& slot : srv->mtime_cache) {
        EXPECT_EQ(slot.mtime, -1);
        ASSERT_NE(slot.str, nullptr);
    }
    ASSERT_NE(srv->conns, nullptr);
    ASSERT_NE(srv->joblist, nullptr);
    ASSERT_NE(srv->fdwaitqueue, nullptr);
    EXPECT_EQ(srv->conns->used, 0U);
    EXPECT_TRUE(buffer_is_equal_string(srv->empty_string, "", 0));
    for (buffer* b : {srv->tmp_buf, srv->cond_check_buf, srv->srvconf.bindhost, srv->srvconf.errorlog_file}) {
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(buffer_is_empty(b));
    }
    ASSERT_NE(srv->srvconf.modules, nullptr);
    ASSERT_NE(srv->config_touched, nullptr);

    // A read configuration: the global block owns the settings `config`
    // points at, and each block has its settings record. Release must take
    // each exactly once (the sanitizers see a leak or a double free).
    data_config* global = data_config_init();
    buffer_copy_string(global->key, "global");
    array_insert_unique(srv->config_context, global);
    array_free(srv->config);
    srv->config = global->value;
    srv->config_storage = static_cast<specific_config**>(calloc(1, sizeof(specific_config*)));
    auto* settings = static_cast<specific_config*>(calloc(1, sizeof(specific_config)));
    settings->mimetypes = array_init();
    settings->document_root = buffer_init_string("/vandik_app/web");
    srv->config_storage[0] = settings;
    server_free(srv);
}

TEST(ServerRecord, ReleaseBeforeAnyConfiguration) {
    TestEnvironment env;
    server_free(server_init());
    server_free(nullptr);
}

}  // namespace
}  // namespace hx::test

// Per-request settings on hand-filled connections: host and remote-address
// conditions, else-chains and the cache, and overrides by exact name only.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http/config_keys.h"
#include "http/http_test_util.h"

namespace hx {
namespace {

class ConfigConditions : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hx_cond_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        con_ = {};
        for (buffer** b : {&con_.uri.path, &con_.uri.query, &con_.request.http_host, &con_.dst_addr_buf,
                           &con_.server_name}) {
            *b = buffer_init();
        }
        con_.request.headers = array_init();
        socket_.srv_token = buffer_init_string("127.0.0.1:8080");
        socket_.addr.ipv4.sin_family = AF_INET;
        socket_.addr.ipv4.sin_port = htons(8080);
        con_.srv_socket = &socket_;
    }
    void TearDown() override {
        for (buffer* b : {con_.uri.path, con_.uri.query, con_.request.http_host, con_.dst_addr_buf, con_.server_name,
                          socket_.srv_token}) {
            buffer_free(b);
        }
        array_free(con_.request.headers);
        std::free(con_.cond_cache);
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
        std::filesystem::remove_all(root_);
    }
    void read(const std::string& text) {
        std::ofstream(root_ / "c.conf") << "server.document-root = \"/g\"\n" << text;
        ASSERT_EQ(config_read(srv_, (root_ / "c.conf").c_str()), 0) << log();
        con_.cond_cache = static_cast<cond_cache_t*>(std::calloc(srv_->config_context->used, sizeof(cond_cache_t)));
    }
    void client(const char* address, const char* host) {
        con_.dst_addr.ipv4.sin_family = AF_INET;
        inet_pton(AF_INET, address, &con_.dst_addr.ipv4.sin_addr);
        buffer_copy_string(con_.dst_addr_buf, address);
        buffer_copy_string(con_.request.http_host, host);
    }
    // The request's document root after the full per-request sequence.
    std::string document_root() {
        config_cond_cache_reset(srv_, &con_);
        config_setup_connection(srv_, &con_);
        for (comp_key_t comp : {COMP_SERVER_SOCKET, COMP_HTTP_SCHEME, COMP_HTTP_HOST, COMP_HTTP_REMOTE_IP,
                                COMP_HTTP_REFERER, COMP_HTTP_USER_AGENT, COMP_HTTP_LANGUAGE, COMP_HTTP_COOKIE,
                                COMP_HTTP_REQUEST_METHOD, COMP_HTTP_URL, COMP_HTTP_QUERY_STRING}) {
            config_patch_connection(srv_, &con_, comp);
        }
        return con_.conf.document_root->ptr;
    }
    std::string log() const { return test::ErrorLogText(srv_); }
    std::filesystem::path root_;
    server* srv_ = nullptr;
    connection con_{};
    server_socket socket_{};
};

TEST_F(ConfigConditions, HostAndRemoteAddress) {
    const struct {
        const char* condition;
        const char* address;
        const char* host;
        bool matches;
        const char* message;
    } cases[] = {
        {"$HTTP[\"host\"] == \"example:8080\"", "10.1.2.3", "example", true, ""},
        {"$HTTP[\"host\"] == \"example\"", "10.1.2.3", "example:8080", true, ""},
        {"$HTTP[\"host\"] != \"example\"", "10.1.2.3", "other", true, ""},
        {"$HTTP[\"host\"] == \"example\"", "10.1.2.3", "", false, ""},
        {"$HTTP[\"remoteip\"] == \"10.0.0.0/8\"", "10.1.2.3", "", true, ""},
        {"$HTTP[\"remoteip\"] == \"10.0.0.0/8\"", "11.1.2.3", "", false, ""},
        {"$HTTP[\"remoteip\"] != \"10.0.0.0/8\"", "11.1.2.3", "", true, ""},
        {"$HTTP[\"remoteip\"] == \"0.0.0.0/0\"", "11.1.2.3", "", true, ""},
        {"$HTTP[\"remote-ip\"] == \"10.1.2.3\"", "10.1.2.3", "", true, ""},
        {"$HTTP[\"remoteip\"] == \"10.0.0.0/\"", "10.1.2.3", "", false, "ERROR: no number after / "},
        {"$HTTP[\"remoteip\"] == \"10.0.0.0/8x\"", "10.1.2.3", "", false, "ERROR: non-digit found in netmask:"},
        {"$HTTP[\"remoteip\"] == \"10.1.2.3/33\"", "10.1.2.3", "", false, "ERROR: non-digit found in netmask:"},
        {"$HTTP[\"remoteip\"] == \"10.0.0/8\"", "10.1.2.3", "", false, "ERROR: ip addr is invalid: 10.0.0"},
        {"$SERVER[\"socket\"] == \"127.0.0.1:8080\"", "10.1.2.3", "", true, ""},
        {"$HTTP[\"scheme\"] == \"http\"", "10.1.2.3", "", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.condition);
        TearDown();
        SetUp();
        read(std::string(c.condition) + " { server.document-root = \"/b\" }\n");
        client(c.address, c.host);
        EXPECT_EQ(document_root(), c.matches ? "/b" : "/g");
        if (*c.message == '\0') {
            EXPECT_EQ(log(), "");
        } else {
            EXPECT_NE(log().find(c.message), std::string::npos) << log();
        }
    }
}

TEST_F(ConfigConditions, ElseChainAndCache) {
    read("$HTTP[\"host\"] == \"a\" { server.document-root = \"/a\" }\n"
         "else $HTTP[\"url\"] == \"/x\" { server.document-root = \"/x\" }\n"
         "$HTTP[\"host\"] == \"a\" {\n$HTTP[\"url\"] == \"/x\" { server.tag = \"nested\" }\n}\n");
    client("10.0.0.1", "a");
    buffer_copy_string(con_.uri.path, "/x");
    EXPECT_EQ(document_root(), "/a");
    // The else-branch is false without being compared, and cached as such.
    EXPECT_EQ(con_.cond_cache[2].result, COND_RESULT_FALSE);
    EXPECT_STREQ(con_.conf.server_tag->ptr, "nested");

    client("10.0.0.1", "b");
    EXPECT_EQ(document_root(), "/x");
    EXPECT_EQ(con_.cond_cache[1].result, COND_RESULT_FALSE);
    EXPECT_EQ(con_.cond_cache[2].result, COND_RESULT_TRUE);

    // Undecided until its kind is valid: the URL is not known yet.
    config_cond_cache_reset(srv_, &con_);
    config_setup_connection(srv_, &con_);
    config_patch_connection(srv_, &con_, COMP_HTTP_HOST);
    EXPECT_EQ(con_.cond_cache[2].result, COND_RESULT_UNSET);
    EXPECT_STREQ(con_.conf.document_root->ptr, "/g");
    // A cached result stands until the cache is reset.
    config_patch_connection(srv_, &con_, COMP_HTTP_URL);
    EXPECT_STREQ(con_.conf.document_root->ptr, "/x");
    buffer_copy_string(con_.uri.path, "/y");
    config_patch_connection(srv_, &con_, COMP_HTTP_URL);
    EXPECT_STREQ(con_.conf.document_root->ptr, "/x");
    EXPECT_EQ(document_root(), "/g");
}

TEST_F(ConfigConditions, OverridesOnlyUnderTheExactName) {
    read("$HTTP[\"host\"] == \"a\" { Server.Document-Root = \"/case\"\nserver.max-read-idle = 5\n"
         "etag.use-inode = \"disable\" }\n");
    client("10.0.0.1", "a");
    EXPECT_EQ(document_root(), "/g");
    EXPECT_EQ(con_.conf.max_read_idle, 5);
    EXPECT_EQ(con_.etag_flags, 2 | 4);
}

}  // namespace
}  // namespace hx

// A server read from a configuration of the test's own, a document root of
// real files in a test data root (virtual clock), and a connection filled as
// the parser leaves it, for the response builder's tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connections.h"
#include "http/http_test_util.h"
#include "support/test_env.h"

namespace hx::test {

// A connected loopback socket pair; `server_side` is what the server holds.
struct LoopbackPair {
    LoopbackPair() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener, 1), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        server_side = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
    }
    ~LoopbackPair() {
        ::close(client);
        ::close(server_side);
    }
    int client = -1;
    int server_side = -1;
};

// What the resolver makes of 127.0.0.1 on this machine.
inline std::string LoopbackName() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<sockaddr*>(&address), sizeof address, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0) {
        return "127.0.0.1";
    }
    return host;
}

class ResponseFixture : public testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        docroot_ = env_.root() / "www";
        std::filesystem::create_directories(docroot_);
    }
    void TearDown() override {
        FreeConnection();
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }

    // Reads a configuration with the document root and `extra`, and makes
    // the connection.
    void Configure(const std::string& extra = "") {
        const auto path = env_.root() / "webserver.conf";
        std::ofstream(path) << "server.document-root = \"" << docroot_.string() << "\"\n"
                            << "mimetype.assign = ( \".html\" => \"text/html\" )\n"
                            << extra;
        ASSERT_EQ(config_read(srv_, path.c_str()), 0) << Log();
        ASSERT_EQ(config_set_defaults(srv_), 0) << Log();
        srv_->cur_ts = static_cast<std::time_t>(TheClock().WallTime().tv_sec);
        NewConnection();
    }

    // A request as the parser leaves it.
    void Request(http_method_t method, const std::string& uri, http_version_t version = HTTP_VERSION_1_1,
                 const std::string& host = "") {
        ResetConnection();
        con_->request.http_method = method;
        con_->request.http_version = version;
        buffer_copy_string_len(con_->request.uri, uri.data(), uri.size());
        buffer_copy_string_len(con_->request.orig_uri, uri.data(), uri.size());
        if (!host.empty()) {
            buffer_copy_string_len(con_->request.http_host, host.data(), host.size());
        }
        con_->request_count = 1;
        con_->keep_alive = 1;
        con_->state = CON_STATE_HANDLE_REQUEST;
    }

    void WriteFile(const std::string& name, const std::string& text) {
        const auto path = docroot_ / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    std::string Header(const std::string& key) const {
        const data_unset* du = array_get_element(con_->response.headers, key.c_str());
        return du == nullptr ? "<none>" : StringValue(du);
    }

    // The text at the front of the write queue.
    std::string Written() const {
        const chunk* first = con_->write_queue->first;
        return first == nullptr || first->type != MEM_CHUNK ? "" : Text(first->mem);
    }

    std::string Log() const { return ErrorLogText(srv_); }

    // A connection made as the connection table makes one, kept in the
    // table's storage so connections_free releases it.
    void NewConnection() {
        FreeConnection();
        con_ = connection_init(srv_);
        connections* conns = srv_->conns;
        conns->ptr = static_cast<connection**>(std::calloc(1, sizeof(connection*)));
        conns->ptr[0] = con_;
        conns->size = 1;
        ResetConnection();
    }

    // Between two requests, as the connection keeps itself for the next one.
    void ResetConnection() {
        connection_reset(srv_, con_);
        for (buffer* b : {con_->uri.authority, con_->uri.path, con_->uri.query, con_->request.orig_uri}) {
            buffer_reset(b);
        }
        con_->fd = -1;
    }

    void FreeConnection() {
        if (con_ != nullptr) {
            connections_free(srv_);
            con_ = nullptr;
        }
    }

    TestEnvironment env_;
    server* srv_ = nullptr;
    connection* con_ = nullptr;
    std::filesystem::path docroot_;
};

}  // namespace hx::test

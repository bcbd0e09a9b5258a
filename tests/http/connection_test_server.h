// A connection-level test server: the server record with a small
// configuration in a temporary data root, the epoll event loop, one loopback
// listener, and the server thread's loop turn run by the test itself in
// virtual time. Clients are plain loopback sockets; the web hook is replaced
// by a recorder that keeps what each POST handed to the web application saw
// and answers every web name with the plain success reply.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/errorlog_lines.h"
#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connections.h"
#include "http/fdevent.h"
#include "http/network.h"
#include "http/stat_cache.h"
#include "http/webserver_loop.h"
#include "support/test_env.h"
#include "web/web_request.h"

namespace hx::conntest {

// What one call of the web hook saw.
struct WebCall {
    std::string name;         // the request line's path
    std::string body;         // the body kept in memory
    std::string upload_path;  // g_arcUpgradeFiledir at the call
    std::string upload;       // that file's content ("" when none)
    int upload_files = 0;     // upload file chunks in the body queue
};

inline std::vector<WebCall>& WebCalls() {
    static std::vector<WebCall> calls;
    return calls;
}

inline U32 RecordingWebHook(buffer* reply, server* /*srv*/, connection* con) {
    WebCall call;
    const std::string header(con->request.request->ptr, con->request.request->used - 1);
    const size_t start = header.find(' ') + 1;
    call.name = header.substr(start, header.find(' ', start) - start);
    for (const chunk* c = con->request_content_queue->first; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK && c->mem->used > 1) {
            call.body.append(c->mem->ptr, c->mem->used - 1);
        } else if (c->type == FILE_CHUNK && c->file.is_temp) {
            ++call.upload_files;
        }
    }
    call.upload_path = g_arcUpgradeFiledir;
    if (!call.upload_path.empty()) {
        std::ifstream in(call.upload_path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        call.upload = content.str();
    }
    WebCalls().push_back(std::move(call));
    // The connection tests are about the server, not the request table: every
    // web name gets the plain success reply, anything else the 404.
    if (!web_IsRequestName(web_RequestName(con))) {
        return 770;
    }
    buffer_copy_string(reply, "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}");
    return 0;
}

struct HttpResponse {
    int status = 0;
    std::string head;  // status line and header lines, without the empty line
    std::string body;

    // The value of a header ("" when absent; `present` tells them apart).
    std::string Header(std::string_view name, bool* present = nullptr) const {
        std::istringstream lines(head);
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const size_t colon = line.find(':');
            if (colon == name.size() && strncasecmp(line.data(), name.data(), colon) == 0) {
                if (present != nullptr) {
                    *present = true;
                }
                return line.substr(std::min(line.size(), colon + 2));
            }
        }
        if (present != nullptr) {
            *present = false;
        }
        return {};
    }
};

class ClientSocket {
public:
    explicit ClientSocket(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~ClientSocket() { ::close(fd_); }
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    int fd() const { return fd_; }
    // What arrived, without waiting; `closed` at the end of stream.
    void Receive() {
        char block[65536];
        for (;;) {
            const ssize_t got = ::recv(fd_, block, sizeof(block), 0);
            if (got > 0) {
                received.append(block, static_cast<size_t>(got));
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                closed = true;
            }
            return;
        }
    }

    std::string received;
    bool closed = false;

private:
    int fd_ = -1;
};

class ConnectionTestServer {
public:
    // `upload_dir`: the upload folder, empty for one in the data root;
    // `extra_config`: lines appended to the configuration.
    explicit ConnectionTestServer(const std::string& upload_dir = "", const std::string& extra_config = "") {
        WebCalls().clear();
        www_ = env_.root() / "www";
        uploads_ = upload_dir.empty() ? env_.root() / "uploads" : std::filesystem::path(upload_dir);
        std::filesystem::create_directories(www_);
        if (upload_dir.empty()) {
            std::filesystem::create_directories(uploads_);
        }
        const std::filesystem::path config = env_.root() / "connection.conf";
        std::ofstream(config) << "server.document-root = \"" << www_.string() << "\"\n"
                              << "server.upload-dirs = ( \"" << uploads_.string() << "\" )\n"
                              << extra_config;

        srv_ = server_init();
        srv_->errorlog_fd = ::memfd_create("errorlog", 0);
        EXPECT_EQ(config_read(srv_, config.c_str()), 0) << Log();
        EXPECT_EQ(config_set_defaults(srv_), 0) << Log();
        srv_->max_fds = 1024;
        srv_->max_conns = 256;
        srv_->stat_cache = stat_cache_init();
        srv_->network_backend_write = network_write_chunkqueue_writev;
        srv_->ev = fdevent_init(srv_, static_cast<size_t>(srv_->max_fds), FDEVENT_HANDLER_LINUX_SYSEPOLL);

        listener_.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        listener_.fde_ndx = -1;
        listener_.srv_token = buffer_init_string("127.0.0.1");
        sockaddr_in& address = listener_.addr.ipv4;
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listener_.fd, &listener_.addr.plain, sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_.fd, 256), 0);
        socklen_t length = sizeof(address);
        ::getsockname(listener_.fd, &listener_.addr.plain, &length);
        port_ = ntohs(address.sin_port);
        fdevent_register(srv_->ev, listener_.fd, network_server_handle_fdevent, &listener_);
        fdevent_event_set(srv_->ev, &listener_.fde_ndx, listener_.fd, FDEVENT_IN);
        Web_SetRequestHookForTest(&RecordingWebHook);
    }

    ~ConnectionTestServer() {
        for (const std::string& line : UnexpectedLogLines()) {
            ADD_FAILURE() << "unexpected error log line: " << line;
        }
        Web_SetRequestHookForTest(nullptr);
        connections_free(srv_);
        fdevent_event_del(srv_->ev, &listener_.fde_ndx, listener_.fd);
        fdevent_unregister(srv_->ev, listener_.fd);
        ::close(listener_.fd);
        buffer_free(listener_.srv_token);
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }

    server* srv() { return srv_; }
    test::TestEnvironment& env() { return env_; }
    std::uint16_t port() const { return port_; }
    server_socket* listener() { return &listener_; }
    const std::filesystem::path& upload_dir() const { return uploads_; }
    const std::filesystem::path& document_root() const { return www_; }

    void Turn() { server_loop_turn(srv_, 0); }

    // Moves the virtual clock on, then turns the loop.
    void Advance(int seconds) {
        env_.clock().Advance(static_cast<std::uint64_t>(seconds) * 1'000'000);
        Turn();
    }

    // A client whose connection the server has accepted.
    std::unique_ptr<ClientSocket> Connect() {
        const int before = srv_->con_opened;
        auto client = std::make_unique<ClientSocket>(port_);
        for (int turn = 0; turn < 100 && srv_->con_opened == before; ++turn) {
            Turn();
        }
        EXPECT_EQ(srv_->con_opened, before + 1);
        return client;
    }

    // Writes everything, turning the loop while the socket is full.
    void Send(ClientSocket& client, std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(client.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<size_t>(sent));
            } else if (errno == EAGAIN) {
                Turn();
            } else {
                ADD_FAILURE() << "send failed: " << errno;
                return;
            }
        }
        Turn();
    }

    // Turns the loop until `count` whole responses came, the connection
    // closed, or nothing moved for a while. `heads[i]` marks a HEAD request,
    // whose response has no body.
    std::vector<HttpResponse> Responses(ClientSocket& client, size_t count, std::vector<bool> heads = {}) {
        heads.resize(count, false);
        std::vector<HttpResponse> responses;
        size_t parsed_to = 0;
        for (int idle = 0; idle < 50 && responses.size() < count;) {
            Turn();
            const size_t before = client.received.size();
            client.Receive();
            idle = client.received.size() == before ? idle + 1 : 0;
            while (responses.size() < count) {
                const std::string& text = client.received;
                const size_t end = text.find("\r\n\r\n", parsed_to);
                if (end == std::string::npos) {
                    break;
                }
                HttpResponse response;
                response.head = text.substr(parsed_to, end - parsed_to);
                response.status = std::atoi(response.head.c_str() + 9);
                const std::string length_text = response.Header("Content-Length");
                const size_t length = heads[responses.size()] ? 0 : std::strtoul(length_text.c_str(), nullptr, 10);
                if (text.size() < end + 4 + length) {
                    break;
                }
                response.body = text.substr(end + 4, length);
                parsed_to = end + 4 + length;
                responses.push_back(std::move(response));
            }
            if (client.closed) {
                break;
            }
        }
        client.received.erase(0, parsed_to);
        return responses;
    }

    // Turns the loop; whether the client has seen the end of stream (and
    // nothing else).
    bool SeesClose(ClientSocket& client) {
        for (int turn = 0; turn < 20 && !client.closed; ++turn) {
            Turn();
            client.Receive();
        }
        return client.closed && client.received.empty();
    }

    // The whole error log.
    std::string Log() const { return test::ReadWholeLog(srv_->errorlog_fd); }

    // Error log lines containing `text` are expected; any other line fails
    // the test when the server ends.
    void ExpectLog(const std::string& text) { expected_log_.push_back(text); }

    std::vector<std::string> UnexpectedLogLines() const {
        std::vector<std::string> unexpected;
        std::istringstream lines(Log());
        std::string line;
        while (std::getline(lines, line)) {
            if (std::none_of(expected_log_.begin(), expected_log_.end(),
                             [&](const std::string& text) { return line.find(text) != std::string::npos; })) {
                unexpected.push_back(line);
            }
        }
        return unexpected;
    }

    // Files left in the upload folder.
    size_t UploadFiles() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(uploads_),
                                                 std::filesystem::directory_iterator()));
    }

private:
    test::TestEnvironment env_;
    std::filesystem::path www_;
    std::filesystem::path uploads_;
    server* srv_ = nullptr;
    server_socket listener_{};
    std::uint16_t port_ = 0;
    std::vector<std::string> expected_log_;
};

}  // namespace hx::conntest

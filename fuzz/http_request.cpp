// Fuzzes the request side of a connection: the read state with its
// header-end search, the request parser, the body reader and the response
// start. The input is a list of reads, each a length byte and that many bytes
// (the last one takes what is left), written one at a time to a socket pair
// whose other end is the connection's socket; the state machine runs after
// each. At the end the client closes its side.
//
// What the client received must be a row of well-formed responses: a status
// line, header lines, an empty line and exactly Content-Length body bytes
// (none for a HEAD request; the checker accepts either where both fit), and
// nothing after a response that closes the connection.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_data_root.h"
#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connection_internal.h"
#include "http/connections.h"
#include "http/network.h"

namespace {

hx::server* g_server = nullptr;

[[noreturn]] void fail(const char* why, std::string_view received) {
    std::fprintf(stderr, "http_request: %s\n--- received ---\n%.*s\n", why, static_cast<int>(received.size()),
                 received.data());
    std::abort();
}

bool starts_with_response(std::string_view rest) { return rest.empty() || rest.starts_with("HTTP/1."); }

// The value of header `name` (case-insensitive) in `head`, or npos-marked
// absence.
bool header_value(std::string_view head, std::string_view name, std::string_view& value) {
    size_t line_start = head.find("\r\n");
    while (line_start != std::string_view::npos && line_start + 2 < head.size()) {
        line_start += 2;
        const size_t line_end = head.find("\r\n", line_start);
        const std::string_view line = head.substr(line_start, line_end - line_start);
        const size_t colon = line.find(':');
        if (colon == name.size()) {
            bool same = true;
            for (size_t i = 0; i < colon && same; ++i) {
                same = (line[i] | 0x20) == (name[i] | 0x20);
            }
            if (same) {
                value = line.substr(colon + 1);
                while (!value.empty() && value.front() == ' ') {
                    value.remove_prefix(1);
                }
                return true;
            }
        }
        line_start = line_end;
    }
    return false;
}

void check_responses(std::string_view received) {
    std::string_view rest = received;
    while (!rest.empty()) {
        if (!rest.starts_with("HTTP/1.0 ") && !rest.starts_with("HTTP/1.1 ")) {
            fail("no status line", received);
        }
        const size_t head_end = rest.find("\r\n\r\n");
        if (head_end == std::string_view::npos) {
            fail("headers without their end", received);
        }
        const std::string_view head = rest.substr(0, head_end + 2);
        const std::string_view status = head.substr(9, 3);
        if (status.size() != 3 || status[0] < '1' || status[0] > '5' || head.size() < 13 || head[12] != ' ') {
            fail("bad status", received);
        }
        rest.remove_prefix(head_end + 4);

        std::string_view length_text;
        if (header_value(head, "Content-Length", length_text)) {
            if (length_text.empty() || length_text.size() > 9 ||
                length_text.find_first_not_of("0123456789") != std::string_view::npos) {
                fail("bad Content-Length", received);
            }
            const size_t length = std::strtoul(std::string(length_text).c_str(), nullptr, 10);
            // With its body, or (a HEAD response) without it.
            if (rest.size() >= length && starts_with_response(rest.substr(length))) {
                rest.remove_prefix(length);
            } else if (!starts_with_response(rest)) {
                fail("body does not match Content-Length", received);
            }
        } else if (status[0] != '1' && status != "204" && status != "304") {
            fail("no Content-Length", received);
        }

        std::string_view connection;
        const bool has_connection = header_value(head, "Connection", connection);
        const bool closes = has_connection ? connection == "close" : head.starts_with("HTTP/1.0");
        if (closes && !rest.empty()) {
            fail("bytes after a closing response", received);
        }
    }
}

void drain(int fd, std::string& received) {
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof(block));
        if (got <= 0) {
            return;
        }
        received.append(block, static_cast<size_t>(got));
    }
}

bool open(const hx::connection* con) { return con->ndx != -1 && con->state != hx::CON_STATE_CLOSE; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path root = hx::fuzz::UseTemporaryDataRoot();
    std::filesystem::create_directories(root / "www");
    std::filesystem::create_directories(root / "uploads");
    const std::filesystem::path config = root / "webserver.conf";
    std::ofstream(config) << "server.document-root = \"" << (root / "www").string() << "\"\n"
                          << "server.upload-dirs = ( \"" << (root / "uploads").string() << "\" )\n";
    g_server = hx::server_init();
    g_server->errorlog_fd = -1;
    if (hx::config_read(g_server, config.c_str()) != 0 || hx::config_set_defaults(g_server) != 0) {
        std::fprintf(stderr, "http_request: the configuration was refused\n");
        std::abort();
    }
    g_server->max_conns = 16;
    g_server->max_fds = 1024;
    g_server->network_backend_write = hx::network_write_chunkqueue_writev;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::server* srv = g_server;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        std::abort();
    }
    const int client = pair[0];
    srv->cur_fds++;
    hx::connection* con = hx::connections_get_new_connection(srv);
    con->fd = pair[1];
    hx::connection_set_state(srv, con, hx::CON_STATE_REQUEST_START);

    std::string received;
    size_t at = 0;
    while (at < size && open(con)) {
        size_t length = data[at++];
        if (length == 0 || at + length > size) {
            length = size - at;
        }
        const ssize_t sent = ::write(client, data + at, length);
        (void)sent;
        at += length;
        con->is_readable = 1;
        hx::connection_state_machine(srv, con);
        drain(client, received);
    }
    ::shutdown(client, SHUT_WR);
    for (int turn = 0; turn < 4 && con->ndx != -1; ++turn) {
        con->is_readable = 1;
        con->is_writable = 1;
        hx::connection_state_machine(srv, con);
        drain(client, received);
        if (con->state == hx::CON_STATE_CLOSE) {
            srv->cur_ts += hx::kLingerSeconds;
        }
    }
    check_responses(received);

    if (con->ndx != -1) {
        hx::connection_reset(srv, con);
        hx::connection_close(srv, con);
    }
    ::close(client);
    return 0;
}

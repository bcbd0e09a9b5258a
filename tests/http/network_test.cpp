// The listeners on loopback and Unix-domain sockets in a temporary data
// root: the tokens refused (with their lines and no descriptor left open),
// the socket options, stale and busy socket files, the configuration's
// listeners and back end, and the event handler accepting connections.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/errorlog_lines.h"
#include "http/config_keys.h"
#include "http/connections.h"
#include "http/fdevent.h"
#include "http/http_test_util.h"
#include "http/network.h"
#include "sim/chassis/sim_chassis.h"
#include "support/test_env.h"

namespace hx {
namespace {

int OpenDescriptors() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

bool Connects(const sockaddr* address, socklen_t length, int family) {
    const int client = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = connect(client, address, length) == 0;
    close(client);
    return connected;
}

bool ConnectsTcp(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return Connects(reinterpret_cast<sockaddr*>(&address), sizeof address, AF_INET);
}

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

bool ConnectsUnix(const std::string& path) {
    const sockaddr_un address = UnixAddress(path);
    return Connects(reinterpret_cast<const sockaddr*>(&address), sizeof address, AF_UNIX);
}

// A server with a memory-file error log and one zeroed block of settings.
class ListenerTest : public testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", MFD_CLOEXEC);
        settings_ = static_cast<specific_config*>(std::calloc(1, sizeof(specific_config)));
    }
    void TearDown() override {
        network_close(srv_);
        connections_free(srv_);
        std::free(settings_);
        EXPECT_EQ(TakeLog(), "") << "unexpected error log lines";
        close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
    }

    std::string TakeLog() { return test::TakeWholeLog(srv_->errorlog_fd); }

    int Open(const std::string& token) {
        buffer* text = buffer_init_string(token.c_str());
        const int result = network_server_init(srv_, text, settings_);
        buffer_free(text);
        return result;
    }
    server_socket* Listener(size_t i) { return srv_->srv_sockets.ptr[i]; }
    std::string SocketPath(const std::string& name) { return (env_.root() / name).string(); }

    test::TestEnvironment env_;
    server* srv_ = nullptr;
    specific_config* settings_ = nullptr;
};

TEST_F(ListenerTest, RefusedTokensLeaveNothingOpen) {
    const std::string port = std::to_string(SimChassis_FreeLoopbackPort());
    const std::string long_path = "/" + std::string(120, 'p');
    const struct {
        std::string token;
        std::string line;
        bool ipv6_flag;
    } cases[] = {
        {"127.0.0.1:0", "port out of range: 0", false},
        {"127.0.0.1:65536", "port out of range: 65536", false},
        {"127.0.0.1:-80", "port out of range: -80", false},
        {"127.0.0.1:http", "port out of range: 0", false},
        {"127.0.0.1", "value of $SERVER[\"socket\"] has to be \"ip:port\". 127.0.0.1", false},
        {"[::1]:" + port, "addr-type != AF_INET: 10", true},
        {long_path + ":0", "unix socket filename too long: " + long_path, false},
        {SocketPath("no/such/folder") + ":0", "can't bind to socket: " + SocketPath("no/such/folder"), false},
    };
    const int before = OpenDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        settings_->use_ipv6 = 0;
        EXPECT_EQ(Open(c.token), -1);
        EXPECT_EQ(srv_->srv_sockets.used, 0u);
        EXPECT_EQ(settings_->use_ipv6, c.ipv6_flag ? 1 : 0);
        const std::string log = TakeLog();
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_EQ(OpenDescriptors(), before);
    }
}

TEST_F(ListenerTest, Ipv4ListenerOptions) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        const std::uint16_t port = SimChassis_FreeLoopbackPort();
        const std::string token = std::string(host) + ":" + std::to_string(port);
        settings_->defer_accept = 7;
        ASSERT_EQ(Open(token), 0) << TakeLog();
        server_socket* listener = Listener(srv_->srv_sockets.used - 1);
        EXPECT_EQ(test::Text(listener->srv_token), token);
        EXPECT_EQ(listener->fde_ndx, -1);
        EXPECT_EQ(listener->is_ssl, 0);
        EXPECT_EQ(listener->addr.ipv4.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(listener->addr.ipv4.sin_port, htons(port));
        EXPECT_EQ(srv_->cur_fds, listener->fd);
        EXPECT_NE(fcntl(listener->fd, F_GETFD) & FD_CLOEXEC, 0);
        int value = 0;
        socklen_t length = sizeof value;
        getsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &value, &length);
        EXPECT_EQ(value, 1);
        getsockopt(listener->fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &value, &length);
        EXPECT_GT(value, 0);
        EXPECT_TRUE(ConnectsTcp(port));

        // Reuse of the address does not take a port another socket listens on.
        EXPECT_EQ(Open(token), -1);
        EXPECT_NE(TakeLog().find("can't bind to port: " + std::string(host) + " " + std::to_string(port) +
                                 " Address already in use"),
                  std::string::npos);
    }
    EXPECT_EQ(srv_->srv_sockets.used, 2u);
    const std::uint16_t port = ntohs(Listener(0)->addr.ipv4.sin_port);
    network_close(srv_);
    EXPECT_EQ(srv_->srv_sockets.used, 0u);
    EXPECT_FALSE(ConnectsTcp(port));
}

TEST_F(ListenerTest, TlsIsRefused) {
    settings_->ssl_enabled = 1;
    EXPECT_EQ(Open("127.0.0.1:" + std::to_string(SimChassis_FreeLoopbackPort())), -1);
    EXPECT_NE(TakeLog().find("SSL: ssl requested but openssl support is not compiled in"), std::string::npos);
    EXPECT_EQ(srv_->srv_sockets.used, 0u);
}

// A socket file nobody listens on any more is removed and bound again; one
// that answers belongs to a running server and is left to it; a file that is
// no socket is never removed.
TEST_F(ListenerTest, UnixDomainSocketFiles) {
    const std::string stale = SocketPath("stale.sock");
    {
        const int old = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = UnixAddress(stale);
        ASSERT_EQ(bind(old, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        close(old);
    }
    ASSERT_TRUE(std::filesystem::exists(stale));
    settings_->defer_accept = 3;
    ASSERT_EQ(Open(stale + ":80"), 0) << TakeLog();
    EXPECT_NE(TakeLog().find("can't set TCP_DEFER_ACCEPT: "), std::string::npos);
    EXPECT_EQ(Listener(0)->addr.un.sun_family, AF_UNIX);
    EXPECT_TRUE(ConnectsUnix(stale));

    settings_->defer_accept = 0;
    EXPECT_EQ(Open(stale + ":80"), -1);
    EXPECT_NE(TakeLog().find("server socket is still in use: " + stale), std::string::npos);
    EXPECT_EQ(srv_->srv_sockets.used, 1u);
    EXPECT_TRUE(ConnectsUnix(stale)) << "the running listener keeps its file";

    const std::string plain = SocketPath("notes.txt");
    std::ofstream(plain) << "keep me";
    EXPECT_EQ(Open(plain + ":80"), -1);
    EXPECT_NE(TakeLog().find("can't bind to socket: " + plain), std::string::npos);
    std::ifstream in(plain);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "keep me");
}

// The listeners and the back end a configuration file asks for.
class ConfiguredListenerTest : public ListenerTest {
protected:
    int ReadConfig(const std::string& text) {
        const std::string path = (env_.root() / "webserver.conf").string();
        std::ofstream(path) << text;
        return config_read(srv_, path.c_str());
    }
};

TEST_F(ConfiguredListenerTest, BackEndByName) {
    const struct {
        const char* setting;
        network_backend_write_t chosen;
    } cases[] = {
        {"", network_write_chunkqueue_writev},
        {"server.network-backend = \"writev\"\n", network_write_chunkqueue_writev},
        {"server.network-backend = \"write\"\n", network_write_chunkqueue_write},
        {"server.network-backend = \"linux-sendfile\"\n", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        TearDown();
        SetUp();
        const std::uint16_t port = SimChassis_FreeLoopbackPort();
        ASSERT_EQ(ReadConfig("server.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port) + "\n" +
                             c.setting),
                  0)
            << TakeLog();
        EXPECT_EQ(network_init(srv_), c.chosen != nullptr ? 0 : -1);
        EXPECT_EQ(srv_->network_backend_write, c.chosen);
        if (c.chosen == nullptr) {
            EXPECT_NE(TakeLog().find("server.network-backend has a unknown value: linux-sendfile"), std::string::npos);
        }
        EXPECT_TRUE(ConnectsTcp(port)) << "the main listener is open either way";
    }
}

// Every `$SERVER["socket"] ==` block adds a listener with its own settings,
// unless its socket is open already; a block whose socket fails fails the
// start.
TEST_F(ConfiguredListenerTest, SocketBlocks) {
    const std::string main_port = std::to_string(SimChassis_FreeLoopbackPort());
    const std::string extra_port = std::to_string(SimChassis_FreeLoopbackPort());
    ASSERT_EQ(ReadConfig("server.bind = \"127.0.0.1\"\nserver.port = " + main_port +
                         "\n"
                         "$SERVER[\"socket\"] == \"127.0.0.1:" +
                         main_port +
                         "\" { server.defer-accept = 2 }\n"
                         "$SERVER[\"socket\"] == \"127.0.0.1:" +
                         extra_port +
                         "\" { server.defer-accept = 4 }\n"
                         "$SERVER[\"socket\"] != \"127.0.0.1:1\" { }\n"),
              0)
        << TakeLog();
    ASSERT_EQ(network_init(srv_), 0) << TakeLog();
    ASSERT_EQ(srv_->srv_sockets.used, 2u);
    EXPECT_EQ(test::Text(Listener(0)->srv_token), "127.0.0.1:" + main_port);
    EXPECT_EQ(test::Text(Listener(1)->srv_token), "127.0.0.1:" + extra_port);
    int deferred = 0;
    socklen_t length = sizeof deferred;
    getsockopt(Listener(0)->fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferred, &length);
    EXPECT_EQ(deferred, 0) << "the main listener has the global settings";
    getsockopt(Listener(1)->fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferred, &length);
    EXPECT_GT(deferred, 0);
    EXPECT_TRUE(ConnectsTcp(static_cast<std::uint16_t>(std::stoi(extra_port))));

    TearDown();
    SetUp();
    ASSERT_EQ(ReadConfig("server.bind = \"127.0.0.1\"\nserver.port = " +
                         std::to_string(SimChassis_FreeLoopbackPort()) +
                         "\n$SERVER[\"socket\"] == \"127.0.0.1:0\" { }\n"),
              0);
    EXPECT_EQ(network_init(srv_), -1);
    EXPECT_NE(TakeLog().find("port out of range: 0"), std::string::npos);
}

// Registered listeners wake the loop for input; each input event accepts up
// to 100 waiting clients, each run at once to its first wait.
TEST_F(ConfiguredListenerTest, EventsAcceptUpTo100Connections) {
    const std::uint16_t port = SimChassis_FreeLoopbackPort();
    ASSERT_EQ(ReadConfig("server.bind = \"127.0.0.1\"\nserver.port = " + std::to_string(port) +
                         "\nserver.document-root = \"" + env_.root().string() + "\"\n"),
              0);
    ASSERT_EQ(config_set_defaults(srv_), 0) << TakeLog();
    ASSERT_EQ(network_init(srv_), 0) << TakeLog();
    srv_->max_conns = 1000;
    srv_->max_fds = 1000;
    srv_->ev = fdevent_init(srv_, 1024, FDEVENT_HANDLER_LINUX_SYSEPOLL);
    ASSERT_NE(srv_->ev, nullptr);
    ASSERT_EQ(network_register_fdevents(srv_), 0);
    server_socket* listener = Listener(0);
    // As the server start does, so a round of accepts ends when none is left.
    ASSERT_EQ(fdevent_fcntl_set(srv_->ev, listener->fd), 0);
    EXPECT_NE(listener->fde_ndx, -1);
    EXPECT_EQ(fdevent_get_handler(srv_->ev, listener->fd), network_server_handle_fdevent);
    EXPECT_EQ(fdevent_get_context(srv_->ev, listener->fd), listener);

    EXPECT_EQ(network_server_handle_fdevent(srv_, listener, FDEVENT_OUT), HANDLER_ERROR);
    EXPECT_NE(TakeLog().find("strange event for server socket " + std::to_string(listener->fd) + " 4"),
              std::string::npos);

    std::vector<int> clients;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    for (int i = 0; i < 130; ++i) {
        clients.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(connect(clients.back(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    EXPECT_EQ(network_server_handle_fdevent(srv_, listener, FDEVENT_IN), HANDLER_GO_ON);
    EXPECT_EQ(srv_->conns->used, 100u);
    EXPECT_EQ(srv_->conns->ptr[0]->srv_socket, listener);
    EXPECT_EQ(srv_->conns->ptr[0]->state, CON_STATE_READ) << "run to its first wait";
    EXPECT_EQ(network_server_handle_fdevent(srv_, listener, FDEVENT_IN), HANDLER_GO_ON);
    EXPECT_EQ(srv_->conns->used, 130u);
    EXPECT_EQ(network_server_handle_fdevent(srv_, listener, FDEVENT_IN), HANDLER_GO_ON);
    EXPECT_EQ(srv_->conns->used, 130u);

    connections_free(srv_);
    const int fd = listener->fd;
    network_close(srv_);
    EXPECT_EQ(srv_->ev->fdarray[fd], nullptr) << "unregistered";
    for (int client : clients) {
        close(client);
    }
}

}  // namespace
}  // namespace hx

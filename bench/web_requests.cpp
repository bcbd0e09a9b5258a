// Speed of a web request end to end: the card's HTTP server thread in this
// process on a loopback port, the real dispatch behind it, and keep-alive
// clients that each send the next request once the reply is in. Every
// request is timed from its first byte sent to its reply's last byte read;
// p50 and p99 are counters (microseconds, averaged over the client threads).
//
// BM_WebRequest: "GetSubboardParam.w" with a token, 1 and 8 clients (goal:
// p99 under 1 ms with one client). BM_WebRequestBody: one row with bodies of
// 2 KiB to 1 MiB (time linear in the body: gathered in 2,048-byte steps).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "core/run_profile.h"
#include "http/webserver.h"
#include "http/webserver_loop.h"
#include "web/web_request.h"

namespace {

using namespace hx;
using Clock = std::chrono::steady_clock;

std::uint16_t FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    close(fd);
    return ntohs(addr.sin_port);
}

// The server thread with its configuration and modules in a data root of its
// own, started on first use and left running until the program ends.
class WebServer {
public:
    static WebServer& Get() {
        static WebServer server;
        return server;
    }
    std::uint16_t port() const { return port_; }
    bool running() const { return running_; }

private:
    WebServer() {
        const std::filesystem::path lib = ResolvePath("/vandik_app/tools/webserver/lib");
        std::filesystem::create_directories(lib);
        std::istringstream names(HX_HTTP_MODULES);
        for (std::string name; names >> name;) {
            std::filesystem::copy_file(std::filesystem::path(HX_HTTP_MODULES_DIR) / (name + ".so"), lib / (name + ".so"),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        std::filesystem::create_directories(ResolvePath("/vandik_app/web"));
        std::filesystem::create_directories(ResolvePath("/vandik_data/log"));
        port_ = FreeLoopbackPort();
        const std::string config = ResolvePath("/vandik_app/tools/webserver/config/webserver.conf");
        std::filesystem::create_directories(std::filesystem::path(config).parent_path());
        std::ofstream(config) << "server.document-root = \"" << ResolvePath("/vandik_app/web") << "\"\n"
                              << "server.bind = \"127.0.0.1\"\nserver.port = " << port_ << "\n"
                              << "server.errorlog = \"" << ResolvePath("/vandik_data/log/webserver-error.log")
                              << "\"\nserver.breakagelog = \"/dev/stderr\"\n"
                              << "server.max-request-size = 4096\n"
                              << "server.max-keep-alive-requests = 32767\n";
        Web_SetRequestHookForTest(nullptr);
        server* srv = server_start();
        if (srv == nullptr) {
            std::fprintf(stderr, "web_requests: the server did not start\n");
            return;
        }
        running_ = true;
        std::thread([srv] {
            while (!server_loop_should_stop()) {
                server_loop_turn(srv, 1000);
            }
        }).detach();
    }

    bench::BenchDataRoot root_;
    std::uint16_t port_ = 0;
    bool running_ = false;
};

// One keep-alive client.
class Client {
public:
    explicit Client(std::uint16_t port) : port_(port) { Connect(); }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // A new connection once the server said it closes this one (after its
    // keep-alive request limit); not part of any timed request.
    void ReconnectIfClosing() {
        const size_t headEnd = received_.find("\r\n\r\n");
        if (received_.find("Connection: close") < headEnd) {
            close(fd_);
            Connect();
        }
    }
    void Connect() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const std::uint16_t port = port_;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    // Sends one request and reads its whole reply; false on a failure or a
    // status other than 200.
    bool Exchange(const std::string& request) {
        for (size_t sent = 0; sent < request.size();) {
            const ssize_t n = send(fd_, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        received_.clear();
        size_t headEnd = std::string::npos;
        size_t total = 0;
        char chunk[16384];
        while (headEnd == std::string::npos || received_.size() < total) {
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return false;
            }
            received_.append(chunk, static_cast<size_t>(n));
            if (headEnd == std::string::npos && (headEnd = received_.find("\r\n\r\n")) != std::string::npos) {
                const size_t at = received_.find("Content-Length: ");
                total = headEnd + 4 + (at < headEnd ? std::strtoul(received_.c_str() + at + 16, nullptr, 10) : 0);
            }
        }
        return received_.compare(0, 13, "HTTP/1.1 200 ") == 0;
    }
    bool connected() const { return connected_; }
    const std::string& reply() const { return received_; }

private:
    std::uint16_t port_;
    int fd_ = -1;
    bool connected_ = false;
    std::string received_;
};

std::string Post(const std::string& name, const std::string& body) {
    return "POST /" + name + " HTTP/1.1\r\nHost: card\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Runs the requests of one benchmark thread and sets its latency counters.
void TimedRequests(benchmark::State& state, const std::string& request) {
    WebServer& server = WebServer::Get();
    if (!server.running()) {
        state.SkipWithError("the web server did not start");
        return;
    }
    Client client(server.port());
    if (!client.connected()) {
        state.SkipWithError("no connection");
        return;
    }
    std::vector<double> latencies;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        if (!client.Exchange(request)) {
            state.SkipWithError(("request failed: " + client.reply().substr(0, 200)).c_str());
            break;
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        client.ReconnectIfClosing();
    }
    if (latencies.empty()) {
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) { return latencies[static_cast<size_t>(share * (latencies.size() - 1))]; };
    state.counters["p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
    state.counters["p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
    state.counters["requests"] = benchmark::Counter(static_cast<double>(latencies.size()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request.size()));
}

void BM_WebRequest(benchmark::State& state) {
    TimedRequests(state, Post("GetSubboardParam.w", R"({"token":"t"})"));
}
BENCHMARK(BM_WebRequest)->Threads(1)->Threads(8)->UseRealTime();

void BM_WebRequestBody(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::string body = R"({"token":"t","pad":")";
    body.append(size - body.size() - 2, 'x');
    body += "\"}";
    TimedRequests(state, Post("Beat.w", body));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_WebRequestBody)->RangeMultiplier(4)->Range(2 << 10, 1 << 20)->Complexity(benchmark::oN)->UseRealTime();

}  // namespace

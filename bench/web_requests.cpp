// Speed of a web request end to end: the card's HTTP server thread in this
// process on a loopback port, the real dispatch behind it, and keep-alive
// clients that each send the next request once the reply is in. Every
// request is timed from its first byte sent to its reply's last byte read;
// p50 and p99 are counters (microseconds, averaged over the client threads).
//
// BM_WebRequest: "GetSubboardParam.w" with a token, 1 and 8 clients (goal:
// p99 under 1 ms with one client). BM_WebRequestBody: one row with bodies of
// 2 KiB to 1 MiB (time linear in the body: gathered in 2,048-byte steps).
//
// The output model requests run on the largest model of bench/mux_process
// (16 streams with a NIT each, up to 500 programs of a PCR and four PIDs, up
// to 32 EMM PIDs), ranged by programs from an eighth of it to full, against
// the simulated main FPGA, at 1 and 8 clients: BM_OutputTSStatus, the status
// listing of every channel (goal p99 under 1 ms); BM_SubboardTSInfo, the
// refresh of the temporary copy and the stream listing; BM_ProgramEditApply,
// one program renamed in the copy ("SetProgramParam.w") and applied
// ("ApplyAllParam.w"), timed apart (goal: p99 well under the 100 ms PSI
// interval, the model-file save apart: bench/mux_process's BM_ModelSave). A
// request that answers "Doesn't exist!" (770) is labelled so: its figure is
// the dispatcher's, not the handler's.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_env.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "http/webserver.h"
#include "http/webserver_loop.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/section_codec.h"
#include "sim/main_fpga.h"
#include "models/largest_model.h"
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

// What a client thread measured, one latency series per request of a step.
struct Latencies {
    std::vector<std::vector<double>> series;
    bool notBuilt = false;  // a request answered 770
};

// Runs the steps of one benchmark thread: each iteration sends the requests
// of one step in order and times each apart. False (and the state skipped)
// when a request fails.
bool TimedSteps(benchmark::State& state, const std::vector<std::string>& step, Latencies& out) {
    WebServer& server = WebServer::Get();
    if (!server.running()) {
        state.SkipWithError("the web server did not start");
        return false;
    }
    Client client(server.port());
    if (!client.connected()) {
        state.SkipWithError("no connection");
        return false;
    }
    out.series.assign(step.size(), {});
    for (auto _ : state) {
        for (size_t i = 0; i < step.size(); ++i) {
            const Clock::time_point start = Clock::now();
            if (!client.Exchange(step[i])) {
                state.SkipWithError(("request failed: " + client.reply().substr(0, 200)).c_str());
                return false;
            }
            out.series[i].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            out.notBuilt = out.notBuilt || client.reply().find("\"code\":\t770") != std::string::npos;
            client.ReconnectIfClosing();
        }
    }
    return true;
}

// p50 and p99 of a series as counters named with `prefix`.
void SetPercentiles(benchmark::State& state, std::vector<double>& latencies, const std::string& prefix) {
    if (latencies.empty()) {
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) { return latencies[static_cast<size_t>(share * (latencies.size() - 1))]; };
    state.counters[prefix + "p50_us"] = benchmark::Counter(at(0.50), benchmark::Counter::kAvgThreads);
    state.counters[prefix + "p99_us"] = benchmark::Counter(at(0.99), benchmark::Counter::kAvgThreads);
}

// Runs the requests of one benchmark thread and sets its latency counters.
void TimedRequests(benchmark::State& state, const std::string& request) {
    Latencies latencies;
    if (!TimedSteps(state, {request}, latencies) || latencies.series[0].empty()) {
        return;
    }
    const double count = static_cast<double>(latencies.series[0].size());
    SetPercentiles(state, latencies.series[0], "");
    state.counters["requests"] = benchmark::Counter(count, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * request.size()));
    if (latencies.notBuilt) {
        state.SetLabel("answers 770: not built yet");
    }
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

// ---- Output model requests ---------------------------------------------------------

// The live model of bench/mux_process with `programs` named programs (program
// p on channel p % 16 with service ID p + 1), and the temporary copy refreshed
// from it. False when the engine refused.
bool BuildModel(U32 programs) {
    if (bench::BuildLargestModel(programs, {.programNames = true}) == 0) {
        return false;
    }
    TSP_ModelLock lock;
    if (TSP_InitOutputTempTSInfo() != 0) {
        return false;
    }
    TSP_CopyOutputTempTSInfo();
    return true;
}

// A loopback port bound but never listening: the inter-board sends of an
// apply (the resource record to the back board) are refused at once.
std::uint16_t RefusingLoopbackPort() {
    static const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
}

// Once per run, before the client threads start: the server, the simulated
// main FPGA, the log taking warnings and errors only, and the model.
std::atomic<bool> g_modelReady{false};

void SetUpModel(const benchmark::State& state) {
    WebServer& server = WebServer::Get();  // its data root first: the log and the saves go there
    static const bool once = [] {
        RunProfile profile = Profile();
        profile.interBoardPort = RefusingLoopbackPort();
        SetProfile(profile);
        bench::Bench_StartLog(LOG_LEVEL_WARNING | LOG_LEVEL_ERROR);
        REG_AttachBus(std::make_shared<sim::MainFpga>(sim::MainFpgaConfig{}));
        return true;
    }();
    (void)once;
    Resource_Reset();
    GetQAMPara_Handle()->Standard.value = 0;
    g_modelReady = server.running() && BuildModel(static_cast<U32>(state.range(0)));
}

bool ModelReady(benchmark::State& state) {
    if (!g_modelReady) {
        state.SkipWithError("model not built");
        return false;
    }
    return true;
}

void BM_OutputTSStatus(benchmark::State& state) {
    if (ModelReady(state)) {
        TimedRequests(state, Post("GetOutputTSStatus.w", R"({"token":"t"})"));
    }
}

void BM_SubboardTSInfo(benchmark::State& state) {
    if (ModelReady(state)) {
        TimedRequests(state, Post("GetSubboardTSInfo.w", R"({"token":"t"})"));
    }
}

// Each client renames a program of its own, to one of two names in turn, so
// every apply changes one SDT.
void BM_ProgramEditApply(benchmark::State& state) {
    if (!ModelReady(state)) {
        return;
    }
    const U32 id = static_cast<U32>(state.thread_index()) + 1;
    const std::string where = R"({"token":"t","port":0,"channel":)" + std::to_string((id - 1) % bench::kLargestModelStreams) +
                              R"(,"oldserviceid":)" + std::to_string(id) + R"(,"servicename":")";
    const std::string apply = Post("ApplyAllParam.w", R"({"token":"t"})");
    // Two rounds per iteration: the name goes back and forth.
    const std::vector<std::string> step = {Post("SetProgramParam.w", where + "Renamed\"}"), apply,
                                           Post("SetProgramParam.w", where + "Program " + std::to_string(id) + "\"}"),
                                           apply};
    Latencies latencies;
    if (!TimedSteps(state, step, latencies)) {
        return;
    }
    std::vector<double> edits = latencies.series[0];
    edits.insert(edits.end(), latencies.series[2].begin(), latencies.series[2].end());
    std::vector<double> applies = latencies.series[1];
    applies.insert(applies.end(), latencies.series[3].begin(), latencies.series[3].end());
    SetPercentiles(state, edits, "edit_");
    SetPercentiles(state, applies, "apply_");
    state.counters["applies"] = benchmark::Counter(static_cast<double>(applies.size()), benchmark::Counter::kIsRate);
    if (latencies.notBuilt) {
        state.SetLabel("answers 770: not built yet");
    }
}

#define HX_MODEL_RANGE                                                                                         \
    Setup(SetUpModel)->Arg(62)->Arg(125)->Arg(250)->Arg(500)->Threads(1)->Threads(8)->UseRealTime()
BENCHMARK(BM_OutputTSStatus)->HX_MODEL_RANGE;
BENCHMARK(BM_SubboardTSInfo)->HX_MODEL_RANGE;
BENCHMARK(BM_ProgramEditApply)->HX_MODEL_RANGE;

}  // namespace

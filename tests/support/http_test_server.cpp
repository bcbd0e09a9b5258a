#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "http/chunk.h"
#include "http/plugin.h"
#include "http/webserver.h"
#include "http/webserver_loop.h"
#include "sim/chassis/sim_chassis.h"
#include "support/http_modules.h"
#include "web/web_request.h"

namespace hx::test {

namespace {

constexpr const char* kConfigPath = "/vandik_app/tools/webserver/config/webserver.conf";
constexpr const char* kErrorLogPath = "/vandik_data/log/webserver-error.log";
// Short turns: Stop() is seen within this many milliseconds.
constexpr int kTurnMs = 50;
constexpr int kStartAttempts = 5;

std::mutex g_callsMutex;
std::vector<WebCall> g_calls;
// Set before the server thread starts, read by it.
bool g_dispatch = false;

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string MemoryBody(const chunkqueue* cq) {
    std::string body;
    for (const chunk* c = cq != nullptr ? cq->first : nullptr; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK && c->mem != nullptr && c->mem->used > 1) {
            body.append(c->mem->ptr, c->mem->used - 1);
        }
    }
    return body;
}

bool PortTaken(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}

}  // namespace

int ConnectToHttpServer(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void WriteHttpServerConfig(TestEnvironment& env, std::uint16_t port, const HttpServerOptions& options) {
    const std::string root = env.root().string();
    std::ostringstream conf;
    if (!options.documentRoot.empty()) {
        conf << "server.document-root = \"" << root << options.documentRoot << "\"\n";
    }
    conf << "server.bind = \"" << options.bind << "\"\n"
         << "server.port = " << port << "\n"
         << "server.errorlog = \"" << root << kErrorLogPath << "\"\n";
    if (!options.breakagelog.empty()) {
        conf << "server.breakagelog = \"" << options.breakagelog << "\"\n";
    }
    conf << "mimetype.assign = (\n"
            "  \".html\" => \"text/html\",\n"
            "  \".js\" => \"application/javascript\",\n"
            "  \".css\" => \"text/css\",\n"
            "  \".json\" => \"application/json\",\n"
            "  \".txt\" => \"text/plain\",\n"
            ")\n"
         << options.extra << "\n";
    env.WriteText(kConfigPath, conf.str());
    std::filesystem::create_directories(env.Path("/vandik_app/web"));
    std::filesystem::create_directories(env.Path("/vandik_data/log"));
    InstallHttpModules(env.root());
}

std::string HttpServerErrorLog(const TestEnvironment& env) {
    return env.ReadText(kErrorLogPath);
}

HttpTestServer::HttpTestServer(TestEnvironment& env, HttpServerOptions options)
    : env_(env), options_(std::move(options)) {}

HttpTestServer::~HttpTestServer() {
    Stop();
}

bool HttpTestServer::Start() {
    if (running()) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(g_callsMutex);
        g_calls.clear();
    }
    g_dispatch = options_.dispatch;
    Web_SetRequestHookForTest(&HttpTestServer::RecordingHook);
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        port_ = SimChassis_FreeLoopbackPort();
        if (port_ == 0) {
            continue;
        }
        WriteHttpServerConfig(env_, port_, options_);
        webserver_shutdown(false);
        server* srv = server_start();
        if (srv != nullptr) {
            thread_ = std::thread([this, srv] { Run(srv); });
            return true;
        }
        // Another program may have taken the port between the look-up and
        // the bind: only then is another port worth a try.
        if (!PortTaken(port_)) {
            break;
        }
    }
    Web_SetRequestHookForTest(nullptr);
    return false;
}

void HttpTestServer::Run(server* srv) {
    while (!server_loop_should_stop()) {
        server_loop_turn(srv, kTurnMs);
    }
    server_exit(srv);
}

void HttpTestServer::Stop() {
    if (!running()) {
        return;
    }
    webserver_shutdown(true);
    thread_.join();
    webserver_shutdown(false);
    Web_SetRequestHookForTest(nullptr);
}

std::string HttpTestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int HttpTestServer::OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::vector<WebCall> HttpTestServer::WebCalls() {
    std::lock_guard<std::mutex> lock(g_callsMutex);
    return g_calls;
}

U32 HttpTestServer::RecordingHook(buffer* reply, server* /*srv*/, connection* con) {
    WebCall call{std::string(web_RequestName(con)), MemoryBody(con->request_content_queue), -1, 0};
    if (g_arcUpgradeFiledir[0] != '\0' && std::filesystem::exists(g_arcUpgradeFiledir)) {
        const std::string upload = ReadWholeFile(g_arcUpgradeFiledir);
        call.uploadSize = static_cast<long long>(upload.size());
        call.uploadCrc = generate_crc32c(upload.data(), upload.size());
    }
    const bool known = web_IsRequestName(call.name);
    if (g_dispatch) {
        // Recorded once the handler is done, so a test that reads WebCalls()
        // after the reply is ordered after everything the handler changed,
        // which the reply's road through curl does not show to the thread
        // checker. Taking the lock first orders likewise what the test
        // changed before its last WebCalls() ahead of the handler's reads.
        {
            std::lock_guard<std::mutex> lock(g_callsMutex);
        }
        const U32 result = web_DispatchRequest(reply, con);
        std::lock_guard<std::mutex> lock(g_callsMutex);
        g_calls.push_back(std::move(call));
        return result;
    }
    {
        std::lock_guard<std::mutex> lock(g_callsMutex);
        g_calls.push_back(std::move(call));
    }
    if (!known) {
        return 770;  // answered 404
    }
    buffer_copy_string(reply, "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}");
    return 0;
}

}  // namespace hx::test

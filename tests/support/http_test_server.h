// The card's HTTP server thread alone, for tests that talk to it from outside
// (curl, wrk, raw sockets): a configuration in a TestEnvironment data root,
// the modules installed into its lib folder, a free loopback port, and a
// recording web hook in front of (or in place of) the request dispatch.
//
// The server runs the real start-up, loop turns and exit path in a thread of
// its own. Start-up changes process-wide state (signal dispositions, the time
// locale, descriptor 2, which stays on the test's standard error), so one
// test server runs at a time in a test program, and tests that start one live
// in a *_tsan folder.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/types.h"
#include "http/http_base.h"
#include "support/test_env.h"

namespace hx::test {

// One POST as the web hook saw it.
struct WebCall {
    std::string name;        // the last segment of the request path
    std::string body;        // the body held in memory
    long long uploadSize;    // bytes of the upload file, -1 when none
    std::uint32_t uploadCrc; // CRC-32 of the upload file's bytes
};

struct HttpServerOptions {
    // The document root's line; empty leaves the key out.
    std::string documentRoot = "/vandik_app/web";  // under the data root
    // "server.bind": the loopback address, or a path for a Unix-domain listener.
    std::string bind = "127.0.0.1";
    // Lines appended to the configuration.
    std::string extra;
    // Where descriptor 2 goes once the server's log is open.
    std::string breakagelog = "/dev/stderr";
    // The recording hook lets each request through to the web application's
    // real dispatch instead of answering every web name with success.
    bool dispatch = false;
};

// The defaults with requests let through to the web application.
inline HttpServerOptions DispatchingOptions() {
    HttpServerOptions options;
    options.dispatch = true;
    return options;
}

// The configuration file the server thread reads: the listener on
// 127.0.0.1:`port`, the error log in the data root, the mime types of the
// shipped file, then `options.extra`. Also the modules, installed into the
// data root's lib folder.
void WriteHttpServerConfig(TestEnvironment& env, std::uint16_t port, const HttpServerOptions& options = {});

// The server's own error log file ("" while there is none).
std::string HttpServerErrorLog(const TestEnvironment& env);

// A client connection to 127.0.0.1:port; -1 when it is refused (no test
// failure: refusal is what some tests wait for).
int ConnectToHttpServer(std::uint16_t port);

class HttpTestServer {
public:
    explicit HttpTestServer(TestEnvironment& env, HttpServerOptions options = {});
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Starts the server thread on a free port, retrying with another port
    // when the chosen one is taken before the server binds it. False when
    // start-up failed for another reason (see ErrorLog()).
    bool Start();
    // Asks the loop to stop and waits for the exit path. Idempotent.
    void Stop();
    bool running() const { return thread_.joinable(); }

    std::uint16_t port() const { return port_; }
    std::string Url(const std::string& path) const;
    std::string ErrorLog() const { return HttpServerErrorLog(env_); }
    // The descriptors the process holds right now.
    static int OpenDescriptors();

    // The requests the web hook saw. With `dispatch`, each is recorded once
    // its handler is done, so reading them after a reply orders the handler's
    // changes before the test's next reads; reading them before a request
    // orders the test's changes before its handler.
    std::vector<WebCall> WebCalls();

private:
    static U32 RecordingHook(buffer* reply, server* srv, connection* con);
    void Run(server* srv);

    TestEnvironment& env_;
    HttpServerOptions options_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace hx::test

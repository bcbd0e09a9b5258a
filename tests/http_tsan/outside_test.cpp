// The HTTP server seen from outside, as a browser, a script or an attacker
// sees it: curl, raw sockets and wrk against the test server (the real
// server thread on a loopback port in a temporary data root).
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "http/plugin.h"
#include "support/http_test_server.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr std::chrono::seconds kToolLimit{60};
const std::string kPage = "<!DOCTYPE html>\n<p>card</p>\n";
const std::string kStandInReply = "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}";

struct ToolResult {
    int status;
    std::string output;
};

ToolResult RunTool(std::vector<std::string> argv) {
    test::ChildProgram program;
    if (!program.Start(argv)) {
        return {-1, program.Output()};
    }
    const int status = program.WaitForExit(kToolLimit);
    return {status, program.Output()};
}

// curl without proxies, quiet but for errors; `args` follow.
ToolResult Curl(std::vector<std::string> args) {
    std::vector<std::string> argv = {"curl", "--noproxy", "*", "-sS"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunTool(argv);
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Everything the server sends until it closes (or `limit` passes without a
// byte, which a test then sees as a missing close).
std::string ReadUntilClose(int fd, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, static_cast<int>(limit.count())) == 1) {
        char chunk[8192];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return text;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    return text + "<no close>";
}

class OutsideTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.WriteText("/vandik_app/web/index.html", kPage);
        ASSERT_TRUE(server_.Start()) << server_.ErrorLog();
    }
    void TearDown() override {
        server_.Stop();
        // The server logs its refusals; nothing in it may be an assertion.
        EXPECT_THAT(server_.ErrorLog(), Not(HasSubstr("assertion failed")));
    }

    test::TestEnvironment env_;
    test::HttpTestServer server_{env_};
};

TEST_F(OutsideTest, PagesConditionalRequestsAndWebRequests) {
    const ToolResult page = Curl({"-i", server_.Url("/")});
    ASSERT_EQ(page.status, 0) << page.output;
    EXPECT_THAT(page.output, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(page.output, HasSubstr("Content-Type: text/html"));
    EXPECT_THAT(page.output, HasSubstr("\r\n\r\n" + kPage));

    // The ETag the page came with makes the next fetch a 304 without a body.
    const size_t at = page.output.find("ETag: ");
    ASSERT_NE(at, std::string::npos) << page.output;
    const std::string etag = page.output.substr(at + 6, page.output.find("\r\n", at) - at - 6);
    const ToolResult again = Curl({"-i", "-H", "If-None-Match: " + etag, server_.Url("/index.html")});
    EXPECT_THAT(again.output, StartsWith("HTTP/1.1 304 Not Modified\r\n"));
    EXPECT_THAT(again.output, Not(HasSubstr(kPage)));

    const ToolResult missing = Curl({"-i", server_.Url("/missing.html")});
    EXPECT_THAT(missing.output, StartsWith("HTTP/1.1 404 Not Found\r\n"));

    // Every POST goes to the web application with its body.
    const ToolResult post =
        Curl({"-i", "-H", "Content-Type: application/json", "--data", "{\"token\":\"t\"}", server_.Url("/GetSubboardParam.w")});
    EXPECT_THAT(post.output, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(post.output, HasSubstr("\r\n\r\n" + kStandInReply));
    const ToolResult unknown = Curl({"-i", "--data", "x", server_.Url("/nothing.html")});
    EXPECT_THAT(unknown.output, StartsWith("HTTP/1.1 404 Not Found\r\n"));

    const std::vector<test::WebCall> calls = server_.WebCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "GetSubboardParam.w");
    EXPECT_EQ(calls[0].body, "{\"token\":\"t\"}");
    EXPECT_EQ(calls[0].uploadSize, -1);
    EXPECT_EQ(calls[1].name, "nothing.html");
}

TEST_F(OutsideTest, KeepAliveReusesOneConnection) {
    const ToolResult two = Curl({"-v", "-o", "/dev/null", server_.Url("/index.html"), "-o", "/dev/null",
                                 server_.Url("/index.html")});
    ASSERT_EQ(two.status, 0) << two.output;
    EXPECT_EQ(Count(two.output, "Connected to 127.0.0.1"), 1) << two.output;
    EXPECT_THAT(two.output, HasSubstr("Re-using existing connection"));
}

TEST_F(OutsideTest, HttpOneZeroClosesUnlessAskedToKeepAlive) {
    const ToolResult plain = Curl({"-v", "--http1.0", "-o", "/dev/null", server_.Url("/index.html"), "-o",
                                   "/dev/null", server_.Url("/index.html")});
    ASSERT_EQ(plain.status, 0) << plain.output;
    EXPECT_THAT(plain.output, HasSubstr("< HTTP/1.0 200 OK"));
    EXPECT_EQ(Count(plain.output, "Connected to 127.0.0.1"), 2) << plain.output;

    const ToolResult kept = Curl({"-v", "--http1.0", "-H", "Connection: keep-alive", "-o", "/dev/null",
                                  server_.Url("/index.html"), "-o", "/dev/null", server_.Url("/index.html")});
    ASSERT_EQ(kept.status, 0) << kept.output;
    EXPECT_THAT(kept.output, HasSubstr("< Connection: keep-alive"));
    EXPECT_EQ(Count(kept.output, "Connected to 127.0.0.1"), 1) << kept.output;
}

TEST_F(OutsideTest, UploadsReachTheWebApplicationAsAFile) {
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 7919) >> 3);
    }
    env_.WriteText("/upload.bin", content);
    const std::string file = env_.Path("/upload.bin");

    // A form upload, as the pages send firmware, without waiting for 100.
    const ToolResult form = Curl({"-i", "-H", "Expect:", "-F", "file=@" + file, server_.Url("/Upgrade.w")});
    EXPECT_THAT(form.output, StartsWith("HTTP/1.1 200 OK\r\n")) << form.output.substr(0, 300);
    // The raw body: the file's own bytes, CRC and all.
    const ToolResult raw = Curl({"-i", "-H", "Expect:", "-H", "Content-Type: application/octet-stream",
                                 "--data-binary", "@" + file, server_.Url("/ImportSiTable.w")});
    EXPECT_THAT(raw.output, StartsWith("HTTP/1.1 200 OK\r\n"));

    const std::vector<test::WebCall> calls = server_.WebCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "Upgrade.w");
    EXPECT_GT(calls[0].uploadSize, static_cast<long long>(content.size()));
    EXPECT_LT(calls[0].uploadSize, static_cast<long long>(content.size()) + 1024);
    EXPECT_EQ(calls[0].body, "");
    EXPECT_EQ(calls[1].name, "ImportSiTable.w");
    EXPECT_EQ(calls[1].uploadSize, static_cast<long long>(content.size()));
    EXPECT_EQ(calls[1].uploadCrc, generate_crc32c(content.data(), content.size()));

    // Asking to wait for "100 Continue" is refused, and nothing is processed.
    const ToolResult expect =
        Curl({"-i", "-H", "Expect: 100-continue", "-F", "file=@" + file, server_.Url("/Upgrade.w")});
    EXPECT_THAT(expect.output, StartsWith("HTTP/1.1 417 Expectation Failed\r\n"));
    EXPECT_EQ(server_.WebCalls().size(), 2u);
    // No upload file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(env_.Path("/var/tmp"))) {
        ADD_FAILURE() << "left behind: " << entry.path();
    }
}

struct RawCase {
    const char* name;
    std::string request;
    const char* status;  // the one response's status line
};

// Malformed requests and smuggling attempts: one response each, then the
// server closes; whatever followed the refused request is never answered.
TEST_F(OutsideTest, MalformedAndSmugglingRequestsGetOneResponseThenClose) {
    const std::string next = "GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n";
    const RawCase cases[] = {
        {"garbage", "GARBAGE\r\n\r\n" + next, "400 Bad Request"},
        {"unknown version", "GET / HTTP/2.0\r\nHost: a\r\n\r\n" + next, "505 HTTP Version Not Supported"},
        {"chunked with a length",
         "POST /a.w HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + next,
         "501 Not Implemented"},
        {"chunked alone", "POST /a.w HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n" + next,
         "501 Not Implemented"},
        {"two lengths", "POST /a.w HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd" + next,
         "400 Bad Request"},
        {"negative length", "POST /a.w HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n" + next,
         "400 Bad Request"},
        {"length past 31 bits", "POST /a.w HTTP/1.1\r\nHost: a\r\nContent-Length: 2147483648\r\n\r\n" + next,
         "413 Request Entity Too Large"},
        {"overflowing length",
         "POST /a.w HTTP/1.1\r\nHost: a\r\nContent-Length: 99999999999999999999\r\n\r\n" + next,
         "413 Request Entity Too Large"},
        {"two hosts", "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n" + next, "400 Bad Request"},
        {"POST without a length", "POST /a.w HTTP/1.1\r\nHost: a\r\n\r\n" + next, "411 Length Required"},
        {"bare CR in a header", "GET / HTTP/1.1\r\nHost: a\rb\r\n\r\n" + next, "400 Bad Request"},
    };
    for (const RawCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int fd = test::ConnectToHttpServer(server_.port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, c.request));
        const std::string answer = ReadUntilClose(fd);
        close(fd);
        // The status line's version follows what the parser understood.
        EXPECT_THAT(answer, StartsWith("HTTP/1.")) << answer.substr(0, 200);
        EXPECT_EQ(answer.substr(9, answer.find("\r\n") - 9), c.status) << answer.substr(0, 200);
        EXPECT_EQ(Count(answer, "HTTP/1."), 1) << answer;
        EXPECT_THAT(answer, Not(HasSubstr("<no close>")));
    }
    EXPECT_TRUE(server_.WebCalls().empty());
}

TEST_F(OutsideTest, UnixDomainSocketListener) {
    server_.Stop();
    const std::string socketPath = env_.root().string() + "/http.sock";
    test::HttpServerOptions options;
    options.bind = socketPath;
    test::HttpTestServer withSocket(env_, options);
    ASSERT_TRUE(withSocket.Start()) << withSocket.ErrorLog();
    const ToolResult page = Curl({"-i", "--unix-socket", socketPath, "http://card/index.html"});
    EXPECT_THAT(page.output, StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_THAT(page.output, HasSubstr(kPage));
    withSocket.Stop();
}

// 200 clients send their requests one byte per round; a healthy client
// between rounds is answered at once, and in the end so is every slow one.
TEST_F(OutsideTest, SlowClientsDoNotHoldUpOthers) {
    constexpr int kSlow = 200;
    const std::string request = "GET /index.html HTTP/1.1\r\nHost: card\r\nConnection: close\r\n\r\n";
    std::vector<int> slow;
    for (int i = 0; i < kSlow; ++i) {
        const int fd = test::ConnectToHttpServer(server_.port());
        ASSERT_GE(fd, 0) << i;
        slow.push_back(fd);
    }
    int healthy = 0;
    for (size_t round = 0; round < request.size(); ++round) {
        for (int fd : slow) {
            ASSERT_TRUE(SendAll(fd, request.substr(round, 1)));
        }
        if (round % 16 == 8) {
            const ToolResult page = Curl({"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "10",
                                          server_.Url("/index.html")});
            EXPECT_EQ(page.output, "200") << "round " << round;
            ++healthy;
        }
    }
    EXPECT_GE(healthy, 3);
    int answered = 0;
    for (int fd : slow) {
        const std::string answer = ReadUntilClose(fd);
        close(fd);
        if (answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && answer.find(kPage) != std::string::npos) {
            ++answered;
        }
    }
    EXPECT_EQ(answered, kSlow);
}

// The server thread closes a connection only after it sees the peer's end,
// which may come after the client has already gone: wait for the count to
// come back rather than read it once.
int DescriptorsOnceBackTo(int expected) {
    int open = test::HttpTestServer::OpenDescriptors();
    for (int i = 0; i < 1000 && open != expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        open = test::HttpTestServer::OpenDescriptors();
    }
    return open;
}

TEST_F(OutsideTest, WrkLoadOnlySucceedsAndLeavesNoDescriptorsBehind) {
    const int idle = test::HttpTestServer::OpenDescriptors();
    // A single request first: nothing it opens may stay open for good.
    ASSERT_EQ(Curl({"-s", "-o", "/dev/null", server_.Url("/index.html")}).status, 0);
    ASSERT_EQ(DescriptorsOnceBackTo(idle), idle);

    const ToolResult load = RunTool({"wrk", "-t", "2", "-c", "64", "-d", "2s", server_.Url("/index.html")});
    ASSERT_EQ(load.status, 0) << load.output;
    EXPECT_THAT(load.output, HasSubstr("Requests/sec"));
    EXPECT_THAT(load.output, Not(HasSubstr("Socket errors"))) << load.output;
    EXPECT_THAT(load.output, Not(HasSubstr("Non-2xx or 3xx responses"))) << load.output;

    // The server closes its side once wrk's connections are gone.
    EXPECT_EQ(DescriptorsOnceBackTo(idle), idle);
}

}  // namespace
}  // namespace hx

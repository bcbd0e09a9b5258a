// Response preparation over a real document root (with and without a module
// that serves files) and the status line and headers in front of the body.
#include <sys/stat.h>

#include <filesystem>

#include "http/plugin.h"
#include "http/response.h"
#include "http/response_test_util.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// What the serving module saw of the last request it took.
struct Served {
    int calls = 0;
    std::string physical_path;
};
Served g_served;

// Takes every request that reaches it, as the static-file module does.
handler_t serve_subrequest_start(server*, connection* con, void*) {
    ++g_served.calls;
    g_served.physical_path = test::Text(con->physical.path);
    con->http_status = 200;
    con->file_finished = 1;
    return HANDLER_FINISHED;
}

class ResponsePrepare : public test::ResponseFixture {
protected:
    void SetUp() override {
        ResponseFixture::SetUp();
        g_served = {};
        WriteFile("file.html", "<p>file</p>");
        WriteFile("index.html", "<p>index</p>");
        WriteFile("dir/a.html", "a");
        fs::create_symlink(docroot_ / "file.html", docroot_ / "link.html");
        fs::create_symlink(docroot_ / "loop.html", docroot_ / "loop.html");
        ASSERT_EQ(::mkfifo((docroot_ / "fifo").c_str(), 0600), 0);
    }
    void TearDown() override {
        plugins_free(srv_);
        ResponseFixture::TearDown();
    }
    // A module of this test that serves every file that reaches it.
    void LoadServingModule() {
        plugin* p = plugin_init();
        buffer_copy_string(p->name, "mod_test_serve");
        p->version = kPluginVersion;
        p->handle_subrequest_start = serve_subrequest_start;
        ASSERT_EQ(plugins_register(srv_, p), 0);
        ASSERT_EQ(plugins_call_init(srv_), HANDLER_GO_ON);
        NewConnection();  // with a context slot for the module
    }
    std::string Doc(const std::string& name) const { return (docroot_ / name).string(); }
};

TEST_F(ResponsePrepare, MapsRequestsOntoTheDocumentRoot) {
    Configure();
    LoadServingModule();
    const struct {
        http_method_t method;
        const char* uri;
        int status;
        std::string physical;  // what the module served, or "" when it was not called
        const char* uri_path;
        const char* pathinfo;
        const char* query;
        const char* location;
    } cases[] = {
        {HTTP_METHOD_GET, "/file.html", 200, Doc("file.html"), "/file.html", "", "", ""},
        {HTTP_METHOD_GET, "/file.html/extra", 200, Doc("file.html"), "/file.html", "/extra", "", ""},
        {HTTP_METHOD_GET, "/file.html/a/b.html", 200, Doc("file.html"), "/file.html", "/a/b.html", "", ""},
        {HTTP_METHOD_GET, "/file.html/", 200, Doc("file.html"), "/file.html", "/", "", ""},
        {HTTP_METHOD_GET, "/dir/a.html/x?y=1", 200, Doc("dir/a.html"), "/dir/a.html", "/x", "y=1", ""},
        {HTTP_METHOD_HEAD, "/%66ile.html", 200, Doc("file.html"), "/file.html", "", "", ""},
        {HTTP_METHOD_GET, "/dir/../file.html#top", 200, Doc("file.html"), "/file.html", "", "", ""},
        {HTTP_METHOD_GET, "//dir///a.html?q=a#b?c", 200, Doc("dir/a.html"), "/dir/a.html", "", "q=a", ""},
        {HTTP_METHOD_GET, "/dir/", 200, Doc("dir/"), "/dir/", "", "", ""},
        {HTTP_METHOD_GET, "/link.html", 200, Doc("link.html"), "/link.html", "", "", ""},
        {HTTP_METHOD_GET, "/dir", 301, "", "/dir", "", "", "http://card.example/dir/"},
        {HTTP_METHOD_GET, "/dir?x=1", 301, "", "/dir", "", "x=1", "http://card.example/dir/?x=1"},
        {HTTP_METHOD_GET, "/missing.html", 404, "", "/missing.html", "", "", ""},
        {HTTP_METHOD_GET, "/missing/deeper.html", 404, "", "/missing/deeper.html", "", "", ""},
        {HTTP_METHOD_POST, "/GetNIT.w", 404, "", "/GetNIT.w", "", "", ""},
        {HTTP_METHOD_GET, "/fifo/x", 404, "", "/fifo/x", "", "", ""},  // a prefix, but no regular file
        {HTTP_METHOD_GET, "/loop.html", 500, "", "/loop.html", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        Request(c.method, c.uri, HTTP_VERSION_1_1, "Card.Example");
        g_served = {};
        EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
        EXPECT_EQ(con_->http_status, c.status);
        EXPECT_EQ(g_served.physical_path, c.physical);
        EXPECT_EQ(g_served.calls, c.physical.empty() ? 0 : 1);
        EXPECT_EQ(test::Text(con_->uri.path), c.uri_path);
        EXPECT_EQ(test::Text(con_->request.pathinfo), c.pathinfo);
        EXPECT_EQ(test::Text(con_->uri.query), c.query);
        EXPECT_EQ(test::Text(con_->uri.authority), "card.example");
        EXPECT_EQ(test::Text(con_->uri.scheme), "http");
        EXPECT_EQ(Header("Location"), *c.location == '\0' ? "<none>" : c.location);
        if (c.status >= 400) {
            EXPECT_EQ(test::Text(con_->physical.path), "") << "cleared on refusal";
        }
    }
    EXPECT_NE(Log().find("file not found ... or so:"), std::string::npos) << Log();
}

TEST_F(ResponsePrepare, WithoutAModuleTheCoreRefuses) {
    Configure();
    const struct {
        http_method_t method;
        const char* uri;
        int status;
    } cases[] = {
        {HTTP_METHOD_GET, "/file.html", 403},
        {HTTP_METHOD_OPTIONS, "/file.html", 200},
        {HTTP_METHOD_GET, "/missing.html", 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        Request(c.method, c.uri);
        EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
        EXPECT_EQ(con_->http_status, c.status);
    }

    Request(HTTP_METHOD_OPTIONS, "*");
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_EQ(con_->http_status, 200);
    EXPECT_EQ(con_->file_finished, 1);
    EXPECT_EQ(Header("Allow"), "OPTIONS, GET, HEAD, POST");
    EXPECT_EQ(test::Text(con_->uri.path), "*");
}

TEST_F(ResponsePrepare, SymbolicLinksRefusedWhenNotFollowed) {
    Configure("server.follow-symlink = \"disable\"\n");
    LoadServingModule();
    for (const char* uri : {"/link.html", "/link.html/extra"}) {
        SCOPED_TRACE(uri);
        Request(HTTP_METHOD_GET, uri);
        EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
        EXPECT_EQ(con_->http_status, 403);
        EXPECT_EQ(g_served.calls, 0);
        EXPECT_EQ(test::Text(con_->physical.path), "");
    }
    Request(HTTP_METHOD_GET, "/file.html");
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_EQ(con_->http_status, 200);
}

TEST_F(ResponsePrepare, UnreadableFileIsForbidden) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    WriteFile("closed.html", "secret");
    fs::permissions(docroot_ / "closed.html", fs::perms::none);
    Configure();
    LoadServingModule();
    Request(HTTP_METHOD_GET, "/closed.html");
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_EQ(con_->http_status, 403);
    EXPECT_EQ(g_served.calls, 0);
}

TEST_F(ResponsePrepare, RedirectWithoutHostUsesTheLocalAddress) {
    Configure();
    test::LoopbackPair pair;
    for (unsigned port : {80u, 8080u}) {
        SCOPED_TRACE(port);
        srv_->srvconf.port = static_cast<std::uint16_t>(port);
        Request(HTTP_METHOD_GET, "/dir", HTTP_VERSION_1_0);
        con_->fd = pair.server_side;
        EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
        EXPECT_EQ(con_->http_status, 301);
        const std::string port_text = port == 80 ? "" : ":8080";
        EXPECT_EQ(Header("Location"), "http://" + test::LoopbackName() + port_text + "/dir/");
    }
}

TEST_F(ResponsePrepare, StatusDecidedEarlierIsKept) {
    Configure();
    LoadServingModule();
    Request(HTTP_METHOD_POST, "/file.html");
    con_->http_status = 413;
    chunkqueue_append_mem(con_->write_queue, "partial", 8);
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_EQ(con_->http_status, 413);
    EXPECT_TRUE(chunkqueue_is_empty(con_->write_queue));
    EXPECT_EQ(g_served.calls, 0);

    // A body already complete stays.
    Request(HTTP_METHOD_GET, "/file.html");
    con_->http_status = 400;
    con_->file_finished = 1;
    chunkqueue_append_mem(con_->write_queue, "page", 5);
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_FALSE(chunkqueue_is_empty(con_->write_queue));
}

TEST_F(ResponsePrepare, WithoutHttp11TheRequestIsHttp10) {
    Configure("server.protocol-http11 = \"disable\"\n");
    LoadServingModule();
    Request(HTTP_METHOD_GET, "/file.html", HTTP_VERSION_1_1);
    EXPECT_EQ(http_response_prepare(srv_, con_), HANDLER_FINISHED);
    EXPECT_EQ(con_->request.http_version, HTTP_VERSION_1_0);
}

TEST_F(ResponsePrepare, DebugLinesName) {
    Configure("debug.log-request-handling = \"enable\"\ndebug.log-file-not-found = \"enable\"\n");
    LoadServingModule();
    Request(HTTP_METHOD_GET, "/file.html/extra?x");
    http_response_prepare(srv_, con_);
    Request(HTTP_METHOD_GET, "/fifo/x");
    http_response_prepare(srv_, con_);
    const std::string log = Log();
    for (const char* line : {"(response.", "-- splitting Request-URI", "Request-URI     :  /file.html/extra?x",
                             "URI-scheme      :  http", "URI-path (raw)  :  /file.html/extra",
                             "URI-path (clean):  /file.html/extra", "URI-query       :  x", "-- before doc_root",
                             "-- after doc_root", "-- logical -> physical", "Basedir      :",
                             "-- handling physical path", "-- after pathinfo check", "URI          : /file.html",
                             "Pathinfo     : /extra", "-- handling subrequest", "-- subrequest finished",
                             "file not found: /fifo/x ->"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

// The status line and headers.
class ResponseWriteHeader : public test::ResponseFixture {
protected:
    std::string Write(int status = 200) {
        con_->http_status = status;
        EXPECT_EQ(http_response_write_header(srv_, con_), 0);
        const std::string text = Written();
        EXPECT_EQ(con_->bytes_header, static_cast<http_off_t>(text.size()));
        return text;
    }
    void Insert(const std::string& key, const std::string& value) {
        response_header_insert(srv_, con_, key.data(), key.size(), value.data(), value.size());
    }
};

TEST_F(ResponseWriteHeader, ConnectionByVersionAndKeepAlive) {
    Configure("server.max-keep-alive-requests = 3\n");
    const struct {
        http_version_t version;
        int keep_alive;
        size_t request_count;
        const char* connection;  // null: no Connection header
        int keep_alive_after;
        int idle_after;
    } cases[] = {
        {HTTP_VERSION_1_1, 1, 1, nullptr, 1, 5},
        {HTTP_VERSION_1_1, 1, 3, nullptr, 1, 5},
        {HTTP_VERSION_1_1, 1, 4, "close", 0, 0},  // the request over the limit closes
        {HTTP_VERSION_1_1, 0, 1, "close", 0, 5},
        {HTTP_VERSION_1_0, 1, 1, "keep-alive", 1, 5},
        {HTTP_VERSION_1_0, 0, 1, "close", 0, 5},
        {HTTP_VERSION_1_0, 1, 4, "close", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version) + " keep-alive " + std::to_string(c.keep_alive) + " request " +
                     std::to_string(c.request_count));
        Request(HTTP_METHOD_GET, "/", c.version);
        con_->keep_alive = c.keep_alive;
        con_->request_count = c.request_count;
        con_->keep_alive_idle = 0;
        Insert("Content-Length", "2");
        const std::string version = c.version == HTTP_VERSION_1_1 ? "HTTP/1.1" : "HTTP/1.0";
        const std::string connection = c.connection ? std::string("\r\nConnection: ") + c.connection : "";
        EXPECT_EQ(Write(), version + " 200 OK\r\nContent-Length: 2" + connection +
                               "\r\nDate: Thu, 01 Jan 2026 00:00:00 GMT\r\nServer: webserver/1.4.35\r\n\r\n");
        EXPECT_EQ(con_->keep_alive, c.keep_alive_after);
        EXPECT_EQ(con_->keep_alive_idle, c.idle_after);
    }
}

TEST_F(ResponseWriteHeader, NoKeepAliveWithoutIdleTime) {
    Configure("server.max-keep-alive-idle = 0\n");
    Request(HTTP_METHOD_GET, "/");
    EXPECT_NE(Write().find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_EQ(con_->keep_alive, 0);
}

TEST_F(ResponseWriteHeader, OrderAndSkippedHeaders) {
    Configure("debug.log-response-header = \"enable\"\n");
    Request(HTTP_METHOD_GET, "/");
    Insert("Content-Type", "text/html");
    Insert("X-WEBSERVER-Internal", "1");
    Insert("x-sendfile", "/etc/passwd");
    Insert("X-Sendfile2", "/etc/passwd 0-1");
    Insert("Empty", "");
    Insert("Content-Encoding", "gzip");
    Insert("ETag", "\"1\"");
    con_->response.transfer_encoding = HTTP_TRANSFER_ENCODING_CHUNKED;
    EXPECT_EQ(Write(), "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: gzip\r\nETag: \"1\"\r\n"
                       "Transfer-Encoding: chunked\r\nDate: Thu, 01 Jan 2026 00:00:00 GMT\r\n"
                       "Server: webserver/1.4.35\r\n\r\n");
    EXPECT_NE(Log().find("Response-Header: \nHTTP/1.1 200 OK"), std::string::npos) << Log();

    // A 304 carries no Content-Encoding; given Date and Server stay alone.
    Request(HTTP_METHOD_GET, "/", HTTP_VERSION_1_0);
    con_->keep_alive = 0;
    Insert("Content-Encoding", "gzip");
    Insert("date", "Mon, 05 Jan 2026 10:00:00 GMT");
    Insert("Server", "other");
    EXPECT_EQ(Write(304), "HTTP/1.0 304 Not Modified\r\ndate: Mon, 05 Jan 2026 10:00:00 GMT\r\nServer: other\r\n"
                          "Connection: close\r\n\r\n");
}

TEST_F(ResponseWriteHeader, UnknownStatusHasNoPhrase) {
    Configure();
    Request(HTTP_METHOD_GET, "/");
    EXPECT_EQ(Write(299).rfind("HTTP/1.1 299 \r\nDate: ", 0), 0u);
}

TEST_F(ResponseWriteHeader, DateFollowsTheVirtualClockOncePerSecond) {
    Configure();
    const struct {
        std::uint64_t advance_micros;
        const char* date;
    } steps[] = {
        {0, "Thu, 01 Jan 2026 00:00:00 GMT"},
        {999'999, "Thu, 01 Jan 2026 00:00:00 GMT"},
        {1, "Thu, 01 Jan 2026 00:00:01 GMT"},
        {86'399'000'000, "Fri, 02 Jan 2026 00:00:00 GMT"},
        {58ull * 86'400'000'000, "Sun, 01 Mar 2026 00:00:00 GMT"},
    };
    for (const auto& step : steps) {
        env_.clock().Advance(step.advance_micros);
        Request(HTTP_METHOD_GET, "/");
        const std::string text = Write();
        EXPECT_NE(text.find(std::string("\r\nDate: ") + step.date + "\r\n"), std::string::npos) << text;
        EXPECT_EQ(srv_->last_generated_date_ts, TheClock().WallTime().tv_sec);
    }
}

TEST_F(ResponseWriteHeader, ServerTag) {
    const struct {
        const char* setting;
        const char* server_line;  // null: no Server header
    } cases[] = {
        {"", "\r\nServer: webserver/1.4.35\r\n"},
        {"server.tag = \"qam-card/2.0\"\n", "\r\nServer: qam-card/2.0\r\n"},
        {"server.tag = \"\"\n", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        TearDown();
        SetUp();
        Configure(c.setting);
        Request(HTTP_METHOD_GET, "/");
        const std::string text = Write();
        if (c.server_line != nullptr) {
            EXPECT_NE(text.find(c.server_line), std::string::npos) << text;
        } else {
            EXPECT_EQ(text.find("Server:"), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace hx

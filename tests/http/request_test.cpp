// The request parser on raw headers: one table of requests with the status,
// fields and keep-alive each gives; the Host check and value splitting on
// their own; what is logged, and when.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/connections.h"
#include "http/http_test_util.h"
#include "http/request.h"

namespace hx {
namespace {

using test::Text;

// A connection of the server's own kind, made by the connection table's
// routine; the fixture's server releases it with its table.
class ParserConnection {
public:
    explicit ParserConnection(server* srv) : srv_(srv), con_(connection_init(srv)) {
        con_->fd = 9;
        con_->request_count = 1;
        con_->conf.allow_http11 = 1;  // the default, without a configuration read
        connections* table = srv->conns;
        auto** slots = static_cast<connection**>(std::calloc(table->size + 1, sizeof(connection*)));
        std::copy(table->ptr, table->ptr + table->size, slots);
        slots[table->size] = con_;
        std::free(table->ptr);
        table->ptr = slots;
        table->size++;
    }
    ParserConnection(const ParserConnection&) = delete;
    ParserConnection& operator=(const ParserConnection&) = delete;

    connection* get() { return con_; }
    connection* operator->() { return con_; }
    // As between two requests on a kept-alive connection.
    void Reset() {
        connection_reset(srv_, con_);
        con_->conf.allow_http11 = 1;
        ++con_->request_count;
    }

    std::optional<std::string> Header(const char* key) const {
        const data_unset* element = array_get_element(con_->request.headers, key);
        if (element == nullptr) {
            return std::nullopt;
        }
        return test::StringValue(element);
    }
    std::vector<std::pair<std::string, std::string>> Headers() const {
        std::vector<std::pair<std::string, std::string>> all;
        for (size_t i = 0; i < con_->request.headers->used; ++i) {
            all.emplace_back(test::KeyOf(con_->request.headers->data[i]),
                             test::StringValue(con_->request.headers->data[i]));
        }
        return all;
    }

private:
    server* srv_;
    connection* con_;
};

class RequestParser : public testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        ASSERT_GE(srv_->errorlog_fd, 0);
    }
    void TearDown() override {
        EXPECT_EQ(TakeLog(), "") << "error log lines no test expected";
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        srv_->conns->used = 0;  // none holds a socket
        connections_free(srv_);
        server_free(srv_);
    }
    // The error log so far, emptied.
    std::string TakeLog() {
        std::string text = test::ErrorLogText(srv_);
        EXPECT_EQ(::ftruncate(srv_->errorlog_fd, 0), 0);
        ::lseek(srv_->errorlog_fd, 0, SEEK_SET);
        return text;
    }
    int Parse(ParserConnection& con, const std::string& raw) {
        buffer_copy_string_len(con->request.request, raw.data(), raw.size());
        return http_request_parse(srv_, con.get());
    }

    server* srv_ = nullptr;
};

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Case {
    const char* name;
    std::string raw;
    int status;          // http_status afterwards (0 accepted)
    int result = 0;      // 1 when a body is to be read
    int keep_alive = 0;  // on a connection that kept alive so far
    std::optional<size_t> content_length = std::nullopt;
    const char* uri = nullptr;
    const char* host = nullptr;  // http_host
    std::optional<Fields> headers = std::nullopt;
    // Text of the always-logged line, if the case writes one.
    const char* log = nullptr;
    int allow_http11 = 1;
};

std::string Get(const std::string& lines, const char* version = "HTTP/1.1") {
    return std::string("GET / ") + version + "\r\n" + lines + "\r\n";
}

std::string Post(const std::string& lines) {
    return "POST /Upgrade.w HTTP/1.1\r\nHost: card\r\n" + lines + "\r\n";
}

TEST_F(RequestParser, TableOfRawRequests) {
    using namespace std::string_literals;
    const std::string twenty_nines(20, '9');
    const Case cases[] = {
        // Request line and version.
        {.name = "minimal 1.1", .raw = Get("Host: a.b\r\n"), .status = 0, .keep_alive = 1, .uri = "/",
         .host = "a.b", .headers = Fields{{"Host", "a.b"}}},
        {.name = "1.1 without Host", .raw = Get(""), .status = 400},
        {.name = "1.1 with an empty Host drops it", .raw = Get("Host:\r\n"), .status = 400},
        {.name = "1.0 without Host", .raw = Get("", "HTTP/1.0"), .status = 0, .uri = "/"},
        {.name = "HTTP/1.2", .raw = Get("Host: a\r\n", "HTTP/1.2"), .status = 505},
        {.name = "HTTP/2.0", .raw = Get("Host: a\r\n", "HTTP/2.0"), .status = 505},
        {.name = "overlong minor", .raw = Get("Host: a\r\n", "HTTP/1.99999999999999999999"), .status = 505},
        {.name = "HTTP/1.", .raw = Get("Host: a\r\n", "HTTP/1."), .status = 400},
        {.name = "HTTP/.1", .raw = Get("Host: a\r\n", "HTTP/.1"), .status = 400},
        {.name = "HTTP/1", .raw = Get("Host: a\r\n", "HTTP/1"), .status = 400},
        {.name = "HTTP/x.1", .raw = Get("Host: a\r\n", "HTTP/x.1"), .status = 400},
        {.name = "HTTP/+1.1", .raw = Get("Host: a\r\n", "HTTP/+1.1"), .status = 400},
        {.name = "HTTPS/1.1", .raw = Get("Host: a\r\n", "HTTPS/1.1"), .status = 400},
        {.name = "lower-case method", .raw = "get / HTTP/1.1\r\nHost: a\r\n\r\n", .status = 501},
        {.name = "unknown method", .raw = "FETCH / HTTP/1.1\r\nHost: a\r\n\r\n", .status = 501},
        {.name = "NUL inside the method", .raw = "GET\0x / HTTP/1.1\r\nHost: a\r\n\r\n"s, .status = 501},
        {.name = "last method", .raw = "VERSION-CONTROL / HTTP/1.1\r\nHost: a\r\n\r\n", .status = 0,
         .keep_alive = 1},
        {.name = "third blank", .raw = "GET / HTTP/1.1 \r\nHost: a\r\n\r\n", .status = 400},
        {.name = "one blank", .raw = "GET /\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "no CR LF at all", .raw = "GET / HTTP/1.1", .status = 400},
        {.name = "empty URI", .raw = "GET  HTTP/1.1\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "tab in URI", .raw = "GET /a\tb HTTP/1.1\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "byte 127 in URI", .raw = "GET /a\x7f HTTP/1.1\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "byte 255 in URI", .raw = "GET /a\xff HTTP/1.1\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "byte 128 in URI", .raw = "GET /a\x80 HTTP/1.1\r\nHost: a\r\n\r\n", .status = 0, .keep_alive = 1,
         .uri = "/a\x80"},
        {.name = "lone CR in the request line", .raw = "GET /a\rb HTTP/1.1\r\nHost: a\r\n\r\n", .status = 400},
        {.name = "absolute URI", .raw = "GET http://h:8080/p HTTP/1.1\r\n\r\n", .status = 0, .keep_alive = 1,
         .uri = "/p", .host = "h:8080", .headers = Fields{{"Host", "h:8080"}}},
        {.name = "absolute URI beats Host", .raw = "GET https://h/p?q HTTP/1.1\r\nHost: other\r\n\r\n",
         .status = 0, .keep_alive = 1, .uri = "/p?q", .host = "h", .headers = Fields{{"Host", "h"}}},
        {.name = "absolute URI without path", .raw = "GET http://h HTTP/1.0\r\n\r\n", .status = 0,
         .uri = "http://h"},
        {.name = "absolute URI with a bad host", .raw = "GET http://a_b/ HTTP/1.1\r\n\r\n", .status = 400},
        {.name = "1.1 switched off", .raw = Get("Host: a\r\n"), .status = 0, .keep_alive = 0, .allow_http11 = 0},

        // Host checks.
        {.name = "host 1.2.3", .raw = Get("Host: 1.2.3\r\n"), .status = 400},
        {.name = "host 1.2.3.4", .raw = Get("Host: 1.2.3.4:80\r\n"), .status = 0, .keep_alive = 1,
         .host = "1.2.3.4:80"},
        {.name = "host 1.2.3.4.5", .raw = Get("Host: 1.2.3.4.5\r\n"), .status = 400},
        {.name = "host a.1", .raw = Get("Host: a.1\r\n"), .status = 400},
        {.name = "host digits only", .raw = Get("Host: 123\r\n"), .status = 0, .keep_alive = 1},
        {.name = "trailing dot", .raw = Get("Host: example.com.\r\n"), .status = 0, .keep_alive = 1,
         .host = "example.com", .headers = Fields{{"Host", "example.com"}}},
        {.name = "trailing dot and port", .raw = Get("Host: example.com.:80\r\n"), .status = 0, .keep_alive = 1,
         .host = "example.com:80"},
        {.name = "only a dot", .raw = Get("Host: .\r\n"), .status = 400},
        {.name = "IPv6 and port", .raw = Get("Host: [::1]:80\r\n"), .status = 0, .keep_alive = 1,
         .host = "[::1]:80"},
        {.name = "IPv6 unclosed", .raw = Get("Host: [::1\r\n"), .status = 400},
        {.name = "IPv6 eight colons", .raw = Get("Host: [1:2:3:4:5:6:7:8:9]\r\n"), .status = 400},
        {.name = "IPv6 junk after", .raw = Get("Host: [::1]x\r\n"), .status = 400},
        {.name = "IPv6 letter", .raw = Get("Host: [::g]\r\n"), .status = 400},
        {.name = "underscore", .raw = Get("Host: a_b.c\r\n"), .status = 400},
        {.name = "label starting with -", .raw = Get("Host: a.-b\r\n"), .status = 400},
        {.name = "host starting with -", .raw = Get("Host: -a.b\r\n"), .status = 400},
        {.name = "label ending with -", .raw = Get("Host: a-.b-\r\n"), .status = 0, .keep_alive = 1},
        {.name = "empty label", .raw = Get("Host: a..b\r\n"), .status = 400},
        {.name = "empty host before port", .raw = Get("Host: :80\r\n"), .status = 400},
        {.name = "port with a letter", .raw = Get("Host: a:8x\r\n"), .status = 400},
        {.name = "duplicate Host", .raw = Get("Host: a\r\nhost: a\r\n"), .status = 400},

        // Content-Length.
        {.name = "POST with a body", .raw = Post("Content-Length: 5\r\n"), .status = 0, .result = 1,
         .keep_alive = 1, .content_length = 5},
        {.name = "POST length 0", .raw = Post("Content-Length: 0\r\n"), .status = 0, .result = 0,
         .keep_alive = 1, .content_length = 0},
        {.name = "GET length 0", .raw = Get("Host: a\r\nContent-Length: 0\r\n"), .status = 0, .keep_alive = 1},
        {.name = "GET length 5", .raw = Get("Host: a\r\nContent-Length: 5\r\n"), .status = 400,
         .log = "GET/HEAD with content-length -> 400"},
        {.name = "HEAD length 2147483648", .raw = "HEAD / HTTP/1.0\r\nContent-Length: 2147483648\r\n\r\n",
         .status = 400, .log = "GET/HEAD with content-length -> 400"},
        {.name = "POST without length", .raw = Post(""), .status = 411,
         .log = "POST-request, but content-length missing -> 411"},
        {.name = "PUT without length", .raw = "PUT /x HTTP/1.1\r\nHost: a\r\n\r\n", .status = 0, .keep_alive = 1},
        {.name = "length 12a", .raw = Post("Content-Length: 12a\r\n"), .status = 400,
         .log = "content-length broken: 12a -> 400"},
        {.name = "length -1", .raw = Post("Content-Length: -1\r\n"), .status = 400,
         .log = "content-length broken: -1 -> 400"},
        {.name = "length +1", .raw = Post("Content-Length: +1\r\n"), .status = 400,
         .log = "content-length broken: +1 -> 400"},
        {.name = "two equal lengths", .raw = Post("Content-Length: 5\r\nContent-Length: 5\r\n"), .status = 400},
        {.name = "largest length", .raw = Post("Content-Length: 2147483647\r\n"), .status = 0, .result = 1,
         .keep_alive = 1, .content_length = 2147483647},
        {.name = "length 2147483648", .raw = Post("Content-Length: 2147483648\r\n"), .status = 413,
         .content_length = 0, .log = "request-size too long: 2147483648 -> 413"},
        {.name = "length 4294967296", .raw = Post("Content-Length: 4294967296\r\n"), .status = 413,
         .content_length = 0, .log = "request-size too long: 4294967296 -> 413"},
        {.name = "twenty nines", .raw = Post("Content-Length: " + twenty_nines + "\r\n"), .status = 413,
         .content_length = 0, .log = "request-size too long: 99999999999999999999 -> 413"},
        {.name = "folded length", .raw = Post("Content-Length: 1\r\n 2\r\nX: y\r\n"), .status = 0, .result = 1,
         .keep_alive = 1, .content_length = 12},
        {.name = "folded broken length", .raw = Post("Content-Length: 1\r\n\tx\r\n"), .status = 400,
         .log = "content-length broken: 1x -> 400"},
        {.name = "folded length too long", .raw = Post("Content-Length: 2147483\r\n 648\r\n"), .status = 413,
         .log = "request-size too long: 2147483648 -> 413"},

        // Transfer-Encoding is never read.
        {.name = "chunked POST", .raw = Post("Transfer-Encoding: chunked\r\n"), .status = 501},
        {.name = "chunked beside a length", .raw = Post("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n"),
         .status = 501, .result = 0},
        {.name = "identity on GET", .raw = Get("Host: a\r\ntransfer-encoding: identity\r\n"), .status = 501},
        {.name = "empty Transfer-Encoding", .raw = Get("Host: a\r\nTransfer-Encoding:\r\n"), .status = 501},
        {.name = "folded Transfer-Encoding", .raw = Get("Host: a\r\nTransfer-Encoding:\r\n chunked\r\n"),
         .status = 501},

        // Expect.
        {.name = "100-continue", .raw = Post("Expect: 100-continue\r\nContent-Length: 3\r\n"), .status = 417},
        {.name = "100-Continue", .raw = Get("Host: a\r\nExpect: 100-Continue\r\n"), .status = 417},
        {.name = "other expectation", .raw = Get("Host: a\r\nExpect: x\r\n"), .status = 0, .keep_alive = 1},

        // Connection.
        {.name = "close among tokens", .raw = Get("Host: a\r\nConnection: foo, Close\r\n"), .status = 0,
         .keep_alive = 0},
        {.name = "1.0 keep-alive", .raw = Get("Connection: Keep-Alive\r\n", "HTTP/1.0"), .status = 0,
         .keep_alive = 1},
        {.name = "1.0 by default", .raw = Get("", "HTTP/1.0"), .status = 0, .keep_alive = 0},
        {.name = "first deciding token wins", .raw = Get("Host: a\r\nConnection: ,keep-alive ,close\r\n"),
         .status = 0, .keep_alive = 1},

        // Header lines.
        {.name = "empty value not stored, continuation dropped",
         .raw = Get("Host: a\r\nX-Empty:\r\n more\r\nY: 1\r\n"), .status = 0, .keep_alive = 1,
         .headers = Fields{{"Host", "a"}, {"Y", "1"}}},
        {.name = "folding joins without separator", .raw = Get("Host: a\r\nX: one \r\n\t two\r\n  three\r\n"),
         .status = 0, .keep_alive = 1, .headers = Fields{{"Host", "a"}, {"X", "onetwothree"}}},
        {.name = "repeated key merged", .raw = Get("Host: a\r\nAccept: x\r\naccept: y\r\n"), .status = 0,
         .keep_alive = 1, .headers = Fields{{"Host", "a"}, {"Accept", "x, y"}}},
        {.name = "blanks before the colon", .raw = Get("Host \t: a\r\n"), .status = 0, .keep_alive = 1,
         .host = "a"},
        {.name = "blanks around the value", .raw = Get("Host:\t a \t\r\n"), .status = 0, .keep_alive = 1,
         .host = "a"},
        {.name = "continuation first", .raw = Get(" Host: a\r\n"), .status = 400},
        {.name = "blank inside key", .raw = Get("Ho st: a\r\n"), .status = 400},
        {.name = "separator in key", .raw = Get("Host: a\r\nX@Y: 1\r\n"), .status = 400},
        {.name = "high byte in key", .raw = Get("Host: a\r\nX\xc3\xa9: 1\r\n"), .status = 400},
        {.name = "empty key", .raw = Get("Host: a\r\n: 1\r\n"), .status = 400},
        {.name = "line without colon", .raw = Get("Host: a\r\nNoColon\r\n"), .status = 400},
        {.name = "CR without LF in key", .raw = Get("Host: a\r\n\rX: 1\r\n"), .status = 400},
        {.name = "CR without LF in value", .raw = Get("Host: a\r\nX: 1\r2\r\n"), .status = 400},
        {.name = "LF alone in value", .raw = Get("Host: a\r\nX: 1\n2\r\n"), .status = 400},
        {.name = "control byte in value", .raw = Get("Host: a\r\nX: 1\x01\r\n"), .status = 400},
        {.name = "high bytes in value", .raw = Get("Host: a\r\nX: caf\xc3\xa9\r\n"), .status = 0, .keep_alive = 1,
         .headers = Fields{{"Host", "a"}, {"X", "caf\xc3\xa9"}}},
        {.name = "duplicate Content-Type", .raw = Post("Content-Type: a\r\nContent-Type: a\r\nContent-Length: 1\r\n"),
         .status = 400},
        {.name = "duplicate Range", .raw = Get("Host: a\r\nRange: bytes=0-1\r\nRange: bytes=0-1\r\n"),
         .status = 400},
        {.name = "If-Modified-Since again, same", .raw = Get("Host: a\r\nIf-Modified-Since: A\r\nIf-Modified-Since: a\r\n"),
         .status = 0, .keep_alive = 1, .headers = Fields{{"Host", "a"}, {"If-Modified-Since", "A"}}},
        {.name = "If-Modified-Since again, other", .raw = Get("Host: a\r\nIf-Modified-Since: A\r\nIf-Modified-Since: B\r\n"),
         .status = 400},
        {.name = "If-None-Match again", .raw = Get("Host: a\r\nIf-None-Match: \"1\"\r\nIf-None-Match: \"2\"\r\n"),
         .status = 0, .keep_alive = 1, .headers = Fields{{"Host", "a"}, {"If-None-Match", "\"1\""}}},
        {.name = "header ends with the text", .raw = "GET / HTTP/1.0\r\nX: 1\r\n", .status = 0,
         .headers = Fields{{"X", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ParserConnection con(srv_);
        con->keep_alive = 1;  // as after a kept-alive request
        con->conf.allow_http11 = static_cast<std::uint16_t>(c.allow_http11);
        EXPECT_EQ(Parse(con, c.raw), c.result);
        EXPECT_EQ(con->http_status, c.status);
        EXPECT_EQ(con->keep_alive, c.keep_alive);
        if (c.content_length) {
            EXPECT_EQ(con->request.content_length, *c.content_length);
        }
        if (c.uri != nullptr) {
            EXPECT_EQ(Text(con->request.uri), c.uri);
            EXPECT_EQ(Text(con->request.orig_uri), c.uri);
        }
        if (c.host != nullptr) {
            ASSERT_NE(con->request.http_host, nullptr);
            EXPECT_EQ(Text(con->request.http_host), c.host);
            // The stored header's own value, not a copy.
            EXPECT_EQ(con->request.http_host,
                      static_cast<const data_string*>(array_get_element(con->request.headers, "Host"))->value);
        }
        if (c.headers) {
            EXPECT_EQ(con.Headers(), *c.headers);
        }
        const std::string log = TakeLog();
        if (c.log != nullptr) {
            EXPECT_NE(log.find(std::string("(request.") ), std::string::npos) << log;
            EXPECT_NE(log.find(c.log), std::string::npos) << log;
        } else {
            EXPECT_EQ(log, "");
        }
    }
}

TEST_F(RequestParser, FieldsOfAnAcceptedRequest) {
    ParserConnection con(srv_);
    const std::string raw =
        "POST /Set.w HTTP/1.1\r\n"
        "Host: card:8080\r\n"
        "Content-Type: application/\r\n json\r\n"
        "If-Modified-Since: Tue, 01 Dec 2026\r\n"
        "If-None-Match: \"abc\"\r\n"
        "Range: Bytes=10-\r\n"
        "Content-Length: 7\r\n"
        "\r\n";
    ASSERT_EQ(Parse(con, raw), 1);
    EXPECT_EQ(con->http_status, 0);
    EXPECT_EQ(con->request.http_method, HTTP_METHOD_POST);
    EXPECT_EQ(con->request.http_version, HTTP_VERSION_1_1);
    EXPECT_EQ(Text(con->request.request_line), "POST /Set.w HTTP/1.1");
    EXPECT_EQ(con->header_len, raw.size());
    EXPECT_EQ(con->request.content_length, 7u);
    // The pointers point into the stored, complete values.
    ASSERT_NE(con->request.http_content_type, nullptr);
    EXPECT_STREQ(con->request.http_content_type, "application/json");
    EXPECT_EQ(con->request.http_content_type,
              static_cast<const data_string*>(array_get_element(con->request.headers, "content-type"))->value->ptr);
    EXPECT_STREQ(con->request.http_if_modified_since, "Tue, 01 Dec 2026");
    EXPECT_STREQ(con->request.http_if_none_match, "\"abc\"");
    EXPECT_STREQ(con->request.http_range, "10-");
    EXPECT_EQ(con->request.http_range, static_cast<const data_string*>(
        array_get_element(con->request.headers, "range"))->value->ptr + 6);
}

TEST_F(RequestParser, NoHostValueWithoutAHost) {
    ParserConnection con(srv_);
    ASSERT_EQ(Parse(con, Get("X: 1\r\n", "HTTP/1.0")), 0);
    EXPECT_EQ(con->http_status, 0);
    EXPECT_EQ(con->request.http_host, nullptr);
}

TEST_F(RequestParser, RangeOnlyInTheBytesForm) {
    for (const char* value : {"items=1-2", "bytes=12", "bytes"}) {
        SCOPED_TRACE(value);
        ParserConnection con(srv_);
        ASSERT_EQ(Parse(con, Get(std::string("Host: a\r\nRange: ") + value + "\r\n")), 0);
        EXPECT_EQ(con->http_status, 0);
        EXPECT_EQ(con->request.http_range, nullptr);
        EXPECT_EQ(con.Header("Range"), value);
    }
}

TEST_F(RequestParser, LeftoverCrLfSkippedOnLaterRequestsOnly) {
    const std::string raw = "\r\nGET /x HTTP/1.1\r\nHost: a\r\n\r\n";
    ParserConnection later(srv_);
    later->request_count = 2;
    EXPECT_EQ(Parse(later, raw), 0);
    EXPECT_EQ(later->http_status, 0);
    EXPECT_EQ(Text(later->request.uri), "/x");
    EXPECT_EQ(later->header_len, raw.size());

    ParserConnection first(srv_);
    EXPECT_EQ(Parse(first, raw), 0);
    EXPECT_EQ(first->http_status, 400);
}

TEST_F(RequestParser, MaxRequestSizeInKibibytes) {
    srv_->srvconf.max_request_size = 2;
    const struct {
        const char* length;
        int status;
    } cases[] = {{"2047", 0}, {"3071", 0}, {"3072", 413}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        ParserConnection con(srv_);
        Parse(con, Post(std::string("Content-Length: ") + c.length + "\r\n"));
        EXPECT_EQ(con->http_status, c.status);
        const std::string log = TakeLog();
        EXPECT_EQ(log.find("request-size too long:") != std::string::npos, c.status == 413) << log;
    }
}

TEST_F(RequestParser, ExpectAcceptedWhenRejectionIsOff) {
    srv_->srvconf.reject_expect_100_with_417 = 0;
    ParserConnection con(srv_);
    EXPECT_EQ(Parse(con, Post("Expect: 100-continue\r\nContent-Length: 1\r\n")), 1);
    EXPECT_EQ(con->http_status, 0);
}

TEST_F(RequestParser, RefusalsLoggedWithTheHeaderOnlyWhenAsked) {
    const std::string raw = Get("Ho st: a\r\n");
    ParserConnection quiet(srv_);
    Parse(quiet, raw);
    EXPECT_EQ(quiet->http_status, 400);
    EXPECT_EQ(TakeLog(), "");

    srv_->srvconf.log_request_header_on_error = 1;
    ParserConnection loud(srv_);
    Parse(loud, raw);
    const std::string log = TakeLog();
    EXPECT_NE(log.find("(request."), std::string::npos) << log;
    EXPECT_NE(log.find("WS character in key -> 400"), std::string::npos) << log;
    EXPECT_NE(log.find("request-header:\nGET / HTTP/1.1\r\nHo st: a"), std::string::npos) << log;
}

TEST_F(RequestParser, RequestHeaderLoggedWhenAsked) {
    ParserConnection con(srv_);
    con->conf.log_request_header = 1;
    Parse(con, Get("Host: a\r\n"));
    const std::string log = TakeLog();
    EXPECT_NE(log.find("fd: 9 request-len: 27 \nGET / HTTP/1.1"), std::string::npos) << log;
}

TEST_F(RequestParser, NextRequestOnAKeptConnectionReusesTheHeaderElements) {
    ParserConnection con(srv_);
    ASSERT_EQ(Parse(con, Get("Host: a\r\nA: 1\r\nB: 2\r\n")), 0);
    const data_unset* first = con->request.headers->data[0];
    con.Reset();
    ASSERT_EQ(Parse(con, "\r\n" + Get("Host: b\r\nC: 3\r\n")), 0);
    EXPECT_EQ(con->http_status, 0);
    ASSERT_NE(con->request.http_host, nullptr);
    EXPECT_EQ(Text(con->request.http_host), "b");
    EXPECT_EQ(con.Headers(), (Fields{{"Host", "b"}, {"C", "3"}}));
    bool reused = false;
    for (size_t i = 0; i < con->request.headers->used; ++i) {
        reused = reused || con->request.headers->data[i] == first;
    }
    EXPECT_TRUE(reused);
}

TEST(RequestHelpers, CheckHostnameDropsOneTrailingDotInPlace) {
    const struct {
        const char* host;
        int result;
        const char* after;
    } cases[] = {
        {"", 0, ""},
        {"a.b.", 0, "a.b"},
        {"a.b.:8080", 0, "a.b:8080"},
        {"a.b..", -1, "a.b."},
        {"1.2.3.4.", 0, "1.2.3.4"},
        {"[::ffff:1.2.3.4]", 0, "[::ffff:1.2.3.4]"},
        {"[]:", 0, "[]:"},
        {"a:", 0, "a:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        test::BufferPtr host = c.host[0] == '\0' ? test::NewBuffer() : test::NewBuffer(c.host);
        EXPECT_EQ(request_check_hostname(nullptr, nullptr, host.get()), c.result);
        EXPECT_EQ(Text(host.get()), c.after);
        if (host->used > 0) {
            EXPECT_EQ(host->ptr[host->used - 1], '\0');
        }
    }
    EXPECT_EQ(request_check_hostname(nullptr, nullptr, nullptr), 0);
}

TEST(RequestHelpers, SplitValueTokens) {
    const struct {
        const char* value;
        std::vector<std::string> tokens;
    } cases[] = {
        {"a", {"a"}},
        {" a ,\tb\t, ,c d ,", {"a", "b", "c d"}},
        {",,, ", {}},
        {"", {}},
    };
    test::ArrayPtr tokens(array_init());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        array_reset(tokens.get());
        test::BufferPtr value = test::NewBuffer(c.value);
        EXPECT_EQ(http_request_split_value(tokens.get(), value.get()), 0);
        std::vector<std::string> got;
        for (size_t i = 0; i < tokens->used; ++i) {
            got.push_back(test::StringValue(tokens->data[i]));
        }
        EXPECT_EQ(got, c.tokens);
    }
}

TEST(RequestHelpers, UriCharacters) {
    for (int c = 0; c < 256; ++c) {
        const int expected = (c <= 32 || c == 127 || c == 255) ? 0 : 1;
        EXPECT_EQ(request_uri_is_valid_char(static_cast<unsigned char>(c)), expected) << c;
    }
}

TEST(RequestHelpers, HeaderFinished) {
    const struct {
        const char* text;
        int finished;
    } cases[] = {
        {"\r\n\r\n", 0},
        {"\n\r\n\r\n", 1},
        {"x\r\n\r\n", 1},
        {"GET / HTTP/1.0\r\n\r\nbody", 1},
        {"GET / HTTP/1.0\r\n\r", 0},
        {"GET / HTTP/1.0\n\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        connection con{};
        test::BufferPtr request = test::NewBuffer(c.text);
        con.request.request = request.get();
        EXPECT_EQ(http_request_header_finished(nullptr, &con), c.finished);
    }
}

}  // namespace
}  // namespace hx

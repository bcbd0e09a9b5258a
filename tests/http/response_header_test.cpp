// The response-header helpers, the redirect to a folder's slash, the
// conditional-request check, the file-time slots and the address text.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <set>

#include "http/response.h"
#include "http/response_test_util.h"

namespace hx {
namespace {

constexpr std::time_t kNewYear2026 = 1'767'225'600;  // a Thursday

class ResponseHeaders : public test::ResponseFixture {
protected:
    void SetUp() override {
        ResponseFixture::SetUp();
        Configure();
    }
    void Insert(const std::string& key, const std::string& value) {
        response_header_insert(srv_, con_, key.data(), key.size(), value.data(), value.size());
    }
};

TEST_F(ResponseHeaders, InsertOverwriteAppend) {
    Insert("Set-Cookie", "a=1");
    Insert("set-cookie", "b=2");  // a second line of the same name
    EXPECT_EQ(Header("Set-Cookie"), "a=1\r\nSet-Cookie: b=2");

    const char key[] = "Content-Typeless";  // lengths, not NULs, bound the texts
    response_header_overwrite(srv_, con_, key, 12, "text/plain; x", 10);
    EXPECT_EQ(Header("Content-Type"), "text/plain");
    response_header_overwrite(srv_, con_, "content-type", 12, "text/html", 9);
    EXPECT_EQ(Header("Content-Type"), "text/html");

    response_header_append(srv_, con_, "Vary", 4, "Accept", 6);
    response_header_append(srv_, con_, "Vary", 4, "Cookie", 6);
    EXPECT_EQ(Header("Vary"), "Accept, Cookie");
    EXPECT_EQ(con_->response.headers->used, 3u);
}

TEST_F(ResponseHeaders, FileTimeSlots) {
    EXPECT_EQ(test::Text(strftime_cache_get(srv_, kNewYear2026)), "Thu, 01 Jan 2026 00:00:00 GMT");
    EXPECT_EQ(test::Text(strftime_cache_get(srv_, 1'000'000'000)), "Sun, 09 Sep 2001 01:46:40 GMT");
    // Free slots are no time: neither 0 nor -1 (the mark of a fresh server)
    // picks up an empty text.
    EXPECT_EQ(test::Text(strftime_cache_get(srv_, 0)), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(test::Text(strftime_cache_get(srv_, -1)), "Wed, 31 Dec 1969 23:59:59 GMT");

}

TEST_F(ResponseHeaders, SixteenFileTimeSlots) {
    // A time found again gets its slot back; the 17th time takes slot 0.
    std::set<const buffer*> slots;
    for (std::time_t t = 0; t < 16; ++t) {
        slots.insert(strftime_cache_get(srv_, kNewYear2026 + t * 86400));
    }
    EXPECT_EQ(slots.size(), 16u);
    const buffer* sixth = strftime_cache_get(srv_, kNewYear2026 + 5 * 86400);
    EXPECT_EQ(sixth, srv_->mtime_cache[5].str);
    EXPECT_EQ(test::Text(sixth), "Tue, 06 Jan 2026 00:00:00 GMT");
    buffer* overflow = strftime_cache_get(srv_, kNewYear2026 + 40 * 86400);
    EXPECT_EQ(overflow, srv_->mtime_cache[0].str);
    EXPECT_EQ(test::Text(overflow), "Tue, 10 Feb 2026 00:00:00 GMT");
    EXPECT_EQ(strftime_cache_get(srv_, kNewYear2026 + 5 * 86400), sixth);
    EXPECT_EQ(test::Text(strftime_cache_get(srv_, kNewYear2026)), "Thu, 01 Jan 2026 00:00:00 GMT");
}

TEST_F(ResponseHeaders, ConditionalRequests) {
    const char* kFileTime = "Thu, 01 Jan 2026 00:00:00 GMT";
    const struct {
        const char* name;
        http_method_t method;
        const char* none_match;
        const char* modified_since;
        handler_t result;
        int status;
    } cases[] = {
        {"etag equal, GET", HTTP_METHOD_GET, "\"100387\"", nullptr, HANDLER_FINISHED, 304},
        {"etag equal, HEAD", HTTP_METHOD_HEAD, "\"100387\"", nullptr, HANDLER_FINISHED, 304},
        {"etag equal, POST", HTTP_METHOD_POST, "\"100387\"", nullptr, HANDLER_FINISHED, 412},
        {"etag differs", HTTP_METHOD_GET, "\"100388\"", nullptr, HANDLER_GO_ON, 0},
        {"etag differs, date would match", HTTP_METHOD_GET, "\"1\"", kFileTime, HANDLER_GO_ON, 0},
        {"date equal", HTTP_METHOD_GET, nullptr, kFileTime, HANDLER_FINISHED, 304},
        {"date equal, HEAD", HTTP_METHOD_HEAD, nullptr, kFileTime, HANDLER_FINISHED, 304},
        {"date equal with length", HTTP_METHOD_GET, nullptr, "Thu, 01 Jan 2026 00:00:00 GMT; length=5",
         HANDLER_FINISHED, 304},
        {"date equal, POST", HTTP_METHOD_POST, nullptr, kFileTime, HANDLER_GO_ON, 0},
        {"beginning of the file time", HTTP_METHOD_GET, nullptr, "Thu, 01 Jan 2026", HANDLER_GO_ON, 0},
        {"empty date", HTTP_METHOD_GET, nullptr, "", HANDLER_GO_ON, 0},
        {"later date", HTTP_METHOD_GET, nullptr, "Fri, 02 Jan 2026 00:00:00 GMT", HANDLER_FINISHED, 304},
        {"later date, other case", HTTP_METHOD_GET, nullptr, "fri, 02 JAN 2026 00:00:00 GMT", HANDLER_FINISHED,
         304},
        {"a second earlier", HTTP_METHOD_GET, nullptr, "Wed, 31 Dec 2025 23:59:59 GMT", HANDLER_GO_ON, 0},
        {"30 characters", HTTP_METHOD_GET, nullptr, "Fri, 02 Jan 2026 00:00:00 GMTx", HANDLER_GO_ON, 0},
        {"30 characters before ;", HTTP_METHOD_GET, nullptr, "Fri, 02 Jan 2026 00:00:00  GMT;", HANDLER_GO_ON, 0},
        {"not a date", HTTP_METHOD_GET, nullptr, "yesterday", HANDLER_GO_ON, 0},
        {"no GMT", HTTP_METHOD_GET, nullptr, "Fri, 02 Jan 2026 00:00:00", HANDLER_GO_ON, 0},
        {"nothing", HTTP_METHOD_GET, nullptr, nullptr, HANDLER_GO_ON, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Request(c.method, "/page.html");
        buffer_copy_string(con_->physical.etag, "\"100387\"");
        con_->request.http_if_none_match = c.none_match;
        con_->request.http_if_modified_since = c.modified_since;
        con_->mode = EXTERNAL;
        EXPECT_EQ(http_response_handle_cachable(srv_, con_, strftime_cache_get(srv_, kNewYear2026)), c.result);
        EXPECT_EQ(con_->http_status, c.status);
        EXPECT_EQ(con_->mode, c.status == 412 ? DIRECT : EXTERNAL);
    }
    // A file without an ETag matches no If-None-Match.
    Request(HTTP_METHOD_GET, "/page.html");
    con_->request.http_if_none_match = "";
    EXPECT_EQ(http_response_handle_cachable(srv_, con_, strftime_cache_get(srv_, kNewYear2026)), HANDLER_GO_ON);
}

TEST_F(ResponseHeaders, RedirectToDirectory) {
    test::LoopbackPair pair;
    const std::string local = test::LoopbackName();
    const struct {
        const char* scheme;
        const char* authority;
        const char* query;
        unsigned port;
        std::string location;
    } cases[] = {
        {"http", "card.example:8080", "", 80, "http://card.example:8080/dir/"},
        {"http", "card.example", "a=1&b", 80, "http://card.example/dir/?a=1&b"},
        {"http", "", "", 80, "http://" + local + "/dir/"},
        {"http", "", "x", 8080, "http://" + local + ":8080/dir/?x"},
        {"https", "", "", 443, "https://" + local + "/dir/"},
        {"https", "", "", 80, "https://" + local + ":80/dir/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        Request(HTTP_METHOD_GET, "/dir");
        buffer_copy_string(con_->uri.scheme, c.scheme);
        buffer_copy_string(con_->uri.authority, c.authority);
        buffer_copy_string(con_->uri.path, "/dir");
        buffer_copy_string(con_->uri.query, c.query);
        con_->fd = pair.server_side;
        srv_->srvconf.port = static_cast<std::uint16_t>(c.port);
        EXPECT_EQ(http_response_redirect_to_directory(srv_, con_), 0);
        EXPECT_EQ(con_->http_status, 301);
        EXPECT_EQ(con_->file_finished, 1);
        EXPECT_EQ(Header("Location"), c.location);
    }
}

TEST_F(ResponseHeaders, RedirectWithoutUsableLocalAddress) {
    Request(HTTP_METHOD_GET, "/dir");
    buffer_copy_string(con_->uri.scheme, "http");
    buffer_copy_string(con_->uri.path, "/dir");
    con_->fd = -1;
    EXPECT_EQ(http_response_redirect_to_directory(srv_, con_), 0);
    EXPECT_EQ(con_->http_status, 500);
    EXPECT_NE(Log().find("(http-header-glue."), std::string::npos) << Log();
    EXPECT_NE(Log().find("can't get sockname"), std::string::npos) << Log();
    EXPECT_EQ(Header("Location"), "<none>");

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    Request(HTTP_METHOD_GET, "/dir");
    buffer_copy_string(con_->uri.scheme, "http");
    buffer_copy_string(con_->uri.path, "/dir");
    con_->fd = pair[0];
    EXPECT_EQ(http_response_redirect_to_directory(srv_, con_), -1);
    EXPECT_NE(Log().find("ERROR: unsupported address-type"), std::string::npos) << Log();
    EXPECT_EQ(Header("Location"), "<none>");
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(ResponseHeaders, AddressText) {
    sock_addr address{};
    address.ipv4.sin_family = AF_INET;
    inet_pton(AF_INET, "192.168.1.20", &address.ipv4.sin_addr);
    EXPECT_STREQ(inet_ntop_cache_get_ip(srv_, &address), "192.168.1.20");
    sock_addr local{};
    local.un.sun_family = AF_UNIX;
    EXPECT_STREQ(inet_ntop_cache_get_ip(srv_, &local), "");
}

}  // namespace
}  // namespace hx

// The connection state machine on loopback, with the server thread's loop
// turn run by the test in virtual time: header cutting and its limit, bodies
// in memory and in upload files, the response start with the web hook and
// the built-in error page, keep-alive, pipelining, and the ways a connection
// ends.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "http/connection_internal.h"
#include "http/connection_test_server.h"

namespace hx {
namespace {

using conntest::ConnectionTestServer;
using conntest::HttpResponse;
using conntest::WebCalls;

std::string Post(const std::string& path, const std::string& body, const std::string& extra = "") {
    return "POST " + path + " HTTP/1.1\r\nHost: card\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           extra + "\r\n" + body;
}

std::string Get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: card\r\n" + extra + "\r\n";
}

// The log with every "(tag.<line>)" as "(tag.N)".
std::string LogWithoutLineNumbers(std::string text) {
    for (size_t at = text.find(".", text.find("(")); at != std::string::npos;) {
        size_t end = at + 1;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        if (end > at + 1 && end < text.size() && text[end] == ')') {
            text.replace(at + 1, end - at - 1, "N");
        }
        const size_t open = text.find("(", at + 1);
        at = open == std::string::npos ? open : text.find(".", open);
    }
    return text;
}

// The recording hook's success reply as cJSON prints it.
constexpr char kSuccessReply[] = "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}";

TEST(ConnectionStates, NamesOfEveryState) {
    const struct {
        int state;
        const char* name;
        const char* letter;
    } cases[] = {
        {0, "connect", "."},     {1, "req-start", "q"}, {2, "read", "r"},   {3, "req-end", "Q"},
        {4, "readpost", "R"},    {5, "handle-req", "h"}, {6, "resp-start", "s"}, {7, "write", "W"},
        {8, "resp-end", "S"},    {9, "error", "E"},     {10, "close", "C"}, {11, "(unknown)", "x"},
        {-1, "(unknown)", "x"},
    };
    for (const auto& c : cases) {
        const auto state = static_cast<connection_state_t>(c.state);
        EXPECT_STREQ(connection_get_state(state), c.name) << c.state;
        EXPECT_STREQ(connection_get_short_state(state), c.letter) << c.state;
    }
}

class Connections : public testing::Test {
protected:
    ConnectionTestServer server_;
    server* srv() { return server_.srv(); }
};

TEST_F(Connections, TableGrowsBy128AndKeepsIndicesWhenASlotIsGivenBack) {
    std::vector<connection*> taken;
    for (int i = 0; i < 129; ++i) {
        taken.push_back(connections_get_new_connection(srv()));
        EXPECT_EQ(taken.back()->ndx, i);
    }
    EXPECT_EQ(srv()->conns->size, 256u);
    EXPECT_EQ(srv()->conns->used, 129u);

    ASSERT_EQ(connection_del(srv(), taken[3]), 0);
    EXPECT_EQ(taken[3]->ndx, -1);
    EXPECT_EQ(taken[128]->ndx, 3);  // the last one took the freed slot
    EXPECT_EQ(srv()->conns->ptr[3], taken[128]);
    EXPECT_EQ(connection_del(srv(), taken[3]), -1);
    EXPECT_EQ(connection_del(srv(), nullptr), -1);
    while (srv()->conns->used != 0) {
        connection_del(srv(), srv()->conns->ptr[0]);
    }
}

TEST_F(Connections, JoblistTakesAConnectionOncePerTurnAndTheWaitQueueKeepsOrder) {
    connection* a = connections_get_new_connection(srv());
    connection* b = connections_get_new_connection(srv());
    joblist_append(srv(), a);
    joblist_append(srv(), a);
    joblist_append(srv(), b);
    EXPECT_EQ(srv()->joblist->used, 2u);
    EXPECT_EQ(a->in_joblist, 1);
    for (int i = 0; i < 20; ++i) {
        fdwaitqueue_append(srv(), i % 2 == 0 ? a : b);
    }
    EXPECT_EQ(srv()->fdwaitqueue->used, 20u);
    EXPECT_EQ(fdwaitqueue_unshift(srv(), srv()->fdwaitqueue), a);
    EXPECT_EQ(fdwaitqueue_unshift(srv(), srv()->fdwaitqueue), b);
    EXPECT_EQ(srv()->fdwaitqueue->used, 18u);
    srv()->joblist->used = 0;
    srv()->fdwaitqueue->used = 0;
    connection_del(srv(), b);
    connection_del(srv(), a);
}

TEST_F(Connections, AcceptedSocketIsCloseOnExecAndNonBlocking) {
    auto client = server_.Connect();
    const connection* con = srv()->conns->ptr[0];
    EXPECT_NE(::fcntl(con->fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(con->fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(con->state, CON_STATE_READ);
    EXPECT_EQ(srv()->cur_fds, 1);
    EXPECT_EQ(srv()->con_opened, 1);
}

TEST_F(Connections, SocketTheEventLoopCannotTakeIsClosedAtOnce) {
    server_.ExpectLog("is outside the event table of 1");
    fdevents* real = srv()->ev;
    // An event table with a single slot refuses every accepted descriptor.
    srv()->ev = fdevent_init(srv(), 1, FDEVENT_HANDLER_POLL);
    conntest::ClientSocket client(server_.port());
    connection* con = nullptr;
    for (int i = 0; i < 100 && con == nullptr && srv()->con_opened == 0; ++i) {
        con = connection_accept(srv(), server_.listener());
    }
    EXPECT_EQ(con, nullptr);
    EXPECT_EQ(srv()->con_opened, 1);
    EXPECT_EQ(srv()->conns->used, 0u);
    EXPECT_EQ(srv()->cur_fds, 0);
    fdevent_free(srv()->ev);
    srv()->ev = real;
    client.Receive();
    for (int i = 0; i < 100 && !client.closed; ++i) {
        client.Receive();
    }
    EXPECT_TRUE(client.closed);
}

TEST_F(Connections, HeaderSplitAcrossReadsIsCutRightAfterItsEnd) {
    auto client = server_.Connect();
    const std::string first = Post("/SetA.w", "abc");
    const std::string second = Post("/SetB.w", "xyz");
    const std::string all = first + second;
    // Every read ends inside the header terminator, the last one carries the
    // body and the start of the next request.
    const size_t terminator = first.find("\r\n\r\n");
    size_t at = 0;
    for (size_t cut : {terminator - 5, terminator + 1, terminator + 2, terminator + 3, first.size() + 4}) {
        server_.Send(*client, all.substr(at, cut - at));
        at = cut;
    }
    server_.Send(*client, all.substr(at));
    const auto responses = server_.Responses(*client, 2);
    ASSERT_EQ(responses.size(), 2u);
    ASSERT_EQ(WebCalls().size(), 2u);
    EXPECT_EQ(WebCalls()[0].name, "/SetA.w");
    EXPECT_EQ(WebCalls()[0].body, "abc");
    EXPECT_EQ(WebCalls()[1].name, "/SetB.w");
    EXPECT_EQ(WebCalls()[1].body, "xyz");
    EXPECT_EQ(responses[1].body, kSuccessReply);
}

TEST_F(Connections, HeaderWithoutItsEndIsRefusedOnlyPast64KiB) {
    server_.ExpectLog("(connections.");
    for (const size_t size : {65536u, 65537u}) {
        SCOPED_TRACE(size);
        auto client = server_.Connect();
        std::string header = "GET /" + std::string(size - 5, 'a');
        server_.Send(*client, header);
        const auto responses = server_.Responses(*client, 1);
        if (size == 65536) {
            EXPECT_TRUE(responses.empty());
            EXPECT_EQ(srv()->conns->ptr[srv()->conns->used - 1]->state, CON_STATE_READ);
            EXPECT_EQ(server_.Log().find("414"), std::string::npos);
        } else {
            ASSERT_EQ(responses.size(), 1u);
            EXPECT_EQ(responses[0].status, 414);
            EXPECT_EQ(responses[0].Header("Connection"), "close");
            EXPECT_TRUE(server_.SeesClose(*client));
            EXPECT_NE(server_.Log().find("(connections.") , std::string::npos);
            EXPECT_NE(server_.Log().find(") oversized request-header -> sending Status 414 \n"), std::string::npos);
        }
    }
}

TEST_F(Connections, WholeHeaderAbove64KiBInOneReadIsRefusedToo) {
    server_.ExpectLog("oversized request-header -> sending Status 414");
    auto client = server_.Connect();
    server_.Send(*client, Get("/page", "X-Long: " + std::string(70000, 'a') + "\r\n"));
    const auto responses = server_.Responses(*client, 1);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, 414);
    EXPECT_TRUE(server_.SeesClose(*client));
}

TEST_F(Connections, UnknownNameGetsTheBuiltInPageByteForByte) {
    auto client = server_.Connect();
    server_.Send(*client, Post("/NoSuchRequest", "{}"));
    const auto responses = server_.Responses(*client, 1);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, 404);
    EXPECT_EQ(responses[0].Header("Content-Type"), "text/html");
    EXPECT_EQ(responses[0].body,
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n"
              "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\n"
              "         \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
              "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n"
              " <head>\n"
              "  <title>404 Not Found</title>\n"
              " </head>\n"
              " <body>\n"
              "  <h1>404 Not Found</h1>\n"
              " </body>\n"
              "</html>\n");
    EXPECT_EQ(responses[0].Header("Content-Length"), std::to_string(responses[0].body.size()));
    EXPECT_EQ(WebCalls().size(), 1u);  // asked, and it did not know the name
}

TEST_F(Connections, KnownNamesGetTheJsonReplyWithoutAnyFile) {
    auto client = server_.Connect();
    server_.Send(*client, Post("/GetNIT.w", "{}") + Post("/GetModules", "{}") + Post("/EmptyOne.w", ""));
    const auto responses = server_.Responses(*client, 3);
    ASSERT_EQ(responses.size(), 3u);
    for (const HttpResponse& response : responses) {
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body, kSuccessReply);
        bool has_type = true;
        response.Header("Content-Type", &has_type);
        EXPECT_FALSE(has_type);
    }
    ASSERT_EQ(WebCalls().size(), 3u);
    EXPECT_EQ(WebCalls()[2].body, "");  // Content-Length 0: handed over with an empty body
}

TEST_F(Connections, HeadCarriesTheLengthOfTheBodyItLeavesOut) {
    auto client = server_.Connect();
    server_.Send(*client, "HEAD /missing.html HTTP/1.1\r\nHost: card\r\n\r\n" + Get("/missing.html"));
    const auto responses = server_.Responses(*client, 2, {true, false});
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[0].status, responses[1].status);
    EXPECT_EQ(responses[0].body, "");
    EXPECT_FALSE(responses[1].body.empty());
    EXPECT_EQ(responses[0].Header("Content-Length"), std::to_string(responses[1].body.size()));
    // The GET's status line came right after the HEAD's headers.
    EXPECT_TRUE(client->received.empty());
}

TEST_F(Connections, PipelinedRequestsAreAnsweredInOrder) {
    auto client = server_.Connect();
    server_.Send(*client, Post("/One.w", "1") + Get("/nothing") + Post("/Two", "2") + Post("/Three.w", "3"));
    const auto responses = server_.Responses(*client, 4);
    ASSERT_EQ(responses.size(), 4u);
    EXPECT_EQ(responses[0].status, 200);
    EXPECT_EQ(responses[1].status, 404);
    EXPECT_EQ(responses[2].status, 404);
    EXPECT_EQ(responses[3].status, 200);
    ASSERT_EQ(WebCalls().size(), 3u);
    EXPECT_EQ(WebCalls()[0].body, "1");
    EXPECT_EQ(WebCalls()[1].body, "2");
    EXPECT_EQ(WebCalls()[2].body, "3");
}

TEST_F(Connections, SeventeenthRequestClosesTheConnection) {
    auto client = server_.Connect();
    for (int i = 1; i <= 17; ++i) {
        server_.Send(*client, Post("/Beat.w", "{}"));
        const auto responses = server_.Responses(*client, 1);
        ASSERT_EQ(responses.size(), 1u) << i;
        bool has_connection = false;
        const std::string connection = responses[0].Header("Connection", &has_connection);
        if (i < 17) {
            EXPECT_FALSE(has_connection) << i;
        } else {
            EXPECT_EQ(connection, "close");
        }
    }
    EXPECT_TRUE(server_.SeesClose(*client));
    EXPECT_EQ(srv()->con_written, 17);
}

TEST_F(Connections, PeerThatHalfClosesWhileTheHeaderIsReadGetsNoResponse) {
    auto client = server_.Connect();
    server_.Send(*client, "POST /Set.w HTTP/1.1\r\nHost: ca");
    ::shutdown(client->fd(), SHUT_WR);
    EXPECT_TRUE(server_.SeesClose(*client));
    EXPECT_TRUE(WebCalls().empty());
    EXPECT_EQ(srv()->con_closed, 1);
}

TEST_F(Connections, LingeringCloseEndsAfterSixSecondsOrWhenThePeerCloses) {
    for (const bool peer_closes : {false, true}) {
        SCOPED_TRACE(peer_closes);
        auto client = server_.Connect();
        server_.Send(*client, Post("/Beat.w", "{}", "Connection: close\r\n"));
        ASSERT_EQ(server_.Responses(*client, 1).size(), 1u);
        ASSERT_EQ(srv()->conns->used, 1u);
        EXPECT_EQ(srv()->conns->ptr[0]->state, CON_STATE_CLOSE);
        if (peer_closes) {
            ::shutdown(client->fd(), SHUT_WR);
            server_.Turn();
            EXPECT_EQ(srv()->conns->used, 0u);
            continue;
        }
        server_.Advance(5);
        EXPECT_EQ(srv()->conns->used, 1u);
        server_.Advance(1);
        EXPECT_EQ(srv()->conns->used, 0u);
        EXPECT_EQ(srv()->cur_fds, 0);
    }
}

TEST_F(Connections, IdleLimitsOfTheFirstAndOfLaterRequests) {
    auto first = server_.Connect();
    server_.Advance(60);
    EXPECT_EQ(srv()->conns->ptr[0]->state, CON_STATE_READ);
    server_.Advance(1);
    EXPECT_TRUE(server_.SeesClose(*first));
    first.reset();  // its lingering ends at once
    server_.Turn();
    EXPECT_EQ(srv()->conns->used, 0u);

    auto kept = server_.Connect();
    server_.Send(*kept, Post("/Beat.w", "{}"));
    ASSERT_EQ(server_.Responses(*kept, 1).size(), 1u);
    server_.Advance(5);
    EXPECT_FALSE(kept->closed);
    server_.Advance(1);
    EXPECT_TRUE(server_.SeesClose(*kept));
}

// Closing a connection moves the table's last one into its slot; the
// once-a-second pass must still look at that one in the same second.
TEST_F(Connections, TimeOutOfTheConnectionMovedIntoAClosedSlotIsNotLate) {
    auto lingering = server_.Connect();  // slot 0
    auto idle = server_.Connect();       // slot 1
    server_.Send(*idle, Post("/Beat.w", "{}"));
    ASSERT_EQ(server_.Responses(*idle, 1).size(), 1u);
    server_.Send(*lingering, Post("/Beat.w", "{}", "Connection: close\r\n"));
    ASSERT_EQ(server_.Responses(*lingering, 1).size(), 1u);
    ASSERT_EQ(srv()->conns->used, 2u);
    ASSERT_EQ(srv()->conns->ptr[0]->state, CON_STATE_CLOSE);
    ASSERT_EQ(srv()->conns->ptr[1]->state, CON_STATE_READ);

    server_.Advance(5);
    EXPECT_EQ(srv()->conns->used, 2u);
    server_.Advance(1);  // the linger and the keep-alive idle limit both end now
    ASSERT_EQ(srv()->conns->used, 1u);
    EXPECT_EQ(srv()->conns->ptr[0]->state, CON_STATE_CLOSE);
}

TEST_F(Connections, CoreAnswersOptionsAndRefusesWhatNoModuleServes) {
    std::ofstream(server_.document_root() / "page.html") << "page";
    const struct {
        std::string request;
        int status;
        const char* allow;
    } cases[] = {
        {"OPTIONS /page.html HTTP/1.1\r\nHost: card\r\n\r\n", 200, "OPTIONS, GET, HEAD, POST"},
        {"OPTIONS * HTTP/1.1\r\nHost: card\r\n\r\n", 200, "OPTIONS, GET, HEAD, POST"},
        {"OPTIONS /missing.html HTTP/1.1\r\nHost: card\r\n\r\n", 404, ""},
        {"PUT /page.html HTTP/1.1\r\nHost: card\r\nContent-Length: 0\r\n\r\n", 403, ""},
        {"BREW /page.html HTTP/1.1\r\nHost: card\r\n\r\n", 501, ""},
        {Get("/page.html"), 403, ""},  // no module loaded serves files
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        auto client = server_.Connect();
        server_.Send(*client, c.request);
        const auto responses = server_.Responses(*client, 1);
        ASSERT_EQ(responses.size(), 1u);
        EXPECT_EQ(responses[0].status, c.status);
        EXPECT_EQ(responses[0].Header("Allow"), c.allow);
        EXPECT_EQ(responses[0].Header("Content-Length"), std::to_string(responses[0].body.size()));
    }
    EXPECT_TRUE(WebCalls().empty());
}

TEST(ConnectionErrorFiles, ConfiguredErrorFileReplacesTheBuiltInPage) {
    ConnectionTestServer server("", "server.errorfile-prefix = \"/placeholder\"\n");
    const std::string prefix = (server.document_root() / "status-").string();
    std::ofstream(prefix + "404.html") << "<p>no such page</p>\n";
    buffer_copy_string(server.srv()->config_storage[0]->errorfile_prefix, prefix.c_str());
    auto client = server.Connect();
    server.Send(*client, Post("/Unknown", "{}") + Get("/missing.html"));
    const auto responses = server.Responses(*client, 2);
    ASSERT_EQ(responses.size(), 2u);
    for (const HttpResponse& response : responses) {
        EXPECT_EQ(response.status, 404);
        EXPECT_EQ(response.body, "<p>no such page</p>\n");
    }
}

TEST_F(Connections, StateHandlingIsLoggedWhenAskedFor) {
    srv()->srvconf.log_state_handling = 1;
    server_.ExpectLog("(connections.");
    auto client = server_.Connect();
    server_.Send(*client, Post("/Beat.w", "{}", "Connection: close\r\n"));
    ASSERT_EQ(server_.Responses(*client, 1).size(), 1u);
    client.reset();
    server_.Turn();
    const std::string log = server_.Log();
    for (const char* text : {") state at start ", ") state for fd ", " req-start \n", " read \n", " handle-req \n",
                             " resp-start \n", " write \n", " resp-end \n", ") shutdown for fd ",
                             ") connection closed for fd ", ") state at exit: "}) {
        EXPECT_NE(log.find(text), std::string::npos) << text;
    }
}

// Bytes of an upload: position-dependent, so a lost or repeated block shows.
std::string UploadBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 12));
    }
    return bytes;
}

TEST_F(Connections, UploadOf64MiBLandsInOneFileThatIsGoneAfterTheRequest) {
    const std::string body = UploadBytes(67108864);
    auto client = server_.Connect();
    server_.Send(*client, Post("/Upgrade.w", body));
    const auto responses = server_.Responses(*client, 1);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, 200);
    ASSERT_EQ(WebCalls().size(), 1u);
    EXPECT_EQ(WebCalls()[0].upload_files, 1);
    EXPECT_EQ(WebCalls()[0].body, "");
    EXPECT_TRUE(WebCalls()[0].upload == body);
    EXPECT_EQ(WebCalls()[0].upload_path.rfind(server_.upload_dir().string() + "/webserver-upload-", 0), 0u);
    EXPECT_EQ(server_.UploadFiles(), 0u);
}

TEST_F(Connections, BodyOf1MiBIsKeptInMemory) {
    auto client = server_.Connect();
    const std::string body = UploadBytes(1048576);
    server_.Send(*client, Post("/SetBig.w", body));
    auto responses = server_.Responses(*client, 1);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, 200);
    ASSERT_EQ(WebCalls().size(), 1u);
    EXPECT_TRUE(WebCalls()[0].body == body);

    // Memory follows what arrived, not what was announced.
    server_.Send(*client, "POST /SetBig.w HTTP/1.1\r\nHost: card\r\nContent-Length: 1048576\r\n\r\n" +
                              std::string(100, 'x'));
    const connection* con = srv()->conns->ptr[0];
    ASSERT_EQ(con->state, CON_STATE_READ_POST);
    ASSERT_NE(con->request_content_queue->last, nullptr);
    EXPECT_EQ(con->request_content_queue->bytes_in, 100);
    EXPECT_LT(con->request_content_queue->last->mem->size, 4096u);
}

TEST_F(Connections, RefusedPostsKeepTheirStatusNeverReachTheWebApplicationAndClose) {
    const struct {
        const char* what;
        std::string request;
        int status;
        const char* log;  // the line it leaves, "" for none
    } cases[] = {
        {"broken length", "POST /Set.w HTTP/1.1\r\nHost: card\r\nContent-Length: 12a\r\n\r\n", 400,
         "content-length broken: 12a -> 400"},
        {"no length", "POST /Set.w HTTP/1.1\r\nHost: card\r\n\r\n", 411,
         "POST-request, but content-length missing -> 411"},
        {"length above 2^31-1", "POST /Set.w HTTP/1.1\r\nHost: card\r\nContent-Length: 2147483648\r\n\r\n", 413,
         "request-size too long: 2147483648 -> 413"},
        {"memory cap", "POST /Set.w HTTP/1.1\r\nHost: card\r\nContent-Length: 1048577\r\n\r\n", 413,
         "(connections.N) request body of 1048577 bytes is too large to keep in memory -> sending Status 413\n"},
        {"expect", "POST /Set.w HTTP/1.1\r\nHost: card\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n{}", 417,
         ""},
        {"chunked", "POST /Set.w HTTP/1.1\r\nHost: card\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
         501, ""},
        {"version", "POST /Set.w HTTP/1.2\r\nHost: card\r\nContent-Length: 2\r\n\r\n{}", 505, ""},
        {"upload above 64 MiB", "POST /Upgrade.w HTTP/1.1\r\nHost: card\r\nContent-Length: 67108865\r\n\r\n", 403,
         "(connections.N) oversized request content_length 67108865 -> sending Status 403\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WebCalls().clear();
        auto client = server_.Connect();
        // A second request behind the refused one must not be answered.
        server_.Send(*client, c.request + Post("/Beat.w", "{}"));
        const auto responses = server_.Responses(*client, 2);
        ASSERT_GE(responses.size(), 1u);
        EXPECT_EQ(responses[0].status, c.status);
        EXPECT_EQ(responses[0].Header("Content-Type"), "text/html");
        EXPECT_NE(responses[0].body.find("<h1>" + std::to_string(c.status) + " "), std::string::npos);
        EXPECT_EQ(responses.size(), 1u);
        EXPECT_TRUE(WebCalls().empty());
        EXPECT_TRUE(server_.SeesClose(*client));
        if (*c.log != '\0') {
            EXPECT_NE(LogWithoutLineNumbers(server_.Log()).find(c.log), std::string::npos);
            std::string line = c.log;
            line = line.substr(line.find(") ") == std::string::npos ? 0 : line.find(") ") + 2);
            server_.ExpectLog(line.substr(0, line.find('\n')));
        }
    }
}

TEST(ConnectionUploads, UploadThatCannotBeSpooledIsRefusedWith413AndNotProcessed) {
    ConnectionTestServer server("/nonexistent/uploads");
    server.ExpectLog("denying upload as opening to temp-file for upload failed:");
    auto client = server.Connect();
    server.Send(*client, Post("/ImportSiTable.w", "data"));
    const auto responses = server.Responses(*client, 1);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, 413);
    EXPECT_TRUE(WebCalls().empty());
    EXPECT_TRUE(server.SeesClose(*client));
    EXPECT_NE(server.Log().find("denying upload as opening to temp-file for upload failed: "
                                "/nonexistent/uploads/webserver-upload-XXXXXX"),
              std::string::npos);
}

TEST_F(Connections, InterleavedUploadsEachSeeTheirOwnFile) {
    const std::string first_body = UploadBytes(300000);
    const std::string second_body(200000, 'z');
    auto first = server_.Connect();
    auto second = server_.Connect();
    const std::string first_request = Post("/Upgrade.w", first_body);
    const size_t half = first_request.size() / 2;
    server_.Send(*first, first_request.substr(0, half));
    server_.Send(*second, Post("/ImportSiTable.w", second_body));
    ASSERT_EQ(server_.Responses(*second, 1).size(), 1u);
    server_.Send(*first, first_request.substr(half));
    ASSERT_EQ(server_.Responses(*first, 1).size(), 1u);

    ASSERT_EQ(WebCalls().size(), 2u);
    EXPECT_EQ(WebCalls()[0].name, "/ImportSiTable.w");
    EXPECT_TRUE(WebCalls()[0].upload == second_body);
    EXPECT_EQ(WebCalls()[1].name, "/Upgrade.w");
    EXPECT_TRUE(WebCalls()[1].upload == first_body);
    EXPECT_NE(WebCalls()[0].upload_path, WebCalls()[1].upload_path);
    EXPECT_EQ(server_.UploadFiles(), 0u);

    // A request without an upload finds no upload path at all.
    server_.Send(*first, Post("/Set.w", "{}"));
    ASSERT_EQ(server_.Responses(*first, 1).size(), 1u);
    EXPECT_EQ(WebCalls()[2].upload_path, "");
}

}  // namespace
}  // namespace hx

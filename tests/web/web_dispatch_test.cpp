// The request dispatcher on a connection built by the test (request text and
// body chunks), called as the HTTP server calls it: which row a request
// reaches, what an unknown name gets, and how the body is gathered.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"
#include "web/web_board.h"
#include "web/web_nit.h"
#include "web/web_output_status.h"
#include "web/web_reply.h"
#include "web/web_request.h"
#include "web/web_si_tables.h"
#include "web/web_stream.h"
#include "web/web_system.h"

namespace hx {
namespace {

const std::string kNotExistReply = "{\n\t\"code\":\t770,\n\t\"description\":\t\"Doesn't exist!\"\n}";

struct Row {
    const char* name;
    ProcessHandle handler;
};

// The table the pages rely on: names exactly, in match order.
const Row kRows[] = {
    {"Beat.w", web_processBeat},
    {"GetSubboardDetail.w", web_processGetSubboardDetail},
    {"GetSubboardParam.w", web_processGetSubboardParam},
    {"SetSubboardParam.w", web_processSetSubboardParam},
    {"GetSubboardIPMonitorParam.w", web_processGetSubboardIPMonitorParam},
    {"SetSubboardIPMonitorParam.w", web_processSetSubboardIPMonitorParam},
    {"GetSubboardReadyStatus.w", web_processGetSubboardReadyStatus},
    {"GetOutputTSStatus.w", web_processGetOutputTSStatus},
    {"GetOutputProgramStatus.w", web_processGetOutputProgramStatus},
    {"GetOutputTSDetailStatus.w", web_processGetOutputTSDetailStatus},
    {"ClearAllErr.w", web_processClearAllErr},
    {"ApplyAllParam.w", web_processApplyAllParam},
    {"ClearAllParam.w", web_processClearAllParam},
    {"DeleteTSConfig.w", web_processClearOneChannelProg},
    {"GetSubboardTSInfo.w", web_processGetSubboardTSInfo},
    {"SetTsParam.w", web_processSetTSParam},
    {"SetProgramParam.w", web_processSetProgramParam},
    {"GetTempTSInfo.w", web_processGetTempTSInfo},
    {"GetTempProgramInfo.w", web_processGetTempProgramInfo},
    {"Default.w", web_processDefault},
    {"Reboot.w", web_processReboot},
    {"SetNitVersionNum.w", web_processSetNITVersion},
    {"GetNIT.w", web_processGetNIT},
    {"AddNITNetwork.w", web_processAddNITNetwork},
    {"DeleteNITNetwork.w", web_processDelNITNetwork},
    {"AddNITStream.w", web_processAddNITTS},
    {"DeleteNITStream.w", web_processDelNITTS},
    {"DeleteLCN.w", web_processDelLCN},
    {"SetLCN.w", web_processSetLCN},
    {"AddDescriptor.w", web_processAddDescriptor},
    {"AutoGenerateNITDescriptor.w", web_processAutoGenerateNITDescriptor},
    {"ImportSiTable.w", nullptr},
    {"ExportSiTable.w", web_processExportOneSiTable},
    {"GetSubboardPSIPChannel.w", web_GetSubboardPSIPChannel},
    {"SetSubboardPSIPChannel.w", web_SetSubboardPSIPChannel},
    {"GetTOTLocaltimeoffsetDescriptor.w", web_processGetTOT_LTODescriptor},
    {"SetTOTLocaltimeoffsetDescriptor.w", web_processSetTOT_LTODescriptor},
    {"Debug.w", web_processDebug},
    {"ReadReg.w", web_processReadReg},
    {"WriteReg.w", web_processWriteReg},
    {"ExportLogs.w", web_processExportLogs},
    {"ClearLogs.w", web_processClearLogs},
    {"SaveLog.w", web_saveLog},
    {"GetLog.w", web_processGetLog},
    {"SetModulesAndlevel.w", web_processSetModulesAndLevel},
    {"GetModules", web_processGetModules},
    {"ExportMibs.w", web_processExportMibs},
};

class WebDispatch : public testing::Test {
protected:
    void SetUp() override {
        con_ = connections_get_new_connection(server_.srv());
        Web_SetRequestHookForTest(nullptr);
    }
    void TearDown() override {
        freeRevData();
        connection_del(server_.srv(), con_);
    }

    // A new request: header text and the body's memory chunks.
    void Request(const std::string& header, const std::vector<std::string>& chunks = {}) {
        buffer_copy_string(con_->request.request, header.c_str());
        chunkqueue_reset(con_->request_content_queue);
        for (const std::string& text : chunks) {
            chunkqueue_append_mem(con_->request_content_queue, text.data(), text.size() + 1);
        }
    }
    static std::string Post(const std::string& path, const std::string& headers = "") {
        return "POST " + path + " HTTP/1.1\r\nHost: card\r\n" + headers + "\r\n";
    }
    // What the server would send: the result and the reply.
    std::pair<U32, std::string> Dispatch() {
        test::BufferPtr reply = test::NewBuffer();
        const U32 result = web_ProcessData(reply.get(), server_.srv(), con_);
        return {result, test::Text(reply.get())};
    }
    // The common handler shape over the gathered body: its result and token.
    std::pair<U32, std::string> ParseToken(const std::vector<std::string>& chunks) {
        Request(Post("/Beat.w"), chunks);
        EXPECT_EQ(web_GatherBody(con_), 0u);
        test::BufferPtr reply = test::NewBuffer();
        std::string token;
        const U32 result = web_HandleRequest(reply.get(), {}, [&](cJSON* body, buffer*) {
            token = web_ReadString(body, "token");
            return 0u;
        });
        freeRevData();
        return {result, token};
    }
    std::string Body() const { return g_ps8RevData != nullptr ? std::string(g_ps8RevData) : "<none>"; }

    conntest::ConnectionTestServer server_;
    connection* con_ = nullptr;
};

TEST_F(WebDispatch, EveryRowIsReachedByItsOwnPathWhateverTheHeadersName) {
    ASSERT_EQ(std::size(kRows), 47u);
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const Row& row = kRows[i];
        EXPECT_STREQ(arstWEBComm[i].pcStr, row.name) << i;
        EXPECT_EQ(arstWEBComm[i].pfProcess, row.handler) << row.name;
        // Headers that name an earlier row (the first, the one just before, one
        // that clears everything) and the proxy path of another slot's page.
        const std::string earlier = kRows[i == 0 ? 0 : i - 1].name;
        const std::string headers = "Referer: http://card/" + earlier + "\r\nCookie: page=ClearAllParam.w; Beat.w\r\n";
        for (const std::string& path : {"/" + std::string(row.name), "/3/proxy/" + std::string(row.name) + "?t=1"}) {
            Request(Post(path, headers), {R"({"token":"t"})"});
            EXPECT_EQ(web_FindRequest(con_), &arstWEBComm[i]) << path;
            const auto [result, reply] = Dispatch();
            EXPECT_EQ(result, 0u) << path;  // 200, never the 404
            EXPECT_EQ(g_ps8RevData, nullptr) << path;
            // Every request is built: none answers "Doesn't exist!". They
            // answer with an object carrying a code, or nothing at all (the
            // ready status).
            EXPECT_NE(reply, kNotExistReply) << path;
            if (!reply.empty()) {
                cJSON* tree = cJSON_Parse(reply.c_str());
                EXPECT_TRUE(cJSON_IsNumber(cJSON_GetObjectItem(tree, "code"))) << path << reply;
                cJSON_Delete(tree);
            }
        }
    }
    EXPECT_EQ(arstWEBComm[std::size(kRows)].pcStr, nullptr);
    EXPECT_EQ(arstWEBComm[std::size(kRows)].pfProcess, nullptr);
}

TEST_F(WebDispatch, NameThatIsNoRowIsAnswered404WithoutAReply) {
    const char* headers[] = {
        "POST /Unknown.w HTTP/1.1\r\n\r\n",
        "POST /getsubboardparam.w HTTP/1.1\r\n\r\n",
        "POST /GetSubboardParam.wx HTTP/1.1\r\n\r\n",
        "POST /GetSubboardParam.w/x HTTP/1.1\r\n\r\n",
        "POST /XGetSubboardParam.w HTTP/1.1\r\n\r\n",
        "POST /GetModules.w HTTP/1.1\r\n\r\n",
        "POST /x?GetSubboardParam.w HTTP/1.1\r\n\r\n",
        "POST /index.html HTTP/1.1\r\nReferer: http://card/Beat.w\r\n\r\n",
        "POST /Upgrade.w HTTP/1.1\r\n\r\n",
        "POST /ImportConfig.w HTTP/1.1\r\n\r\n",
        "",
    };
    for (const char* header : headers) {
        Request(header, {R"({"token":"t"})"});
        EXPECT_EQ(web_FindRequest(con_), nullptr) << header;
        const auto [result, reply] = Dispatch();
        EXPECT_EQ(result, 770u) << header;
        EXPECT_EQ(reply, "") << header;
        EXPECT_EQ(g_ps8RevData, nullptr) << header;
    }
    test::BufferPtr reply = test::NewBuffer();
    EXPECT_EQ(web_ProcessData(reply.get(), server_.srv(), nullptr), 770u);
}

TEST_F(WebDispatch, BodyIsJoinedUpToTheFirstChunkWithoutTextInWholeSteps) {
    const std::string full(2048, 'a');
    const struct {
        const char* what;
        std::vector<std::string> chunks;
        std::string body;
        U32 capacity;
    } cases[] = {
        {"no chunks", {}, "", 2048},
        {"2,047 bytes fit with the terminator", {std::string(2047, 'b')}, std::string(2047, 'b'), 2048},
        {"2,048 bytes leave no room for it", {full}, full, 4096},
        {"5,000 bytes grow once", {std::string(5000, 'c')}, std::string(5000, 'c'), 6144},
        {"chunks joined", {"{\"tok", "en\":", "\"t\"}"}, "{\"token\":\"t\"}", 2048},
        {"each chunk grows by its own shortfall", {full, full, full}, full + full + full, 8192},
        {"a chunk's text ends at its NUL", {std::string("ab\0zz", 5), "cd"}, "abcd", 2048},
    };
    for (const auto& c : cases) {
        Request(Post("/Beat.w"), c.chunks);
        ASSERT_EQ(web_GatherBody(con_), 0u) << c.what;
        EXPECT_EQ(Body(), c.body) << c.what;
        EXPECT_EQ(web_RevDataCapacity(), c.capacity) << c.what;
    }
    freeRevData();
    EXPECT_EQ(web_RevDataCapacity(), 0u);
}

TEST_F(WebDispatch, ChunkWithoutTextEndsTheBody) {
    const std::filesystem::path file = server_.env().root() / "upload";
    std::ofstream(file) << "file bytes";
    test::BufferPtr name = test::NewBuffer(file.string());

    Request(Post("/ImportSiTable.w"), {"ab"});
    chunkqueue_append_file(con_->request_content_queue, name.get(), 0, 10);
    chunkqueue_append_mem(con_->request_content_queue, "cd", 3);
    ASSERT_EQ(web_GatherBody(con_), 0u);
    EXPECT_EQ(Body(), "ab");

    Request(Post("/Beat.w"), {"ab"});
    chunkqueue_append_buffer_weak(con_->request_content_queue, buffer_init());
    chunkqueue_append_mem(con_->request_content_queue, "cd", 3);
    ASSERT_EQ(web_GatherBody(con_), 0u);
    EXPECT_EQ(Body(), "ab");
}

// A handler that parses the body sees the joined text, and no body at all is
// a body that is not JSON.
TEST_F(WebDispatch, HandlersParseTheGatheredBody) {
    EXPECT_EQ(ParseToken({R"({"token":)", R"("joined"})"}), std::make_pair(0u, std::string("joined")));
    EXPECT_EQ(ParseToken({}).first, 774u);
}

}  // namespace
}  // namespace hx

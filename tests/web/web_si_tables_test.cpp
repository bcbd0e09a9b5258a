// The SI table requests through the request dispatcher, on a small model: a
// stream with a NIT on channel 0, streams without one on channels 1 and 3, a
// pass-through stream on channel 5, refreshed into the temporary copy. The
// export's file and link, the import of spooled uploads (the query, the
// file's checks, the apply), the TOT entry, and the PSIP switches with the
// PSI insertion values in memory and in both settings files.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/timer.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "http/chunk.h"
#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"
#include "platform/ip_monitor.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_fixture.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "si/time_tables.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_board.h"
#include "support/web_replies.h"
#include "web/user_authority.h"
#include "web/user_authority_fixture.h"
#include "web/web_reply.h"
#include "web/web_request.h"
#include "web/si_table_file.h"
#include "web/web_si_tables.h"

namespace hx {
namespace {

using test::Descriptor;
using test::NitEntrySpec;

int Code(const std::string& reply) { return test::ReplyCode(reply); }

std::string Formatted(const std::string& compact) { return test::FormattedJson(compact); }
std::string ErrorReply(U32 code) { return test::ErrorReplyText(code); }

const std::string kSuccess = Formatted(R"({"code":0,"description":null})");
const std::string kImported = Formatted(R"({"code":0,"description":null,"data":{"importdelay":5}})");

std::vector<U8> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WebSiTablesTest : public ::testing::Test {
protected:
    WebSiTablesTest() {
        SSD_ResetForTest();
        Resource_Reset();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
        g_u32TimerCnt = 0;
        VKUser_InitUserAuthority();
        Web_SetRequestHookForTest(nullptr);
        g_arcUpgradeFiledir[0] = '\0';
        con_ = connections_get_new_connection(server_.srv());
        // The unwrap logs its steps at ERROR; the refusals log theirs.
        env().FailOnUnexpectedErrors({"Upgrade filename : [", "Upgrade original first line", "Upgrade record first line",
                                      "Position : Cur", "===>Find tail line", "Upgrade first line: [", "Upgrade first can't read",
                                      "can't open", "Del net-header ret", "CRC isn't match", "Not a NIT Table",
                                      "TSP_GetExportNITLength Error", "has no output TS", "has no NIT",
                                      "Input Error,u16Channel", "TS dont have any NIT table",
                                      "TSP_AddNITByImport fail"});
    }
    ~WebSiTablesTest() override {
        freeRevData();
        connection_del(server_.srv(), con_);
        g_arcUpgradeFiledir[0] = '\0';
        SSD_ResetForTest();
    }

    test::TestEnvironment& env() { return server_.env(); }

    static void StoreNit(Output_TSInfo* model, U16 ts, U16 channel, const std::vector<U8>& sections) {
        std::vector<TSTable> records;
        ASSERT_TRUE(TSP_SectionsToRecords(sections.data(), static_cast<U32>(sections.size()), kNitTableId,
                                          kNitTableType, 0, channel, ts, records));
        ASSERT_EQ(TSP_ReplaceTableChain(model, ts, TableChainHead::Nit, records), 0u);
    }

    void BuildModel() {
        {
            TSP_ModelLock lock;
            Output_TSInfo* live = TSP_GetTSParam();
            test::ModelBuilder builder(live);
            const U16 first = builder.AddStream(0);
            live->pOutputTS[first].u8NITGenerate = 1;
            live->pOutputTS[first].u8EITGenerate = 1;
            StoreNit(live, first, 0, nit_);
            builder.AddStream(1);
            builder.AddStream(3);
            const U16 bypass = builder.AddStream(5);
            live->pOutputTS[bypass].u8BypassFlag = 1;
        }
        Refresh();
    }

    static void ResetModels() {
        TSP_ModelLock lock;
        const TSInfoInitNum counts{};
        for (Output_TSInfo* model : {TSP_GetTSParam(), TSP_GetTempTSParam()}) {
            ModelPool_FreeAll(model);
            ASSERT_EQ(TSP_InitTSInfo(model, &counts), 0u);
        }
    }

    static void Refresh() {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
    }

    // One POST through the dispatcher; the reply the server would send.
    std::string Post(const std::string& name, const std::string& body) {
        return Raw("POST /" + name + " HTTP/1.1\r\nHost: card\r\n\r\n", body);
    }
    std::string Raw(const std::string& header, const std::string& body = "") {
        buffer_copy_string(con_->request.request, header.c_str());
        chunkqueue_reset(con_->request_content_queue);
        chunkqueue_append_mem(con_->request_content_queue, body.data(), body.size() + 1);
        test::BufferPtr reply = test::NewBuffer();
        EXPECT_EQ(web_ProcessData(reply.get(), server_.srv(), con_), 0u) << header;
        return test::Text(reply.get());
    }
    // "ImportSiTable.w" with `query` after the name and the spooled body.
    std::string Import(const std::string& query, const std::string& spooled) {
        const std::string path = (env().root() / "upload-spool").string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << spooled;
        std::snprintf(g_arcUpgradeFiledir, sizeof g_arcUpgradeFiledir, "%s", path.c_str());
        return Raw("POST /ImportSiTable.w" + query + " HTTP/1.1\r\nHost: card\r\nReferer: http://card/?a=1&b=2\r\n\r\n");
    }


    // The live NIT of a channel as exported sections (empty when none).
    static std::vector<U8> LiveNit(U16 channel) {
        TSP_ModelLock lock;
        U16 length = 0;
        if (TSP_GetExportNITLength(channel, &length) != 0) {
            return {};
        }
        std::vector<U8> bytes(length);
        EXPECT_EQ(TSP_GetExportNITBuf(channel, bytes.data(), length), 0u);
        return bytes;
    }

    static std::vector<std::string> LiveModelProblems() {
        TSP_ModelLock lock;
        return test::CheckModel(*TSP_GetTSParam());
    }

    static Output_TSStream LiveStream(U16 channel) {
        TSP_ModelLock lock;
        const U16 index = ModelLookup_StreamOfChannel(TSP_GetTSParam(), channel);
        return index == kChainEnd ? Output_TSStream{} : TSP_GetTSParam()->pOutputTS[index];
    }

    const std::vector<U8> nit_ = test::NitSection(
        0x31, 2, 0, 0, Descriptor(0x40, 3, 'A'),
        {NitEntrySpec{0x11, 0x21, Descriptor(0x83, 4, 1)}, NitEntrySpec{0x12, 0x21, {}}});
    conntest::ConnectionTestServer server_;
    test::SimBoard board_;
    test::ScopedSharedModels models_;
    connection* con_ = nullptr;
};

// ---- the file head ----------------------------------------------------------------

TEST_F(WebSiTablesTest, FileHeadIsSevenLittleEndianWords) {
    DeviceConfigureSaveFileHeader_t head{53117, 0xEEFD, 0, 0x01020304, 0xA1B2C3D4, 5, 6};
    const auto bytes = SiTableHeader_Serialize(head);
    const std::array<U8, 28> expected = {0x7D, 0xCF, 0, 0, 0xFD, 0xEE, 0, 0, 0, 0, 0, 0, 4, 3,
                                         2,    1,    0xD4, 0xC3, 0xB2, 0xA1, 5, 0, 0, 0, 6, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    const auto parsed = SiTableHeader_Parse(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->dwDataCRC, 0xA1B2C3D4u);
    EXPECT_EQ(parsed->dwRes2, 6u);
    EXPECT_FALSE(SiTableHeader_Parse(std::span<const U8>(bytes).first(27)));
}

// ---- ExportSiTable.w --------------------------------------------------------------

TEST_F(WebSiTablesTest, ExportWritesTheTableFileAndLinksItForDownload) {
    BuildModel();
    EXPECT_EQ(Post("ExportSiTable.w", R"({"token":"t","tableid":64,"port":0,"channel":0})"),
              Formatted(R"({"code":0,"description":null,"data":{"uri":"download/TS1_NIT.table"}})"));
    const std::vector<U8> file = FileBytes(env().Path("/tmp/TS1_NIT.table"));
    EXPECT_EQ(file, test::SiTableFile(nit_));
    const std::filesystem::path link = env().Path("/vandik_app/web/download/TS1_NIT.table");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FileBytes(link.string()), file);

    // Another table exports nothing; a stream without a NIT, or no stream, has none to export.
    EXPECT_EQ(Post("ExportSiTable.w", R"({"token":"t","tableid":66,"port":0,"channel":0})"),
              Formatted(R"({"code":0,"description":null,"data":{"uri":""}})"));
    for (const char* address : {R"("port":0,"channel":3)", R"("port":0,"channel":7)", R"("port":0,"channel":-1)",
                                R"("port":4096,"channel":0)"}) {
        EXPECT_EQ(Code(Post("ExportSiTable.w", std::string(R"({"token":"t","tableid":64,)") + address + "}")),
                  static_cast<int>(VK_ERR_SIP_NIT_NO_EXIST))
            << address;
    }
    EXPECT_FALSE(std::filesystem::exists(env().Path("/tmp/TS4_NIT.table")));
    for (const char* body : {R"({"tableid":64,"port":0,"channel":0})", R"({"token":"t","port":0,"channel":0})",
                             R"({"token":"t","tableid":64,"channel":0})"}) {
        EXPECT_EQ(Code(Post("ExportSiTable.w", body)), static_cast<int>(VK_ERR_WEB_POST_PARAM)) << body;
    }
}

// ---- ImportSiTable.w --------------------------------------------------------------

TEST_F(WebSiTablesTest, ImportedNitBecomesTheChannelsNitWithTheApply) {
    BuildModel();
    EXPECT_EQ(Import("?port=0&channel=1&tableid=64", test::SiTableMultipart(test::SiTableFile(nit_))), kImported);
    EXPECT_EQ(LiveNit(1), nit_);
    EXPECT_EQ(LiveNit(0), nit_);
    EXPECT_TRUE(LiveModelProblems().empty());
}

TEST_F(WebSiTablesTest, ImportQueryIsReadFromTheRequestLineOnly) {
    const std::string upload = test::SiTableMultipart(test::SiTableFile(nit_));
    const struct {
        const char* query;
        int channel;  // that receives the NIT
        U32 code;
    } cases[] = {
        {"?channel=1&port=0&tableid=64", 1, 0},
        {"?tableid=64&channel=1&channel=3", 3, 0},     // later ones win
        {"?&&port=0&&channel=3&tableid=64xyz", 3, 0},  // empty parameters skipped; atoi's reading
        // The 21st parameter is not read: channel 0 (which has this NIT already).
        {"?a=1&b=2&c=3&d=4&e=5&f=6&g=7&h=8&i=9&j=10&k=11&l=12&m=13&n=14&o=15&p=16&q=17&r=18&s=19&tableid=64"
         "&channel=3",
         0, 0},
        // Addresses that would wrap onto a channel address none.
        {"?port=268435456&channel=1&tableid=64", -1, kTspErrInput},
        {"?port=0&channel=-15&tableid=64", -1, kTspErrInput},
        {"?port=0&channel=99999999999999999999999&tableid=64", -1, kTspErrInput},
    };
    for (const auto& c : cases) {
        ResetModels();
        BuildModel();
        const std::string reply = Import(c.query, upload);
        EXPECT_EQ(reply, c.code == 0 ? kImported : ErrorReply(c.code)) << c.query;
        for (const U16 channel : {1, 3}) {
            EXPECT_EQ(LiveNit(channel), channel == c.channel ? nit_ : std::vector<U8>{}) << c.query;
        }
    }
}

TEST_F(WebSiTablesTest, ImportWithoutQueryAnswersNothingAndChangesNothing) {
    BuildModel();
    const std::string upload = test::SiTableMultipart(test::SiTableFile(nit_));
    const std::vector<std::string> before = test::SharedModelsBytes();
    for (const char* query : {"", "?", "?port=0", "?tableid=64"}) {
        EXPECT_EQ(Import(query, upload), "") << query;
    }
    EXPECT_TRUE(test::SharedModelsBytes() == before);
    EXPECT_EQ(FileBytes(g_arcUpgradeFiledir), std::vector<U8>(upload.begin(), upload.end()));
}

TEST_F(WebSiTablesTest, BadUploadsAreRefusedAndNothingIsApplied) {
    BuildModel();
    std::vector<U8> altered = test::SiTableFile(nit_);
    altered[40] ^= 0x01;
    std::vector<U8> notNit = nit_;
    notNit[0] = 0x42;
    const struct {
        const char* what;
        std::string spooled;
        U32 code;
    } cases[] = {
        {"one data byte altered", test::SiTableMultipart(altered), VK_ERR_PARAMS},
        {"first byte 0x42", test::SiTableMultipart(test::SiTableFile(notNit)), VK_ERR_PARAMS},
        {"27 bytes", test::SiTableMultipart(std::vector<U8>(27, 0)), VK_ERR_PARAMS},
        {"28 bytes, no data", test::SiTableMultipart(test::SiTableFile({})), VK_ERR_PARAMS},
        {"no envelope", std::string(100, 'x'), VK_ERR_UPGRADE_CHECK_NET_HEADER},
    };
    // A pending edit of the temporary copy must not reach the live model either.
    {
        TSP_ModelLock lock;
        TSP_GetTempTSParam()->pOutputTS[ModelLookup_StreamOfChannel(TSP_GetTempTSParam(), 3)]
            .u16TransportStreamID = 0x777;
    }
    const std::vector<std::string> before = test::SharedModelsBytes();
    for (const auto& c : cases) {
        EXPECT_EQ(Code(Import("?port=0&channel=1&tableid=64", c.spooled)), static_cast<int>(c.code)) << c.what;
        EXPECT_TRUE(test::SharedModelsBytes() == before) << c.what;
    }
    g_arcUpgradeFiledir[0] = '\0';
    EXPECT_EQ(Code(Raw("POST /ImportSiTable.w?port=0&channel=1&tableid=64 HTTP/1.1\r\n\r\n")),
              static_cast<int>(VK_ERR_FILE_CAN_NOT_READE));
    EXPECT_TRUE(test::SharedModelsBytes() == before);
}

TEST_F(WebSiTablesTest, AnyOtherTableIdStillAppliesTheTemporaryCopy) {
    BuildModel();
    {
        TSP_ModelLock lock;
        TSP_GetTempTSParam()->pOutputTS[ModelLookup_StreamOfChannel(TSP_GetTempTSParam(), 3)]
            .u16TransportStreamID = 0x777;
    }
    EXPECT_EQ(Import("?port=0&channel=1&tableid=66", "not even an envelope"), kImported);
    EXPECT_EQ(LiveStream(3).u16TransportStreamID, 0x777);
    EXPECT_TRUE(LiveNit(1).empty());
}

TEST_F(WebSiTablesTest, ImportBeforeAnyRefreshLeavesTheLiveModelIntact) {
    {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        const U16 first = test::ModelBuilder(live).AddStream(0);
        StoreNit(live, first, 0, nit_);
        test::ModelBuilder(live).AddStream(1);
    }
    const std::vector<std::string> before = test::SharedModelsBytes();
    const std::string reply = Import("?port=0&channel=1&tableid=64", test::SiTableMultipart(test::SiTableFile(nit_)));
    EXPECT_NE(reply, "");
    EXPECT_TRUE(test::SharedModelsBytes() == before) << reply;
    EXPECT_EQ(LiveNit(0), nit_);
}

// ---- the modify right -------------------------------------------------------------

TEST_F(WebSiTablesTest, SettersRefuseWithoutTheModifyRight) {
    BuildModel();
    // The back board withdraws this board's modify right (command 524).
    Status_Init();
    ASSERT_EQ(test::Receive(test::kRefuseModify), 0u);
    ASSERT_EQ(VKUser_GetUser_BoardLevel_ModifyAuthority(), HX_FALSE);
    const std::string upload = test::SiTableMultipart(test::SiTableFile(nit_));
    const std::vector<std::string> before = test::SharedModelsBytes();
    const TParameter_QAM qam = *GetQAMPara_Handle();
    EXPECT_EQ(Code(Import("?port=0&channel=1&tableid=64", upload)), 1035);
    EXPECT_EQ(FileBytes(g_arcUpgradeFiledir), std::vector<U8>(upload.begin(), upload.end()));
    EXPECT_EQ(Code(Post("SetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":0})")), 1035);
    EXPECT_EQ(Code(Post("SetSubboardPSIPChannel.w",
                        R"({"token":"t","portlist":[{"port":0,"channellist":[{"channel":0,"enable":0,"flag":)"
                        R"({"pat":0,"pmt":0,"cat":0,"sdt":0,"nit":0,"tdt":0,"tot":0,"mgt":0,"vct":0,"stt":0,)"
                        R"("vcttype":0}}]}]})")),
              1035);
    EXPECT_TRUE(test::SharedModelsBytes() == before);
    EXPECT_EQ(std::memcmp(&qam, GetQAMPara_Handle(), sizeof qam), 0);
    EXPECT_FALSE(std::filesystem::exists(env().Path("/vandik_data/oid.json")));
    // The reads and the export need no right.
    EXPECT_EQ(Code(Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":0})")), 0);
    EXPECT_EQ(Code(Post("GetSubboardPSIPChannel.w", R"({"token":"t"})")), 0);
    EXPECT_EQ(Code(Post("ExportSiTable.w", R"({"token":"t","tableid":64,"port":0,"channel":0})")), 0);
}

// ---- TOT ----------------------------------------------------------------------------

TEST_F(WebSiTablesTest, TotEntryIsSetInTheTemporaryCopyAndReadBack) {
    BuildModel();
    const std::string defaults = Formatted(
        R"({"code":0,"description":null,"data":{"streamList":[{"CountryRegID":8,"LocalTimeOffsetPol":0,)"
        R"("CountryCode":"43484E","LocalTimeOffset":"00:00","NextTimeOffset":"00:00",)"
        R"("TimeOfChange":"2022/01/01 00:00:00"}]}})");
    EXPECT_EQ(Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":0})"), defaults);
    EXPECT_EQ(Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":9})"), defaults);

    // Only the first item and the first three codes count.
    EXPECT_EQ(Post("SetTOTLocaltimeoffsetDescriptor.w",
                   R"({"token":"t","port":0,"channel":3,"streamList":[{"CountryCode":[68,69,85,65,66,67,68,69],)"
                   R"("CountryRegID":3,"LocalTimeOffsetPol":1,"LocalTimeOffset":"01:30",)"
                   R"("TimeOfChange":"2024/03/31 02:00:00","NextTimeOffset":"02:00"},{"CountryCode":[]}]})"),
              kSuccess);
    EXPECT_EQ(Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":3})"),
              Formatted(R"({"code":0,"description":null,"data":{"streamList":[{"CountryRegID":3,)"
                        R"("LocalTimeOffsetPol":1,"CountryCode":"444555","LocalTimeOffset":"01:30",)"
                        R"("NextTimeOffset":"02:00","TimeOfChange":"2024/03/31 02:00:00"}]}})"));
    // The whole 29-byte section is stored, CRC included.
    {
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        const Output_TSStream& stream = temp->pOutputTS[ModelLookup_StreamOfChannel(temp, 3)];
        ASSERT_NE(stream.u16TOTIndex, kChainEnd);
        const TSTable& record = temp->pOutputTable[stream.u16TOTIndex];
        ASSERT_EQ(record.u16TableInfoLen, 29);
        EXPECT_EQ(Common_CRCCalculate(record.aru8TableInfo, 29, 0), 0u);
    }
    // Not on the live model until the apply.
    {
        TSP_ModelLock lock;
        EXPECT_EQ(TSP_GetTSParam()->pOutputTS[ModelLookup_StreamOfChannel(TSP_GetTSParam(), 3)].u16TOTIndex,
                  kChainEnd);
    }

    const std::vector<std::string> before = test::SharedModelsBytes();
    for (const char* body :
         {R"({"token":"t","port":0,"channel":3,"streamList":[{"CountryCode":[68,69,85],"CountryRegID":3,)"
          R"("LocalTimeOffsetPol":1,"LocalTimeOffset":"01:30","TimeOfChange":"2024/03/31 02:00:00"}]})",
          R"({"token":"t","port":0,"channel":3,"streamList":[{"CountryCode":[68,69],"CountryRegID":3,)"
          R"("LocalTimeOffsetPol":1,"LocalTimeOffset":"01:30","TimeOfChange":"2024/03/31 02:00:00",)"
          R"("NextTimeOffset":"02:00"}]})",
          R"({"token":"t","port":0,"streamList":[]})", R"({"port":0,"channel":3})"}) {
        EXPECT_EQ(Code(Post("SetTOTLocaltimeoffsetDescriptor.w", body)), static_cast<int>(VK_ERR_WEB_POST_PARAM))
            << body;
    }
    EXPECT_TRUE(test::SharedModelsBytes() == before);
    // No stream there: 4, nothing stored.
    EXPECT_EQ(Code(Post("SetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":9})")),
              static_cast<int>(VK_ERR_PARAMS));
    EXPECT_EQ(Code(Post("SetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":65535,"channel":65535})")),
              static_cast<int>(VK_ERR_PARAMS));
    EXPECT_TRUE(test::SharedModelsBytes() == before);
}

// ---- PSIP switches ----------------------------------------------------------------

std::string PsipItem(int channel, int enable, int cat = 0, const char* extra = "") {
    return R"({"channel":)" + std::to_string(channel) + R"(,"enable":)" + std::to_string(enable) +
           R"(,"flag":{"pat":1,"pmt":1,"cat":)" + std::to_string(cat) +
           R"(,"sdt":1,"nit":1,"tdt":1,"tot":0,"mgt":0,"vct":0,"stt":0,"vcttype":2)" + extra + "}}";
}
std::string PsipBody(const std::string& items) {
    return R"({"token":"t","portlist":[{"port":0,"channellist":[)" + items + "]}]}";
}

// The channel's "insertpsienable" in "oid.json" (-1 when absent).
int JsonInsertPsi(test::TestEnvironment& env, int channel) {
    cJSON* root = cJSON_Parse(env.ReadText("/vandik_data/oid.json").c_str());
    const cJSON* ports = cJSON_GetObjectItem(cJSON_GetObjectItem(root, "QamParameter"), "portlist");
    const cJSON* list = cJSON_GetObjectItem(cJSON_GetArrayItem(ports, 0), "channellist");
    const cJSON* value = cJSON_GetObjectItem(cJSON_GetArrayItem(list, channel), "insertpsienable");
    const int result = cJSON_IsNumber(value) ? value->valueint : -1;
    cJSON_Delete(root);
    return result;
}

// The channel's InsertPSIEnable value in "HX_QAM.conf".
U32 FileInsertPsi(test::TestEnvironment& env, int channel) {
    const std::vector<U8> bytes = FileBytes(env.Path(kQamParamFilePath));
    EXPECT_EQ(bytes.size(), kQamParamFileSize);
    const std::size_t pair = offsetof(TParameter_QAM, InsertPSIEnable) / sizeof(Parameter_Common) + channel;
    return bytes.size() == kQamParamFileSize ? GetLe32(bytes.data() + kQamPairsOffset + pair * 8 + 4) : 0xFFFFFFFF;
}

TEST_F(WebSiTablesTest, PsipChannelsListEveryStreamsSwitches) {
    BuildModel();
    const std::string reply = Post("GetSubboardPSIPChannel.w", R"({"token":"t"})");
    // A new stream's switches: PAT, PMT, CAT, SDT, TDT, MGT, VCT, STT on.
    const auto flags = [](int nit, int eit) {
        return R"("flag":{"pat":1,"pmt":1,"cat":1,"sdt":1,"tdt":1,"tot":0,"bat":0,"nit":)" + std::to_string(nit) +
               R"(,"eit":)" + std::to_string(eit) + R"(,"mgt":1,"vct":1,"stt":1,"vcttype":0})";
    };
    const std::string flags0 = flags(1, 1);
    const std::string none = flags(0, 0);
    const std::string bypass = none;
    EXPECT_EQ(reply, Formatted(R"({"code":0,"description":null,"data":{"portlist":[{"port":0,"channellist":[)"
                               R"({"channel":0,"port":0,"enable":1,"isBypass":0,)" + flags0 + "}," +
                               R"({"channel":1,"port":0,"enable":1,"isBypass":0,)" + none + "}," +
                               R"({"channel":3,"port":0,"enable":1,"isBypass":0,)" + none + "}," +
                               R"({"channel":5,"port":0,"enable":1,"isBypass":1,)" + bypass + "}]}]}}"));
}

TEST_F(WebSiTablesTest, PsipSetStoresSwitchesAndInsertionAppliesAndSaves) {
    BuildModel();
    // Channel 0 switched, channel 1 only its insertion off, the pass-through stream untouched.
    ASSERT_EQ(Post("SetSubboardPSIPChannel.w",
                   PsipBody(PsipItem(0, 1, 0) + "," + PsipItem(1, 0, 1) + "," + PsipItem(5, 1, 1))),
              kSuccess);
    const Output_TSStream first = LiveStream(0);
    EXPECT_EQ(first.u8CATGenerate, 0);
    EXPECT_EQ(first.u8SDTGenerate, 1);
    EXPECT_EQ(first.u8EITGenerate, 0);
    EXPECT_EQ(first.u32VCTType, 2u);
    EXPECT_EQ(first.u16TransChannel, 0);
    EXPECT_EQ(LiveStream(1).u8MGTGenerate, 1) << "enable 0 keeps the switches";
    EXPECT_EQ(LiveStream(1).u8CATGenerate, 1) << "enable 0 keeps the switches";
    EXPECT_EQ(LiveStream(5).u8MGTGenerate, 1) << "a pass-through stream keeps its switches";
    const TParameter_QAM* qam = GetQAMPara_Handle();
    EXPECT_EQ(qam->InsertPSIEnable[0].value, 1u);
    EXPECT_EQ(qam->InsertPSIEnable[1].value, 0u);
    EXPECT_EQ(qam->InsertPSIEnable[5].value, 1u);
    EXPECT_EQ(FileInsertPsi(env(), 0), 1u);
    EXPECT_EQ(FileInsertPsi(env(), 1), 0u);
    EXPECT_EQ(JsonInsertPsi(env(), 0), 1);
    EXPECT_EQ(JsonInsertPsi(env(), 1), 0);
    // The apply ran: the model file holds channel 0's new switches.
    EXPECT_TRUE(std::filesystem::exists(env().Path(kModelParamFilePath)));
    EXPECT_TRUE(LiveModelProblems().empty());
}

TEST_F(WebSiTablesTest, PsipSetChecksEveryItemBeforeChangingAnything) {
    BuildModel();
    const std::string good = PsipItem(0, 0, 0);
    const std::string cases[] = {
        PsipBody(good + "," + PsipItem(16, 1)),
        PsipBody(good + "," + PsipItem(-1, 1)),
        PsipBody(good + "," + PsipItem(32, 1)),
        PsipBody(good + "," + R"({"channel":1,"flag":{}})"),
        PsipBody(good + "," + R"({"channel":1,"enable":1})"),
        PsipBody(good + "," + R"({"channel":1,"enable":-1,"flag":{}})"),
        PsipBody(good + "," + R"({"channel":1,"enable":1,"flag":{"pat":1}})"),
        PsipBody(good + "," + R"({"channel":"1","enable":1,"flag":{}})"),
        R"({"token":"t","portlist":[{"port":1,"channellist":[)" + good + "]}]}",
    };
    GetQAMPara_Handle()->InsertPSIEnable[0].value = 7;
    const std::vector<std::string> before = test::SharedModelsBytes();
    for (const std::string& body : cases) {
        EXPECT_EQ(Code(Post("SetSubboardPSIPChannel.w", body)), static_cast<int>(VK_ERR_WEB_POST_PARAM)) << body;
        EXPECT_EQ(GetQAMPara_Handle()->InsertPSIEnable[0].value, 7u) << body;
        EXPECT_TRUE(test::SharedModelsBytes() == before) << body;
    }
    EXPECT_EQ(Code(Post("SetSubboardPSIPChannel.w", R"({"token":"t"})")), static_cast<int>(VK_ERR_PARAMS));
    EXPECT_EQ(Code(Post("SetSubboardPSIPChannel.w", R"({"token":"t","portlist":{}})")),
              static_cast<int>(VK_ERR_PARAMS));
    EXPECT_FALSE(std::filesystem::exists(env().Path("/vandik_data/oid.json")));
    EXPECT_FALSE(std::filesystem::exists(env().Path(kQamParamFilePath)));
    // Items without a number "port" or an array "channellist" are skipped.
    EXPECT_EQ(Post("SetSubboardPSIPChannel.w",
                   R"({"token":"t","portlist":[{"port":"0","channellist":[)" + PsipItem(16, 1) + "]}]}"),
              kSuccess);
    EXPECT_EQ(GetQAMPara_Handle()->InsertPSIEnable[0].value, 7u);
}

}  // namespace
}  // namespace hx

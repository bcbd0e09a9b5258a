// The SI table requests from outside: curl against the HTTP server thread
// with the card's own request dispatcher, on the simulated board. Channel 0's
// NIT goes out as a file, comes back through the download link and in again
// as an upload into channel 1, whose packets then carry the same sections; the
// TOT entry set through the pages goes on air with the apply; the PSIP
// switches change what a stream carries. libdvbpsi reads the packets back.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/timer.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "platform/ip_monitor.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_fixture.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "support/http_test_server.h"
#include "support/model_builder.h"
#include "support/program_run.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "support/web_replies.h"
#include "support/tool_run.h"
#include "web/user_authority.h"
#include "web/web_model.h"
#include "web/si_table_file.h"
#include "web/web_si_tables.h"

namespace hx {
namespace {

using test::Descriptor;
using test::NitEntrySpec;


using test::RunTool;
using test::ToolRun;

int Code(const std::string& reply) { return test::ReplyCode(reply); }

// A member of the reply's "data" ("" when absent).
std::string DataText(const std::string& reply, const char* key) {
    cJSON* tree = cJSON_Parse(reply.c_str());
    const cJSON* item = cJSON_GetObjectItem(cJSON_GetObjectItem(tree, "data"), key);
    std::string text = cJSON_IsString(item) ? item->valuestring : cJSON_IsNumber(item) ? std::to_string(item->valueint) : "";
    cJSON_Delete(tree);
    return text;
}

std::vector<U8> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<U8>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class SiTablesHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SSD_ResetForTest();
        Resource_Reset();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
        g_u32TimerCnt = 0;
        VKUser_InitUserAuthority();
        env.FailOnUnexpectedErrors({"Upgrade filename : [", "Upgrade original first line", "Upgrade record first line",
                                    "Position : Cur", "===>Find tail line", "Upgrade first line: [",
                                    "Del net-header ret", "CRC isn't match", "Not a NIT Table", "can't open",
                                    "TSP_GetExportNITLength Error", "over 40000", "40,000"});
        {
            TSP_ModelLock lock;
            Output_TSInfo* live = TSP_GetTSParam();
            test::ModelBuilder builder(live);
            for (const U16 channel : {0, 1, 2}) {
                const U16 ts = builder.AddStream(channel);
                Output_TSStream& stream = live->pOutputTS[ts];
                stream.u16TransportStreamID = static_cast<U16>(0x10 + channel);
                stream.u8PATGenerate = 1;
                stream.u8CATGenerate = 1;
                stream.u8NITGenerate = 1;
                stream.u8TOTGenerate = 1;
            }
            // An EMM PID on channel 0, so its stream carries a CAT.
            const U16 emm = builder.AddPid(PID_TYPE_EMMPID, 0, test::PidSpec{.key = 99, .pid = 0x300});
            live->pOutputPID[emm].u16CASID = 0x0B00;
            std::vector<TSTable> records;
            ASSERT_TRUE(TSP_SectionsToRecords(nit_.data(), static_cast<U32>(nit_.size()), kNitTableId,
                                              kNitTableType, 0, 0, 0, records));
            ASSERT_EQ(TSP_ReplaceTableChain(live, 0, TableChainHead::Nit, records), 0u);
        }
        ASSERT_EQ(TSP_MuxProcess(), 0u);
        Refresh();
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
    }
    void TearDown() override {
        server.Stop();
        SSD_ResetForTest();
    }

    static void Refresh() {
        TSP_ModelLock lock;
        ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
        ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
    }

    std::string Curl(std::vector<std::string> arguments) {
        std::vector<std::string> argv = {"curl", "--noproxy", "*", "-sS"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ToolRun run = RunTool(argv);
        EXPECT_EQ(run.status, 0) << run.output;
        // Orders the handler's changes before what the test reads next.
        server.WebCalls();
        return run.output;
    }
    std::string Post(const std::string& name, const std::string& body) {
        return Curl({"-H", "Content-Type: application/json", "--data-binary", body, server.Url("/" + name)});
    }
    // An upload as the page sends it: a multipart form with the file.
    std::string Upload(const std::string& query, const std::vector<U8>& file) {
        const std::string path = (env.root() / "upload.table").string();
        WriteBytes(path, file);
        return Curl({"-F", "file=@" + path, server.Url("/ImportSiTable.w" + query)});
    }

    // The SI sender's next ticks; what one channel sent in them.
    test::PsiDecoder& SendTicks(U32 ticks, int channel) {
        const std::string name = "/sim/ts/out-0" + std::to_string(channel) + ".ts";
        const std::size_t before = env.ReadText(name).size();
        for (U32 i = 0; i < ticks; ++i) {
            g_u32TimerCnt = ++tick_;
            EXPECT_TRUE(SIPacket_ServiceStep(sender_));
        }
        const std::string all = env.ReadText(name);
        decoder_ = std::make_unique<test::PsiDecoder>();
        decoder_->Push({reinterpret_cast<const U8*>(all.data()) + before, all.size() - before});
        EXPECT_TRUE(decoder_->Problems().empty());
        return *decoder_;
    }

    const std::vector<U8> nit_ = test::NitSection(
        0x31, 2, 0, 0, Descriptor(0x40, 3, 'A'),
        {NitEntrySpec{0x11, 0x21, Descriptor(0x83, 4, 1)}, NitEntrySpec{0x12, 0x21, {}}});
    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models;
    test::HttpTestServer server{env, test::DispatchingOptions()};
    SIPacketSenderState sender_;
    std::unique_ptr<test::PsiDecoder> decoder_;
    U32 tick_ = 0;
};

TEST_F(SiTablesHttpTest, NitExportedDownloadedAndImportedIntoAnotherChannel) {
    const std::string exported = Post("ExportSiTable.w", R"({"token":"t","tableid":64,"port":0,"channel":0})");
    ASSERT_EQ(DataText(exported, "uri"), "download/TS1_NIT.table") << exported;
    const std::string downloaded = (env.root() / "downloaded.table").string();
    Curl({"-f", "-o", downloaded, server.Url("/download/TS1_NIT.table")});
    const std::vector<U8> file = FileBytes(downloaded);
    ASSERT_EQ(file, test::SiTableFile(nit_));
    const auto head = SiTableHeader_Parse(file);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->dwSignature, 53117u);
    EXPECT_EQ(head->dwDeviceType, 0xEEFDu);
    EXPECT_EQ(head->dwDataLength, nit_.size());

    EXPECT_TRUE(SendTicks(30, 1).nits.empty()) << "channel 1 starts without a NIT";
    const std::string imported = Upload("?port=0&channel=1&tableid=64", file);
    EXPECT_EQ(Code(imported), 0) << imported;
    EXPECT_EQ(DataText(imported, "importdelay"), "5");
    const std::vector<test::DecodedNit> nits = SendTicks(30, 1).nits;
    ASSERT_FALSE(nits.empty());
    EXPECT_EQ(nits[0].networkId, 0x31);
    EXPECT_EQ(nits[0].version, 2);
    EXPECT_EQ(nits[0].network, (std::vector<test::RawDescriptor>{{0x40, {'A', 'B', 'C'}}}));
    EXPECT_EQ(nits[0].entries, (std::vector<test::DecodedNitEntry>{{0x11, 0x21, {{0x83, {1, 2, 3, 4}}}},
                                                                  {0x12, 0x21, {}}}));
}

TEST_F(SiTablesHttpTest, BadUploadsAndQuerylessImportsChangeNothing) {
    std::vector<U8> altered = test::SiTableFile(nit_);
    altered[35] ^= 0x10;
    std::vector<U8> notNit = nit_;
    notNit[0] = 0x42;
    for (const auto& upload : {altered, test::SiTableFile(notNit), std::vector<U8>(27, 0x40), test::SiTableFile({})}) {
        EXPECT_EQ(Code(Upload("?port=0&channel=1&tableid=64", upload)), static_cast<int>(VK_ERR_PARAMS));
    }
    EXPECT_TRUE(SendTicks(30, 1).nits.empty());
    EXPECT_EQ(Upload("", test::SiTableFile(nit_)), "");
    const std::string path = (env.root() / "upload.table").string();
    EXPECT_EQ(Curl({"-w", "%{http_code}", "-F", "file=@" + path, server.Url("/ImportSiTable.w")}), "200");
    // Another table ID imports nothing, yet applies.
    const std::string other = Upload("?port=0&channel=1&tableid=66", test::SiTableFile(nit_));
    EXPECT_EQ(DataText(other, "importdelay"), "5") << other;
    EXPECT_TRUE(SendTicks(30, 1).nits.empty());
    // No upload at all.
    const std::string none = Curl({"--data-binary", "", server.Url("/ImportSiTable.w?port=0&channel=1&tableid=64")});
    EXPECT_EQ(Code(none), static_cast<int>(VK_ERR_FILE_CAN_NOT_READE)) << none;
}

TEST_F(SiTablesHttpTest, NitPastTheExportLimitIsRefusedWithoutAFile) {
    // 41 sections of 1,002 bytes: past 40,000.
    std::vector<U8> sections;
    for (U8 i = 0; i <= 40; ++i) {
        std::vector<U8> loop;
        for (int d = 0; d < 4; ++d) {
            const auto descriptor = Descriptor(0x80, 243, static_cast<U8>(d));
            loop.insert(loop.end(), descriptor.begin(), descriptor.end());
        }
        const auto section = test::NitSection(0x31, 2, i, 40, {}, {NitEntrySpec{i, 0x21, loop}});
        sections.insert(sections.end(), section.begin(), section.end());
    }
    ASSERT_GT(sections.size(), 40000u);
    {
        TSP_ModelLock lock;
        std::vector<TSTable> records;
        ASSERT_TRUE(TSP_SectionsToRecords(sections.data(), static_cast<U32>(sections.size()), kNitTableId,
                                          kNitTableType, 0, 2, 2, records));
        ASSERT_EQ(TSP_ReplaceTableChain(TSP_GetTSParam(), 2, TableChainHead::Nit, records), 0u);
    }
    EXPECT_EQ(Code(Post("ExportSiTable.w", R"({"token":"t","tableid":64,"port":0,"channel":2})")), 0xC0008);
    EXPECT_FALSE(std::filesystem::exists(env.Path("/tmp/TS3_NIT.table")));
}

TEST_F(SiTablesHttpTest, TotEntryGoesOnAirWithTheApply) {
    const std::string defaults = Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":1})");
    EXPECT_NE(defaults.find("\"CountryCode\":\t\"43484E\""), std::string::npos) << defaults;
    ASSERT_EQ(Code(Post("SetTOTLocaltimeoffsetDescriptor.w",
                        R"({"token":"t","port":0,"channel":1,"streamList":[{"CountryCode":[68,69,85],)"
                        R"("CountryRegID":3,"LocalTimeOffsetPol":1,"LocalTimeOffset":"01:30",)"
                        R"("TimeOfChange":"2024/03/31 02:00:00","NextTimeOffset":"02:00"}]})")),
              0);
    const std::string read = Post("GetTOTLocaltimeoffsetDescriptor.w", R"({"token":"t","port":0,"channel":1})");
    EXPECT_NE(read.find("\"CountryCode\":\t\"444555\""), std::string::npos) << read;
    EXPECT_NE(read.find("\"TimeOfChange\":\t\"2024/03/31 02:00:00\""), std::string::npos) << read;

    ASSERT_EQ(Web_MuxProcess(), 0u);
    const test::PsiDecoder& decoder = SendTicks(3000, 1);
    const test::DecodedTime* tot = nullptr;
    for (const test::DecodedTime& time : decoder.times) {
        if (time.tableId == 0x73) {
            tot = &time;
        }
    }
    ASSERT_NE(tot, nullptr);
    ASSERT_EQ(tot->descriptors.size(), 1u);
    EXPECT_EQ(tot->descriptors[0].tag, 0x58);
    // DEU, region 3, polarity 1 (reserved bit set), +01:30, change 2024-03-31 (MJD 60400) 02:00:00, next +02:00.
    EXPECT_EQ(tot->descriptors[0].data,
              (std::vector<U8>{'D', 'E', 'U', 0x0F, 0x01, 0x30, 0xEB, 0xF0, 0x02, 0x00, 0x00, 0x02, 0x00}));
}

TEST_F(SiTablesHttpTest, PsipSwitchesChangeWhatTheStreamCarries) {
    EXPECT_FALSE(SendTicks(60, 0).cats.empty()) << "channel 0 starts with a CAT";
    const std::string listed = Post("GetSubboardPSIPChannel.w", R"({"token":"t"})");
    EXPECT_NE(listed.find("\"cat\":\t1"), std::string::npos) << listed;
    ASSERT_EQ(Code(Post("SetSubboardPSIPChannel.w",
                        R"({"token":"t","portlist":[{"port":0,"channellist":[{"channel":0,"enable":1,"flag":)"
                        R"({"pat":1,"pmt":1,"cat":0,"sdt":1,"nit":1,"tdt":1,"tot":1,"mgt":0,"vct":0,"stt":0,)"
                        R"("vcttype":0}}]}]})")),
              0);
    EXPECT_TRUE(SendTicks(60, 0).cats.empty()) << "CAT off leaves no CAT on air";
    EXPECT_EQ(GetQAMPara_Handle()->InsertPSIEnable[0].value, 1u);
    EXPECT_NE(env.ReadText("/vandik_data/oid.json").find("insertpsienable"), std::string::npos);
}

}  // namespace
}  // namespace hx

// The output stream requests through the request dispatcher, as the HTTP
// server calls it, on a small model: a multiplexed stream of two programs on
// channel 0 and a pass-through stream on channel 5. Each case compares the
// reply (member order included) and both models byte for byte.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "http/connection_internal.h"
#include "http/connection_test_server.h"
#include "http/http_test_util.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"
#include "web/user_authority_fixture.h"
#include "web/web_reply.h"
#include "web/web_request.h"
#include "web/web_slot.h"

namespace hx {
namespace {

using test::ModelBuilder;

constexpr ModelPool kCopied[] = {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                 ModelPool::Descriptor};

std::string ModelBytes(bool live) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = live ? TSP_GetTSParam() : TSP_GetTempTSParam();
    std::string bytes;
    for (ModelPool pool : kCopied) {
        bytes += test::PoolBytes(model, pool);
    }
    return bytes;
}

struct Models {
    std::string live;
    std::string temp;
    bool operator==(const Models&) const = default;
};

Models Snapshot() { return {ModelBytes(true), ModelBytes(false)}; }

std::string Compact(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    std::string result = text != nullptr ? text : "";
    cJSON_free(text);
    return result;
}

struct Reply {
    int code = -1;
    std::string data;  // "data" unformatted, "" when absent
    std::string text;
};

class WebStreamTest : public testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors({"program don't exist", "used by another program", "beyond 1023",
                                    "used twice", "clashes in Channel", "program number[", "calloc",
                                    "allocating memory", "marks the NIT", "nothing copied"});
        RunProfile profile = Profile();
        profile.simSlotId = 3;  // the rights message names this board's rights
        SetProfile(profile);
        board.emplace();
        Status_Init();
        log_Init(kMainLogPath);
        VKUser_InitUserAuthority();
        Web_SetZELType(0);
        con_ = connections_get_new_connection(server_.srv());
        Web_SetRequestHookForTest(nullptr);
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        ts = builder.AddStream(0);
        Output_TSStream& stream = TSP_GetTSParam()->pOutputTS[ts];
        stream.u16TransportStreamID = 0x0101;
        stream.u16OriginalNetworkID = 0x0001;
        for (U16 i = 0; i < 2; ++i) {
            const U16 base = static_cast<U16>(0x100 + 0x10 * i);
            programs[i] = builder.AddProgram(ts, {.sourceSlot = 5, .sourceChannel = 1,
                                                  .programId = static_cast<U16>(i + 1),
                                                  .serviceId = static_cast<U16>(101 + i), .pmtPid = base,
                                                  .pcrPid = static_cast<U16>(base + 1)});
            builder.AddPid(PID_TYPE_PCRPID, programs[i], {.sourceSlot = 5, .sourceChannel = 1,
                                                          .key = static_cast<U16>(base + 1),
                                                          .pid = static_cast<U16>(base + 1)});
            builder.AddPid(PID_TYPE_ESPID, programs[i], {.sourceSlot = 5, .sourceChannel = 1,
                                                         .key = static_cast<U16>(base + 2),
                                                         .pid = static_cast<U16>(base + 2), .streamType = 0x1B});
            builder.AddPid(PID_TYPE_ESPID, programs[i], {.sourceSlot = 5, .sourceChannel = 1,
                                                         .key = static_cast<U16>(base + 3),
                                                         .pid = static_cast<U16>(base + 3), .streamType = 0x03});
        }
        // Two other PIDs, the one at 200 first.
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.sourceSlot = 5, .sourceChannel = 1, .key = 200, .pid = 200});
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.sourceSlot = 5, .sourceChannel = 1, .key = 100, .pid = 100});
        const U16 bypass = builder.AddStream(5);
        Output_TSStream& through = TSP_GetTSParam()->pOutputTS[bypass];
        through.u8BypassFlag = 1;
        through.u8SrcSlotID = 10;
        through.u8SrcPort = 1;
        through.u16SrcChannelID = 7;
    }
    void TearDown() override {
        VKUser_InitUserAuthority();
        ModelPool_SetAllocHook({});
        Web_SetZELType(0);
        freeRevData();
        connection_del(server_.srv(), con_);
    }

    Reply Post(const std::string& name, const std::string& body) {
        const std::string header = "POST /" + name + " HTTP/1.1\r\nHost: card\r\n\r\n";
        buffer_copy_string(con_->request.request, header.c_str());
        chunkqueue_reset(con_->request_content_queue);
        chunkqueue_append_mem(con_->request_content_queue, body.data(), body.size() + 1);
        test::BufferPtr buffer = test::NewBuffer();
        EXPECT_EQ(0u, web_ProcessData(buffer.get(), server_.srv(), con_)) << name;
        Reply reply;
        reply.text = test::Text(buffer.get());
        cJSON* tree = cJSON_Parse(reply.text.c_str());
        if (const cJSON* code = cJSON_GetObjectItem(tree, "code"); cJSON_IsNumber(code)) {
            reply.code = code->valueint;
        }
        if (const cJSON* data = cJSON_GetObjectItem(tree, "data")) {
            reply.data = Compact(data);
        }
        cJSON_Delete(tree);
        return reply;
    }
    void Refresh() { ASSERT_EQ(0, Post("GetSubboardTSInfo.w", R"({"token":"t"})").code); }
    Output_TSProgram TempProgram(int i) {
        TSP_ModelLock lock;
        return TSP_GetTempTSParam()->pOutputProgram[programs[i]];
    }

    conntest::ConnectionTestServer server_;
    test::TestEnvironment& env = server_.env();
    std::optional<test::SimBoard> board;
    test::ScopedSharedModels models;
    connection* con_ = nullptr;
    U16 ts = 0;
    U16 programs[2] = {};
};

// The listing of channel 0 and the temporary copy's view of it: the same
// members, the provider name before the service type in one, after it in the
// other, and the sources in the numbering of the last chassis type.
const std::string kProgramsListed =
    R"([{"program":0,"serviceid":101,"servicename":"Service 101","providername":"","servicetype":0,)"
    R"("majorchannel":0,"minorchannel":0,"src":{"board":5,"boardname":"","port":0,"channel":1,"serviceid":101},)"
    R"x("pids":{"pcr":257,"pmt":256,"es":[{"pid":258,"pidtype":0,"streamtype":"Video(H264)"},)x"
    R"({"pid":259,"pidtype":1,"streamtype":"Audio"}]}},)"
    R"({"program":1,"serviceid":102,"servicename":"Service 102","providername":"","servicetype":0,)"
    R"("majorchannel":0,"minorchannel":0,"src":{"board":5,"boardname":"","port":0,"channel":1,"serviceid":102},)"
    R"x("pids":{"pcr":273,"pmt":272,"es":[{"pid":274,"pidtype":0,"streamtype":"Video(H264)"},)x"
    R"({"pid":275,"pidtype":1,"streamtype":"Audio"}]}}])";

std::string WithTypeFirst(std::string text) {
    const std::string listed = R"("providername":"","servicetype":0,)";
    for (std::size_t at = text.find(listed); at != std::string::npos; at = text.find(listed, at)) {
        text.replace(at, listed.size(), R"("servicetype":0,"providername":"",)");
    }
    return text;
}

TEST_F(WebStreamTest, ListingRefreshesTheCopyAndViewsShowIt) {
    const Models before = Snapshot();
    EXPECT_EQ(774, Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0})").code) << "the copy is empty";

    const Reply listing = Post("GetSubboardTSInfo.w", R"({"token":"t"})");
    ASSERT_EQ(0, listing.code) << listing.text;
    const std::string stream0 = R"({"channel":0,"bypassflag":0,"tsid":257,"originalnetworkid":1,"modulationmode":4,)"
                                R"("bypasssrc":{"board":0,"boardname":"","port":0,"channel":0},"programnumber":2,)"
                                R"("programlist":)" + kProgramsListed +
                                R"(,"otherpidlist":[200,100],"otherpidnumber":2})";
    const std::string stream5 = R"({"channel":5,"bypassflag":1,"tsid":0,"originalnetworkid":0,"modulationmode":4,)"
                                R"("bypasssrc":{"board":10,"boardname":"","port":1,"channel":7},"programnumber":0,)"
                                R"("programlist":[],"otherpidlist":[],"otherpidnumber":0})";
    EXPECT_EQ(R"({"portlist":[{"port":0,"channellist":[)" + stream0 + "," + stream5 + R"(]}],"isEmptyTsConfig":0})",
              listing.data);
    EXPECT_TRUE(before.live == Snapshot().live);
    EXPECT_TRUE(Snapshot().live == Snapshot().temp) << "the copy is the live model";

    const Reply view = Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0})");
    ASSERT_EQ(0, view.code) << view.text;
    EXPECT_EQ(R"({"port":0,)" + WithTypeFirst(stream0.substr(1)), view.data);

    const Reply program = Post("GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0,"serviceid":102})");
    ASSERT_EQ(0, program.code) << program.text;
    EXPECT_EQ(R"({"port":0,"channel":0,"serviceid":102,"servicename":"Service 102","servicetype":0,)"
              R"("providername":"","majorchannel":0,"minorchannel":0,)"
              R"("src":{"board":5,"boardname":"","port":0,"channel":1,"serviceid":102},)"
              R"x("pids":{"pcr":273,"pmt":272,"es":[{"pid":274,"pidtype":0,"streamtype":"Video(H264)"},)x"
              R"({"pid":275,"pidtype":1,"streamtype":"Audio"}]}})",
              program.data);

    // Chassis type 1 numbers hardware slot 10 as board 0 and slot 5 as board 5.
    const Reply renumbered = Post("GetTempTSInfo.w", R"({"token":"t","chassistype":1,"port":0,"channel":5})");
    ASSERT_EQ(0, renumbered.code);
    EXPECT_NE(std::string::npos, renumbered.data.find(R"("bypasssrc":{"board":0,)")) << renumbered.data;
    EXPECT_EQ(Web_GetWebSlot(1, 10), 0);

    // No stream anywhere: every port, no channel.
    {
        TSP_ModelLock lock;
        for (U32 i = 0; i < TSP_GetTSParam()->u32OutputTSNumber; ++i) {
            TSP_GetTSParam()->pOutputTS[i].u8ValidFlag = 0;
        }
    }
    EXPECT_EQ(R"({"portlist":[{"port":0,"channellist":[]}],"isEmptyTsConfig":0})",
              Post("GetSubboardTSInfo.w", R"({"token":"t","chassistype":0})").data);
}

TEST_F(WebStreamTest, ChannelsThatAddressNothingNeverLandOnChannelZero) {
    Refresh();
    const Models before = Snapshot();
    const struct {
        const char* name;
        const char* body;
        int code;
    } cases[] = {
        {"GetTempTSInfo.w", R"({"token":"t","port":0,"channel":65536})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","port":0,"channel":-1})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","port":1,"channel":0})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0.5})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","port":0,"channel":"0"})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","channel":0})", 774},
        {"GetTempTSInfo.w", R"({"port":0,"channel":0})", 774},
        {"GetTempTSInfo.w", R"({"token":"t","port":0,"channel":3})", 774},
        {"SetTsParam.w", R"({"token":"t","port":0,"channel":65536,"tsid":9})", 774},
        {"SetTsParam.w", R"({"token":"t","port":0,"channel":-1,"tsid":9})", 774},
        {"SetTsParam.w", R"({"token":"t","port":0,"channel":3,"tsid":9})", 774},
        {"SetTsParam.w", R"({"token":"t","port":1,"channel":0,"tsid":9})", 774},
        {"SetTsParam.w", R"({"token":"t","channel":0,"tsid":9})", 774},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":65536,"oldserviceid":101,"serviceid":9})", 0xC0018},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":65637,"serviceid":9})", 0xC0018},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":999,"serviceid":9})", 0xC0018},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":3,"oldserviceid":101,"serviceid":9})", 0xC0018},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"serviceid":9})", 774},
        {"GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0,"serviceid":999})", 0xC0018},
        {"GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0,"serviceid":65637})", 0xC0018},
        {"GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0})", 774},
    };
    for (const auto& c : cases) {
        const Reply reply = Post(c.name, c.body);
        EXPECT_EQ(c.code, reply.code) << c.name << " " << c.body << "\n" << reply.text;
        EXPECT_TRUE(before == Snapshot()) << c.name << " " << c.body;
    }
    // A channel without a stream shows an empty program; so does one that
    // addresses nothing, and never channel 0's.
    for (const char* channel : {"3", "65536", "-1"}) {
        const Reply reply =
            Post("GetTempProgramInfo.w", std::string(R"({"token":"t","port":0,"serviceid":101,"channel":)") + channel + "}");
        ASSERT_EQ(0, reply.code) << channel;
        EXPECT_EQ(std::string(R"({"port":0,"channel":)") + channel +
                      R"(,"serviceid":0,"servicename":"","servicetype":0,"providername":"","majorchannel":0,)"
                      R"("minorchannel":0,"src":{"board":0,"boardname":"","port":0,"channel":0,"serviceid":0},)"
                      R"("pids":{"pcr":0,"pmt":0,"es":[]}})",
                  reply.data);
    }
}

TEST_F(WebStreamTest, StreamEditsGoToTheCopyOnly) {
    Refresh();
    const std::string live = Snapshot().live;
    const std::string forty(40, 'n');
    const Reply reply = Post("SetTsParam.w", R"({"token":"t","port":0,"channel":0,"tsid":65536 ,"originalnetworkid":70000,)"
                                             R"("modulationmode":259,"programlist":[{"servicename":")" + forty +
                                                 R"(","serviceid":301},"skipped",{"servicename":"","providername":"Pr"},)"
                                                 R"({"serviceid":999}],)"
                                                 R"("otherpidlist":[{"oldpid":100,"newvalue":200},{"oldpid":200,"newvalue":300},)"
                                                 R"({"oldpid":7,"newvalue":8},{"oldpid":100}]})");
    ASSERT_EQ(0, reply.code) << reply.text;
    EXPECT_TRUE(live == Snapshot().live);
    {
        TSP_ModelLock lock;
        const Output_TSInfo* temp = TSP_GetTempTSParam();
        EXPECT_EQ(0, temp->pOutputTS[ts].u16TransportStreamID) << "low 16 bits";
        EXPECT_EQ(70000 & 0xFFFF, temp->pOutputTS[ts].u16OriginalNetworkID);
        EXPECT_EQ(3, temp->pOutputTS[ts].u8ModulationMode);
    }
    const Output_TSProgram first = TempProgram(0);
    EXPECT_EQ(301, first.u16ServiceID);
    EXPECT_EQ(32, first.u8ServiceNameLen);
    EXPECT_EQ(std::string(32, 'n'), std::string(reinterpret_cast<const char*>(first.aru8ServiceName), 32));
    EXPECT_EQ(102, TempProgram(1).u16ServiceID) << "the non-object item counts as program 1";
    const Reply view = Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0})");
    EXPECT_NE(std::string::npos, view.data.find(R"("otherpidlist":[300,200])")) << "edits do not chain: " << view.data;
    EXPECT_EQ(0, Post("SetTsParam.w", R"({"token":"t","port":0,"channel":0,"programlist":[{},{"servicename":"",)"
                                      R"("providername":"Pr"}]})")
                     .code);
    EXPECT_EQ(0, TempProgram(1).u8ServiceNameLen) << "an empty name";
    EXPECT_EQ(2, TempProgram(1).u8ServiceProviderLen);

    // A refresh discards every pending edit.
    Refresh();
    EXPECT_TRUE(Snapshot().live == Snapshot().temp);
}

TEST_F(WebStreamTest, RefusedEditsLeaveBothModels) {
    Refresh();
    const Models before = Snapshot();
    const struct {
        const char* name;
        std::string body;
        int code;
    } refused[] = {
        {"SetTsParam.w", R"({"token":"t","port":0,"channel":0,"tsid":5,"programlist":[{"serviceid":102}]})", 0x30024},
        {"SetTsParam.w", R"({"token":"t","port":0,"channel":0,"tsid":5,"programlist":[{"serviceid":0}]})", 0x30024},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":101,"serviceid":102})", 0x30024},
        {"SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":101,"servicetype":25,)"
                              R"("servicename":"X","pids":{"pmt":272}})",
         0x30017},
    };
    for (const auto& c : refused) {
        const Reply reply = Post(c.name, c.body);
        EXPECT_EQ(c.code, reply.code) << c.body << "\n" << reply.text;
        EXPECT_TRUE(before == Snapshot()) << c.body;
    }

    // ATSC numbers above 1023, or a pair another program has, are refused and
    // nothing of the edit stays in the copy.
    GetQAMPara_Handle()->Standard.value = 1;
    EXPECT_EQ(0, Post("SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":102,)"
                                           R"("majorchannel":4,"minorchannel":1})")
                     .code);
    const Models numbered = Snapshot();
    for (const char* numbers : {R"("majorchannel":1024,"minorchannel":1)", R"("majorchannel":4,"minorchannel":1)"}) {
        const Reply reply = Post("SetProgramParam.w", std::string(R"({"token":"t","port":0,"channel":0,"oldserviceid":101,)") +
                                                          R"("servicetype":2,"servicename":"Z",)" + numbers + "}");
        EXPECT_EQ(0xC0019, reply.code) << numbers;
        EXPECT_TRUE(numbered == Snapshot()) << numbers;
    }
    GetQAMPara_Handle()->Standard.value = 0;

    // A new other PID that clashes reloads the whole copy: the pending ATSC
    // edit goes too.
    EXPECT_EQ(0x30017, Post("SetTsParam.w", R"({"token":"t","port":0,"channel":0,)"
                                            R"("otherpidlist":[{"oldpid":100,"newvalue":258}]})")
                           .code);
    EXPECT_TRUE(Snapshot().live == Snapshot().temp);
}

TEST_F(WebStreamTest, ProgramEditAndApply) {
    // Before any refresh the copy is empty: the apply is refused and nothing
    // reaches the live model or the model file.
    const Models before = Snapshot();
    EXPECT_EQ(0xC0000, Post("ApplyAllParam.w", R"({"token":"t"})").code);
    EXPECT_TRUE(before == Snapshot());
    EXPECT_FALSE(std::filesystem::exists(env.Path(kModelParamFilePath)));

    Refresh();
    const Reply edit = Post("SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":102,)"
                                                 R"("serviceid":902,"servicename":"Renamed","providername":"Me",)"
                                                 R"("servicetype":25,"majorchannel":5,)"
                                                 R"("pids":{"pmt":1904,"pcr":273,"es":[{"pid":1905,"pidtype":1,)"
                                                 R"("streamtype":3},"x",{"pid":1906}, {"pid":1907}]}})");
    ASSERT_EQ(0, edit.code) << edit.text;
    EXPECT_TRUE(before.live == Snapshot().live);
    const Reply view = Post("GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0,"serviceid":902})");
    EXPECT_EQ(R"({"port":0,"channel":0,"serviceid":902,"servicename":"Renamed","servicetype":25,)"
              R"("providername":"Me","majorchannel":0,"minorchannel":0,)"
              R"("src":{"board":5,"boardname":"","port":0,"channel":1,"serviceid":902},)"
              R"x("pids":{"pcr":273,"pmt":1904,"es":[{"pid":1905,"pidtype":0,"streamtype":"Video(H264)"},)x"
              R"({"pid":275,"pidtype":1,"streamtype":"Audio"}]}})",
              view.data)
        << "DVB keeps no channel numbers; the non-object item is ES 1, so the third names none; "
           "PID and stream types come from the model";
    EXPECT_EQ(0xC0018, Post("GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":0,"serviceid":102})").code);

    ASSERT_EQ(0, Post("ApplyAllParam.w", R"({"token":"t"})").code);
    EXPECT_TRUE(Snapshot().live == Snapshot().temp);
    {
        TSP_ModelLock lock;
        EXPECT_EQ(902, TSP_GetTSParam()->pOutputProgram[programs[1]].u16ServiceID);
        EXPECT_TRUE(test::CheckModel(*TSP_GetTSParam()).empty());
    }
    EXPECT_TRUE(std::filesystem::exists(env.Path(kModelParamFilePath))) << "the apply saved the model file";
}

TEST_F(WebStreamTest, AFailedRefreshIsReported) {
    {
        // Live pools larger than the copy's: the refresh must reallocate.
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        for (U16 channel : {9, 10}) {
            const U16 big = builder.AddStream(channel);
            for (U16 i = 0; i < 300; ++i) {
                ASSERT_NE(0xFFFF, builder.AddProgram(big, {.programId = static_cast<U16>(1000 + i),
                                                          .serviceId = static_cast<U16>(1000 + i)}));
            }
        }
    }
    const Models before = Snapshot();
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    const Reply reply = Post("GetSubboardTSInfo.w", R"({"token":"t"})");
    ModelPool_SetAllocHook({});
    EXPECT_EQ(0xC0016, reply.code) << reply.text;
    EXPECT_TRUE(before == Snapshot());
}

// A stream of 300 programs: the views hold 200, nothing runs past them, and
// a stream edit, whose view cannot name every program, is refused whole.
TEST_F(WebStreamTest, AStreamOfThreeHundredProgramsIsShownCapped) {
    {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        const U16 big = builder.AddStream(3);
        for (U16 i = 0; i < 300; ++i) {
            ASSERT_NE(0xFFFF, builder.AddProgram(big, {.sourceSlot = 6, .programId = static_cast<U16>(1 + i),
                                                      .serviceId = static_cast<U16>(2000 + i),
                                                      .pmtPid = static_cast<U16>(0x1000 + i)}));
        }
    }
    Refresh();
    const Reply view = Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":3})");
    ASSERT_EQ(0, view.code);
    cJSON* data = cJSON_Parse(view.data.c_str());
    EXPECT_EQ(200, cJSON_GetObjectItem(data, "programnumber")->valueint);
    EXPECT_EQ(200, cJSON_GetArraySize(cJSON_GetObjectItem(data, "programlist")));
    cJSON_Delete(data);
    EXPECT_EQ(0, Post("GetTempProgramInfo.w", R"({"token":"t","port":0,"channel":3,"serviceid":2299})").code)
        << "a program past the view's 200 is still found";
    const Models before = Snapshot();
    EXPECT_EQ(0xC0020, Post("SetTsParam.w", R"({"token":"t","port":0,"channel":3,"tsid":77,)"
                                            R"("programlist":[{"servicename":"A"}]})")
                           .code);
    EXPECT_TRUE(before == Snapshot());
    EXPECT_EQ(0, Post("SetProgramParam.w", R"({"token":"t","port":0,"channel":3,"oldserviceid":2299,"serviceid":7})")
                     .code);
}

TEST_F(WebStreamTest, SettersNeedTheModifyRight) {
    Refresh();
    test::Receive(test::kRefuseModify);
    const Models before = Snapshot();
    for (const char* name : {"SetTsParam.w", "SetProgramParam.w", "ApplyAllParam.w", "ClearAllParam.w",
                             "DeleteTSConfig.w"}) {
        EXPECT_EQ(1035, Post(name, R"({"token":"t","port":0,"channel":0,"oldserviceid":101,"tsid":1})").code) << name;
    }
    EXPECT_TRUE(before == Snapshot());
    EXPECT_EQ(0, Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0})").code) << "views need no right";
}

}  // namespace
}  // namespace hx

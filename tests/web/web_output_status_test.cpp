// The output status requests on a small live model: one multiplexed stream
// with two programs on channel 0 and one passed-through stream on channel 1,
// with rates from the simulated 160T's status and the main FPGA's meters.
// Replies are compared as printed, so member order counts.
#include "web/web_output_status.h"

#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "http/http_test_util.h"
#include "platform/chassis_info.h"
#include "platform/qam_params.h"
#include "platform/z160t_status.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_160t.h"
#include "web/user_authority_fixture.h"
#include "web/web_request.h"

namespace hx {
namespace {

using test::ModelBuilder;

// 160T and meter counts whose kbit/s (count × 1504 / 1000) the cases name.
constexpr U16 k38000Kbps = 25266;
constexpr U16 k1504Kbps = 1000;
constexpr U32 k37240Kbps = 24761;  // 98 % of 38,000: no overflow
constexpr U32 k37242Kbps = 24762;  // beyond it
constexpr U8 kBypassSourceSlot = 12;   // user-interface slot 3 in chassis type 1
constexpr U8 kProgramSourceSlot = 11;  // user-interface slot 5 in chassis type 1

class OutputStatusRequests : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = 3;  // the rights table of the fixture's messages
        SetProfile(profile);
        board.emplace();
        Status_Init();
        log_Init(kMainLogPath);
        VKUser_InitUserAuthority();
        env.FailOnUnexpectedErrors({"program don't exist"});
        savedQam = *GetQAMPara_Handle();

        for (U32 channel = 0; channel < 16; ++channel) {
            board->fpga160t().SetChannelRates(channel, k38000Kbps, k1504Kbps);
        }
        board->fpga160t().SetTemperature(45);
        ASSERT_EQ(10000u, Z160T_UartComm_GetState());
        board->fpga().meters().SetChannelCounts(0, k37242Kbps, 0);
        board->fpga().meters().SetChannelCounts(1, k37240Kbps, 0);
        TParameter_QAM* qam = GetQAMPara_Handle();
        qam->ChannelEnable[0].value = 1;
        qam->ChannelEnable[1].value = 0;
        qam->Frequency[0].value = 474000;
        qam->Frequency[1].value = 482000;

        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        ModelBuilder builder(live);
        const U16 ts = builder.AddStream(0);
        // Added first with the higher PIDs, so chain order is not PID order.
        const U16 second = builder.AddProgram(
            ts, {.sourceSlot = 6, .programId = 2, .serviceId = 200, .pmtPid = 0x300, .pcrPid = 0x301});
        builder.AddPid(PID_TYPE_PCRPID, second, {.sourceSlot = 6, .key = 0x301, .pid = 0x301});
        builder.AddPid(PID_TYPE_ESPID, second, {.sourceSlot = 6, .key = 0x301, .pid = 0x301, .streamType = 0x1B});
        const U16 first = builder.AddProgram(
            ts, {.sourceSlot = kProgramSourceSlot, .programId = 1, .serviceId = 100, .pmtPid = 0x100, .pcrPid = 0x101});
        builder.AddPid(PID_TYPE_PCRPID, first, {.sourceSlot = kProgramSourceSlot, .key = 0x101, .pid = 0x101});
        builder.AddPid(PID_TYPE_ESPID, first,
                       {.sourceSlot = kProgramSourceSlot, .key = 0x101, .pid = 0x101, .streamType = 0x02});
        builder.AddPid(PID_TYPE_ESPID, first,
                       {.sourceSlot = kProgramSourceSlot, .key = 0x102, .pid = 0x102, .streamType = 0x04});
        Name(live->pOutputProgram[second], "Zwei");
        Name(live->pOutputProgram[first], "Eins");
        live->pOutputProgram[first].u8SrcPort = 1;
        live->pOutputProgram[first].u16WebChannel = 2;
        Output_TSStream& bypass = live->pOutputTS[builder.AddStream(1)];
        bypass.u8BypassFlag = 1;
        bypass.u8SrcSlotID = kBypassSourceSlot;
        bypass.u8SrcPort = 1;
        bypass.u16SrcChannelID = 7;
        ASSERT_EQ("", test::DescribeViolations(test::CheckModel(*live)));
        liveBytes = Bytes(live);
    }

    void TearDown() override {
        freeRevData();
        *GetQAMPara_Handle() = savedQam;
        ChassisInfo_Reset();
        Z160T_ResetStatus();
        TSP_ModelLock lock;
        EXPECT_EQ(liveBytes, Bytes(TSP_GetTSParam())) << "a status request changed the model";
    }

    static void Name(Output_TSProgram& program, const char* name) {
        program.u8ServiceNameLen = static_cast<U8>(std::strlen(name));
        std::memcpy(program.aru8ServiceName, name, program.u8ServiceNameLen);
    }
    static std::string Bytes(const Output_TSInfo* model) {
        std::string bytes;
        for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                               ModelPool::Descriptor}) {
            bytes += test::PoolBytes(model, pool);
        }
        return bytes;
    }

    // The handler's result and its reply printed compactly (member order
    // kept); an error result leaves the reply to the dispatcher.
    struct Reply {
        U32 result;
        std::string text;
    };
    static Reply Run(ProcessHandle handler, const char* body) {
        freeRevData();
        g_ps8RevData = static_cast<char*>(std::malloc(std::strlen(body) + 1));
        std::strcpy(g_ps8RevData, body);
        test::BufferPtr out = test::NewBuffer();
        const U32 result = handler(out.get());
        freeRevData();
        return {result, Compact(test::Text(out.get()))};
    }
    static std::string Compact(const std::string& text) {
        cJSON* tree = cJSON_Parse(text.c_str());
        if (tree == nullptr) {
            return text;
        }
        char* printed = cJSON_PrintUnformatted(tree);
        std::string compact = printed;
        cJSON_free(printed);
        cJSON_Delete(tree);
        return compact;
    }
    // One member path of a reply, printed compactly ("" when absent).
    static std::string Member(const std::string& text, std::initializer_list<const char*> path) {
        cJSON* tree = cJSON_Parse(text.c_str());
        const cJSON* item = tree;
        for (const char* key : path) {
            item = cJSON_IsArray(item) ? cJSON_GetArrayItem(item, std::atoi(key)) : cJSON_GetObjectItem(item, key);
        }
        std::string printed;
        if (item != nullptr) {
            char* text = cJSON_PrintUnformatted(item);
            printed = text;
            cJSON_free(text);
        }
        cJSON_Delete(tree);
        return printed;
    }

    test::TestEnvironment env;
    std::optional<test::Sim160TBoard> board;
    test::ScopedSharedModels models;
    TParameter_QAM savedQam{};
    std::string liveBytes;
};

TEST_F(OutputStatusRequests, ListingShowsEveryChannelWithRatesProgramsAndTheBypassSource) {
    const Reply reply = Run(web_processGetOutputTSStatus, R"({"token":"t"})");
    ASSERT_EQ(0u, reply.result);
    EXPECT_EQ(R"({"temperature":45,"temperatureflag":0})", Member(reply.text, {"data", "status"}));
    EXPECT_EQ("0", Member(reply.text, {"data", "portlist", "0", "port"}));
    EXPECT_EQ("", Member(reply.text, {"data", "portlist", "1"})) << "the board has one port";
    EXPECT_EQ(R"({"channel":0,"effectivebitrate":1504,"totalbitrate":38000,"status":1,"frequency":474000,)"
              R"("enable":1,"bypassflag":0,"programlist":[)"
              R"({"program":0,"serviceid":200,"servicename":"Zwei","scrambled":1},)"
              R"({"program":1,"serviceid":100,"servicename":"Eins","scrambled":1}]})",
              Member(reply.text, {"data", "portlist", "0", "channellist", "0"}));
    EXPECT_EQ(R"({"channel":1,"effectivebitrate":1504,"totalbitrate":38000,"status":0,"frequency":482000,)"
              R"("enable":0,"bypassflag":1,"bypasssrclist":{"board":12,"boardname":"","port":1,"channel":7},)"
              R"("programlist":[]})",
              Member(reply.text, {"data", "portlist", "0", "channellist", "1"}));
    // A channel without a stream still shows its measurements.
    EXPECT_EQ(R"({"channel":15,"effectivebitrate":0,"totalbitrate":0,"status":0,"frequency":0,)"
              R"("enable":0,"bypassflag":0,"programlist":[]})",
              Member(reply.text, {"data", "portlist", "0", "channellist", "15"}));
    EXPECT_EQ("", Member(reply.text, {"data", "portlist", "0", "channellist", "16"}));
}

// The source board of a passed-through stream is shown in the numbering the
// last "chassistype" chose, from the request after the one that carried it.
TEST_F(OutputStatusRequests, BypassSourceFollowsTheChassisTypeOfEarlierRequests) {
    const auto boardOf = [](const Reply& reply) {
        return Member(reply.text, {"data", "portlist", "0", "channellist", "1", "bypasssrclist", "board"});
    };
    EXPECT_EQ("12", boardOf(Run(web_processGetOutputTSStatus, R"({"token":"t","chassistype":1})")));
    EXPECT_EQ("3", boardOf(Run(web_processGetOutputTSStatus, R"({"token":"t"})")));
    EXPECT_EQ("5", Member(Run(web_processGetOutputProgramStatus,
                              R"({"token":"t","port":0,"channel":0,"serviceid":100,"chassistype":0})")
                              .text,
                          {"data", "src", "board"}))
        << "program 100 comes from slot 11, which chassis type 1 shows as 5";
    EXPECT_EQ("12", boardOf(Run(web_processGetOutputTSStatus, R"({"token":"t"})")));
}

TEST_F(OutputStatusRequests, ProgramReportAndWhatAddressesNoProgram) {
    EXPECT_EQ(R"({"code":0,"description":null,"data":{"servicename":"Eins","serviceid":100,)"
              R"j("pids":{"pcr":257,"pmt":256,"es":[{"pid":257,"pidtype":0,"streamtype":"Video(MPEG2)"},)j"
              R"({"pid":258,"pidtype":1,"streamtype":"Audio"}]},)"
              R"("src":{"board":11,"boardname":"","port":1,"channel":2,"serviceid":100,"servicename":"",)"
              R"("scrambled":1}}})",
              Run(web_processGetOutputProgramStatus, R"({"token":"t","port":0,"channel":0,"serviceid":100})").text);

    const std::string zeroed =
        R"({"code":0,"description":null,"data":{"servicename":"","serviceid":0,"pids":{"pcr":0,"pmt":0,"es":[]},)"
        R"("src":{"board":0,"boardname":"","port":0,"channel":0,"serviceid":0,"servicename":"","scrambled":1}}})";
    struct Case {
        const char* body;
        U32 result;
        std::string reply;  // compared when the result is 0
    };
    const Case cases[] = {
        {R"({"token":"t","port":0,"channel":0})", 774, ""},
        {R"({"token":"t","port":0,"channel":0,"serviceid":"100"})", 774, ""},
        {R"({"token":"t","channel":0,"serviceid":100})", 774, ""},
        {R"({"token":"t","port":0,"channel":true,"serviceid":100})", 774, ""},
        {R"({"port":0,"channel":0,"serviceid":100})", 774, ""},
        {R"({"token":"t","port":0,"channel":0,"serviceid":300})", 0xC0018, ""},
        // 65,636 is 100 once cut to 16 bits.
        {R"({"token":"t","port":0,"channel":0,"serviceid":65636})", 0xC0018, ""},
        {R"({"token":"t","port":0,"channel":0,"serviceid":-65436})", 0xC0018, ""},
        // A channel without a stream answers a zeroed program, as do channels
        // that would have wrapped onto channel 0.
        {R"({"token":"t","port":0,"channel":5,"serviceid":100})", 0, zeroed},
        {R"({"token":"t","port":1,"channel":0,"serviceid":100})", 0, zeroed},
        {R"({"token":"t","port":0,"channel":65536,"serviceid":100})", 0, zeroed},
        {R"({"token":"t","port":0,"channel":-1,"serviceid":100})", 0, zeroed},
        {R"({"token":"t","port":4096,"channel":0,"serviceid":100})", 0, zeroed},
        {R"({"token":"t","port":0,"channel":0.5,"serviceid":100})", 0, zeroed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const Reply reply = Run(web_processGetOutputProgramStatus, c.body);
        EXPECT_EQ(c.result, reply.result);
        if (c.result == 0) {
            EXPECT_EQ(c.reply, reply.text);
        }
    }
}

TEST_F(OutputStatusRequests, PidReportIsSortedByPidWithRatesAndContinuityErrors) {
    board->fpga().meters().SetPidCounts(0, 0x101, 1000, 0xFFFFFF85u);  // seven bits: 5 errors
    board->fpga().meters().SetPidCounts(0, 0x300, 10, 0);
    const std::string expected =
        R"({"code":0,"description":null,"data":{"port":0,"channel":0,"pidnumber":5,"totalbitrate":38000,"pidlist":[)"
        R"({"pid":256,"type":"PMT","bitrate":0,"ccerr":0,"samepidnum":1,"servicename":"Eins"},)"
        R"({"pid":257,"type":"PCR","bitrate":1504,"ccerr":5,"samepidnum":2,"servicename":"Eins"},)"
        R"({"pid":258,"type":"Audio","bitrate":0,"ccerr":0,"samepidnum":1,"servicename":"Eins"},)"
        R"({"pid":768,"type":"PMT","bitrate":15,"ccerr":0,"samepidnum":1,"servicename":"Zwei"},)"
        R"({"pid":769,"type":"PCR","bitrate":0,"ccerr":0,"samepidnum":2,"servicename":"Zwei"}]}})";
    EXPECT_EQ(expected, Run(web_processGetOutputTSDetailStatus, R"({"token":"t","port":0,"channel":0})").text);

    // Resetting the counters clears them in the next report.
    EXPECT_EQ(R"({"code":0,"description":null})", Run(web_processClearAllErr, R"({"token":"t"})").text);
    EXPECT_EQ(1u, board->fpga().meters().ContinuityClears());
    EXPECT_NE(std::string::npos, env.Console().find("click Reset Counter button!(Web_ClearPIDCc)"));
    EXPECT_EQ("0", Member(Run(web_processGetOutputTSDetailStatus, R"({"token":"t","port":0,"channel":0})").text,
                          {"data", "pidlist", "1", "ccerr"}));
}

TEST_F(OutputStatusRequests, PidReportOfAChannelWithoutAStreamIsEmptyWithoutARate) {
    struct Case {
        const char* body;
        U32 result;
        const char* data;
    };
    const Case cases[] = {
        // The passed-through stream lists no PIDs of its own, but it is there.
        {R"({"token":"t","port":0,"channel":1})", 0,
         R"({"port":0,"channel":1,"pidnumber":0,"totalbitrate":38000,"pidlist":[]})"},
        {R"({"token":"t","port":0,"channel":9})", 0, R"({"port":0,"channel":9,"pidnumber":0,"pidlist":[]})"},
        {R"({"token":"t","port":1,"channel":0})", 0, R"({"port":1,"channel":0,"pidnumber":0,"pidlist":[]})"},
        {R"({"token":"t","port":0,"channel":65536})", 0,
         R"({"port":0,"channel":65536,"pidnumber":0,"pidlist":[]})"},
        {R"({"token":"t","port":0,"channel":-1})", 0, R"({"port":0,"channel":-1,"pidnumber":0,"pidlist":[]})"},
        {R"({"token":"t","port":0})", 774, ""},
        {R"({"token":"t","port":"0","channel":0})", 774, ""},
        {R"({"token":1,"port":0,"channel":0})", 774, ""},
        {"not json", 774, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const Reply reply = Run(web_processGetOutputTSDetailStatus, c.body);
        EXPECT_EQ(c.result, reply.result);
        if (c.result == 0) {
            EXPECT_EQ(c.data, Member(reply.text, {"data"}));
        }
    }
}

TEST_F(OutputStatusRequests, ResetOfTheCountersNeedsTheModifyRight) {
    ASSERT_EQ(0u, test::Receive(test::kRefuseModify));
    EXPECT_EQ(1035u, Run(web_processClearAllErr, R"({"token":"t"})").result);
    EXPECT_EQ(0u, board->fpga().meters().ContinuityClears());
    // Reading needs no right.
    EXPECT_EQ(0u, Run(web_processGetOutputTSStatus, R"({"token":"t"})").result);
    EXPECT_EQ(0u, Run(web_processGetOutputTSDetailStatus, R"({"token":"t","port":0,"channel":0})").result);
}

}  // namespace
}  // namespace hx

// The output stream requests from outside: curl against the HTTP server
// thread with the card's request dispatcher, the card's inter-board server,
// and the simulated chassis whose input card feeds channel 0 with three named
// programs. What goes on air is read back from the simulated FPGA's packet
// file with libdvbpsi and ffprobe.
//
// The channel deletion waits on the clock: those cases stop the test clock
// and step each of the request's one-second sleeps themselves.
#include <cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chassis/ipcomm_cmd.h"
#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "engine/slot_bookkeeping.h"
#include "platform/resource.h"
#include "si/si_packet.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "sim/input_card_messages.h"
#include "support/card_server.h"
#include "support/program_run.h"
#include "support/ffprobe.h"
#include "support/http_test_server.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/param_files.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx {
namespace {

constexpr std::chrono::seconds kToolLimit{60};
constexpr std::uint64_t kSecond = 1'000'000;

struct Reply {
    int code = -1;
    std::string body;
};

std::string Name(const SimPlanProgram& program) { return program.name; }

std::string ModelBytes(bool live) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = live ? TSP_GetTSParam() : TSP_GetTempTSParam();
    std::string bytes;
    for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                           ModelPool::Descriptor}) {
        bytes += test::PoolBytes(model, pool);
    }
    return bytes;
}

bool LiveStreamOn(U16 channel) {
    TSP_ModelLock lock;
    return ModelLookup_StreamOfChannel(TSP_GetTSParam(), channel) != 0xFFFF;
}

class StreamRequestsHttp : public testing::Test {
protected:
    void SetUp() override {
        SSD_ResetForTest();
        Resource_Reset();
        Status_Init();
        log_Init(kMainLogPath);
        VKUser_InitUserAuthority();
        Resource_getSelfHandle()->u8SlotID = static_cast<U8>(Status_GetSlotID());
        Resource_getSelfHandle()->u16OutputChannelNum = 16;
        ASSERT_TRUE(chassis.Start(SimChassis_PlanSlots(plan), 0));
        card.emplace(chassis.port(), Profile().interBoardServerTimeoutMs);
        ASSERT_EQ(chassis.port(), card->port());
        plan.port = chassis.port();
        plan.cardSlot = Status_GetSlotID();
        ASSERT_TRUE(SimChassis_RunPlan(chassis, plan));
        ASSERT_TRUE(LiveStreamOn(kSimPlanOutputChannel));
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
        chassis.Take();
    }
    void TearDown() override {
        env.clock().SetAutoAdvance(true);
        server.Stop();
        card.reset();
        chassis.Stop();
        VKUser_InitUserAuthority();
        SSD_ResetForTest();
        Resource_Reset();
    }

    Reply Post(const std::string& name, const std::string& body) {
        test::ChildProgram curl;
        if (!curl.Start({"curl", "--noproxy", "*", "-sS", "--data-binary", body, server.Url("/" + name)})) {
            ADD_FAILURE() << "curl: " << curl.Output();
            return {};
        }
        const int status = curl.WaitForExit(kToolLimit);
        server.WebCalls();  // orders the handler's changes before what the test reads next
        Reply reply{-1, curl.Output()};
        EXPECT_EQ(0, status) << reply.body;
        cJSON* tree = cJSON_Parse(reply.body.c_str());
        if (const cJSON* code = cJSON_GetObjectItem(tree, "code"); cJSON_IsNumber(code)) {
            reply.code = code->valueint;
        }
        cJSON_Delete(tree);
        return reply;
    }

    // One tick of the SI sender, then what channel 0's packet file holds.
    std::vector<U8> Channel0Packets() {
        {
            std::lock_guard lock(SIMutex);
            SSD_SendBroadcastSI();
        }
        const std::string text = env.ReadText("/sim/ts/out-00.ts");
        return {text.begin(), text.end()};
    }
    std::unique_ptr<test::PsiDecoder> DecodeChannel0() {
        const std::vector<U8> packets = Channel0Packets();
        test::PsiDecoder patReader;
        patReader.Push(packets);
        auto decoder = std::make_unique<test::PsiDecoder>();
        if (!patReader.patTables.empty()) {
            for (const auto& [program, pid] : patReader.patTables.back().programs) {
                decoder->WatchPmt(pid, program);
            }
        }
        decoder->Push(packets);
        return decoder;
    }
    void SendAsBackBoard(U16 command, const std::vector<U8>& payload) {
        ASSERT_TRUE(chassis.Send(kBackBoardSlot, plan.cardAddress, plan.port, command, payload).ok());
    }
    std::vector<SimReceivedMessage> Received(U32 slot, U16 command) {
        std::vector<SimReceivedMessage> found;
        for (const SimReceivedMessage& message : chassis.Take()) {
            if (message.slot == slot && message.command == command) {
                found.push_back(message);
            }
        }
        return found;
    }

    // Starts "DeleteTSConfig.w" with the clock stopped; the request then
    // sleeps on it until the test steps it.
    std::future<Reply> StartDelete(const std::string& body) {
        env.clock().SetAutoAdvance(false);
        sleepsBefore = env.clock().SleepHistory().size();
        return std::async(std::launch::async, [this, body] { return Post("DeleteTSConfig.w", body); });
    }
    // Lets the request's n-th sleep end (n from 1) once it has begun.
    void StepSleep(std::size_t n) {
        env.clock().WaitForSleepCalls(sleepsBefore + n);
        env.clock().Advance(kSecond);
    }
    std::size_t SleepsOfTheRequest() { return env.clock().SleepHistory().size() - sleepsBefore; }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models;
    SimChassis chassis;
    SimChassisPlan plan;
    std::optional<test::CardServer> card;
    test::HttpTestServer server{env, test::DispatchingOptions()};
    std::size_t sleepsBefore = 0;
};

TEST_F(StreamRequestsHttp, RenameRenumberAndApplyReachTheAir) {
    const SimPlanProgram& sport = kSimPlanPrograms[1];
    const std::unique_ptr<test::PsiDecoder> before = DecodeChannel0();
    ASSERT_FALSE(before->patTables.empty());
    const U8 pmtVersion = std::find_if(before->pmts.begin(), before->pmts.end(), [&](const test::DecodedPmt& p) {
                              return p.program == sport.serviceId;
                          })->version;

    Reply reply = Post("GetSubboardTSInfo.w", R"({"token":"t"})");
    ASSERT_EQ(0, reply.code) << reply.body;
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        EXPECT_NE(std::string::npos, reply.body.find("\"" + Name(program) + "\"")) << reply.body;
    }
    const std::string live = ModelBytes(true);
    const std::string airBefore = env.ReadText("/sim/ts/out-00.ts");

    reply = Post("SetProgramParam.w", R"({"token":"t","port":0,"channel":0,"oldserviceid":102,"serviceid":902,)"
                                      R"("servicename":"HX Sport Extra","pids":{"pmt":496}})");
    ASSERT_EQ(0, reply.code) << reply.body;
    reply = Post("GetTempTSInfo.w", R"({"token":"t","port":0,"channel":0})");
    EXPECT_NE(std::string::npos, reply.body.find("\"HX Sport Extra\"")) << reply.body;
    EXPECT_NE(std::string::npos, reply.body.find("902")) << reply.body;
    EXPECT_TRUE(live == ModelBytes(true)) << "the live model waits for the apply";
    EXPECT_EQ(airBefore, env.ReadText("/sim/ts/out-00.ts"));

    ASSERT_EQ(0, Post("ApplyAllParam.w", R"({"token":"t"})").code);
    const std::unique_ptr<test::PsiDecoder> after = DecodeChannel0();
    EXPECT_TRUE(after->Problems().empty()) << after->Problems().front();
    ASSERT_FALSE(after->patTables.empty());
    const std::vector<std::pair<U16, U16>>& pat = after->patTables.back().programs;
    EXPECT_NE(pat.end(), std::find(pat.begin(), pat.end(), std::pair<U16, U16>{902, 496}));
    EXPECT_EQ(pat.end(), std::find_if(pat.begin(), pat.end(), [](const auto& e) { return e.first == 102; }));
    const auto pmt = std::find_if(after->pmts.begin(), after->pmts.end(),
                                  [](const test::DecodedPmt& p) { return p.program == 902; });
    ASSERT_NE(after->pmts.end(), pmt) << "the PMT is read on its new PID";
    EXPECT_NE(pmtVersion, pmt->version);
    ASSERT_FALSE(after->sdts.empty());
    bool named = false;
    for (const test::DecodedSdtService& service : after->sdts.back().services) {
        for (const test::RawDescriptor& descriptor : service.descriptors) {
            const std::string bytes(descriptor.data.begin(), descriptor.data.end());
            named = named || (service.serviceId == 902 && descriptor.tag == 0x48 &&
                              bytes.find("HX Sport Extra") != std::string::npos);
        }
    }
    EXPECT_TRUE(named);

    std::string report;
    const std::vector<test::ProbedProgram> probed = test::ProbePrograms(env.Path("/sim/ts/out-00.ts"), &report);
    const auto found = std::find_if(probed.begin(), probed.end(),
                                    [](const test::ProbedProgram& p) { return p.number == 902; });
    ASSERT_NE(probed.end(), found) << report;
    EXPECT_EQ(496, found->pmtPid);
    EXPECT_EQ("HX Sport Extra", found->serviceName);
}

TEST_F(StreamRequestsHttp, WithoutTheModifyRightNothingChanges) {
    ASSERT_EQ(0, Post("GetSubboardTSInfo.w", R"({"token":"t"})").code);
    const std::string rights =
        R"({"data":[{"UserName":"op","Authoritylist":[{"AuthorityId":)" + std::to_string(Status_GetSlotID() * 256) +
        R"(,"ViewEnable":1,"ModifyEnable":0}]}]})";
    SendAsBackBoard(IPCOMM_USER_AUTHORITY_CONFIG, std::vector<U8>(rights.begin(), rights.end()));
    const std::string live = ModelBytes(true);
    const std::string temp = ModelBytes(false);
    const std::string air = env.ReadText("/sim/ts/out-00.ts");
    for (const char* name : {"SetTsParam.w", "SetProgramParam.w", "ApplyAllParam.w", "ClearAllParam.w",
                             "DeleteTSConfig.w"}) {
        EXPECT_EQ(1035, Post(name, R"({"token":"t","port":0,"channel":0,"oldserviceid":101,"tsid":9})").code) << name;
    }
    EXPECT_TRUE(live == ModelBytes(true));
    EXPECT_TRUE(temp == ModelBytes(false));
    EXPECT_EQ(air, env.ReadText("/sim/ts/out-00.ts"));
    EXPECT_TRUE(Received(plan.inputSlot, IPCOMM_SEND_DEL_DESTCHANNEL).empty());
}

TEST_F(StreamRequestsHttp, ClearAllTellsTheInputCardAndSavesTheFactoryModel) {
    ASSERT_EQ(0, Post("ClearAllParam.w", R"({"token":"t"})").code);
    EXPECT_EQ(1u, Received(plan.inputSlot, IPCOMM_CLEAR_OUTPUT).size());
    EXPECT_FALSE(LiveStreamOn(kSimPlanOutputChannel));
    const std::vector<U8> saved = test::ReadBytes(kModelParamFilePath);
    // The factory model saved the same way, for comparison.
    PARAMS_WEB_Factory(WEB_CLEAR_TS);
    EXPECT_EQ(saved, test::ReadBytes(kModelParamFilePath));
}

// The input card answers after three sleeps: its programs go, its apply
// command lowers the count, and the request deletes what is left, applies and
// tells the back board the channel is empty.
TEST_F(StreamRequestsHttp, DeleteWaitsForTheInputCard) {
    chassis.SetDropMode(SimDropMode::Hold);
    std::future<Reply> reply = StartDelete(R"({"token":"t"})");  // no "channel": channel 0
    StepSleep(1);
    StepSleep(2);
    StepSleep(3);
    env.clock().WaitForSleepCalls(sleepsBefore + 4);
    EXPECT_TRUE(LiveStreamOn(kSimPlanOutputChannel));
    EXPECT_EQ(1u, chassis.ReleaseDrops());
    EXPECT_FALSE(LiveStreamOn(kSimPlanOutputChannel)) << "the card's delete orders";
    // The card acknowledges the apply order before it counts the order down,
    // so the sleep may end only once the count is 0.
    while (g_DelDestChannelNum.load() != 0) {
        std::this_thread::yield();
    }
    env.clock().Advance(kSecond);
    EXPECT_EQ(0, reply.get().code);
    EXPECT_EQ(4u, SleepsOfTheRequest());
    EXPECT_EQ(0, g_DelDestChannelNum.load());
    const std::vector<SimReceivedMessage> states = Received(kBackBoardSlot, IPCOMM_SEND_RESOUR);
    ASSERT_FALSE(states.empty()) << "the channel states went to the back board";
    TSP_ModelLock lock;
    EXPECT_TRUE(test::CheckModel(*TSP_GetTSParam()).empty());
}

// A silent card: 24 sleeps, the time-out line, and the request deletes the
// stream itself. The model lock is free meanwhile: an input card's message is
// applied during the wait.
TEST_F(StreamRequestsHttp, DeleteOfASilentCardEndsAfterTwentyFourSeconds) {
    chassis.SetDropMode(SimDropMode::Silent);
    std::future<Reply> reply = StartDelete(R"({"token":"t","channel":0})");
    StepSleep(1);
    Output_TSStream stream = InputCard_Stream(1, static_cast<U8>(plan.cardSlot));
    stream.u8SrcSlotID = static_cast<U8>(plan.inputSlot);
    ASSERT_TRUE(chassis.Send(plan.inputSlot, plan.cardAddress, plan.port, IPCOMM_SEND_TS,
                             InputCard_EncodeStreams(std::vector{stream}))
                    .ok());
    EXPECT_TRUE(LiveStreamOn(1)) << "applied while the request waits";
    for (std::size_t n = 2; n <= 24; ++n) {
        StepSleep(n);
    }
    EXPECT_EQ(0, reply.get().code);
    EXPECT_EQ(24u, SleepsOfTheRequest());
    EXPECT_NE(std::string::npos, env.Console().find("WEB:Ready time out! set g_DelDestChannelNum 0 and break!"));
    EXPECT_FALSE(LiveStreamOn(kSimPlanOutputChannel));
    EXPECT_TRUE(LiveStreamOn(1));
}

// Nothing is sent for a channel that addresses nothing, or when the stream's
// source is no longer plugged in (its configuration is cleared at once).
TEST_F(StreamRequestsHttp, DeleteWithoutAnyoneToAsk) {
    for (const char* channel : {"65536", "-1", "0.5"}) {
        std::future<Reply> reply = std::async(std::launch::async, [&] {
            return Post("DeleteTSConfig.w", std::string(R"({"token":"t","channel":)") + channel + "}");
        });
        EXPECT_EQ(0, reply.get().code) << channel;
        EXPECT_TRUE(Received(plan.inputSlot, IPCOMM_SEND_DEL_DESTCHANNEL).empty()) << channel;
        EXPECT_TRUE(LiveStreamOn(kSimPlanOutputChannel)) << channel;
    }

    std::vector<U8> mask(2);
    PutLe16(mask.data(), static_cast<U16>(1u << plan.cardSlot | 1u << plan.eitSlot));  // the input card is gone
    SendAsBackBoard(IPCOMM_SEND_SUBPLUGFLAG, mask);
    const std::size_t sleeps = env.clock().SleepHistory().size();
    EXPECT_EQ(0, Post("DeleteTSConfig.w", R"({"token":"t","channel":0})").code);
    EXPECT_EQ(sleeps, env.clock().SleepHistory().size()) << "no wait";
    EXPECT_TRUE(Received(plan.inputSlot, IPCOMM_SEND_DEL_DESTCHANNEL).empty());
    EXPECT_FALSE(LiveStreamOn(kSimPlanOutputChannel));
}

}  // namespace
}  // namespace hx

// The NIT requests from outside: curl against the HTTP server thread with the
// card's own request dispatcher, on the simulated board. An entry with its
// logical channel numbers and a network name, added to the temporary copy,
// reach channel 0's packets only with the apply; libdvbpsi reads them back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/timer.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "platform/ip_monitor.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/si_packet.h"
#include "support/http_test_server.h"
#include "support/model_builder.h"
#include "support/program_run.h"
#include "support/psi_decoder.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx {
namespace {

constexpr std::chrono::seconds kToolLimit{60};
constexpr U16 kChannel = 0;

class NitRequestsHttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        SSD_ResetForTest();
        Resource_Reset();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
        g_u32TimerCnt = 0;
        VKUser_InitUserAuthority();
        env.FailOnUnexpectedErrors();
        {
            TSP_ModelLock lock;
            Output_TSInfo* live = TSP_GetTSParam();
            const U16 ts = test::ModelBuilder(live).AddStream(kChannel);
            live->pOutputTS[ts].u16TransportStreamID = 0x10;
            live->pOutputTS[ts].u16OriginalNetworkID = 0x20;
            live->pOutputTS[ts].u8NITGenerate = 1;
        }
        ASSERT_EQ(TSP_MuxProcess(), 0u);
        {
            TSP_ModelLock lock;
            ASSERT_EQ(TSP_InitOutputTempTSInfo(), 0u);
            ASSERT_EQ(TSP_CopyOutputTempTSInfo(), 0u);
        }
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
    }
    void TearDown() override {
        server.Stop();
        SSD_ResetForTest();
    }

    // The reply body of one POST; empty (and a failure) when curl fails.
    std::string Post(const std::string& name, const std::string& body) {
        test::ChildProgram program;
        std::string output;
        if (program.Start({"curl", "--noproxy", "*", "-sS", "-H", "Content-Type: application/json", "--data-binary",
                           body, server.Url("/" + name)})) {
            EXPECT_EQ(program.WaitForExit(kToolLimit), 0) << program.Output();
            output = program.Output();
        } else {
            ADD_FAILURE() << "curl: " << program.Output();
        }
        // Orders the handler's changes before what the test reads next.
        server.WebCalls();
        return output;
    }

    // The SI sender's next ticks; the NITs of what channel 0 sent in them.
    std::vector<test::DecodedNit> SendTicks(U32 ticks) {
        const std::size_t before = Packets().size();
        for (U32 i = 0; i < ticks; ++i) {
            g_u32TimerCnt = ++tick_;
            EXPECT_TRUE(SIPacket_ServiceStep(sender_));
        }
        const std::string all = Packets();
        test::PsiDecoder decoder;
        decoder.Push({reinterpret_cast<const U8*>(all.data()) + before, all.size() - before});
        EXPECT_TRUE(decoder.Problems().empty());
        return decoder.nits;
    }
    std::string Packets() { return env.ReadText("/sim/ts/out-00.ts"); }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ScopedSharedModels models;
    test::HttpTestServer server{env, test::DispatchingOptions()};
    SIPacketSenderState sender_;
    U32 tick_ = 0;
};

TEST_F(NitRequestsHttpTest, EditedNitGoesOnAirWithTheApply) {
    const std::string success = "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}";
    EXPECT_TRUE(SendTicks(30).empty()) << "the stream starts without a NIT";

    EXPECT_EQ(Post("AddNITStream.w", R"({"token":"t","port":0,"channel":0,"originalID":8721,"tsid":4660})"), success);
    EXPECT_EQ(Post("SetLCN.w", R"({"token":"t","port":0,"channel":0,"NIT":0,"descriptor":0,"editFlag":false,)"
                               R"("tagId":131,"data":[0,1,252,1],"tagId2":136,"data2":[0,1,252,2]})"),
              success);
    EXPECT_EQ(Post("AddNITNetwork.w", R"({"token":"t","port":0,"channel":0,"tag":"40","data":"Headend"})"), success);
    EXPECT_TRUE(SendTicks(30).empty()) << "edits wait in the temporary copy";

    ASSERT_EQ(Post("ApplyAllParam.w", R"({"token":"t"})"), success);
    const std::vector<test::DecodedNit> nits = SendTicks(30);
    ASSERT_EQ(nits.size(), 1u);
    EXPECT_EQ(nits[0].network,
              (std::vector<test::RawDescriptor>{{0x40, {'H', 'e', 'a', 'd', 'e', 'n', 'd'}}}));
    EXPECT_EQ(nits[0].entries,
              (std::vector<test::DecodedNitEntry>{
                  {0x1234, 0x2211, {{0x88, {0x00, 0x01, 0xFC, 0x02}}, {0x83, {0x00, 0x01, 0xFC, 0x01}}}}}));
}

}  // namespace
}  // namespace hx

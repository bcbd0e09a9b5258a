// chassis-send run as a process against the card's own inter-board server in
// this test process: the server's thread dispatches what the tool sends, and
// the reply follows the action.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "chassis/chassis_send_run.h"
#include "chassis/ipcomm_server.h"
#include "core/run_profile.h"
#include "platform/chassis_info.h"
#include "platform/resource.h"
#include "support/card_server.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx {
namespace {

using test::Has;
using test::kRights;
using test::RunChassisSend;
using test::ToolRun;

class ChassisSendCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = 3;  // what simulated register 16 reads
        SetProfile(profile);
        board.emplace();
        Status_Init();
        VKUser_InitUserAuthority();
        server.emplace(0, 500);
        ASSERT_NE(0, server->port());
    }
    void TearDown() override {
        server.reset();
        VKUser_InitUserAuthority();
    }
    std::vector<std::string> To(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--port", std::to_string(server->port())});
        return arguments;
    }

    test::TestEnvironment env;
    std::optional<test::SimBoard> board;
    std::optional<test::CardServer> server;
};

// The rights table end to end: the back board's 524 packet, from the tool,
// through the server and dispatcher, decides what the web may change.
TEST_F(ChassisSendCardTest, ARightsMessageRefusesModificationOnThisSlot) {
    ASSERT_TRUE(VKUser_GetUser_BoardLevel_ModifyAuthority()) << "every right is granted before any message";
    const ToolRun run = RunChassisSend(To({"USER_AUTHORITY_CONFIG", kRights}));
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(Has(run, "packet 1/1 to 127.0.0.1:" + std::to_string(server->port()) +
                             ": slot 16, command 524 IPCOMM_USER_AUTHORITY_CONFIG, index 0, count 1, length " +
                             std::to_string(kRights.size())))
        << run.output;
    EXPECT_TRUE(Has(run, "answer: success (1 IPCOMM_SUCCESS_CMD)")) << run.output;
    // The reply follows the action, so the table is in place once the tool ends.
    EXPECT_FALSE(VKUser_GetUser_BoardLevel_ModifyAuthority());
    const stAccessModifyEn right = VKUser_GetAuthorityEntry(0);
    EXPECT_EQ(768, right.u16AuthorityId);
    EXPECT_EQ(1, right.u8ViewEnable);
    EXPECT_EQ(0, right.u8ModifyEnable);
}

TEST_F(ChassisSendCardTest, SuccessErrorAndRefusedFromTheCard) {
    ToolRun run = RunChassisSend(To({"SEND_SUBPLUGFLAG", "0x8018"}));
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(Has(run, "answer: success")) << run.output;
    EXPECT_EQ(0x8018, Status_GetSubBoardPlugStatus()) << "the reply follows the action";

    // Only sent by this board: answered with an error.
    run = RunChassisSend(To({"SEND_EITINFO_OVER"}));
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(Has(run, "answer: error (2 IPCOMM_DATA_ERROR)")) << run.output;

    IPServer_Stop();
    run = RunChassisSend(To({"SEND_SUBPLUGFLAG", "1"}));
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(Has(run, "answer: refused")) << run.output;
}

}  // namespace
}  // namespace hx

// chassis-send run as a process, as a user runs it: against a board of the
// simulated chassis (which records what arrived and answers as told) and
// against the card's own inter-board server in this test process.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "chassis/config_backup.h"
#include "chassis/ipcomm_server.h"
#include "chassis/qam_json.h"
#include "core/command_runner.h"
#include "core/run_profile.h"
#include "platform/chassis_info.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "sim/chassis/sim_chassis.h"
#include "support/card_server.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "support/tool_run.h"
#include "web/user_authority.h"
#include "web/user_authority_fixture.h"

namespace hx {
namespace {

constexpr U32 kBoard = 5;  // the simulated board the sends go to

using test::Has;
using test::ToolRun;

ToolRun RunChassisSend(const std::vector<std::string>& arguments) {
    return test::RunTool(HX_CHASSIS_SEND_BINARY, arguments);
}

// ---- against a board of the simulated chassis --------------------------------

class ChassisSendSimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chassis.Start({kBoard}, 0)); }

    // The options that aim at the simulated board.
    std::vector<std::string> To(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--to-slot", std::to_string(kBoard), "--port", std::to_string(chassis.port())});
        return arguments;
    }

    test::TestEnvironment env;
    SimChassis chassis;
};

struct PayloadCase {
    const char* name;
    std::vector<std::string> arguments;
    U16 command;
    std::vector<U8> data;
};

void PrintTo(const PayloadCase& c, std::ostream* out) { *out << c.name; }

class ChassisSendPayloadTest : public ChassisSendSimTest, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(ChassisSendPayloadTest, TypedValuesArriveByteForByteFromTheBackBoard) {
    const PayloadCase& c = GetParam();
    const ToolRun run = RunChassisSend(To(c.arguments));
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(Has(run, "answer: success (1 IPCOMM_SUCCESS_CMD)")) << run.output;
    ASSERT_TRUE(chassis.WaitForMessages(1));
    const std::vector<SimReceivedMessage> messages = chassis.Take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(kBoard, messages[0].slot);
    EXPECT_EQ(16, messages[0].fromSlot) << "the back board sends by default";
    EXPECT_EQ(c.command, messages[0].command);
    EXPECT_EQ(c.data, messages[0].data);
    EXPECT_EQ(1u, chassis.Exchanges(kBoard));
}

using test::kRefuseModify;

INSTANTIATE_TEST_SUITE_P(
    Cases, ChassisSendPayloadTest,
    ::testing::Values(
        PayloadCase{"PlugMaskByShortName", {"SEND_SUBPLUGFLAG", "0x0118"}, 513, {0x18, 0x01}},
        PayloadCase{"PlugMaskByFullNameInLowerCase", {"ipcomm_send_subplugflag", "24"}, 513, {0x18, 0x00}},
        PayloadCase{"PlugMaskByHexCode", {"0x201", "0xFFFF"}, 513, {0xFF, 0xFF}},
        PayloadCase{"FourAddresses",
                    {"514", "127.0.0.16", "127.0.0.35", "255.255.255.0", "127.0.0.1"},
                    514,
                    {0x10, 0, 0, 0x7F, 0x23, 0, 0, 0x7F, 0, 0xFF, 0xFF, 0xFF, 0x01, 0, 0, 0x7F}},
        PayloadCase{"RightsText", {"USER_AUTHORITY_CONFIG", kRefuseModify}, 524,
                    std::vector<U8>(kRefuseModify.begin(), kRefuseModify.end())},
        PayloadCase{"ImageSizeMostSignificantByteFirst", {"FTP_UPGRADE", "1048576"}, 3843, {0x00, 0x10, 0x00, 0x00}},
        PayloadCase{"CommandTextFromSeveralWords", {"3846", "iperf3", "-c", "127.0.0.16"}, 3846,
                    {'i', 'p', 'e', 'r', 'f', '3', ' ', '-', 'c', ' ', '1', '2', '7', '.', '0', '.', '0', '.', '1', '6'}},
        PayloadCase{"HexBytesForAnUntypedCommand", {"SEND_DATA", "01 02:ff", "A0"}, 258, {0x01, 0x02, 0xFF, 0xA0}},
        PayloadCase{"HexOptionOverridesTheType", {"513", "--hex", "0102030405"}, 513, {1, 2, 3, 4, 5}},
        PayloadCase{"BareCommand", {"SEND_OVER"}, 264, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChassisSendSimTest, TheSenderSlotIsWrittenInTheHeader) {
    const ToolRun run = RunChassisSend(To({"--from", "7", "SEND_DATA", "aa"}));
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(Has(run, "slot 7, command 258 IPCOMM_SEND_DATA, index 0, count 1, length 1")) << run.output;
    ASSERT_TRUE(chassis.WaitForMessages(1));
    EXPECT_EQ(7, chassis.Take()[0].fromSlot);
}

TEST_F(ChassisSendSimTest, AFileGoesOutInPacketsOf1400Bytes) {
    std::vector<U8> image(3000);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<U8>(i * 7);
    }
    const std::string path = (env.root() / "image.bin").string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 3000);

    const ToolRun run = RunChassisSend(To({"--file", path, "SEND_UPGRADE"}));
    EXPECT_EQ(0, run.status) << run.output;
    const std::string target = "to 127.0.0.37:" + std::to_string(chassis.port());
    EXPECT_TRUE(Has(run, "packet 1/3 " + target + ": slot 16, command 3841 IPCOMM_SEND_UPGRADE, index 0, count 3, "
                         "length 1400, crc 0x"))
        << run.output;
    EXPECT_TRUE(Has(run, "index 1, count 3, length 1400")) << run.output;
    EXPECT_TRUE(Has(run, "index 2, count 3, length 200")) << run.output;
    EXPECT_TRUE(Has(run, "1420 bytes on the wire")) << run.output;
    EXPECT_TRUE(Has(run, "220 bytes on the wire")) << run.output;
    ASSERT_TRUE(chassis.WaitForMessages(1));
    EXPECT_EQ(image, chassis.Take()[0].data) << "one message, the packets joined in order";
    EXPECT_EQ(3u, chassis.Exchanges(kBoard)) << "one exchange per packet";
}

struct AnswerCase {
    const char* name;
    std::optional<SimAnswer> answer;  // none: the board is not listening
    std::string printed;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class ChassisSendAnswerTest : public ChassisSendSimTest, public ::testing::WithParamInterface<AnswerCase> {};

// A message of three packets whose first packet fails: reported, exit 1, no
// retry and no further packet.
TEST_P(ChassisSendAnswerTest, AFailedPacketEndsTheRunWithoutRetries) {
    const AnswerCase& c = GetParam();
    if (c.answer) {
        chassis.SetAnswer(kBoard, *c.answer, 1);
    } else {
        ASSERT_TRUE(chassis.Refuse(kBoard, true));
    }
    const std::string threePackets(2 * (2 * 1400 + 1), 'a');  // 2,801 bytes of 0xAA
    const ToolRun run = RunChassisSend(To({"--timeout", "300", "--hex", threePackets, "258"}));
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_TRUE(Has(run, "packet 1/3")) << run.output;
    EXPECT_TRUE(Has(run, "answer: " + c.printed)) << run.output;
    EXPECT_TRUE(Has(run, "stopped: packets 2 to 3 not sent")) << run.output;
    EXPECT_FALSE(Has(run, "packet 2/3")) << run.output;
    EXPECT_FALSE(Has(run, "answer: success")) << run.output;
    EXPECT_EQ(c.answer ? 1u : 0u, chassis.Exchanges(kBoard)) << "one exchange, never retried";
    EXPECT_TRUE(chassis.Take().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChassisSendAnswerTest,
    ::testing::Values(AnswerCase{"Error", SimAnswer::Error, "error (2 IPCOMM_DATA_ERROR)"},
                      AnswerCase{"Closed", SimAnswer::Close, "closed"},
                      AnswerCase{"Stalled", SimAnswer::Stall, "time-out (no whole reply within 300 ms)"},
                      AnswerCase{"Refused", std::nullopt, "refused (nothing listens at 127.0.0.37:"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChassisSendSimTest, BadArgumentsSendNothingAndExitWithTwo) {
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "no command given"},
        {{"SEND_NOTHING"}, "unknown command: SEND_NOTHING"},
        {{"70000"}, "unknown command: 70000"},
        {{"SEND_SUBPLUGFLAG"}, "513 takes one plug mask"},
        {{"513", "0x10000"}, "513 takes one plug mask"},
        {{"514", "127.0.0.16", "127.0.0.35", "255.255.255.0"}, "514 takes four addresses"},
        {{"514", "127.0.0.16", "127.0.0.35", "255.255.255.0", "gateway"}, "not a dotted address: gateway"},
        {{"524"}, "524 takes the rights JSON text"},
        {{"3843", "big"}, "3843 takes one image size"},
        {{"258", "0g"}, "not hex bytes: 0g"},
        {{"258", "abc"}, "not hex bytes: abc"},
        {{"--to", "192.168.1.10", "258"}, "refusing 192.168.1.10: chassis-send only talks to loopback addresses"},
        {{"--to", "0.0.0.0", "258"}, "refusing 0.0.0.0"},
        {{"--to-slot", "17", "258"}, "bad slot (0 to 16): 17"},
        {{"--port", "0", "258"}, "bad port: 0"},
        {{"--port"}, "--port needs a value"},
        {{"--file", "/nonexistent/file", "258"}, "cannot read /nonexistent/file"},
        {{"--hex", "01", "258", "02"}, "give the data once"},
        {{"--retries", "3", "258"}, "unknown option: --retries"},
    };
    for (const auto& c : cases) {
        // Pointed at the simulated board, so a send would have been recorded.
        std::vector<std::string> arguments = c.arguments;
        if (arguments.empty() || arguments[0] != "--to") {
            arguments = To(arguments);
        }
        const ToolRun run = RunChassisSend(arguments);
        EXPECT_EQ(2, run.status) << c.message << "\n" << run.output;
        EXPECT_TRUE(Has(run, "chassis-send: " + c.message)) << run.output;
        EXPECT_FALSE(Has(run, "packet ")) << run.output;
    }
    EXPECT_EQ(0u, chassis.Exchanges(kBoard));
}

TEST(ChassisSend, HelpNamesTheLoopbackLimit) {
    const ToolRun run = RunChassisSend({"--help"});
    EXPECT_EQ(0, run.status);
    EXPECT_TRUE(Has(run, "usage: chassis-send")) << run.output;
    EXPECT_TRUE(Has(run, "only talks to loopback addresses (127.0.0.0/8)")) << run.output;
}

// ---- against the card's own server -------------------------------------------

// The board in slot 3 of the rights tests, with its server listening.
class ChassisSendCardTest : public test::UserAuthorityTest {
protected:
    void SetUp() override {
        UserAuthorityTest::SetUp();
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

    std::optional<test::CardServer> server;
};

// The rights table end to end: the back board's 524 packet, from the tool,
// through the server and dispatcher, decides what the web may change.
TEST_F(ChassisSendCardTest, ARightsMessageRefusesModificationOnThisSlot) {
    ASSERT_TRUE(VKUser_GetUser_BoardLevel_ModifyAuthority()) << "every right is granted before any message";
    const ToolRun run = RunChassisSend(To({"USER_AUTHORITY_CONFIG", kRefuseModify}));
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(Has(run, "packet 1/1 to 127.0.0.1:" + std::to_string(server->port()) +
                             ": slot 16, command 524 IPCOMM_USER_AUTHORITY_CONFIG, index 0, count 1, length " +
                             std::to_string(kRefuseModify.size())))
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

// ---- backup and import, as a user orders them --------------------------------

// The card in slot 6, the back board at its simulated address; the export's
// snapshot step writes a fixed snapshot. The server is stopped (its thread
// joined) before a result is looked at: 516 and 517 are answered first and
// run after the reply.
class ChassisSendBackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = 6;
        SetProfile(profile);
        board.emplace();
        Status_Init();
        Resource_getSelfHandle()->u8BoardType = 33;
        Resource_SetBackBoardIpAddr(SimBoardAddress(16));
        test::ResetParameterState();
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        Init_IPMonitor_Parmeter();
        ConfigBackup_SetSnapshotSaver([] { test::WriteBytes("/vandik_data/oiddata.conf", {1, 2, 3}); });
    }
    void TearDown() override {
        server.reset();
        ConfigBackup_SetSnapshotSaver({});
        board.reset();
        Resource_Reset();
    }
    // Sends one bare command to the card and waits until it has been handled.
    void Order(const std::string& command) {
        server.emplace(0, 500);
        ASSERT_NE(0, server->port());
        const ToolRun run = RunChassisSend({"--port", std::to_string(server->port()), command});
        EXPECT_EQ(0, run.status) << run.output;
        server.reset();
    }

    test::TestEnvironment env;
    std::optional<test::SimBoard> board;
    std::optional<test::CardServer> server;
};

TEST_F(ChassisSendBackupTest, AnExportLeavesTheArchiveInTheFtpFolderAndAnImportTakesItBack) {
    env.FailOnUnexpectedErrors();
    constexpr test::MarkedSettings kExported{555000, 5555};
    constexpr test::MarkedSettings kLater{666000, 6666};
    test::ApplyMarks(*GetQAMPara_Handle(), *GetQAMIPMonitor_Handle(), kExported);
    Order("IPCOMM_SEND_EXPORTPARA");
    EXPECT_TRUE(test::FileExists("/sim/ftp/6conf.tar"));
    EXPECT_FALSE(test::FileExists("/vandik_data/oiddata.conf"));

    test::ApplyMarks(*GetQAMPara_Handle(), *GetQAMIPMonitor_Handle(), kLater);
    DATA_Save();
    Order("SEND_BACKUPPARA");
    EXPECT_EQ(0, test::LiveMarks({kExported, kLater}));
    EXPECT_EQ((std::vector<U8>{1, 2, 3}), test::ReadBytes("/vandik_data/oiddata.conf"));
    EXPECT_EQ((std::vector<std::string>{"ftpput 127.0.0.16 6conf.tar", "ftpget 127.0.0.16 6conf.tar"}),
              Command_Recorded());
}

}  // namespace
}  // namespace hx

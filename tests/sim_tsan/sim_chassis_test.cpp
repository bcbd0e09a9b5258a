// The simulated chassis itself: what it prints about each command's payload
// (lengths checked against what arrived), how per-command and per-board
// answers combine, and the bounded wait for a peer that is not listening yet.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_cmd.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "platform/resource.h"
#include "sim/chassis/chassis_decode.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "sim/input_card_messages.h"
#include "support/test_env.h"

namespace hx {
namespace {

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::vector<U8> EitRecord(U16 index, U16 serviceId, const std::string& name) {
    std::vector<U8> record(180, 0);
    record[0] = 1;
    record[2] = 5;  // source slot
    PutLe16(&record[10], 0);
    PutLe16(&record[16], index);
    PutLe16(&record[18], 7);  // program
    PutLe16(&record[22], 0x55);
    PutLe16(&record[24], serviceId);
    PutLe16(&record[26], 0x0101);
    record[30] = static_cast<U8>(name.size());
    std::copy(name.begin(), name.end(), record.begin() + 32);
    record[96] = 3;
    return record;
}

struct DecodeCase {
    const char* name;
    U16 command;
    std::vector<U8> data;
    std::vector<const char*> expected;  // each found in the printed text
};

TEST(SimChassisDecodeTest, EachCommandsPayloadIsPrintedAndLengthsAreChecked) {
    TResource_TS eitBoard{};
    eitBoard.u8SlotID = 7;
    eitBoard.u8BoardType = kEitBoardType;
    eitBoard.u8EitEnable = 1;
    eitBoard.u32IPAddress = 0x7F000027;
    eitBoard.u16OutputChannelNum = 16;
    std::copy_n("EIT Board", 9, eitBoard.au8BoardDescriptor);
    const ResourceBytes resource = Resource_Serialize(eitBoard);
    std::vector<U8> eitList = {1, 0, 0, 0};
    const std::vector<U8> record = EitRecord(0, 101, "HX News");
    eitList.insert(eitList.end(), record.begin(), record.end());
    std::vector<U8> upgrade(40, 0);
    upgrade[0] = 3;
    upgrade[14] = 4;
    upgrade[15] = 10;
    PutLe32(&upgrade[8], 2049);

    const std::vector<DecodeCase> cases = {
        {"resource record", IPCOMM_SEND_RESOUR, std::vector<U8>(resource.begin(), resource.end()),
         {"slot 7, board type 65", "address 127.0.0.39", "16 output channels", "'EIT Board'", "EIT enable 1"}},
        {"short resource record", IPCOMM_SEND_RESOUR, std::vector<U8>(1023), {"1023 bytes (1024 expected)"}},
        {"EIT list", IPCOMM_SEND_EITINFO, eitList,
         {"EIT list: 1 records", "#0 service 101 (input 85) 'HX News'", "program 7", "TS id 0x0101", "slot 5",
          "EIT version 3"}},
        {"EIT list shorter than its count", IPCOMM_SEND_EITINFO, std::vector<U8>(eitList.begin(), eitList.end() - 1),
         {"EIT list: 1 records", "183 bytes, 184 expected"}},
        {"empty EIT list", IPCOMM_SEND_EITINFO, {0, 0, 0, 0}, {"EIT list: 0 records"}},
        {"end of the EIT list", IPCOMM_SEND_EITINFO_OVER, {}, {"end of the EIT list"}},
        {"plug mask", IPCOMM_SEND_SUBPLUGFLAG, {0xA8, 0x00}, {"plug mask 0x00a8: slots 3 5 7"}},
        {"short plug mask", IPCOMM_SEND_SUBPLUGFLAG, {0xA8}, {"1 bytes (2 expected)"}},
        {"LED normal", IPCOMM_SEND_INDSTATUS, {1}, {"LED status 1 (normal, green)"}},
        {"LED alarm", IPCOMM_SEND_INDSTATUS, {2}, {"LED status 2 (alarm, red)"}},
        {"upgrade progress", IPCOMM_SEND_PROCESS_UPGRADE, upgrade, {"slot 3, step 4 of 10", "error 2049"}},
        {"short upgrade progress", IPCOMM_SEND_PROCESS_UPGRADE, std::vector<U8>(39), {"39 bytes (40 expected)"}},
        {"network settings", IPCOMM_SEND_IP,
         {0x10, 0, 0, 0x7F, 0x01, 0, 0, 0x7F, 0, 0, 0, 0xFF, 0xFE, 0, 0, 0x7F},
         {"back board 127.0.0.16, board 127.0.0.1, netmask 255.0.0.0, gateway 127.0.0.254"}},
        {"image size", IPCOMM_FTP_UPGRADE, {0x00, 0x10, 0x00, 0x00}, {"image of 1048576 bytes"}},
        {"text ends at a zero byte", IPCOMM_SEND_IPERF3_TO_SUBB, {'i', 'p', 0, 'x'}, {"text 'ip'"}},
        {"bare command", IPCOMM_SEND_TSP_MUX_PROCESS, {}, {"no data"}},
        {"other data as hex", IPCOMM_SEND_DATA, {1, 0xAB}, {"2 bytes: 01 ab"}},
        {"records of the wrong size", IPCOMM_SEND_PROGRAM, {1, 2, 3}, {"programs: 1 records", "3 bytes"}},
    };
    for (const DecodeCase& c : cases) {
        const std::string text = Joined(SimChassis_DescribePayload(c.command, c.data));
        for (const char* expected : c.expected) {
            EXPECT_NE(std::string::npos, text.find(expected)) << c.name << ": '" << expected << "' in\n" << text;
        }
    }
    EXPECT_EQ("IPCOMM_SEND_RESOUR (257)", SimChassis_CommandText(257));
    EXPECT_EQ("unknown (300)", SimChassis_CommandText(300));
}

TEST(SimChassisDecodeTest, ThePlansInputCardMessagesDecodeToTheirPrograms) {
    const std::vector<SimPlanMessage> messages = SimChassis_InputCardMessages(SimChassisPlan{});
    ASSERT_EQ(6u, messages.size());
    const std::string programs = Joined(SimChassis_DescribePayload(messages[1].command, messages[1].payload));
    EXPECT_NE(std::string::npos, programs.find("programs: 3 records")) << programs;
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        EXPECT_NE(std::string::npos, programs.find(std::string("'") + program.name + "' (provider 'HX Sim')"))
            << programs;
    }
    const std::string pids = Joined(SimChassis_DescribePayload(messages[2].command, messages[2].payload));
    EXPECT_NE(std::string::npos, pids.find("PIDs: 9 records")) << pids;
    EXPECT_NE(std::string::npos, pids.find("ES PID 0x122 of program 3 (key 32, stream type 0x04)")) << pids;
}

class SimChassisAnswerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chassis.Start({5, 7}, 0)); }

    IPCommExchange Exchange(U32 slot, U16 command) {
        U16 reply = 0;
        return IPComm_ExchangeOnce(SimBoardAddress(slot), chassis.port(), 3, command, nullptr, 0, 0, 1, &reply);
    }

    // The board threads print too: lines are guarded, and outlive the chassis.
    void Record() {
        chassis.SetPrinter([this](const std::string& line) {
            std::lock_guard lock(linesMutex);
            lines.push_back(line);
        });
    }
    std::string Printed() {
        std::lock_guard lock(linesMutex);
        return Joined(lines);
    }

    test::TestEnvironment env;
    std::mutex linesMutex;
    std::vector<std::string> lines;
    SimChassis chassis;
};

TEST_F(SimChassisAnswerTest, ACommandsAnswerComesBeforeTheBoards) {
    RunProfile profile = Profile();
    profile.interBoardReplyTimeoutMs = 100;  // the stalled exchange ends here
    SetProfile(profile);
    chassis.SetCommandAnswer(IPCOMM_SEND_EITINFO, SimAnswer::Error);
    chassis.SetCommandAnswer(IPCOMM_SEND_EITINFO_OVER, SimAnswer::Close, 1);
    chassis.SetCommandAnswer(IPCOMM_SEND_INDSTATUS, SimAnswer::Stall, 1);
    chassis.SetAnswer(7, SimAnswer::Close);
    EXPECT_EQ(IPCommExchange::ErrorReply, Exchange(5, IPCOMM_SEND_EITINFO));
    EXPECT_EQ(IPCommExchange::ErrorReply, Exchange(7, IPCOMM_SEND_EITINFO)) << "the command's answer wins";
    EXPECT_EQ(IPCommExchange::Closed, Exchange(5, IPCOMM_SEND_EITINFO_OVER));
    EXPECT_EQ(IPCommExchange::Success, Exchange(5, IPCOMM_SEND_EITINFO_OVER)) << "the count ran out";
    EXPECT_EQ(IPCommExchange::Closed, Exchange(7, IPCOMM_SEND_EITINFO_OVER)) << "then the board's answer";
    EXPECT_EQ(IPCommExchange::TimedOut, Exchange(5, IPCOMM_SEND_INDSTATUS)) << "stalled until the sender gives up";
    EXPECT_EQ(IPCommExchange::Success, Exchange(5, IPCOMM_SEND_INDSTATUS));
    ASSERT_TRUE(chassis.Refuse(5, true));
    EXPECT_EQ(IPCommExchange::Refused, Exchange(5, IPCOMM_SEND_INDSTATUS)) << "not listening";
    // Only the acknowledged messages are recorded.
    const std::vector<SimReceivedMessage> received = chassis.Take();
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(IPCOMM_SEND_EITINFO_OVER, received[0].command);
    EXPECT_EQ(IPCOMM_SEND_INDSTATUS, received[1].command);
}

TEST_F(SimChassisAnswerTest, SendWaitsBoundedForAPeerThatIsNotListening) {
    Record();
    ASSERT_TRUE(chassis.Refuse(7, true));
    const std::uint64_t before = env.clock().MonotonicMicros();
    const SimSendResult result = chassis.Send(5, SimBoardAddress(7), chassis.port(), IPCOMM_SEND_OVER, {}, 2000);
    EXPECT_EQ(IPCommExchange::Refused, result.outcome);
    EXPECT_EQ(2'000'000u, env.clock().MonotonicMicros() - before) << "8 repeats 250 ms apart";
    EXPECT_NE(std::string::npos, Printed().find("packet 1 of 1, 0 bytes: refused (not listening)")) << Printed();

    // A peer that listens takes a message of several packets, each acknowledged.
    ASSERT_TRUE(chassis.Refuse(7, false));
    const std::vector<U8> data(3000, 0x5A);
    const SimSendResult sent = chassis.Send(5, SimBoardAddress(7), chassis.port(), IPCOMM_SEND_DATA, data, 2000);
    EXPECT_TRUE(sent.ok());
    EXPECT_EQ(3u, sent.packets);
    const std::vector<SimReceivedMessage> received = chassis.Take();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(data, received[0].data);
    EXPECT_EQ(5, received[0].fromSlot);
}

// An input card told to drop a channel it feeds answers with the delete
// orders of its programs there, then the apply command, sent to the card (here
// board 7 stands in for the card); held answers go out when released, a
// silent card sends nothing, and a channel it no longer feeds gets nothing.
TEST_F(SimChassisAnswerTest, AnInputCardAnswersTheDropOfAChannelItFeeds) {
    SimChassisPlan plan;
    plan.inputSlot = 5;
    plan.cardAddress = SimBoardAddress(7);
    plan.port = chassis.port();
    const std::vector<SimMessage> answer = SimChassis_InputCardDropMessages(plan);
    ASSERT_EQ(2u, answer.size());
    EXPECT_EQ(IPCOMM_DEL_PROGRAM, answer[0].command);
    EXPECT_EQ(1u + 3 * kOrderBytes, answer[0].payload.size());
    EXPECT_EQ(3, answer[0].payload[0]);
    EXPECT_EQ(IPCOMM_SEND_TSP_MUX_PROCESS, answer[1].command);

    const auto drop = [&](U32 channel) {
        U8 data[4];
        PutLe32(data, channel);
        U16 reply = 0;
        return IPComm_ExchangeOnce(SimBoardAddress(5), chassis.port(), 3, IPCOMM_SEND_DEL_DESTCHANNEL, data,
                                   sizeof data, 0, 1, &reply);
    };
    const auto commandsAtTheCard = [&] {
        std::vector<U16> commands;
        for (const SimReceivedMessage& message : chassis.Take()) {
            if (message.slot == 7) {
                EXPECT_EQ(5, message.fromSlot);
                commands.push_back(message.command);
            }
        }
        return commands;
    };
    const std::vector<U16> deleteThenApply = {IPCOMM_DEL_PROGRAM, IPCOMM_SEND_TSP_MUX_PROCESS};

    chassis.SetChannelFeed(5, 0, plan.cardAddress, plan.port, answer);
    ASSERT_EQ(IPCommExchange::Success, drop(1));
    ASSERT_EQ(IPCommExchange::Success, drop(0x10000)) << "channel 0 in 16 bits, but not in 32";
    ASSERT_EQ(IPCommExchange::Success, drop(0));
    ASSERT_TRUE(chassis.WaitForMessages(5));  // three drops, then the answer
    EXPECT_EQ(deleteThenApply, commandsAtTheCard());
    ASSERT_EQ(IPCommExchange::Success, drop(0));
    ASSERT_TRUE(chassis.WaitForMessages(1));
    EXPECT_TRUE(commandsAtTheCard().empty()) << "the channel is no longer fed";

    chassis.SetDropMode(SimDropMode::Hold);
    chassis.SetChannelFeed(5, 0, plan.cardAddress, plan.port, answer);
    ASSERT_EQ(IPCommExchange::Success, drop(0));
    ASSERT_TRUE(chassis.WaitForMessages(1));
    EXPECT_TRUE(commandsAtTheCard().empty());
    EXPECT_EQ(1u, chassis.ReleaseDrops());
    EXPECT_EQ(deleteThenApply, commandsAtTheCard()) << "sent in the releasing thread";
    EXPECT_EQ(0u, chassis.ReleaseDrops());

    chassis.SetDropMode(SimDropMode::Silent);
    chassis.SetChannelFeed(5, 0, plan.cardAddress, plan.port, answer);
    ASSERT_EQ(IPCommExchange::Success, drop(0));
    ASSERT_TRUE(chassis.WaitForMessages(1));
    EXPECT_EQ(0u, chassis.ReleaseDrops());
    EXPECT_TRUE(commandsAtTheCard().empty());
}

}  // namespace
}  // namespace hx

// The serial link to the back board, end to end over a pseudo-terminal with
// the simulated back board on its master side.
#include "platform/uart_comm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/command_runner.h"
#include "platform/board_state_fixture.h"
#include "platform/network.h"
#include "sim/sim_back_board.h"

namespace hx::test {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr U32 kSlot = 3;
constexpr std::time_t kWallSeconds = 1'767'225'600;

class SerialLinkTest : public BoardStateTest {
protected:
    SerialLinkTest() {
        // Answers come at once; only a silent back board lets the time-out run.
        SetReadTimeout(2000);
        env_.clock().SetWallSeconds(kWallSeconds);
        EXPECT_TRUE(board_.Start(env_.Path(Profile().serialDevice)));
        EXPECT_EQ(UartComm_init(), 0u);
    }
    ~SerialLinkTest() override {
        UartComm_Close();
        board_.Stop();
    }
    void SetReadTimeout(U32 milliseconds) {
        EditProfile([&](RunProfile& profile) { profile.serialReadTimeoutMs = milliseconds; });
    }
    U32 TenMillisecondPauses() {
        const std::vector<std::uint64_t> sleeps = env_.clock().SleepHistory();
        return static_cast<U32>(std::count(sleeps.begin(), sleeps.end(), kUartGetIpGapMicros));
    }
    // After the retries ran out: the run profile's addresses, no flag.
    void ExpectFallback() {
        EXPECT_EQ(Status_GetIPReqflag(), 0);
        EXPECT_EQ(Resource_getBoardIPAddress(16), 0x7F00010Au);                // 127.0.1.10
        EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F00010Bu + kSlot);  // 127.0.1.14
        EXPECT_EQ(Reg(kRegOwnIpFilter), 0x7F00010Eu);
        EXPECT_THAT(Command_Recorded(), ElementsAre("ifconfig eth0 127.0.1.14 netmask 255.255.255.0"));
        EXPECT_THAT(env_.Console(), HasSubstr("[ERROR][SYS]"));
        EXPECT_THAT(env_.Console(), HasSubstr("Uart Comm Error!"));
    }

    SimBackBoard board_;
};

TEST_F(SerialLinkTest, BackBoardSettingsAreApplied) {
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
    EXPECT_THAT(Command_Recorded(),
                ElementsAre("ifconfig eth0 127.0.0.1 netmask 255.255.255.0", "ifconfig eth0 netmask 255.0.0.0",
                            "route del default", "route add default gw 127.0.0.254", "date -s @1767225600"));
    EXPECT_EQ(Reg(kRegOwnIpFilter), 0x7F000001u);
    EXPECT_EQ(Reg(kRegGateway), 0x7F0000FEu);
    EXPECT_EQ(Resource_getBoardIPAddress(16), SimBackBoard::kBackBoardAddress);
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F000001u);
    EXPECT_EQ(Status_GetIPReqflag(), 1);
    EXPECT_EQ(board_.networkRequests(), 1u);

    // Asked once: a later call finds the flag and leaves the line alone.
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
    EXPECT_EQ(board_.networkRequests(), 1u);
}

TEST_F(SerialLinkTest, OwnAddressIsWhereThePcRunListens) {
    EditProfile([](RunProfile& profile) { profile.listenAddress = "127.0.0.5"; });
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F000005u);
}

TEST_F(SerialLinkTest, GivenSettingsWithoutClockLeaveTheDateAlone) {
    board_.SetNetworkSettings(SerialNetworkSettings{0x0A000010, 0x0A000021, 0xFFFFFF00, 0x0A000001, 0});
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
    EXPECT_THAT(Command_Recorded(),
                ElementsAre("ifconfig eth0 10.0.0.33 netmask 255.255.255.0", "ifconfig eth0 netmask 255.255.255.0",
                            "route del default", "route add default gw 10.0.0.1"));
    EXPECT_EQ(Resource_getBoardIPAddress(16), 0x0A000010u);
}

TEST_F(SerialLinkTest, BrokenAnswersAreRetried) {
    for (SimBackBoard::Fault fault : {SimBackBoard::Fault::BadCrc, SimBackBoard::Fault::WrongSlot}) {
        SCOPED_TRACE(static_cast<int>(fault));
        Resource_Reset();
        const U32 before = board_.networkRequests();
        const U32 pausesBefore = TenMillisecondPauses();
        board_.SetFault(fault, 3);
        EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
        EXPECT_EQ(board_.networkRequests() - before, 4u);
        EXPECT_EQ(TenMillisecondPauses() - pausesBefore, 3u);
        EXPECT_EQ(Status_GetIPReqflag(), 1);
    }
}

TEST_F(SerialLinkTest, AnswersThatNeverCheckOutEndInTheFallback) {
    struct Case {
        const char* name;
        SimBackBoard::Fault fault;
        SerialNetworkSettings settings;
    };
    const SerialNetworkSettings good = SimBackBoard::LoopbackSettings();
    auto with = [&](auto change) {
        SerialNetworkSettings settings = good;
        change(settings);
        return settings;
    };
    const Case cases[] = {
        {"bad CRC", SimBackBoard::Fault::BadCrc, good},
        {"another slot", SimBackBoard::Fault::WrongSlot, good},
        {"own 0.0.0.0", SimBackBoard::Fault::None, with([](auto& s) { s.ownIP = 0; })},
        {"back board multicast", SimBackBoard::Fault::None, with([](auto& s) { s.backBoardIP = 0xE0000001; })},
        {"broken netmask", SimBackBoard::Fault::None, with([](auto& s) { s.netmask = 0xFF00FF00; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Resource_Reset();
        Command_ClearRecorded();
        env_.TakeConsole();
        const U32 before = board_.networkRequests();
        board_.SetFault(c.fault);
        board_.SetNetworkSettings(c.settings);

        EXPECT_EQ(UartComm_GetIpAddr(kSlot), 2u);
        EXPECT_EQ(board_.networkRequests() - before, 50u);
        ExpectFallback();
    }
}

TEST_F(SerialLinkTest, SilentBackBoardGetsFiftyRequestsTenMillisecondsApart) {
    SetReadTimeout(1);
    board_.SetFault(SimBackBoard::Fault::Silent);
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 2u);
    EXPECT_TRUE(board_.WaitForFrames(50));
    EXPECT_EQ(board_.networkRequests(), 50u);
    EXPECT_EQ(TenMillisecondPauses(), 49u);
    ExpectFallback();
}

TEST_F(SerialLinkTest, WithoutTheLineTheFallbackComesAtOnce) {
    UartComm_Close();
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 2u);
    EXPECT_EQ(board_.networkRequests(), 0u);
    ExpectFallback();
}

TEST_F(SerialLinkTest, FallbackAddressesOfTheCard) {
    EXPECT_EQ(CardProfile().fallbackBackBoardAddress, 0xC0A8010Au);  // 192.168.1.10
    EXPECT_EQ(CardProfile().fallbackOwnAddressBase, 0xC0A8010Bu);    // 192.168.1.11 + slot
    EXPECT_EQ(CardProfile().serialDevice, "/dev/ttyPS1");
    EXPECT_EQ(CardProfile().serialReadTimeoutMs, 100u);
}

TEST_F(SerialLinkTest, ErrorCodeIsSentUntilAcknowledged) {
    EXPECT_EQ(UartComm_SendErrorCodeToBB(1540), 0u);
    EXPECT_THAT(board_.acknowledgedErrorCodes(), ElementsAre(1540u));
    EXPECT_EQ(board_.errorCodeFrames(), 1u);

    SetReadTimeout(100);
    board_.SetFault(SimBackBoard::Fault::Silent, 3);
    EXPECT_EQ(UartComm_SendErrorCodeToBB(2049), 0u);
    EXPECT_EQ(board_.errorCodeFrames(), 5u);
    EXPECT_THAT(board_.acknowledgedErrorCodes(), ElementsAre(1540u, 2049u));

    board_.SetFault(SimBackBoard::Fault::WrongSlot, 2);  // an answer for another card is no acknowledgement
    EXPECT_EQ(UartComm_SendErrorCodeToBB(7), 0u);
    EXPECT_EQ(board_.errorCodeFrames(), 8u);
}

TEST_F(SerialLinkTest, ErrorCodeGivesUpAfterSeventyTwoSends) {
    SetReadTimeout(1);
    board_.SetFault(SimBackBoard::Fault::Silent);
    EXPECT_EQ(UartComm_SendErrorCodeToBB(1540), 1283u);
    EXPECT_TRUE(board_.WaitForFrames(72));
    EXPECT_EQ(board_.errorCodeFrames(), 72u);
    EXPECT_THAT(board_.acknowledgedErrorCodes(), IsEmpty());
    EXPECT_THAT(env_.Console(), HasSubstr("Send err code failed, time out cnt 72"));
}

TEST_F(SerialLinkTest, StartUpHookRunsOnlyOnTheSimulatedBoard) {
    EditProfile([](RunProfile& profile) { profile.backend = HardwareBackend::Card; });
    EXPECT_FALSE(SimBackBoard_Start());
    EXPECT_EQ(SimBackBoard_Instance(), nullptr);
}

class StartUpHookTest : public BoardStateTest {};

TEST_F(StartUpHookTest, SimulatedBackBoardAnswersOnTheProfileDevice) {
    ASSERT_TRUE(SimBackBoard_Start());
    SimBackBoard* board = SimBackBoard_Instance();
    ASSERT_NE(board, nullptr);
    const std::string link = env_.Path(Profile().serialDevice);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), board->slavePath());
    EXPECT_TRUE(SimBackBoard_Start());  // a second call finds it running
    EXPECT_EQ(SimBackBoard_Instance(), board);

    EXPECT_EQ(UartComm_init(), 0u);
    EXPECT_EQ(UartComm_GetIpAddr(kSlot), 0u);
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F000001u);

    UartComm_Close();
    board->Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(SimBackBoard_Instance(), nullptr);
}

TEST(SerialDevice, AMissingOrNonTerminalDeviceIsRefused) {
    TestEnvironment env;
    EXPECT_EQ(UartComm_init(), 1u);
    EXPECT_THAT(env.Console(), HasSubstr("Can't open /sim/ttyPS1"));
    env.WriteText("/sim/ttyPS1", "not a terminal");
    EXPECT_EQ(UartComm_init(), 1u);
    EXPECT_THAT(env.Console(), HasSubstr("/sim/ttyPS1 is no serial port"));
}

}  // namespace
}  // namespace hx::test

// The resource announcement that follows new network settings (514) runs in
// a worker of its own: a back board that accepts and never answers holds that
// worker, not the inter-board server, and a newer 514 takes the place of a
// running announcement. Run under ThreadSanitizer by the third stage of
// ./scripts/test.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chassis/ipcomm_messages.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_server.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "platform/chassis_info.h"
#include "platform/resource.h"
#include "sim/chassis/sim_chassis.h"
#include "support/card_server.h"
#include "support/scripted_peer.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr U32 kOwnAddress = 0x7F000023;       // 127.0.0.35
constexpr U32 kLaterOwnAddress = 0x7F000024;  // 127.0.0.36
constexpr U32 kNetmask = 0xFF000000;
constexpr U32 kGateway = 0x7F0000FE;
// Long enough that a server held by the silent back board could never answer
// the next request within the client's wait.
constexpr U32 kReplyTimeoutMs = 120'000;
constexpr U32 kClientWaitMs = 20'000;

std::vector<U8> Settings(U32 backBoard, U32 own) {
    std::vector<U8> bytes(16);
    PutLe32(bytes.data(), backBoard);
    PutLe32(bytes.data() + 4, own);
    PutLe32(bytes.data() + 8, kNetmask);
    PutLe32(bytes.data() + 12, kGateway);
    return bytes;
}

// Waits (real time, bounded) for a state another thread brings about.
bool WaitUntil(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class AnnouncementTest : public ::testing::Test {
protected:
    void SetUp() override {
        Resource_Reset();
        Status_Init();
        ASSERT_TRUE(backBoard.Start({kBackBoardSlot}, 0));
        backBoard.SetAnswer(kBackBoardSlot, SimAnswer::Stall);
        RunProfile profile = Profile();
        profile.interBoardPort = backBoard.port();
        profile.interBoardReplyTimeoutMs = kReplyTimeoutMs;
        SetProfile(profile);
    }
    void TearDown() override {
        // The held exchange ends when the silent back board goes; the
        // cancelled announcement then stops instead of trying again.
        IPComm_CancelAnnouncement();
        backBoard.Stop();
        IPComm_WaitAnnouncement();
        Resource_Reset();
        ChassisInfo_Reset();
    }

    bool AnnouncementHeld() {
        return WaitUntil([this] { return backBoard.Exchanges(kBackBoardSlot) >= 1; });
    }

    test::TestEnvironment env;
    test::SimBoard board;
    SimChassis backBoard;  // slot 16 at 127.0.0.16, accepting and never answering
};

TEST_F(AnnouncementTest, ASilentBackBoardAfter514DoesNotDelayTheNextRequestsReply) {
    test::CardServer server(backBoard.port(), Profile().interBoardServerTimeoutMs);
    ASSERT_EQ(backBoard.port(), server.port());
    auto ask = [&server](U16 command, const std::vector<U8>& data) {
        return test::ExchangeWithCard(server.port(), {test::WirePacket(kBackBoardSlot, command, data, 0, 1)},
                                      kClientWaitMs);
    };

    EXPECT_EQ(IPCOMM_SUCCESS_CMD, ask(IPCOMM_SEND_IP, Settings(SimBoardAddress(kBackBoardSlot), kOwnAddress)));
    ASSERT_TRUE(AnnouncementHeld()) << "the record went to the back board, which holds it";

    EXPECT_EQ(IPCOMM_SUCCESS_CMD, ask(IPCOMM_SEND_SUBPLUGFLAG, {0x18, 0x00}))
        << "the server answers while the announcement waits";
    EXPECT_EQ(0x18, Status_GetSubBoardPlugStatus());
    EXPECT_EQ(kOwnAddress, Resource_getSelfHandle()->u32IPAddress) << "the settings took effect at once";
}

TEST_F(AnnouncementTest, ANewerAnnouncementSupersedesARunningOne) {
    SimChassis movedBackBoard;  // the back board at its new address (that of slot 5)
    ASSERT_TRUE(movedBackBoard.Start({5}, backBoard.port()));

    std::vector<U8> first = Settings(SimBoardAddress(kBackBoardSlot), kOwnAddress);
    ASSERT_EQ(0u, IPComm_ChangeIP(kBackBoardSlot, first.data()));
    ASSERT_TRUE(AnnouncementHeld());
    std::vector<U8> second = Settings(SimBoardAddress(5), kLaterOwnAddress);
    ASSERT_EQ(0u, IPComm_ChangeIP(kBackBoardSlot, second.data()));

    EXPECT_EQ(1u, backBoard.Exchanges(kBackBoardSlot)) << "one send of the first announcement, held";
    backBoard.Stop();  // releases the held exchange
    IPComm_WaitAnnouncement();

    const std::vector<SimReceivedMessage> received = movedBackBoard.Take();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(IPCOMM_SEND_RESOUR, received[0].command);
    ASSERT_EQ(kResourceSize, received[0].data.size());
    const std::optional<TResource_TS> record = Resource_Parse(received[0].data);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(kLaterOwnAddress, record->u32IPAddress) << "the record as the newer 514 left it";
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("Send Resource To BackBoard:0x7f000010 superseded")) << console;
    EXPECT_EQ(std::string::npos, console.find("Fail")) << "no failure reported for a superseded announcement";
    movedBackBoard.Stop();
}

}  // namespace
}  // namespace hx

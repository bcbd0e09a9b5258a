// The card's inter-board server thread over loopback TCP, run under
// ThreadSanitizer by the third stage of ./scripts/test (and with the other
// sanitizers in the first): its replies to good and broken peers, a stop
// during the set-up retry, and client exchanges in other threads while the
// server joins a multi-packet message.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "chassis/ipcomm_server.h"
#include "chassis/ipcomm_socket.h"
#include "core/run_profile.h"
#include "sim/chassis/sim_chassis.h"
#include "support/card_server.h"
#include "support/scripted_peer.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr std::uint64_t kSetupRetryMicros = 5'000'000;

// A socket listening where the server wants to, so its set-up fails.
int OccupyPort(U16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, Profile().listenAddress.c_str(), &address.sin_addr);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    EXPECT_EQ(0, listen(fd, 4));
    return fd;
}

// A block of slot 16 (the back board).
std::vector<U8> Packet(U16 command, const std::vector<U8>& data = {}, U32 index = 0, U32 count = 1) {
    return test::WirePacket(16, command, data, index, count);
}

TEST(IPServerTest, AnswersEachPacketAndSurvivesBrokenPeers) {
    test::TestEnvironment env;
    test::CardServer server;
    ASSERT_NE(0, server.port());
    auto exchange = [&](const std::vector<std::vector<U8>>& pieces) { return test::ExchangeWithCard(server.port(), pieces); };
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, exchange({Packet(IPCOMM_SEND_DATA, {1, 2, 3})}));
    for (U16 command : {0, 1, 2, 266, 272, 276, 277, 279, 280, 287, 515, 2068, 3847}) {
        EXPECT_EQ(IPCOMM_DATA_ERROR, exchange({Packet(command)})) << command;
    }
    const std::vector<U8> whole = Packet(IPCOMM_SEND_DATA, {1, 2, 3, 4, 5});
    EXPECT_EQ(IPCOMM_SUCCESS_CMD,
              exchange({std::vector<U8>(whole.begin(), whole.begin() + 10), std::vector<U8>(whole.begin() + 10, whole.end())}))
        << "a packet in two pieces parses";
    EXPECT_EQ(IPCOMM_DATA_ERROR, exchange({std::vector<U8>(whole.begin(), whole.begin() + 19)}));
    EXPECT_EQ(IPCOMM_DATA_ERROR, exchange({Packet(IPCOMM_SEND_SUBPLUGFLAG, {1})})) << "513 shorter than 2";
    EXPECT_EQ(IPCOMM_DATA_ERROR, exchange({Packet(IPCOMM_SEND_IP, std::vector<U8>(15))})) << "514 shorter than 16";
    EXPECT_EQ(0, exchange({Packet(IPCOMM_SEND_TS, {1}, 0, 0)})) << "a configuration packet of count 0 gets no reply";
    {
        const int early = test::ConnectToCard(server.port());  // closes before the reply
        IPComm_WriteBlock(early, Packet(IPCOMM_SEND_DATA), 1000);
        close(early);
    }
    {
        const int stalled = test::ConnectToCard(server.port());  // says nothing
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, exchange({Packet(IPCOMM_SEND_DATA)})) << "served after the stalled peer's time-out";
        close(stalled);
    }
}

TEST(IPServerRaceTest, AStopDuringTheSetUpRetryThenAStartLeavesOneThread) {
    test::TestEnvironment env;
    env.clock().SetAutoAdvance(false);
    const U16 port = SimChassis_FreeLoopbackPort();
    ASSERT_NE(0, port);
    RunProfile profile = Profile();
    profile.interBoardPort = port;
    SetProfile(profile);
    const int blocker = OccupyPort(port);

    ASSERT_EQ(0u, IPServer_Start());
    env.clock().WaitForSleepers(1);  // in the set-up retry
    EXPECT_EQ(1u, IPServer_Threads());

    // Stop, then start again at once, as a caller would; the stop returns
    // only once the retrying thread has seen it and gone.
    std::atomic<bool> restarted{false};
    std::thread caller([&] {
        IPServer_Stop();
        EXPECT_EQ(0u, IPServer_Threads()) << "the stopped thread has gone";
        EXPECT_EQ(0u, IPServer_Start());
        restarted = true;
    });
    while (!restarted) {
        env.clock().Advance(kSetupRetryMicros);
        std::this_thread::yield();
    }
    caller.join();

    close(blocker);
    env.clock().SetAutoAdvance(true);
    env.clock().Advance(kSetupRetryMicros);
    ASSERT_EQ(port, IPServer_WaitListening());
    EXPECT_EQ(1u, IPServer_Threads()) << "one thread on the listening socket";
    EXPECT_EQ(0u, IPServer_Start()) << "a start while it runs adds nothing";
    EXPECT_EQ(1u, IPServer_Threads());
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, test::ExchangeWithCard(port, {Packet(IPCOMM_SEND_DATA, {1})}));
    IPServer_Stop();
    EXPECT_EQ(0u, IPServer_Threads());
}

// Client exchanges in three threads get replies numbered as packets of a
// longer message, while the server thread joins real multi-packet messages:
// the reassembly store is the server thread's alone.
TEST(IPServerRaceTest, ClientRepliesAndServerReassemblyNeverShareState) {
    test::TestEnvironment env;
    IPComm_ResetTmpData();
    test::CardServer server(0, Profile().interBoardServerTimeoutMs);
    ASSERT_NE(0, server.port());
    test::ScriptedPeer peer(test::WirePacket(16, IPCOMM_SUCCESS_CMD, {7}, 1, 3));

    constexpr int kRounds = 30;
    std::atomic<int> clientFailures{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 3; ++t) {
        clients.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                U16 command = 0;
                if (IPComm_ExchangeOnce(test::ScriptedPeer::kAddress, peer.port(), 9, IPCOMM_SEND_DATA, nullptr, 0, 0,
                                        1, &command) != IPCommExchange::Success) {
                    clientFailures.fetch_add(1);
                }
            }
        });
    }
    // Two-packet messages 258 from slot 5 (joined and freed by the server).
    int serverFailures = 0;
    for (int i = 0; i < kRounds; ++i) {
        for (U32 index = 0; index < 2; ++index) {
            const std::vector<U8> packet =
                test::WirePacket(5, IPCOMM_SEND_DATA, std::vector<U8>(index == 0 ? 1400 : 10, 0x22), index, 2);
            serverFailures += test::ExchangeWithCard(server.port(), {packet}, 10'000) == IPCOMM_SUCCESS_CMD ? 0 : 1;
        }
    }
    for (std::thread& client : clients) {
        client.join();
    }
    IPServer_Stop();  // the store is read once its thread has gone
    EXPECT_EQ(0, clientFailures.load());
    EXPECT_EQ(0, serverFailures);
    for (const ST_VK_IPCOMM_TMPData& slot : g_IPComm_Tmpdata) {
        EXPECT_EQ(0, slot.u8OccupyFlag) << "every joined message was freed, nothing else was stored";
    }
}

}  // namespace
}  // namespace hx

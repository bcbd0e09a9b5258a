// The client exchange against simulated chassis boards over real loopback
// TCP. The card's own server is in ipcomm_server_test.cpp.
#include <gtest/gtest.h>

#include <vector>

#include "chassis/ipcomm.h"
#include "chassis/ipcomm_reassembly.h"
#include "chassis/ipcomm_socket.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "support/ipcomm_recorder.h"
#include "support/scripted_peer.h"
#include "support/test_env.h"

namespace hx {
namespace {

struct ClientCase {
    const char* name;
    SimAnswer answer;
    U32 answerCount;
    bool refuse;
    U32 length;
    S32 result;
    U32 exchanges;
};

TEST(IPCommClient, AttemptsFollowTheWholeCallBudget) {
    const std::vector<ClientCase> cases = {
        {"always error", SimAnswer::Error, SimChassis::kForever, false, 5, VK_ERR_IPCOMM_TIME_OUT, 3},
        {"refused", SimAnswer::Success, 0, true, 5, VK_ERR_SOCKET_CONNECT_FAIL, 0},
        {"error error success", SimAnswer::Error, 2, false, 5, VK_SUCCESS, 3},
        {"failures spread over packets", SimAnswer::Error, 2, false, 3000, VK_SUCCESS, 5},
        {"closed without reply", SimAnswer::Close, SimChassis::kForever, false, 1, VK_ERR_IPCOMM_TIME_OUT, 3},
        {"length 0", SimAnswer::Success, 0, false, 0, VK_SUCCESS, 0},
    };
    for (const ClientCase& c : cases) {
        test::TestEnvironment env;
        test::ChassisPeers peers;
        peers.chassis().SetAnswer(5, c.answer, c.answerCount);
        if (c.refuse) {
            peers.chassis().Refuse(5, true);
        }
        const std::vector<U8> data(c.length + 1, 0x5A);  // never empty: a null pointer is refused
        EXPECT_EQ(c.result, IPComm_SendData2Slot(5, 258, data.data(), c.length)) << c.name;
        EXPECT_EQ(c.exchanges, peers.chassis().Exchanges(5)) << c.name;
    }
}

TEST(IPCommClient, AStalledPeerIsAFailedAttemptAfterTheTimeOut) {
    test::TestEnvironment env;
    RunProfile profile = Profile();
    profile.interBoardReplyTimeoutMs = 100;
    SetProfile(profile);
    test::ChassisPeers peers;
    peers.chassis().SetAnswer(7, SimAnswer::Stall, 1);
    EXPECT_EQ(VK_SUCCESS, IPComm_SendCmd2Slot(7, 258));
    EXPECT_EQ(2u, peers.chassis().Exchanges(7));
}

TEST(IPCommClient, AddressesThatMustNotBeContactedFailAtOnce) {
    test::TestEnvironment env;
    EXPECT_EQ(VK_ERR_SOCKET_CONNECT_FAIL, IPComm_SendCmd(0, 258));
    EXPECT_EQ(VK_ERR_SOCKET_CONNECT_FAIL, IPComm_SendCmd(0xC0A8010A, 258));
    EXPECT_EQ(VK_ERR_SOCKET_CONNECT_FAIL, IPComm_SendCmd2Slot(17, 258));
    const U8 byte = 1;
    EXPECT_EQ(VK_ERR_PARAMS, IPComm_SendData2Slot(3, 258, nullptr, 1));
    EXPECT_EQ(VK_ERR_SOCKET_CONNECT_FAIL, IPComm_SendData(0xC0A8010A, 258, &byte, 1));
}

// The client checks a reply as the one packet it is; whatever its numbering,
// the server's reassembly store (owned by the server thread) is left alone.
TEST(IPCommClient, ARepliesNumberingNeverReachesTheServersReassembly) {
    test::TestEnvironment env;
    IPComm_ResetTmpData();
    // The server is joining a three-packet message 258 from slot 5.
    const std::vector<U8> partial = test::WirePacket(5, IPCOMM_SEND_DATA, std::vector<U8>(1400, 0x11), 0, 3);
    ST_VK_IPCOMM record;
    ASSERT_EQ(VK_SUCCESS, IPComm_ParseData(partial.data(), static_cast<S32>(partial.size()), &record));
    const auto before = g_IPComm_Tmpdata;
    auto untouched = [&] {
        for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
            const ST_VK_IPCOMM_TMPData& was = before[i];
            const ST_VK_IPCOMM_TMPData& is = g_IPComm_Tmpdata[i];
            if (was.u8OccupyFlag != is.u8OccupyFlag || was.u8SlotID != is.u8SlotID || was.u16CMD != is.u16CMD ||
                was.u32curPacket != is.u32curPacket || was.u32Length != is.u32Length || was.pu8Data != is.pu8Data) {
                return false;
            }
        }
        return true;
    };

    struct Case {
        const char* name;
        std::vector<U8> reply;
        IPCommExchange outcome;
    };
    const std::vector<Case> cases = {
        {"success as packet 0 of 2", test::WirePacket(5, IPCOMM_SUCCESS_CMD, {1, 2}, 0, 2), IPCommExchange::Success},
        {"the partial's next packet", test::WirePacket(5, IPCOMM_SEND_DATA, {3, 4}, 1, 3), IPCommExchange::ErrorReply},
        {"a new packet 0 of the partial's message", test::WirePacket(5, IPCOMM_SEND_DATA, {5}, 0, 3),
         IPCommExchange::ErrorReply},
        {"packet 0 of another message", test::WirePacket(7, IPCOMM_SEND_EITINFO, {6}, 0, 4),
         IPCommExchange::ErrorReply},
    };
    for (const Case& c : cases) {
        test::ScriptedPeer peer(c.reply);
        U16 command = 0;
        EXPECT_EQ(c.outcome, IPComm_ExchangeOnce(test::ScriptedPeer::kAddress, peer.port(), 9, IPCOMM_SEND_DATA,
                                                 nullptr, 0, 0, 1, &command))
            << c.name;
        EXPECT_TRUE(untouched()) << c.name << ": the partial is untouched";
    }
    IPComm_ResetTmpData();
}

}  // namespace
}  // namespace hx

#include "support/card_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "chassis/ipcomm_server.h"
#include "chassis/ipcomm_socket.h"
#include "core/run_profile.h"

namespace hx::test {

namespace {
constexpr U32 kLoopback = 0x7F000001;
constexpr U32 kWriteWaitMs = 2000;
}  // namespace

CardServer::CardServer(U16 port, U32 receiveTimeoutMs) {
    RunProfile profile = Profile();
    profile.interBoardPort = port;
    profile.interBoardServerTimeoutMs = receiveTimeoutMs;
    SetProfile(profile);
    if (IPServer_Start() != 0) {
        ADD_FAILURE() << "the inter-board server did not start";
        return;
    }
    port_ = IPServer_WaitListening();
    EXPECT_NE(0, port_) << "the inter-board server does not listen";
}

CardServer::~CardServer() { IPServer_Stop(); }

int ConnectToCard(U16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketC_connect(fd, kLoopback, port) != VK_SOCKETC_SUCCESS) {
        ADD_FAILURE() << "no connection to 127.0.0.1:" << port;
        close(fd);
        return -1;
    }
    return fd;
}

U16 ExchangeWithCard(U16 port, const std::vector<std::vector<U8>>& pieces, U32 replyWaitMs) {
    const int fd = ConnectToCard(port);
    if (fd < 0) {
        return 0;
    }
    for (const std::vector<U8>& piece : pieces) {
        EXPECT_TRUE(IPComm_WriteBlock(fd, piece, kWriteWaitMs));
    }
    const std::vector<U8> reply = IPComm_ReceiveBlock(fd, replyWaitMs);
    close(fd);
    return reply.size() >= 4 ? static_cast<U16>(reply[2] | reply[3] << 8) : 0;
}

}  // namespace hx::test

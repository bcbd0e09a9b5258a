#include "support/scripted_peer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"

namespace hx::test {

ScriptedPeer::ScriptedPeer(std::vector<U8> reply) : reply_(std::move(reply)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kAddress);
    socklen_t length = sizeof address;
    const bool listening = listener_ >= 0 &&
                           bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                           listen(listener_, 16) == 0 &&
                           getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    EXPECT_TRUE(listening) << "scripted peer could not listen";
    port_ = listening ? ntohs(address.sin_port) : 0;
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    stopping_ = true;
    thread_.join();
    if (listener_ >= 0) {
        close(listener_);
    }
}

void ScriptedPeer::Run() {
    while (!stopping_ && listener_ >= 0) {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0) {
            continue;
        }
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        IPComm_ReceiveBlock(connection, 2000);
        IPComm_WriteBlock(connection, reply_, 1000);
        close(connection);
        served_.fetch_add(1);
    }
}

std::vector<U8> WirePacket(U8 fromSlot, U16 command, const std::vector<U8>& data, U32 index, U32 count) {
    IPCommWire wire;
    EXPECT_TRUE(IPComm_Build(command, data.data(), static_cast<U32>(data.size()), index, count, &wire, fromSlot));
    return std::vector<U8>(wire.bytes.begin(), wire.bytes.begin() + wire.length);
}

}  // namespace hx::test

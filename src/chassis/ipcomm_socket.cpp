#include "chassis/ipcomm_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "chassis/ipcomm_packet.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

int socketSfd = -1;

namespace {

constexpr int kBacklog = 16;

std::uint64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

// Waits for `events` on `fd` until `deadline` (real time: socket waits are on
// the kernel, not the injectable clock). False on time-out.
bool WaitFor(int fd, short events, std::uint64_t deadline) {
    for (;;) {
        const std::uint64_t now = NowMs();
        if (now >= deadline) {
            return false;
        }
        pollfd one{fd, events, 0};
        const int ready = poll(&one, 1, static_cast<int>(deadline - now));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            return false;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

std::string IPComm_AddressText(U32 address) {
    char text[INET_ADDRSTRLEN] = {};
    const in_addr in{htonl(address)};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

SOCKETSErrCode socketS_open() {
    if (socketSfd >= 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "socketSfd already open!\n");
        return VK_SOCKETS_SUCCESS;
    }
    socketSfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketSfd < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "create socket error: %s(errno: %d)\n", std::strerror(errno), errno);
        return VK_SOCKETS_OPEN_ERR;
    }
    return VK_SOCKETS_SUCCESS;
}

SOCKETSErrCode socketS_bind() {
    if (socketSfd < 0) {
        return VK_SOCKETS_PARAM_ERR;
    }
    const int on = 1;
    if (setsockopt(socketSfd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "reuse socket error: %s(errno: %d)\n", std::strerror(errno), errno);
        return VK_SOCKETS_BIND_ERR;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Profile().interBoardPort);
    if (inet_pton(AF_INET, Profile().listenAddress.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (bind(socketSfd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "bind socket error: %s(errno: %d)\n", std::strerror(errno), errno);
        return VK_SOCKETS_BIND_ERR;
    }
    return VK_SOCKETS_SUCCESS;
}

SOCKETSErrCode socketS_listen() {
    if (socketSfd < 0 || listen(socketSfd, kBacklog) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "listen socket error: %s(errno: %d)\n", std::strerror(errno), errno);
        return VK_SOCKETS_LISTEN_ERR;
    }
    return VK_SOCKETS_SUCCESS;
}

void socketS_close() {
    if (socketSfd >= 0) {
        close(socketSfd);
        socketSfd = -1;
    }
}

SOCKETCErrCode socketC_open(S32* pu32socketCfd) {
    if (pu32socketCfd == nullptr) {
        return VK_SOCKETC_PARAM_ERR;
    }
    *pu32socketCfd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (*pu32socketCfd < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "create socket error: %s(errno: %d)\n", std::strerror(errno), errno);
        return VK_SOCKETC_OPEN_ERR;
    }
    return VK_SOCKETC_SUCCESS;
}

SOCKETCErrCode socketC_connect(S32 u32socketCfd, U32 u32IPAddr) {
    return socketC_connect(u32socketCfd, u32IPAddr, Profile().interBoardPort);
}

SOCKETCErrCode socketC_connect(S32 u32socketCfd, U32 u32IPAddr, U16 port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(u32IPAddr);
    const int flags = fcntl(u32socketCfd, F_GETFL);
    fcntl(u32socketCfd, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (connect(u32socketCfd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            if (WaitFor(u32socketCfd, POLLOUT, NowMs() + Profile().interBoardConnectTimeoutMs)) {
                socklen_t length = sizeof error;
                getsockopt(u32socketCfd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
    }
    fcntl(u32socketCfd, F_SETFL, flags);
    if (error != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "connect server error: %s(errno: %d) ip 0x%x\n", std::strerror(error),
               error, u32IPAddr);
        return VK_SOCKETC_OPEN_ERR;
    }
    return VK_SOCKETC_SUCCESS;
}

std::vector<U8> IPComm_ReceiveBlock(int fd, U32 timeoutMs, bool* timedOut) {
    if (timedOut != nullptr) {
        *timedOut = false;
    }
    std::vector<U8> block;
    block.reserve(kIPCommReceiveBuffer);
    const std::uint64_t deadline = NowMs() + timeoutMs;
    U8 chunk[kIPCommReceiveBuffer];
    while (block.size() < kIPCommReceiveBuffer) {
        const U32 expected = IPComm_ExpectedLength(block);
        if (expected != 0 && block.size() >= expected) {
            break;
        }
        if (!WaitFor(fd, POLLIN, deadline)) {
            if (timedOut != nullptr) {
                *timedOut = true;
            }
            break;
        }
        const ssize_t got = recv(fd, chunk, kIPCommReceiveBuffer - block.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        block.insert(block.end(), chunk, chunk + got);
    }
    return block;
}

bool IPComm_WriteBlock(int fd, std::span<const U8> block, U32 timeoutMs) {
    const std::uint64_t deadline = NowMs() + timeoutMs;
    std::size_t done = 0;
    while (done < block.size()) {
        if (!WaitFor(fd, POLLOUT, deadline)) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "send to client error: %s(errno: %d)\n", "timed out", ETIMEDOUT);
            return false;
        }
        const ssize_t sent = send(fd, block.data() + done, block.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (sent <= 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "send to client error: %s(errno: %d)\n", std::strerror(errno),
                   errno);
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace hx

// A loopback port that is bound but never listens: every inter-board
// connection to it is refused at once, and no other process can take it.
// Targets whose code sends to peers point the inter-board port here, so no
// input waits on a connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

#include "core/types.h"

namespace hx::fuzz {

inline U16 RefusingLoopbackPort() {
    static const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        std::fprintf(stderr, "fuzz: no loopback port\n");
        std::abort();
    }
    return ntohs(addr.sin_port);
}

}  // namespace hx::fuzz

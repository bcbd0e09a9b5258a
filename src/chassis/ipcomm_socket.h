// Socket layer of the inter-board link: the server's listening socket
// (`socketSfd`, opened and used only by the server thread) and the client
// sockets of single exchanges. Every socket is close-on-exec, so the shell
// commands the application runs never inherit one, and every write uses
// MSG_NOSIGNAL, so a peer that already closed costs a log line, not the
// process. Waits are bounded by the run profile's inter-board time-outs.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/types.h"

namespace hx {

enum SOCKETCErrCode : U32 {
    VK_SOCKETC_SUCCESS = 0,
    VK_SOCKETC_PARAM_ERR = 1,
    VK_SOCKETC_OPEN_ERR = 2,
    VK_SOCKETC_ALREADY_OPEN_ERR = 3,
    VK_SOCKETC_BIND_ERR = 4,
    VK_SOCKETC_LISTEN_ERR = 5,
};

enum SOCKETSErrCode : U32 {
    VK_SOCKETS_SUCCESS = 0,
    VK_SOCKETS_PARAM_ERR = 1,
    VK_SOCKETS_OPEN_ERR = 2,
    VK_SOCKETS_ALREADY_OPEN_ERR = 3,
    VK_SOCKETS_BIND_ERR = 4,
    VK_SOCKETS_LISTEN_ERR = 5,
};

// The server's listening descriptor, -1 until opened.
extern int socketSfd;

SOCKETSErrCode socketS_open();
// Binds `socketSfd` to the profile's listening address and inter-board port.
SOCKETSErrCode socketS_bind();
SOCKETSErrCode socketS_listen();
void socketS_close();

SOCKETCErrCode socketC_open(S32* pu32socketCfd);
// Connects to `u32IPAddr` (host order) at the profile's inter-board port,
// waiting at most the connect time-out.
SOCKETCErrCode socketC_connect(S32 u32socketCfd, U32 u32IPAddr);
SOCKETCErrCode socketC_connect(S32 u32socketCfd, U32 u32IPAddr, U16 port);

// Reads one packet: until the header's length is in, the peer closes, the
// buffer (4,096 bytes) is full or `timeoutMs` pass. Returns what arrived;
// `*timedOut` (when given) tells whether the time ran out first.
std::vector<U8> IPComm_ReceiveBlock(int fd, U32 timeoutMs, bool* timedOut = nullptr);
// Writes the whole block without raising SIGPIPE; false (logged) on failure.
bool IPComm_WriteBlock(int fd, std::span<const U8> block, U32 timeoutMs);

// "a.b.c.d" of a host-order address.
std::string IPComm_AddressText(U32 address);

}  // namespace hx

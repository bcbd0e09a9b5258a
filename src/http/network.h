// Listening sockets (IPv4 and Unix-domain), turning listener readiness into
// accepted connections, and writing a connection's outgoing chunk queue under
// the per-connection and per-block rate limits ("writev" and "write" back
// ends).
//
// HTTP server thread only.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

enum network_backend_t {
    NETWORK_BACKEND_UNSET = 0,
    NETWORK_BACKEND_WRITE = 1,
    NETWORK_BACKEND_WRITEV = 2,
    NETWORK_BACKEND_LINUX_SENDFILE = 3,
    NETWORK_BACKEND_FREEBSD_SENDFILE = 4,
    NETWORK_BACKEND_SOLARIS_SENDFILEV = 5,
};

int network_init(server* srv);
int network_server_init(server* srv, buffer* host_token, specific_config* s);
int network_register_fdevents(server* srv);
handler_t network_server_handle_fdevent(server* srv, void* context, int revents);
int network_close(server* srv);

// 0 queue empty, 1 data left (or rate limit hit), -1 error, -2 peer closed.
int network_write_chunkqueue(server* srv, connection* con, chunkqueue* cq, http_off_t max_bytes);
// The back ends: 0 stopped (data may be left), -1 error, -2 peer closed.
int network_write_chunkqueue_write(server* srv, connection* con, int fd, chunkqueue* cq, http_off_t max_bytes);
int network_write_chunkqueue_writev(server* srv, connection* con, int fd, chunkqueue* cq, http_off_t max_bytes);

}  // extern "C"

}  // namespace hx

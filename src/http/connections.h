// The connection state machine: accept, read the header, parse it, read the
// body (to memory, or to an upload file the web application asks for), hand
// POSTs to the web application, write the response, then keep the connection
// or close it lingering. Also the connection table, the job list and the
// descriptor wait queue.
//
// HTTP server thread only; the web hooks run inside it.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

connection* connection_accept(server* srv, server_socket* srv_socket);
// Runs the connection until its state stops changing; always 0.
int connection_state_machine(server* srv, connection* con);
int connection_close(server* srv, connection* con);
int connection_reset(server* srv, connection* con);
connection* connection_init(server* srv);
void connections_free(server* srv);
int connection_set_state(server* srv, connection* con, connection_state_t state);
const char* connection_get_state(connection_state_t state);
const char* connection_get_short_state(connection_state_t state);

int joblist_append(server* srv, connection* con);
void joblist_free(server* srv, connections* joblist);
int fdwaitqueue_append(server* srv, connection* con);
connection* fdwaitqueue_unshift(server* srv, connections* fdwaitqueue);
void fdwaitqueue_free(server* srv, connections* fdwaitqueue);

}  // extern "C"

}  // namespace hx

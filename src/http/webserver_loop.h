// The pieces of the HTTP server thread, one at a time: start-up, one turn of
// the event loop and the exit path. webserver_configuration runs them in
// order; the test server and the thread tests step the loop themselves, with
// a wait of their own choosing and the clock in virtual time.
//
// Threads: the caller is the server's thread; the stop flags may be read from
// any thread.
#pragma once

#include "http/http_base.h"

namespace hx {

// Runs the start-up steps: configuration, refused settings, plugins,
// listeners, limits, signals, error log, event loop. The ready server, or
// null after the failure was logged and everything made so far released.
server* server_start();
// One turn of the main loop waiting at most `timeout_ms` for events.
void server_loop_turn(server* srv, int timeout_ms);
// True once a stop flag ends the loop.
bool server_loop_should_stop();
// The exit path: pid file, the stop line, error log, listeners, connections,
// plugins, the record; marks the server finished. 0.
int server_exit(server* srv);
// Whether a graceful shutdown runs (the first SIGINT).
bool server_graceful_shutdown_running();

}  // namespace hx

// The connection state machine's own routines, shared by its three source
// files (table and states, reading, response start and writing) and by its
// tests; outside the connection layer only the response builder marks a
// request a module refused.
//
// HTTP server thread only.
#pragma once

#include <cstddef>
#include <ctime>

#include "http/http_base.h"

namespace hx {

// The limits of the request side.
constexpr http_off_t kMaxHeaderBytes = 65536;              // without CR LF CR LF yet: 414
constexpr size_t kMaxUploadBytes = 67108864;               // announced body above this: 403
constexpr size_t kMaxMemoryBodyBytes = 1048576;            // kept in memory above this: 413
constexpr http_off_t kMaxUploadFileBytes = 0x7FFFFFF;      // a longer upload file is not appended to
constexpr size_t kReadChunkBytes = 4096;
constexpr size_t kMaxReadBytes = 262144;
constexpr http_off_t kMaxWriteBytes = 262144;
constexpr std::time_t kLingerSeconds = 6;

// A slot of the connection table, the table's next free slot reset and
// numbered; the table grows by 128 slots.
connection* connections_get_new_connection(server* srv);
// Gives the slot back (the last used one takes its place); -1 for a
// connection that is not in the table.
int connection_del(server* srv, connection* con);

// 0 read (or nothing waiting), -1 error (state ERROR), -2 peer closed.
int connection_handle_read(server* srv, connection* con);
int connection_handle_read_ssl(server* srv, connection* con);
// Reads once when readable, then cuts the header or moves body bytes; -1 on a
// read error.
int connection_handle_read_state(server* srv, connection* con);
// Status, web hook, error page and headers of the response; 0.
int connection_handle_write_prepare(server* srv, connection* con);
// Sends up to 256 KiB of the write queue; always 0.
int connection_handle_write(server* srv, connection* con);
// The socket's callback in the event loop; HANDLER_FINISHED.
handler_t connection_handle_fdevent(server* srv, void* context, int revents);

// Whether the parser or the body reader refused the current request. A
// refused POST keeps its status and is never handed to the web application.
bool connection_is_refused(const connection* con);
void connection_set_refused(connection* con, bool refused);
// Whether a module ended the current request with an error status while it
// was mapped (an authentication module's 401, say). Such a POST keeps that
// answer and is never handed to the web application; its body has been read,
// so the connection may stay open.
bool connection_is_refused_by_module(const connection* con);
void connection_set_refused_by_module(connection* con, bool refused);

// The built-in XHTML page of a status ("404 Not Found" as title and heading).
void connection_error_page(int status, buffer* out);

}  // namespace hx

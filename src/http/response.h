// The response side of a request: deciding how it is answered (URI split,
// plugin hooks, mapping onto a file under the document root), the status line
// and headers put in front of the body, the response-header helpers, the
// conditional-request check and the formatted-time cache modules use.
//
// HTTP server thread only; nothing here is locked.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <ctime>

#include "http/http_base.h"

namespace hx {

extern "C" {

// Run in CON_STATE_HANDLE_REQUEST.
handler_t http_response_prepare(server* srv, connection* con);
// Puts the status line and headers in front of the write queue; 0.
int http_response_write_header(server* srv, connection* con);

int response_header_insert(server* srv, connection* con, const char* key, size_t keylen, const char* value,
                           size_t vallen);
int response_header_overwrite(server* srv, connection* con, const char* key, size_t keylen, const char* value,
                              size_t vallen);
int response_header_append(server* srv, connection* con, const char* key, size_t keylen, const char* value,
                           size_t vallen);

// 301 to the path with a trailing "/"; 0, or -1 for a non-IPv4 local address.
int http_response_redirect_to_directory(server* srv, connection* con);
// If-None-Match / If-Modified-Since against the physical file; for modules.
handler_t http_response_handle_cachable(server* srv, connection* con, buffer* mtime);
// "%a, %d %b %Y %H:%M:%S GMT" of a file time, from the server's 16 slots.
buffer* strftime_cache_get(server* srv, std::time_t last_mod);

// The dotted IPv4 text of an address (nothing is cached).
const char* inet_ntop_cache_get_ip(server* srv, sock_addr* addr);

}  // extern "C"

}  // namespace hx

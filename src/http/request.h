// The request parser: turns the raw header the connection cut from its read
// queue into the connection's `request` record, and refuses malformed
// requests by setting `http_status` before any response is prepared.
//
// HTTP server thread only; the split-value scratch array is the server's.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

// 1 when a body of `request.content_length` bytes follows, else 0 (also on a
// refusal, with `http_status` set).
int http_request_parse(server* srv, connection* con);
int http_request_header_finished(server* srv, connection* con);
int http_request_split_value(array* vals, buffer* b);
int request_uri_is_valid_char(unsigned char c);
// 0 valid, -1 invalid; may drop one trailing "." of the host in place.
int request_check_hostname(server* srv, connection* con, buffer* host);

}  // extern "C"

}  // namespace hx

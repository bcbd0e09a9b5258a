// The web application's two hooks in the HTTP server's connection state
// machine: whether a request's body is spooled to an upload file, and the
// handling of every POST, whose reply becomes the response body.
//
// Both run in the HTTP server thread, one request at a time.
#pragma once

#include <string_view>

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

// 1 when the request's body goes to an upload file instead of memory.
int web_ProcessIsLargeData(connection* con);
// Fills `reply` with the JSON reply of a POST; 0 answers 200, 770 answers 404.
U32 web_ProcessData(buffer* reply, server* srv, connection* con);

// The name a request asks for: the last segment of its request line's path,
// without query or fragment ("Upgrade.w" of "POST /a/Upgrade.w?x=1
// HTTP/1.1"); empty without a request line. Header lines are never looked
// at, so a Referer naming an upload page cannot turn a request into an upload.
// The view points into the connection's header text.
std::string_view web_RequestName(const connection* con);
// Whether a name is one the web application answers: a ".w" name or
// "GetModules".
bool web_IsRequestName(std::string_view name);

// Tests put a recording hook in place of web_ProcessData's stand-in body
// (same arguments and result); null puts the stand-in back. Set only while
// no server thread runs.
using WebProcessDataHook = U32 (*)(buffer* reply, server* srv, connection* con);
void Web_SetRequestHookForTest(WebProcessDataHook hook);

}  // namespace hx

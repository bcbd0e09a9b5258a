// The web application's two hooks in the HTTP server's connection state
// machine: whether a request's body is spooled to an upload file, and the
// handling of every POST, whose reply becomes the response body.
//
// Both run in the HTTP server thread, one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

// 1 when the request's body goes to an upload file instead of memory.
int web_ProcessIsLargeData(connection* con);
// Fills `reply` with the JSON reply of a POST; 0 answers 200, 770 answers 404.
U32 web_ProcessData(buffer* reply, server* srv, connection* con);

// Tests put a recording hook in place of web_ProcessData's stand-in body
// (same arguments and result); null puts the stand-in back. Set only while
// no server thread runs.
using WebProcessDataHook = U32 (*)(buffer* reply, server* srv, connection* con);
void Web_SetRequestHookForTest(WebProcessDataHook hook);

}  // namespace hx

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

// A request handler: writes its reply into the buffer and returns 0, or
// returns a code the dispatcher answers with its error object.
using ProcessHandle = U32 (*)(buffer* reply);

// One row of the request table; the table ends with a row without a name.
struct WEBInterface {
    const char* pcStr;
    ProcessHandle pfProcess;  // absent for "ImportSiTable.w"
};
// The request table in match order: 47 rows and the closing row.
extern const WEBInterface arstWEBComm[];

// The body of the request being dispatched, NUL-terminated; owned by the
// dispatcher from body gathering to the end of the dispatch (handlers read
// it, never free it). Null between requests.
extern char* g_ps8RevData;
// Frees g_ps8RevData if present and clears it.
void freeRevData();
// The capacity of g_ps8RevData (0 without a body), for tests of its growth.
U32 web_RevDataCapacity();

// 1 when the request's body goes to an upload file instead of memory.
int web_ProcessIsLargeData(connection* con);
// Fills `reply` with the JSON reply of a POST; 0 answers 200, 770 answers 404.
U32 web_ProcessData(buffer* reply, server* srv, connection* con);
// The dispatch itself, whatever hook is in place (for test hooks that record
// a request and then let it through).
U32 web_DispatchRequest(buffer* reply, connection* con);

// Gathers the connection's in-memory body into g_ps8RevData (an earlier
// body is freed first): the text of each memory chunk up to its first NUL,
// up to the first chunk without text (an upload's file chunk), NUL-terminated,
// in a block that starts at 2048 bytes and grows by whole 2048-byte steps.
// 0, or 770 when memory runs out (body freed).
U32 web_GatherBody(const connection* con);
// The table row whose name is the request path's last segment; null for none.
const WEBInterface* web_FindRequest(const connection* con);

// The name a request asks for: the last segment of its request line's path,
// without query or fragment ("Upgrade.w" of "POST /a/Upgrade.w?x=1
// HTTP/1.1"); empty without a request line. Header lines are never looked
// at, so a Referer naming an upload page cannot turn a request into an upload.
// The view points into the connection's header text.
std::string_view web_RequestName(const connection* con);
// Whether a name is one the web application answers: a ".w" name or
// "GetModules".
bool web_IsRequestName(std::string_view name);

// Tests put a recording hook in place of web_ProcessData's dispatch (same
// arguments and result); null puts the dispatch back. Set only while
// no server thread runs.
using WebProcessDataHook = U32 (*)(buffer* reply, server* srv, connection* con);
void Web_SetRequestHookForTest(WebProcessDataHook hook);

}  // namespace hx

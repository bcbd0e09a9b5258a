// Requests of the board, RF channel and IP monitor pages: the board's
// identity, the QAM parameters of the RF channels and the IP monitor output.
//
// Caller: the HTTP server thread (the request table), one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

U32 web_processGetSubboardDetail(buffer* reply);
U32 web_processGetSubboardParam(buffer* reply);
U32 web_processSetSubboardParam(buffer* reply);
U32 web_processGetSubboardIPMonitorParam(buffer* reply);
U32 web_processSetSubboardIPMonitorParam(buffer* reply);
// Answers 200 with an empty body, whatever the request holds.
U32 web_processGetSubboardReadyStatus(buffer* reply);

}  // namespace hx

// Requests of the output status pages: rates, programs and PIDs of the
// output streams, and the clearing of their error counters.
//
// Caller: the HTTP server thread (the request table), one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

U32 web_processGetOutputTSStatus(buffer* reply);
U32 web_processGetOutputProgramStatus(buffer* reply);
U32 web_processGetOutputTSDetailStatus(buffer* reply);
U32 web_processClearAllErr(buffer* reply);

}  // namespace hx

// Requests of the output stream pages: the temporary copy of the output
// model, its streams and programs, and applying or clearing it.
//
// Caller: the HTTP server thread (the request table), one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

U32 web_processApplyAllParam(buffer* reply);
U32 web_processClearAllParam(buffer* reply);
U32 web_processClearOneChannelProg(buffer* reply);
U32 web_processGetSubboardTSInfo(buffer* reply);
U32 web_processSetTSParam(buffer* reply);
U32 web_processSetProgramParam(buffer* reply);
U32 web_processGetTempTSInfo(buffer* reply);
U32 web_processGetTempProgramInfo(buffer* reply);

}  // namespace hx

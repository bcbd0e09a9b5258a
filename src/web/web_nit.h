// Requests of the NIT pages: version, networks, streams, logical channel
// numbers and descriptors of the temporary copy's NIT.
//
// Caller: the HTTP server thread (the request table), one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

U32 web_processSetNITVersion(buffer* reply);
U32 web_processGetNIT(buffer* reply);
U32 web_processAddNITNetwork(buffer* reply);
U32 web_processDelNITNetwork(buffer* reply);
U32 web_processAddNITTS(buffer* reply);
U32 web_processDelNITTS(buffer* reply);
U32 web_processDelLCN(buffer* reply);
U32 web_processSetLCN(buffer* reply);
U32 web_processAddDescriptor(buffer* reply);
U32 web_processAutoGenerateNITDescriptor(buffer* reply);

}  // namespace hx

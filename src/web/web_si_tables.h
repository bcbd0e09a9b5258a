// Requests of the SI table pages: import and export of one table, the PSIP
// channel settings and the TOT's local time offset descriptor.
//
// Caller: the HTTP server thread (the request table), one request at a time.
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

// The import of a spooled SI table file; `header` is the request's raw
// header text (its query names the table).
U32 web_processImportOneSiTable(buffer* reply, const char* header);
U32 web_processExportOneSiTable(buffer* reply);
U32 web_GetSubboardPSIPChannel(buffer* reply);
U32 web_SetSubboardPSIPChannel(buffer* reply);
U32 web_processGetTOT_LTODescriptor(buffer* reply);
U32 web_processSetTOT_LTODescriptor(buffer* reply);

}  // namespace hx

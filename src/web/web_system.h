// Requests of the system pages: heartbeat, factory reset, reboot, registers,
// logs, log modules and levels, and the MIB export.
//
// Rights (1035 without the board-level modify right) and the token:
// "Beat.w" and "GetModules" read no body; "GetLog.w" and "ReadReg.w" need the
// token; every other request needs both, "WriteReg.w" and "Debug.w"
// included, since they write registers, start SSH and flag the data
// partition for erasure.
//
// Caller: the HTTP server thread (the request table), one request at a time.
// The archive exports, the SSH switch and the erase request block it while
// their tools run (and the last two 1 s more).
#pragma once

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

U32 web_processBeat(buffer* reply);
U32 web_processDefault(buffer* reply);
U32 web_processReboot(buffer* reply);
U32 web_processDebug(buffer* reply);
U32 web_processReadReg(buffer* reply);
U32 web_processWriteReg(buffer* reply);
U32 web_processExportLogs(buffer* reply);
U32 web_processClearLogs(buffer* reply);
U32 web_saveLog(buffer* reply);
U32 web_processGetLog(buffer* reply);
U32 web_processSetModulesAndLevel(buffer* reply);
U32 web_processGetModules(buffer* reply);
U32 web_processExportMibs(buffer* reply);

}  // namespace hx

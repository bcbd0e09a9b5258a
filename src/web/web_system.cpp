// The requests of the system pages. Until their operations are built, each one
// answers "Doesn't exist!" (770), which the dispatcher sends as its error
// object with HTTP 200. Caller: the request table, in the HTTP server thread.
#include "web/web_system.h"

#include "core/err.h"

namespace hx {

U32 web_processBeat(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processDefault(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processReboot(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processDebug(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processReadReg(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processWriteReg(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processExportLogs(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processClearLogs(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_saveLog(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetLog(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processSetModulesAndLevel(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetModules(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processExportMibs(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

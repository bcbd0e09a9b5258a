// The requests of the SI table pages. Until their operations are built, each one
// answers "Doesn't exist!" (770), which the dispatcher sends as its error
// object with HTTP 200. Caller: the request table, in the HTTP server thread.
#include "web/web_si_tables.h"

#include "core/err.h"

namespace hx {

U32 web_processImportOneSiTable(buffer* /*reply*/, const char* /*header*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processExportOneSiTable(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_GetSubboardPSIPChannel(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_SetSubboardPSIPChannel(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetTOT_LTODescriptor(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processSetTOT_LTODescriptor(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

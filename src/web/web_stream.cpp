// The requests of the output stream pages. Until their operations are built, each one
// answers "Doesn't exist!" (770), which the dispatcher sends as its error
// object with HTTP 200. Caller: the request table, in the HTTP server thread.
#include "web/web_stream.h"

#include "core/err.h"

namespace hx {

U32 web_processApplyAllParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processClearAllParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processClearOneChannelProg(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetSubboardTSInfo(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processSetTSParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processSetProgramParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetTempTSInfo(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetTempProgramInfo(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

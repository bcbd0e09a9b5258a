// The requests of the output status pages. Until their operations are built, each one
// answers "Doesn't exist!" (770), which the dispatcher sends as its error
// object with HTTP 200. Caller: the request table, in the HTTP server thread.
#include "web/web_output_status.h"

#include "core/err.h"

namespace hx {

U32 web_processGetOutputTSStatus(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetOutputProgramStatus(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetOutputTSDetailStatus(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processClearAllErr(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

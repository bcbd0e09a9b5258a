// The requests of the NIT pages. Until their operations are built, each one
// answers "Doesn't exist!" (770), which the dispatcher sends as its error
// object with HTTP 200. Caller: the request table, in the HTTP server thread.
#include "web/web_nit.h"

#include "core/err.h"

namespace hx {

U32 web_processSetNITVersion(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processGetNIT(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processAddNITNetwork(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processDelNITNetwork(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processAddNITTS(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processDelNITTS(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processDelLCN(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processSetLCN(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processAddDescriptor(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

U32 web_processAutoGenerateNITDescriptor(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

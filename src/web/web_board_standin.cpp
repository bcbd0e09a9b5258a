// Stand-ins of the board, RF channel and IP monitor requests until their
// operations are built: each answers "Doesn't exist!" (770).
#include "core/err.h"
#include "web/web_board.h"

namespace hx {

U32 web_processGetSubboardDetail(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}
U32 web_processGetSubboardParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}
U32 web_processSetSubboardParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}
U32 web_processGetSubboardIPMonitorParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}
U32 web_processSetSubboardIPMonitorParam(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}
U32 web_processGetSubboardReadyStatus(buffer* /*reply*/) {
    return VK_ERR_WEB_NOTEXIST;
}

}  // namespace hx

#include "web/web_server.h"

#include "core/standin.h"

namespace hx {

U32 Web_Start() {
    HX_STANDIN(LOG_MODULE_WEB);
    return 0;
}

}  // namespace hx

#include "web/web_server.h"

#include "core/log.h"
#include "core/thread_util.h"
#include "http/webserver.h"

namespace hx {

namespace {

void* WebServerThread(void* /*argument*/) {
    webserver_configuration(0, nullptr);
    return nullptr;
}

}  // namespace

void Web_ProxyPathCreate() {}

U32 Web_Start() {
    Web_ProxyPathCreate();
    if (Thread_StartDetached(WebServerThread, nullptr) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Web thread create failed!\r\n\n");
        return WEB_FAILURE;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Web thread create successfully!\r\n\n");
    return WEB_SUCCESS;
}

}  // namespace hx

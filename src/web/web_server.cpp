#include "web/web_server.h"

#include <string>

#include "core/command_runner.h"
#include "core/log.h"
#include "core/thread_util.h"
#include "http/webserver.h"
#include "platform/chassis_info.h"
#include "platform/resource.h"
#include "web/web_slot.h"

namespace hx {

namespace {

void* WebServerThread(void* /*argument*/) {
    webserver_configuration(0, nullptr);
    return nullptr;
}

}  // namespace

// For both slot numberings of the board, "/vandik_app/web/N/proxy" leads back
// to the web root, so pages of another board's slot number reach this board.
// An existing folder stops the chain and leaves its link as it is.
void Web_ProxyPathCreate() {
    const U32 ownSlot = Status_GetSlotID();
    for (U32 chassisType = 0; chassisType <= 1; ++chassisType) {
        const U8 slot = Web_GetWebSlot(chassisType, ownSlot);
        if (slot == kNoSlot) {
            continue;
        }
        const std::string folder = "/vandik_app/web/" + std::to_string(slot);
        if (Command_Run({"mkdir", folder}) == 0) {
            Command_Run({"ln", "-s", "/vandik_app/web/", folder + "/proxy"});
        }
    }
}

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

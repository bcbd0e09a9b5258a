#include "si/si_packet.h"

#include "core/standin.h"

namespace hx {

std::mutex SIMutex;

U32 SIP_Init() {
    HX_STANDIN(LOG_MODULE_SIPROCESS);
    return 0;
}

void SSD_InitBroadcastSI() { HX_STANDIN(LOG_MODULE_SIPROCESS); }

}  // namespace hx

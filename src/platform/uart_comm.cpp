#include "platform/uart_comm.h"

#include "core/run_profile.h"
#include "core/standin.h"
#include "platform/resource.h"

namespace hx {

void UartComm_init() { HX_STANDIN(LOG_MODULE_SYS); }

U32 UartComm_GetIpAddr(U32 u32Slot) {
    HX_STANDIN(LOG_MODULE_SYS);
    // Without a back board the built-in address derived from the slot applies.
    const U32 base = Profile().backend == HardwareBackend::Card ? 0xC0A8010Bu /* 192.168.1.11 */
                                                                 : 0x7F01010Bu /* 127.1.1.11 */;
    Resource_getSelfHandle()->u32IPAddress = base + u32Slot;
    return 2;
}

U32 UartComm_SendErrorCodeToBB(U32) {
    HX_STANDIN(LOG_MODULE_SYS);
    return 0;
}

}  // namespace hx

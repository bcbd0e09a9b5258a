#include "platform/network.h"

#include "core/standin.h"

namespace hx {

void PHY_Init() { HX_STANDIN(LOG_MODULE_HW); }

void Iperf3SoftwareInit() { HX_STANDIN(LOG_MODULE_SYS); }

}  // namespace hx

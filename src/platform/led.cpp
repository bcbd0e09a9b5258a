#include "platform/led.h"

#include "core/standin.h"

namespace hx {

void FPGA_LEDRedfresh_Start() { HX_STANDIN(LOG_MODULE_HW); }

void LED_TaskMonitoring() { HX_STANDIN(LOG_MODULE_HW); }

}  // namespace hx

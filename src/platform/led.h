// Status LED: the red blinker that shows "starting" and the monitor that
// follows the output channels once start-up is done.
#pragma once

namespace hx {

void FPGA_LEDRedfresh_Start();
void LED_TaskMonitoring();

}  // namespace hx

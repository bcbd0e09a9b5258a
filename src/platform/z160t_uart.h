// Command link to the 160T FPGA over the main FPGA's register UART.
#pragma once

#include "core/types.h"

namespace hx {

U32 Z160T_UART_Init();

}  // namespace hx

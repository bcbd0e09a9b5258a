#include "platform/z160t_uart.h"

#include "core/standin.h"

namespace hx {

U32 Z160T_UART_Init() {
    HX_STANDIN(LOG_MODULE_QAM);
    return 0;
}

}  // namespace hx

#include "support/sim_160t.h"

#include <array>

#include "platform/psconfig.h"
#include "platform/qam_apply.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"

namespace hx::test {

bool Load160T() {
    static constexpr std::array<U8, 4> kBitstream = {0xAA, 0x99, 0x55, 0x66};
    return PSConf_FWConfigGeneralFPGA32Bit(kBitstream.data(), kBitstream.size(), 1) == PSCONF_OK;
}

Sim160TBoard::Sim160TBoard(bool load) {
    if (load) {
        Load160T();
    }
    Z160T_UART_Init();
    Z160T_ResetStatus();
    g_isSetQamPara.store(0);
    QAM_SetSaveObserver({});
}

Sim160TBoard::~Sim160TBoard() { QAM_SetSaveObserver({}); }

}  // namespace hx::test

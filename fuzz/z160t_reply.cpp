// Fuzzes the card's reader of the 160T link: whatever bytes the 160T (or a
// glitch on the register UART) puts in the receive FIFO go through the frame
// reader, the reply check and the status parse, as the status poll and the
// acknowledged commands read them.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "core/log.h"
#include "core/run_profile.h"
#include "platform/fpga_reg.h"
#include "platform/psconfig.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"
#include "sim/main_fpga.h"
#include "sim/sim_board.h"
#include "fuzz/fuzz_data_root.h"
#include "fuzz/virtual_time.h"

namespace {

std::shared_ptr<hx::sim::MainFpga> g_fpga;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    hx::fuzz::UseAutoAdvancingClock();
    hx::sim::SimBoard_Install();
    hx::FPGA_Init();
    g_fpga = std::dynamic_pointer_cast<hx::sim::MainFpga>(hx::REG_GetBus());
    static const hx::U8 kBitstream[4] = {1, 2, 3, 4};
    hx::PSConf_FWConfigGeneralFPGA32Bit(kBitstream, sizeof kBitstream, 1);
    hx::Z160T_UART_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const hx::U8> input(data, size);
    hx::Z160T_UART_CMD frame;
    hx::Z160T_UART_Parse(input, frame);
    hx::Z160T_UartComm_ParseData(input);

    g_fpga->uart().SendToCard(input);
    std::array<hx::U8, hx::kZ160TMaxFrameBytes> buffer{};
    for (int frames = 0; frames < 8 && g_fpga->uart().PendingToCard() > 0; ++frames) {
        hx::U32 length = 0;
        if (hx::UART_ReadData(buffer, &length) == hx::VK_160TUART_SUCCESS) {
            hx::Z160T_UartComm_ParseData(std::span<const hx::U8>(buffer).first(length));
        }
    }
    hx::UART_Clear();
    return 0;
}

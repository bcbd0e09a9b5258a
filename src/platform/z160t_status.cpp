#include "platform/z160t_status.h"

#include "core/common_fun.h"
#include "core/log.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_link.h"
#include "platform/z160t_uart.h"

namespace hx {

std::array<std::atomic<U32>, kZ160TStateWords> g_u32State_Value{};
TQAM_Status stQAMStatus;

namespace {

// Warm polls seen so far; the warning goes out when it is a multiple of 100.
std::atomic<U32> s_warmPolls{0};

}  // namespace

TQAM_Status* Z160T_Get_Status() { return &stQAMStatus; }

U32 Z160T_UartComm_ParseData(std::span<const U8> bytes, U32* pu32Words) {
    if (pu32Words != nullptr) {
        *pu32Words = 0;
    }
    Z160T_UART_CMD reply;
    if (const U32 checked = Z160T_CheckReply(bytes, reply); checked != VK_160TUART_SUCCESS) {
        return checked;
    }
    if (reply.u8CMD != UART160T_CMD_STATUS) {
        return VK_160TUART_SUCCESS;
    }
    const U32 words = reply.u16Length / 4;
    for (U32 i = 0; i < words; ++i) {
        g_u32State_Value[i].store(GetLe32(reply.au8Data.data() + 4 * i));
    }
    if (pu32Words != nullptr) {
        *pu32Words = words;
    }
    return VK_160TUART_SUCCESS;
}

U32 Z160T_UartComm_GetState() {
    U32 words = 0;
    {
        Z160TLinkGuard link(Z160T_LinkMutex());
        UART_Clear();
        Z160T_UART_SendStateCmd(UART160T_CMD_STATUS);
        std::array<U8, kZ160TMaxFrameBytes> buffer{};
        U32 length = 0;
        if (const U32 read = UART_ReadData(buffer, &length); read != VK_160TUART_SUCCESS) {
            return read;
        }
        if (const U32 parsed = Z160T_UartComm_ParseData(std::span<const U8>(buffer).first(length), &words);
            parsed != VK_160TUART_SUCCESS) {
            return parsed;
        }
    }
    if (words > kZ160TTemperatureWord) {
        Z160T_TemperatureGuard(g_u32State_Value[kZ160TTemperatureWord].load());
    }
    return VK_160TUART_SUCCESS;
}

void Z160T_TemperatureGuard(U32 u32Temperature) {
    stQAMStatus.u32Temperature.store(u32Temperature);
    if (u32Temperature <= kZ160TWarmLimit) {
        stQAMStatus.u32TemperatureFlag.store(0);
        if (u32Temperature == 0) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Temperature is %d\r\n\n", static_cast<int>(u32Temperature));
        }
        return;
    }
    stQAMStatus.u32TemperatureFlag.store(1);
    if (u32Temperature <= kZ160THotLimit) {
        if (s_warmPolls.fetch_add(1) % kZ160TWarmLogEvery == 0) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Temperature is over 70 degree (%d)\r\n\n", static_cast<int>(u32Temperature));
        }
        return;
    }
    Z160T_UartComm_DisableRF();
    HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_QAM, "Temperature is over 74 degree (%d)\r\n\n", static_cast<int>(u32Temperature));
}

void Z160T_ResetStatus() {
    for (std::atomic<U32>& word : g_u32State_Value) {
        word.store(0);
    }
    stQAMStatus.u32Temperature.store(0);
    stQAMStatus.u32TemperatureFlag.store(0);
    s_warmPolls.store(0);
}

}  // namespace hx

#include "platform/z160t_uart.h"

#include "core/clock.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "platform/fpga_reg.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_link.h"

namespace hx {

namespace {

constexpr std::uint64_t kClearPauseMicros = 100;
constexpr std::uint64_t kTransmitPollMicros = 1'000;

bool ReceiveEmpty() {
    U32 status = 1;
    REG_Read(kRegUartReceiveEmpty, &status);
    return (status & 1u) != 0;
}

bool TransmitFull() {
    U32 status = 0;
    REG_Read(kRegUartTransmitFull, &status);
    return (status & 1u) != 0;
}

U8 PopByte() {
    U32 byte = 0;
    REG_Read(kRegUartReceiveByte, &byte);
    REG_Write(kRegUartReceivePop, 1);
    REG_Write(kRegUartReceivePop, 0);
    return static_cast<U8>(byte);
}

// Reads `count` bytes into `out`, waiting `pollMicros` on each empty poll;
// false after kZ160TReadPolls empty polls. `read` counts the bytes taken.
bool ReadBytes(U8* out, std::size_t count, std::uint64_t pollMicros, std::size_t& read) {
    U32 emptyPolls = 0;
    read = 0;
    while (read < count) {
        if (ReceiveEmpty()) {
            TheClock().SleepMicros(pollMicros);
            if (++emptyPolls >= kZ160TReadPolls) {
                return false;
            }
            continue;
        }
        out[read++] = PopByte();
    }
    return true;
}

}  // namespace

U32 Z160T_UART_Init() {
    Z160T_Lock_Init();
    Z160TLinkGuard link(Z160T_LinkMutex());
    u8CommOrder.store(0);
    FPGA_UART_Init();
    return VK_160TUART_SUCCESS;
}

std::recursive_mutex& Z160T_LinkMutex() {
    // Never destroyed: the status poll may hold it while the process exits.
    static auto* mutex = new std::recursive_mutex();
    return *mutex;
}

void Z160T_Lock_Init() { Z160T_LinkMutex(); }

void UART_Clear() {
    for (U32 popped = 0; !ReceiveEmpty(); ) {
        PopByte();
        TheClock().SleepMicros(kClearPauseMicros);
        if (++popped >= kZ160TClearLimit) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Read Uart Data More Than 1024 \n");
            return;
        }
    }
}

U32 UART_WriteData(std::span<const U8> data, U32 u32TimeOut) {
    for (U8 byte : data) {
        while (TransmitFull()) {
            if (u32TimeOut == 0) {
                HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Write Data Time Out. \n");
                return VK_160TUART_TIME_OUT;
            }
            TheClock().SleepMicros(kTransmitPollMicros);
            --u32TimeOut;
        }
        REG_Write(kRegUartTransmitByte, byte);
        REG_Write(kRegUartTransmitPush, 0);
        REG_Write(kRegUartTransmitPush, 1);
        REG_Write(kRegUartTransmitPush, 0);
    }
    return VK_160TUART_SUCCESS;
}

U32 UART_ReadData(std::span<U8> buffer, U32* pu32Length) {
    if (pu32Length == nullptr || buffer.size() < kZ160THeadBytes) {
        return VK_160TUART_DATA_NULL;
    }
    std::size_t read = 0;
    if (!ReadBytes(buffer.data(), kZ160THeadBytes, kZ160THeaderPollMicros, read)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "160T Uart Read Header Time Out\n");
        UART_Clear();
        return VK_160TUART_TIME_OUT;
    }
    const U32 header = GetLe32(buffer.data());
    if (header != kZ160TFrameHeader) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u32ReadHeader = 0x%x 160T Uart Read Header Format Error\n", header);
        UART_Clear();
        return VK_160TUART_ERROR_DATA;
    }
    const U16 length = GetLe16(buffer.data() + 6);
    const std::size_t frameSize = kZ160THeadBytes + length + kZ160TCrcBytes;
    if (length > kZ160TMaxDataLength || frameSize > buffer.size()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "160T Uart Read data Length is Over Rang\n");
        UART_Clear();
        return VK_160TUART_ERROR_DATA;
    }
    if (!ReadBytes(buffer.data() + kZ160THeadBytes, length + kZ160TCrcBytes, kZ160TPayloadPollMicros, read)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u32Index = %d u16Length = %d  160T Uart Read Playload Time Out\n",
               static_cast<int>(read), static_cast<int>(length));
        UART_Clear();
        return VK_160TUART_TIME_OUT;
    }
    *pu32Length = static_cast<U32>(frameSize);
    return VK_160TUART_SUCCESS;
}

}  // namespace hx

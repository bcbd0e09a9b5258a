#include "platform/z160t_link.h"

#include "core/clock.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "platform/z160t_uart.h"

namespace hx {

std::atomic<U8> u8CommOrder{0};

namespace {

constexpr std::uint64_t kFailurePauseMicros = 100;
constexpr U32 kRfOffRegister = 21;

U32 FirstFailure(U32 sofar, U32 result) { return sofar == VK_160TUART_SUCCESS ? result : sofar; }

U32 ReadRegister(U8 command, U32 reg, U32* value) {
    if (value == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Parameter is NULL. \n\n");
        return VK_160TUART_DATA_NULL;
    }
    std::array<U8, 4> data{};
    PutLe32(data.data(), reg);
    const Z160TFrameBytes frame = Z160T_UART_Serialize(0, command, data);

    Z160TLinkGuard link(Z160T_LinkMutex());
    UART_Clear();
    UART_WriteData(frame.Span());
    TheClock().SleepMicros(kZ160TReadWaitMicros);
    std::array<U8, kZ160TMaxFrameBytes> buffer{};
    U32 length = 0;
    if (UART_ReadData(buffer, &length) != VK_160TUART_SUCCESS) {
        return VK_160TUART_ERROR_DATA;
    }
    Z160T_UART_CMD reply;
    if (Z160T_CheckReply(std::span<const U8>(buffer).first(length), reply) != VK_160TUART_SUCCESS) {
        return VK_160TUART_ERROR_DATA;
    }
    // A late reply to another request, or one without the word, must not
    // pass for the register's value.
    if (reply.u8CMD != command || reply.u16Length < 4) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u8CMD = %d u16Length = %d Receive Uart Reply Error...\r\n\n",
               static_cast<int>(reply.u8CMD), static_cast<int>(reply.u16Length));
        return VK_160TUART_ERROR_DATA;
    }
    *value = GetLe32(reply.au8Data.data());
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "*pu32Value = 0x%x \r\n\n", *value);
    return VK_160TUART_SUCCESS;
}

}  // namespace

U8 Z160T_NextCommOrder() {
    U8 next = static_cast<U8>(u8CommOrder.load() + 1);
    if (next == 255) {
        next = 0;
    }
    u8CommOrder.store(next);
    return next;
}

U32 Z160T_UART_SendData(U8 cmd, U32 address, U32 value) {
    Z160TLinkGuard link(Z160T_LinkMutex());
    const U8 order = Z160T_NextCommOrder();
    const Z160TFrameBytes frame = Z160T_UART_SerializePair(order, cmd, address, value);
    // An acknowledgement that came after its command gave up still sits in
    // the FIFO and would be read as this command's answer.
    UART_Clear();
    // A frame stuck in a full FIFO simply gets no acknowledgement.
    UART_WriteData(frame.Span());
    TheClock().SleepMicros(kZ160TAckWaitMicros);

    std::array<U8, kZ160TMaxFrameBytes> reply{};
    U32 length = 0;
    bool acknowledged = false;
    if (UART_ReadData(reply, &length) == VK_160TUART_SUCCESS) {
        acknowledged = GetLe32(reply.data()) == kZ160TFrameHeader && reply[5] == cmd && reply[4] == order &&
                       reply[kZ160TAckByte] == kZ160TAckValue;
        if (!acknowledged) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u8CommOrder = %d ReadOrder = %d  ACK Fail....\n\n", static_cast<int>(order),
                   static_cast<int>(reply[4]));
        }
    }
    if (!acknowledged) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "160T Uart Recv Ack Error\n\n");
        UART_Clear();
        TheClock().SleepMicros(kFailurePauseMicros);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "160T Uart Send Para Time Out\n\n");
        UART_Clear();
        return VK_160TUART_TIME_OUT;
    }
    TheClock().SleepMicros(kZ160TAfterAckMicros);
    return VK_160TUART_SUCCESS;
}

U32 Z160T_UART_SendStateCmd(U8 cmd) {
    const Z160TFrameBytes frame = Z160T_UART_Serialize(0, cmd, {});
    Z160TLinkGuard link(Z160T_LinkMutex());
    UART_WriteData(frame.Span());
    TheClock().SleepMicros(kZ160TAfterAckMicros);
    return VK_160TUART_SUCCESS;
}

U32 Z160T_CheckReply(std::span<const U8> bytes, Z160T_UART_CMD& reply) {
    U32 crcSent = 0;
    U32 crcComputed = 0;
    switch (Z160T_UART_Parse(bytes, reply, &crcSent, &crcComputed)) {
        case Z160TParseError::None:
            return VK_160TUART_SUCCESS;
        case Z160TParseError::Crc:
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u32CmdCRC = 0x%x  u32CurCRC = 0x%x  Receive Uart CRC Error...\n", crcSent,
                   crcComputed);
            return VK_160TUART_ERROR_DATA;
        default: {
            const int declared = bytes.size() >= kZ160THeadBytes ? GetLe16(bytes.data() + 6) : 0;
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u16CmdLen = %d u32ReadDataLen = %d Receive Uart Data Len Error...\r\n\n",
                   declared, static_cast<int>(bytes.size()));
            return VK_160TUART_ERROR_DATA;
        }
    }
}

U32 Z160T_UartComm_WriteFPGA(U32 reg, U32 value) { return Z160T_UART_SendData(UART160T_CMD_WRITEFPGA, reg, value); }

U32 Z160T_UartComm_ReadFPGA(U32 reg, U32* value) { return ReadRegister(UART160T_CMD_READFPGA, reg, value); }

U32 Z160T_UartComm_Write9119(U32 reg, U32 value) { return Z160T_UART_SendData(UART160T_CMD_WRITE9119, reg, value); }

U32 Z160T_UartComm_Read9119(U32 reg, U32* value) { return ReadRegister(UART160T_CMD_READ9119, reg, value); }

U32 Z160T_UartComm_DisableRF() {
    Z160TLinkGuard link(Z160T_LinkMutex());
    U32 result = Z160T_UartComm_WriteFPGA(kRfOffRegister, 1);
    result = FirstFailure(result, Z160T_UART_SendData(UART160T_CMD_RESET9119, 0, 0));
    return result;
}

U32 UartComm_WriteMulti(const Parameter_Common* pairs, U32 count) {
    if (pairs == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Input Parameter is NULL. \n\n");
        return VK_160TUART_DATA_NULL;
    }
    Z160TLinkGuard link(Z160T_LinkMutex());
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Send Start Parameter Cmd\n\n");
    UART_Clear();
    U32 result = Z160T_UART_SendData(UART160T_CMD_START, 0, 0);
    for (U32 index = 0; index < count; ++index) {
        const U32 sent = Z160T_UART_SendData(UART160T_CMD_PARAMETERS, pairs[index].address, pairs[index].value);
        if (sent != VK_160TUART_SUCCESS) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "u32Index = %d u32ParamNum = %d\n\n", static_cast<int>(index),
                   static_cast<int>(count));
        }
        result = FirstFailure(result, sent);
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "Send End Parameter Cmd\n\n");
    const Parameter_Common last = count == 0 ? Parameter_Common{0, 0} : pairs[count - 1];
    result = FirstFailure(result, Z160T_UART_SendData(UART160T_CMD_END, last.address, last.value));
    return result;
}

}  // namespace hx

#include "platform/z160t_frame.h"

#include <algorithm>

#include "core/common_fun.h"

namespace hx {

U32 Z160T_UART_CRCCalculate(const U8* pu8Data, U32 u32Length) {
    return Common_CRC_Calculate(pu8Data, u32Length, kCrcInitLinks);
}

Z160TFrameBytes Z160T_UART_Serialize(U8 u8CmdIndex, U8 u8CMD, std::span<const U8> data) {
    Z160TFrameBytes frame;
    const std::size_t length = std::min<std::size_t>(data.size(), kZ160TMaxDataLength);
    PutLe32(frame.bytes.data(), kZ160TFrameHeader);
    frame.bytes[4] = u8CmdIndex;
    frame.bytes[5] = u8CMD;
    PutLe16(frame.bytes.data() + 6, static_cast<U16>(length));
    std::copy_n(data.begin(), length, frame.bytes.begin() + kZ160THeadBytes);
    const std::size_t crcAt = kZ160THeadBytes + length;
    PutLe32(frame.bytes.data() + crcAt, Z160T_UART_CRCCalculate(frame.bytes.data() + 4, static_cast<U32>(crcAt - 4)));
    frame.size = crcAt + kZ160TCrcBytes;
    return frame;
}

Z160TFrameBytes Z160T_UART_SerializePair(U8 u8CmdIndex, U8 u8CMD, U32 u32Address, U32 u32Value) {
    std::array<U8, 8> pair{};
    PutLe32(pair.data(), u32Address);
    PutLe32(pair.data() + 4, u32Value);
    return Z160T_UART_Serialize(u8CmdIndex, u8CMD, pair);
}

Z160TParseError Z160T_UART_Parse(std::span<const U8> bytes, Z160T_UART_CMD& frame, U32* crcSent, U32* crcComputed) {
    if (bytes.size() < kZ160THeadBytes + kZ160TCrcBytes) {
        return Z160TParseError::Short;
    }
    if (GetLe32(bytes.data()) != kZ160TFrameHeader) {
        return Z160TParseError::Header;
    }
    const U16 length = GetLe16(bytes.data() + 6);
    if (length > kZ160TMaxDataLength) {
        return Z160TParseError::LengthOverRange;
    }
    if (bytes.size() != kZ160THeadBytes + length + kZ160TCrcBytes) {
        return Z160TParseError::LengthMismatch;
    }
    const std::size_t crcAt = kZ160THeadBytes + length;
    const U32 sent = GetLe32(bytes.data() + crcAt);
    const U32 computed = Z160T_UART_CRCCalculate(bytes.data() + 4, static_cast<U32>(crcAt - 4));
    if (sent != computed) {
        if (crcSent != nullptr) {
            *crcSent = sent;
        }
        if (crcComputed != nullptr) {
            *crcComputed = computed;
        }
        return Z160TParseError::Crc;
    }
    frame.u32Header = kZ160TFrameHeader;
    frame.u8CmdIndex = bytes[4];
    frame.u8CMD = bytes[5];
    frame.u16Length = length;
    std::copy_n(bytes.begin() + kZ160THeadBytes, length, frame.au8Data.begin());
    return Z160TParseError::None;
}

}  // namespace hx

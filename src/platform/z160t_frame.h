// The frame of the 160T command link (Z160T_UART_CMD), both directions,
// little-endian:
//
//   offset 0   u32 header 0x47474747
//          4   u8  u8CmdIndex  sequence (0 in frames not acknowledged by sequence)
//          5   u8  u8CMD       command code
//          6   u16 u16Length   data bytes
//          8   data
//   8 + len    u32 CRC-32 over bytes 4 .. 8 + len - 1 (Common_CRC_Calculate,
//              initial value 0x04C11DB7)
//
// A received frame declares fewer than 245 data bytes, so a frame is at most
// 256 bytes. Commands with data carry one {address, value} pair (8 bytes);
// register reads carry the register (4 bytes). Stateless; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "core/types.h"

namespace hx {

enum UART160T_CMD : U8 {
    UART160T_CMD_NONE = 0,
    UART160T_CMD_START = 1,
    UART160T_CMD_END = 2,
    UART160T_CMD_PARAMETERS = 3,
    UART160T_CMD_STATUS = 4,
    UART160T_CMD_FACTORY = 5,           // defined, never sent
    UART160T_CMD_SETPIDBITCHECK = 6,    // defined, never sent
    UART160T_CMD_CLEANPIDBITCHECK = 7,  // defined, never sent
    UART160T_CMD_INIT_RADXCORE = 8,     // defined, never sent
    UART160T_CMD_RESET9119 = 9,
    UART160T_CMD_INIT9119 = 10,         // defined, never sent
    UART160T_CMD_WRITEFPGA = 11,
    UART160T_CMD_READFPGA = 12,
    UART160T_CMD_CLOSE9119 = 13,
    UART160T_CMD_WRITE9119 = 14,
    UART160T_CMD_READ9119 = 15,
};

constexpr U32 kZ160TFrameHeader = 0x47474747;
constexpr std::size_t kZ160THeadBytes = 8;
constexpr std::size_t kZ160TCrcBytes = 4;
constexpr U16 kZ160TMaxDataLength = 244;
constexpr std::size_t kZ160TMaxFrameBytes = kZ160THeadBytes + kZ160TMaxDataLength + kZ160TCrcBytes;

struct Z160T_UART_CMD {
    U32 u32Header = kZ160TFrameHeader;
    U8 u8CmdIndex = 0;
    U8 u8CMD = UART160T_CMD_NONE;
    U16 u16Length = 0;
    std::array<U8, kZ160TMaxDataLength> au8Data{};

    std::span<const U8> Data() const { return std::span<const U8>(au8Data).first(u16Length); }
};

// The bytes of one frame; `size` of them are used.
struct Z160TFrameBytes {
    std::array<U8, kZ160TMaxFrameBytes> bytes{};
    std::size_t size = 0;

    std::span<const U8> Span() const { return std::span<const U8>(bytes).first(size); }
};

// The link's CRC: the shared routine with the links' initial value.
U32 Z160T_UART_CRCCalculate(const U8* pu8Data, U32 u32Length);

// A frame with the given sequence, command and data (at most 244 bytes; more
// is cut), header and CRC filled in.
Z160TFrameBytes Z160T_UART_Serialize(U8 u8CmdIndex, U8 u8CMD, std::span<const U8> data);
// A frame carrying one {address, value} pair.
Z160TFrameBytes Z160T_UART_SerializePair(U8 u8CmdIndex, U8 u8CMD, U32 u32Address, U32 u32Value);

enum class Z160TParseError { None, Short, Header, LengthOverRange, LengthMismatch, Crc };

// Decodes a received frame: the header word, a declared length below 245, a
// size of exactly head + data + CRC, and the CRC are checked in that order.
// `crcSent` and `crcComputed` report the two CRCs when the CRC fails.
Z160TParseError Z160T_UART_Parse(std::span<const U8> bytes, Z160T_UART_CMD& frame, U32* crcSent = nullptr,
                                 U32* crcComputed = nullptr);

}  // namespace hx

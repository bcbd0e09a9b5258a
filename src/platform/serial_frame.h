// Frames of the serial link to the back board, and the payloads they carry.
//
//   offset 0  header word 0x47474747
//          4  u8  slot of the card the exchange is about
//          5  u8  command (1 request, 2 network settings, 8 error code, 9 its acknowledgement)
//          6  u16 data length, at most 64
//          8  data
//   8 + length u32 CRC-32 (Common_CRCCalculate, initial 0x04C11DB7) over bytes
//              4 to the end of the data
// Multi-byte fields are little-endian, like the other inter-board records
// (docs/board-interfaces.md). Stateless; safe from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/types.h"

namespace hx {

constexpr U32 kSerialHeader = 0x47474747;
constexpr std::size_t kSerialHeaderSize = 8;
constexpr std::size_t kSerialCrcSize = 4;
constexpr std::size_t kSerialMaxData = 64;
constexpr std::size_t kSerialMaxFrame = kSerialHeaderSize + kSerialMaxData + kSerialCrcSize;

enum SerialCommand : U8 {
    UART_CMD_GET_NETWORK = 1,   // card -> back board, no data
    UART_CMD_NETWORK = 2,       // back board -> card, the network settings
    UART_CMD_ERROR_CODE = 8,    // card -> back board, u32 error code
    UART_CMD_ERROR_ACK = 9,     // back board -> card, the u32 code acknowledged
};

struct SerialFrame {
    U8 slot = 0;
    U8 command = 0;
    std::vector<U8> data;  // at most kSerialMaxData bytes
};

// The frame's bytes; empty when the data is longer than 64 bytes.
std::vector<U8> SerialFrame_Serialize(const SerialFrame& frame);

enum class SerialParseStatus {
    Frame,      // a whole, checked frame
    NeedMore,   // no whole frame yet
    BadLength,  // a header with a length above 64
    BadCrc,     // a whole frame whose CRC does not match
};

struct SerialParseResult {
    SerialParseStatus status = SerialParseStatus::NeedMore;
    // Bytes the caller may drop from the front: noise before a header, the
    // frame itself, or one byte past a broken header so the next search
    // resynchronises on the following header.
    std::size_t consumed = 0;
    SerialFrame frame;
};

// Looks for the first frame in `bytes`.
SerialParseResult SerialFrame_Parse(std::span<const U8> bytes);

// Payload of command 2: five u32, each address with its first octet in the
// top byte; UTC seconds 0 when the back board has no clock to give.
struct SerialNetworkSettings {
    U32 backBoardIP = 0;
    U32 ownIP = 0;
    U32 netmask = 0;
    U32 gateway = 0;
    U32 utcSeconds = 0;
};
constexpr std::size_t kSerialNetworkSettingsSize = 20;

std::vector<U8> SerialNetworkSettings_Serialize(const SerialNetworkSettings& settings);
// nullopt unless exactly 20 bytes are given.
std::optional<SerialNetworkSettings> SerialNetworkSettings_Parse(std::span<const U8> data);

// Payload of commands 8 and 9: one u32.
std::vector<U8> SerialErrorCode_Serialize(U32 code);
std::optional<U32> SerialErrorCode_Parse(std::span<const U8> data);

}  // namespace hx

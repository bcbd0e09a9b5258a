// Shared helpers: CRC-32, big-endian packing of 32-bit words, checksum,
// UTF-16 conversion, sorting, time and address formatting, number parsing.
//
// Stateless and safe from any thread. The one CRC routine serves every user:
// PSI/SI sections pass 0xFFFFFFFF (CRC-32/MPEG-2), the inter-board packets,
// serial frames and parameter files pass 0x04C11DB7 as the initial value.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/types.h"

namespace hx {

// Initial value the inter-board packets, serial frames and parameter files use.
constexpr U32 kCrcInitLinks = 0x04C11DB7;
// Initial value of PSI/SI sections (CRC-32/MPEG-2).
constexpr U32 kCrcInitMpeg2 = 0xFFFFFFFF;

// CRC-32, polynomial 0x04C11DB7, MSB first, no reflection, no final XOR.
// An initial value of 0 means 0xFFFFFFFF.
U32 Common_CRC_Calculate(const U8* pu8Data, U32 u32Length, U32 u32CRCValue);
// The same; a null pointer logs and gives 0.
U32 Common_CRCCalculate(const void* data, U32 length, U32 CRCValue);
inline U32 Common_CRC(std::span<const U8> data, U32 initial) {
    return Common_CRC_Calculate(data.data(), static_cast<U32>(data.size()), initial);
}
// Continues a running CRC register over more bytes, taking `crc` as it is (0
// stays 0): a CRC over data lying in several pieces is the first piece's
// Common_CRC_Calculate continued over the others. Carry-less multiply where
// the processor has it (chosen on first use), else eight bytes a step by
// table; both give the bitwise register's result for any length and address.
U32 Common_CRC_Continue(U32 crc, std::span<const U8> data);
// Test only: each form alone; the carry-less one is nullopt where the
// processor lacks it.
U32 Common_CRC_ContinueByTable(U32 crc, std::span<const U8> data);
std::optional<U32> Common_CRC_ContinueByCarrylessMultiply(U32 crc, std::span<const U8> data);

void Common_ChangeBit32To8(const U32* pu32Data, U8* pu8Data, U32 u32length);
void Common_ChangeBit8To32(U32* pu32Data, const U8* pu8Data, U8 u8Length);
void Common_ConvertASCToUTF16(const U8* paru8Name, U16 u16Len, U8* pu8Buffer);
void Common_AddrU32toString(char* pu8Addr, U32 u32IP);

// Little-endian field access for the fixed byte layouts of records and
// parameter files (the processor's order on the card, stated explicitly so a
// layout never depends on the compiler).
inline void PutLe16(U8* out, U16 value) {
    out[0] = static_cast<U8>(value);
    out[1] = static_cast<U8>(value >> 8);
}
inline void PutLe32(U8* out, U32 value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<U8>(value >> (8 * i));
    }
}
inline U16 GetLe16(const U8* in) { return static_cast<U16>(in[0] | in[1] << 8); }
inline U32 GetLe32(const U8* in) {
    return static_cast<U32>(in[0]) | static_cast<U32>(in[1]) << 8 | static_cast<U32>(in[2]) << 16 |
           static_cast<U32>(in[3]) << 24;
}
// Big-endian, for PSI/SI sections and the frames that carry them.
inline void PutBe16(U8* out, U16 value) {
    out[0] = static_cast<U8>(value >> 8);
    out[1] = static_cast<U8>(value);
}
inline void PutBe32(U8* out, U32 value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<U8>(value >> (24 - 8 * i));
    }
}
inline U16 GetBe16(const U8* in) { return static_cast<U16>(in[0] << 8 | in[1]); }
inline U32 GetBe32(const U8* in) {
    return static_cast<U32>(in[0]) << 24 | static_cast<U32>(in[1]) << 16 | static_cast<U32>(in[2]) << 8 |
           static_cast<U32>(in[3]);
}

// A whole decimal or "0x" hexadecimal number no larger than `max`, as
// command-line options and settings give them; nullopt for anything else.
std::optional<U32> Common_ParseNumber(std::string_view text, U32 max);

}  // namespace hx

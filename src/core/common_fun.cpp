#include "core/common_fun.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/log.h"

namespace hx {

namespace {

constexpr U32 kPolynomial = 0x04C11DB7;

// Byte-at-a-time table of the bitwise MSB-first CRC: the same results, eight
// times fewer steps on the SI and file paths.
struct CrcTable {
    U32 entries[256];
    constexpr CrcTable() : entries() {
        for (U32 byte = 0; byte < 256; ++byte) {
            U32 crc = byte << 24;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
            }
            entries[byte] = crc;
        }
    }
};

constexpr CrcTable kCrcTable;

}  // namespace

U32 Common_CRC_Calculate(const U8* pu8Data, U32 u32Length, U32 u32CRCValue) {
    U32 crc = u32CRCValue == 0 ? 0xFFFFFFFFu : u32CRCValue;
    for (U32 i = 0; i < u32Length; ++i) {
        crc = (crc << 8) ^ kCrcTable.entries[((crc >> 24) ^ pu8Data[i]) & 0xFF];
    }
    return crc;
}

U32 Common_CRCCalculate(const void* data, U32 length, U32 CRCValue) {
    if (data == nullptr) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Param is NULL!\n");
        return 0;
    }
    return Common_CRC_Calculate(static_cast<const U8*>(data), length, CRCValue);
}

void Common_ChangeBit32To8(const U32* pu32Data, U8* pu8Data, U32 u32length) {
    if (pu32Data == nullptr || pu8Data == nullptr) {
        return;
    }
    for (U32 word = 0; word < u32length / 4; ++word) {
        PutBe32(pu8Data + 4 * word, pu32Data[word]);
    }
}

void Common_ChangeBit8To32(U32* pu32Data, const U8* pu8Data, U8 u8Length) {
    // 196 bytes is one SI insertion record, the largest caller.
    if (pu32Data == nullptr || pu8Data == nullptr || u8Length > 196) {
        return;
    }
    for (U32 word = 0; word < u8Length / 4u; ++word) {
        pu32Data[word] = GetBe32(pu8Data + 4 * word);
    }
}

void Common_ConvertASCToUTF16(const U8* paru8Name, U16 u16Len, U8* pu8Buffer) {
    if (paru8Name == nullptr || pu8Buffer == nullptr) {
        return;
    }
    for (U16 i = 0; i < u16Len; ++i) {
        pu8Buffer[2 * i] = 0;
        pu8Buffer[2 * i + 1] = paru8Name[i];
    }
}

void Common_AddrU32toString(char* pu8Addr, U32 u32IP) {
    if (pu8Addr == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Can not popen top cmd!\n");
        return;
    }
    std::snprintf(pu8Addr, 1000, "%d.%d.%d.%d", static_cast<int>(u32IP >> 24 & 0xFF), static_cast<int>(u32IP >> 16 & 0xFF),
                  static_cast<int>(u32IP >> 8 & 0xFF), static_cast<int>(u32IP & 0xFF));
}

std::optional<U32> Common_ParseNumber(std::string_view text, U32 max) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    U32 value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace hx

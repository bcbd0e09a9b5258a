#include "core/common_fun.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/log.h"

namespace hx {

namespace {

constexpr U32 kPolynomial = 0x04C11DB7;

// Slicing-by-8 tables of the bitwise MSB-first CRC: entry [k][b] is the
// register after byte b followed by k zero bytes, so eight bytes take eight
// independent look-ups instead of a chain of eight. The same results as the
// bit-by-bit register, eight bytes a step.
struct CrcTables {
    U32 entries[8][256];
    constexpr CrcTables() : entries() {
        for (U32 byte = 0; byte < 256; ++byte) {
            U32 crc = byte << 24;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
            }
            entries[0][byte] = crc;
        }
        for (int k = 1; k < 8; ++k) {
            for (U32 byte = 0; byte < 256; ++byte) {
                const U32 previous = entries[k - 1][byte];
                entries[k][byte] = (previous << 8) ^ entries[0][previous >> 24];
            }
        }
    }
};

constexpr CrcTables kCrcTables;

U32 CrcByTable(U32 crc, const U8* data, std::size_t length) {
    const auto& t = kCrcTables.entries;
    for (; length >= 8; data += 8, length -= 8) {
        const U32 word = crc ^ GetBe32(data);
        crc = t[7][word >> 24] ^ t[6][(word >> 16) & 0xFF] ^ t[5][(word >> 8) & 0xFF] ^ t[4][word & 0xFF] ^
              t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; length > 0; ++data, --length) {
        crc = (crc << 8) ^ t[0][(crc >> 24) ^ *data];
    }
    return crc;
}

#if defined(__x86_64__)
// Carry-less multiply form. Read MSB first, the message is one polynomial and
// the register after it is (register * x^(8n) + message * x^32) mod P, with
// the register folded into the message's first four bytes. 128-bit blocks,
// byte-swapped so that bit i of the register is the coefficient of x^i, are
// folded forward: a block A = H*x^64 + L moved d bits on is congruent to
// H*(x^(d+64) mod P) + L*(x^d mod P), two 64x32-bit products of under 96 bits
// added into the block d bits on. Four blocks are folded in parallel, 512
// bits a step; what is left is one block, whose x^32 multiple the table form
// reduces, and the tail of under 16 bytes.
constexpr U32 XPowerModP(unsigned power) {
    U32 remainder = 1;  // x^0
    for (unsigned i = 0; i < power; ++i) {
        remainder = (remainder & 0x80000000u) ? (remainder << 1) ^ kPolynomial : remainder << 1;
    }
    return remainder;
}

constexpr std::size_t kFoldBlock = 16;
constexpr std::size_t kFoldMinimum = 4 * kFoldBlock;
// The folding constants x^d mod P and x^(d+64) mod P, for four blocks on
// (d = 512) and one block on (d = 128).
constexpr U32 kBy512Low = XPowerModP(512);
constexpr U32 kBy512High = XPowerModP(512 + 64);
constexpr U32 kBy128Low = XPowerModP(128);
constexpr U32 kBy128High = XPowerModP(128 + 64);

// Sixteen bytes as a polynomial: the first byte's top bit is x^127.
__attribute__((target("pclmul,ssse3"))) __m128i LoadBlock(const U8* data) {
    const __m128i byteSwap = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
}

__attribute__((target("pclmul,ssse3"))) __m128i FoldInto(__m128i block, __m128i constants, __m128i onto) {
    const __m128i high = _mm_clmulepi64_si128(block, constants, 0x11);
    const __m128i low = _mm_clmulepi64_si128(block, constants, 0x00);
    return _mm_xor_si128(_mm_xor_si128(high, low), onto);
}

__attribute__((target("pclmul,ssse3"))) U32 CrcByCarrylessMultiply(U32 crc, const U8* data, std::size_t length) {
    if (length < kFoldMinimum) {
        return CrcByTable(crc, data, length);
    }
    const __m128i by512 = _mm_set_epi64x(kBy512High, kBy512Low);
    const __m128i by128 = _mm_set_epi64x(kBy128High, kBy128Low);

    __m128i a0 = _mm_xor_si128(LoadBlock(data), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
    __m128i a1 = LoadBlock(data + 16);
    __m128i a2 = LoadBlock(data + 32);
    __m128i a3 = LoadBlock(data + 48);
    std::size_t at = kFoldMinimum;
    for (; length - at >= kFoldMinimum; at += kFoldMinimum) {
        a0 = FoldInto(a0, by512, LoadBlock(data + at));
        a1 = FoldInto(a1, by512, LoadBlock(data + at + 16));
        a2 = FoldInto(a2, by512, LoadBlock(data + at + 32));
        a3 = FoldInto(a3, by512, LoadBlock(data + at + 48));
    }
    __m128i folded = FoldInto(FoldInto(FoldInto(a0, by128, a1), by128, a2), by128, a3);
    for (; length - at >= kFoldBlock; at += kFoldBlock) {
        folded = FoldInto(folded, by128, LoadBlock(data + at));
    }
    // Back to bytes, first byte the top of the block.
    alignas(16) U8 last[kFoldBlock];
    _mm_store_si128(reinterpret_cast<__m128i*>(last),
                    _mm_shuffle_epi8(folded, _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)));
    // With a zero register the table form gives block * x^32 mod P.
    return CrcByTable(CrcByTable(0, last, sizeof last), data + at, length - at);
}

bool HasCarrylessMultiply() { return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3"); }
#endif

using CrcForm = U32 (*)(U32, const U8*, std::size_t);

// Chosen once, on first use (which may come from another static initialiser).
CrcForm FastestCrcForm() {
#if defined(__x86_64__)
    static const CrcForm form = HasCarrylessMultiply() ? CrcByCarrylessMultiply : CrcByTable;
#else
    static const CrcForm form = CrcByTable;
#endif
    return form;
}

}  // namespace

U32 Common_CRC_Continue(U32 crc, std::span<const U8> data) { return FastestCrcForm()(crc, data.data(), data.size()); }

U32 Common_CRC_ContinueByTable(U32 crc, std::span<const U8> data) { return CrcByTable(crc, data.data(), data.size()); }

std::optional<U32> Common_CRC_ContinueByCarrylessMultiply(U32 crc, std::span<const U8> data) {
#if defined(__x86_64__)
    if (HasCarrylessMultiply()) {
        return CrcByCarrylessMultiply(crc, data.data(), data.size());
    }
#endif
    (void)crc;
    (void)data;
    return std::nullopt;
}

U32 Common_CRC_Calculate(const U8* pu8Data, U32 u32Length, U32 u32CRCValue) {
    return FastestCrcForm()(u32CRCValue == 0 ? 0xFFFFFFFFu : u32CRCValue, pu8Data, u32Length);
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

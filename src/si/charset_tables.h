// Code tables of the DVB text character sets, read by si/dvb_text.cpp only.
//
// The definitions are not checked in: tools/make_charset_tables.cpp writes
// them into the build tree at build time from the C library's iconv, so the
// program carries the same mappings the system's converters use. A zero entry
// is a code the character set leaves undefined (the reader gives U+FFFD).
// Constant data: any thread may read them.
#pragma once

#include <array>
#include <span>

#include "core/types.h"

namespace hx::charset {

// GB2312 in its EUC-CN form: row and cell bytes 0xA1-0xFE.
constexpr U8 kGbFirst = 0xA1;
constexpr U8 kGbLast = 0xFE;
constexpr U32 kGbSpan = kGbLast - kGbFirst + 1;  // 94
// Index: (first - 0xA1) * 94 + (second - 0xA1).
extern const std::array<U16, kGbSpan * kGbSpan> kGb2312ToUcs2;

// The reverse direction, sorted by the UCS-2 character for a binary search.
struct GbCode {
    U16 u16Unicode;
    U16 u16Gb;  // first byte high, second byte low
};
extern const std::span<const GbCode> kUcs2ToGb2312;

// Big5: lead bytes 0x81-0xFE, trail bytes 0x40-0x7E and 0xA1-0xFE (157 in all).
constexpr U8 kBig5LeadFirst = 0x81;
constexpr U8 kBig5LeadLast = 0xFE;
constexpr U32 kBig5TrailSpan = (0x7E - 0x40 + 1) + (0xFE - 0xA1 + 1);  // 157
// Index: (lead - 0x81) * 157 + trail position (0x40-0x7E first, then 0xA1-0xFE).
extern const std::array<U16, (kBig5LeadLast - kBig5LeadFirst + 1) * kBig5TrailSpan> kBig5ToUcs2;

// ISO/IEC 8859 part n (1-15) for the bytes 0x80-0xFF at [n][byte - 0x80];
// the lower half is ASCII in every part. Parts 0 and 12 do not exist: all zero.
constexpr U32 kIso8859Parts = 16;
extern const std::array<std::array<U16, 128>, kIso8859Parts> kIso8859ToUcs2;

}  // namespace hx::charset

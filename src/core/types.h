// Integer names shared by every module of the card application.
//
// The records that cross a wire or a file were laid out with these names, so
// they stay: U8/U16/U32, S8/S16/S32 and an 8-bit BOOL. U64 is deliberately 32
// bits wide: the file headers that declare U64 fields give them 4 bytes, and a
// real 64-bit type here would move every later offset.
#pragma once

#include <cstdint>

namespace hx {

using U8 = std::uint8_t;
using U16 = std::uint16_t;
using U32 = std::uint32_t;
using U64 = std::uint32_t;
using S8 = std::int8_t;
using S16 = std::int16_t;
using S32 = std::int32_t;
using BOOL = std::uint8_t;

constexpr BOOL HX_TRUE = 1;
constexpr BOOL HX_FALSE = 0;

}  // namespace hx

// Character sets of DVB text: the selector byte that opens a service or
// network name, and the conversions between those byte forms, UCS-2 and
// UTF-8 that the web pages, the JSON settings file and the SNMP names use.
//
// Plain functions without state (the code tables are constant), callable from
// any thread. Every routine takes the length of its input and the capacity of
// its output, reads nothing past the one and writes nothing past the other;
// outputs that are texts are NUL-terminated within their capacity and end on a
// whole character. UCS-2 covers the Basic Multilingual Plane only: anything
// beyond it, and any malformed input, becomes U+FFFD.
#pragma once

#include "core/types.h"

namespace hx {

// UTF-8 to UCS-2. Writes at most `u32OutUnits` units (no NUL) and their count
// to `*pu32Count`; false at a lead byte 0xFE or 0xFF, with the units decoded
// before it counted.
bool UTF82Unicode(const U8* pu8Utf8, U32 u32Length, U16* pu16Out, U32 u32OutUnits, U32* pu32Count);

// DVB text with its selector (a first byte below 0x20) to NUL-terminated
// UCS-2; returns the units written before the NUL. `u32OutUnits` includes the
// NUL. Selectors 0x01-0x0B are ISO/IEC 8859-5..15 (0x08, which would be the
// never published part 12, is reserved) and 0x10 0x00 n is part n. Text
// without a selector, a reserved table and the selectors of other character
// sets keep their ASCII bytes and give U+FFFD for each byte above 0x7F, as do
// the codes a part leaves undefined. A 0x10 selector without its two table
// bytes gives the empty text; a NUL byte ends the text.
U32 Convert_8859_to_U(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits);

// UCS-2 to GB2312 bytes or to ISO/IEC 8859-5 bytes, '?' for a character the
// set lacks; stop at a NUL unit, write only whole characters and NUL-terminate
// within `u32OutBytes`; return the bytes before the NUL.
U32 Convert_U_to_GB(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes);
U32 Convert_U_to_8859_5(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes);

// True when the text opens with no selector (or with 0x13/0x14) and holds a
// byte above 0xA0: a GB2312 name stored without its selector.
bool IsGBSimplifiedChinese(const U8* pu8Text, U32 u32Length);

// UCS-2 to NUL-terminated UTF-8; both stop at a NUL unit, write only whole
// characters and turn a surrogate unit into U+FFFD. Return the bytes before
// the NUL.
U32 utf16_to_utf8(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes);
U32 UCS2_to_UTF8(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes);

// GB2312 or Big5 bytes to NUL-terminated UCS-2 through the code tables;
// return the units before the NUL. ASCII bytes pass as they are; a byte pair
// the table leaves undefined gives U+FFFD, a lead byte without a trail byte
// after it gives U+FFFD and the next byte is read again, and a lead byte that
// is the input's last byte ends the text.
U32 ConvertGBToUTF16(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits);
U32 ConvertBIG5ToUTF16(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits);

// True when a unit lies in U+0400-U+04FF.
bool IsUnicodeCyrillic(const U16* pu16Text, U32 u32Count);
// True when a unit is a CJK ideograph (U+4E00-U+9FFF) that GB2312 can write.
bool IsUnicodeSimplifiedChinese(const U16* pu16Text, U32 u32Count);

}  // namespace hx

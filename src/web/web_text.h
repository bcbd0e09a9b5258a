// DVB text to and from UTF-8 for the web pages, the JSON settings file and the
// board MIB: a name as the board stores it (with its character-set selector)
// and as JSON carries it.
//
// Both converters return the one shared static buffer `s_aru8ServiceName`,
// cleared by every call: a result stays valid only until the next call of
// either, so they belong to one thread at a time (the HTTP server thread, or
// the caller that holds the model's apply lock).
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kServiceNameBytes = 257;

// DVB text (with its selector) to NUL-terminated UTF-8: at most 256 bytes
// ending on a whole character, control bytes turned into blanks. Nothing past
// `u32Length` is read: a 0x10 selector without its two table bytes, a GB2312
// or Big5 lead byte that is the last byte, or a byte left over after the last
// whole UCS-2 pair of a 0x11 text ends the text there.
char* web_StringConvertToUTF8(const U8* pu8Text, U32 u32Length);

// UTF-8 text to DVB text with the selector that suits it: none for printable
// ASCII, 0x01 (ISO/IEC 8859-5) for a name with Cyrillic, 0x13 (GB2312) for one
// with a simplified Chinese ideograph, 0x15 (UTF-8) for anything else. The
// result holds at most 256 bytes of whole characters, selector included, and
// is NUL-terminated, so its length is strlen of the returned bytes.
U8* web_UTF8ToServiceName(const char* pText, U32 u32Length);

}  // namespace hx

#include "web/web_text.h"

#include <algorithm>
#include <cstring>

#include "si/dvb_text.h"

namespace hx {
namespace {

U8 s_aru8ServiceName[kServiceNameBytes];

constexpr U8 kLatinLastSelector = 0x0B;
constexpr U8 kIso8859Selector = 0x10;
constexpr U8 kUcs2Selector = 0x11;
constexpr U8 kGb2312Selector = 0x13;
constexpr U8 kBig5Selector = 0x14;
constexpr U8 kUtf8Selector = 0x15;
constexpr U8 kIso8859_5Selector = 0x01;

// A UTF-8 result holds at most this many bytes before its NUL.
constexpr U32 kTextBytes = kServiceNameBytes - 1;
// How much of a name each character set reads: 256 bytes of a one- or
// two-byte set, 256 UCS-2 characters, 768 bytes of UTF-8.
constexpr U32 kByteSetInput = 256;
constexpr U32 kUcs2Units = 256;
constexpr U32 kUtf8Input = 768;
// 256 UCS-2 characters as UTF-8, with the NUL.
constexpr U32 kUtf8Scratch = 3 * kUcs2Units + 1;

// Where `pu8Text[0, u32End)` ends on a whole UTF-8 character: a sequence whose
// lead byte promises more bytes than are left is cut off. Stray continuation
// bytes are left as they are.
U32 WholeCharacterEnd(const U8* pu8Text, U32 u32End) {
    U32 lead = u32End;
    U32 continuations = 0;
    while (lead > 0 && continuations < 4 && (pu8Text[lead - 1] & 0xC0) == 0x80) {
        --lead;
        ++continuations;
    }
    if (lead == 0 || pu8Text[lead - 1] < 0xC0) {
        return u32End;
    }
    const U8 first = pu8Text[lead - 1];
    const U32 length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    return continuations + 1 < length ? lead - 1 : u32End;
}

// The result is ours: at most 256 bytes ending on a whole character, each
// control byte (as the POSIX locale classifies them) a blank, then the NUL.
char* FinishUtf8(const U8* pu8Utf8, U32 u32Length) {
    const U32 untilNul = static_cast<U32>(std::find(pu8Utf8, pu8Utf8 + u32Length, 0) - pu8Utf8);
    const U32 end = WholeCharacterEnd(pu8Utf8, std::min(untilNul, kTextBytes));
    for (U32 i = 0; i < end; ++i) {
        const U8 byte = pu8Utf8[i];
        s_aru8ServiceName[i] = byte < 0x20 || byte == 0x7F ? ' ' : byte;
    }
    s_aru8ServiceName[end] = 0;
    return reinterpret_cast<char*>(s_aru8ServiceName);
}

}  // namespace

char* web_StringConvertToUTF8(const U8* pu8Text, U32 u32Length) {
    std::memset(s_aru8ServiceName, 0, sizeof s_aru8ServiceName);
    if (pu8Text == nullptr || u32Length == 0) {
        return reinterpret_cast<char*>(s_aru8ServiceName);
    }
    U16 units[kUcs2Units + 1] = {};
    U8 utf8[kUtf8Scratch] = {};
    const U8 selector = pu8Text[0];
    const U32 afterSelector = u32Length - 1;
    // The decoded characters in `units`, as the result.
    const auto unitsAsResult = [&] { return FinishUtf8(utf8, utf16_to_utf8(units, kUcs2Units, utf8, sizeof utf8)); };

    if (selector <= kLatinLastSelector || selector == kIso8859Selector) {
        Convert_8859_to_U(pu8Text, std::min(u32Length, kByteSetInput), units, kUcs2Units + 1);
        return unitsAsResult();
    }
    if (selector == kUcs2Selector) {
        // A byte left over after the last whole pair ends the text.
        const U32 count = std::min(afterSelector, 2 * kUcs2Units) / 2;
        for (U32 i = 0; i < count; ++i) {
            units[i] = static_cast<U16>(pu8Text[1 + 2 * i] << 8 | pu8Text[2 + 2 * i]);
        }
        return FinishUtf8(utf8, UCS2_to_UTF8(units, count, utf8, sizeof utf8));
    }
    if (selector == kGb2312Selector || selector == kBig5Selector) {
        const U32 take = std::min(afterSelector, kByteSetInput);
        if (selector == kGb2312Selector) {
            ConvertGBToUTF16(pu8Text + 1, take, units, kUcs2Units + 1);
        } else {
            ConvertBIG5ToUTF16(pu8Text + 1, take, units, kUcs2Units + 1);
        }
        return unitsAsResult();
    }
    if (selector == kUtf8Selector) {
        return FinishUtf8(pu8Text + 1, std::min(afterSelector, kUtf8Input));
    }
    // No selector, or one of a character set not read here: a GB2312 name
    // stored without its selector, or text taken as it is.
    if (IsGBSimplifiedChinese(pu8Text, u32Length)) {
        ConvertGBToUTF16(pu8Text, std::min(u32Length, kByteSetInput), units, kUcs2Units + 1);
        return unitsAsResult();
    }
    return FinishUtf8(pu8Text, std::min(u32Length, kUtf8Input));
}

U8* web_UTF8ToServiceName(const char* pText, U32 u32Length) {
    std::memset(s_aru8ServiceName, 0, sizeof s_aru8ServiceName);
    if (pText == nullptr || u32Length == 0) {
        return s_aru8ServiceName;
    }
    const U8* text = reinterpret_cast<const U8*>(pText);
    if (std::all_of(text, text + u32Length, [](U8 byte) { return byte >= 0x20 && byte <= 0x7F; })) {
        std::memcpy(s_aru8ServiceName, text, std::min(u32Length, kTextBytes - 1));
        return s_aru8ServiceName;
    }

    // Only what can reach the result is decoded: at most 255 bytes follow the
    // selector, and every character takes at least one.
    U16 units[kUcs2Units] = {};
    U32 count = 0;
    UTF82Unicode(text, u32Length, units, kUcs2Units, &count);
    U8 selector = kUtf8Selector;
    if (count > 0 && IsUnicodeCyrillic(units, count)) {
        selector = kIso8859_5Selector;
    } else if (count > 0 && IsUnicodeSimplifiedChinese(units, count)) {
        selector = kGb2312Selector;
    }

    // After the selector: at most 255 bytes of whole characters and the NUL.
    s_aru8ServiceName[0] = selector;
    U8* body = s_aru8ServiceName + 1;
    const U32 room = kServiceNameBytes - 1;
    if (selector == kGb2312Selector) {
        Convert_U_to_GB(units, count, body, room);
    } else if (selector == kIso8859_5Selector) {
        Convert_U_to_8859_5(units, count, body, room);
    } else {
        const U32 take = std::min(u32Length, kTextBytes - 2);
        std::memcpy(body, text, WholeCharacterEnd(text, take));
    }
    return s_aru8ServiceName;
}

}  // namespace hx

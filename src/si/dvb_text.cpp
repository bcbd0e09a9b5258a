#include "si/dvb_text.h"

#include <algorithm>
#include <optional>

#include "si/charset_tables.h"

namespace hx {
namespace {

constexpr U16 kReplacement = 0xFFFD;
// Selectors of EN 300 468 Annex A that the routines here read.
constexpr U8 kFirstSelectorFree = 0x20;   // a first byte from here on is text
constexpr U8 kIso8859Selector = 0x10;     // then 0x00 and the part number
constexpr U8 kReservedLatinSelector = 0x08;  // would be 8859-12, never published
constexpr U8 kGb2312Selector = 0x13;
constexpr U8 kBig5Selector = 0x14;

// The ISO/IEC 8859 part a DVB text selects, and where its characters start.
// Part 0 (no part) reads as a reserved table.
struct LatinTable {
    U32 u32Part = 0;
    U32 u32Start = 0;
};

// A 0x10 selector without its two table bytes has no characters at all.
std::optional<LatinTable> SelectLatinTable(const U8* pu8Text, U32 u32Length) {
    const U8 selector = pu8Text[0];
    if (selector >= kFirstSelectorFree) {
        return LatinTable{0, 0};
    }
    if (selector >= 0x01 && selector <= 0x0B) {
        return LatinTable{selector == kReservedLatinSelector ? 0u : selector + 4u, 1};
    }
    if (selector == kIso8859Selector) {
        if (u32Length < 3) {
            return std::nullopt;
        }
        const U8 part = pu8Text[2];
        const bool known = pu8Text[1] == 0x00 && part >= 1 && part < charset::kIso8859Parts;
        return LatinTable{known ? part : 0u, 3};
    }
    return LatinTable{0, 1};
}

std::optional<U16> FindGbCode(U16 u16Unicode) {
    const auto& codes = charset::kUcs2ToGb2312;
    const auto found = std::lower_bound(codes.begin(), codes.end(), u16Unicode,
                                        [](const charset::GbCode& code, U16 unicode) { return code.u16Unicode < unicode; });
    if (found == codes.end() || found->u16Unicode != u16Unicode) {
        return std::nullopt;
    }
    return found->u16Gb;
}

std::optional<U8> Find8859_5Code(U16 u16Unicode) {
    if (u16Unicode < 0x80) {
        return static_cast<U8>(u16Unicode);
    }
    const auto& upper = charset::kIso8859ToUcs2[5];
    const auto found = std::find(upper.begin(), upper.end(), u16Unicode);
    if (found == upper.end()) {
        return std::nullopt;
    }
    return static_cast<U8>(0x80 + (found - upper.begin()));
}

bool IsSurrogate(U32 u32Code) { return u32Code >= 0xD800 && u32Code <= 0xDFFF; }

// Two-byte character sets (GB2312, Big5): ASCII bytes pass, a lead byte and a
// trail byte in range give a table entry, anything else one U+FFFD. A lead
// byte that is the last byte of the input ends the text.
template <typename Lookup>
U32 ConvertDoubleByte(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits, U8 u8LeadFirst,
                      Lookup lookup) {
    if (pu16Out == nullptr || u32OutUnits == 0) {
        return 0;
    }
    if (pu8Text == nullptr) {
        u32Length = 0;
    }
    U32 count = 0;
    U32 at = 0;
    while (at < u32Length && count + 1 < u32OutUnits && pu8Text[at] != 0) {
        const U8 lead = pu8Text[at];
        if (lead < 0x80) {
            pu16Out[count++] = lead;
            ++at;
            continue;
        }
        if (lead < u8LeadFirst || lead == 0xFF) {
            pu16Out[count++] = kReplacement;
            ++at;
            continue;
        }
        if (at + 1 >= u32Length) {
            break;
        }
        const std::optional<U16> unit = lookup(lead, pu8Text[at + 1]);
        if (!unit) {
            // Not a trail byte: the lead alone is bad, the next byte is read again.
            pu16Out[count++] = kReplacement;
            ++at;
            continue;
        }
        pu16Out[count++] = *unit != 0 ? *unit : kReplacement;
        at += 2;
    }
    pu16Out[count] = 0;
    return count;
}

}  // namespace

bool UTF82Unicode(const U8* pu8Utf8, U32 u32Length, U16* pu16Out, U32 u32OutUnits, U32* pu32Count) {
    if (pu8Utf8 == nullptr || pu16Out == nullptr) {
        u32Length = 0;
    }
    U32 count = 0;
    U32 at = 0;
    bool complete = true;
    while (at < u32Length && count < u32OutUnits) {
        const U8 lead = pu8Utf8[at];
        if (lead < 0x80) {
            pu16Out[count++] = lead;
            ++at;
            continue;
        }
        if (lead >= 0xFE) {
            complete = false;
            break;
        }
        // The ranges of the second byte exclude overlong forms, surrogates
        // and code points past U+10FFFF.
        U32 needed = 0;
        U32 code = 0;
        U8 low = 0x80;
        U8 high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            code = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            code = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            // A stray continuation byte, an overlong lead or a lead of a form
            // longer than four bytes.
            pu16Out[count++] = kReplacement;
            ++at;
            continue;
        }
        ++at;
        U32 got = 0;
        while (got < needed && at < u32Length && pu8Utf8[at] >= low && pu8Utf8[at] <= high) {
            code = code << 6 | (pu8Utf8[at] & 0x3F);
            low = 0x80;
            high = 0xBF;
            ++at;
            ++got;
        }
        // A broken sequence is one U+FFFD, and reading goes on at the byte
        // that broke it; a whole one past the BMP has no UCS-2 form.
        pu16Out[count++] = got == needed && code <= 0xFFFF ? static_cast<U16>(code) : kReplacement;
    }
    if (pu32Count != nullptr) {
        *pu32Count = count;
    }
    return complete;
}

U32 Convert_8859_to_U(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits) {
    if (pu16Out == nullptr || u32OutUnits == 0) {
        return 0;
    }
    pu16Out[0] = 0;
    if (pu8Text == nullptr || u32Length == 0) {
        return 0;
    }
    const std::optional<LatinTable> table = SelectLatinTable(pu8Text, u32Length);
    if (!table) {
        return 0;
    }
    const auto& upper = charset::kIso8859ToUcs2[table->u32Part];
    U32 count = 0;
    for (U32 at = table->u32Start; at < u32Length && count + 1 < u32OutUnits && pu8Text[at] != 0; ++at) {
        const U8 byte = pu8Text[at];
        const U16 unit = byte < 0x80 ? byte : upper[byte - 0x80];
        pu16Out[count++] = unit != 0 ? unit : kReplacement;
    }
    pu16Out[count] = 0;
    return count;
}

namespace {

// UCS-2 to a byte form: `encode` writes one character's bytes (one or two);
// a character that does not fit whole before the NUL is left out, with all
// after it.
template <typename Encode>
U32 EncodeUnits(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes, Encode encode) {
    if (pu8Out == nullptr || u32OutBytes == 0) {
        return 0;
    }
    if (pu16Text == nullptr) {
        u32Count = 0;
    }
    U32 length = 0;
    for (U32 i = 0; i < u32Count && pu16Text[i] != 0; ++i) {
        U8 bytes[2];
        const U32 size = encode(pu16Text[i], bytes);
        if (length + size >= u32OutBytes) {
            break;
        }
        for (U32 k = 0; k < size; ++k) {
            pu8Out[length++] = bytes[k];
        }
    }
    pu8Out[length] = 0;
    return length;
}

}  // namespace

U32 Convert_U_to_GB(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes) {
    return EncodeUnits(pu16Text, u32Count, pu8Out, u32OutBytes, [](U16 unit, U8* bytes) -> U32 {
        const std::optional<U16> code = unit < 0x80 ? std::nullopt : FindGbCode(unit);
        if (!code) {
            bytes[0] = unit < 0x80 ? static_cast<U8>(unit) : '?';
            return 1;
        }
        bytes[0] = static_cast<U8>(*code >> 8);
        bytes[1] = static_cast<U8>(*code);
        return 2;
    });
}

U32 Convert_U_to_8859_5(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes) {
    return EncodeUnits(pu16Text, u32Count, pu8Out, u32OutBytes, [](U16 unit, U8* bytes) -> U32 {
        bytes[0] = Find8859_5Code(unit).value_or('?');
        return 1;
    });
}

bool IsGBSimplifiedChinese(const U8* pu8Text, U32 u32Length) {
    if (pu8Text == nullptr || u32Length == 0) {
        return false;
    }
    const U8 first = pu8Text[0];
    if (first < kFirstSelectorFree && first != kGb2312Selector && first != kBig5Selector) {
        return false;
    }
    return std::any_of(pu8Text, pu8Text + u32Length, [](U8 byte) { return byte > 0xA0; });
}

U32 utf16_to_utf8(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes) {
    if (pu8Out == nullptr || u32OutBytes == 0) {
        return 0;
    }
    if (pu16Text == nullptr) {
        u32Count = 0;
    }
    U32 length = 0;
    for (U32 i = 0; i < u32Count && pu16Text[i] != 0; ++i) {
        // UCS-2 has no pairs: a surrogate unit is no character.
        const U32 code = IsSurrogate(pu16Text[i]) ? kReplacement : pu16Text[i];
        const U32 bytes = code < 0x80 ? 1 : code < 0x800 ? 2 : 3;
        if (length + bytes >= u32OutBytes) {
            break;
        }
        if (bytes == 1) {
            pu8Out[length++] = static_cast<U8>(code);
        } else if (bytes == 2) {
            pu8Out[length++] = static_cast<U8>(0xC0 | code >> 6);
            pu8Out[length++] = static_cast<U8>(0x80 | (code & 0x3F));
        } else {
            pu8Out[length++] = static_cast<U8>(0xE0 | code >> 12);
            pu8Out[length++] = static_cast<U8>(0x80 | ((code >> 6) & 0x3F));
            pu8Out[length++] = static_cast<U8>(0x80 | (code & 0x3F));
        }
    }
    pu8Out[length] = 0;
    return length;
}

U32 UCS2_to_UTF8(const U16* pu16Text, U32 u32Count, U8* pu8Out, U32 u32OutBytes) {
    return utf16_to_utf8(pu16Text, u32Count, pu8Out, u32OutBytes);
}

U32 ConvertGBToUTF16(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits) {
    return ConvertDoubleByte(pu8Text, u32Length, pu16Out, u32OutUnits, charset::kGbFirst,
                             [](U8 lead, U8 trail) -> std::optional<U16> {
                                 if (trail < charset::kGbFirst || trail > charset::kGbLast) {
                                     return std::nullopt;
                                 }
                                 return charset::kGb2312ToUcs2[(lead - charset::kGbFirst) * charset::kGbSpan +
                                                               (trail - charset::kGbFirst)];
                             });
}

U32 ConvertBIG5ToUTF16(const U8* pu8Text, U32 u32Length, U16* pu16Out, U32 u32OutUnits) {
    return ConvertDoubleByte(pu8Text, u32Length, pu16Out, u32OutUnits, charset::kBig5LeadFirst,
                             [](U8 lead, U8 trail) -> std::optional<U16> {
                                 U32 position = 0;
                                 if (trail >= 0x40 && trail <= 0x7E) {
                                     position = trail - 0x40;
                                 } else if (trail >= 0xA1 && trail <= 0xFE) {
                                     position = (0x7E - 0x40 + 1) + (trail - 0xA1);
                                 } else {
                                     return std::nullopt;
                                 }
                                 return charset::kBig5ToUcs2[(lead - charset::kBig5LeadFirst) *
                                                                 charset::kBig5TrailSpan +
                                                             position];
                             });
}

bool IsUnicodeCyrillic(const U16* pu16Text, U32 u32Count) {
    return pu16Text != nullptr &&
           std::any_of(pu16Text, pu16Text + u32Count, [](U16 unit) { return unit >= 0x0400 && unit <= 0x04FF; });
}

bool IsUnicodeSimplifiedChinese(const U16* pu16Text, U32 u32Count) {
    return pu16Text != nullptr && std::any_of(pu16Text, pu16Text + u32Count, [](U16 unit) {
               return unit >= 0x4E00 && unit <= 0x9FFF && FindGbCode(unit).has_value();
           });
}

}  // namespace hx

// Fuzzes the web's two DVB text converters with the same bytes: as a stored
// name (selector first) to UTF-8, and as UTF-8 from a page to a stored name,
// whose result goes back to UTF-8 again. Each input is a heap buffer of
// exactly its size, so AddressSanitizer catches a read past a truncated name.
// Every result must fit the 257-byte service-name buffer with its NUL and
// hold no control byte. Text a character set decodes, and text that came as
// well-formed UTF-8, must come out as well-formed UTF-8: in particular no
// character cut short where a long name was cut. A stored name holds whole
// characters of the set its selector names.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "web/web_text.h"

namespace {

std::size_t Length(const void* text) { return strnlen(static_cast<const char*>(text), hx::kServiceNameBytes); }

bool IsWellFormedUtf8(const std::uint8_t* text, std::size_t length) {
    for (std::size_t at = 0; at < length;) {
        const std::uint8_t lead = text[at];
        std::size_t needed = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead < 0x80) {
            needed = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        ++at;
        for (std::size_t i = 0; i < needed; ++i, ++at) {
            if (at >= length || text[at] < low || text[at] > high) {
                return false;
            }
            low = 0x80;
            high = 0xBF;
        }
    }
    return true;
}

void CheckUtf8(const char* text, bool wellFormed) {
    const std::size_t length = Length(text);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
    if (length >= hx::kServiceNameBytes ||
        std::any_of(bytes, bytes + length, [](std::uint8_t byte) { return byte < 0x20 || byte == 0x7F; })) {
        std::abort();
    }
    if (wellFormed && !IsWellFormedUtf8(bytes, length)) {
        std::abort();
    }
}

// Selectors whose text is decoded (not taken as it is).
bool IsDecodingSelector(std::uint8_t selector) {
    return selector <= 0x0B || selector == 0x10 || selector == 0x11 || selector == 0x13 || selector == 0x14;
}

void CheckServiceName(const std::uint8_t* name, const std::uint8_t* input, std::size_t size) {
    const std::size_t length = Length(name);
    if (length >= hx::kServiceNameBytes) {
        std::abort();
    }
    if (length == 0) {
        return;
    }
    const std::uint8_t selector = name[0];
    if (selector >= 0x20) {
        // Plain ASCII as it came.
        if (length > 255 || length > size || std::memcmp(name, input, length) != 0) {
            std::abort();
        }
    } else if (selector == 0x15) {
        if (length - 1 > 254 || length - 1 > size || std::memcmp(name + 1, input, length - 1) != 0) {
            std::abort();
        }
    } else if (selector == 0x13) {
        for (std::size_t at = 1; at < length; at += name[at] >= 0x80 ? 2 : 1) {
            if (name[at] >= 0x80 && (at + 1 >= length || name[at] < 0xA1 || name[at + 1] < 0xA1)) {
                std::abort();  // half a GB2312 character
            }
        }
    } else if (selector != 0x01) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    const auto length = static_cast<hx::U32>(input.size());
    const bool wellFormed = IsWellFormedUtf8(input.data(), input.size());
    CheckUtf8(hx::web_StringConvertToUTF8(input.data(), length), size > 0 && IsDecodingSelector(input[0]));

    // The same bytes as a UTF-8 name stored with its selector.
    std::vector<std::uint8_t> utf8Name = {0x15};
    utf8Name.insert(utf8Name.end(), input.begin(), input.end());
    CheckUtf8(hx::web_StringConvertToUTF8(utf8Name.data(), static_cast<hx::U32>(utf8Name.size())), wellFormed);

    const std::vector<char> text(input.begin(), input.end());
    const std::uint8_t* name = hx::web_UTF8ToServiceName(text.data(), length);
    CheckServiceName(name, input.data(), input.size());

    // The stored name read back, from a buffer of exactly its length.
    const std::vector<std::uint8_t> stored(name, name + Length(name));
    CheckUtf8(hx::web_StringConvertToUTF8(stored.data(), static_cast<hx::U32>(stored.size())),
              wellFormed || (!stored.empty() && IsDecodingSelector(stored[0])));
    return 0;
}

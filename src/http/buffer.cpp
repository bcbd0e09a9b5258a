// Storage comes from malloc, not new: plugins written in C share these
// records, and an allocation failure must reach log_failed_assert rather than
// throw through C frames.
#include "http/buffer.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "http/failed_assert.h"

namespace hx {

namespace {

constexpr size_t kKeptStorage = 4096;
constexpr size_t kBufferArrayStep = 16;

// Allocation sizes are whole 64-byte blocks, at least one more than asked
// with the low six bits cleared.
constexpr size_t grown_size(size_t wanted) {
    return (wanted & ~static_cast<size_t>(63)) + 64;
}

// Makes sure a text buffer has its NUL slot; appends write in front of it.
void ensure_text(buffer* b) {
    if (b->used == 0) {
        b->used = 1;
        b->ptr[0] = '\0';
    }
}

// The text of b without its NUL, empty for an empty buffer.
std::string_view text_of(const buffer* b) {
    return b->used == 0 ? std::string_view() : std::string_view(b->ptr, b->used - 1);
}

// Appending a buffer's own bytes to it: growing may move the storage, so
// the source is found again at the same offset afterwards.
const char* reserve_keeping_source(buffer* b, const char* s, size_t size) {
    // Compared as addresses: s is not dereferenced until it is found again.
    const auto source = reinterpret_cast<std::uintptr_t>(s);
    const auto start = reinterpret_cast<std::uintptr_t>(b->ptr);
    const bool inside = b->ptr != nullptr && source >= start && source < start + b->size;
    const size_t offset = inside ? source - start : 0;
    buffer_prepare_append(b, size);
    return inside ? b->ptr + offset : s;
}

unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c | 0x20) : c;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// One row per encoding: which bytes it escapes.
using EscapeMap = std::array<bool, 256>;

constexpr EscapeMap make_uri_map(bool slash) {
    EscapeMap map{};
    for (int c = 0; c < 256; ++c) {
        map[c] = c <= 0x20 || (c >= 0x22 && c <= 0x27) || c == 0x2B || c == 0x2C || (c >= 0x3A && c <= 0x40) ||
                 (c >= 0x5B && c <= 0x5E) || c == 0x60 || c >= 0x7B || (slash && c == '/');
    }
    return map;
}

constexpr EscapeMap make_markup_map(bool highBytes) {
    EscapeMap map{};
    for (int c = 0; c < 256; ++c) {
        map[c] = c < 0x20 || c == '&' || c == '<' || c == '>' || c == 0x7F || (highBytes && c > 0x7F);
    }
    return map;
}

constexpr EscapeMap make_all_map() {
    EscapeMap map{};
    for (auto& entry : map) {
        entry = true;
    }
    return map;
}

constexpr EscapeMap make_header_map() {
    EscapeMap map{};
    map['\n'] = true;
    return map;
}

constexpr EscapeMap kRelUri = make_uri_map(false);
constexpr EscapeMap kRelUriPart = make_uri_map(true);
constexpr EscapeMap kHtml = make_markup_map(true);
constexpr EscapeMap kMinimalXml = make_markup_map(false);
constexpr EscapeMap kHex = make_all_map();
constexpr EscapeMap kHttpHeader = make_header_map();

const EscapeMap* escape_map(buffer_encoding_t encoding) {
    switch (encoding) {
    case ENCODING_REL_URI: return &kRelUri;
    case ENCODING_REL_URI_PART: return &kRelUriPart;
    case ENCODING_HTML: return &kHtml;
    case ENCODING_MINIMAL_XML: return &kMinimalXml;
    case ENCODING_HEX: return &kHex;
    case ENCODING_HTTP_HEADER: return &kHttpHeader;
    case ENCODING_UNSET: break;
    }
    return nullptr;
}

// Bytes written for one escaped byte under each encoding.
size_t escaped_width(buffer_encoding_t encoding) {
    switch (encoding) {
    case ENCODING_REL_URI:
    case ENCODING_REL_URI_PART: return 3;  // %hh
    case ENCODING_HTML:
    case ENCODING_MINIMAL_XML: return 6;   // &#xhh;
    case ENCODING_HEX:
    case ENCODING_HTTP_HEADER: return 2;   // hh, or LF TAB
    case ENCODING_UNSET: break;
    }
    return 0;
}

int urldecode(buffer* b, bool isQuery) {
    if (b == nullptr) {
        return -1;
    }
    if (b->used == 0) {
        return 0;
    }
    const size_t length = b->used - 1;
    char* const text = b->ptr;
    size_t out = 0;
    for (size_t in = 0; in < length; ++in) {
        char c = text[in];
        if (isQuery && c == '+') {
            c = ' ';
        } else if (c == '%' && in + 2 < length) {
            const int high = hex2int(static_cast<unsigned char>(text[in + 1]));
            const int low = hex2int(static_cast<unsigned char>(text[in + 2]));
            if (high != 0xFF && low != 0xFF) {
                const int decoded = (high << 4) | low;
                c = (decoded < 0x20 || decoded == 0x7F) ? '_' : static_cast<char>(decoded);
                in += 2;
            }
        }
        text[out++] = c;
    }
    text[out] = '\0';
    b->used = out + 1;
    return 0;
}

}  // namespace

extern "C" {

buffer* buffer_init(void) {
    auto* b = static_cast<buffer*>(std::calloc(1, sizeof(buffer)));
    HTTP_ASSERT(b);
    return b;
}

buffer* buffer_init_buffer(const buffer* src) {
    buffer* b = buffer_init();
    buffer_copy_string_buffer(b, src);
    return b;
}

buffer* buffer_init_string(const char* str) {
    buffer* b = buffer_init();
    buffer_copy_string(b, str);
    return b;
}

void buffer_free(buffer* b) {
    if (b == nullptr) {
        return;
    }
    std::free(b->ptr);
    std::free(b);
}

int buffer_reset(buffer* b) {
    if (b == nullptr) {
        return -1;
    }
    if (b->size > kKeptStorage) {
        std::free(b->ptr);
        b->ptr = nullptr;
        b->size = 0;
    } else if (b->ptr != nullptr) {
        b->ptr[0] = '\0';
    }
    b->used = 0;
    return 0;
}

int buffer_prepare_copy(buffer* b, size_t size) {
    if (b == nullptr) {
        return -1;
    }
    if (b->ptr == nullptr || b->size < size) {
        std::free(b->ptr);
        b->size = grown_size(size);
        b->ptr = static_cast<char*>(std::malloc(b->size));
        HTTP_ASSERT(b->ptr);
    }
    b->used = 0;
    return 0;
}

int buffer_prepare_append(buffer* b, size_t size) {
    if (b == nullptr) {
        return -1;
    }
    if (b->ptr == nullptr) {
        b->size = grown_size(size);
        b->ptr = static_cast<char*>(std::malloc(b->size));
        b->used = 0;
        HTTP_ASSERT(b->ptr);
    } else if (b->used + size > b->size) {
        b->size = grown_size(b->size + size);
        b->ptr = static_cast<char*>(std::realloc(b->ptr, b->size));
        HTTP_ASSERT(b->ptr);
    }
    return 0;
}

int buffer_copy_string(buffer* b, const char* s) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    return buffer_copy_string_len(b, s, std::strlen(s));
}

int buffer_copy_string_len(buffer* b, const char* s, size_t len) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    buffer_prepare_copy(b, len + 1);
    std::memmove(b->ptr, s, len);  // s may be b's own text
    b->ptr[len] = '\0';
    b->used = len + 1;
    return 0;
}

int buffer_copy_string_buffer(buffer* b, const buffer* src) {
    if (b == nullptr || src == nullptr) {
        return -1;
    }
    if (src->used == 0) {
        return buffer_reset(b);
    }
    return buffer_copy_string_len(b, src->ptr, src->used - 1);
}

int buffer_append_string(buffer* b, const char* s) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    return buffer_append_string_len(b, s, std::strlen(s));
}

int buffer_append_string_len(buffer* b, const char* s, size_t len) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    s = reserve_keeping_source(b, s, len + 1);
    ensure_text(b);
    std::memmove(b->ptr + b->used - 1, s, len);
    b->used += len;
    b->ptr[b->used - 1] = '\0';
    return 0;
}

int buffer_append_string_buffer(buffer* b, const buffer* src) {
    if (b == nullptr || src == nullptr) {
        return -1;
    }
    if (src->used == 0) {
        return 0;
    }
    return buffer_append_string_len(b, src->ptr, src->used - 1);
}

int buffer_append_string_rfill(buffer* b, const char* s, size_t maxlen) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    buffer_prepare_append(b, maxlen + 1);
    ensure_text(b);
    const size_t copied = strnlen(s, maxlen);
    char* out = b->ptr + b->used - 1;
    std::memcpy(out, s, copied);
    std::memset(out + copied, ' ', maxlen - copied);
    b->used += maxlen;
    b->ptr[b->used - 1] = '\0';
    return 0;
}

int buffer_append_memory(buffer* b, const char* s, size_t len) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    s = reserve_keeping_source(b, s, len);
    std::memmove(b->ptr + b->used, s, len);
    b->used += len;
    return 0;
}

int buffer_copy_memory(buffer* b, const char* s, size_t len) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    b->used = 0;
    return buffer_append_memory(b, s, len);
}

int buffer_append_long(buffer* b, std::int32_t value) {
    if (b == nullptr) {
        return -1;
    }
    buffer_prepare_append(b, 32);
    ensure_text(b);
    b->used += static_cast<size_t>(LI_ltostr(b->ptr + b->used - 1, value));
    return 0;
}

int buffer_copy_long(buffer* b, std::int32_t value) {
    if (b == nullptr) {
        return -1;
    }
    b->used = 0;
    return buffer_append_long(b, value);
}

int buffer_append_long_hex(buffer* b, std::uint32_t value) {
    if (b == nullptr) {
        return -1;
    }
    size_t digits = 0;
    std::uint32_t rest = value;
    do {
        rest >>= 8;
        digits += 2;
    } while (rest != 0);
    buffer_prepare_append(b, digits + 1);
    ensure_text(b);
    char* out = b->ptr + b->used - 1;
    for (size_t i = 0; i < digits; ++i) {
        out[i] = kHexDigits[(value >> (4 * (digits - 1 - i))) & 0xF];
    }
    b->used += digits;
    b->ptr[b->used - 1] = '\0';
    return 0;
}

int buffer_copy_string_hex(buffer* b, const char* in, size_t len) {
    if (b == nullptr || in == nullptr || len > static_cast<size_t>(std::numeric_limits<std::int32_t>::max())) {
        return -1;
    }
    buffer_prepare_copy(b, len * 2 + 1);
    for (size_t i = 0; i < len; ++i) {
        const auto byte = static_cast<unsigned char>(in[i]);
        b->ptr[2 * i] = kHexDigits[byte >> 4];
        b->ptr[2 * i + 1] = kHexDigits[byte & 0xF];
    }
    b->ptr[len * 2] = '\0';
    b->used = len * 2 + 1;
    return 0;
}

int buffer_append_string_encoded(buffer* b, const char* s, size_t len, buffer_encoding_t encoding) {
    if (b == nullptr || s == nullptr) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    const EscapeMap* map = escape_map(encoding);
    HTTP_ASSERT(map != NULL);
    // An empty target is an empty text and gets its NUL below; a target
    // holding raw bytes would be corrupted.
    if (b->used != 0 && b->ptr[b->used - 1] != '\0') {
        HTTP_ABORT();
    }
    const size_t width = escaped_width(encoding);
    size_t outLength = 0;
    for (size_t i = 0; i < len; ++i) {
        outLength += (*map)[static_cast<unsigned char>(s[i])] ? width : 1;
    }
    buffer_prepare_append(b, outLength + 1);
    ensure_text(b);
    char* out = b->ptr + b->used - 1;
    for (size_t i = 0; i < len; ++i) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (!(*map)[byte]) {
            *out++ = static_cast<char>(byte);
            continue;
        }
        switch (encoding) {
        case ENCODING_REL_URI:
        case ENCODING_REL_URI_PART:
            *out++ = '%';
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0xF];
            break;
        case ENCODING_HTML:
        case ENCODING_MINIMAL_XML:
            *out++ = '&';
            *out++ = '#';
            *out++ = 'x';
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0xF];
            *out++ = ';';
            break;
        case ENCODING_HEX:
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0xF];
            break;
        case ENCODING_HTTP_HEADER:
            *out++ = '\n';
            *out++ = '\t';
            break;
        case ENCODING_UNSET: break;
        }
    }
    *out = '\0';
    b->used += outLength;
    return 0;
}

int buffer_urldecode_path(buffer* b) {
    return urldecode(b, false);
}

int buffer_urldecode_query(buffer* b) {
    return urldecode(b, true);
}

int buffer_path_simplify(buffer* dest, const buffer* src) {
    if (dest == nullptr || src == nullptr) {
        return -1;
    }
    std::string_view path = text_of(src);
    // A NUL inside the text ends the path, as it would for a C string.
    path = path.substr(0, path.find('\0'));
    while (!path.empty() && path.front() == ' ') {
        path.remove_prefix(1);
    }
    if (!path.empty() && path.front() == '/') {
        path.remove_prefix(1);
    }
    // Built aside, since dest may be src and a leading '/' may be added; the
    // scratch keeps its storage, so a request's path costs no allocation.
    thread_local std::string out;
    out.clear();
    out.reserve(path.size() + 2);
    bool trailingSlash = false;
    for (;;) {
        const size_t end = path.find('/');
        const std::string_view segment = path.substr(0, end);
        const bool last = end == std::string_view::npos;
        if (segment.empty() || segment == ".") {
            trailingSlash = last;
        } else if (segment == "..") {
            const size_t previous = out.rfind('/');
            out.resize(previous == std::string::npos ? 0 : previous);
            trailingSlash = last;
        } else {
            out += '/';
            out += segment;
            trailingSlash = false;
        }
        if (last) {
            break;
        }
        path.remove_prefix(end + 1);
    }
    if (out.empty() || trailingSlash) {
        out += '/';
    }
    return buffer_copy_string_len(dest, out.data(), out.size());
}

int buffer_to_lower(buffer* b) {
    if (b == nullptr) {
        return -1;
    }
    for (size_t i = 0; i < b->used; ++i) {
        if (b->ptr[i] >= 'A' && b->ptr[i] <= 'Z') {
            b->ptr[i] = static_cast<char>(b->ptr[i] | 0x20);
        }
    }
    return 0;
}

int buffer_to_upper(buffer* b) {
    if (b == nullptr) {
        return -1;
    }
    for (size_t i = 0; i < b->used; ++i) {
        if (b->ptr[i] >= 'a' && b->ptr[i] <= 'z') {
            b->ptr[i] = static_cast<char>(b->ptr[i] & ~0x20);
        }
    }
    return 0;
}

char* buffer_search_string_len(const buffer* b, const char* needle, size_t len) {
    if (b == nullptr || needle == nullptr || len == 0 || b->used == 0 || b->used - 1 < len) {
        return nullptr;
    }
    const size_t at = text_of(b).find(std::string_view(needle, len));
    return at == std::string_view::npos ? nullptr : b->ptr + at;
}

int buffer_is_empty(const buffer* b) {
    return b == nullptr || b->used == 0;
}

int buffer_is_equal(const buffer* a, const buffer* b) {
    if (a == nullptr || b == nullptr || a->used != b->used) {
        return 0;
    }
    return a->used == 0 || std::memcmp(a->ptr, b->ptr, a->used) == 0;
}

int buffer_is_equal_string(const buffer* a, const char* s, size_t len) {
    if (a == nullptr || s == nullptr || a->used != len + 1) {
        return 0;
    }
    return std::memcmp(a->ptr, s, len) == 0;
}

int buffer_is_equal_caseless_string(const buffer* a, const char* s, size_t len) {
    if (a == nullptr || s == nullptr || a->used != len + 1) {
        return 0;
    }
    for (size_t i = 0; i < len; ++i) {
        if (fold(static_cast<unsigned char>(a->ptr[i])) != fold(static_cast<unsigned char>(s[i]))) {
            return 0;
        }
    }
    return 1;
}

int buffer_is_equal_right_len(const buffer* a, const buffer* b, size_t len) {
    if (len == 0) {
        return 1;
    }
    if (a == nullptr || b == nullptr || a->used == 0 || b->used == 0 || a->used - 1 < len || b->used - 1 < len) {
        return 0;
    }
    return std::memcmp(a->ptr + a->used - 1 - len, b->ptr + b->used - 1 - len, len) == 0;
}

int buffer_caseless_compare(const char* a, size_t alen, const char* b, size_t blen) {
    const size_t common = alen < blen ? alen : blen;
    for (size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb) {
            const int difference = fold(ca) - fold(cb);
            if (difference != 0) {
                return difference;
            }
        }
    }
    return static_cast<int>(static_cast<long long>(alen) - static_cast<long long>(blen));
}

int LI_ltostr(char* buf, std::int32_t value) {
    // The magnitude in unsigned arithmetic, so -2147483648 converts too.
    std::uint32_t magnitude = value < 0 ? 0U - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int written = 0;
    if (value < 0) {
        buf[written++] = '-';
    }
    while (count > 0) {
        buf[written++] = digits[--count];
    }
    buf[written] = '\0';
    return written;
}

char int2hex(char nibble) {
    return kHexDigits[static_cast<unsigned char>(nibble) & 0xF];
}

int hex2int(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0xFF;
}

int light_isdigit(int c) {
    return c >= '0' && c <= '9';
}

int light_isxdigit(int c) {
    return light_isdigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int light_isalpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int light_isalnum(int c) {
    return light_isdigit(c) || light_isalpha(c);
}

buffer_array* buffer_array_init(void) {
    auto* array = static_cast<buffer_array*>(std::calloc(1, sizeof(buffer_array)));
    HTTP_ASSERT(array);
    return array;
}

void buffer_array_free(buffer_array* b) {
    if (b == nullptr) {
        return;
    }
    for (size_t i = 0; i < b->size; ++i) {
        buffer_free(b->ptr[i]);
    }
    std::free(b->ptr);
    std::free(b);
}

void buffer_array_reset(buffer_array* b) {
    if (b == nullptr) {
        return;
    }
    for (size_t i = 0; i < b->used; ++i) {
        buffer_reset(b->ptr[i]);
    }
    b->used = 0;
}

buffer* buffer_array_append_get_buffer(buffer_array* b) {
    if (b == nullptr) {
        return nullptr;
    }
    if (b->used == b->size) {
        const size_t slots = b->size + kBufferArrayStep;
        auto* grown = static_cast<buffer**>(std::realloc(b->ptr, slots * sizeof(buffer*)));
        HTTP_ASSERT(grown);
        for (size_t i = b->size; i < slots; ++i) {
            grown[i] = nullptr;
        }
        b->ptr = grown;
        b->size = slots;
    }
    if (b->ptr[b->used] == nullptr) {
        b->ptr[b->used] = buffer_init();
    }
    buffer* slot = b->ptr[b->used++];
    buffer_reset(slot);
    return slot;
}

}  // extern "C"

}  // namespace hx

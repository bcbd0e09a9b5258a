// The HTTP server's growable byte string `buffer`, the `buffer_array` of
// buffers, the text encoders and decoders, URL path simplification, the
// caseless key order and the ASCII character classes.
//
// Callers: every part of the HTTP server, the web application (request text
// in, JSON reply out) and plugins loaded at run time, which bind to these
// routines by their C names. Everything runs in the HTTP server thread; no
// instance is shared with another thread and nothing is locked.
//
// Contract of a buffer holding text: `used` counts the terminating NUL, so a
// text of n characters has `used` n + 1; `used` 0 means empty, without even a
// NUL. The raw-memory routines count bytes without any NUL. Storage is always
// a whole multiple of 64 bytes, and buffer_reset gives back storage above
// 4096 bytes so that one large request does not pin memory in a scratch
// buffer. Routines return 0, or -1 when a pointer they need is null; an
// allocation failure or a broken precondition ends the process through
// log_failed_assert instead.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hx {

// File offsets and lengths everywhere in the HTTP server: 32-bit signed, as
// on the card.
using http_off_t = std::int32_t;

struct buffer {
    char* ptr;    // storage, or null when nothing is allocated
    size_t used;  // bytes in use (the NUL of a text included)
    size_t size;  // bytes allocated, a multiple of 64
};

struct buffer_array {
    buffer** ptr;  // slots beyond `used` keep their buffers for reuse
    size_t used;
    size_t size;
};

enum buffer_encoding_t {
    ENCODING_UNSET = 0,
    ENCODING_REL_URI = 1,       // "%hh" for all but letters, digits, ! ( ) * - . _ and /
    ENCODING_REL_URI_PART = 2,  // the same, '/' escaped too
    ENCODING_HTML = 3,          // "&#xhh;" for controls, & < > and 0x7F-0xFF
    ENCODING_MINIMAL_XML = 4,   // "&#xhh;" for controls, & < > and 0x7F
    ENCODING_HEX = 5,           // every byte as two hex digits
    ENCODING_HTTP_HEADER = 6,   // a line feed becomes a folded header line (LF TAB)
};

extern "C" {

buffer* buffer_init(void);
buffer* buffer_init_buffer(const buffer* src);
buffer* buffer_init_string(const char* str);
void buffer_free(buffer* b);
int buffer_reset(buffer* b);

// Room for at least `size` bytes; the content is discarded (`used` 0).
int buffer_prepare_copy(buffer* b, size_t size);
// Room for `size` more bytes after `used`; the content is kept.
int buffer_prepare_append(buffer* b, size_t size);

int buffer_copy_string(buffer* b, const char* s);
int buffer_copy_string_len(buffer* b, const char* s, size_t len);
// An empty source empties b (no NUL left either).
int buffer_copy_string_buffer(buffer* b, const buffer* src);
int buffer_append_string(buffer* b, const char* s);
int buffer_append_string_len(buffer* b, const char* s, size_t len);
int buffer_append_string_buffer(buffer* b, const buffer* src);
int buffer_append_string_rfill(buffer* b, const char* s, size_t maxlen);
int buffer_append_memory(buffer* b, const char* s, size_t len);
int buffer_copy_memory(buffer* b, const char* s, size_t len);
int buffer_append_long(buffer* b, std::int32_t value);
int buffer_copy_long(buffer* b, std::int32_t value);
// Lower-case hex, an even number of digits and at least two (chunk sizes).
int buffer_append_long_hex(buffer* b, std::uint32_t value);
// Every byte as two hex digits; -1 when len is negative as a 32-bit number.
int buffer_copy_string_hex(buffer* b, const char* in, size_t len);
int buffer_append_string_encoded(buffer* b, const char* s, size_t len, buffer_encoding_t encoding);

// %-escapes decoded in place; decoded control bytes and DEL become '_'.
int buffer_urldecode_path(buffer* b);
// As the path variant, and '+' becomes a space first.
int buffer_urldecode_query(buffer* b);
// Normalises a decoded URL path ("." and empty segments dropped, ".." taken
// back, never above "/"); dest may be src.
int buffer_path_simplify(buffer* dest, const buffer* src);

int buffer_to_lower(buffer* b);
int buffer_to_upper(buffer* b);
char* buffer_search_string_len(const buffer* b, const char* needle, size_t len);

int buffer_is_empty(const buffer* b);
int buffer_is_equal(const buffer* a, const buffer* b);
int buffer_is_equal_string(const buffer* a, const char* s, size_t len);
int buffer_is_equal_caseless_string(const buffer* a, const char* s, size_t len);
int buffer_is_equal_right_len(const buffer* a, const buffer* b, size_t len);
// Lengths include the NUL, so this orders like a comparison of C strings with
// ASCII letters folded to lower case.
int buffer_caseless_compare(const char* a, size_t alen, const char* b, size_t blen);

// Decimal text of value and a NUL; the count of characters before the NUL.
int LI_ltostr(char* buf, std::int32_t value);
char int2hex(char nibble);
// 0-15 for a hex digit of either case, 0xFF for anything else.
int hex2int(unsigned char c);

int light_isdigit(int c);
int light_isxdigit(int c);
int light_isalpha(int c);
int light_isalnum(int c);

buffer_array* buffer_array_init(void);
void buffer_array_free(buffer_array* b);
void buffer_array_reset(buffer_array* b);
buffer* buffer_array_append_get_buffer(buffer_array* b);

}  // extern "C"

}  // namespace hx

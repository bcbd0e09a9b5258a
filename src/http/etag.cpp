// Entity tags of files.
#include "http/etag.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace hx {

namespace {

// Inode numbers and sizes are wider than the server's 32-bit offsets: they
// are written whole, or two files could share a tag.
void append_decimal(buffer* b, std::intmax_t value) {
    char digits[32];
    const int length = std::snprintf(digits, sizeof digits, "%" PRIdMAX, value);
    buffer_append_string_len(b, digits, static_cast<size_t>(length));
}

void append_unsigned(buffer* b, std::uintmax_t value) {
    char digits[32];
    const int length = std::snprintf(digits, sizeof digits, "%" PRIuMAX, value);
    buffer_append_string_len(b, digits, static_cast<size_t>(length));
}

}  // namespace

extern "C" {

int etag_is_equal(buffer* etag, const char* matches) {
    if (etag == nullptr || matches == nullptr || etag->used <= 1) {
        return 0;
    }
    return std::strcmp(etag->ptr, matches) == 0 ? 1 : 0;
}

int etag_create(buffer* etag, struct stat* st, etag_flags_t flags) {
    if ((flags & (ETAG_USE_INODE | ETAG_USE_SIZE | ETAG_USE_MTIME)) == 0) {
        return 0;
    }
    buffer_copy_string_len(etag, "", 0);
    if (flags & ETAG_USE_INODE) {
        append_unsigned(etag, st->st_ino);
        buffer_append_string_len(etag, "-", 1);
    }
    if (flags & ETAG_USE_SIZE) {
        append_decimal(etag, st->st_size);
        buffer_append_string_len(etag, "-", 1);
    }
    if (flags & ETAG_USE_MTIME) {
        append_decimal(etag, st->st_mtime);
    }
    return 0;
}

int etag_mutate(buffer* mut, buffer* etag) {
    std::uint32_t h = 0;
    const size_t length = etag->used > 0 ? etag->used - 1 : 0;
    for (size_t i = 0; i < length; ++i) {
        h = ((h << 5) | (h >> 27)) ^ static_cast<unsigned char>(etag->ptr[i]);
    }
    buffer_copy_string_len(mut, "\"", 1);
    buffer_append_long(mut, static_cast<std::int32_t>(h));
    buffer_append_string_len(mut, "\"", 1);
    return 0;
}

}  // extern "C"

}  // namespace hx

// Small helpers of the HTTP tests: owning handles for buffers and arrays, a
// buffer's text as a std::string, and what a server's error log holds.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>

#include "http/http_base.h"

namespace hx::test {

struct BufferDeleter {
    void operator()(buffer* b) const { buffer_free(b); }
};
using BufferPtr = std::unique_ptr<buffer, BufferDeleter>;

struct ArrayDeleter {
    void operator()(array* a) const { array_free(a); }
};
using ArrayPtr = std::unique_ptr<array, ArrayDeleter>;

inline BufferPtr NewBuffer(const std::string& text) {
    BufferPtr b(buffer_init());
    buffer_copy_string_len(b.get(), text.data(), text.size());
    return b;
}

inline BufferPtr NewBuffer() {
    return BufferPtr(buffer_init());
}

// The text without its NUL; "" for an empty buffer.
inline std::string Text(const buffer* b) {
    return b->used == 0 ? std::string() : std::string(b->ptr, b->used - 1);
}

inline std::string KeyOf(const data_unset* element) {
    return Text(element->key);
}

inline std::string StringValue(const data_unset* element) {
    return Text(static_cast<const data_string*>(element)->value);
}

// The first 4 KiB of the server's error log, read from the start of its
// descriptor (a memory file in the tests) without moving its offset.
inline std::string ErrorLogText(const server* srv) {
    std::string text(4096, '\0');
    const ssize_t count = ::pread(srv->errorlog_fd, text.data(), text.size(), 0);
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return text;
}

}  // namespace hx::test

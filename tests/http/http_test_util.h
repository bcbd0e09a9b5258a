// Small helpers of the HTTP value tests: owning handles for buffers and
// arrays, and a buffer's text as a std::string.
#pragma once

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

}  // namespace hx::test

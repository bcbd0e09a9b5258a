// A whole file mapped read-only: the configuration reader and the password
// file readers take their text from it. HTTP server thread only.
#pragma once

#include "http/buffer.h"

namespace hx {

struct stream {
    char* start;      // the mapped bytes, or null
    http_off_t size;  // the file's size
};

extern "C" {

// 0, or -1 when the file cannot be examined, opened or mapped (an empty file
// cannot be mapped, and one above 2 GiB has no 32-bit size); the stream then
// holds no mapping. The descriptor is closed either way.
int stream_open(stream* f, const buffer* fn);
// Unmaps; harmless on a stream that holds nothing.
int stream_close(stream* f);

}  // extern "C"

}  // namespace hx

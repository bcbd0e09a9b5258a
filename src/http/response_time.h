// The HTTP time text "Thu, 01 Jan 1970 00:00:00 GMT" of the Date and
// Last-Modified headers, written and read with English day and month names
// whatever the process locale is (the card application may change it).
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <ctime>

#include "http/buffer.h"

namespace hx {

// Characters of the text.
constexpr size_t kHttpTimeLength = 29;

// Replaces the content of `out` with the text of `t` in UTC.
void http_time_format(buffer* out, std::time_t t);
// Reads "%a, %d %b %Y %H:%M:%S GMT" from the first `length` characters of
// `text` (anything after "GMT" is ignored; names of any case, full or short);
// false when it does not match.
bool http_time_parse(const char* text, size_t length, std::time_t* out);

}  // namespace hx

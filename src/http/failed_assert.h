// The HTTP server's fatal check: an allocation that failed or an invariant
// that broke ends the whole card application, after one line on standard
// error naming the server source, the line and what failed.
//
// Called from the HTTP server thread only (and from plugins, which bind to it
// by its C name). Nothing is locked.
#pragma once

namespace hx {

extern "C" {

// Writes "<file>.<line>: <message>\n" to standard error, flushes it and
// aborts the process.
[[noreturn]] void log_failed_assert(const char* filename, unsigned int line, const char* message);

}  // extern "C"

// The bare file name of a source path, for the first argument above.
constexpr const char* http_source_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/') {
            name = p + 1;
        }
    }
    return name;
}

}  // namespace hx

// "assertion failed: <expression>" when the expression is false.
#define HTTP_ASSERT(expression)                                                                        \
    do {                                                                                               \
        if (!(expression)) {                                                                           \
            ::hx::log_failed_assert(::hx::http_source_name(__FILE__), __LINE__,                        \
                                    "assertion failed: " #expression);                                 \
        }                                                                                              \
    } while (0)

// A broken precondition without a useful expression to show.
#define HTTP_ABORT() ::hx::log_failed_assert(::hx::http_source_name(__FILE__), __LINE__, "aborted")

// The HTTP server's own error log, independent of the application's log
// (core/log.h). Only the line writer that the chunk queues need is here yet,
// writing to standard error; the targets (file, pipe, system log) come with
// the error log itself.
//
// Argument letters of `fmt`, one per argument: s text, b buffer*, d int,
// o http_off_t, x int as "0x" and lower-case hex, each followed by a space;
// the capitals S B D O X without the space; ' ', '(', ')', ',', '<', '>'
// copy themselves and take no argument; any other letter is ignored.
//
// Threads: only the HTTP server thread writes; nothing is locked.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

// Always 0; write errors are ignored.
int log_error_write(server* srv, const char* filename, unsigned int line, const char* fmt, ...);

}  // extern "C"

}  // namespace hx

// A line of the error log tagged with this source file's bare name and line.
#define HTTP_LOG_ERROR(srv, ...) ::hx::log_error_write((srv), __FILE_NAME__, __LINE__, __VA_ARGS__)

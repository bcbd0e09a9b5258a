// The HTTP server's own diagnostics (`log_error_write`): one line per call,
// "(file.line) " and the arguments by their format letters, on the server's
// error log. Callers: every part of the server. HTTP server thread only.
//
// Format letters, one per argument: s text, b buffer, d int, o offset,
// x int in hex, each followed by a space; the capitals the same without the
// space; ' ', '(', ')', ',', '<', '>' are written as they stand.
#pragma once
#include "http/buffer.h"

namespace hx {

struct server;

extern "C" {

int log_error_write(server* srv, const char* filename, unsigned int line, const char* fmt, ...);

}  // extern "C"

}  // namespace hx

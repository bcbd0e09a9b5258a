// The HTTP server's own error log: `log_error_write` and its multi-line form,
// independent of the application's log (core/log.h).
//
// The target is descriptor 2 until log_error_open; then, by the server
// settings, a file, a pipe to a shell command ("|command"), or the system-log
// setting, under which lines are built and discarded. Opening the log also
// decides descriptor 2 of the whole process: the breakage log when
// "server.breakagelog" is set, else "/dev/null".
//
// Line layout (file, descriptor and pipe modes), one write() per line:
//   "YYYY-MM-DD HH:MM:SS: (<source file>.<line>) <arguments>\n"
// with the local time of the server's current second (`cur_ts`), formatted
// at most once per second into `ts_debug_str`.
//
// Argument letters of `fmt`, one per argument: s text, b buffer*, d int,
// o http_off_t, x int as "0x" and lower-case hex, each followed by a space;
// the capitals S B D O X without the space; ' ', '(', ')', ',', '<', '>'
// copy themselves and take no argument; any other letter is ignored.
//
// Threads: only the HTTP server thread writes; nothing is locked. Plugins
// bind to these routines by their C names.
#pragma once

#include <cstddef>

#include "http/http_base.h"

namespace hx {

extern "C" {

// Sets the target up from `srvconf` and redirects descriptor 2 of the
// process; writes "server started". 0, or -1 when a log or breakage target
// cannot be opened.
int log_error_open(server* srv);
// Reopens a file target (after a hang-up); on failure the log is silent
// until a later cycle succeeds. Always 0.
int log_error_cycle(server* srv);
// Closes the target descriptor unless it is 2; 0.
int log_error_close(server* srv);
// Always 0; write errors are ignored.
int log_error_write(server* srv, const char* filename, unsigned int line, const char* fmt, ...);
// One line per non-empty line of `multiline` (separated by NUL, LF or CR),
// each as prefix + arguments + that line. Always 0.
int log_error_write_multiline_buffer(server* srv, const char* filename, unsigned int line, const buffer* multiline,
                                     const char* fmt, ...);
// A file opened for appending (close-on-exec), or for "|command" the write
// end of a pipe into "/bin/sh -c command"; -1 (logged) on failure.
int open_logfile_or_pipe(server* srv, const char* logfile);
// Points `fd` at "/dev/null" for reading and writing; -1 when it cannot be
// opened (fd is then left as it was).
int openDevNull(int fd);

}  // extern "C"

// The text of an error number, through the reentrant strerror_r; `scratch`
// may or may not be the storage of the result.
const char* http_error_text(int error, char* scratch, size_t size);

}  // namespace hx

// A line of the error log tagged with this source file's bare name and line.
#define HTTP_LOG_ERROR(srv, ...) ::hx::log_error_write((srv), __FILE_NAME__, __LINE__, __VA_ARGS__)

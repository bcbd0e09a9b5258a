// The HTTP server's error log: targets, line building and descriptor 2.
#include "http/errorlog.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace hx {

namespace {

// Lines go out through one write() each; whatever was built for one line is
// kept in `errorlog_buf` for the next.
bool writes_lines(const server* srv) {
    return srv->errorlog_mode == ERRORLOG_FILE || srv->errorlog_mode == ERRORLOG_FD ||
           srv->errorlog_mode == ERRORLOG_PIPE;
}

// A setting with text: a value set to "" names no target.
bool has_text(const buffer* b) { return b != nullptr && b->used > 1 && b->ptr[0] != '\0'; }

void refresh_time_stamp(server* srv) {
    if (srv->cur_ts == srv->last_generated_debug_ts && !buffer_is_empty(srv->ts_debug_str)) {
        return;
    }
    std::tm local{};
    char text[64];
    size_t length = 0;
    if (localtime_r(&srv->cur_ts, &local) != nullptr) {
        length = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    }
    buffer_copy_string_len(srv->ts_debug_str, text, length);
    srv->last_generated_debug_ts = srv->cur_ts;
}

// The part of a line before its arguments; false when lines are dropped.
bool start_line(server* srv, buffer* b, const char* filename, unsigned int line) {
    if (srv->errorlog_mode == ERRORLOG_SYSLOG) {
        buffer_copy_string_len(b, "(", 1);
    } else {
        if (srv->errorlog_fd == -1) {
            return false;
        }
        refresh_time_stamp(srv);
        buffer_copy_string_buffer(b, srv->ts_debug_str);
        buffer_append_string_len(b, ": (", 3);
    }
    buffer_append_string(b, filename);
    buffer_append_string_len(b, ".", 1);
    buffer_append_long(b, static_cast<std::int32_t>(line));
    buffer_append_string_len(b, ") ", 2);
    return true;
}

void append_arguments(buffer* b, const char* fmt, va_list ap) {
    for (const char* letter = fmt; *letter != '\0'; ++letter) {
        switch (*letter) {
            case 's':
            case 'S':
                buffer_append_string(b, va_arg(ap, const char*));
                break;
            case 'b':
            case 'B':
                buffer_append_string_buffer(b, va_arg(ap, const buffer*));
                break;
            case 'd':
            case 'D':
            case 'o':  // offsets are 32-bit, passed as int like 'd'
            case 'O':
                buffer_append_long(b, va_arg(ap, int));
                break;
            case 'x':
            case 'X':
                buffer_append_string_len(b, "0x", 2);
                buffer_append_long_hex(b, static_cast<std::uint32_t>(va_arg(ap, int)));
                break;
            case ' ':
            case '(':
            case ')':
            case ',':
            case '<':
            case '>':
                buffer_append_string_len(b, letter, 1);
                continue;
            default:
                continue;
        }
        if (*letter >= 'a' && *letter <= 'z') {
            buffer_append_string_len(b, " ", 1);
        }
    }
}

// Prefix and arguments into `errorlog_buf`; false when the line is dropped.
bool build_line(server* srv, const char* filename, unsigned int line, const char* fmt, va_list ap) {
    if (!start_line(srv, srv->errorlog_buf, filename, line)) {
        return false;
    }
    append_arguments(srv->errorlog_buf, fmt, ap);
    return true;
}

// Text bytes of a buffer (its NUL not counted).
size_t text_length(const buffer* b) { return b->used == 0 ? 0 : b->used - 1; }

void write_line(server* srv, buffer* b) {
    buffer_append_string_len(b, "\n", 1);
    const ssize_t ignored = write(srv->errorlog_fd, b->ptr, text_length(b));
    (void)ignored;
}

int open_logfile(const char* path) {
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_LARGEFILE | O_CLOEXEC, 0644);
}

// What a pipe child that cannot start its command writes: the line prepared
// by the parent around the error text, with writev alone (the child of a
// multi-threaded process may call only async-signal-safe routines).
struct ChildReport {
    buffer* head;  // prefix and first argument
    buffer* tail;  // rest of the line, "\n" included
    int fd;        // -1: nothing to write
};

void child_report(const ChildReport& report, int error) {
    if (report.fd < 0) {
        return;
    }
    const char* text = strerrordesc_np(error);
    if (text == nullptr) {
        text = "Unknown error";
    }
    iovec parts[3] = {{report.head->ptr, text_length(report.head)},
                      {const_cast<char*>(text), std::strlen(text)},
                      {report.tail->ptr, text_length(report.tail)}};
    const ssize_t ignored = writev(report.fd, parts, 3);
    (void)ignored;
}

// Prepares the report line "<prefix><what> <error text> [<tail> ]\n".
ChildReport prepare_child_report(server* srv, unsigned int line, const char* what, const char* tail) {
    ChildReport report{buffer_init(), buffer_init(), -1};
    if (start_line(srv, report.head, "errorlog.cpp", line) && srv->errorlog_mode != ERRORLOG_SYSLOG) {
        buffer_append_string(report.head, what);
        buffer_append_string_len(report.head, " ", 1);
        // Each lower-case argument is followed by a space: "ss" or "sss".
        buffer_copy_string_len(report.tail, " ", 1);
        if (tail[0] != '\0') {
            buffer_append_string(report.tail, tail);
            buffer_append_string_len(report.tail, " ", 1);
        }
        buffer_append_string_len(report.tail, "\n", 1);
        report.fd = srv->errorlog_fd;
    }
    return report;
}

void free_child_report(ChildReport& report) {
    buffer_free(report.head);
    buffer_free(report.tail);
}

int open_pipe(server* srv, const char* command) {
    // Both ends close-on-exec from the start, so a command another thread
    // starts meanwhile does not hold the write end and keep the logger alive.
    int ends[2];
    char scratch[128];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        HTTP_LOG_ERROR(srv, "ss", "pipe failed: ", http_error_text(errno, scratch, sizeof(scratch)));
        return -1;
    }
    ChildReport dupFailed = prepare_child_report(srv, __LINE__, "dup2 failed: ", "");
    ChildReport spawnFailed = prepare_child_report(srv, __LINE__, "spawning log process failed: ", command);

    const pid_t pid = fork();
    if (pid == 0) {
        if (ends[0] == STDIN_FILENO) {
            fcntl(STDIN_FILENO, F_SETFD, 0);
        } else if (dup2(ends[0], STDIN_FILENO) < 0) {
            child_report(dupFailed, errno);
            _exit(-1);
        } else {
            close(ends[0]);
        }
        close(ends[1]);
        openDevNull(STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
        child_report(spawnFailed, errno);
        _exit(-1);
    }
    const int forkError = errno;
    free_child_report(dupFailed);
    free_child_report(spawnFailed);
    close(ends[0]);
    if (pid < 0) {
        close(ends[1]);
        HTTP_LOG_ERROR(srv, "ss", "fork failed: ", http_error_text(forkError, scratch, sizeof(scratch)));
        return -1;
    }
    return ends[1];
}

}  // namespace

const char* http_error_text(int error, char* scratch, size_t size) {
    return strerror_r(error, scratch, size);
}

extern "C" {

int open_logfile_or_pipe(server* srv, const char* logfile) {
    if (logfile[0] == '|') {
        return open_pipe(srv, logfile + 1);
    }
    const int fd = open_logfile(logfile);
    if (fd == -1) {
        char scratch[128];
        HTTP_LOG_ERROR(srv, "SSSS", "opening errorlog '", logfile,
                       "' failed: ", http_error_text(errno, scratch, sizeof(scratch)));
    }
    return fd;
}

int openDevNull(int fd) {
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        return -1;
    }
    // dup2 replaces fd in one step: closing it first would let another
    // thread's open() take the number in between.
    if (devNull == fd) {
        return fcntl(fd, F_SETFD, 0) == 0 ? 0 : -1;
    }
    const int result = dup2(devNull, fd) == fd ? 0 : -1;
    close(devNull);
    return result;
}

int log_error_open(server* srv) {
    server_config& conf = srv->srvconf;
    srv->errorlog_mode = ERRORLOG_FD;
    srv->errorlog_fd = STDERR_FILENO;

    if (conf.errorlog_use_syslog != 0) {
        srv->errorlog_mode = ERRORLOG_SYSLOG;
    } else if (has_text(conf.errorlog_file)) {
        const int fd = open_logfile_or_pipe(srv, conf.errorlog_file->ptr);
        if (fd == -1) {
            return -1;
        }
        srv->errorlog_fd = fd;
        srv->errorlog_mode = conf.errorlog_file->ptr[0] == '|' ? ERRORLOG_PIPE : ERRORLOG_FILE;
    }

    HTTP_LOG_ERROR(srv, "s", "server started");

    // Descriptor 2 is about to be let go: the server's lines are dropped
    // unless a breakage log keeps the old descriptor 2 for them below.
    if (srv->errorlog_mode == ERRORLOG_FD) {
        srv->errorlog_fd = -1;
    }

    if (has_text(conf.breakagelog_file)) {
        if (srv->errorlog_mode == ERRORLOG_FD) {
            srv->errorlog_fd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        }
        const int breakage = open_logfile_or_pipe(srv, conf.breakagelog_file->ptr);
        if (breakage == -1) {
            return -1;
        }
        if (breakage != STDERR_FILENO) {
            dup2(breakage, STDERR_FILENO);
            close(breakage);
        }
    } else {
        openDevNull(STDERR_FILENO);
    }
    return 0;
}

int log_error_cycle(server* srv) {
    if (srv->errorlog_mode != ERRORLOG_FILE) {
        return 0;
    }
    const char* path = srv->srvconf.errorlog_file->ptr;
    const int fresh = open_logfile(path);
    if (fresh == -1) {
        char scratch[128];
        HTTP_LOG_ERROR(srv, "SSSSS", "cycling errorlog '", path, "' failed: ",
                       http_error_text(errno, scratch, sizeof(scratch)), ", falling back to syslog()");
        if (srv->errorlog_fd != -1) {
            close(srv->errorlog_fd);
        }
        srv->errorlog_fd = -1;
        return 0;
    }
    if (srv->errorlog_fd != -1) {
        close(srv->errorlog_fd);
    }
    srv->errorlog_fd = fresh;
    return 0;
}

int log_error_close(server* srv) {
    if (writes_lines(srv)) {
        if (srv->errorlog_fd != -1 && srv->errorlog_fd != STDERR_FILENO) {
            close(srv->errorlog_fd);
        }
        srv->errorlog_fd = -1;
    }
    return 0;
}

int log_error_write(server* srv, const char* filename, unsigned int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const bool built = build_line(srv, filename, line, fmt, ap);
    va_end(ap);
    if (built && writes_lines(srv)) {
        write_line(srv, srv->errorlog_buf);
    }
    return 0;
}

int log_error_write_multiline_buffer(server* srv, const char* filename, unsigned int line, const buffer* multiline,
                                     const char* fmt, ...) {
    if (multiline == nullptr || text_length(multiline) == 0) {
        return 0;
    }
    va_list ap;
    va_start(ap, fmt);
    const bool built = build_line(srv, filename, line, fmt, ap);
    va_end(ap);
    if (!built || !writes_lines(srv)) {
        return 0;
    }
    buffer* b = srv->errorlog_buf;
    const size_t prefixLength = b->used;  // the NUL included
    const char* text = multiline->ptr;
    const size_t length = text_length(multiline);
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && text[end] != '\0' && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        if (end > start) {
            b->used = prefixLength;
            b->ptr[prefixLength - 1] = '\0';
            buffer_append_string_len(b, text + start, end - start);
            write_line(srv, b);
        }
        start = end + 1;
    }
    return 0;
}

}  // extern "C"

}  // namespace hx

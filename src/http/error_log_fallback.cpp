// Until the error-log module provides the full writer, lines go to the
// server's log descriptor without a time stamp. Weak, so the full writer
// replaces it at link time.
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "http/error_log.h"
#include "http/http_base.h"

namespace hx {

extern "C" __attribute__((weak)) int log_error_write(server* srv, const char* filename, unsigned int line,
                                                     const char* fmt, ...) {
    std::string text = "(";
    text += filename;
    text += '.';
    text += std::to_string(line);
    text += ") ";
    va_list args;
    va_start(args, fmt);
    for (const char* f = fmt; *f != '\0'; ++f) {
        char number[32];
        switch (*f) {
        case 's':
        case 'S':
            text += va_arg(args, const char*);
            break;
        case 'b':
        case 'B': {
            const buffer* b = va_arg(args, const buffer*);
            if (b != nullptr && b->used > 0) {
                text.append(b->ptr, b->used - 1);
            }
            break;
        }
        case 'd':
        case 'D':
            std::snprintf(number, sizeof number, "%d", va_arg(args, int));
            text += number;
            break;
        case 'o':
        case 'O':
            std::snprintf(number, sizeof number, "%ld", static_cast<long>(va_arg(args, http_off_t)));
            text += number;
            break;
        case 'x':
        case 'X':
            std::snprintf(number, sizeof number, "0x%x", va_arg(args, unsigned int));
            text += number;
            break;
        case ' ':
        case '(':
        case ')':
        case ',':
        case '<':
        case '>':
            text += *f;
            break;
        default:
            break;
        }
        if (*f == 's' || *f == 'b' || *f == 'd' || *f == 'o' || *f == 'x') {
            text += ' ';
        }
    }
    va_end(args);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    text += '\n';
    const int fd = srv != nullptr ? srv->errorlog_fd : 2;
    if (fd >= 0) {
        (void)!::write(fd, text.data(), text.size());
    }
    return 0;
}

}  // namespace hx

// The error log's line writer, on standard error for now.
#include "http/errorlog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace hx {

extern "C" int log_error_write(server*, const char* filename, unsigned int line, const char* fmt, ...) {
    std::string text = "(";
    text.append(filename).append(".").append(std::to_string(line)).append(") ");
    va_list args;
    va_start(args, fmt);
    for (const char* letter = fmt; *letter != '\0'; ++letter) {
        char number[16];
        switch (*letter) {
            case 's':
            case 'S':
                text += va_arg(args, const char*);
                break;
            case 'b':
            case 'B': {
                const buffer* b = va_arg(args, const buffer*);
                if (b != nullptr && b->used > 1) {
                    text.append(b->ptr, b->used - 1);
                }
                break;
            }
            case 'd':
            case 'D':
            case 'o':
            case 'O':
                text += std::to_string(va_arg(args, int));
                break;
            case 'x':
            case 'X':
                std::snprintf(number, sizeof(number), "0x%x", va_arg(args, unsigned int));
                text += number;
                break;
            case ' ':
            case '(':
            case ')':
            case ',':
            case '<':
            case '>':
                text += *letter;
                break;
            default:
                break;
        }
        if (*letter == 's' || *letter == 'b' || *letter == 'd' || *letter == 'o' || *letter == 'x') {
            text += ' ';
        }
    }
    va_end(args);
    text += '\n';
    const ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
    return 0;
}

}  // namespace hx

// Reading back lines of the HTTP server's error log in tests.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>

namespace hx::test {

// Everything written so far to a log kept in a file (or memory file)
// descriptor, read from its start without moving its offset.
inline std::string ReadWholeLog(int fd) {
    std::string text;
    char block[4096];
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, block, sizeof block, at);
        if (got <= 0) {
            return text;
        }
        text.append(block, static_cast<size_t>(got));
        at += got;
    }
}

// The same, and the log emptied for what comes next.
inline std::string TakeWholeLog(int fd) {
    std::string text = ReadWholeLog(fd);
    if (::ftruncate(fd, 0) == 0) {
        ::lseek(fd, 0, SEEK_SET);
    }
    return text;
}

// The log module's own line numbers are not a test's business:
// "errorlog.cpp.<digits>" becomes "errorlog.cpp.N".
inline std::string WithoutOwnLineNumbers(std::string text) {
    const std::string tag = "errorlog.cpp.";
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1)) {
        const size_t digits = at + tag.size();
        size_t end = digits;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') {
            ++end;
        }
        text.replace(digits, end - digits, "N");
    }
    return text;
}

}  // namespace hx::test

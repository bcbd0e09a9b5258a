// Reading back lines of the HTTP server's error log in tests.
#pragma once

#include <string>

namespace hx::test {

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

#include "http/failed_assert.h"

#include <cstdio>
#include <cstdlib>

namespace hx {

extern "C" void log_failed_assert(const char* filename, unsigned int line, const char* message) {
    std::fprintf(stderr, "%s.%u: %s\n", filename, line, message);
    std::fflush(stderr);
    std::abort();
}

}  // namespace hx

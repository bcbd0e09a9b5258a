#include "http/stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace hx {

extern "C" {

int stream_open(stream* f, const buffer* fn) {
    if (f == nullptr) {
        return -1;
    }
    f->start = nullptr;
    f->size = 0;
    if (fn == nullptr || fn->used == 0) {
        return -1;
    }
    struct stat st {};
    if (stat(fn->ptr, &st) != 0 || st.st_size > std::numeric_limits<http_off_t>::max()) {
        return -1;
    }
    f->size = static_cast<http_off_t>(st.st_size);
    const int fd = open(fn->ptr, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    void* mapped = f->size == 0 ? MAP_FAILED : mmap(nullptr, static_cast<size_t>(f->size), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) {
        return -1;
    }
    f->start = static_cast<char*>(mapped);
    return 0;
}

int stream_close(stream* f) {
    if (f == nullptr) {
        return -1;
    }
    if (f->start != nullptr) {
        munmap(f->start, static_cast<size_t>(f->size));
    }
    f->start = nullptr;
    return 0;
}

}  // extern "C"

}  // namespace hx

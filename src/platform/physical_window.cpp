#include "platform/physical_window.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hx {

std::unique_ptr<PhysicalWindow> PhysicalWindow::Map(const std::string& device, off_t offset, std::size_t bytes,
                                                    MapError& error) {
    error = MapError::None;
    const int fd = ::open(device.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        error = MapError::Open;
        return nullptr;
    }
    struct stat status {};
    void* base = MAP_FAILED;
    if (fstat(fd, &status) == 0 &&
        (!S_ISREG(status.st_mode) || status.st_size >= offset + static_cast<off_t>(bytes))) {
        base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    }
    // The mapping keeps what it needs of the device; the descriptor can go.
    ::close(fd);
    if (base == MAP_FAILED) {
        error = MapError::Map;
        return nullptr;
    }
    return std::unique_ptr<PhysicalWindow>(new PhysicalWindow(base, bytes));
}

PhysicalWindow::~PhysicalWindow() { munmap(base_, bytes_); }

}  // namespace hx

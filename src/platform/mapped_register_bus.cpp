#include "platform/mapped_register_bus.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hx {

std::unique_ptr<MappedRegisterBus> MappedRegisterBus::Open(const std::string& path, off_t offset, OpenError& error) {
    error = OpenError::None;
    const int fd = ::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        error = OpenError::Open;
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 ||
        (S_ISREG(status.st_mode) && status.st_size < offset + static_cast<off_t>(kRegisterWindowBytes))) {
        ::close(fd);
        error = OpenError::Map;
        return nullptr;
    }
    void* base = mmap(nullptr, kRegisterWindowBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    if (base == MAP_FAILED) {
        ::close(fd);
        error = OpenError::Map;
        return nullptr;
    }
    return std::unique_ptr<MappedRegisterBus>(new MappedRegisterBus(fd, base));
}

MappedRegisterBus::~MappedRegisterBus() {
    munmap(base_, kRegisterWindowBytes);
    ::close(fd_);
}

volatile U32* MappedRegisterBus::Word(U32 index) const {
    return reinterpret_cast<volatile U32*>(static_cast<char*>(base_) + static_cast<std::size_t>(index) * kRegisterStride);
}

U32 MappedRegisterBus::Read(U32 index) { return *Word(index); }

void MappedRegisterBus::Write(U32 index, U32 value) { *Word(index) = value; }

}  // namespace hx

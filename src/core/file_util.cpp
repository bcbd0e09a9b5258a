#include "core/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

namespace hx {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

namespace {

bool WriteFully(int fd, const U8* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

std::atomic<AtomicWriteHook> g_atomicWriteHook{nullptr};

void ReachStep(AtomicWriteStep step, const std::string& path) {
    if (const AtomicWriteHook hook = g_atomicWriteHook.load(std::memory_order_acquire)) {
        hook(step, path.c_str());
    }
}

std::string TemporaryPrefix(const std::filesystem::path& target) {
    std::string prefix = ".";
    prefix += target.filename().string();
    prefix += '.';
    return prefix;
}

}  // namespace

void File_SetAtomicWriteHook(AtomicWriteHook hook) { g_atomicWriteHook.store(hook, std::memory_order_release); }

std::size_t File_RemoveStaleTemporaries(const std::string& path) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string prefix = TemporaryPrefix(target);
    constexpr std::size_t kSuffixLength = 6;  // mkstemp's XXXXXX
    std::size_t removed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == prefix.size() + kSuffixLength && name.starts_with(prefix) &&
            unlink(entry.path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

bool File_WriteAtomic(const std::string& path, std::span<const U8> data) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string temporary = (folder / (TemporaryPrefix(target) + "XXXXXX")).string();

    // Close-on-exec: a command another thread starts meanwhile must not keep
    // the half-written file open.
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    ReachStep(AtomicWriteStep::TemporaryCreated, path);
    const std::size_t half = data.size() / 2;
    bool written = WriteFully(file.get(), data.data(), half);
    if (written) {
        ReachStep(AtomicWriteStep::HalfWritten, path);
        written = WriteFully(file.get(), data.data() + half, data.size() - half);
    }
    if (written) {
        ReachStep(AtomicWriteStep::FullyWritten, path);
        written = fchmod(file.get(), 0644) == 0 && fsync(file.get()) == 0;
    }
    if (written) {
        ReachStep(AtomicWriteStep::Synced, path);
    }
    const int fd = file.release();
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int savedErrno = errno;
        unlink(temporary.c_str());
        errno = savedErrno;
        return false;
    }
    ReachStep(AtomicWriteStep::Renamed, path);
    // The rename itself must reach storage too, or a power cut can bring the
    // old name back.
    FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        fsync(directory.get());
    }
    return true;
}

std::optional<std::vector<U8>> File_ReadAll(const std::string& path) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return std::nullopt;
    }
    std::vector<U8> content;
    U8 chunk[65536];
    for (;;) {
        const ssize_t got = read(file.get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.insert(content.end(), chunk, chunk + got);
    }
}

std::optional<std::size_t> File_Size(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(info.st_size);
}

bool File_MakeDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

}  // namespace hx

#include "core/file_util.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
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

// Writes bytes [from, to) of the pieces laid end to end, in as few writev
// calls as the kernel allows (a call may write less than asked).
bool WriteFully(int fd, std::span<const std::span<const U8>> pieces, std::size_t from, std::size_t to) {
    std::vector<iovec> vectors;
    std::size_t start = 0;
    for (const std::span<const U8> piece : pieces) {
        const std::size_t end = start + piece.size();
        if (end > from && start < to) {
            const std::size_t first = std::max(from, start) - start;
            const std::size_t last = std::min(to, end) - start;
            vectors.push_back({const_cast<U8*>(piece.data() + first), last - first});
        }
        start = end;
    }
    std::size_t next = 0;
    while (next < vectors.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(vectors.size() - next, IOV_MAX));
        ssize_t written = writev(fd, vectors.data() + next, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        const std::size_t before = next;
        for (; next < vectors.size() && static_cast<std::size_t>(written) >= vectors[next].iov_len; ++next) {
            written -= static_cast<ssize_t>(vectors[next].iov_len);
        }
        if (written == 0 && next == before) {
            return false;  // nothing taken of a non-empty piece: no progress is coming
        }
        if (next < vectors.size()) {
            vectors[next].iov_base = static_cast<U8*>(vectors[next].iov_base) + written;
            vectors[next].iov_len -= static_cast<std::size_t>(written);
        }
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
    return File_WriteAtomicGathered(path, std::span(&data, 1));
}

bool File_WriteAtomicGathered(const std::string& path, std::span<const std::span<const U8>> pieces) {
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
    std::size_t total = 0;
    for (const std::span<const U8> piece : pieces) {
        total += piece.size();
    }
    // One write, unless a power-loss test is to stop the process half way.
    const std::size_t firstPart = g_atomicWriteHook.load(std::memory_order_acquire) != nullptr ? total / 2 : total;
    bool written = WriteFully(file.get(), pieces, 0, firstPart);
    if (written) {
        ReachStep(AtomicWriteStep::HalfWritten, path);
        written = WriteFully(file.get(), pieces, firstPart, total);
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

bool File_WriteFully(int fd, std::span<const U8> data) {
    return WriteFully(fd, std::span(&data, 1), 0, data.size());
}

std::optional<std::size_t> File_Size(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(info.st_size);
}

bool File_Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::size_t File_ReadUpTo(int fd, U8* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, out + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File_MakeDirectories(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

}  // namespace hx

// File helpers shared by every module that keeps state on the card's storage.
//
// Settings files are "rewritten from the start" on every change. A power cut in
// the middle of such a rewrite must leave the old file or the new one, never a
// torn mix, so File_WriteAtomic writes a temporary file in the same folder,
// syncs it, renames it over the old name and syncs the folder. Every writer of
// a whole file uses it.
//
// Paths here are real paths (already resolved under the data root). Stateless;
// safe from any thread (two writers of one file: the last rename wins whole).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/types.h"

namespace hx {

// Owns one open file descriptor and closes it when it goes, so no early return
// leaks it. Not copyable.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over to the caller, who closes it.
    int release();

private:
    int fd_;
};

// Replaces the whole content of `path`. Returns false (and leaves the old file
// as it was) when any step fails; errno tells which.
bool File_WriteAtomic(const std::string& path, std::span<const U8> data);
// The same, the content given as pieces written one after another with one
// gathered write (writev), so a file whose parts lie apart in memory needs no
// copy into one buffer first.
bool File_WriteAtomicGathered(const std::string& path, std::span<const std::span<const U8>> pieces);

// A crash can leave the temporary file of a write behind (".<name>.XXXXXX"
// beside the target). It is never read; a writer that serialises its saves of
// one file removes such leftovers before it writes again. Returns how many it
// removed.
std::size_t File_RemoveStaleTemporaries(const std::string& path);

// Test only: the points of File_WriteAtomic at which a power-loss test stops
// the process. The hook runs in the writing thread; null turns it off.
enum class AtomicWriteStep { TemporaryCreated, HalfWritten, FullyWritten, Synced, Renamed };
using AtomicWriteHook = void (*)(AtomicWriteStep step, const char* path);
void File_SetAtomicWriteHook(AtomicWriteHook hook);

// Reads the whole file, or nullopt when it cannot be opened or read.
std::optional<std::vector<U8>> File_ReadAll(const std::string& path);

// Reads up to `size` bytes from the descriptor, through interruptions; the
// count read, short at the end of the file or on an error.
std::size_t File_ReadUpTo(int fd, U8* out, std::size_t size);

// Writes all of `data` to the descriptor, through interruptions and short
// writes; false on an error or when the descriptor takes nothing more.
bool File_WriteFully(int fd, std::span<const U8> data);

// Size in bytes, or nullopt when the file does not exist.
std::optional<std::size_t> File_Size(const std::string& path);

// Whether anything (file, folder, link to one) is there; false when it cannot
// be told.
bool File_Exists(const std::string& path);

// Creates the folder and its parents; true when it exists afterwards.
bool File_MakeDirectories(const std::string& path);

}  // namespace hx

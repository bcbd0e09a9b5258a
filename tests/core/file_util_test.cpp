#include "core/file_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace hx {
namespace {

// What the hook saw of the temporary file while it was open.
struct OpenTemporary {
    int found = 0;        // descriptors open on it
    int closeOnExec = 0;  // of which marked close-on-exec
};
OpenTemporary g_seen;

void InspectOpenTemporary(AtomicWriteStep step, const char*) {
    if (step != AtomicWriteStep::TemporaryCreated) {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).filename().string();
        if (error || !target.starts_with(".settings.bin.")) {
            continue;
        }
        const int fd = std::stoi(entry.path().filename().string());
        ++g_seen.found;
        if ((fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0) {
            ++g_seen.closeOnExec;
        }
    }
}

// A command started by another thread while a settings file is being written
// must not inherit the half-written temporary file.
TEST(AtomicWriteTest, TheTemporaryFileIsOpenedCloseOnExec) {
    test::TestEnvironment env;
    g_seen = {};
    File_SetAtomicWriteHook(InspectOpenTemporary);
    const bool written = File_WriteAtomic(env.Path("/vandik_data/settings.bin"), std::vector<U8>(64, 0x5A));
    File_SetAtomicWriteHook(nullptr);
    ASSERT_TRUE(written);
    EXPECT_EQ(1, g_seen.found);
    EXPECT_EQ(1, g_seen.closeOnExec);
}

}  // namespace
}  // namespace hx

#include "core/file_util.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <span>
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

// What the temporary file held when the write reached its half-way point.
std::vector<U8> g_halfWay;

void KeepHalfWay(AtomicWriteStep step, const char* path) {
    if (step != AtomicWriteStep::HalfWritten) {
        return;
    }
    const std::filesystem::path target(path);
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path())) {
        if (entry.path().filename().string().starts_with("." + target.filename().string() + ".")) {
            g_halfWay = File_ReadAll(entry.path().string()).value_or(std::vector<U8>{});
        }
    }
}

TEST(AtomicWriteTest, GatheredPiecesLandEndToEndAndHalfWayIsHalfTheBytes) {
    test::TestEnvironment env;
    const std::string path = env.Path("/vandik_data/model.bin");
    std::vector<U8> pool(1001);
    for (std::size_t i = 0; i < pool.size(); ++i) {
        pool[i] = static_cast<U8>(i * 7);
    }
    const std::vector<U8> head = {'H', 'E', 'A', 'D'};
    const std::vector<U8> tail = {0xC1, 0xC2, 0xC3};
    // Empty pieces (pools of no records) among full ones.
    const std::span<const U8> pieces[] = {head, {}, pool, {}, tail};
    std::vector<U8> whole = head;
    whole.insert(whole.end(), pool.begin(), pool.end());
    whole.insert(whole.end(), tail.begin(), tail.end());

    ASSERT_TRUE(File_WriteAtomicGathered(path, pieces));
    EXPECT_EQ(whole, *File_ReadAll(path));

    // The half-way point a power-loss test stops at falls inside a piece.
    g_halfWay.clear();
    File_SetAtomicWriteHook(KeepHalfWay);
    const bool written = File_WriteAtomicGathered(path, pieces);
    File_SetAtomicWriteHook(nullptr);
    ASSERT_TRUE(written);
    EXPECT_EQ(std::vector<U8>(whole.begin(), whole.begin() + whole.size() / 2), g_halfWay);
    EXPECT_EQ(whole, *File_ReadAll(path));

    const std::span<const U8> nothing[] = {{}, {}};
    ASSERT_TRUE(File_WriteAtomicGathered(path, nothing));
    EXPECT_EQ(0u, File_ReadAll(path)->size());
}

}  // namespace
}  // namespace hx

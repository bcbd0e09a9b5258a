#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <span>
#include <vector>

#include "chassis/param_file_io.h"
#include "core/file_util.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ReadFn = U32 (*)(const char*, U8*, U32);
using WriteFn = U32 (*)(const char*, const U8*, U32);

struct Pair {
    const char* name;
    ReadFn read;
    WriteFn write;
    const char* missingText;
};

class ParamFileIoTest : public ::testing::TestWithParam<Pair> {
protected:
    test::TestEnvironment env;
};

TEST_P(ParamFileIoTest, WriteThenReadAndTheErrorCodes) {
    const Pair& pair = GetParam();
    log_Init(kMainLogPath);
    Log_SetLevel(LOG_LEVEL_ALL);
    const U8 data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(0u, pair.write("/vandik_data/test.bin", data, 5));
    EXPECT_EQ(std::string("\x01\x02\x03\x04\x05", 5), env.ReadText("/vandik_data/test.bin"));

    U8 in[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    ASSERT_EQ(0u, pair.read("/vandik_data/test.bin", in, 8)) << "asking for more than the file holds reads it whole";
    EXPECT_EQ((std::vector<U8>{1, 2, 3, 4, 5, 9, 9, 9}), std::vector<U8>(in, in + 8));
    ASSERT_EQ(0u, pair.read("/vandik_data/test.bin", in, 2));

    env.TakeConsole();
    EXPECT_EQ(6u, pair.read("/vandik_data/none.bin", in, 8));
    EXPECT_NE(std::string::npos, env.Console().find(pair.missingText));
    EXPECT_EQ(4u, pair.read(nullptr, in, 8));
    EXPECT_EQ(4u, pair.read("/vandik_data/test.bin", nullptr, 8));
    EXPECT_EQ(4u, pair.write("/vandik_data/test.bin", nullptr, 8));
    EXPECT_EQ(1u, pair.write("/no_such_folder/test.bin", data, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Both, ParamFileIoTest,
    ::testing::Values(Pair{"Params", PARAMS_ReadFile, PARAMS_WriteFile, "PARAMS_ReadFile:"},
                      Pair{"Param", PARAM_ReadFile, PARAM_WriteFile, "[PARAM_ReadFile:"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicWriteTest, ReplacesWholeAndLeavesNoTemporaryFile) {
    test::TestEnvironment env;
    const std::string path = env.Path("/vandik_data/settings.bin");
    ASSERT_TRUE(File_WriteAtomic(path, std::vector<U8>(100, 0xAA)));
    ASSERT_TRUE(File_WriteAtomic(path, std::vector<U8>(10, 0x55)));
    EXPECT_EQ(std::vector<U8>(10, 0x55), *File_ReadAll(path));
    for (const auto& entry : std::filesystem::directory_iterator(env.Path("/vandik_data"))) {
        if (entry.is_regular_file()) {
            EXPECT_EQ("settings.bin", entry.path().filename().string()) << entry.path();
        }
    }
}

// What the temporary file held when the write reached its half-way point.
std::vector<U8> g_halfWritten;

void KeepHalfWritten(AtomicWriteStep step, const char* path) {
    if (step != AtomicWriteStep::HalfWritten) {
        return;
    }
    const std::filesystem::path target(path);
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path())) {
        if (entry.path().filename().string().starts_with("." + target.filename().string() + ".")) {
            g_halfWritten = File_ReadAll(entry.path().string()).value_or(std::vector<U8>{});
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
    g_halfWritten.clear();
    File_SetAtomicWriteHook(KeepHalfWritten);
    const bool written = File_WriteAtomicGathered(path, pieces);
    File_SetAtomicWriteHook(nullptr);
    ASSERT_TRUE(written);
    EXPECT_EQ(std::vector<U8>(whole.begin(), whole.begin() + whole.size() / 2), g_halfWritten);
    EXPECT_EQ(whole, *File_ReadAll(path));

    const std::span<const U8> nothing[] = {{}, {}};
    ASSERT_TRUE(File_WriteAtomicGathered(path, nothing));
    EXPECT_EQ(0u, File_ReadAll(path)->size());
}

TEST(AtomicWriteTest, AFailedWriteKeepsTheOldFile) {
    test::TestEnvironment env;
    if (geteuid() == 0) {
        // root writes into read-only folders; a missing folder fails for everyone.
        EXPECT_FALSE(File_WriteAtomic(env.Path("/missing/settings.bin"), std::vector<U8>(4, 1)));
        return;
    }
    const std::string path = env.Path("/vandik_data/settings.bin");
    ASSERT_TRUE(File_WriteAtomic(path, std::vector<U8>(4, 1)));
    chmod(env.Path("/vandik_data").c_str(), 0555);
    EXPECT_FALSE(File_WriteAtomic(path, std::vector<U8>(8, 2)));
    chmod(env.Path("/vandik_data").c_str(), 0755);
    EXPECT_EQ(std::vector<U8>(4, 1), *File_ReadAll(path));
}

}  // namespace
}  // namespace hx

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "core/file_util.h"
#include "core/param_file_io.h"
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

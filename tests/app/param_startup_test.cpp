#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "chassis/param_store.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

std::string RunOnce(const test::TestEnvironment& env, int& status) {
    return test::RunProgramOnce(HX_QAM_BINARY, env, status);
}

// A new user's first, second and third start: factory file written, then
// loaded, then a damaged file reported, replaced, and start-up carried on.
// The card's fixed waits run sped up (RunProgramOnce); every other kind of
// damage is covered in-process by the parameter store's tests.
TEST(ParamStartupTest, FirstStartWritesSecondLoadsDamageIsReplaced) {
    test::TestEnvironment env;
    const std::string qamFile = env.Path(kQamParamFilePath);
    int status = -1;

    std::string output = RunOnce(env, status);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, output.find("Factory parameters!")) << output;
    ASSERT_TRUE(std::filesystem::exists(qamFile));
    EXPECT_EQ(6444u, std::filesystem::file_size(qamFile));

    output = RunOnce(env, status);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, output.find("Load config files !")) << output;
    EXPECT_NE(std::string::npos, output.find("QAM CRC Check Sucess")) << output;

    {
        std::fstream file(qamFile, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(100);
        file.put('X');
    }
    output = RunOnce(env, status);
    EXPECT_EQ(0, status) << output;
    EXPECT_NE(std::string::npos, output.find("Config file [/product_data/HX_QAM.conf] CRC fail")) << output;
    EXPECT_NE(std::string::npos, output.find("snmp thread create successfully!")) << "start-up carried on";

    output = RunOnce(env, status);
    EXPECT_NE(std::string::npos, output.find("QAM CRC Check Sucess")) << "the replacement is good";
}

}  // namespace
}  // namespace hx

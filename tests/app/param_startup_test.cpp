#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "chassis/param_store.h"
#include "support/test_env.h"

namespace hx {
namespace {

// Runs the program once through its start-up; its output, and the exit status
// in `status`.
std::string RunOnce(const test::TestEnvironment& env, int& status) {
    const std::string command = std::string(HX_QAM_BINARY) + " --data-root " + env.root().string() +
                                " --once --http-port 0 --nms-port 0 --snmp-port 0 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    std::array<char, 4096> chunk{};
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        output.append(chunk.data(), got);
    }
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

// A new user's first, second and third start: factory file written, then
// loaded, then a damaged file reported, replaced, and start-up carried on.
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

// The program as a user starts it: start-up's SI step starts the tick timer
// and the SI packet sender, and with no output stream no SI packet is written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_env.h"

namespace hx {
namespace {

TEST(SiStartupTest, StartUpStartsTheTimerAndTheSenderAndSendsNothingWithoutStreams) {
    test::TestEnvironment env;
    const std::string command = std::string(HX_QAM_BINARY) + " --data-root " + env.root().string() +
                                " --once --http-port 0 --nms-port 0 --snmp-port 0 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string output;
    std::array<char, 4096> chunk{};
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        output.append(chunk.data(), got);
    }
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(0, WEXITSTATUS(status)) << output;
    const std::size_t timer = output.find("Timer create successfully!");
    const std::size_t sender = output.find("SIPacket create successfully!");
    ASSERT_NE(std::string::npos, timer) << output;
    ASSERT_NE(std::string::npos, sender) << output;
    EXPECT_LT(timer, sender);
    EXPECT_NE(std::string::npos, output.find("SIPacket pthread detach successfully!"));
    EXPECT_FALSE(std::filesystem::exists(env.Path("/sim/ts"))) << "no stream, no SI packet";
}

}  // namespace
}  // namespace hx

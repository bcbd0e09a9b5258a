#include <gtest/gtest.h>

#include <filesystem>

#include "core/run_profile.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(RunProfileTest, DefaultsAreTheSimulatedBoardInVar) {
    std::string error;
    const auto profile = ParseRunProfile({}, error);
    ASSERT_TRUE(profile) << error;
    EXPECT_EQ(HardwareBackend::Sim, profile->backend);
    EXPECT_EQ(std::filesystem::absolute("var").lexically_normal(), profile->dataRoot);
    EXPECT_EQ("127.0.0.1", profile->listenAddress);
    EXPECT_EQ(8000, profile->interBoardPort);
    EXPECT_GE(profile->httpPort, 1024);
    EXPECT_GE(profile->managementPort, 1024);
    EXPECT_GE(profile->snmpPort, 1024);
}

TEST(RunProfileTest, CardIsChosenOnlyExplicitly) {
    std::string error;
    const auto profile = ParseRunProfile({"--hardware", "card"}, error);
    ASSERT_TRUE(profile) << error;
    EXPECT_EQ(HardwareBackend::Card, profile->backend);
    EXPECT_EQ("/", profile->dataRoot);
    EXPECT_EQ(30, profile->managementPort);
    EXPECT_EQ(80, profile->httpPort);
    EXPECT_EQ(161, profile->snmpPort);
    EXPECT_EQ("0.0.0.0", profile->listenAddress);
}

TEST(RunProfileTest, OptionsOverrideAndBadOnesAreRefused) {
    std::string error;
    const auto profile = ParseRunProfile({"--data-root", "/tmp/x", "--http-port", "0", "--nms-port", "0x7530", "--slot", "5",
                                          "--plugged-slots", "0x28", "--sim-fail-bitstream", "--once", "--listen", "127.0.0.5",
                                          "--sim-speed-up", "100"},
                                         error);
    ASSERT_TRUE(profile) << error;
    EXPECT_EQ("/tmp/x", profile->dataRoot);
    EXPECT_EQ(0, profile->httpPort);
    EXPECT_EQ(30000, profile->managementPort);
    EXPECT_EQ(5u, profile->simSlotId);
    EXPECT_EQ(0x28u, profile->simPluggedSlots);
    EXPECT_TRUE(profile->simBitstreamFails);
    EXPECT_TRUE(profile->exitAfterStartup);
    EXPECT_EQ("127.0.0.5", profile->listenAddress);
    EXPECT_EQ(100u, profile->simSpeedUp);
    EXPECT_EQ(1u, ParseRunProfile({}, error)->simSpeedUp) << "real time unless asked";

    const std::vector<std::vector<std::string>> bad = {
        {"--http-port", "65536"}, {"--http-port", "80x"}, {"--slot", "16"}, {"--hardware", "fpga"},
        {"--nms-port"},           {"--frobnicate"},       {"--slot", "0x"},
        {"--sim-speed-up", "0"},  {"--sim-speed-up", "1001"},
        // The card keeps its real waits.
        {"--hardware", "card", "--sim-speed-up", "10"},
        {"--sim-speed-up", "10", "--hardware", "card"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseRunProfile(args, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(RunProfileTest, FixedPathsResolveUnderTheDataRoot) {
    test::TestEnvironment env;
    EXPECT_EQ(env.root().string() + "/vandik_data/HX_QAM.conf", ResolvePath("/vandik_data/HX_QAM.conf"));
    EXPECT_EQ(env.root().string() + "/vandik_data/log//device.log", ResolvePath("/vandik_data/log//device.log"));
    EXPECT_TRUE(std::filesystem::is_directory(env.Path("/vandik_data/log")));
    EXPECT_TRUE(IsInsideDataRoot(env.root() / "tmp/a"));
    EXPECT_FALSE(IsInsideDataRoot(env.root() / "../escape"));
    EXPECT_FALSE(IsInsideDataRoot("/etc/passwd"));

    SetProfile(CardProfile());
    EXPECT_EQ("/vandik_data/HX_QAM.conf", ResolvePath("/vandik_data/HX_QAM.conf"));
}

}  // namespace
}  // namespace hx

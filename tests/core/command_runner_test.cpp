#include <gtest/gtest.h>

#include <filesystem>

#include "core/command_runner.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(CommandRunnerTest, HostChangingCommandsAreRecordedInOrderAndNotRun) {
    test::TestEnvironment env;
    const std::vector<std::vector<std::string>> commands = {
        {"ifconfig", "eth0", "127.1.1.14", "netmask", "255.255.255.0"},
        {"route", "add", "default", "gw", "127.1.1.1"},
        {"date", "-s", "@1765370558"},
        {"reboot"},
        {"umount", "/vandik_data"},
        {"kill", "-9", "1"},
    };
    for (const auto& argv : commands) {
        const CommandResult result = Command_Run(Command{argv, std::nullopt});
        EXPECT_FALSE(result.executed) << argv[0];
        EXPECT_EQ(0, result.status);
    }
    const std::vector<std::string> expected = {
        "ifconfig eth0 127.1.1.14 netmask 255.255.255.0", "route add default gw 127.1.1.1", "date -s @1765370558",
        "reboot", "umount /vandik_data", "kill -9 1"};
    EXPECT_EQ(expected, Command_Recorded());
    std::string logged;
    for (const auto& line : expected) {
        logged += line + "\n";
    }
    EXPECT_EQ(logged, env.ReadText("/sim/commands.log"));
}

TEST(CommandRunnerTest, TextFromOutsideIsQuotedNeverInterpreted) {
    test::TestEnvironment env;
    Command_Run({"ftpget", "-u", "user", "127.0.0.1", "/tmp/x", "name; rm -rf / $(id) 'q'"});
    ASSERT_EQ(1u, Command_Recorded().size());
    EXPECT_EQ("ftpget -u user 127.0.0.1 /tmp/x 'name; rm -rf / $(id) '\\''q'\\'''", Command_Recorded()[0]);
}

TEST(CommandRunnerTest, FileToolsRunForRealInsideTheDataRoot) {
    test::TestEnvironment env;
    EXPECT_EQ(0, Command_Run({"mkdir", "-p", "/vandik_app/web/slot3"}));
    EXPECT_TRUE(std::filesystem::is_directory(env.Path("/vandik_app/web/slot3")));
    EXPECT_EQ(0, Command_Run({"touch", "/tmp/marker"}));
    EXPECT_EQ(0, Command_Run({"cp", "/tmp/marker", "/vandik_data/copy"}));
    EXPECT_TRUE(std::filesystem::exists(env.Path("/vandik_data/copy")));
    EXPECT_EQ(0, Command_Run({"chmod", "600", "/vandik_data/copy"}));
    EXPECT_EQ(0, Command_Run({"rm", "-f", "/tmp/marker"}));
    EXPECT_FALSE(std::filesystem::exists(env.Path("/tmp/marker")));
    EXPECT_TRUE(Command_Recorded().empty());
}

TEST(CommandRunnerTest, FileToolsCannotLeaveTheDataRoot) {
    test::TestEnvironment env;
    const std::string outside = (env.root().parent_path() / (env.root().filename().string() + "-outside")).string();
    std::filesystem::create_directories(outside);
    const CommandResult result = Command_Run(Command{{"rm", "-rf", "/../" + env.root().filename().string() + "-outside"}, std::nullopt});
    EXPECT_FALSE(result.executed);
    EXPECT_EQ(-1, result.status);
    EXPECT_TRUE(std::filesystem::exists(outside));
    EXPECT_EQ(-1, Command_Run({"touch", "../../escape"}));
    std::filesystem::remove_all(outside);
}

TEST(CommandRunnerTest, SimulatedDevicesCanClaimACommand) {
    test::TestEnvironment env;
    std::vector<std::string> seen;
    Command_SetSimHandler("echo", [&](const Command& command) {
        seen.push_back(Command_Text(command));
        return CommandResult{0, true, {}};
    });
    Command_Run(Command{{"echo", "24"}, std::string("/sys/class/gpio/export")});
    EXPECT_EQ(std::vector<std::string>{"echo 24 > /sys/class/gpio/export"}, seen);
    EXPECT_TRUE(Command_Recorded().empty());
}

TEST(CommandRunnerTest, CaptureReadsTheOutputOfAFileTool) {
    test::TestEnvironment env;
    env.WriteText("/vandik_data/a/b.txt", "x");
    const CommandResult listing = Command_Capture(Command{{"tar", "-cf", "-", "-C", "/vandik_data", "a"}, std::nullopt});
    EXPECT_TRUE(listing.executed);
    EXPECT_EQ(0, listing.status);
    EXPECT_NE(std::string::npos, listing.output.find("a/b.txt"));
}

}  // namespace
}  // namespace hx

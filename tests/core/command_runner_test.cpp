#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

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

TEST(CommandRunnerTest, FileToolsRunInTheirWorkingDirectoryInsideTheDataRoot) {
    test::TestEnvironment env;
    const std::filesystem::path before = std::filesystem::current_path();
    env.WriteText("/var/volatile/member.txt", "m");
    Command pack{{"tar", "-cf", "packed.tar", "member.txt"}, std::nullopt};
    pack.workingDirectory = "/var/volatile";
    EXPECT_EQ(0, Command_Run(pack).status);
    EXPECT_TRUE(std::filesystem::exists(env.Path("/var/volatile/packed.tar")));
    EXPECT_EQ(before, std::filesystem::current_path()) << "the process stays where it was";

    // Relative words are judged from the working directory, and the
    // directory itself must lie in the data root.
    Command climb{{"touch", "../../../escape"}, std::nullopt};
    climb.workingDirectory = "/var/volatile";
    EXPECT_EQ(-1, Command_Run(climb).status);
    Command outside{{"touch", "escape"}, std::nullopt};
    outside.workingDirectory = "/../../escape-dir";
    EXPECT_EQ(-1, Command_Run(outside).status);
    EXPECT_FALSE(std::filesystem::exists(env.root().parent_path() / "escape"));
    // A missing directory: the command does not start.
    Command missing{{"touch", "x"}, std::nullopt};
    missing.workingDirectory = "/no/such/folder";
    EXPECT_FALSE(Command_Run(missing).executed);
}

TEST(CommandRunnerTest, CaptureReadsTheOutputOfAFileTool) {
    test::TestEnvironment env;
    env.WriteText("/vandik_data/a/b.txt", "x");
    const CommandResult listing = Command_Capture(Command{{"tar", "-cf", "-", "-C", "/vandik_data", "a"}, std::nullopt});
    EXPECT_TRUE(listing.executed);
    EXPECT_EQ(0, listing.status);
    EXPECT_NE(std::string::npos, listing.output.find("a/b.txt"));
}

// The card runs its commands for real; these tests do the same with harmless
// ones (sh, sleep).
class RealCommandTest : public ::testing::Test {
protected:
    RealCommandTest() {
        RunProfile card = Profile();
        card.backend = HardwareBackend::Card;
        SetProfile(card);
    }
    test::TestEnvironment env;
};

TEST_F(RealCommandTest, ChildrenSeeNoDescriptorAboveTwo) {
    // Descriptors any thread may hold while a command starts: without
    // close-on-exec (a socket or file opened by plain open) and with it.
    std::array<int, 2> plainPipe{};
    ASSERT_EQ(0, pipe(plainPipe.data()));
    const int plainFile = open(env.Path("/vandik_data").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(plainFile, 3);
    for (const bool capture : {false, true}) {
        for (const int fd : {plainPipe[0], plainPipe[1], plainFile}) {
            const Command probe{{"sh", "-c", "test -e /proc/self/fd/" + std::to_string(fd)}, std::nullopt};
            const CommandResult result = capture ? Command_Capture(probe) : Command_Run(probe);
            EXPECT_TRUE(result.executed);
            EXPECT_EQ(1, result.status) << "descriptor " << fd << " reached the child (capture " << capture << ")";
        }
    }
    // Its own standard descriptors are there, and captured output still flows.
    EXPECT_EQ(0, Command_Run({"sh", "-c", "test -e /proc/self/fd/0 && test -e /proc/self/fd/1 && test -e /proc/self/fd/2"}));
    EXPECT_EQ("out\n", Command_Capture(Command{{"sh", "-c", "echo out"}, std::nullopt}).output);
    close(plainPipe[0]);
    close(plainPipe[1]);
    close(plainFile);
}

TEST_F(RealCommandTest, ATimeLimitKillsTheCommandAndWhatItStarted) {
    // The shell starts a long sleep and waits for it; both must go at the limit.
    const std::string pidFile = env.Path("/tmp/sleeper.pid");
    Command command{{"sh", "-c", "sleep 300 & echo $! > " + pidFile + "; wait"}, std::nullopt};
    command.timeLimit = std::chrono::seconds(1);
    const auto start = std::chrono::steady_clock::now();
    const CommandResult result = Command_Run(command);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "not left to run its 300 s";
    EXPECT_TRUE(result.executed);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(-1, result.status);

    const pid_t sleeper = static_cast<pid_t>(std::stol(env.ReadText("/tmp/sleeper.pid")));
    // Killed: gone, or a zombie until whoever adopted it reaps it.
    auto alive = [&] {
        std::ifstream stat("/proc/" + std::to_string(sleeper) + "/stat");
        std::string pid, name, state;
        return stat >> pid >> name >> state && state != "Z" && state != "X";
    };
    for (int tries = 0; alive() && tries < 1'000'000; ++tries) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(alive()) << "the sleep the command started outlived it";

    // A command that ends in time is not touched, and its output comes whole.
    Command quick{{"sh", "-c", "echo done; exit 3"}, std::nullopt};
    quick.timeLimit = std::chrono::seconds(60);
    const CommandResult finished = Command_Capture(quick);
    EXPECT_FALSE(finished.timedOut);
    EXPECT_EQ(3, finished.status);
    EXPECT_EQ("done\n", finished.output);
}

TEST_F(RealCommandTest, ACommandRunsInItsWorkingDirectory) {
    const std::filesystem::path before = std::filesystem::current_path();
    Command where{{"sh", "-c", "pwd"}, std::nullopt};
    where.workingDirectory = "/vandik_data";
    EXPECT_EQ(std::filesystem::canonical(env.Path("/vandik_data")).string() + "\n", Command_Capture(where).output);
    EXPECT_EQ(before, std::filesystem::current_path());
}

}  // namespace
}  // namespace hx

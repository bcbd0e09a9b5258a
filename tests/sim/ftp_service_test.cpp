// The back board's simulated FTP service: what moves for each form of ftpget
// and ftpput, what never does, and the faults a test can inject.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/command_runner.h"
#include "core/run_profile.h"
#include "sim/ftp_service.h"
#include "support/test_env.h"

namespace hx {
namespace {

const std::string kBackBoard = "127.0.0.16";

CommandResult RunIn(const std::string& folder, std::vector<std::string> argv) {
    Command command{std::move(argv), std::nullopt};
    command.workingDirectory = folder;
    return Command_Run(command);
}

struct TransferCase {
    const char* name;
    std::vector<std::string> argv;  // run in "/var/volatile"
    int status;
    const char* moved;              // the file that now holds "archive", or ""
};

TEST(SimFtpTest, OnlyTheBackBoardMovesFilesThatExist) {
    const std::vector<TransferCase> cases = {
        {"get into the working folder", {"ftpget", kBackBoard, "a.tar"}, 0, "/var/volatile/a.tar"},
        {"get under another local name", {"ftpget", kBackBoard, "local.tar", "a.tar"}, 0, "/var/volatile/local.tar"},
        {"get with busybox options", {"ftpget", "-v", "-u", "user", "-p", "pw", kBackBoard, "a.tar"}, 0,
         "/var/volatile/a.tar"},
        {"get to an absolute local path", {"ftpget", kBackBoard, "/tmp/a.tar", "a.tar"}, 0, "/tmp/a.tar"},
        {"put from the working folder", {"ftpput", kBackBoard, "up.tar"}, 0, "/sim/ftp/up.tar"},
        {"put under another remote name", {"ftpput", kBackBoard, "up.tar", "b.tar"}, 0, "/sim/ftp/b.tar"},
        {"another host", {"ftpget", "127.0.0.34", "a.tar"}, 1, ""},
        {"a missing source", {"ftpget", kBackBoard, "none.tar"}, 1, ""},
        {"a remote name that climbs out", {"ftpget", kBackBoard, "x.tar", "../../vandik_data/secret"}, 1, ""},
        {"a put that climbs out", {"ftpput", kBackBoard, "up.tar", "../../../escape"}, 1, ""},
        {"a local name that leaves the data root", {"ftpget", kBackBoard, "../../../../../escape", "a.tar"}, 1, ""},
        {"no file named", {"ftpget", kBackBoard}, 1, ""},
    };
    for (const TransferCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TestEnvironment env;
        sim::SimFtp_Install();
        env.WriteText("/sim/ftp/a.tar", "archive");
        env.WriteText("/var/volatile/up.tar", "archive");
        env.WriteText("/vandik_data/secret", "archive");
        const CommandResult result = RunIn("/var/volatile", c.argv);
        EXPECT_EQ(c.status, result.status);
        Command shown{c.argv, std::nullopt};
        EXPECT_EQ(std::vector<std::string>{Command_Text(shown)}, Command_Recorded()) << "recorded, moved or not";
        std::vector<std::string> holders;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(env.root())) {
            if (entry.is_regular_file() && entry.path().filename() != "commands.log" &&
                std::filesystem::file_size(entry.path()) == 7) {
                holders.push_back("/" + std::filesystem::relative(entry.path(), env.root()).string());
            }
        }
        std::vector<std::string> expected = {"/sim/ftp/a.tar", "/var/volatile/up.tar", "/vandik_data/secret"};
        if (*c.moved != '\0') {
            expected.push_back(c.moved);
        }
        std::sort(holders.begin(), holders.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, holders);
        EXPECT_FALSE(std::filesystem::exists(env.root().parent_path() / "escape"));
    }
}

TEST(SimFtpTest, TestsCanFailTransfersOrCutOneShort) {
    test::TestEnvironment env;
    sim::SimFtp_Install();
    env.WriteText("/sim/ftp/a.tar", "0123456789");
    sim::SimFtp_FailNextTransfers(2);
    EXPECT_EQ(1, RunIn("/var/volatile", {"ftpget", kBackBoard, "a.tar"}).status);
    EXPECT_EQ(1, RunIn("/var/volatile", {"ftpget", kBackBoard, "a.tar"}).status);
    EXPECT_EQ("", env.ReadText("/var/volatile/a.tar"));
    sim::SimFtp_CutNextTransfer(4);
    EXPECT_EQ(0, RunIn("/var/volatile", {"ftpget", kBackBoard, "a.tar"}).status);
    EXPECT_EQ("0123", env.ReadText("/var/volatile/a.tar"));
    EXPECT_EQ(0, RunIn("/var/volatile", {"ftpput", kBackBoard, "a.tar", "b.tar"}).status);
    EXPECT_EQ("0123", env.ReadText("/sim/ftp/b.tar")) << "faults are used up";
    EXPECT_EQ(0, RunIn("/var/volatile", {"ftpget", kBackBoard, "a.tar"}).status);
    EXPECT_EQ("0123456789", env.ReadText("/var/volatile/a.tar"));
    EXPECT_EQ(5u, Command_Recorded().size());
}

}  // namespace
}  // namespace hx

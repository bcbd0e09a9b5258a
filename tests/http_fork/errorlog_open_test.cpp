// Opening the HTTP server's error log moves descriptor 2 of the whole process
// (to "/dev/null" or to the breakage log), so each case runs in a forked
// child whose descriptor 2 first points at a file of the temporary data root.
// A program of its own: no other thread exists when it forks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "http/errorlog.h"
#include "support/child_process.h"
#include "support/errorlog_lines.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::InChild;

constexpr std::time_t kSecond = 1700000000;  // 2023-11-14 22:13:20 UTC
const std::string kStamp = "2023-11-14 22:13:20";
const std::string kStarted = kStamp + ": (errorlog.cpp.N) server started \n";
const std::string kLine = kStamp + ": (t.c.5) a 7 b\n";
const std::string kStray = "stray\n";

enum ChildResult : int {
    kPassed = 0,
    kNoStandardError,
    kWrongOpenResult,
    kWrongMode,
    kWrongDescriptorTwo,
    kInheritedByCommands,
};

std::optional<std::string> ReadFile(const std::filesystem::path& path) {
    if (!std::filesystem::exists(path)) {
        return std::nullopt;
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return test::WithoutOwnLineNumbers(text.str());
}

bool IsDevNull(int fd) {
    struct stat mine {};
    struct stat devNull {};
    return fstat(fd, &mine) == 0 && stat("/dev/null", &devNull) == 0 && S_ISCHR(mine.st_mode) &&
           mine.st_rdev == devNull.st_rdev;
}

struct Case {
    const char* name;
    std::string errorlog;  // "@" stands for the data root
    bool useSyslog;
    std::string breakagelog;
    int openResult;
    errorlog_mode_t mode;
    bool devNull;  // descriptor 2 afterwards
    // Expected contents; nullopt: the file must not exist.
    std::optional<std::string> standardError;
    std::optional<std::string> errorLog;
    std::optional<std::string> pipedLog;
    std::optional<std::string> breakageLog;
};

std::string Rooted(const std::string& text, const std::string& root) {
    std::string out = text;
    for (size_t at = out.find('@'); at != std::string::npos; at = out.find('@', at + root.size())) {
        out.replace(at, 1, root);
    }
    return out;
}

// In the child: descriptor 2 on "stderr.txt", the log opened, one server
// line, one stray write to descriptor 2, the log closed, every logging
// command ended.
int OpenInChild(const Case& c, const std::string& root) {
    setenv("TZ", "UTC", 1);
    tzset();
    const int console = open((root + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (console < 0 || dup2(console, STDERR_FILENO) != STDERR_FILENO) {
        return kNoStandardError;
    }
    close(console);

    server* srv = server_init();
    srv->cur_ts = kSecond;
    buffer_copy_string(srv->srvconf.errorlog_file, Rooted(c.errorlog, root).c_str());
    buffer_copy_string(srv->srvconf.breakagelog_file, Rooted(c.breakagelog, root).c_str());
    srv->srvconf.errorlog_use_syslog = c.useSyslog ? 1 : 0;

    const int opened = log_error_open(srv);
    if (opened != c.openResult) {
        return kWrongOpenResult;
    }
    if (opened == 0) {
        if (srv->errorlog_mode != c.mode) {
            return kWrongMode;
        }
        if (IsDevNull(STDERR_FILENO) != c.devNull) {
            return kWrongDescriptorTwo;
        }
        // The log's own descriptor must not leak into commands the card runs.
        if (srv->errorlog_fd > STDERR_FILENO && (fcntl(srv->errorlog_fd, F_GETFD) & FD_CLOEXEC) == 0) {
            return kInheritedByCommands;
        }
        log_error_write(srv, "t.c", 5, "sdS", "a", 7, "b");
        const ssize_t ignored = write(STDERR_FILENO, kStray.data(), kStray.size());
        (void)ignored;
        log_error_close(srv);
    }
    server_free(srv);
    // A breakage pipe's command ends when descriptor 2 goes too.
    close(STDERR_FILENO);
    while (wait(nullptr) > 0) {
    }
    return kPassed;
}

TEST(ErrorLogOpenTest, EachTargetAndWhereDescriptorTwoGoes) {
    const std::string startedAndLine = kStarted + kLine;
    const Case cases[] = {
        {"default: server started on descriptor 2, then /dev/null", "", false, "", 0, ERRORLOG_FD, true, kStarted,
         std::nullopt, std::nullopt, std::nullopt},
        {"file", "@/error.log", false, "", 0, ERRORLOG_FILE, true, "", startedAndLine, std::nullopt, std::nullopt},
        {"pipe", "|cat > @/piped.log", false, "", 0, ERRORLOG_PIPE, true, "", std::nullopt, startedAndLine,
         std::nullopt},
        {"system log writes nothing", "@/error.log", true, "", 0, ERRORLOG_SYSLOG, true, "", std::nullopt,
         std::nullopt, std::nullopt},
        {"breakage log takes descriptor 2, server lines the old one", "", false, "@/breakage.log", 0, ERRORLOG_FD,
         false, startedAndLine, std::nullopt, std::nullopt, kStray},
        {"breakage log beside a file", "@/error.log", false, "@/breakage.log", 0, ERRORLOG_FILE, false, "",
         startedAndLine, std::nullopt, kStray},
        {"breakage log through a pipe", "", false, "|cat > @/breakage.log", 0, ERRORLOG_FD, false, startedAndLine,
         std::nullopt, std::nullopt, kStray},
        {"unopenable file", "@/missing/error.log", false, "", -1, ERRORLOG_FD, false,
         kStamp + ": (errorlog.cpp.N) opening errorlog '@/missing/error.log' failed: No such file or directory\n",
         std::nullopt, std::nullopt, std::nullopt},
        {"unopenable breakage log", "", false, "@/missing/breakage.log", -1, ERRORLOG_FD, false,
         kStarted + kStamp +
             ": (errorlog.cpp.N) opening errorlog '@/missing/breakage.log' failed: No such file or directory\n",
         std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        test::TestEnvironment env;
        const std::string root = env.root().string();
        EXPECT_EQ(InChild([&] { return OpenInChild(c, root); }), kPassed) << c.name;
        auto expect = [&](const char* file, const std::optional<std::string>& expected) {
            std::optional<std::string> wanted;
            if (expected) {
                wanted = Rooted(*expected, root);
            }
            EXPECT_EQ(ReadFile(env.root() / file), wanted) << c.name << ": " << file;
        };
        expect("stderr.txt", c.standardError);
        expect("error.log", c.errorLog);
        expect("piped.log", c.pipedLog);
        expect("breakage.log", c.breakageLog);
    }
}

}  // namespace
}  // namespace hx

// The error log's lines on an already open target (nothing here touches
// descriptor 2; opening the log is tested in tests/http_fork): the layout and
// its time stamp, the format letters, multi-line writing, the system-log
// setting, and cycling a file target.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "http/errorlog.h"
#include "support/errorlog_lines.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr std::time_t kSecond = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr char kStamp[] = "2023-11-14 22:13:20";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        if (zone != nullptr) {
            savedZone_ = zone;
        }
        hadZone_ = zone != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
        srv_ = server_init();
        srv_->cur_ts = kSecond;
        path_ = env_.root() / "error.log";
        buffer_copy_string(srv_->srvconf.errorlog_file, path_.c_str());
        srv_->errorlog_mode = ERRORLOG_FILE;
        srv_->errorlog_fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        ASSERT_GE(srv_->errorlog_fd, 0);
    }
    void TearDown() override {
        log_error_close(srv_);
        server_free(srv_);
        if (hadZone_) {
            setenv("TZ", savedZone_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::string Log() const { return ReadFile(path_); }

    test::TestEnvironment env_;
    std::filesystem::path path_;
    server* srv_ = nullptr;
    std::string savedZone_;
    bool hadZone_ = false;
};

TEST_F(ErrorLogTest, FormatLettersAfterTheStampedPrefix) {
    buffer* first = buffer_init_string("x");
    buffer* second = buffer_init_string("y");
    buffer* empty = buffer_init();
    struct Case {
        const char* name;
        std::function<void(server*)> write;
        std::string arguments;
    };
    const Case cases[] = {
        {"sdS", [](server* s) { log_error_write(s, "mod.c", 12, "sdS", "a", 7, "b"); }, "a 7 b"},
        {"bB", [&](server* s) { log_error_write(s, "mod.c", 12, "bB", first, second); }, "x y"},
        {"empty buffer", [&](server* s) { log_error_write(s, "mod.c", 12, "bS", empty, "z"); }, " z"},
        {"dD", [](server* s) { log_error_write(s, "mod.c", 12, "dD", -5, 3); }, "-5 3"},
        {"oO",
         [](server* s) {
             const http_off_t lowest = -2147483647 - 1;
             log_error_write(s, "mod.c", 12, "oO", lowest, static_cast<http_off_t>(1));
         },
         "-2147483648 1"},
        {"xX", [](server* s) { log_error_write(s, "mod.c", 12, "xX", 255, 16); }, "0xff 0x10"},
        {"punctuation", [](server* s) { log_error_write(s, "mod.c", 12, "S (),<> S", "[", "]"); }, "[ (),<> ]"},
        {"unknown letters take nothing", [](server* s) { log_error_write(s, "mod.c", 12, "s?qS", "a", "b"); },
         "a b"},
        {"no letters", [](server* s) { log_error_write(s, "mod.c", 12, ""); }, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ftruncate(srv_->errorlog_fd, 0), 0);
        c.write(srv_);
        EXPECT_EQ(Log(), std::string(kStamp) + ": (mod.c.12) " + c.arguments + "\n") << c.name;
    }
    buffer_free(first);
    buffer_free(second);
    buffer_free(empty);
}

TEST_F(ErrorLogTest, StampFollowsTheServersSecond) {
    log_error_write(srv_, "a.c", 1, "S", "one");
    srv_->cur_ts = kSecond + 61;
    log_error_write(srv_, "a.c", 2, "S", "two");
    EXPECT_EQ(Log(), std::string(kStamp) + ": (a.c.1) one\n2023-11-14 22:14:21: (a.c.2) two\n");
}

TEST_F(ErrorLogTest, DroppedWithoutDescriptorAndUnderSystemLog) {
    const int fd = srv_->errorlog_fd;
    srv_->errorlog_fd = -1;
    log_error_write(srv_, "a.c", 1, "s", "dropped");
    srv_->errorlog_fd = fd;
    srv_->errorlog_mode = ERRORLOG_SYSLOG;
    log_error_write(srv_, "a.c", 1, "s", "built, never written");
    buffer* lines = buffer_init_string("one\ntwo");
    log_error_write_multiline_buffer(srv_, "a.c", 1, lines, "s", "neither");
    buffer_free(lines);
    EXPECT_EQ(Log(), "");
    srv_->errorlog_mode = ERRORLOG_FILE;
}

TEST_F(ErrorLogTest, MultilineWritesEachNonEmptyLineAfterTheSamePrefix) {
    buffer* lines = buffer_init();
    static constexpr char kText[] = "one\ntwo\r\n\r\0three\n";  // a NUL inside
    buffer_copy_string_len(lines, kText, sizeof(kText) - 1);
    log_error_write_multiline_buffer(srv_, "m.c", 9, lines, "sD", "hdr:", 4);
    const std::string prefix = std::string(kStamp) + ": (m.c.9) hdr: 4";
    EXPECT_EQ(Log(), prefix + "one\n" + prefix + "two\n" + prefix + "three\n");

    ASSERT_EQ(ftruncate(srv_->errorlog_fd, 0), 0);
    buffer* empty = buffer_init();
    log_error_write_multiline_buffer(srv_, "m.c", 9, empty, "s", "x");
    buffer_copy_string(empty, "");
    log_error_write_multiline_buffer(srv_, "m.c", 9, empty, "s", "x");
    EXPECT_EQ(Log(), "");
    // The scratch line does not leak into the next one.
    log_error_write(srv_, "m.c", 10, "S", "after");
    EXPECT_EQ(Log(), std::string(kStamp) + ": (m.c.10) after\n");
    buffer_free(empty);
    buffer_free(lines);
}

TEST_F(ErrorLogTest, FailedCycleSilencesTheLogUntilTheNextGoodOne) {
    log_error_write(srv_, "a.c", 1, "S", "before");
    ASSERT_EQ(log_error_cycle(srv_), 0);  // reopens the same file
    log_error_write(srv_, "a.c", 2, "S", "after first cycle");

    // The file is moved away and a folder takes its name: the next cycle
    // cannot open it.
    const std::filesystem::path rotated = env_.root() / "error.log.1";
    std::filesystem::rename(path_, rotated);
    std::filesystem::create_directory(path_);
    EXPECT_EQ(log_error_cycle(srv_), 0);
    EXPECT_EQ(srv_->errorlog_fd, -1);
    log_error_write(srv_, "a.c", 3, "S", "silenced");

    std::filesystem::remove(path_);
    EXPECT_EQ(log_error_cycle(srv_), 0);
    log_error_write(srv_, "a.c", 4, "S", "back");

    const std::string stamp(kStamp);
    EXPECT_EQ(test::WithoutOwnLineNumbers(ReadFile(rotated)),
              stamp + ": (a.c.1) before\n" + stamp + ": (a.c.2) after first cycle\n" + stamp +
                  ": (errorlog.cpp.N) cycling errorlog '" + path_.string() +
                  "' failed: Is a directory, falling back to syslog()\n");
    EXPECT_EQ(Log(), stamp + ": (a.c.4) back\n");
}

TEST_F(ErrorLogTest, CycleLeavesOtherTargetsAlone) {
    for (errorlog_mode_t mode : {ERRORLOG_FD, ERRORLOG_PIPE, ERRORLOG_SYSLOG}) {
        const int fd = srv_->errorlog_fd;
        srv_->errorlog_mode = mode;
        buffer_copy_string(srv_->srvconf.errorlog_file, (env_.root() / "missing" / "x.log").c_str());
        EXPECT_EQ(log_error_cycle(srv_), 0);
        EXPECT_EQ(srv_->errorlog_fd, fd) << mode;
    }
    srv_->errorlog_mode = ERRORLOG_FILE;
    EXPECT_EQ(Log(), "");
}

TEST_F(ErrorLogTest, CloseKeepsDescriptorTwoOpen) {
    log_error_close(srv_);
    EXPECT_EQ(srv_->errorlog_fd, -1);
    srv_->errorlog_mode = ERRORLOG_FD;
    srv_->errorlog_fd = STDERR_FILENO;
    log_error_close(srv_);
    EXPECT_EQ(srv_->errorlog_fd, -1);
    EXPECT_NE(fcntl(STDERR_FILENO, F_GETFD), -1);
}

TEST_F(ErrorLogTest, UnopenableFileIsLoggedAndFails) {
    const std::string missing = (env_.root() / "missing" / "x.log").string();
    EXPECT_EQ(open_logfile_or_pipe(srv_, missing.c_str()), -1);
    EXPECT_EQ(test::WithoutOwnLineNumbers(Log()),
              std::string(kStamp) + ": (errorlog.cpp.N) opening errorlog '" + missing +
                  "' failed: No such file or directory\n");
}

}  // namespace
}  // namespace hx

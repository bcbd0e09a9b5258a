#include "support/test_env.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/command_runner.h"
#include "sim/sim_board.h"

namespace hx::test {

void RecordingSyslog::Open(const char* ident) {
    std::lock_guard lock(mutex_);
    ident_ = ident;
}

void RecordingSyslog::Write(int priority, const std::string& text) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(priority, text);
}

void RecordingSyslog::Close() {}

std::vector<std::pair<int, std::string>> RecordingSyslog::Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string RecordingSyslog::Ident() {
    std::lock_guard lock(mutex_);
    return ident_;
}

TestEnvironment::TestEnvironment(bool prepare) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    SetProfile(SimProfile(root_));
    sim::SimBoard_Install();
    if (prepare) {
        PrepareDataRoot();
    }
    // Single-threaded code only needs its waits to add up; tests that hold a
    // thread at a sleep switch the clock to blocking mode.
    clock_.SetAutoAdvance(true);
    SetClock(&clock_);
    Log_ResetForTest();
    Log_SetSyslogSink(&syslog_);
    Log_SetConsoleSink([this](std::string_view text) {
        std::lock_guard lock(consoleMutex_);
        console_.append(text);
    });
    Command_ClearRecorded();
    Command_ClearSimHandlers();
}

TestEnvironment::~TestEnvironment() {
    if (checkErrors_) {
        for (const std::string& line : UnexpectedErrors()) {
            ADD_FAILURE() << "unexpected ERROR line: " << line;
        }
    }
    Log_ResetForTest();
    Log_SetConsoleSink({});
    Log_SetSyslogSink(nullptr);
    SetClock(nullptr);
    Command_ClearRecorded();
    Command_ClearSimHandlers();
    sim::SimBoard_Uninstall();
    SetProfile(CardProfile());
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void TestEnvironment::FailOnUnexpectedErrors(std::initializer_list<std::string_view> expected) {
    checkErrors_ = true;
    for (std::string_view text : expected) {
        // An empty text would match every line and switch the check off.
        if (!text.empty()) {
            expectedErrors_.emplace_back(text);
        }
    }
}

std::vector<std::string> TestEnvironment::UnexpectedErrors() {
    // The console shows "[ERROR][MODULE]text"; the syslog gets "[MODULE]text"
    // at LOG_ERR. A line seen on both is reported once.
    std::vector<std::string> lines;
    std::istringstream console(Console());
    for (std::string line; std::getline(console, line);) {
        if (const std::size_t at = line.find("[ERROR]["); at != std::string::npos) {
            lines.push_back(line.substr(at + 7));
        }
    }
    for (const auto& [priority, text] : syslog_.Lines()) {
        if (priority == LOG_ERR) {
            lines.push_back(text);
        }
    }
    std::vector<std::string> unexpected;
    for (std::string& line : lines) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        const bool known = std::any_of(expectedErrors_.begin(), expectedErrors_.end(), [&](const std::string& text) {
            return line.find(text) != std::string::npos;
        });
        if (!known && std::find(unexpected.begin(), unexpected.end(), line) == unexpected.end()) {
            unexpected.push_back(line);
        }
    }
    return unexpected;
}

std::string TestEnvironment::Console() {
    std::lock_guard lock(consoleMutex_);
    return console_;
}

std::string TestEnvironment::TakeConsole() {
    std::lock_guard lock(consoleMutex_);
    return std::exchange(console_, {});
}

std::string TestEnvironment::ReadText(const std::string& logical) const {
    std::ifstream in(ResolvePath(logical), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TestEnvironment::WriteText(const std::string& logical, const std::string& text) const {
    const std::filesystem::path path = ResolvePath(logical);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace hx::test

#include "support/test_env.h"

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

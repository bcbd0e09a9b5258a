// Test environment: a fresh simulated board in a temporary data root.
//
// TestEnvironment sets a sim run profile rooted in a new temporary folder
// (with the folders a fresh card has), the simulated board on the platform's
// seams (sim/sim_board.h), a virtual clock in auto-advance mode, a console
// sink that keeps what was printed, a syslog sink that keeps what was sent,
// and a clean log module; its destructor puts everything back and removes the
// folder.
//
// Opt-in (FailOnUnexpectedErrors): when the environment ends, every ERROR
// line the console or the syslog received must contain one of the texts the
// test said it expects; any other line fails the running test. So a fixture
// that passes while the code under it logs a failure (a register window that
// is not there, a file that cannot be written) no longer passes silently.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx::test {

class RecordingSyslog final : public SyslogSink {
public:
    void Open(const char* ident) override;
    void Write(int priority, const std::string& text) override;
    void Close() override;
    std::vector<std::pair<int, std::string>> Lines();
    std::string Ident();

private:
    std::mutex mutex_;
    std::string ident_;
    std::vector<std::pair<int, std::string>> lines_;
};

class TestEnvironment {
public:
    // `prepare`: create the card's folders (false leaves the root empty).
    explicit TestEnvironment(bool prepare = true);
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::string Path(const std::string& logical) const { return ResolvePath(logical); }
    VirtualClock& clock() { return clock_; }
    RecordingSyslog& syslog() { return syslog_; }
    // Everything printed on the console since the start (or the last Take).
    std::string Console();
    std::string TakeConsole();
    // Turns the ERROR-line check on and adds texts (substrings) that ERROR
    // lines may contain (an empty text is ignored); callable again to add more.
    void FailOnUnexpectedErrors(std::initializer_list<std::string_view> expected = {});
    // The ERROR lines so far that none of the expected texts matches.
    std::vector<std::string> UnexpectedErrors();
    // Reads a file of the data root ("" when missing).
    std::string ReadText(const std::string& logical) const;
    void WriteText(const std::string& logical, const std::string& text) const;

private:
    std::filesystem::path root_;
    VirtualClock clock_;
    RecordingSyslog syslog_;
    std::mutex consoleMutex_;
    std::string console_;
    bool checkErrors_ = false;
    std::vector<std::string> expectedErrors_;
};

}  // namespace hx::test

// Every command the runner is given for the programs named, in order, as
// Command_Text shows it: those the simulated board runs for real (file tools)
// as well as those it only records. The trace claims each program for a
// moment and then hands the command on, so what happens to it is unchanged.
//
// For commands run by one thread at a time (the upgrade's, in the test's
// thread or the inter-board server's); the list itself is locked.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace hx::test {

class CommandTrace {
public:
    explicit CommandTrace(std::vector<std::string> programs);
    ~CommandTrace();
    CommandTrace(const CommandTrace&) = delete;
    CommandTrace& operator=(const CommandTrace&) = delete;

    // The commands so far, oldest first; taking clears them.
    std::vector<std::string> Take();

private:
    void Claim(const std::string& program);

    std::vector<std::string> programs_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
};

}  // namespace hx::test

// Runs the programs of the project as processes, as a user would.
//
// ChildProgram starts one with its standard output and error on one pipe and
// reads them; every wait has a real-time limit, and a program still running
// when its object goes away is killed by its process id and reaped, so a
// program that hangs fails its test instead of holding it until the test
// runner's time limit.
//
// RunProgramOnce runs the card program once through its start-up on the
// simulated board in a test's data root. Several test programs do this at the
// same time, so each run holds an inter-board port of its own until the card's
// server takes it (the card and its simulated peers all listen on it) and lets
// the other servers pick any. The simulated back board's inter-board server
// runs in the test process for the length of the run, so the card's
// announcement is answered.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/test_env.h"

namespace hx::test {

class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Starts `argv[0]` (a path, or a tool found on PATH) with the rest as its
    // arguments; a thread of this object reads its output from then on, so a
    // talkative program never blocks on a full pipe. False when it could not
    // be started (Output() says why). `environment` holds "NAME=value"
    // entries that replace or add to this process's environment for the child.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});
    // Waits until `text` appears in the output at or after `from` (true), or
    // the program closes its output or `limit` passes (false).
    bool WaitForOutput(std::string_view text, std::chrono::milliseconds limit, std::size_t from = 0);
    // Waits for the program to end and reaps it; past `limit` it is killed
    // first. Its exit status, -1 when it did not exit by itself.
    int WaitForExit(std::chrono::milliseconds limit);
    // Asks it to end (SIGTERM), then WaitForExit.
    int Stop(std::chrono::milliseconds limit);
    // Everything read so far.
    std::string Output() const;
    // The running program's process id (for signals), -1 once reaped.
    pid_t pid() const { return pid_; }

private:
    void Read(int fd);
    void Kill();

    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool closed_ = false;
};

// How long a program run may take before it counts as hung.
inline constexpr std::chrono::seconds kProgramRunLimit{120};

// How many times faster than real time the program runs its fixed waits
// (--sim-speed-up) unless a test asks for real time.
inline constexpr unsigned kProgramSpeedUp = 100;

// Output (standard output and error) of `binary --once` in `env`'s data root;
// `status` gets the exit status, -1 when it did not exit normally (or could
// not be started: the output then says why). `speedUp` 1 runs the card's
// waits in real time.
std::string RunProgramOnce(const std::string& binary, const TestEnvironment& env, int& status,
                           const std::vector<std::string>& extraOptions = {}, unsigned speedUp = kProgramSpeedUp);

}  // namespace hx::test

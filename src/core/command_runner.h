// Command runner: the one way the card application runs a shell tool.
//
// Commands are argument vectors, never shell text, so a name or address that
// came from a peer, a file or a request cannot be reinterpreted by a shell. On
// the card every command runs for real. On the simulated board:
//   - commands that would change the host (addresses, routes, clock, reboot,
//     mounts, process control, SSH service, FTP transfers, iperf3) are recorded
//     in order, in memory and appended to "sim/commands.log" under the data
//     root, and are not run (a simulated peer that performs one, as the back
//     board's FTP service does, records it too: Command_Record);
//   - file tools (tar, cp, mv, rm, rmdir, mkdir, ln, chmod, touch, ls) run for
//     real, with every absolute path argument resolved under the data root,
//     relative ones taken in the working directory, and any path that would
//     leave the data root refused;
//   - a simulated device may claim a command (for example the GPIO model takes
//     "echo N > /sys/class/gpio/export") through SetSimHandler;
//   - anything else is recorded and not run.
//
// A command runs in its own working directory when it names one, else in the
// card application's (on the simulated board: the data root). The process
// itself never changes directory: threads share it, and a command started by
// one thread must not move another's relative paths.
//
// A command that runs for real gets only standard input, output and error of
// the card application: every other descriptor it would inherit is closed in
// the child. A command with a time limit runs in a process group of its own,
// which is killed (SIGKILL) when the limit passes.
//
// Called from any thread; the record and the handler table sit behind one
// internal mutex, which is not held while a command runs.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hx {

struct Command {
    std::vector<std::string> argv;
    // When set, the command's standard output goes to this (logical) file, as
    // "argv > file" would in a shell.
    std::optional<std::string> stdoutFile;
    // When set, the command and everything it started are killed once it has
    // run this long.
    std::optional<std::chrono::milliseconds> timeLimit = std::nullopt;
    // When set, the (logical) folder the command runs in, as "cd dir && argv"
    // would; relative paths among its arguments are taken there. The folder
    // must exist, else the command does not start.
    std::optional<std::string> workingDirectory = std::nullopt;
};

struct CommandResult {
    int status = 0;          // exit status; -1 when it could not be started, was refused or was killed
    bool executed = false;   // false when only recorded (sim) or refused
    std::string output;      // standard output, when captured
    bool timedOut = false;   // killed at its time limit
};

// The text a shell would have been given: each argument quoted where needed.
std::string Command_Text(const Command& command);

// Runs the command and waits for it. Output is not captured.
CommandResult Command_Run(const Command& command);
// Runs the command and captures its standard output (at most `limit` bytes).
CommandResult Command_Capture(const Command& command, std::size_t limit = 65536);

// Convenience: Command_Run({argv}).status.
int Command_Run(std::vector<std::string> argv);

// Simulated devices that answer a command in place of the host.
using SimCommandHandler = std::function<CommandResult(const Command&)>;
void Command_SetSimHandler(const std::string& program, SimCommandHandler handler);
void Command_ClearSimHandlers();

// Adds the command to the record (and "sim/commands.log"), as the simulated
// board does for a host command it does not run; for simulated peers that
// perform such a command, so the record stays complete.
void Command_Record(const Command& command);

// What the simulated board recorded instead of running, oldest first.
std::vector<std::string> Command_Recorded();
void Command_ClearRecorded();

}  // namespace hx

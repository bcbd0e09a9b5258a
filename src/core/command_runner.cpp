#include "core/command_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "core/run_profile.h"

extern char** environ;

namespace hx {

namespace {

// Tools whose only effect is on files: they run for real, inside the data root.
const std::set<std::string> kFileTools = {"tar", "cp", "mv", "rm", "rmdir", "mkdir", "ln", "chmod", "touch", "ls"};

std::mutex g_mutex;
std::vector<std::string> g_recorded;
std::map<std::string, SimCommandHandler> g_handlers;

bool NeedsQuoting(const std::string& word) {
    if (word.empty()) {
        return true;
    }
    return !std::all_of(word.begin(), word.end(), [](unsigned char c) {
        return std::isalnum(c) || std::string_view("@%+=:,./_-").find(static_cast<char>(c)) != std::string_view::npos;
    });
}

std::string Quote(const std::string& word) {
    if (!NeedsQuoting(word)) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string BaseName(const std::string& program) {
    const auto slash = program.rfind('/');
    return slash == std::string::npos ? program : program.substr(slash + 1);
}

void RecordText(const Command& command) {
    const std::string text = Command_Text(command);
    std::lock_guard lock(g_mutex);
    g_recorded.push_back(text);
    const std::string logPath = ResolvePath("/sim/commands.log");
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ignored);
    std::ofstream(logPath, std::ios::app) << text << '\n';
}

// Maps the absolute paths of a file tool's arguments into the data root, and
// its working directory too. Returns false when an argument would reach
// outside it.
bool ConfineToDataRoot(Command& command) {
    std::filesystem::path workDir = Profile().dataRoot;
    if (command.workingDirectory) {
        workDir = std::filesystem::path(ResolvePath(*command.workingDirectory)).lexically_normal();
        if (!IsInsideDataRoot(workDir)) {
            return false;
        }
        command.workingDirectory = workDir.string();
    }
    for (std::size_t i = 1; i < command.argv.size(); ++i) {
        std::string& arg = command.argv[i];
        if (arg.empty() || arg.front() == '-') {
            continue;
        }
        // Relative words (modes, archive members, paths below the working
        // directory) stay as they are, unless they climb out of the data root.
        if (arg.front() != '/') {
            if (!IsInsideDataRoot(workDir / arg)) {
                return false;
            }
            continue;
        }
        const std::filesystem::path real = std::filesystem::path(ResolvePath(arg)).lexically_normal();
        if (!IsInsideDataRoot(real)) {
            return false;
        }
        arg = real.string();
    }
    if (command.stdoutFile) {
        command.stdoutFile = command.stdoutFile->front() == '/' ? ResolvePath(*command.stdoutFile)
                                                                : (workDir / *command.stdoutFile).string();
        if (!IsInsideDataRoot(*command.stdoutFile)) {
            return false;
        }
    }
    return true;
}

// How often a command with a time limit is looked at while it runs.
constexpr int kDeadlinePollMillis = 10;

void AppendOutput(CommandResult& result, const char* data, std::size_t size, std::size_t limit) {
    if (result.output.size() < limit) {
        result.output.append(data, std::min(size, limit - result.output.size()));
    }
}

// Reads the child's output to its end (when capturing) and reaps it. With a
// deadline, the child's process group is killed once it passes.
void Finish(pid_t pid, int outputFd, std::size_t limit,
            std::optional<std::chrono::steady_clock::time_point> deadline, CommandResult& result) {
    auto expired = [&] { return deadline && std::chrono::steady_clock::now() >= *deadline; };
    // The output ends when the child, and whatever it started, let go of it.
    std::array<char, 4096> chunk{};
    while (outputFd >= 0 && !expired()) {
        pollfd watched{outputFd, POLLIN, 0};
        if (poll(&watched, 1, deadline ? kDeadlinePollMillis : -1) <= 0) {
            continue;
        }
        const ssize_t got = read(outputFd, chunk.data(), chunk.size());
        if (got > 0) {
            AppendOutput(result, chunk.data(), static_cast<std::size_t>(got), limit);
        } else if (got == 0 || errno != EINTR) {
            close(outputFd);
            outputFd = -1;
        }
    }
    if (outputFd >= 0) {
        close(outputFd);
    }
    int status = 0;
    bool reaped = false;
    if (deadline) {
        while (!(reaped = waitpid(pid, &status, WNOHANG) == pid) && !expired()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kDeadlinePollMillis));
        }
        if (!reaped) {
            kill(-pid, SIGKILL);
            result.timedOut = true;
        }
    }
    if (!reaped) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    result.executed = true;
    result.status = !result.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `workDir` is a real path (already resolved); empty keeps the caller's.
CommandResult Spawn(const Command& command, bool capture, std::size_t limit, const std::string& workDir) {
    CommandResult result;
    result.status = -1;
    if (command.argv.empty()) {
        return result;
    }
    std::vector<char*> argv;
    for (const std::string& arg : command.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::array<int, 2> pipeFds{-1, -1};
    if (capture) {
        if (pipe2(pipeFds.data(), O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return result;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    } else if (command.stdoutFile) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, command.stdoutFile->c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    // Whatever another thread has open (sockets, settings files being
    // written) is none of the command's business, close-on-exec or not.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (command.timeLimit) {
        // Its own group, so the kill at the deadline reaches what it started.
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (command.timeLimit) {
        deadline = std::chrono::steady_clock::now() + *command.timeLimit;
    }
    pid_t pid = -1;
    const int spawnError = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (capture) {
        close(pipeFds[1]);
    }
    if (spawnError != 0) {
        if (capture) {
            close(pipeFds[0]);
        }
        return result;
    }
    Finish(pid, capture ? pipeFds[0] : -1, limit, deadline, result);
    return result;
}

CommandResult Execute(const Command& command, bool capture, std::size_t limit) {
    if (command.argv.empty()) {
        return CommandResult{-1, false, {}};
    }
    if (Profile().backend == HardwareBackend::Card) {
        return Spawn(command, capture, limit,
                     command.workingDirectory ? ResolvePath(*command.workingDirectory) : std::string());
    }
    const std::string program = BaseName(command.argv.front());
    SimCommandHandler handler;
    {
        std::lock_guard lock(g_mutex);
        if (auto it = g_handlers.find(program); it != g_handlers.end()) {
            handler = it->second;
        }
    }
    if (handler) {
        return handler(command);
    }
    if (kFileTools.count(program) != 0) {
        Command confined = command;
        if (!ConfineToDataRoot(confined)) {
            RecordText(command);
            return CommandResult{-1, false, {}};
        }
        return Spawn(confined, capture, limit, confined.workingDirectory.value_or(Profile().dataRoot.string()));
    }
    RecordText(command);
    return CommandResult{0, false, {}};
}

}  // namespace

std::string Command_Text(const Command& command) {
    std::string text;
    for (const std::string& arg : command.argv) {
        if (!text.empty()) {
            text += ' ';
        }
        text += Quote(arg);
    }
    if (command.stdoutFile) {
        text += " > " + Quote(*command.stdoutFile);
    }
    return text;
}

CommandResult Command_Run(const Command& command) { return Execute(command, false, 0); }

CommandResult Command_Capture(const Command& command, std::size_t limit) { return Execute(command, true, limit); }

int Command_Run(std::vector<std::string> argv) { return Command_Run(Command{std::move(argv), std::nullopt}).status; }

void Command_SetSimHandler(const std::string& program, SimCommandHandler handler) {
    std::lock_guard lock(g_mutex);
    g_handlers[program] = std::move(handler);
}

void Command_ClearSimHandlers() {
    std::lock_guard lock(g_mutex);
    g_handlers.clear();
}

void Command_Record(const Command& command) { RecordText(command); }

std::vector<std::string> Command_Recorded() {
    std::lock_guard lock(g_mutex);
    return g_recorded;
}

void Command_ClearRecorded() {
    std::lock_guard lock(g_mutex);
    g_recorded.clear();
}

}  // namespace hx

#include "core/command_runner.h"

#include <fcntl.h>
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

#include "core/run_profile.h"

extern char** environ;

namespace hx {

namespace {

// Tools whose only effect is on files: they run for real, inside the data root.
const std::set<std::string> kFileTools = {"tar", "cp", "mv", "rm", "mkdir", "ln", "chmod", "touch"};

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

void Record(const Command& command) {
    const std::string text = Command_Text(command);
    std::lock_guard lock(g_mutex);
    g_recorded.push_back(text);
    const std::string logPath = ResolvePath("/sim/commands.log");
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ignored);
    std::ofstream(logPath, std::ios::app) << text << '\n';
}

// Maps the absolute paths of a file tool's arguments into the data root.
// Returns false when an argument would reach outside it.
bool ConfineToDataRoot(Command& command) {
    for (std::size_t i = 1; i < command.argv.size(); ++i) {
        std::string& arg = command.argv[i];
        if (arg.empty() || arg.front() == '-') {
            continue;
        }
        // Relative words (modes, archive members, paths below the working
        // directory, which is the data root) stay as they are, unless they climb out.
        if (arg.front() != '/') {
            if (!IsInsideDataRoot(Profile().dataRoot / arg)) {
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
        command.stdoutFile = ResolvePath(*command.stdoutFile);
        if (!IsInsideDataRoot(*command.stdoutFile)) {
            return false;
        }
    }
    return true;
}

CommandResult Spawn(const Command& command, bool capture, std::size_t limit, bool inDataRoot) {
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
    const std::string workDir = Profile().dataRoot.string();
    if (inDataRoot) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    pid_t pid = -1;
    const int spawnError = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
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
    if (capture) {
        std::array<char, 4096> chunk{};
        ssize_t got = 0;
        while ((got = read(pipeFds[0], chunk.data(), chunk.size())) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0 && result.output.size() < limit) {
                result.output.append(chunk.data(), std::min<std::size_t>(static_cast<std::size_t>(got), limit - result.output.size()));
            }
        }
        close(pipeFds[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.executed = true;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CommandResult Execute(const Command& command, bool capture, std::size_t limit) {
    if (command.argv.empty()) {
        return CommandResult{-1, false, {}};
    }
    if (Profile().backend == HardwareBackend::Card) {
        return Spawn(command, capture, limit, false);
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
            Record(command);
            return CommandResult{-1, false, {}};
        }
        return Spawn(confined, capture, limit, true);
    }
    Record(command);
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

std::vector<std::string> Command_Recorded() {
    std::lock_guard lock(g_mutex);
    return g_recorded;
}

void Command_ClearRecorded() {
    std::lock_guard lock(g_mutex);
    g_recorded.clear();
}

}  // namespace hx

#include "support/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "sim/chassis/sim_chassis.h"

extern char** environ;

namespace hx::test {

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        Kill();
        WaitForExit(std::chrono::seconds(10));
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

namespace {

// This process's environment with `overrides` ("NAME=value") put in.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> entries;
    auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                          [&](const std::string& override) { return name(override) == name(text); });
        if (!replaced) {
            entries.push_back(text);
        }
    }
    entries.insert(entries.end(), overrides.begin(), overrides.end());
    return entries;
}

}  // namespace

bool ChildProgram::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    int pipeEnds[2];
    if (argv.empty() || pid_ > 0 || reader_.joinable() || pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    std::vector<char*> arguments;
    for (const std::string& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    const std::vector<std::string> entries = ChildEnvironment(environment);
    std::vector<char*> childEnvironment;
    for (const std::string& entry : entries) {
        childEnvironment.push_back(const_cast<char*>(entry.c_str()));
    }
    childEnvironment.push_back(nullptr);
    const int result = posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, arguments.data(), childEnvironment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (result != 0) {
        pid_ = -1;
        close(pipeEnds[0]);
        std::lock_guard lock(mutex_);
        output_ = argv[0] + ": cannot be started: " + std::strerror(result) + "\n";
        closed_ = true;
        return false;
    }
    reader_ = std::thread([this, fd = pipeEnds[0]] { Read(fd); });
    return true;
}

void ChildProgram::Read(int fd) {
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        std::lock_guard lock(mutex_);
        if (got <= 0) {
            closed_ = true;
            changed_.notify_all();
            break;
        }
        output_.append(chunk.data(), static_cast<std::size_t>(got));
        changed_.notify_all();
    }
    close(fd);
}

bool ChildProgram::WaitForOutput(std::string_view text, std::chrono::milliseconds limit, std::size_t from) {
    std::unique_lock lock(mutex_);
    bool found = false;
    changed_.wait_for(lock, limit, [&] {
        found = output_.find(text, std::min(from, output_.size())) != std::string::npos;
        return found || closed_;
    });
    return found;
}

int ChildProgram::WaitForExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool closed = false;
    {
        std::unique_lock lock(mutex_);
        closed = changed_.wait_until(lock, deadline, [&] { return closed_; });
    }
    int raw = 0;
    pid_t reaped = 0;
    // Output closed: the program is ending; it gets what is left of the limit.
    while (closed && (reaped = waitpid(pid_, &raw, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        usleep(10'000);
    }
    const bool hung = reaped == 0;
    if (hung) {
        Kill();
        do {
            reaped = waitpid(pid_, &raw, 0);
        } while (reaped < 0 && errno == EINTR);
    }
    pid_ = -1;
    if (reader_.joinable()) {
        reader_.join();
    }
    if (hung) {
        std::lock_guard lock(mutex_);
        output_ += "\n[killed: still running after " + std::to_string(limit.count()) + " ms]\n";
    }
    return !hung && reaped > 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

int ChildProgram::Stop(std::chrono::milliseconds limit) {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
    }
    return WaitForExit(limit);
}

std::string ChildProgram::Output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

void ChildProgram::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
    }
}

std::string RunProgramOnce(const std::string& binary, const TestEnvironment& env, int& status,
                           const std::vector<std::string>& extraOptions, unsigned speedUp) {
    status = -1;
    // The card's inter-board port, held from here until the card's server
    // binds it; the back board's inter-board side (chassis-sim's part in a PC
    // run) listens on it at its own address, for the card's announcement.
    SimPortHold port;
    // The web server's port, held the same way: programs run side by side.
    SimPortHold httpPort;
    SimChassis backBoard;
    if (port.port() == 0 || httpPort.port() == 0 || !backBoard.Start({16}, port.port())) {
        return "no inter-board port for the simulated back board\n";
    }
    std::vector<std::string> argv = {binary,
                                     "--data-root",
                                     env.root().string(),
                                     "--once",
                                     "--inter-board-port",
                                     std::to_string(port.port()),
                                     "--http-port",
                                     std::to_string(httpPort.port()),
                                     "--nms-port",
                                     "0",
                                     "--snmp-port",
                                     "0",
                                     "--sim-speed-up",
                                     std::to_string(speedUp)};
    argv.insert(argv.end(), extraOptions.begin(), extraOptions.end());
    ChildProgram program;
    if (!program.Start(argv)) {
        return program.Output();
    }
    status = program.WaitForExit(kProgramRunLimit);
    return program.Output();
}

}  // namespace hx::test

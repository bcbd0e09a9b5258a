#include "support/tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include <gtest/gtest.h>

extern char** environ;

namespace hx::test {

ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {binary};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    ToolRun run;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        ADD_FAILURE() << "cannot start " << argv[0];
        return run;
    }
    std::array<char, 4096> chunk{};
    for (ssize_t got; (got = read(pipeFds[0], chunk.data(), chunk.size())) > 0;) {
        run.output.append(chunk.data(), static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    int raw = 0;
    waitpid(child, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

}  // namespace hx::test

// Running a piece of a test in a forked child process, for what must not
// happen to the test program itself (a crash at a chosen point, a lowered
// descriptor limit). Fork only from a program with no other thread.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace hx::test {

// The child's exit status (what `body` returned), or -1 when it did not exit
// normally (killed by a signal, an alarm included).
inline int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace hx::test

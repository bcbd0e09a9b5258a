// Running a command for `include_shell`: three pipes, a forked shell, and the
// reading of its output. The child does only async-signal-safe work between
// fork and exec, since other threads of the card application may hold the
// allocator's or stdio's locks at the moment of the fork.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "http/config_file.h"

namespace hx {

namespace {

// Writes every byte, or reports failure.
bool write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

void child_report(const char* a, const char* b, const char* c, const char* d) {
    for (const char* part : {a, b, c, d}) {
        if (part != nullptr) {
            write_all(2, part, std::strlen(part));
        }
    }
}

// One read of at most 511 bytes with 512 free bytes prepared and a NUL kept
// after the data; `used` counts the bytes read. Returns what read returned.
ssize_t read_block(int fd, buffer* b) {
    buffer_prepare_append(b, 512);
    ssize_t count;
    do {
        count = ::read(fd, b->ptr + b->used, 511);
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
        b->used += static_cast<size_t>(count);
    }
    b->ptr[b->used] = '\0';
    return count;
}

pid_t wait_child(pid_t child, int* status) {
    pid_t result;
    do {
        result = ::waitpid(child, status, 0);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

int pipe_open(pipe_t* p, int fd) {
    int ends[2];
    // Close-on-exec, so a command another thread starts meanwhile does not
    // hold the pipe open; dup2 onto 0-2 in the child clears the flag there.
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        std::fputs("can't open pipe", stderr);
        return -1;
    }
    p->fd = fd;
    if (fd == 0) {
        p->parent = ends[1];
        p->child = ends[0];
    } else {
        p->parent = ends[0];
        p->child = ends[1];
    }
    return 0;
}

void pipe_close_parent(pipe_t* p) {
    if (p->parent >= 0) {
        ::close(p->parent);
        p->parent = -1;
    }
}

void pipe_close_child(pipe_t* p) {
    if (p->child >= 0) {
        ::close(p->child);
        p->child = -1;
    }
}

void pipe_close(pipe_t* p) {
    pipe_close_parent(p);
    pipe_close_child(p);
}

int proc_open_pipes(proc_handler_t* proc) {
    proc->in = {-1, -1, 0};
    proc->out = {-1, -1, 1};
    proc->err = {-1, -1, 2};
    if (pipe_open(&proc->in, 0) != 0) {
        return -1;
    }
    if (pipe_open(&proc->out, 1) != 0) {
        pipe_close(&proc->in);
        return -1;
    }
    if (pipe_open(&proc->err, 2) != 0) {
        pipe_close(&proc->in);
        pipe_close(&proc->out);
        return -1;
    }
    return 0;
}

void proc_close_pipes(proc_handler_t* proc) {
    pipe_close(&proc->in);
    pipe_close(&proc->out);
    pipe_close(&proc->err);
}

void proc_close_parents(proc_handler_t* proc) {
    pipe_close_parent(&proc->in);
    pipe_close_parent(&proc->out);
    pipe_close_parent(&proc->err);
}

void proc_close_childs(proc_handler_t* proc) {
    pipe_close_child(&proc->in);
    pipe_close_child(&proc->out);
    pipe_close_child(&proc->err);
}

int proc_open(proc_handler_t* proc, const char* command) {
    if (proc_open_pipes(proc) != 0) {
        return -1;
    }
    const char* shell = std::getenv("SHELL");
    if (shell == nullptr) {
        shell = "/bin/sh";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        for (pipe_t* p : {&proc->in, &proc->out, &proc->err}) {
            if (::dup2(p->child, p->fd) < 0) {
                child_report("pipe_child dup2: ", strerrordesc_np(errno), "\n", nullptr);
                ::_exit(127);
            }
        }
        for (pipe_t* p : {&proc->in, &proc->out, &proc->err}) {
            ::close(p->parent);
            if (p->child != p->fd) {
                ::close(p->child);
            }
        }
        ::execl(shell, shell, "-c", command, static_cast<char*>(nullptr));
        const int error = errno;
        child_report("failed to execute shell: ", shell, " -c ", command);
        child_report(": ", strerrordesc_np(error), "\n", nullptr);
        ::_exit(127);
    }
    proc_close_childs(proc);
    if (child < 0) {
        std::fputs("failed to forking", stderr);
        proc_close_pipes(proc);
        return -1;
    }
    proc->child = child;
    proc->in.fd = proc->in.parent;
    proc->out.fd = proc->out.parent;
    proc->err.fd = proc->err.parent;
    return 0;
}

int proc_close(proc_handler_t* proc) {
    proc_close_pipes(proc);
    int status = 0;
    if (wait_child(proc->child, &status) < 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : status;
}

int proc_read_fd_to_buffer(int fd, buffer* b) {
    while (read_block(fd, b) > 0) {
    }
    return 0;
}

int proc_open_buffer(const char* command, buffer* in, buffer* out, buffer* err) {
    proc_handler_t proc;
    if (proc_open(&proc, command) != 0) {
        return -1;
    }
    if (in != nullptr && in->used > 0 && !write_all(proc.in.fd, in->ptr, in->used)) {
        std::perror("error writing pipe");
        proc_close(&proc);
        return -1;
    }
    pipe_close_parent(&proc.in);
    // Output and error are read together: a command that fills the error
    // pipe before ending its output must not stall on us.
    buffer* discard = buffer_init();
    bool failed = false;
    pollfd fds[2] = {{proc.out.fd, POLLIN, 0}, {proc.err.fd, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (pollfd& entry : fds) {
            if (entry.fd < 0 || entry.revents == 0) {
                continue;
            }
            const bool is_out = entry.fd == proc.out.fd;
            buffer* target = is_out ? out : err;
            if (target == nullptr) {
                target = discard;
                target->used = 0;
            }
            const ssize_t count = read_block(entry.fd, target);
            if (count > 0 && !is_out && err == nullptr && !write_all(2, target->ptr, target->used)) {
                if (!failed) {
                    std::perror("error writing pipe");
                }
                failed = true;
            }
            if (count <= 0) {
                entry.fd = -1;
                --open;
            }
        }
    }
    buffer_free(discard);
    proc_close_parents(&proc);
    int status = 0;
    wait_child(proc.child, &status);
    return 0;
}

}  // namespace hx

// The HTTP server thread: start-up, the event loop one turn at a time, the
// signal handler and the exit path.
//
// The thread is one of the card application's threads, so everything it
// would change for a stand-alone server changes the whole card: resource
// limits, signal dispositions, the time locale and descriptor 2. Settings that
// would fork the card (worker processes), re-root it or drop its privileges
// are refused at start-up instead.
#include "http/webserver.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/clock.h"
#include "core/run_profile.h"
#include "http/config_keys.h"
#include "http/connections.h"
#include "http/errorlog.h"
#include "http/fdevent.h"
#include "http/network.h"
#include "http/plugin.h"
#include "http/stat_cache.h"
#include "http/webserver_loop.h"

namespace hx {

namespace {

constexpr const char* kTag = "server";

// The select back end's sets hold FD_SETSIZE descriptors; 200 stay free for
// the files a request opens beside its socket.
constexpr int kSelectMaxFds = FD_SETSIZE - 200;
constexpr int kDefaultMaxFds = 4096;
// An unlimited (or absurd) soft limit would size the event tables past any
// memory; the kernel's usual ceiling of open files is plenty.
constexpr rlim_t kMaxFdsCeiling = 1 << 20;
// Descriptors always kept free before waiting connections are resumed.
constexpr int kFdsReserve = 16;
// Seconds a closing connection lingers before it is closed for good.
constexpr std::time_t kCloseLingerSeconds = 5;

// Lock-free atomics: the signal handler stores them, other threads
// (webserver_shutdown, webserver_isServerClose) store and read them.
std::atomic<int> srv_shutdown{0};
std::atomic<int> graceful_shutdown{0};
std::atomic<int> handle_sig_hup{0};
std::atomic<int> forwarded_sig_hup{0};
std::atomic<int> handle_sig_alarm{1};
std::atomic<int> g_ServerFinished{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler stores these flags");

siginfo_t last_sigterm_info;
siginfo_t last_sighup_info;

const char* error_text(int error, char* scratch, size_t size) {
    return http_error_text(error, scratch, size);
}

int l_issetugid() {
    return geteuid() != getuid() || getegid() != getgid() ? 1 : 0;
}

// The pid file is removed on the way down unless a chroot would hide it
// (refused anyway) or it was never asked for; missing rights stay quiet.
void remove_pid_file(server* srv) {
    if (buffer_is_empty(srv->srvconf.pid_file) || !buffer_is_empty(srv->srvconf.changeroot)) {
        return;
    }
    if (unlink(srv->srvconf.pid_file->ptr) != 0 && errno != EACCES && errno != EPERM) {
        char scratch[128];
        log_error_write(srv, kTag, __LINE__, "sbds", "unlink failed for:", srv->srvconf.pid_file, errno,
                        error_text(errno, scratch, sizeof(scratch)));
    }
}

// Settings a stand-alone server applies to its own process; here they would
// apply to every thread of the card.
bool refuse_process_wide_settings(server* srv) {
    const server_config& conf = srv->srvconf;
    bool refused = false;
    if (conf.max_worker > 0) {
        log_error_write(srv, kTag, __LINE__, "sds", "server.max-worker =", static_cast<int>(conf.max_worker),
                        "is refused: worker processes would fork the whole card application. Going down.");
        refused = true;
    }
    if (!buffer_is_empty(conf.changeroot)) {
        log_error_write(srv, kTag, __LINE__, "sbs", "server.chroot =", conf.changeroot,
                        "is refused: it would change the root directory of the whole card application. Going down.");
        refused = true;
    }
    if (!buffer_is_empty(conf.username)) {
        log_error_write(srv, kTag, __LINE__, "sbs", "server.username =", conf.username,
                        "is refused: it would change the user of the whole card application. Going down.");
        refused = true;
    }
    if (!buffer_is_empty(conf.groupname)) {
        log_error_write(srv, kTag, __LINE__, "sbs", "server.groupname =", conf.groupname,
                        "is refused: it would change the group of the whole card application. Going down.");
        refused = true;
    }
    return refused;
}

// Opens the pid file when one is configured; -1 (logged) on failure, -2 when
// none is wanted.
int open_pid_file(server* srv) {
    if (buffer_is_empty(srv->srvconf.pid_file)) {
        return -2;
    }
    const char* path = srv->srvconf.pid_file->ptr;
    char scratch[128];
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1) {
        if (errno != EEXIST) {
            log_error_write(srv, kTag, __LINE__, "sbs", "opening pid-file failed:", srv->srvconf.pid_file,
                            error_text(errno, scratch, sizeof(scratch)));
            return -1;
        }
        struct stat st {};
        if (stat(path, &st) != 0) {
            log_error_write(srv, kTag, __LINE__, "sbs", "stating existing pid-file failed:", srv->srvconf.pid_file,
                            error_text(errno, scratch, sizeof(scratch)));
            return -1;
        }
        if (!S_ISREG(st.st_mode)) {
            log_error_write(srv, kTag, __LINE__, "sb", "pid-file exists and isn't regular file:",
                            srv->srvconf.pid_file);
            return -1;
        }
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd == -1) {
            log_error_write(srv, kTag, __LINE__, "sbs", "opening pid-file failed:", srv->srvconf.pid_file,
                            error_text(errno, scratch, sizeof(scratch)));
            return -1;
        }
    }
    return fd;
}

// The descriptor limit of the process and the server's share of it; false
// (logged) when the limit cannot be read or set.
bool set_descriptor_limit(server* srv, bool isRoot) {
    char scratch[128];
    rlimit rlim{};
    if (getrlimit(RLIMIT_NOFILE, &rlim) != 0) {
        log_error_write(srv, kTag, __LINE__, "ss", "couldn't get 'max filedescriptors'",
                        error_text(errno, scratch, sizeof(scratch)));
        return false;
    }
    const rlim_t wanted = srv->srvconf.max_fds;
    if (wanted != 0 && (isRoot || wanted < rlim.rlim_cur)) {
        // As root the hard limit follows, so the setting may also raise it.
        rlim.rlim_cur = wanted;
        if (isRoot) {
            rlim.rlim_max = wanted;
        }
        if (setrlimit(RLIMIT_NOFILE, &rlim) != 0) {
            log_error_write(srv, kTag, __LINE__, "ss", "couldn't set 'max filedescriptors'",
                            error_text(errno, scratch, sizeof(scratch)));
            return false;
        }
    }
    const rlim_t soft = rlim.rlim_cur == RLIM_INFINITY || rlim.rlim_cur > kMaxFdsCeiling ? kMaxFdsCeiling
                                                                                          : rlim.rlim_cur;
    srv->max_fds = static_cast<int>(soft);
    if (srv->event_handler == FDEVENT_HANDLER_SELECT && srv->max_fds > kSelectMaxFds) {
        srv->max_fds = kSelectMaxFds;
    }

    if (srv->srvconf.enable_cores != 0 && getrlimit(RLIMIT_CORE, &rlim) == 0) {
        rlim.rlim_cur = rlim.rlim_max;
        setrlimit(RLIMIT_CORE, &rlim);
        prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    }
    return true;
}

void set_connection_limit(server* srv) {
    const size_t half = static_cast<size_t>(srv->max_fds / 2);
    const size_t configured = srv->srvconf.max_conns;
    if (configured > half) {
        log_error_write(srv, kTag, __LINE__, "sdd", "can't have more connections than fds/2: ",
                        static_cast<int>(configured), srv->max_fds);
        srv->max_conns = half;
    } else if (configured != 0) {
        srv->max_conns = configured;
    } else {
        srv->max_conns = static_cast<size_t>(srv->max_fds / 3);
    }
}

void install_handler(int sig) {
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_sigaction = sigaction_handler;
    // Restarted calls: the card's other threads block in reads, waits and
    // accepts, and each shell command's SIGCHLD would fail them with EINTR.
    act.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(sig, &act, nullptr);
}

void install_signals() {
    struct sigaction ignore {};
    sigemptyset(&ignore.sa_mask);
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGUSR1, &ignore, nullptr);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGCHLD}) {
        install_handler(sig);
    }
}

// Every key of every block that nobody read and that is no variable.
void warn_unknown_keys(server* srv) {
    for (size_t i = 0; i < srv->config_context->used; ++i) {
        const auto* block = static_cast<const data_config*>(srv->config_context->data[i]);
        const array* settings = block->value;
        for (size_t j = 0; j < settings->used; ++j) {
            const data_unset* du = settings->data[j];
            if (std::strncmp(du->key->ptr, "var.", 4) == 0) {
                continue;
            }
            if (array_get_element(srv->config_touched, du->key->ptr) == nullptr) {
                log_error_write(srv, kTag, __LINE__, "sbs", "WARNING: unknown config-key:", du->key, "(ignored)");
            }
        }
    }
}

// What start-up made so far, released in reverse.
struct StartState {
    server* srv = nullptr;
    bool plugins = false;
    bool listeners = false;
    bool errorlog = false;
    int pidFd = -1;
};

server* fail(StartState& state) {
    if (state.pidFd >= 0) {
        close(state.pidFd);
        remove_pid_file(state.srv);
    }
    if (state.errorlog) {
        log_error_close(state.srv);
    }
    if (state.listeners) {
        network_close(state.srv);
    }
    if (state.plugins) {
        plugins_free(state.srv);
    }
    server_free(state.srv);
    return nullptr;
}

void set_listeners_waiting(server* srv) {
    for (size_t i = 0; i < srv->srv_sockets.used; ++i) {
        server_socket* sock = srv->srv_sockets.ptr[i];
        if (sock->fd >= 0) {
            fdevent_event_set(srv->ev, &sock->fde_ndx, sock->fd, FDEVENT_IN);
        }
    }
}

void take_listeners_out(server* srv, bool closeThem) {
    for (size_t i = 0; i < srv->srv_sockets.used; ++i) {
        server_socket* sock = srv->srv_sockets.ptr[i];
        if (sock->fd < 0) {
            continue;
        }
        fdevent_event_del(srv->ev, &sock->fde_ndx, sock->fd);
        if (closeThem) {
            fdevent_unregister(srv->ev, sock->fd);
            close(sock->fd);
            sock->fd = -1;
        }
    }
}

// Time-outs, triggers and traffic shaping, once per second.
void handle_new_second(server* srv, std::time_t now) {
    const handler_t triggered = plugins_call_handle_trigger(srv);
    if (triggered == HANDLER_ERROR) {
        log_error_write(srv, kTag, __LINE__, "s", "one of the triggers failed");
    } else if (triggered != HANDLER_GO_ON) {
        log_error_write(srv, kTag, __LINE__, "d", static_cast<int>(triggered));
    }
    srv->cur_ts = now;
    stat_cache_trigger_cleanup(srv);

    connections* conns = srv->conns;
    size_t ndx = 0;
    while (ndx < conns->used) {
        connection* con = conns->ptr[ndx];
        bool changed = false;
        if (con->state == CON_STATE_READ || con->state == CON_STATE_READ_POST) {
            const std::time_t idle = con->request_count == 1 ? con->conf.max_read_idle : con->keep_alive_idle;
            if (srv->cur_ts - con->read_idle_ts > idle) {
                connection_set_state(srv, con, CON_STATE_ERROR);
                changed = true;
            }
        }
        if (con->state == CON_STATE_WRITE && con->write_request_ts != 0) {
            if (srv->cur_ts - con->write_request_ts > con->conf.max_write_idle) {
                if (con->conf.log_timeouts != 0) {
                    log_error_write(srv, kTag, __LINE__, "sbsosds", "NOTE: a request for", con->request.uri,
                                    "timed out after writing", con->bytes_written, "bytes. We waited",
                                    static_cast<int>(srv->cur_ts - con->write_request_ts),
                                    "seconds. If this a problem increase server.max-write-idle");
                }
                connection_set_state(srv, con, CON_STATE_ERROR);
                changed = true;
            }
        }
        if (con->state == CON_STATE_CLOSE && srv->cur_ts - con->close_timeout_ts > kCloseLingerSeconds) {
            changed = true;
        }
        if (con->traffic_limit_reached != 0) {
            con->traffic_limit_reached = 0;
            std::time_t seconds = srv->cur_ts - con->connection_start;
            if (seconds < 1) {
                seconds = 1;
            }
            if (con->conf.kbytes_per_second == 0 ||
                con->bytes_written / seconds < static_cast<http_off_t>(con->conf.kbytes_per_second) * 1024) {
                changed = true;
            }
        }
        if (changed) {
            connection_state_machine(srv, con);
        }
        // The state machine may have closed it, moving the last connection
        // into its slot: that one has not been looked at yet, so the same
        // slot is looked at again.
        if (ndx < conns->used && conns->ptr[ndx] == con) {
            con->bytes_written_cur_second = 0;
            if (con->conf.global_bytes_per_second_cnt_ptr != nullptr) {
                *con->conf.global_bytes_per_second_cnt_ptr = 0;
            }
            ++ndx;
        }
    }
}

// Stops accepting near the descriptor or connection limit (or for good in a
// graceful shutdown), and starts again with a margin.
void throttle_listeners(server* srv) {
    const bool graceful = graceful_shutdown.load() != 0;
    const size_t conns = srv->conns->used;
    if (srv->sockets_disabled != 0) {
        if (srv->cur_fds + srv->want_fds < srv->max_fds * 8 / 10 && conns <= srv->max_conns * 9 / 10 && !graceful) {
            set_listeners_waiting(srv);
            log_error_write(srv, kTag, __LINE__, "s", "[note] sockets enabled again");
            srv->sockets_disabled = 0;
        }
        return;
    }
    if (srv->cur_fds + srv->want_fds > srv->max_fds * 9 / 10 || conns >= srv->max_conns || graceful) {
        take_listeners_out(srv, graceful);
        if (graceful) {
            remove_pid_file(srv);
            log_error_write(srv, kTag, __LINE__, "s", "[note] graceful shutdown started");
        } else if (conns < srv->max_conns) {
            log_error_write(srv, kTag, __LINE__, "s", "[note] sockets disabled, out-of-fds");
        } else {
            log_error_write(srv, kTag, __LINE__, "s", "[note] sockets disabled, connection limit reached");
        }
        srv->sockets_disabled = 1;
    }
}

void resume_fd_waiters(server* srv) {
    if (srv->want_fds == 0) {
        return;
    }
    int free = srv->max_fds - srv->cur_fds - kFdsReserve;
    while (free > 0) {
        connection* con = fdwaitqueue_unshift(srv, srv->fdwaitqueue);
        if (con == nullptr) {
            break;
        }
        connection_state_machine(srv, con);
        --srv->want_fds;
        --free;
    }
}

void dispatch_events(server* srv, int timeout_ms) {
    const int ready = fdevent_poll(srv->ev, timeout_ms);
    if (ready < 0) {
        if (errno != EINTR) {
            char scratch[128];
            log_error_write(srv, kTag, __LINE__, "ss", "fdevent_poll failed:",
                            error_text(errno, scratch, sizeof(scratch)));
        }
        return;
    }
    int ndx = -1;
    for (int left = ready; left > 0; --left) {
        ndx = fdevent_event_next_fdndx(srv->ev, ndx);
        if (ndx == -1) {
            break;
        }
        const int revents = fdevent_event_get_revent(srv->ev, static_cast<size_t>(ndx));
        const int fd = fdevent_event_get_fd(srv->ev, static_cast<size_t>(ndx));
        const fdevent_handler handler = fdevent_get_handler(srv->ev, fd);
        void* context = fdevent_get_context(srv->ev, fd);
        if (handler == nullptr) {
            continue;  // logged by the lookup
        }
        const handler_t r = handler(srv, context, revents);
        switch (r) {
        case HANDLER_GO_ON:
        case HANDLER_FINISHED:
        case HANDLER_WAIT_FOR_EVENT:
        case HANDLER_WAIT_FOR_FD:
            break;
        case HANDLER_ERROR:
            // The descriptor's owner has dealt with it as far as it could;
            // one failed descriptor must not end every other client's service.
            log_error_write(srv, kTag, __LINE__, "sdsd", "handling an event failed for fd:", fd, "events:", revents);
            break;
        default:
            log_error_write(srv, kTag, __LINE__, "d", static_cast<int>(r));
            break;
        }
    }
}

void run_joblist(server* srv) {
    connections* jobs = srv->joblist;
    for (size_t i = 0; i < jobs->used; ++i) {
        connection* con = jobs->ptr[i];
        connection_state_machine(srv, con);
        const handler_t r = plugins_call_handle_joblist(srv, con);
        if (r != HANDLER_GO_ON && r != HANDLER_FINISHED) {
            log_error_write(srv, kTag, __LINE__, "d", static_cast<int>(r));
        }
        con->in_joblist = 0;
    }
    jobs->used = 0;
}

}  // namespace

server* server_start() {
    std::setlocale(LC_TIME, "C");

    StartState state;
    server* srv = server_init();
    state.srv = srv;
    g_ServerFinished.store(0);
    srv->srvconf.port = 0;
    srv->srvconf.dont_daemonize = 0;
    const bool isRoot = getuid() == 0;

    const std::string configPath = ResolvePath(kWebserverConfigPath);
    if (config_read(srv, configPath.c_str()) != 0) {
        return fail(state);
    }
    if (srv->config_storage == nullptr || srv->config_storage[0] == nullptr) {
        log_error_write(srv, kTag, __LINE__, "s", "No configuration available. Try using -f option.");
        return fail(state);
    }
    if (refuse_process_wide_settings(srv)) {
        return fail(state);
    }
    if (config_set_defaults(srv) != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "setting default values failed");
        return fail(state);
    }
    if (!isRoot && l_issetugid() != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "Are you nuts ? Don't apply a SUID bit to this binary");
        return fail(state);
    }
    if (buffer_is_empty(srv->config_storage[0]->document_root)) {
        log_error_write(srv, kTag, __LINE__, "s", "document-root is not set\n");
        return fail(state);
    }
    if (plugins_load(srv) != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "loading plugins finally failed");
        state.plugins = true;
        return fail(state);
    }
    state.plugins = true;

    state.pidFd = open_pid_file(srv);
    if (state.pidFd == -1) {
        return fail(state);
    }

    srv->max_fds = srv->event_handler == FDEVENT_HANDLER_SELECT ? kSelectMaxFds : kDefaultMaxFds;
    if (!set_descriptor_limit(srv, isRoot)) {
        return fail(state);
    }
    if (network_init(srv) != 0) {
        state.listeners = true;  // those opened before the failure
        return fail(state);
    }
    state.listeners = true;
    set_connection_limit(srv);

    if (plugins_call_init(srv) != HANDLER_GO_ON) {
        log_error_write(srv, kTag, __LINE__, "s", "Initialization of plugins failed. Going down.");
        return fail(state);
    }

    install_signals();

    srv->gid = getgid();
    srv->uid = getuid();
    if (state.pidFd >= 0) {
        const std::string pid = std::to_string(getpid()) + "\n";
        const bool written = write(state.pidFd, pid.data(), pid.size()) == static_cast<ssize_t>(pid.size());
        close(state.pidFd);
        state.pidFd = -2;
        if (!written) {
            char scratch[128];
            log_error_write(srv, kTag, __LINE__, "ss", "Couldn't write pid file:",
                            error_text(errno, scratch, sizeof(scratch)));
        }
    }

    if (log_error_open(srv) != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "Opening errorlog failed. Going down.");
        return fail(state);
    }
    state.errorlog = true;

    if (plugins_call_set_defaults(srv) != HANDLER_GO_ON) {
        log_error_write(srv, kTag, __LINE__, "s", "Configuration of plugins failed. Going down.");
        return fail(state);
    }

    warn_unknown_keys(srv);
    if (srv->config_unsupported != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "Configuration contains unsupported keys. Going down.");
    }
    if (srv->config_deprecated != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "Configuration contains deprecated keys. Going down.");
    }
    if (srv->config_unsupported != 0 || srv->config_deprecated != 0) {
        return fail(state);
    }

    srv->ev = fdevent_init(srv, static_cast<size_t>(srv->max_fds) + 1, srv->event_handler);
    if (srv->ev == nullptr) {
        log_error_write(srv, kTag, __LINE__, "s", "fdevent_init failed");
        return fail(state);
    }
    install_handler(SIGCHLD);
    if (network_register_fdevents(srv) != 0) {
        return fail(state);
    }
    srv->stat_cache = stat_cache_init();
    if (srv->stat_cache == nullptr) {
        log_error_write(srv, kTag, __LINE__, "s", "stat-cache could not be setup, dieing.");
        return fail(state);
    }

    // The lowest free descriptor number: what the server holds so far.
    const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        srv->cur_fds = probe;
        close(probe);
    }

    for (size_t i = 0; i < srv->srv_sockets.used; ++i) {
        server_socket* sock = srv->srv_sockets.ptr[i];
        if (fdevent_fcntl_set(srv->ev, sock->fd) == -1) {
            char scratch[128];
            log_error_write(srv, kTag, __LINE__, "ss", "fcntl failed:", error_text(errno, scratch, sizeof(scratch)));
            return fail(state);
        }
    }
    return srv;
}

void server_loop_turn(server* srv, int timeout_ms) {
    if (handle_sig_hup.exchange(0) != 0) {
        const handler_t r = plugins_call_handle_sighup(srv);
        if (r != HANDLER_GO_ON) {
            log_error_write(srv, kTag, __LINE__, "sd", "sighup-handler return with an error", static_cast<int>(r));
        }
        log_error_cycle(srv);
        log_error_write(srv, kTag, __LINE__, "sdsd", "logfiles cycled UID =",
                        static_cast<int>(last_sighup_info.si_uid), "PID =",
                        static_cast<int>(last_sighup_info.si_pid));
    }

    if (handle_sig_alarm.load() != 0) {
        const auto now = static_cast<std::time_t>(TheClock().WallTime().tv_sec);
        if (now != srv->cur_ts) {
            handle_new_second(srv, now);
        }
    }

    throttle_listeners(srv);
    if (graceful_shutdown.load() != 0 && srv->conns->used == 0) {
        srv_shutdown.store(1);
    }
    resume_fd_waiters(srv);
    dispatch_events(srv, timeout_ms);
    run_joblist(srv);
}

bool server_loop_should_stop() {
    return srv_shutdown.load() != 0;
}

bool server_graceful_shutdown_running() {
    return graceful_shutdown.load() != 0;
}

int server_exit(server* srv) {
    // A graceful shutdown removed the pid file when it closed the listeners.
    if (graceful_shutdown.load() == 0) {
        remove_pid_file(srv);
    }
    log_error_write(srv, kTag, __LINE__, "sdsd", "server stopped by UID =",
                    static_cast<int>(last_sigterm_info.si_uid), "PID =", static_cast<int>(last_sigterm_info.si_pid));
    log_error_close(srv);
    network_close(srv);
    connections_free(srv);
    plugins_free(srv);
    server_free(srv);
    g_ServerFinished.store(1);
    return 0;
}

extern "C" {

int webserver_configuration(int /*argc*/, char** /*argv*/) {
    server* srv = server_start();
    if (srv == nullptr) {
        return -1;
    }
    while (!server_loop_should_stop()) {
        server_loop_turn(srv, 1000);
    }
    return server_exit(srv);
}

int webserver_shutdown(bool isShutDown) {
    srv_shutdown.store(isShutDown ? 1 : 0);
    graceful_shutdown.store(isShutDown ? 1 : 0);
    return 0;
}

bool webserver_isServerClose(void) {
    return g_ServerFinished.load() == 1;
}

void sigaction_handler(int sig, siginfo_t* si, void* /*context*/) {
    static const siginfo_t empty{};
    if (si == nullptr) {
        si = const_cast<siginfo_t*>(&empty);
    }
    switch (sig) {
    case SIGTERM:
        srv_shutdown.store(1);
        last_sigterm_info = *si;
        break;
    case SIGINT:
        if (graceful_shutdown.load() != 0) {
            srv_shutdown.store(1);
        } else {
            graceful_shutdown.store(1);
        }
        last_sigterm_info = *si;
        break;
    case SIGALRM:
        handle_sig_alarm.store(1);
        break;
    case SIGHUP:
        if (forwarded_sig_hup.load() != 0) {
            forwarded_sig_hup.store(0);
        } else {
            handle_sig_hup.store(1);
            last_sighup_info = *si;
        }
        break;
    case SIGCHLD:
    default:
        break;
    }
}

}  // extern "C"

}  // namespace hx

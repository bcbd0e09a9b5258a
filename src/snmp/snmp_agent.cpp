#include "snmp/snmp_agent.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "core/log.h"
#include "core/run_profile.h"
#include "snmp/snmp_modules.h"

// net-snmp last: its headers define short macro names of their own.
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/fd_event_manager.h>
#include <net-snmp/library/large_fd_set.h>

// The agent library's run flag (its headers leave it to the daemon's source):
// the agent runs while it is non-zero. Only the SNMP thread touches it.
extern "C" int netsnmp_running;
// The agent library's listening session, opened by init_master_agent.
extern "C" netsnmp_session* main_session;

namespace hx {

namespace {

constexpr const char* kApplicationName = "snmpd";
// The daemon's argument vector is fixed: packet dumping on, nothing else.
constexpr const char* kFixedArguments[] = {"snmpd", "-d"};
constexpr int kDescriptorSetSize = 1024;
constexpr int kCacheTimeoutSeconds = 5;
// Traps sent by the agent itself: reconfigured, shut down (enterprise-specific
// codes of the library's notification MIB).
constexpr int kTrapReconfigured = 3;
constexpr int kTrapShutdown = 2;

// Set by the signal handlers and Snmpd_RequestStop (any thread), read by the
// loop. Lock-free atomics, so a handler may touch them.
std::atomic<int> s_stopRequested{0};
std::atomic<int> reconfig{0};
std::atomic<int> s_dumpRequested{0};
std::atomic<int> s_fatalSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The loop's wake-up pipe; the handlers write one byte to it.
std::atomic<int> s_wakeRead{-1};
std::atomic<int> s_wakeWrite{-1};
// Whether the loop still runs to take the fatal signal.
std::atomic<bool> s_loopAlive{false};

enum class AgentState { NotStarted, Starting, Listening, Ended };
std::mutex s_stateMutex;
std::condition_variable s_stateChanged;
AgentState s_state = AgentState::NotStarted;
std::atomic<U16> s_listenPort{0};

void SetState(AgentState state) {
    std::lock_guard lock(s_stateMutex);
    s_state = state;
    s_stateChanged.notify_all();
}

void WakeLoop() {
    const int saved = errno;
    const int fd = s_wakeWrite.load();
    if (fd >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t ignored = write(fd, &byte, 1);
    }
    errno = saved;
}

bool OpenWakePipe() {
    if (s_wakeRead.load() >= 0) {
        return true;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    s_wakeRead = ends[0];
    s_wakeWrite = ends[1];
    return true;
}

void DrainWakePipe() {
    char bytes[64];
    while (read(s_wakeRead.load(), bytes, sizeof bytes) > 0) {
    }
}

void Install(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(sig, &action, nullptr);
}

// Every log the process keeps reaches its file before the process ends on a
// failure it cannot run on with.
[[noreturn]] void ExitProcess() {
    std::fflush(nullptr);
    _exit(1);
}

std::string Join(const std::initializer_list<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts) {
        if (part.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined.push_back(':');
        }
        joined += part;
    }
    return joined;
}

// The UDP port of the agent's listening socket (not of a trap sink's).
U16 FindListenPort() {
    if (main_session == nullptr) {
        return 0;
    }
    const netsnmp_transport* transport = snmp_sess_transport(snmp_sess_pointer(main_session));
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (transport == nullptr ||
        getsockname(transport->sock, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.ss_family != AF_INET) {
        return 0;
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

void RunScheduledLibrarySignals() {
    for (int sig = 1; sig < NUM_EXTERNAL_SIGS; ++sig) {
        if (external_signal_scheduled[sig] != 0 && external_signal_handler[sig] != nullptr) {
            --external_signal_scheduled[sig];
            external_signal_handler[sig](sig);
        }
    }
}

void Reconfigure() {
    sigset_t hangup;
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &hangup, nullptr);
    reconfig = 0;
    snmp_log(LOG_INFO, "Reconfiguring daemon\n");
    netsnmp_logging_restart();
    snmp_log(LOG_INFO, "NET-SNMP version %s restarted\n", netsnmp_get_version());
    update_config();
    send_easy_trap(SNMP_TRAP_ENTERPRISESPECIFIC, kTrapReconfigured);
    pthread_sigmask(SIG_UNBLOCK, &hangup, nullptr);
}

[[noreturn]] void ExitOnSignal(int sig) {
    snmp_disable_filelog();
    snmp_enable_syslog();
    snmp_log(LOG_ERR, "Exiting on signal %d\n", sig);
    ExitProcess();
}

// Handles what the signal handlers asked for. False when the loop must end.
bool TakeSignals() {
    if (const int sig = s_fatalSignal.load(); sig != 0) {
        ExitOnSignal(sig);
    }
    if (s_dumpRequested.exchange(0) != 0) {
        dump_registry();
    }
    if (s_stopRequested != 0) {
        netsnmp_running = 0;
        return false;
    }
    if (reconfig != 0) {
        Reconfigure();
    }
    return true;
}

// Step 10: serve until told to stop. True after a regular end (a stop),
// false after a failed wait.
bool ReceiveLoop() {
    netsnmp_large_fd_set readfds;
    netsnmp_large_fd_set writefds;
    netsnmp_large_fd_set exceptfds;
    netsnmp_large_fd_set_init(&readfds, kDescriptorSetSize);
    netsnmp_large_fd_set_init(&writefds, kDescriptorSetSize);
    netsnmp_large_fd_set_init(&exceptfds, kDescriptorSetSize);
    const int wake = s_wakeRead.load();
    bool regular = true;
    while (netsnmp_running != 0) {
        if (!TakeSignals()) {
            break;
        }
        int numfds = 0;
        NETSNMP_LARGE_FD_ZERO(&readfds);
        NETSNMP_LARGE_FD_ZERO(&writefds);
        NETSNMP_LARGE_FD_ZERO(&exceptfds);
        int block = 0;
        timeval timeout{};
        snmp_select_info2(&numfds, &readfds, &timeout, &block);
        NETSNMP_LARGE_FD_SET(wake, &readfds);
        numfds = std::max(numfds, wake + 1);
        netsnmp_external_event_info2(&numfds, &readfds, &writefds, &exceptfds);
        RunScheduledLibrarySignals();

        int count = netsnmp_large_fd_set_select(numfds, &readfds, &writefds, &exceptfds, block != 0 ? nullptr : &timeout);
        if (count > 0) {
            if (NETSNMP_LARGE_FD_ISSET(wake, &readfds)) {
                DrainWakePipe();
                NETSNMP_LARGE_FD_CLR(wake, &readfds);
                --count;
            }
            netsnmp_dispatch_external_events2(&count, &readfds, &writefds, &exceptfds);
            if (count > 0) {
                snmp_read2(&readfds);
            }
        } else if (count == 0) {
            snmp_timeout();
        } else if (errno == EINTR) {
            continue;  // the flags are looked at on the next turn
        } else {
            snmp_log_perror("select");
            regular = false;
            break;
        }
        snmp_store_if_needed();
        run_alarms();
        netsnmp_check_outstanding_agent_requests();
    }
    netsnmp_large_fd_set_cleanup(&readfds);
    netsnmp_large_fd_set_cleanup(&writefds);
    netsnmp_large_fd_set_cleanup(&exceptfds);
    return regular;
}

}  // namespace

void SnmpdShutDown(int) {
    s_stopRequested = 1;
    WakeLoop();
}

void SnmpdReconfig(int) {
    reconfig = 1;
    WakeLoop();
}

void SnmpdDump(int) {
    s_dumpRequested = 1;
    WakeLoop();
}

void SnmpdCatchRandomSignal(int sig) {
    s_fatalSignal = sig;
    if (!s_loopAlive.load()) {
        // No agent loop left to log it: end here.
        _exit(1);
    }
    WakeLoop();
}

int snmp_input() { return 1; }

void SNMP_refreshConfig() {
    free_config();
    read_configs();
}

std::string Snmpd_ConfigurationPath() {
    const char* home = std::getenv("HOME");
    return Join({ResolvePath("/usr/local/etc/snmp"), ResolvePath("/vandik_app/app"), ResolvePath("/usr/local/lib/snmp"),
                 home != nullptr && *home != '\0' ? ResolvePath(std::string(home) + "/.snmp") : std::string()});
}

std::string Snmpd_AgentAddress() {
    const RunProfile& profile = Profile();
    const std::string port = std::to_string(profile.snmpPort);
    if (profile.listenAddress.empty() || profile.listenAddress == "0.0.0.0") {
        return ":" + port;
    }
    return "udp:" + profile.listenAddress + ":" + port;
}

void* Snmpd_Server(void*) {
    // Reading a channel's rate waits twice for 5 µs while the meter settles;
    // with the kernel's default 50 µs timer slack each wait would last ten
    // times that, and a walk of the rate table would mostly be sleep. The
    // slack is per thread, so this touches no other.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    SetState(AgentState::Starting);
    OpenWakePipe();
    s_loopAlive = true;

    // 1. Signal dispositions (process-wide).
    Install(SIGTERM, SnmpdShutDown);
    Install(SIGINT, SnmpdShutDown);
    Install(SIGHUP, SIG_IGN);
    Install(SIGUSR1, SnmpdDump);
    Install(SIGPIPE, SIG_IGN);
    Install(SIGXFSZ, SnmpdCatchRandomSignal);

    // 2. Agent defaults.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_MASTER, 0);
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_TIMEOUT, -1);
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_RETRIES, -1);
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_CACHE_TIMEOUT, kCacheTimeoutSeconds);

    // 3. Names, the fixed arguments, and the paths under the data root.
    snmp_log_syslogname(kApplicationName);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_APPTYPE, kApplicationName);
    for (const char* argument : kFixedArguments) {
        if (std::string_view(argument) == "-d") {
            netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DUMP_PACKET, 1);
        }
    }
    const std::string configuration = Snmpd_ConfigurationPath();
    const std::string persistent = ResolvePath(kSnmpPersistentDirectory);
    const std::string address = Snmpd_AgentAddress();
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_CONFIGURATION_DIR, configuration.c_str());
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, persistent.c_str());
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_PORTS, address.c_str());
    // The library also opens its SMUX port (TCP 199, root only); an agent
    // bound to one address keeps that port on the same address, so a PC run
    // opens nothing beyond loopback.
    if (const std::string& listen = Profile().listenAddress; !listen.empty() && listen != "0.0.0.0") {
        const std::string smux = listen + ":199";
        netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_SMUX_SOCKET, smux.c_str());
    }

    // 4. The agent's own log, truncated.
    const std::string logPath = ResolvePath(kSnmpdLogPath);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath).parent_path(), ignored);
    snmp_enable_filelog(logPath.c_str(), 0);

    // 5. Master agent.
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 0);
    if (init_agent(kApplicationName) != 0) {
        snmp_log(LOG_ERR, "Agent initialization failed\n");
        ExitProcess();
    }

    // 6. The modules (the board's first), then the configuration files.
    Snmp_InitMibModules();
    init_snmp(kApplicationName);

    // 7. The listening transports.
    if (init_master_agent() != 0) {
        snmp_log(LOG_ERR, "Server Exiting with code 1\n");
        ExitProcess();
    }

    // 8. Persistent state.
    mkdirhier(get_persistent_directory(), S_IRWXU, 0);
    snmp_store(kApplicationName);

    // 9. Up: SIGHUP now re-reads the configuration.
    Install(SIGHUP, SnmpdReconfig);
    send_easy_trap(SNMP_TRAP_COLDSTART, 0);
    snmp_log(LOG_INFO, "NET-SNMP version %s\n", netsnmp_get_version());
    netsnmp_addrcache_initialise();
    s_listenPort = FindListenPort();
    SetState(AgentState::Listening);

    // 10, 11.
    if (ReceiveLoop()) {
        snmp_log(LOG_INFO, "Received TERM or STOP signal...  shutting down...\n");
    }

    // 12.
    send_easy_trap(SNMP_TRAP_ENTERPRISESPECIFIC, kTrapShutdown);
    snmp_shutdown(kApplicationName);
    shutdown_master_agent();
    shutdown_agent();
    s_loopAlive = false;
    s_listenPort = 0;
    SetState(AgentState::Ended);
    return nullptr;
}

bool Snmpd_WaitListening(U32 timeoutMs) {
    std::unique_lock lock(s_stateMutex);
    s_stateChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] {
        return s_state == AgentState::Listening || s_state == AgentState::Ended;
    });
    return s_state == AgentState::Listening;
}

U16 Snmpd_ListenPort() { return s_listenPort.load(); }

void Snmpd_RequestStop() { SnmpdShutDown(SIGTERM); }

}  // namespace hx

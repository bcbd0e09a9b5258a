#include "chassis/ipcomm_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "chassis/ipcomm_dispatch.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "core/thread_util.h"

namespace hx {

namespace {

constexpr std::uint64_t kSetupRetryMicros = 5'000'000;
constexpr int kStopPollMs = 50;

// Server state shared with the starter, Stop and the tests: the thread count
// (0 or 1), the bound port and whether the port is listening.
std::mutex g_stateMutex;
std::condition_variable g_stateChanged;
U32 g_threads = 0;
U16 g_boundPort = 0;
bool g_running = false;
std::atomic<bool> g_stopRequested{false};

void SetListening(bool running, U16 port) {
    std::lock_guard lock(g_stateMutex);
    g_running = running;
    g_boundPort = port;
    g_stateChanged.notify_all();
}

void ThreadEnded() {
    std::lock_guard lock(g_stateMutex);
    g_running = false;
    g_boundPort = 0;
    --g_threads;
    g_stateChanged.notify_all();
}

bool SetUpPort() {
    return socketS_open() == VK_SOCKETS_SUCCESS && socketS_bind() == VK_SOCKETS_SUCCESS &&
           socketS_listen() == VK_SOCKETS_SUCCESS;
}

U16 BoundPort() {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(socketSfd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void Serve(int connection) {
    const std::vector<U8> block = IPComm_ReceiveBlock(connection, Profile().interBoardServerTimeoutMs);
    ST_VK_IPCOMM record;
    const U8 nothing = 0;
    IPComm_ParseData(block.empty() ? &nothing : block.data(), static_cast<S32>(block.size()), &record);
    IPComm_Response(connection, &record);
}

// A failed accept (no descriptor left, no memory, ...) would fail again at
// once while the peer waits in the backlog: the server pauses before the next
// try, and logs a kind of failure once until an accept succeeds again.
class AcceptFailures {
public:
    void Failed(int error) {
        if (error != lastLogged_) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "accept socket error: %s(errno: %d)\n", std::strerror(error),
                   error);
            lastLogged_ = error;
        }
        TheClock().SleepMicros(kIPServerAcceptRetryMicros);
    }
    void Succeeded() { lastLogged_ = 0; }

private:
    int lastLogged_ = 0;
};

}  // namespace

void* IPComm_Server_Service(void*) {
    while (!SetUpPort()) {
        socketS_close();
        if (g_stopRequested) {
            ThreadEnded();
            return nullptr;
        }
        TheClock().SleepMicros(kSetupRetryMicros);
    }
    SetListening(true, BoundPort());
    AcceptFailures failures;
    while (!g_stopRequested) {
        pollfd listening{socketSfd, POLLIN, 0};
        if (poll(&listening, 1, kStopPollMs) <= 0) {
            continue;
        }
        const int connection = accept4(socketSfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            failures.Failed(errno);
            continue;
        }
        failures.Succeeded();
        Serve(connection);
        close(connection);
    }
    socketS_close();
    ThreadEnded();
    return nullptr;
}

U32 IPServer_Start() {
    {
        std::unique_lock lock(g_stateMutex);
        if (g_threads > 0 && !g_stopRequested) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "IP communication already running\n");
            return VK_SUCCESS;
        }
        // A thread still ending after a stop owns the listening socket until
        // it has gone.
        g_stateChanged.wait(lock, [] { return g_threads == 0; });
        g_stopRequested = false;
        ++g_threads;
    }
    const int error = Thread_StartDetached(IPComm_Server_Service, nullptr);
    if (error != 0) {
        ThreadEnded();
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication thread create error :%s(errno: %d)\n",
               std::strerror(error), error);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "IP communication create successfully!\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "IP communication pthread detach successfully!\n");
    return VK_SUCCESS;
}

U16 IPServer_WaitListening(int limitMs) {
    std::unique_lock lock(g_stateMutex);
    g_stateChanged.wait_for(lock, std::chrono::milliseconds(limitMs), [] { return g_running; });
    return g_boundPort;
}

void IPServer_Stop() {
    std::unique_lock lock(g_stateMutex);
    g_stopRequested = true;
    g_stateChanged.wait(lock, [] { return g_threads == 0; });
}

U32 IPServer_Threads() {
    std::lock_guard lock(g_stateMutex);
    return g_threads;
}

}  // namespace hx

// One turn of the HTTP server's event loop with one ready descriptor among
// 10, 100 and 1,000 idle ones, per back end: the wait (time-out 0) and the
// walk over what it reports, as the main loop does it. epoll's cost should not
// grow with the idle descriptors; poll and select hand the whole set to the
// kernel and scan it, so theirs grows linearly.
//
// The idle descriptors are duplicates of one socket with nothing to read, so
// 1,000 of them stay below select's limit of 1024.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "http/fdevent.h"

namespace hx {
namespace {

handler_t CountingHandler(server*, void* ctx, int) {
    ++*static_cast<long*>(ctx);
    return HANDLER_GO_ON;
}

void BM_OneReadyAmongIdle(benchmark::State& state, fdevent_handler_t type) {
    const auto idleCount = static_cast<int>(state.range(0));
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < FD_SETSIZE + 64 && limit.rlim_max > limit.rlim_cur) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    server* srv = server_init();
    srv->errorlog_fd = -1;  // nothing is expected, nothing printed
    fdevents* ev = fdevent_init(srv, FD_SETSIZE, type);
    int idlePair[2];
    int readyPair[2];
    if (ev == nullptr || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, idlePair) != 0 ||
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, readyPair) != 0) {
        state.SkipWithError("no event loop or socketpair");
        return;
    }
    fdevent_reset(ev);
    long calls = 0;
    std::vector<int> watched;
    for (int i = 0; i < idleCount; ++i) {
        watched.push_back(dup(idlePair[0]));
    }
    // The ready one last: select and poll scan past every idle one to find it.
    const int ready = dup(readyPair[0]);
    watched.push_back(ready);
    for (int fd : watched) {
        int ndx = -1;
        if (fd < 0 || fdevent_register(ev, fd, CountingHandler, &calls) != 0 ||
            fdevent_event_set(ev, &ndx, fd, FDEVENT_IN) != 0) {
            state.SkipWithError("descriptor not registered");
            return;
        }
    }
    if (write(readyPair[1], "x", 1) != 1) {
        state.SkipWithError("no ready byte");
        return;
    }

    for (auto _ : state) {
        const int count = fdevent_poll(ev, 0);
        int ndx = -1;
        for (int i = 0; i < count; ++i) {
            ndx = fdevent_event_next_fdndx(ev, ndx);
            if (ndx == -1) {
                break;
            }
            const int revents = fdevent_event_get_revent(ev, static_cast<size_t>(ndx));
            const int fd = fdevent_event_get_fd(ev, static_cast<size_t>(ndx));
            fdevent_get_handler(ev, fd)(srv, fdevent_get_context(ev, fd), revents);
        }
    }
    if (calls != static_cast<long>(state.iterations())) {
        state.SkipWithError("the ready descriptor was not reported once per turn");
    }
    state.SetComplexityN(idleCount);

    fdevent_free(ev);
    for (int fd : watched) {
        close(fd);
    }
    for (int fd : {idlePair[0], idlePair[1], readyPair[0], readyPair[1]}) {
        close(fd);
    }
    server_free(srv);
}

BENCHMARK_CAPTURE(BM_OneReadyAmongIdle, epoll, FDEVENT_HANDLER_LINUX_SYSEPOLL)
    ->Arg(10)->Arg(100)->Arg(1000)->Complexity();
BENCHMARK_CAPTURE(BM_OneReadyAmongIdle, poll, FDEVENT_HANDLER_POLL)->Arg(10)->Arg(100)->Arg(1000)->Complexity();
BENCHMARK_CAPTURE(BM_OneReadyAmongIdle, select, FDEVENT_HANDLER_SELECT)
    ->Arg(10)->Arg(100)->Arg(1000)->Complexity();

}  // namespace
}  // namespace hx

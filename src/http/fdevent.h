// The event loop of the HTTP server: one `fdevents` object over the epoll
// (default), poll or select back end. The main loop creates it with
// max_fds + 1 slots; listeners and connections register their descriptors
// with a handler and a context, keep the position index (`fde_ndx`, -1 when
// not in the back end) that fdevent_event_set hands back, and the loop walks
// the ready indices after each fdevent_poll.
//
// The devpoll, event-port, kqueue and libev kinds exist only as names: their
// set-up logs its refusal and fails.
//
// Inconsistent calls never end the program. A descriptor outside the event
// table (negative, at or past `maxfds`, or from FD_SETSIZE on under select),
// a slot without its node, a deletion the back end does not hold, a failing
// epoll_ctl and a POLLNVAL result are logged to the error log and fail the
// call (-1, or null for the node lookups); the owner then closes the
// descriptor. Nothing is ever written outside the table or the fd_sets.
//
// Threads: the HTTP server thread only; nothing is locked.
#pragma once

#include <poll.h>
#include <sys/epoll.h>
#include <sys/select.h>

#include <cstddef>

#include "http/http_base.h"

namespace hx {

// Event bits. Callers ask for in and out; err and hup are always reported.
enum : int {
    FDEVENT_IN = 1,
    FDEVENT_PRI = 2,
    FDEVENT_OUT = 4,
    FDEVENT_ERR = 8,
    FDEVENT_HUP = 16,
    FDEVENT_NVAL = 32,
};

using fdevent_handler = handler_t (*)(server* srv, void* ctx, int revents);

// One registered descriptor.
struct fdnode {
    fdevent_handler handler;
    void* ctx;
    void* handler_ctx;  // always null
    int fd;
    int events;  // the bits last asked for; 0 when none
};

// A stack of ints (the free poll slots).
struct buffer_int {
    int* ptr;
    size_t used;
    size_t size;
};

struct fdevents {
    server* srv;
    fdevent_handler_t type;

    fdnode** fdarray;  // one slot per descriptor number, null when unregistered
    size_t maxfds;

    // epoll
    int epoll_fd;
    epoll_event* epoll_events;  // maxfds records

    // poll
    pollfd* pollfds;
    size_t size;
    size_t used;
    buffer_int unused;  // freed slots, reused last-in first-out

    // select
    fd_set select_read;  // the sets handed to the last wait
    fd_set select_write;
    fd_set select_error;
    fd_set select_set_read;  // the wanted sets
    fd_set select_set_write;
    fd_set select_set_error;
    int select_max_fd;

    // Back-end operations; any may be null. event_set returns the new index
    // (-1 after a logged failure), event_del -1 (-2 after a logged failure).
    int (*reset)(fdevents* ev);
    void (*free)(fdevents* ev);
    int (*event_set)(fdevents* ev, int fde_ndx, int fd, int events);
    int (*event_del)(fdevents* ev, int fde_ndx, int fd);
    int (*event_get_revent)(fdevents* ev, size_t ndx);
    int (*event_get_fd)(fdevents* ev, size_t ndx);
    int (*event_next_fdndx)(fdevents* ev, int ndx);
    int (*poll)(fdevents* ev, int timeout_ms);
    int (*fcntl_set)(fdevents* ev, int fd);
};

extern "C" {

// The object with `maxfds` empty slots over the chosen back end; null, with
// the back end's lines and "event-handler is unknown, ..." logged, when the
// back end cannot be set up or is not one of select, poll and epoll.
fdevents* fdevent_init(server* srv, size_t maxfds, fdevent_handler_t type);
// Null is accepted.
void fdevent_free(fdevents* ev);
int fdevent_reset(fdevents* ev);

// A node for `fd` in its slot; the back end is not touched. -1 (logged)
// when fd is outside the table or its slot is taken.
int fdevent_register(fdevents* ev, int fd, fdevent_handler handler, void* ctx);
// The node must have no events left (fdevent_event_del first); -1 (logged)
// otherwise, the node then stays.
int fdevent_unregister(fdevents* ev, int fd);

// Asks the back end for `events` (FDEVENT_IN / FDEVENT_OUT) on fd, updating
// *fde_ndx. -1 (logged) when fd is outside the table, has no node, or the
// back end refuses; *fde_ndx is then -1.
int fdevent_event_set(fdevents* ev, int* fde_ndx, int fd, int events);
// Takes fd out of the back end: *fde_ndx becomes -1 and the node's events 0
// even when the back end reports a broken invariant (logged, -1).
int fdevent_event_del(fdevents* ev, int* fde_ndx, int fd);

// Ready descriptors, 0 on time-out, negative on error (errno set).
int fdevent_poll(fdevents* ev, int timeout_ms);
// The next ready index after `ndx` (start with -1); -1 when none is left.
int fdevent_event_next_fdndx(fdevents* ev, int ndx);
int fdevent_event_get_revent(fdevents* ev, size_t ndx);
int fdevent_event_get_fd(fdevents* ev, size_t ndx);

// The handler and context of fd's node; null (logged) when the slot holds
// no node of that descriptor.
fdevent_handler fdevent_get_handler(fdevents* ev, int fd);
void* fdevent_get_context(fdevents* ev, int fd);

// Close-on-exec for a non-negative descriptor; -1 when fcntl fails
// (callers ignore it: the descriptor is unusable and fails next anyway).
int fd_close_on_exec(int fd);
// Close-on-exec, then the back end's fcntl_set or non-blocking mode; the
// result of that last call.
int fdevent_fcntl_set(fdevents* ev, int fd);

// Back-end set-ups, called by fdevent_init; 0 or -1.
int fdevent_select_init(fdevents* ev);
int fdevent_poll_init(fdevents* ev);
int fdevent_linux_sysepoll_init(fdevents* ev);
int fdevent_solaris_devpoll_init(fdevents* ev);
int fdevent_solaris_port_init(fdevents* ev);
int fdevent_freebsd_kqueue_init(fdevents* ev);
int fdevent_libev_init(fdevents* ev);

}  // extern "C"

}  // namespace hx

// The event loop's generic layer: the descriptor table and the dispatch to
// the back end's operations.
#include "http/fdevent.h"

#include <fcntl.h>

#include <cstdlib>

#include "http/errorlog.h"

namespace hx {

namespace {

constexpr char kTryPollOrSelect[] = ", try to set server.event-handler = \"poll\" or \"select\"";

// A descriptor the table (and under select the fd_sets) can hold.
bool in_table(fdevents* ev, int fd) {
    if (fd < 0 || static_cast<size_t>(fd) >= ev->maxfds ||
        (ev->type == FDEVENT_HANDLER_SELECT && fd >= static_cast<int>(FD_SETSIZE))) {
        HTTP_LOG_ERROR(ev->srv, "sdsd", "fd", fd, "is outside the event table of", static_cast<int>(ev->maxfds));
        return false;
    }
    return true;
}

// The node of fd, or null (logged) when its slot holds none of that fd.
fdnode* node_of(fdevents* ev, int fd, const char* caller) {
    if (fd < 0 || static_cast<size_t>(fd) >= ev->maxfds) {
        HTTP_LOG_ERROR(ev->srv, "ssd", caller, "no event table slot for fd", fd);
        return nullptr;
    }
    fdnode* node = ev->fdarray[fd];
    if (node == nullptr || node->fd != fd) {
        HTTP_LOG_ERROR(ev->srv, "ssd", caller, "no registered node for fd", fd);
        return nullptr;
    }
    return node;
}

// The back end's set-up and the line fdevent_init logs when it fails.
struct BackEnd {
    int (*init)(fdevents* ev);
    const char* failure;
    bool suggestsOthers;
};

BackEnd back_end_of(fdevent_handler_t type) {
    switch (type) {
        case FDEVENT_HANDLER_SELECT:
            return {fdevent_select_init, "event-handler select failed", false};
        case FDEVENT_HANDLER_POLL:
            return {fdevent_poll_init, "event-handler poll failed", false};
        case FDEVENT_HANDLER_LINUX_SYSEPOLL:
            return {fdevent_linux_sysepoll_init, "event-handler linux-sysepoll failed", true};
        case FDEVENT_HANDLER_SOLARIS_DEVPOLL:
            return {fdevent_solaris_devpoll_init, "event-handler solaris-devpoll failed", true};
        case FDEVENT_HANDLER_SOLARIS_PORT:
            return {fdevent_solaris_port_init, "event-handler solaris-eventports failed", true};
        case FDEVENT_HANDLER_FREEBSD_KQUEUE:
            return {fdevent_freebsd_kqueue_init, "event-handler freebsd-kqueue failed", true};
        case FDEVENT_HANDLER_LIBEV:
            return {fdevent_libev_init, "event-handler libev failed", true};
        case FDEVENT_HANDLER_UNSET:
        default:
            return {nullptr, nullptr, false};
    }
}

}  // namespace

extern "C" {

fdevents* fdevent_init(server* srv, size_t maxfds, fdevent_handler_t type) {
    auto* ev = static_cast<fdevents*>(std::calloc(1, sizeof(fdevents)));
    HTTP_ASSERT(ev);
    ev->srv = srv;
    ev->fdarray = static_cast<fdnode**>(std::calloc(maxfds == 0 ? 1 : maxfds, sizeof(fdnode*)));
    HTTP_ASSERT(ev->fdarray);
    ev->maxfds = maxfds;
    ev->epoll_fd = -1;

    const BackEnd backEnd = back_end_of(type);
    if (backEnd.init != nullptr) {
        if (backEnd.init(ev) == 0) {
            return ev;
        }
        if (backEnd.suggestsOthers) {
            HTTP_LOG_ERROR(srv, "SS", backEnd.failure, kTryPollOrSelect);
        } else {
            HTTP_LOG_ERROR(srv, "S", backEnd.failure);
        }
    }
    std::free(ev->fdarray);
    std::free(ev);
    HTTP_LOG_ERROR(srv, "SS", "event-handler is unknown", kTryPollOrSelect);
    return nullptr;
}

void fdevent_free(fdevents* ev) {
    if (ev == nullptr) {
        return;
    }
    if (ev->free != nullptr) {
        ev->free(ev);
    }
    for (size_t fd = 0; fd < ev->maxfds; ++fd) {
        std::free(ev->fdarray[fd]);
    }
    std::free(ev->fdarray);
    std::free(ev);
}

int fdevent_reset(fdevents* ev) { return ev->reset != nullptr ? ev->reset(ev) : 0; }

int fdevent_register(fdevents* ev, int fd, fdevent_handler handler, void* ctx) {
    if (!in_table(ev, fd)) {
        return -1;
    }
    if (ev->fdarray[fd] != nullptr) {
        HTTP_LOG_ERROR(ev->srv, "sd", "fdevent_register: already registered: fd", fd);
        return -1;
    }
    auto* node = static_cast<fdnode*>(std::calloc(1, sizeof(fdnode)));
    HTTP_ASSERT(node);
    node->handler = handler;
    node->ctx = ctx;
    node->handler_ctx = nullptr;
    node->fd = fd;
    node->events = 0;
    ev->fdarray[fd] = node;
    return 0;
}

int fdevent_unregister(fdevents* ev, int fd) {
    if (ev == nullptr) {
        return 0;
    }
    fdnode* node = node_of(ev, fd, "fdevent_unregister:");
    if (node == nullptr) {
        return -1;
    }
    if (node->events != 0) {
        HTTP_LOG_ERROR(ev->srv, "sd", "assertion failed: fdn->events == 0, fd", fd);
        return -1;
    }
    std::free(node);
    ev->fdarray[fd] = nullptr;
    return 0;
}

int fdevent_event_set(fdevents* ev, int* fde_ndx, int fd, int events) {
    fdnode* node = nullptr;
    if (in_table(ev, fd)) {
        node = node_of(ev, fd, "fdevent_event_set:");
    }
    if (node == nullptr) {
        *fde_ndx = -1;
        return -1;
    }
    // Interest the back end already holds: asking again would only cost a
    // system call (an epoll_ctl per keep-alive request).
    if (*fde_ndx != -1 && node->events == events) {
        return 0;
    }
    const int index = ev->event_set(ev, *fde_ndx, fd, events);
    *fde_ndx = index;
    if (index < 0) {
        return -1;
    }
    node->events = events;
    return 0;
}

int fdevent_event_del(fdevents* ev, int* fde_ndx, int fd) {
    if (fd < 0 || static_cast<size_t>(fd) >= ev->maxfds || ev->fdarray[fd] == nullptr) {
        return 0;
    }
    const int index = ev->event_del(ev, *fde_ndx, fd);
    *fde_ndx = -1;
    ev->fdarray[fd]->events = 0;
    return index == -1 ? 0 : -1;
}

int fdevent_poll(fdevents* ev, int timeout_ms) { return ev->poll(ev, timeout_ms); }

int fdevent_event_next_fdndx(fdevents* ev, int ndx) { return ev->event_next_fdndx(ev, ndx); }

int fdevent_event_get_revent(fdevents* ev, size_t ndx) { return ev->event_get_revent(ev, ndx); }

int fdevent_event_get_fd(fdevents* ev, size_t ndx) { return ev->event_get_fd(ev, ndx); }

fdevent_handler fdevent_get_handler(fdevents* ev, int fd) {
    fdnode* node = node_of(ev, fd, "fdevent_get_handler:");
    return node != nullptr ? node->handler : nullptr;
}

void* fdevent_get_context(fdevents* ev, int fd) {
    fdnode* node = node_of(ev, fd, "fdevent_get_context:");
    return node != nullptr ? node->ctx : nullptr;
}

int fd_close_on_exec(int fd) {
    if (fd < 0) {
        return 0;
    }
    return fcntl(fd, F_SETFD, FD_CLOEXEC) == -1 ? -1 : 0;
}

int fdevent_fcntl_set(fdevents* ev, int fd) {
    fd_close_on_exec(fd);
    if (ev != nullptr && ev->fcntl_set != nullptr) {
        return ev->fcntl_set(ev, fd);
    }
    return fcntl(fd, F_SETFL, O_NONBLOCK | O_RDWR);
}

}  // extern "C"

}  // namespace hx

// The epoll back end of the event loop: one kernel call per registration
// change, the ready records read in the order the kernel filled them.
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "http/errorlog.h"
#include "http/fdevent.h"

namespace hx {

namespace {

void epoll_free(fdevents* ev) {
    close(ev->epoll_fd);
    ev->epoll_fd = -1;
    std::free(ev->epoll_events);
    ev->epoll_events = nullptr;
}

void log_ctl_failure(fdevents* ev) {
    char scratch[128];
    HTTP_LOG_ERROR(ev->srv, "SSS", "epoll_ctl failed: ", http_error_text(errno, scratch, sizeof(scratch)),
                   ", dying");
}

int epoll_event_del(fdevents* ev, int fde_ndx, int fd) {
    if (fde_ndx < 0) {
        return -1;
    }
    epoll_event record{};
    record.data.fd = fd;
    if (epoll_ctl(ev->epoll_fd, EPOLL_CTL_DEL, fd, &record) != 0) {
        log_ctl_failure(ev);
        return -2;
    }
    return -1;
}

int epoll_event_set(fdevents* ev, int fde_ndx, int fd, int events) {
    epoll_event record{};
    record.events = EPOLLERR | EPOLLHUP;
    if ((events & FDEVENT_IN) != 0) {
        record.events |= EPOLLIN;
    }
    if ((events & FDEVENT_OUT) != 0) {
        record.events |= EPOLLOUT;
    }
    record.data.fd = fd;
    if (epoll_ctl(ev->epoll_fd, fde_ndx == -1 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &record) != 0) {
        log_ctl_failure(ev);
        return -1;
    }
    return fd;
}

int epoll_wait_events(fdevents* ev, int timeout_ms) {
    const int capacity = ev->maxfds > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(ev->maxfds);
    return epoll_wait(ev->epoll_fd, ev->epoll_events, capacity, timeout_ms);
}

int epoll_get_revent(fdevents* ev, size_t ndx) {
    const std::uint32_t kernel = ev->epoll_events[ndx].events;
    int events = 0;
    if ((kernel & EPOLLIN) != 0) {
        events |= FDEVENT_IN;
    }
    if ((kernel & EPOLLPRI) != 0) {
        events |= FDEVENT_PRI;
    }
    if ((kernel & EPOLLOUT) != 0) {
        events |= FDEVENT_OUT;
    }
    if ((kernel & EPOLLERR) != 0) {
        events |= FDEVENT_ERR;
    }
    if ((kernel & EPOLLHUP) != 0) {
        events |= FDEVENT_HUP;
    }
    return events;
}

int epoll_get_fd(fdevents* ev, size_t ndx) { return ev->epoll_events[ndx].data.fd; }

// The main loop stops after as many indices as the wait returned.
int epoll_next_fdndx(fdevents*, int ndx) { return ndx < 0 ? 0 : ndx + 1; }

}  // namespace

extern "C" int fdevent_linux_sysepoll_init(fdevents* ev) {
    ev->type = FDEVENT_HANDLER_LINUX_SYSEPOLL;
    ev->free = epoll_free;
    ev->event_set = epoll_event_set;
    ev->event_del = epoll_event_del;
    ev->event_get_revent = epoll_get_revent;
    ev->event_get_fd = epoll_get_fd;
    ev->event_next_fdndx = epoll_next_fdndx;
    ev->poll = epoll_wait_events;

    // Close-on-exec from the start, so no command another thread starts in
    // between inherits the epoll descriptor.
    ev->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (ev->epoll_fd == -1) {
        char scratch[128];
        HTTP_LOG_ERROR(ev->srv, "SSS", "epoll_create failed (", http_error_text(errno, scratch, sizeof(scratch)),
                       "), try to set server.event-handler = \"poll\" or \"select\"");
        return -1;
    }
    ev->epoll_events = static_cast<epoll_event*>(std::calloc(ev->maxfds == 0 ? 1 : ev->maxfds, sizeof(epoll_event)));
    HTTP_ASSERT(ev->epoll_events);
    return 0;
}

}  // namespace hx

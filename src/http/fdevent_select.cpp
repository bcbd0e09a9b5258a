// The select back end of the event loop: limited to descriptors below
// FD_SETSIZE (1024), which the generic layer refuses beforehand.
#include <sys/select.h>

#include "http/errorlog.h"
#include "http/fdevent.h"

namespace hx {

namespace {

int select_reset(fdevents* ev) {
    FD_ZERO(&ev->select_set_read);
    FD_ZERO(&ev->select_set_write);
    FD_ZERO(&ev->select_set_error);
    ev->select_max_fd = -1;
    return 0;
}

bool fits(fdevents* ev, int fd) {
    if (fd < 0 || fd >= static_cast<int>(FD_SETSIZE)) {
        HTTP_LOG_ERROR(ev->srv, "sd", "assertion failed: fd < ((int)FD_SETSIZE), fd", fd);
        return false;
    }
    return true;
}

int select_event_del(fdevents* ev, int fde_ndx, int fd) {
    if (fde_ndx < 0) {
        return -1;
    }
    if (!fits(ev, fd)) {
        return -2;
    }
    FD_CLR(fd, &ev->select_set_read);
    FD_CLR(fd, &ev->select_set_write);
    FD_CLR(fd, &ev->select_set_error);
    // Nor does a walk still under way report it.
    FD_CLR(fd, &ev->select_read);
    FD_CLR(fd, &ev->select_write);
    FD_CLR(fd, &ev->select_error);
    return -1;
}

int select_event_set(fdevents* ev, int, int fd, int events) {
    if (!fits(ev, fd)) {
        return -1;
    }
    if ((events & FDEVENT_IN) != 0) {
        FD_SET(fd, &ev->select_set_read);
    } else {
        FD_CLR(fd, &ev->select_set_read);
    }
    if ((events & FDEVENT_OUT) != 0) {
        FD_SET(fd, &ev->select_set_write);
    } else {
        FD_CLR(fd, &ev->select_set_write);
    }
    FD_SET(fd, &ev->select_set_error);
    if (fd > ev->select_max_fd) {
        ev->select_max_fd = fd;
    }
    return fd;
}

int select_wait(fdevents* ev, int timeout_ms) {
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ev->select_read = ev->select_set_read;
    ev->select_write = ev->select_set_write;
    ev->select_error = ev->select_set_error;
    return select(ev->select_max_fd + 1, &ev->select_read, &ev->select_write, &ev->select_error, &timeout);
}

int select_get_revent(fdevents* ev, size_t ndx) {
    const int fd = static_cast<int>(ndx);
    if (!fits(ev, fd)) {
        return 0;
    }
    int events = 0;
    if (FD_ISSET(fd, &ev->select_read)) {
        events |= FDEVENT_IN;
    }
    if (FD_ISSET(fd, &ev->select_write)) {
        events |= FDEVENT_OUT;
    }
    if (FD_ISSET(fd, &ev->select_error)) {
        events |= FDEVENT_ERR;
    }
    return events;
}

int select_get_fd(fdevents*, size_t ndx) { return static_cast<int>(ndx); }

int select_next_fdndx(fdevents* ev, int ndx) {
    for (int fd = ndx < 0 ? 0 : ndx + 1; fd <= ev->select_max_fd; ++fd) {
        if (FD_ISSET(fd, &ev->select_read) || FD_ISSET(fd, &ev->select_write) || FD_ISSET(fd, &ev->select_error)) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

extern "C" int fdevent_select_init(fdevents* ev) {
    ev->type = FDEVENT_HANDLER_SELECT;
    ev->reset = select_reset;
    ev->event_set = select_event_set;
    ev->event_del = select_event_del;
    ev->event_get_revent = select_get_revent;
    ev->event_get_fd = select_get_fd;
    ev->event_next_fdndx = select_next_fdndx;
    ev->poll = select_wait;
    // The wanted sets start empty even if the listeners never call reset.
    select_reset(ev);
    return 0;
}

}  // namespace hx

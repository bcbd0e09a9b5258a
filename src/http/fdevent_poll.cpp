// The poll back end of the event loop: one pollfd slot per registration,
// freed slots reused last-in first-out so the array stays as short as the
// peak number of registrations (slots are never compacted).
#include <poll.h>

#include <cstdlib>

#include "http/errorlog.h"
#include "http/fdevent.h"

namespace hx {

namespace {

constexpr size_t kGrowth = 16;

void poll_free(fdevents* ev) {
    std::free(ev->pollfds);
    ev->pollfds = nullptr;
    std::free(ev->unused.ptr);
    ev->unused.ptr = nullptr;
}

int poll_event_del(fdevents* ev, int fde_ndx, int fd) {
    if (fde_ndx < 0) {
        return -1;
    }
    const auto slot = static_cast<size_t>(fde_ndx);
    if (slot >= ev->used) {
        HTTP_LOG_ERROR(ev->srv, "sdsd", "del! out of range ", fde_ndx, "used:", static_cast<int>(ev->used));
        return -2;
    }
    if (ev->pollfds[slot].fd != fd) {
        HTTP_LOG_ERROR(ev->srv, "sdsdsd", "del! ", fde_ndx, "holds fd", ev->pollfds[slot].fd, "not", fd);
        return -2;
    }
    // The slot's result of the last wait goes too: a walk still under way
    // must not report the deleted descriptor.
    ev->pollfds[slot] = pollfd{-1, 0, 0};
    if (ev->unused.used == ev->unused.size) {
        ev->unused.size += kGrowth;
        ev->unused.ptr = static_cast<int*>(std::realloc(ev->unused.ptr, ev->unused.size * sizeof(int)));
        HTTP_ASSERT(ev->unused.ptr);
    }
    ev->unused.ptr[ev->unused.used++] = fde_ndx;
    return -1;
}

int poll_event_set(fdevents* ev, int fde_ndx, int fd, int events) {
    short wanted = 0;
    if ((events & FDEVENT_IN) != 0) {
        wanted |= POLLIN;
    }
    if ((events & FDEVENT_OUT) != 0) {
        wanted |= POLLOUT;
    }
    if (fde_ndx != -1) {
        const auto slot = static_cast<size_t>(fde_ndx);
        if (fde_ndx < 0 || slot >= ev->used || ev->pollfds[slot].fd != fd) {
            HTTP_LOG_ERROR(ev->srv, "sdsd", "set: ", fde_ndx,
                           "stored fd:", fde_ndx >= 0 && slot < ev->used ? ev->pollfds[slot].fd : -1);
            return -1;
        }
        ev->pollfds[slot].events = wanted;
        return fde_ndx;
    }

    size_t slot = 0;
    if (ev->unused.used > 0) {
        slot = static_cast<size_t>(ev->unused.ptr[--ev->unused.used]);
    } else {
        if (ev->used == ev->size) {
            ev->size += kGrowth;
            ev->pollfds = static_cast<pollfd*>(std::realloc(ev->pollfds, ev->size * sizeof(pollfd)));
            HTTP_ASSERT(ev->pollfds);
        }
        slot = ev->used++;
    }
    ev->pollfds[slot] = pollfd{fd, wanted, 0};
    return static_cast<int>(slot);
}

int poll_wait(fdevents* ev, int timeout_ms) { return poll(ev->pollfds, ev->used, timeout_ms); }

int poll_get_revent(fdevents* ev, size_t ndx) {
    if (ndx >= ev->used) {
        HTTP_LOG_ERROR(ev->srv, "sd", "dying because: event: ", static_cast<int>(ndx));
        return 0;
    }
    const short kernel = ev->pollfds[ndx].revents;
    int events = 0;
    if ((kernel & POLLIN) != 0) {
        events |= FDEVENT_IN;
    }
    if ((kernel & POLLOUT) != 0) {
        events |= FDEVENT_OUT;
    }
    if ((kernel & POLLERR) != 0) {
        events |= FDEVENT_ERR;
    }
    if ((kernel & POLLHUP) != 0) {
        events |= FDEVENT_HUP;
    }
    if ((kernel & POLLPRI) != 0) {
        events |= FDEVENT_PRI;
    }
    if ((kernel & POLLNVAL) != 0) {
        // A slot of a descriptor closed before its deletion: reported as an
        // error too, so the owner's error path removes it instead of the
        // wait returning at once for ever.
        HTTP_LOG_ERROR(ev->srv, "sd", "poll: invalid descriptor in slot", static_cast<int>(ndx));
        events |= FDEVENT_NVAL | FDEVENT_ERR;
    }
    return events;
}

int poll_get_fd(fdevents* ev, size_t ndx) { return ev->pollfds[ndx].fd; }

int poll_next_fdndx(fdevents* ev, int ndx) {
    for (size_t slot = ndx < 0 ? 0 : static_cast<size_t>(ndx) + 1; slot < ev->used; ++slot) {
        if (ev->pollfds[slot].revents != 0) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

}  // namespace

extern "C" int fdevent_poll_init(fdevents* ev) {
    ev->type = FDEVENT_HANDLER_POLL;
    ev->free = poll_free;
    ev->event_set = poll_event_set;
    ev->event_del = poll_event_del;
    ev->event_get_revent = poll_get_revent;
    ev->event_get_fd = poll_get_fd;
    ev->event_next_fdndx = poll_next_fdndx;
    ev->poll = poll_wait;
    return 0;
}

}  // namespace hx

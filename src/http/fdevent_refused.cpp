// The event-loop kinds that exist only as names on this system: each set-up
// logs its refusal and fails, so fdevent_init gives up.
#include "http/errorlog.h"
#include "http/fdevent.h"

namespace hx {

extern "C" {

int fdevent_solaris_devpoll_init(fdevents* ev) {
    HTTP_LOG_ERROR(ev->srv, "S",
                   "solaris-devpoll not supported, try to set server.event-handler = \"poll\" or \"select\"");
    return -1;
}

int fdevent_solaris_port_init(fdevents* ev) {
    HTTP_LOG_ERROR(ev->srv, "S",
                   "solaris-eventports not supported, try to set server.event-handler = \"poll\" or \"select\"");
    return -1;
}

int fdevent_freebsd_kqueue_init(fdevents* ev) {
    HTTP_LOG_ERROR(ev->srv, "S", "kqueue not available, try to set server.event-handler = \"poll\" or \"select\"");
    return -1;
}

int fdevent_libev_init(fdevents* ev) {
    HTTP_LOG_ERROR(ev->srv, "S", "libev not supported, try to set server.event-handler = \"poll\" or \"select\"");
    return -1;
}

}  // extern "C"

}  // namespace hx

// The event loop of the HTTP server: one `fdevents` object over the epoll,
// poll or select back end, waited on by the server thread's main loop.
//
// Only the release needed by server_free is here yet; the back ends come with
// the event loop itself. HTTP server thread only.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

// Releases the event loop; null is accepted. No event loop is created yet,
// so there is never anything else to release.
void fdevent_free(fdevents* ev);

}  // extern "C"

}  // namespace hx

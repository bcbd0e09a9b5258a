// Start of the web interface: the download links and the HTTP server thread.
#pragma once

#include "core/types.h"

namespace hx {

// Result of starting (and restarting) the HTTP server.
enum vkWebErrCode : U32 {
    WEB_SUCCESS = 0,
    WEB_FAILURE = 1,
    WEB_TIMEOUT = 2,
    WEB_RESTART_SUCCESS = 3,
    WEB_RESTART_FAILURE = 4,
};

// Creates the proxy links, then starts the HTTP server thread detached.
// WEB_SUCCESS, or WEB_FAILURE (logged) when the thread cannot be started.
U32 Web_Start();
// The per-slot links under "/vandik_app/web/" that lead back to the web root.
void Web_ProxyPathCreate();

}  // namespace hx

// The HTTP server thread: start-up (configuration, plugins, limits,
// listeners, signals), the event loop and the exit path. The web application
// starts it detached and never joins it.
//
// The stop flags are atomics: the signal handler and other threads
// (`webserver_shutdown`, `webserver_isServerClose`) only store or read them.
#pragma once

#include <signal.h>

#include "http/http_base.h"

namespace hx {

extern "C" {

// The thread body; argc and argv are not read. 0 after a clean shutdown, -1
// when start-up failed.
int webserver_configuration(int argc, char** argv);
// true stops the loop when the current turn is over; false clears both stop
// flags before a restart. 0.
int webserver_shutdown(bool isShutDown);
// true once the thread has left its loop and freed the server.
bool webserver_isServerClose(void);

void sigaction_handler(int sig, siginfo_t* si, void* context);

}  // extern "C"

}  // namespace hx

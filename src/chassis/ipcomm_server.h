// Inter-board server: the thread `IPComm_Server_Service` listens at the run
// profile's listening address and inter-board port (backlog 16), serves one
// connection at a time (read one packet, parse, dispatch, close) and runs for
// the life of the process. A failed port set-up is logged and retried every
// 5 s (TheClock()). A peer that stalls holds the server at most the profile's
// server time-out.
//
// The thread alone touches the listening socket and the reassembly store; the
// bound port and the running state are atomics read by other threads.
#pragma once

#include "core/types.h"

namespace hx {

U32 IPServer_Start();
void* IPComm_Server_Service(void* argument);

// The port the server listens on (the profile's, or the one the system chose
// for port 0); 0 until it listens. Waits at most `limitMs` of real time.
U16 IPServer_WaitListening(int limitMs = 5000);
// Tests only: ends the server thread and waits for it, closing the port.
void IPServer_Stop();

}  // namespace hx

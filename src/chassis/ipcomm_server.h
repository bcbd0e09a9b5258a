// Inter-board server: the thread `IPComm_Server_Service` listens at the run
// profile's listening address and inter-board port (backlog 16), serves one
// connection at a time (read one packet, parse, dispatch, close) and runs for
// the life of the process. A failed port set-up is logged and retried every
// 5 s (TheClock()). A failed accept (no descriptor left and the like) is
// logged once per kind of failure and tried again after a pause of
// kIPServerAcceptRetryMicros (TheClock()), never in a spin. A peer that
// stalls holds the server at most the profile's server time-out.
//
// The thread alone touches the listening socket and the reassembly store; the
// thread count, bound port and running state sit behind one internal mutex.
// There is never more than one server thread: a start while one runs does
// nothing, and a start after a stop waits until the stopped thread has gone.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace hx {

constexpr std::uint64_t kIPServerAcceptRetryMicros = 100'000;

U32 IPServer_Start();
void* IPComm_Server_Service(void* argument);

// The port the server listens on (the profile's, or the one the system chose
// for port 0); 0 until it listens. Waits at most `limitMs` of real time.
U16 IPServer_WaitListening(int limitMs = 5000);
// Tests only: ends the server thread and waits until it has gone, closing the
// port; a thread in the set-up retry ends when its pause does.
void IPServer_Stop();
// Tests only: server threads alive (0 or 1).
U32 IPServer_Threads();

}  // namespace hx

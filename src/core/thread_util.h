// Starting the card's service threads: every one is created detached and never
// joined, because the process only ends when the board is reset.
#pragma once

namespace hx {

using ThreadEntry = void* (*)(void*);

// Creates a detached thread. Returns 0 or the pthread error number.
int Thread_StartDetached(ThreadEntry entry, void* argument);

}  // namespace hx

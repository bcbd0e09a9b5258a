// Tick timer: a thread that counts ticks of the PSI/SI interval, which the SI
// packet sender waits for to pace the carousel.
//
// The counter is written by the tick thread only and read by the SI sender
// without a lock (an atomic, stored with release and read with acquire, so a
// reader that sees a count also sees what the tick thread did before it). The
// tick thread notifies each change (a mutex and condition variable of the
// timer's own), so the sender sleeps until the next tick instead of polling.
// Sleeping goes through TheClock(), so tests step ticks in virtual time.
#pragma once

#include <atomic>

#include "core/types.h"

namespace hx {

extern std::atomic<U32> g_u32uSec;
extern std::atomic<U32> g_u32TimerCnt;
extern std::atomic<BOOL> g_TimerEnd_flag;

// The counter restarts at 0 once it passes this value.
constexpr U32 kTimerCountLimit = 0xFFFFFFEF;

U32 Timer_usleep(U32 u32uSec);
void Timer_Init(U32 u32uSec);
U32 Timer_Start(U32 u32uSec);
void Timer_End();
U32 GetTimeCnt();
// Blocks until the counter differs from `u32Seen` (at once when it already
// does). Only the tick thread's changes wake a waiter.
void Timer_WaitTick(U32 u32Seen);

}  // namespace hx

// The 160T status poll: a detached thread started by start-up (step 21) that
// waits 100 s, then polls the 160T's status every 5 s for the life of the
// process (temperature, per-channel rates, the over-temperature guard of
// platform/z160t_status.h).
//
// A turn is skipped while g_isSetQamPara (platform/qam_apply.h) says a
// parameter burst is under way; the link's lock keeps the poll's exchange out
// of a burst that starts meanwhile. Every wait goes through TheClock().
#pragma once

#include <cstdint>

#include "core/types.h"

namespace hx {

constexpr std::uint64_t kQamPollFirstWaitMicros = 100'000'000;
constexpr std::uint64_t kQamPollPeriodMicros = 5'000'000;
// "Communication With 160T Sucess" is logged (DEBUG) on every 5th poll.
constexpr U32 kQamPollLogEvery = 5;
// The poll counter goes back to 0 after this value.
constexpr U32 kQamPollCounterLast = 0xFFFFFFFE;

// Starts the poll thread: 0, or 1 when it could not be started.
U32 QAM160TComm_Start();

// Body of the poll thread.
void* QAM160TComm_Service(void* argument);

// One turn of the poll with its counter: polls unless a burst is under way
// (then returns false and leaves the counter), counts the poll and logs on
// every 5th.
bool QAM160TComm_PollTurn(U32& u32Polls);

// The counter after one more poll: 0 follows 0xFFFFFFFE.
U32 QAM160TComm_NextPollCount(U32 u32Polls);

// For tests, which run the body in a thread of their own (the card never
// stops it): the body ends after its current wait.
void QAM160TComm_RequestStop();

}  // namespace hx

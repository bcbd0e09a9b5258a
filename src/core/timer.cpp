#include "core/timer.h"

#include <pthread.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"

namespace hx {

std::atomic<U32> g_u32uSec{0};
std::atomic<U32> g_u32TimerCnt{0};
std::atomic<BOOL> g_TimerEnd_flag{1};

namespace {

// Wakes the waiters of Timer_WaitTick. The counter changes under the mutex, so
// a waiter that has just found it unchanged is asleep before the notify.
std::mutex s_tickMutex;
std::condition_variable s_tickChanged;

void SetCount(U32 count) {
    // Notified under the mutex, and the count stored last with release: a
    // thread that takes the mutex next, or that reads this count (the end of
    // a test's timer, before the clock and these statics go), comes after the
    // notify and after this thread's sleep on the clock. A woken waiter reads
    // the count only once it has the mutex, so it finds the new one.
    std::lock_guard lock(s_tickMutex);
    s_tickChanged.notify_all();
    g_u32TimerCnt.store(count, std::memory_order_release);
}

void* Timer_Service(void*) {
    while (g_TimerEnd_flag != 1) {
        Timer_usleep(g_u32uSec);
        U32 count = g_u32TimerCnt.load(std::memory_order_relaxed) + 1;
        if (count > kTimerCountLimit) {
            count = 0;
        }
        SetCount(count);
    }
    SetCount(0);
    return nullptr;
}

}  // namespace

U32 Timer_usleep(U32 u32uSec) {
    TheClock().SleepMicros(u32uSec);
    return 0;
}

void Timer_Init(U32 u32uSec) { g_u32uSec = u32uSec; }

U32 Timer_Start(U32 u32uSec) {
    // Test and claim in one step: two starters must never both see the timer
    // free and start two tick threads.
    BOOL stopped = 1;
    if (!g_TimerEnd_flag.compare_exchange_strong(stopped, 0)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Timer is occupy\n");
        return 0;
    }
    g_u32uSec = u32uSec;
    pthread_t thread{};
    int result = pthread_create(&thread, nullptr, Timer_Service, nullptr);
    if (result != 0) {
        g_TimerEnd_flag = 1;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Timer thread create error :%s(errno: %d)\n", std::strerror(result), result);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Timer create successfully!\n");
    result = pthread_detach(thread);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Timer thread detach error :%s(errno: %d)\n", std::strerror(result), result);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Timer thread detach successfully!\n");
    return 0;
}

void Timer_End() { g_TimerEnd_flag = 1; }

U32 GetTimeCnt() { return g_u32TimerCnt.load(std::memory_order_acquire); }

void Timer_WaitTick(U32 u32Seen) {
    // A plain sleep on a condition variable: no spinning before it, which on
    // the card's processor would cost more than the tick's own work.
    std::unique_lock lock(s_tickMutex);
    s_tickChanged.wait(lock, [u32Seen] { return g_u32TimerCnt.load(std::memory_order_relaxed) != u32Seen; });
}

}  // namespace hx

// Starters of the tick timer racing each other, as start-up and a second
// caller could: exactly one tick thread may come of it.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/timer.h"
#include "support/test_env.h"

namespace hx {
namespace {

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(TimerTest, StartersRacingEachOtherStartOneThread) {
    test::TestEnvironment env;
    log_Init(kMainLogPath);
    env.clock().SetAutoAdvance(false);
    constexpr int kStarters = 8;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        env.TakeConsole();
        const std::size_t sleepsBefore = env.clock().SleepHistory().size();
        std::latch ready(kStarters);
        std::vector<std::thread> starters;
        for (int i = 0; i < kStarters; ++i) {
            starters.emplace_back([&] {
                ready.arrive_and_wait();
                Timer_Start(1'000);
            });
        }
        for (std::thread& starter : starters) {
            starter.join();
        }
        const std::string console = env.TakeConsole();
        EXPECT_EQ(1u, Occurrences(console, "Timer create successfully!"));
        EXPECT_EQ(kStarters - 1u, Occurrences(console, "Timer is occupy"));

        // Stop the one thread (parked in its first sleep) before the next round.
        env.clock().WaitForSleepCalls(sleepsBefore + 1);
        g_u32TimerCnt = 7;
        Timer_End();
        env.clock().Advance(1'000);
        // The thread's last write: acquire it, so its earlier work on the
        // clock happens before the next round (or the clock's end).
        while (g_u32TimerCnt.load(std::memory_order_acquire) != 0) {
            std::this_thread::yield();
        }
    }
}

}  // namespace
}  // namespace hx

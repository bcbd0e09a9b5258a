#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "core/timer.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(TimerTest, TicksInVirtualTimeWrapsAndRefusesASecondStart) {
    test::TestEnvironment env;
    log_Init(kMainLogPath);
    env.TakeConsole();
    env.clock().SetAutoAdvance(false);
    const std::size_t sleepsBefore = env.clock().SleepHistory().size();

    ASSERT_EQ(0u, Timer_Start(100'000));
    EXPECT_NE(std::string::npos, env.Console().find("Timer create successfully!"));
    env.clock().WaitForSleepCalls(sleepsBefore + 1);
    EXPECT_EQ(0u, GetTimeCnt());

    env.clock().Advance(100'000);
    env.clock().WaitForSleepCalls(sleepsBefore + 2);
    EXPECT_EQ(1u, GetTimeCnt());

    // A second start while the thread runs changes nothing, not even the period.
    env.TakeConsole();
    EXPECT_EQ(0u, Timer_Start(5));
    EXPECT_NE(std::string::npos, env.Console().find("Timer is occupy"));
    EXPECT_EQ(100'000u, g_u32uSec.load());

    // Past 0xFFFFFFEF the counter restarts at 0.
    g_u32TimerCnt = kTimerCountLimit;
    env.clock().Advance(100'000);
    env.clock().WaitForSleepCalls(sleepsBefore + 3);
    EXPECT_EQ(0u, GetTimeCnt());

    // A new period takes effect from the next tick; a waiter on the counter
    // sleeps until that tick wakes it, and one that saw an older value
    // returns at once.
    Timer_Init(250'000);
    const U32 seen = GetTimeCnt();
    auto waiter = std::async(std::launch::async, [seen] { Timer_WaitTick(seen); });
    EXPECT_EQ(std::future_status::timeout, waiter.wait_for(std::chrono::milliseconds(20)));
    env.clock().Advance(100'000);
    env.clock().WaitForSleepCalls(sleepsBefore + 4);
    EXPECT_EQ(250'000u, env.clock().SleepHistory().back());
    ASSERT_EQ(std::future_status::ready, waiter.wait_for(std::chrono::seconds(30))) << "the tick woke the waiter";
    EXPECT_EQ(seen + 1, GetTimeCnt());
    Timer_WaitTick(seen);

    // Stop: the thread ends after its current sleep and clears the counter.
    g_u32TimerCnt = 7;
    Timer_End();
    env.clock().Advance(250'000);
    while (GetTimeCnt() != 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(sleepsBefore + 4, env.clock().SleepHistory().size()) << "no sleep after the end";
}

}  // namespace
}  // namespace hx

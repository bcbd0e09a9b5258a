// The clocks other than the system's: the fast clock a simulated board's run
// may take instead of real time, and the virtual clock's real-time cap on the
// waits of a test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "core/clock.h"

namespace hx {
namespace {

TEST(FastClockTest, SleepsShorterWhileItsTimeRunsAsFastAndTheWallClockStaysTrue) {
    FastClock clock(1000);
    SystemClock real;
    const std::uint64_t fastBefore = clock.MonotonicMicros();
    const std::uint64_t realBefore = real.MonotonicMicros();
    clock.SleepMicros(5'000'000);  // 5 ms of real time
    const std::uint64_t fastElapsed = clock.MonotonicMicros() - fastBefore;
    const std::uint64_t realElapsed = real.MonotonicMicros() - realBefore;
    EXPECT_GE(fastElapsed, 5'000'000u) << "a deadline of the sleep's length has passed on the clock";
    EXPECT_LT(realElapsed, 2'500'000u) << "far less real time than the sleep asked for";
    EXPECT_LE(std::abs(clock.WallTime().tv_sec - real.WallTime().tv_sec), 1);
}

TEST(FastClockTest, SpeedUpZeroIsRealTime) {
    FastClock clock(0);
    SystemClock real;
    const std::uint64_t realBefore = real.MonotonicMicros();
    const std::uint64_t before = clock.MonotonicMicros();
    clock.SleepMicros(2000);
    EXPECT_GE(clock.MonotonicMicros() - before, 2000u);
    EXPECT_GE(real.MonotonicMicros() - realBefore, 2000u);
}

using VirtualClockDeathTest = ::testing::Test;

// A thread the test waits for that never sleeps ends the test with a message,
// not at the test runner's time limit.
TEST_F(VirtualClockDeathTest, WaitsOfTheTestGiveUpAfterTheRealTimeCap) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    VirtualClock clock;
    clock.SetRealTimeCap(std::chrono::milliseconds(50));
    EXPECT_DEATH(clock.WaitForSleepers(1), "VirtualClock: waited 50 ms of real time for 1 threads asleep on it; 0 are");
    clock.SetAutoAdvance(true);
    clock.SleepMicros(10);
    EXPECT_DEATH(clock.WaitForSleepCalls(3), "waited 50 ms of real time for sleep call 3 on it; 1 were made");
    clock.WaitForSleepCalls(1);  // reached: returns at once
}

}  // namespace
}  // namespace hx

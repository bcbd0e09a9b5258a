// The status LED's threads on the virtual clock: the red blinker of the
// start-up, and the monitor that takes over from it and reports each pass to
// the back board.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "chassis/ipcomm.h"
#include "platform/fpga_reg.h"
#include "platform/led.h"
#include "support/ipcomm_recorder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr std::uint64_t kSecond = 1'000'000;

class LedThreadTest : public ::testing::Test {
protected:
    // The blinker and monitor threads are held at their sleeps and released
    // one step at a time.
    void SetUp() override { env.clock().SetAutoAdvance(false); }

    void TearDown() override {
        // Leave no blinker behind on this test's clock.
        FPGA_LEDfresh_Stop();
        std::atomic<bool> ended{false};
        std::thread waiter([&] {
            FPGA_LEDfresh_WaitEnded();
            ended = true;
        });
        while (!ended) {
            env.clock().Advance(kSecond);
            std::this_thread::yield();
        }
        waiter.join();
    }

    // Lets the blinker or monitor run up to its next sleep.
    void StepTo(std::size_t sleepCalls) { env.clock().WaitForSleepCalls(sleepCalls); }

    std::vector<std::pair<std::uint64_t, U32>> History() {
        std::vector<std::pair<std::uint64_t, U32>> history;
        for (const sim::LedChange& change : board.fpga().led().History()) {
            history.emplace_back(change.micros - start, change.value);
        }
        return history;
    }

    test::TestEnvironment env;
    test::SimBoard board;
    test::ChassisPeers peers;
    const std::uint64_t start = env.clock().MonotonicMicros();
};

TEST_F(LedThreadTest, BlinkerShowsRedAndOffEachSecondUntilStopped) {
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    for (std::size_t sleep = 1; sleep <= 5; ++sleep) {
        StepTo(sleep);
        env.clock().Advance(kSecond);
    }
    StepTo(6);
    FPGA_LEDfresh_Stop();  // during the off second of the third cycle
    env.clock().Advance(kSecond);
    FPGA_LEDfresh_WaitEnded();
    const std::vector<std::pair<std::uint64_t, U32>> expected = {
        {0, 3}, {0, 0}, {kSecond, 3}, {2 * kSecond, 0}, {3 * kSecond, 3}, {4 * kSecond, 0}, {5 * kSecond, 3}};
    EXPECT_EQ(expected, History());
    EXPECT_EQ(std::vector<std::uint64_t>(6, kSecond), env.clock().SleepHistory());
    EXPECT_NE(env.Console().find("Stop Red LED Fresh"), std::string::npos);
    const std::string log = env.ReadText("/sim/led.log");
    EXPECT_NE(log.find("red"), std::string::npos);
    EXPECT_NE(log.find("off"), std::string::npos);
}

TEST_F(LedThreadTest, BlinkerRunsAtLeastOneCycle) {
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    FPGA_LEDfresh_Stop();
    StepTo(1);
    env.clock().Advance(kSecond);
    StepTo(2);
    env.clock().Advance(kSecond);
    FPGA_LEDfresh_WaitEnded();
    const std::vector<std::pair<std::uint64_t, U32>> expected = {{0, 3}, {0, 0}, {kSecond, 3}};
    EXPECT_EQ(expected, History());
}

// The monitor takes over from the blinker only once the blinker has ended, so
// the blinker's last "off" comes before the monitor's first colour; then it
// reports normal to the back board on every pass.
TEST_F(LedThreadTest, MonitorSetsItsColourAfterTheBlinkerAndReportsEachPass) {
    IPComm_TakeRecordedSends();
    ASSERT_EQ(0u, FPGA_LEDRedfresh_Start());
    StepTo(1);  // red, in the first second
    ASSERT_EQ(0u, LED_TaskMonitoring());
    while (FPGA_LEDfresh_IsSet()) {
        std::this_thread::yield();  // until the monitor has told the blinker to stop
    }
    env.clock().Advance(kSecond);
    StepTo(2);  // off
    env.clock().Advance(kSecond);
    StepTo(3);  // the blinker has ended; the monitor's first pass is done
    const std::vector<std::pair<std::uint64_t, U32>> expected = {{0, 3}, {0, 0}, {kSecond, 3}, {2 * kSecond, 1}};
    EXPECT_EQ(expected, History());
    std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(16u, sends[0].slot);
    EXPECT_EQ(IPCOMM_SEND_INDSTATUS, sends[0].command);
    EXPECT_EQ(std::vector<U8>{kLedReportNormal}, sends[0].data);

    env.clock().Advance(5 * kSecond);
    StepTo(4);
    sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size()) << "a report on every pass";
    EXPECT_EQ(std::vector<U8>{kLedReportNormal}, sends[0].data);
    EXPECT_EQ(1u, board.fpga().Peek(kRegLed));
    EXPECT_EQ(5 * kSecond, env.clock().SleepHistory().back());

    LED_MonitorRequestStop();
    env.clock().Advance(5 * kSecond);
    LED_MonitorWaitEnded();
}

}  // namespace
}  // namespace hx

// The QAM set's applies and the 160T status poll on threads of their own: the
// poll thread's timing on the virtual clock, and applies beside polls.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/qam_fixture.h"
#include "platform/z160t_frame.h"
#include "platform/z160t_status.h"
#include "platform/z160t_uart.h"

namespace hx {
namespace {

using test::QamTest;
constexpr std::uint64_t kSecond = 1'000'000;

// Two applies and the status poll in three threads: each burst reaches the
// 160T whole, and no exchange fails.
TEST_F(QamTest, ConcurrentAppliesAndPollsNeverInterleave) {
    constexpr int kPolls = 100;
    TParameter_QAM oldA = *live;
    TParameter_QAM newA = *live;
    TParameter_QAM oldB = *live;
    TParameter_QAM newB = *live;
    for (U32 channel = 0; channel < 8; ++channel) {
        newA.Frequency[channel].value = 500'000 + channel;
        newB.Scale[channel].value = 60 + channel;
    }
    U32 resultA = 99;
    U32 resultB = 99;
    std::vector<U32> polls;
    testing::internal::CaptureStdout();
    std::thread applyA([&] { resultA = QAM160T_ParamsProcess(&oldA, &newA); });
    std::thread applyB([&] { resultB = QAM160T_ParamsProcess(&oldB, &newB); });
    std::thread poller([&] {
        for (int i = 0; i < kPolls; ++i) {
            polls.push_back(Z160T_UartComm_GetState());
        }
    });
    applyA.join();
    applyB.join();
    poller.join();
    testing::internal::GetCapturedStdout();

    EXPECT_EQ(0u, resultA);
    EXPECT_EQ(0u, resultB);
    EXPECT_EQ(std::vector<U32>(kPolls, VK_160TUART_SUCCESS), polls);
    const std::vector<sim::Burst160T> bursts = fpga160t.Bursts();
    ASSERT_EQ(2u, bursts.size());
    for (const sim::Burst160T& burst : bursts) {
        EXPECT_FALSE(burst.interrupted);
        EXPECT_EQ(8u, burst.pairs.size());
        EXPECT_TRUE(burst.end.has_value());
    }
    const std::string console = env.Console();
    EXPECT_EQ(std::string::npos, console.find("Time Out"));
    EXPECT_EQ(std::string::npos, console.find("ACK Fail"));
    EXPECT_EQ(std::string::npos, console.find("Error"));
    EXPECT_EQ(2u, saved.size());
}

// The poll thread, held at its sleeps: the first poll at 100 s, the next
// 5 s after the previous turn, none while a burst is under way.
TEST_F(QamTest, PollThreadWaits100SecondsThenPollsEvery5) {
    env.clock().SetAutoAdvance(false);
    const std::uint64_t start = env.clock().MonotonicMicros();
    std::size_t sleeps = 0;
    // Lets the thread reach its next sleep and returns its length.
    auto nextSleep = [&] {
        env.clock().WaitForSleepCalls(++sleeps);
        return env.clock().SleepHistory().back();
    };
    std::thread poller(QAM160TComm_Service, nullptr);

    EXPECT_EQ(100 * kSecond, nextSleep());
    EXPECT_TRUE(fpga160t.Frames().empty());
    env.clock().Advance(100 * kSecond);
    EXPECT_EQ(1'000u, nextSleep()) << "STATUS written, 1 ms before its reply is read";
    env.clock().Advance(1'000);
    EXPECT_EQ(5 * kSecond, nextSleep());
    env.clock().Advance(5 * kSecond);
    EXPECT_EQ(1'000u, nextSleep());
    env.clock().Advance(1'000);
    EXPECT_EQ(5 * kSecond, nextSleep());

    std::vector<std::uint64_t> polledAt;
    for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
        EXPECT_EQ(UART160T_CMD_STATUS, frame.command);
        polledAt.push_back(frame.micros - start);
    }
    EXPECT_EQ((std::vector<std::uint64_t>{100 * kSecond, 105 * kSecond + 1'000}), polledAt);

    g_isSetQamPara.store(1);
    env.clock().Advance(5 * kSecond);
    EXPECT_EQ(5 * kSecond, nextSleep()) << "a turn during a burst goes straight back to sleep";
    EXPECT_EQ(2u, fpga160t.Frames().size());
    g_isSetQamPara.store(0);

    QAM160TComm_RequestStop();
    env.clock().Advance(5 * kSecond);
    poller.join();
    EXPECT_EQ(2u, fpga160t.Frames().size());
}

}  // namespace
}  // namespace hx

// The SI sender's wait for the tick against the real tick timer thread in
// virtual time: every tick wakes the sender for exactly one step (one PAT
// record reaches the simulated FPGA per tick), and between ticks it sleeps.
// ThreadSanitizer (./scripts/test's third stage) checks the hand-over of the
// counter between the two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "core/timer.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "si/si_packet.h"
#include "support/model_builder.h"
#include "support/psi_sections.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr U32 kTicks = 20;
constexpr U32 kPeriodMicros = 100'000;

// Waits, in real time and bounded, until `value` reaches `wanted`.
bool Reaches(const std::atomic<U32>& value, U32 wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (value.load() < wanted && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    return value.load() >= wanted;
}

TEST(SenderWakeTest, EveryTickOfTheTimerWakesTheSenderForOneStep) {
    test::TestEnvironment env;
    env.clock().SetAutoAdvance(false);
    test::SimBoard board;
    test::ScopedSharedModels models({4, 16, 16, 0, 16, 0});
    SSD_ResetForTest();
    std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
    U16 ts = 0;
    {
        TSP_ModelLock lock;
        ts = test::ModelBuilder(TSP_GetTSParam()).AddStream(1);
    }
    const std::vector<U8> pat = test::LongSection(0x00, 1, 0, 0, 16);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), static_cast<U16>(pat.size()), ts, 0));

    const std::size_t sleepsBefore = env.clock().SleepHistory().size();
    ASSERT_EQ(0u, Timer_Start(kPeriodMicros));
    env.clock().WaitForSleepCalls(sleepsBefore + 1);

    // What SIPacket_Service does, for a counted number of ticks.
    std::atomic<U32> steps{0};
    std::atomic<U32> wakeUps{0};
    const U32 start = GetTimeCnt();  // read before the first tick, whenever the thread gets going
    std::thread sender([&] {
        SIPacketSenderState state;
        state.u32LastTick = start;
        while (steps.load() < kTicks) {
            Timer_WaitTick(state.u32LastTick);
            ++wakeUps;
            if (SIPacket_ServiceStep(state)) {
                ++steps;
            }
        }
    });
    for (U32 tick = 1; tick <= kTicks; ++tick) {
        env.clock().Advance(kPeriodMicros);
        env.clock().WaitForSleepCalls(sleepsBefore + 1 + tick);
        ASSERT_TRUE(Reaches(steps, tick)) << "tick " << tick << " did not wake the sender";
        EXPECT_EQ(tick, board.fpga().siInsertion().Accepted()) << "one PAT record per tick";
    }
    sender.join();
    EXPECT_EQ(kTicks, wakeUps.load()) << "the sender woke only for the ticks";

    // The timer thread ends after its current sleep and clears the counter,
    // its last touch of the clock before the environment takes it away. The
    // wait goes through Timer_WaitTick, which orders it after that.
    Timer_End();
    env.clock().Advance(kPeriodMicros);
    std::promise<void> ended;
    std::thread([&ended] {
        Timer_WaitTick(kTicks);
        ended.set_value();
    }).detach();
    ASSERT_EQ(std::future_status::ready, ended.get_future().wait_for(std::chrono::seconds(30)))
        << "the timer thread did not end";
    EXPECT_EQ(0u, GetTimeCnt());
    SSD_ResetForTest();
}

}  // namespace
}  // namespace hx

// The SI sender's time tables while another thread holds the model lock: they
// wait one tick, not a whole period.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "engine/model_lock.h"
#include "si/sender_fixture.h"
#include "si/si_packet.h"

namespace hx {
namespace {

using test::SenderTest;

TEST_F(SenderTest, BusyModelDelaysADueSttByOneTick) {
    SetAtsc(true);
    AddStream(2);
    EXPECT_TRUE(TicksSending(kPsipPid, 9).empty());

    std::promise<void> locked;
    std::promise<void> release;
    std::thread holder([&] {
        TSP_ModelLock lock;
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    g_u32TimerCnt = 10;
    EXPECT_TRUE(SIPacket_ServiceStep(state));
    EXPECT_FALSE(SentOn(kPsipPid)) << "the apply holds the model: no time tables this tick";
    release.set_value();
    holder.join();

    std::vector<U32> ticks;
    for (U32 tick = 11; tick <= 30; ++tick) {
        g_u32TimerCnt = tick;
        SIPacket_ServiceStep(state);
        if (SentOn(kPsipPid)) {
            ticks.push_back(tick);
        }
    }
    EXPECT_EQ((std::vector<U32>{11, 20, 29}), ticks);
}

}  // namespace
}  // namespace hx

// The SI sender stepped on virtual ticks: one step per tick change, the STT
// and TDT/TOT periods for short and long PSI intervals, and the time tables
// delayed by one tick (not a period) when another thread holds the model lock.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "si/si_packet.h"
#include "si_fixture.h"

namespace hx {
namespace {

using test::RecordPid;

class SenderTest : public test::SiBoardTest {
protected:
    // Steps ticks 1..last; the ticks at which a record on `pid` went out.
    std::vector<U32> TicksSending(U16 pid, U32 last) {
        std::vector<U32> ticks;
        for (U32 tick = 1; tick <= last; ++tick) {
            g_u32TimerCnt = tick;
            EXPECT_TRUE(SIPacket_ServiceStep(state));
            if (SentOn(pid)) {
                ticks.push_back(tick);
            }
        }
        return ticks;
    }

    bool SentOn(U16 pid) {
        bool found = false;
        for (const auto& record : Sent()) {
            found = found || RecordPid(record) == pid;
        }
        return found;
    }

    SIPacketSenderState state;
};

TEST_F(SenderTest, NothingHappensUntilTheTickChanges) {
    const U16 ts = AddStream(1);
    const auto pat = test::LongSection(0x00, 1, 0, 0, 16);
    ASSERT_EQ(0u, SSD_AddBroadcastSI(pat.data(), 16, ts, 0));
    EXPECT_FALSE(SIPacket_ServiceStep(state));
    EXPECT_TRUE(Sent().empty());
    g_u32TimerCnt = 1;
    EXPECT_TRUE(SIPacket_ServiceStep(state));
    EXPECT_FALSE(SIPacket_ServiceStep(state));
    EXPECT_EQ(1u, Sent().size());
}

TEST_F(SenderTest, SttEveryNineTicksAtTheDefaultIntervalWithZeroRefused) {
    SetAtsc(true);
    AddStream(2);
    TSP_SetPSIInterval(0);  // kept at 100 ms
    EXPECT_EQ((std::vector<U32>{10, 19, 28, 37}), TicksSending(kPsipPid, 40));
}

TEST_F(SenderTest, TdtAndTotEvery150TicksAtTheDefaultInterval) {
    const U16 ts = AddStream(2);
    LiveStream(ts).u8TDTGenerate = 1;
    EXPECT_EQ((std::vector<U32>{151, 301}), TicksSending(kTdtTotPid, 310));
}

struct LongInterval {
    U16 interval;
    bool atsc;
    U16 pid;
};

// Up to 10,000 ms can be set: the periods never fall to 0 ticks.
TEST_F(SenderTest, LongIntervalsSendTheTimeTablesEveryTickFromTheSecond) {
    const std::vector<LongInterval> cases = {{1000, true, kPsipPid}, {10000, true, kPsipPid}, {15001, false, kTdtTotPid}};
    for (const LongInterval& c : cases) {
        SCOPED_TRACE(c.interval);
        state = {};
        SetAtsc(c.atsc);
        AddStream(6);
        ASSERT_EQ(0u, TSP_SetPSIInterval(c.interval));
        EXPECT_EQ((std::vector<U32>{2, 3, 4, 5}), TicksSending(c.pid, 5));
    }
}

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

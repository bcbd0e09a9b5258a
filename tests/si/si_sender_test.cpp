// The SI sender stepped on virtual ticks: one step per tick change, and the
// STT and TDT/TOT periods for short and long PSI intervals.
#include <gtest/gtest.h>

#include <vector>

#include "si/sender_fixture.h"
#include "si/si_packet.h"

namespace hx {
namespace {

using test::SenderTest;

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

}  // namespace
}  // namespace hx

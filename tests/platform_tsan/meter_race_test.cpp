// Two readers of the rate meters at once, as the web reports and the IP
// monitor set-up read them: each selects its channel and reads the count, so
// both steps must be under one lock or a reader gets the other's channel.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/fpga_meter.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(MeterRaceTest, ConcurrentReadersNeverSeeAnotherChannel) {
    test::TestEnvironment env;
    test::SimBoard board;
    struct Channel {
        U16 number;
        U32 count;  // packets per meter period
        U32 kbps;   // what the card reports for it
    };
    const Channel channels[] = {{1, 1000, 1504}, {2, 2000, 3008}};
    for (const Channel& c : channels) {
        board.fpga().meters().SetChannelCounts(c.number, c.count, c.count);
        board.fpga().meters().SetPidCounts(c.number, 0x100, c.count, c.number);
    }
    std::atomic<int> wrong{0};
    auto reader = [&](const Channel& c) {
        for (int i = 0; i < 2000; ++i) {
            U32 configured = 0, effective = 0, rate = 0;
            U8 continuity = 0;
            FPGA_GetChannelBitRate(c.number, &configured, &effective);
            FPGA_GetPIDBitInfo(c.number, 0x100, &rate, &continuity);
            if (configured != c.kbps || effective != c.kbps || rate != c.kbps || continuity != c.number) {
                ++wrong;
            }
        }
    };
    std::thread first(reader, channels[0]);
    std::thread second(reader, channels[1]);
    first.join();
    second.join();
    EXPECT_EQ(0, wrong.load());
}

}  // namespace
}  // namespace hx

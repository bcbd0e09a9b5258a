// The SI sender stepped by hand on virtual ticks, on the SI tests' board.
#pragma once

#include <vector>

#include "si/si_fixture.h"
#include "si/si_packet.h"

namespace hx::test {

class SenderTest : public SiBoardTest {
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

}  // namespace hx::test

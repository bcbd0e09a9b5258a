// The simulated 160T on its own, behind a bare UART hook: how it parses,
// what it answers and keeps, and the hook's late replies and full FIFO.
#include <gtest/gtest.h>

#include <vector>

#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "sim/fpga160t.h"
#include "sim/uart160t_hook.h"
#include "support/test_env.h"

namespace hx::sim {
namespace {

using Bytes = std::vector<U8>;

Bytes Frame(U8 sequence, U8 command, const Bytes& data) {
    Bytes frame(8 + data.size() + 4);
    PutLe32(frame.data(), 0x47474747);
    frame[4] = sequence;
    frame[5] = command;
    PutLe16(frame.data() + 6, static_cast<U16>(data.size()));
    std::copy(data.begin(), data.end(), frame.begin() + 8);
    PutLe32(frame.data() + 8 + data.size(),
            Common_CRC_Calculate(frame.data() + 4, static_cast<U32>(4 + data.size()), kCrcInitLinks));
    return frame;
}

Bytes Pair(U32 address, U32 value) {
    Bytes data(8);
    PutLe32(data.data(), address);
    PutLe32(data.data() + 4, value);
    return data;
}

class Fpga160TTest : public ::testing::Test {
protected:
    void Send(const Bytes& bytes) {
        for (U8 byte : bytes) {
            hook.Write(kRegUartTransmitByte, byte);
            hook.Write(kRegUartTransmitPush, 0);
            hook.Write(kRegUartTransmitPush, 1);
            hook.Write(kRegUartTransmitPush, 0);
        }
    }
    // Everything the card can read now.
    Bytes Replies() {
        Bytes bytes;
        while (hook.Read(kRegUartReceiveEmpty) == 0u) {
            bytes.push_back(static_cast<U8>(*hook.Read(kRegUartReceiveByte)));
            hook.Write(kRegUartReceivePop, 1);
            hook.Write(kRegUartReceivePop, 0);
        }
        return bytes;
    }

    test::TestEnvironment env;
    Uart160THook hook;
    Fpga160T fpga{hook};
};

TEST_F(Fpga160TTest, DropsBadCrcAndStrayBytesThenAnswersTheNextGoodFrame) {
    Bytes broken = Frame(1, k160TParameters, Pair(256, 32));
    broken[10] ^= 0xFF;
    Send({0x00, 0x47, 0x13});
    Send(broken);
    EXPECT_TRUE(Replies().empty());
    EXPECT_EQ(1u, fpga.DroppedFrames());
    EXPECT_TRUE(fpga.ParameterMap().empty());

    Send(Frame(2, k160TParameters, Pair(256, 32)));
    EXPECT_EQ(Frame(2, k160TParameters, {0x00, 0x00, 0x00, 0xFF}), Replies());
    EXPECT_EQ((std::map<U32, U32>{{256, 32}}), fpga.ParameterMap());
}

TEST_F(Fpga160TTest, StatusReadsAndBursts) {
    Send(Frame(0, k160TStatus, {}));
    const Bytes status = Replies();
    ASSERT_EQ(8u + 49 * 4 + 4, status.size());
    EXPECT_EQ(196, GetLe16(status.data() + 6));
    EXPECT_EQ(45u, GetLe32(status.data() + 8 + 48 * 4)) << "a PC run reports 45 degrees";

    fpga.SetRegister(83, 0x77);
    Bytes reg(4);
    PutLe32(reg.data(), 83);
    Send(Frame(0, k160TReadFpga, reg));
    EXPECT_EQ(Frame(0, k160TReadFpga, {0x77, 0, 0, 0}), Replies());

    Send(Frame(5, k160TStart, Pair(0, 0)));
    Send(Frame(6, k160TParameters, Pair(512, 1)));
    Send(Frame(0, k160TStatus, {}));  // between START and END: the burst was cut
    Send(Frame(7, k160TEnd, Pair(512, 1)));
    Replies();
    const std::vector<Burst160T> bursts = fpga.Bursts();
    ASSERT_EQ(1u, bursts.size());
    EXPECT_EQ((std::vector<Parameter160T>{{512, 1}}), bursts[0].pairs);
    EXPECT_EQ((Parameter160T{512, 1}), bursts[0].end);
    EXPECT_TRUE(bursts[0].interrupted);
    EXPECT_EQ(6u, fpga.Frames().size());
}

TEST_F(Fpga160TTest, CountedAndPerCommandFaults) {
    fpga.FailNext({ReplyFault::Kind::NoAnswer}, 2, /*after=*/1);
    fpga.FailCommand(k160TWrite9119, {ReplyFault::Kind::WrongHeader});
    const std::vector<bool> answered = {true, false, false, true};
    for (std::size_t i = 0; i < answered.size(); ++i) {
        Send(Frame(static_cast<U8>(i + 1), k160TWriteFpga, Pair(1, 1)));
        EXPECT_EQ(answered[i], !Replies().empty()) << i;
    }
    Send(Frame(9, k160TWrite9119, Pair(1, 8)));
    const Bytes reply = Replies();
    ASSERT_EQ(16u, reply.size());
    EXPECT_EQ(0x47474748u, GetLe32(reply.data()));
    fpga.ClearFaults();
    Send(Frame(10, k160TWrite9119, Pair(1, 8)));
    EXPECT_EQ(Frame(10, k160TWrite9119, {0, 0, 0, 0xFF}), Replies());
}

TEST_F(Fpga160TTest, HookHoldsALateReplyAndAFullTransmitFifo) {
    fpga.FailNext({ReplyFault::Kind::Delayed, 2'000});
    Send(Frame(1, k160TWriteFpga, Pair(1, 1)));
    EXPECT_EQ(1u, hook.Read(kRegUartReceiveEmpty)) << "not yet";
    EXPECT_EQ(16u, hook.PendingToCard());
    env.clock().Advance(2'000);
    EXPECT_EQ(16u, Replies().size());

    hook.HoldTransmitFull(true);
    EXPECT_EQ(1u, hook.Read(kRegUartTransmitFull));
    Send(Frame(2, k160TWriteFpga, Pair(1, 1)));
    EXPECT_EQ(1u, fpga.Frames().size()) << "bytes pushed into a full FIFO are lost";
    hook.HoldTransmitFull(false);
    EXPECT_EQ(0u, hook.Read(kRegUartTransmitFull));
}

}  // namespace
}  // namespace hx::sim

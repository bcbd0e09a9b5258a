// The engineering pages' wrappers against the simulated board and its 160T.
#include <gtest/gtest.h>

#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "engine/mux_lut.h"
#include "platform/fpga_reg.h"
#include "sim/fpga160t.h"
#include "support/sim_160t.h"
#include "support/test_env.h"
#include "web/web_debug.h"

namespace hx {
namespace {

class WebDebugTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The 160T link logs every value it reads at ERROR level.
        env.FailOnUnexpectedErrors({"*pu32Value = "});
        log_Init(kMainLogPath);
    }

    test::TestEnvironment env;
    test::Sim160TBoard board;
    sim::Fpga160T& fpga160t = board.fpga160t();
};

TEST_F(WebDebugTest, RegistersOfThe160TAndItsDac) {
    Web_Write160TFPGA(300, 7);
    EXPECT_EQ(7u, fpga160t.Register(300));
    Web_WriteAD9119Reg(2, 9);
    EXPECT_EQ(9u, fpga160t.DacRegister(2));
    fpga160t.SetRegister(301, 0xABCD);
    fpga160t.SetDacRegister(3, 0x42);
    U32 value = 0;
    Web_Read160TFPGA(301, &value);
    EXPECT_EQ(0xABCDu, value);
    Web_ReadAD9119Reg(3, &value);
    EXPECT_EQ(0x42u, value);
}

TEST_F(WebDebugTest, PidCounterOfThe160TTakesChannelAndPidToTheirWidths) {
    fpga160t.SetRegister(83, 0x1234);
    U16 count = 0;
    Web_Get160TPIDCc(0x105, 0x11FFB, &count);
    EXPECT_EQ(5u, fpga160t.Register(80)) << "channel in 8 bits";
    EXPECT_EQ(0x1FFBu, fpga160t.Register(81)) << "PID in 16 bits";
    EXPECT_EQ(0x34, count);

    fpga160t.TakeFrames();
    Web_Clear160TPIDCc();
    std::vector<U32> levels;
    for (const sim::Received160TFrame& frame : fpga160t.Frames()) {
        EXPECT_EQ(82u, GetLe32(frame.data.data()));
        levels.push_back(GetLe32(frame.data.data() + 4));
    }
    EXPECT_EQ((std::vector<U32>{0, 1, 0}), levels);
}

TEST_F(WebDebugTest, MainFpgaRegistersAndPidCounters) {
    web_REG_Write_fortest(1000, 0x12345678);
    EXPECT_EQ(0x12345678u, board.fpga().Peek(1000));
    U32 value = 0;
    web_REG_Read_fortest(1000, &value);
    EXPECT_EQ(0x12345678u, value);

    std::vector<U32> clears;
    for (const test::RegisterStep& step : test::WriteSequence(board.fpga(), [] { Web_ClearPIDCc(); })) {
        EXPECT_EQ(kRegPidCcClear, step.index);
        clears.push_back(step.value);
    }
    EXPECT_EQ((std::vector<U32>{0, 1, 0}), clears);
}

TEST_F(WebDebugTest, RoutingTablesPrintedAsDownloaded) {
    MuxLutTable mux;
    // Source slot 3, stream 0x12, PID 0x100 to channel 4, PID 0x200.
    mux.src[0] = 3u << 23 | 0x12u << 13 | 0x100;
    mux.dest[0] = 4u << 13 | 0x200;
    mux.count = 1;
    ASSERT_EQ(0u, TSP_DownloadOutputLUT(mux));
    BypassLutTable bypass;
    bypass.word[0] = 7u << 20 | 0x21u << 10 | 9;
    bypass.count = 1;
    ASSERT_EQ(0u, TSP_DownloadByPassOutputLUT(bypass));
    env.TakeConsole();

    Web_DebugPrintMuxLUT();
    Web_DebugPrintBypassLUT();
    const std::string console = env.TakeConsole();
    EXPECT_NE(std::string::npos,
              console.find("Mux LUT Num[0],SrcSlot[3],SrcChannel[0x12],SrcPID[256],DestChannel[4],NewPID[512]"))
        << console;
    EXPECT_NE(std::string::npos, console.find("Bypass LUT Num[0],SrcSlot[7],SrcChannel[0x21],DestChannel[9]"))
        << console;

    ASSERT_EQ(0u, TSP_DownloadOutputLUT(MuxLutTable{}));
    ASSERT_EQ(0u, TSP_DownloadByPassOutputLUT(BypassLutTable{}));
}

}  // namespace
}  // namespace hx

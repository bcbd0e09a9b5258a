#include <gtest/gtest.h>

#include "platform/fpga_reg.h"
#include "sim/main_fpga.h"
#include "support/test_env.h"

namespace hx::sim {
namespace {

TEST(MainFpgaTest, PlainRegistersKeepWhatIsWrittenAndTheLogKeepsTimes) {
    test::TestEnvironment env;
    MainFpga fpga(MainFpgaConfig{});
    EXPECT_EQ(0u, fpga.Read(1000));
    fpga.Write(1000, 0x11);
    fpga.StartWriteLog();
    fpga.Write(1000, 0x22);
    env.clock().Advance(250);
    fpga.Write(kRegisterCount - 1, 0x33);
    fpga.Write(kRegisterCount, 0x44);  // outside: ignored
    fpga.StopWriteLog();
    fpga.Write(1000, 0x55);
    EXPECT_EQ(0x55u, fpga.Read(1000));
    EXPECT_EQ(0x33u, fpga.Read(kRegisterCount - 1));
    const std::uint64_t start = 1'000'000;  // the test clock's start
    const std::vector<RegisterWrite> expected = {{1000, 0x22, start}, {kRegisterCount - 1, 0x33, start + 250}};
    EXPECT_EQ(expected, fpga.TakeWriteLog());
    EXPECT_TRUE(fpga.TakeWriteLog().empty());
}

TEST(MainFpgaTest, IdentityRegistersComeFromTheProfileAndIgnoreWrites) {
    test::TestEnvironment env;
    RunProfile profile = Profile();
    profile.simSlotId = 21;  // above 15: the board's reader must cope
    profile.simLogicVersion = 0x20240607;
    SetProfile(profile);
    MainFpga fpga(MainFpgaConfig_FromProfile());
    EXPECT_EQ(21u, fpga.Read(kRegSlotNumber));
    EXPECT_EQ(0x20240607u, fpga.Read(kRegFpgaVersion));
    fpga.Write(kRegSlotNumber, 4);
    EXPECT_EQ(21u, fpga.Read(kRegSlotNumber));
}

TEST(MainFpgaTest, ModelsAnswerThroughTheBoard) {
    test::TestEnvironment env;
    MainFpga fpga(MainFpgaConfig_FromProfile());
    EXPECT_EQ(1u, fpga.Read(kRegUartReceiveEmpty)) << "the 160T is not loaded: the receive side stays empty";
    EXPECT_EQ(0u, fpga.Read(kRegUartTransmitFull)) << "and the transmit side is free";
    fpga.meters().SetChannelCounts(4, 10, 20);
    fpga.Write(kRegChannelMeterChannel, 4);
    EXPECT_EQ(10u, fpga.Read(kRegChannelMeterConfigured));
    EXPECT_EQ(20u, fpga.Read(kRegChannelMeterEffective));
    fpga.Write(kRegLed, 1);
    EXPECT_EQ(1u, fpga.Read(kRegLed));
    EXPECT_EQ(1u, fpga.led().History().back().value);
    EXPECT_NE(env.ReadText("/sim/led.log").find("green"), std::string::npos);
}

}  // namespace
}  // namespace hx::sim

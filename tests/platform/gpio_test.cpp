#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/command_runner.h"
#include "platform/gpio.h"
#include "sim/gpio_model.h"
#include "support/test_env.h"

namespace hx {
namespace {

class GpioTest : public ::testing::Test {
protected:
    void SetUp() override { env.clock().SetAutoAdvance(true); }

    // Powers the GPIO model with these levels, nothing exported yet.
    void Board(U32 hardwareVersion, U32 pluggedSlots) {
        std::filesystem::remove_all(env.Path("/sys/class/gpio"));
        RunProfile profile = Profile();
        profile.simHardwareVersion = hardwareVersion;
        profile.simPluggedSlots = pluggedSlots;
        SetProfile(profile);
        sim::GpioModel_Install(sim::GpioModel_FromProfile());
    }

    std::string PinFile(U32 pin, const char* file) {
        return "/sys/class/gpio/gpio" + std::to_string(pin + 906) + "/" + file;
    }

    test::TestEnvironment env;
};

TEST_F(GpioTest, LinuxNumbersStopAtPin128) {
    EXPECT_EQ(906u, GPIO_GetLinuxGPIONum(0));
    EXPECT_EQ(1034u, GPIO_GetLinuxGPIONum(128));
    EXPECT_EQ(0u, GPIO_GetLinuxGPIONum(129));
    EXPECT_EQ(0u, GPIO_GetLinuxGPIONum(0xFFFFFFFFu));
}

TEST_F(GpioTest, EveryOperationRefusesAnInvalidPin) {
    Board(0, 0);
    U32 value = 0;
    const std::vector<std::function<U32()>> operations = {
        [] { return GPIO_CreateGPIOController(129); }, [] { return GPIO_SetGPIODirection(129, GPIO_IN); },
        [] { return GPIO_SetGpio(129, 1); }, [&] { return GPIO_GetGpio(129, &value); }};
    for (const auto& operation : operations) {
        EXPECT_EQ(1u, operation());
    }
    EXPECT_FALSE(std::filesystem::exists(env.Path("/sys/class/gpio/gpio1035")));
}

TEST_F(GpioTest, ExportGoesThroughTheRunnerToTheModel) {
    Board(1, 0);
    EXPECT_EQ(0u, GPIO_CreateGPIOController(24));
    EXPECT_NE(env.Console().find("Command: [echo 930 > /sys/class/gpio/export]"), std::string::npos);
    EXPECT_EQ("in\n", env.ReadText(PinFile(24, "direction")));
    EXPECT_EQ("1\n", env.ReadText(PinFile(24, "value")));
    EXPECT_EQ(0u, GPIO_CreateGPIOController(24)) << "an exported pin keeps its folder";
    EXPECT_TRUE(Command_Recorded().empty());
}

TEST_F(GpioTest, ExportWithoutAnyoneAnsweringFails) {
    // No model installed: the runner only records the command.
    EXPECT_EQ(9u, GPIO_CreateGPIOController(24));
    EXPECT_EQ(std::vector<std::string>{"echo 930 > /sys/class/gpio/export"}, Command_Recorded());
    U32 value = 0;
    EXPECT_EQ(9u, GPIO_GetGpio(24, &value));
    EXPECT_EQ(9u, GPIO_SetGpio(40, 1));
}

TEST_F(GpioTest, DirectionIsAPaddedBufferOfOutOrIn) {
    Board(0, 0);
    ASSERT_EQ(0u, GPIO_CreateGPIOController(40));
    EXPECT_EQ(0u, GPIO_SetGPIODirection(40, GPIO_OUT));
    std::string expected(128, '\0');
    expected.replace(0, 3, "out");
    EXPECT_EQ(expected, env.ReadText(PinFile(40, "direction")));
    EXPECT_EQ(4u, GPIO_SetGPIODirection(40, 5));
    EXPECT_EQ(expected, env.ReadText(PinFile(40, "direction"))) << "a bad direction writes nothing";
    EXPECT_EQ(2u, GPIO_SetGPIODirection(41, GPIO_IN)) << "pin 41 was never exported";
}

TEST_F(GpioTest, ValueMustReadBackAsOneDigitAndANewline) {
    Board(0, 0);
    struct Case {
        std::string content;
        U32 result;
        U32 value;
    };
    ASSERT_EQ(0u, GPIO_CreateGPIOController(50));
    for (const Case& c : {Case{"1\n", 0, 1}, Case{"0\n", 0, 0}, Case{"1", 8, 99}, Case{"10\n", 8, 99},
                          Case{"", 8, 99}, Case{"x\n", 8, 99}}) {
        env.WriteText(PinFile(50, "value"), c.content);
        U32 value = 99;
        EXPECT_EQ(c.result, GPIO_GetGpio(50, &value)) << c.content;
        EXPECT_EQ(c.value, value) << c.content;
    }
    std::filesystem::remove(env.Path(PinFile(50, "value")));
    U32 value = 0;
    EXPECT_EQ(6u, GPIO_GetGpio(50, &value));
}

TEST_F(GpioTest, SetExportsWhenNeededAndWritesTheLevel) {
    Board(0, 0);
    EXPECT_EQ(0u, GPIO_SetGpio(40, 1));
    EXPECT_EQ(0u, GPIO_SetGpio(33, 0));
    EXPECT_EQ(std::string("1\0\0\0\0", 5), env.ReadText(PinFile(40, "value")));
    EXPECT_EQ(std::string("0\0\0\0\0", 5), env.ReadText(PinFile(33, "value")));
    EXPECT_EQ("out", env.ReadText(PinFile(40, "direction")).substr(0, 3));
    EXPECT_NE(env.Console().find("GPIO40 need to creat controller!"), std::string::npos);
}

TEST_F(GpioTest, HardwareVersionComesFromPins24To26) {
    for (U32 version = 0; version < 8; ++version) {
        Board(version, 0);
        EXPECT_EQ(version, PIN_GetHWVerSion());
    }
}

TEST_F(GpioTest, AnUnreadableVersionPinSetsNoBit) {
    Board(7, 0);
    ASSERT_EQ(0u, GPIO_CreateGPIOController(25));
    env.WriteText(PinFile(25, "value"), "1");
    EXPECT_EQ(5u, PIN_GetHWVerSion());
}

TEST_F(GpioTest, PlugScanReadsEverySlotPin) {
    struct Case {
        const char* name;
        U32 hardwareVersion;
        U32 plugged;
        U16 bitmap;
    };
    // Pins 24 and 26 are also version bits 0 and 2: a version that pulls them
    // low shows slots 3 and 5 as plugged.
    for (const Case& c : {Case{"none", 7, 0, 0}, Case{"first and last", 7, 0x8001, 0x8001},
                          Case{"all", 7, 0xFFFF, 0xFFFF}, Case{"shared pins low", 2, 0x0001, 0x0029},
                          Case{"shared pin 24 low", 4, 0, 0x0008}}) {
        Board(c.hardwareVersion, c.plugged);
        U16 bitmap = 0xABCD;
        const std::uint64_t start = env.clock().MonotonicMicros();
        PIN_CheckPlug(&bitmap);
        EXPECT_EQ(c.bitmap, bitmap) << c.name;
        EXPECT_EQ(16'000u, env.clock().MonotonicMicros() - start) << "1 ms after each of the 16 reads";
    }
}

TEST_F(GpioTest, AnUnreadablePlugPinIsNeverPlugged) {
    Board(7, 0x0003);
    ASSERT_EQ(0u, GPIO_CreateGPIOController(16));  // slot 0
    env.WriteText(PinFile(16, "value"), "0\n\n");
    U16 bitmap = 0;
    PIN_CheckPlug(&bitmap);
    EXPECT_EQ(0x0002, bitmap);
}

}  // namespace
}  // namespace hx

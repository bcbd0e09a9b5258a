// The smaller models of the simulated main FPGA, each driven alone.
#include <gtest/gtest.h>

#include <vector>

#include "core/command_runner.h"
#include "core/common_fun.h"
#include "platform/fpga_reg.h"
#include "platform/gpio.h"
#include "sim/config_port_model.h"
#include "sim/gpio_model.h"
#include "sim/ip_monitor_model.h"
#include "sim/led_model.h"
#include "sim/meter_model.h"
#include "sim/rate_word_model.h"
#include "sim/uart160t_hook.h"
#include "support/test_env.h"

namespace hx::sim {
namespace {

template <typename Model>
void Pulse(Model& model, U32 index) {
    model.Write(index, 0);
    model.Write(index, 1);
    model.Write(index, 0);
}

// What the IP monitor set-up writes for a destination: the address in mode
// 0x200, then the multicast MAC and the port in mode 0x300.
void ProgramMonitor(IpMonitorModel& model, U32 destination, U16 port) {
    model.Write(kRegMonitorMode, kMonitorModeDestination);
    model.Write(kRegMonitorData, destination);
    Pulse(model, kRegMonitorStrobe);
    model.Write(kRegMonitorMode, kMonitorModeMacAndPort);
    model.Write(kRegMonitorMac, 0x01005E00 | ((destination >> 16) & 0x7F));
    model.Write(kRegMonitorData, destination << 16 | port);
    Pulse(model, kRegMonitorStrobe);
}

TEST(IpMonitorModelTest, DecodesDestinationMacAndPort) {
    struct Case {
        U32 destination;
        U16 port;
        std::array<U8, 6> mac;
    };
    for (const Case& c : {Case{0xE30A145A, 1234, {0x01, 0x00, 0x5E, 0x0A, 0x14, 0x5A}},     // 227.10.20.90
                          Case{0xEFC80102, 5000, {0x01, 0x00, 0x5E, 0x48, 0x01, 0x02}}}) {  // 239.200.1.2
        IpMonitorModel model;
        model.Write(kRegMonitorStop, 0);
        model.Write(kRegMonitorSourceIp, 0xC0A8020B);
        model.Write(kRegMonitorSourcePort, 1234);
        ProgramMonitor(model, c.destination, c.port);
        model.Write(kRegMonitorMaxRate, 887234);
        const IpMonitorOutput output = model.Output();
        EXPECT_EQ(c.destination, output.destinationAddress);
        EXPECT_EQ(c.mac, output.destinationMac);
        EXPECT_EQ(c.port, output.destinationPort);
        EXPECT_EQ(0xC0A8020Bu, output.sourceAddress);
        EXPECT_EQ(1234u, output.sourcePort);
        EXPECT_EQ(887234u, output.rateWord);
        EXPECT_FALSE(output.stopped);
        EXPECT_EQ(2u, output.strobes);
    }
}

TEST(IpMonitorModelTest, StopFlagAndUnknownModes) {
    IpMonitorModel model;
    model.Write(kRegMonitorStop, 1);
    model.Write(kRegMonitorMode, 0x100);
    Pulse(model, kRegMonitorStrobe);
    const IpMonitorOutput output = model.Output();
    EXPECT_TRUE(output.stopped);
    EXPECT_EQ(0u, output.strobes);
    EXPECT_EQ(1u, output.unknownModes);
}

TEST(RateWordModelTest, EachChannelKeepsItsLastWord) {
    RateWordModel model;
    auto store = [&](U32 channel, U32 word) {
        model.Write(kRegRateWordChannel, channel);
        model.Write(kRegRateWord, word);
        Pulse(model, kRegRateWordStrobe);
    };
    store(0, 0xF8009239);
    store(15, 0xF8000000);
    store(0, 0xF8001111);
    model.Write(kRegRateWordChannel, 3);
    model.Write(kRegRateWord, 77);  // never strobed
    model.Write(kRegRateRestartChannel, 15);
    Pulse(model, kRegRateRestartStrobe);
    Pulse(model, kRegRateRestartStrobe);
    EXPECT_EQ(0xF8001111u, model.Word(0));
    EXPECT_EQ(0xF8000000u, model.Word(15));
    EXPECT_EQ(std::nullopt, model.Word(3));
    EXPECT_EQ(2u, model.Restarts(15));
    EXPECT_EQ(0u, model.Restarts(0));
}

TEST(MeterModelTest, ClearingResetsOnlyContinuityCounts) {
    MeterModel model;
    model.SetPidCounts(1, 0x100, 500, 9);
    model.Write(kRegPidMeterChannel, 1);
    model.Write(kRegPidMeterPid, 0x100);
    EXPECT_EQ(9u, model.Read(kRegPidMeterCc));
    model.Write(kRegPidCcClear, 0);
    model.Write(kRegPidCcClear, 1);
    model.Write(kRegPidCcClear, 1);  // held high: still one clear
    model.Write(kRegPidCcClear, 0);
    EXPECT_EQ(1u, model.ContinuityClears());
    EXPECT_EQ(0u, model.Read(kRegPidMeterCc));
    EXPECT_EQ(500u, model.Read(kRegPidMeterCount));
    model.Write(kRegPidMeterPid, 0x101);
    EXPECT_EQ(0u, model.Read(kRegPidMeterCount)) << "an unset PID counts nothing";
}

TEST(LedModelTest, KeepsChangesWithTheirTimesAndLogsThem) {
    test::TestEnvironment env;
    LedModel model(env.Path("/sim/led.log"));
    model.Write(kRegLed, 0);
    env.clock().Advance(1'000'000);
    model.Write(kRegLed, 0);  // no change
    model.Write(kRegLed, 3);
    env.clock().Advance(1'500'000);
    model.Write(kRegLed, 2);
    const std::vector<LedChange> history = model.History();
    ASSERT_EQ(3u, history.size());
    EXPECT_EQ(0u, history[0].value);
    EXPECT_EQ(1'000'000u, history[1].micros - history[0].micros);
    EXPECT_EQ(2u, history[2].value);
    EXPECT_EQ("     0.000 s  red   (0)\n"
              "     1.000 s  off   (3)\n"
              "     2.500 s  green (2)\n",
              env.ReadText("/sim/led.log"));
}

TEST(ConfigPortModelTest, DoneOnlyWhenTheWordsCoverTheLengthExactly) {
    struct Case {
        U32 length;
        U32 words;
        bool done;
    };
    for (const Case& c : {Case{8, 2, true}, Case{7, 2, true}, Case{5, 2, true}, Case{8, 1, false},
                          Case{8, 3, false}, Case{4, 2, false}, Case{0, 0, false}}) {
        ConfigPortModel port;
        port.Write(kRegConfigControl, 1);
        EXPECT_EQ(kConfigStatusReady, port.Read(kRegConfigStatus));
        port.Write(kRegConfigLength, c.length);
        for (U32 word = 0; word < c.words; ++word) {
            port.Write(kRegConfigData, 0x01020304 + word);
        }
        Pulse(port, kRegConfigEnd);
        EXPECT_EQ(c.done ? kConfigStatusDone : kConfigStatusError, port.Read(kRegConfigStatus))
            << c.length << " bytes in " << c.words << " words";
        EXPECT_EQ(c.done, port.Loaded());
    }
}

TEST(ConfigPortModelTest, StartingAgainClearsLoadedAndTheCrcCoversTheLengthOnly) {
    ConfigPortModel port;
    port.Write(kRegConfigControl, 1);
    port.Write(kRegConfigLength, 6);
    port.Write(kRegConfigData, 0x31323334);
    port.Write(kRegConfigData, 0x35360000);
    Pulse(port, kRegConfigEnd);
    port.Write(kRegConfigControl, 0);
    EXPECT_TRUE(port.Loaded());
    const U8 bytes[6] = {'1', '2', '3', '4', '5', '6'};
    EXPECT_EQ(Common_CRC_Calculate(bytes, 6, kCrcInitMpeg2), port.Crc());
    EXPECT_EQ(kConfigStatusDone, port.Read(kRegConfigStatus));
    port.Write(kRegConfigControl, 1);
    EXPECT_FALSE(port.Loaded());
    EXPECT_EQ(kConfigStatusReady, port.Read(kRegConfigStatus));
    port.Write(kRegConfigData, 1);
    port.Write(kRegConfigControl, 0);
    port.Write(kRegConfigData, 1);  // after the release: not taken
    EXPECT_EQ(1u, port.WordsPushed());
}

class UartHookTest : public ::testing::Test {
protected:
    void SendByte(U8 byte) {
        hook.Write(kRegUartTransmitByte, byte);
        Pulse(hook, kRegUartTransmitPush);
    }

    bool loaded = false;
    Uart160THook hook{[this] { return loaded; }};
    std::vector<U8> received;
};

TEST_F(UartHookTest, SilentUntilLoaded) {
    hook.AttachPeer([this](U8 byte) { received.push_back(byte); });
    SendByte(0x47);
    const U8 reply[2] = {0xAA, 0xBB};
    hook.SendToCard(reply);
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(1u, hook.Read(kRegUartReceiveEmpty));
    EXPECT_EQ(0u, hook.Read(kRegUartTransmitFull));
}

TEST_F(UartHookTest, BytesReachThePeerAndRepliesAreReadAndPopped) {
    loaded = true;
    hook.AttachPeer([this](U8 byte) {
        received.push_back(byte);
        const U8 echo[1] = {static_cast<U8>(byte + 1)};
        hook.SendToCard(echo);
    });
    SendByte(0x10);
    SendByte(0x20);
    EXPECT_EQ((std::vector<U8>{0x10, 0x20}), received);
    EXPECT_EQ(0u, hook.Read(kRegUartReceiveEmpty));
    EXPECT_EQ(0x11u, hook.Read(kRegUartReceiveByte));
    hook.Write(kRegUartReceivePop, 1);
    hook.Write(kRegUartReceivePop, 0);
    EXPECT_EQ(0x21u, hook.Read(kRegUartReceiveByte));
    Pulse(hook, kRegUartReceiveReset);
    EXPECT_EQ(1u, hook.Read(kRegUartReceiveEmpty));
}

TEST(GpioModelTest, LevelsFollowVersionAndPlugsOnSharedWires) {
    struct Case {
        U32 version;
        U32 plugged;
        std::vector<std::pair<U32, U8>> levels;  // pin, level
    };
    const std::vector<Case> cases = {
        {7, 0, {{24, 1}, {25, 1}, {26, 1}, {16, 1}, {0, 1}, {128, 1}}},
        {0, 0, {{24, 0}, {25, 0}, {26, 0}, {16, 1}}},
        {7, 0x0001, {{16, 0}, {18, 1}}},
        {7, 0x0008, {{24, 0}, {25, 1}}},   // slot 3 pulls version bit 0 low
        {7, 0x8020, {{28, 0}, {26, 0}}},
    };
    for (const Case& c : cases) {
        const GpioModel model(c.version, c.plugged);
        for (const auto& [pin, level] : c.levels) {
            EXPECT_EQ(level, model.Level(pin)) << "pin " << pin << " version " << c.version << " plugged " << c.plugged;
        }
    }
}

TEST(GpioModelTest, AnswersOnlyExportsOfExistingPins) {
    test::TestEnvironment env;
    const GpioModel model(0, 0);
    EXPECT_EQ(0, model.HandleEcho(Command{{"echo", "1034"}, "/sys/class/gpio/export"}).status);
    EXPECT_EQ("1\n", env.ReadText("/sys/class/gpio/gpio1034/value"));
    for (const Command& refused : {Command{{"echo", "1035"}, "/sys/class/gpio/export"},
                                   Command{{"echo", "905"}, "/sys/class/gpio/export"},
                                   Command{{"echo", "930x"}, "/sys/class/gpio/export"},
                                   Command{{"echo", "930"}, "/sys/class/gpio/unexport"},
                                   Command{{"echo", "930"}, std::nullopt},
                                   Command{{"echo", "1034"}, "/sys/class/gpio/export"}}) {
        EXPECT_EQ(1, model.HandleEcho(refused).status) << Command_Text(refused);
    }
    EXPECT_FALSE(std::filesystem::exists(env.Path("/sys/class/gpio/gpio930")));
}

}  // namespace
}  // namespace hx::sim

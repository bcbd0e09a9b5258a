#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "platform/fpga_meter.h"
#include "platform/fpga_net.h"
#include "platform/fpga_reg.h"
#include "platform/mapped_register_bus.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "sim/sim_board.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

class RegisterWindowTest : public ::testing::Test {
protected:
    test::TestEnvironment env;
};

TEST_F(RegisterWindowTest, AccessBeforeMappingIsLoggedAndHasNoEffect) {
    REG_AttachBus(nullptr);
    EXPECT_FALSE(REG_IsMapped());
    EXPECT_NE(0u, REG_Write(kRegLed, 0));
    U32 value = 0xCAFE;
    EXPECT_NE(0u, REG_Read(kRegSlotNumber, &value));
    EXPECT_EQ(0xCAFEu, value) << "an unmapped read leaves the destination as it was";
    EXPECT_NE(env.Console().find("[ERROR][HW]"), std::string::npos);
    EXPECT_NE(env.Console().find("Reg Must Map Success"), std::string::npos);

    test::SimBoard board;
    const std::vector<sim::LedChange> history = board.fpga().led().History();
    ASSERT_EQ(1u, history.size()) << "only FPGA_Init's write reached the LED";
    EXPECT_EQ(3u, history[0].value);
}

TEST_F(RegisterWindowTest, InitSetsTheLedOffAndTheMeterRegisters) {
    test::SimBoard board;
    EXPECT_TRUE(REG_IsMapped());
    EXPECT_EQ(3u, board.fpga().Peek(kRegLed));
    EXPECT_EQ(2u, board.fpga().Peek(kRegMeterMode));
    EXPECT_EQ(1u, board.fpga().Peek(kRegMeterEnable));
    EXPECT_EQ(Profile().simSlotId, FPGA_GetSlotID());
    U32 version = 0;
    FPGA_GetLOGVerSion(&version);
    EXPECT_EQ(Profile().simLogicVersion, version);
}

TEST_F(RegisterWindowTest, IndexOutsideTheWindowIsRefusedAndLogged) {
    test::SimBoard board;
    board.fpga().StartWriteLog();
    for (U32 index : {kRegisterCount, kRegisterCount + 1, 0xFFFFFFFFu}) {
        env.TakeConsole();
        EXPECT_NE(0u, REG_Write(index, 1)) << index;
        U32 value = 7;
        EXPECT_NE(0u, REG_Read(index, &value)) << index;
        EXPECT_EQ(7u, value);
        EXPECT_NE(env.Console().find("outside the register window"), std::string::npos) << index;
    }
    EXPECT_TRUE(board.fpga().TakeWriteLog().empty());

    EXPECT_EQ(0u, REG_Write(kRegisterCount - 1, 0x12345678));
    U32 last = 0;
    EXPECT_EQ(0u, REG_Read(kRegisterCount - 1, &last));
    EXPECT_EQ(0x12345678u, last);
}

// The card's back end over an ordinary file: register i is the 32-bit word at
// byte 16·i, in the processor's byte order.
TEST_F(RegisterWindowTest, MappedBackEndPutsRegisterIAtByteSixteenI) {
    const std::string path = env.Path("/window.bin");
    {
        std::ofstream file(path, std::ios::binary);
        file.seekp(kRegisterWindowBytes - 1);
        file.put('\0');
    }
    MappedRegisterBus::OpenError error{};
    std::shared_ptr<RegisterBus> bus = MappedRegisterBus::Open(path, 0, error);
    ASSERT_TRUE(bus);
    REG_AttachBus(bus);

    const std::array<U32, 5> indices = {0, 1, kRegLed, kRegOwnIpFilter, kRegisterCount - 1};
    for (U32 index : indices) {
        EXPECT_EQ(0u, REG_Write(index, 0xA0000000u | index));
    }
    // A word placed in the file by someone else reads back through the window.
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(16 * 2);
        const U8 bytes[4] = {0x44, 0x33, 0x22, 0x11};
        file.write(reinterpret_cast<const char*>(bytes), 4);
    }
    U32 placed = 0;
    REG_Read(2, &placed);
    EXPECT_EQ(0x11223344u, placed);
    REG_AttachBus(nullptr);
    bus.reset();

    std::ifstream file(path, std::ios::binary);
    std::vector<U8> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(kRegisterWindowBytes, bytes.size());
    for (U32 index : indices) {
        EXPECT_EQ(0xA0000000u | index, GetLe32(bytes.data() + 16ull * index)) << index;
        EXPECT_EQ(0u, GetLe32(bytes.data() + 16ull * index + 4)) << "the gap after register " << index;
    }
}

TEST_F(RegisterWindowTest, CardProfileWithoutItsDeviceStaysUnmapped) {
    // As on the card: nothing handed in, so REG_Map maps the card's window.
    REG_SetBusSource(nullptr);
    const std::string shortFile = env.Path("/short.bin");
    env.WriteText("/short.bin", std::string(4096, '\0'));
    struct Case {
        std::string device;
        const char* logged;
    };
    for (const Case& c : {Case{env.Path("/missing"), "Can't open /dev/mem."},
                          Case{shortFile, "Can't map the memory to user space."}}) {
        RunProfile card = Profile();
        card.backend = HardwareBackend::Card;
        card.registerDevice = c.device;
        SetProfile(card);
        REG_AttachBus(nullptr);
        env.TakeConsole();
        REG_Map();
        EXPECT_FALSE(REG_IsMapped()) << c.device;
        EXPECT_NE(env.Console().find(c.logged), std::string::npos) << env.Console();
    }
}

// Off the card, REG_Map takes only what start-up handed in; without it the
// card's device is never opened, whatever the profile names.
TEST_F(RegisterWindowTest, SimulatedProfileWithNothingHandedInOpensNoDevice) {
    REG_SetBusSource(nullptr);
    REG_AttachBus(nullptr);
    env.TakeConsole();
    REG_Map();
    EXPECT_FALSE(REG_IsMapped());
    EXPECT_NE(env.Console().find("No register back end handed in"), std::string::npos) << env.Console();
    EXPECT_EQ(env.Console().find("/dev/mem"), std::string::npos) << env.Console();

    sim::SimBoard_Install();
    REG_Map();
    EXPECT_NE(nullptr, std::dynamic_pointer_cast<sim::MainFpga>(REG_GetBus())) << "the simulated board handed in";
    REG_AttachBus(nullptr);
}

// Sequences of the named operations, read back from the simulated FPGA's
// write log with their virtual times.
class RegisterSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { env.clock().SetAutoAdvance(true); }

    std::vector<test::RegisterStep> Run(const std::function<void()>& action) {
        return test::WriteSequence(board.fpga(), action);
    }

    test::TestEnvironment env;
    test::SimBoard board;
};

TEST_F(RegisterSequenceTest, NamedOperationsWriteTheirSequences) {
    static const U8 kMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    static const U32 kWords[2] = {0x47400010, 0xDEADBEEF};
    constexpr U32 kOwnAddress = 0xC0A8010E;  // 192.168.1.14
    constexpr U32 kMonitorAddress = 0xC0A8020E;  // 192.168.2.14, eth1
    struct Case {
        const char* name;
        std::function<void()> action;
        std::vector<test::RegisterStep> expected;
    };
    const std::vector<Case> cases = {
        {"MAC of eth0", [] { FPGA_SetMacAddr(kMac, 0); }, {{265, 0x001A2B, 0}, {266, 0x3C4D5E, 20'000}}},
        {"MAC, only the low byte of ETHType selects", [] { FPGA_SetMacAddr(kMac, 0x100); },
         {{265, 0x001A2B, 0}, {266, 0x3C4D5E, 20'000}}},
        {"MAC of eth1", [] { FPGA_SetMacAddr(kMac, 1); }, {{521, 0x001A2B, 0}, {522, 0x3C4D5E, 20'000}}},
        {"null MAC writes nothing", [] { FPGA_SetMacAddr(nullptr, 0); }, {}},
        // After the IP0 stream, 10 ms on, the second port: its MAC (the stored
        // second MAC here), then the IP monitor, which is off and so only
        // gets its source and the stop flag.
        {"IP0 with its 1 s hold, then the second port",
         [] {
             Resource_getSelfHandle()->u32IPAddress = kOwnAddress;
             QAM_IPMonitorPara& monitor = *GetQAMIPMonitor_Handle();
             monitor = QAM_IPMonitorPara{};
             monitor.u8Mac1LicFlag = 1;
             std::memcpy(monitor.aru8Mac1, kMac, sizeof kMac);
             monitor.u32IP1 = kMonitorAddress;
             EXPECT_EQ(0u, FPGA_Set_IP0());
         },
         {{305, 1, 0},
          {308, 7, 0},
          {289, 0, 0},
          {290, 1234, 0},
          {291, kOwnAddress, 0},
          {288, 1, 0},
          {288, 0, 1'000'000},
          {521, 0x001A2B, 1'010'000},
          {522, 0x3C4D5E, 1'030'000},
          {565, 0, 1'030'000},
          {523, kMonitorAddress, 1'030'000},
          {524, 1234, 1'030'000},
          {565, 1, 1'030'000}}},
        {"own-address filter", [] { FPGA_setIP0Filter(kOwnAddress); }, {{269, kOwnAddress, 0}}},
        {"PHY reset", [] { FPGA_PhyReset(); }, {{256, 1, 0}, {256, 0, 200'000}, {256, 1, 400'000}}},
        {"160T UART set-up", [] { FPGA_UART_Init(); }, {{32, 0, 0}, {33, 1, 0}, {33, 0, 0}, {40, 1, 0}, {40, 0, 0}}},
        {"continuity clear", [] { FPGA_ClearPIDCc(); }, {{835, 0, 0}, {835, 1, 5}, {835, 0, 10}}},
        {"channel meter",
         [] {
             U32 configured = 0, effective = 0;
             FPGA_GetChannelBitRate(5, &configured, &effective);
         },
         {{834, 135'000'000, 0}, {839, 5, 5}}},
        {"PID meter",
         [] {
             U32 rate = 0;
             U8 continuity = 0;
             FPGA_GetPIDBitInfo(3, 0x100, &rate, &continuity);
         },
         {{833, 3, 0}, {834, 135'000'000, 5}, {836, 0x100, 10}}},
        {"PID meter with a null pointer writes nothing",
         [] {
             U8 continuity = 0;
             EXPECT_EQ(0xC0000u, FPGA_GetPIDBitInfo(3, 0x100, nullptr, &continuity));
         },
         {}},
        {"SI record of two words",
         [] { EXPECT_EQ(0u, FPGA_Comm_SendData(kWords, 2)); },
         {{803, 0, 0}, {804, kWords[0], 0}, {802, 0, 0}, {802, 1, 0}, {802, 0, 0},
          {803, 1, 0}, {804, kWords[1], 0}, {802, 0, 0}, {802, 1, 0}, {802, 0, 0},
          {801, 0, 0}, {801, 1, 0}, {801, 0, 0}}},
        {"null SI record writes nothing", [] { EXPECT_EQ(1u, FPGA_Comm_SendData(nullptr, 49)); }, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Run(c.action)) << c.name;
    }
}

// Whatever the second port's set-up writes first (here eth1's MAC read from
// the interface, no second MAC stored) comes 10 ms after the IP0 restart ends.
TEST_F(RegisterSequenceTest, IpZeroWaitsTenMillisecondsBeforeTheSecondPort) {
    env.WriteText("/sys/class/net/eth1/address", "00:0a:35:00:01:22\n");
    *GetQAMIPMonitor_Handle() = QAM_IPMonitorPara{};
    const std::vector<test::RegisterStep> steps = Run([] { FPGA_Set_IP0(); });
    const auto restartEnd = std::find(steps.begin(), steps.end(), test::RegisterStep{288, 0, 1'000'000});
    ASSERT_NE(steps.end(), restartEnd);
    ASSERT_NE(steps.end(), restartEnd + 1);
    EXPECT_EQ((test::RegisterStep{521, 0x000A35, 1'010'000}), *(restartEnd + 1));
}

TEST_F(RegisterSequenceTest, MetersGiveKilobitsOfPacketsAndSevenContinuityBits) {
    struct Case {
        U32 count;
        U32 kbps;
        U32 effectiveCount;
        U32 effectiveKbps;
    };
    // A packet count of the meter's period in kbit/s, computed in 32 bits:
    // the last row wraps as the card's arithmetic does.
    for (const Case& c : {Case{0, 0, 0, 0}, Case{1, 1, 0, 0}, Case{999, 1502, 499, 750}, Case{1000, 1504, 500, 752},
                          Case{2'855'696, 4'294'966, 1'427'848, 2'147'483}, Case{2'855'697, 0, 1'427'848, 2'147'483}}) {
        board.fpga().meters().SetChannelCounts(9, c.count, c.effectiveCount);
        U32 configured = 0, effective = 0;
        EXPECT_EQ(0u, FPGA_GetChannelBitRate(9, &configured, &effective));
        EXPECT_EQ(c.kbps, configured) << c.count;
        EXPECT_EQ(c.effectiveKbps, effective) << c.effectiveCount;

        board.fpga().meters().SetPidCounts(9, 0x1FFF, c.count, 0xFFFFFF80u | (c.count & 0x7F));
        U32 rate = 0;
        U8 continuity = 0xEE;
        EXPECT_EQ(0u, FPGA_GetPIDBitInfo(9, 0x1FFF, &rate, &continuity));
        EXPECT_EQ(c.kbps, rate) << c.count;
        EXPECT_EQ(c.count & 0x7F, continuity) << "only bits 0-6 of 838 count";
    }
    U32 rate = 0;
    U8 continuity = 0;
    FPGA_GetPIDBitInfo(9, 0x1FFF, &rate, &continuity);
    ASSERT_NE(0u, continuity);
    FPGA_ClearPIDCc();
    FPGA_GetPIDBitInfo(9, 0x1FFF, &rate, &continuity);
    EXPECT_EQ(0u, continuity);
}

}  // namespace
}  // namespace hx

#include "platform/network.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "board_state_fixture.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/file_util.h"
#include "platform/mdio.h"
#include "sim/sim_board.h"
#include "sim/sim_phy.h"

namespace hx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

TEST(NetworkSettingsCheck, RefusesUnusableAddressesAndMasks) {
    struct Case {
        const char* name;
        U32 backBoard;
        U32 own;
        U32 mask;
        bool valid;
    };
    const Case cases[] = {
        {"ordinary", 0xC0A8010A, 0xC0A8010E, 0xFFFFFF00, true},
        {"loopback /8", 0x7F000010, 0x7F000001, 0xFF000000, true},
        {"host mask", 0x0A000001, 0x0A000002, 0xFFFFFFFF, true},
        {"top unicast", 0xDFFFFFFE, 0xDFFFFFFF, 0x80000000, true},
        {"own 0.0.0.0", 0xC0A8010A, 0, 0xFFFFFF00, false},
        {"back board 0.0.0.0", 0, 0xC0A8010E, 0xFFFFFF00, false},
        {"own multicast", 0xC0A8010A, 0xE0000001, 0xFFFFFF00, false},
        {"back board broadcast", 0xFFFFFFFF, 0xC0A8010E, 0xFFFFFF00, false},
        {"own 224.0.0.0", 0xC0A8010A, 0xE0000000, 0xFFFFFF00, false},
        {"zero mask", 0xC0A8010A, 0xC0A8010E, 0, false},
        {"hole in mask", 0xC0A8010A, 0xC0A8010E, 0xFF00FF00, false},
        {"mask from the low end", 0xC0A8010A, 0xC0A8010E, 0x000000FF, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IPconfig_IsValidSettings(c.backBoard, c.own, c.mask), c.valid) << c.name;
    }
}

TEST(NetworkSettingsCheck, MonitorPortSitsInTheNextSubnet) {
    EXPECT_EQ(IPconfig_DeriveIP1(0xC0A80114), 0xC0A80214u);  // 192.168.1.20 -> 192.168.2.20
    EXPECT_EQ(IPconfig_DeriveIP1(0x0A00FF07), 0x0A000007u);  // the third octet wraps
}

TEST(MacText, ParsesOnlyWholeAddresses) {
    EXPECT_THAT(*Network_ParseMac("00:1a:2B:3c:4D:ff\n"), ElementsAre(0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xff));
    EXPECT_THAT(*Network_ParseMac("02:48:58:51:05:01"), ElementsAre(0x02, 0x48, 0x58, 0x51, 0x05, 0x01));
    for (const char* bad : {"", "00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:6f", "00-1a-2b-3c-4d-5e", "00:1a:2b:3c:4d:5g",
                            "00:1a:2b:3c:4d:5e\n\n", " 0:1a:2b:3c:4d:5e"}) {
        EXPECT_FALSE(Network_ParseMac(bad)) << bad;
    }
    EXPECT_EQ(Network_FormatMac({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xff}), "00:1a:2b:3c:4d:ff");
}

class NetworkTest : public BoardStateTest {};

TEST_F(NetworkTest, OwnAddressGoesToRecordFilterInterfaceAndMonitorPort) {
    IPconfig_SetIP(0xC0A80114);
    IPconfig_SetLocalMask(0xFFFF0000);
    IPconfig_SetDefaultGate(0xC0A80101);
    EXPECT_THAT(Command_Recorded(), ElementsAre("ifconfig eth0 192.168.1.20 netmask 255.255.255.0",
                                                "ifconfig eth0 netmask 255.255.0.0", "route del default",
                                                "route add default gw 192.168.1.1"));
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0xC0A80114u);
    EXPECT_EQ(Reg(kRegOwnIpFilter), 0xC0A80114u);
    EXPECT_EQ(Reg(kRegGateway), 0xC0A80101u);
    EXPECT_EQ(GetQAMIPMonitor_Handle()->u32IP1, 0xC0A80214u);
}

TEST_F(NetworkTest, MonitorPortTakesTheStoredSecondMac) {
    QAM_IPMonitorPara* monitor = GetQAMIPMonitor_Handle();
    monitor->u8Mac1LicFlag = 1;
    const U8 mac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
    std::memcpy(monitor->aru8Mac1, mac, 6);
    monitor->u32IP1 = 0xC0A80214;

    EXPECT_EQ(IPconfig_SetIP1(), 0u);
    EXPECT_THAT(Command_Recorded(), ElementsAre("ifconfig eth1 hw ether 00:11:22:aa:bb:cc",
                                                "ifconfig eth1 192.168.2.20 netmask 255.255.255.0"));
    EXPECT_EQ(Reg(kRegMac1High), 0x001122u);
    EXPECT_EQ(Reg(kRegMac1Low), 0xAABBCCu);
    const sim::IpMonitorOutput output = Fpga().ipMonitor().Output();
    EXPECT_EQ(output.sourceAddress, 0xC0A80214u);  // the monitor settings were applied with the new address
    EXPECT_TRUE(output.stopped);                   // and, disabled, the output stays stopped
}

TEST_F(NetworkTest, MonitorPortWithoutSecondMacKeepsItsOwn) {
    env_.WriteText("/sys/class/net/eth1/address", "00:0a:35:00:01:22\n");
    GetQAMIPMonitor_Handle()->u32IP1 = 0x7F000101;
    IPconfig_SetIP1();
    EXPECT_THAT(Command_Recorded(), ElementsAre("ifconfig eth1 127.0.1.1 netmask 255.255.255.0"));
    EXPECT_EQ(Reg(kRegMac1High), 0x000A35u);
    EXPECT_EQ(Reg(kRegMac1Low), 0x000122u);
}

TEST_F(NetworkTest, PhysAdvertiseOnlyGigabitFullDuplexAfterReset) {
    SimMdioBus phys;
    Mdio_SetBus(&phys);
    const std::uint64_t start = env_.clock().MonotonicMicros();
    EXPECT_THAT(WriteSequence(Fpga(), [] { PHY_Init(); }),
                ElementsAre(RegisterStep{kRegEthPhyReset, 1, 0}, RegisterStep{kRegEthPhyReset, 0, 200'000},
                            RegisterStep{kRegEthPhyReset, 1, 400'000}));
    // The line is held high again for 200 ms before the PHYs are set up.
    EXPECT_EQ(env_.clock().MonotonicMicros() - start, 600'000u);
    for (U32 port = 0; port < kPhyPorts; ++port) {
        SCOPED_TRACE(port);
        SimPhy& phy = phys.phy(port);
        EXPECT_EQ(phy.Read(kPhyAdvertise), 0x0001);  // selector only: no 10/100 mode
        EXPECT_EQ(phy.Read(kPhyGigaControl), kPhyGigaFull);
        EXPECT_EQ(phy.Read(kPhyControl) & (kPhyControlAutoNeg | kPhyControlRestartAutoNeg), kPhyControlAutoNeg);
        EXPECT_EQ(phy.autoNegotiationRestarts(), 1u);
        EXPECT_EQ(phy.negotiatedSpeed(), 1000u);
        EXPECT_TRUE(phy.negotiatedFullDuplex());
    }
}

class SilentMdio final : public MdioBus {
public:
    std::optional<U16> Read(U32, U32) override { return std::nullopt; }
    bool Write(U32, U32, U16) override { return false; }
};

TEST_F(NetworkTest, SilentPhysAreLogged) {
    SilentMdio bus;
    Mdio_SetBus(&bus);
    PHY_Init();
    EXPECT_THAT(env_.Console(), HasSubstr("PHY 0 does not answer"));
    EXPECT_THAT(env_.Console(), HasSubstr("PHY 1 does not answer"));
}

// The PHYs and interfaces are the simulated board's only because the test
// environment handed them in, as the program's start-up does on a PC; with
// nothing handed in off the card, no PHY answers and no address file appears,
// and the card's devices are not opened.
TEST_F(NetworkTest, PhysAndInterfacesComeFromTheBackEndHandedIn) {
    PHY_Init();
    EXPECT_THAT(env_.Console(), HasSubstr("PHY 1 set to 1000M full duplex"));
    EXPECT_TRUE(Network_ReadMac("eth0"));

    sim::SimBoard_Uninstall();
    env_.TakeConsole();
    PHY_Init();
    EXPECT_THAT(env_.Console(), HasSubstr("PHY 0 does not answer"));
    EXPECT_FALSE(Network_ReadMac("eth1"));
    EXPECT_FALSE(std::filesystem::exists(env_.Path("/sys/class/net/eth1/address")));
    EXPECT_THAT(env_.Console(), HasSubstr("Can't read /sys/class/net/eth1/address"));
    EXPECT_THAT(env_.Console(), Not(HasSubstr("/dev/mem")));
}

// The card's PHY management registers, over a plain file standing for /dev/mem.
TEST_F(NetworkTest, CardMdioWritesClause22FramesIntoEachController) {
    const std::string file = env_.Path("/sim/gem.bin");
    std::vector<U8> window(CardMdioBus::kWindow, 0);
    PutLe32(&window[CardMdioBus::kNetworkStatus], CardMdioBus::kManagementIdle);
    PutLe32(&window[0x1000 + CardMdioBus::kNetworkStatus], CardMdioBus::kManagementIdle);
    ASSERT_TRUE(File_WriteAtomic(file, window));
    {
        CardMdioBus bus(file, 0);
        ASSERT_TRUE(bus.mapped());
        EXPECT_TRUE(bus.Write(1, kPhyAdvertise, 0x0001));
        EXPECT_EQ(bus.Read(0, kPhyGigaControl), 0);  // the file holds no PHY answer
    }
    const auto bytes = File_ReadAll(file);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(GetLe32(&(*bytes)[CardMdioBus::kPhyMaintenance]), 0x60260000u);           // read, reg 9
    EXPECT_EQ(GetLe32(&(*bytes)[0x1000 + CardMdioBus::kPhyMaintenance]), 0x50120001u);  // write, reg 4, data 1
}

TEST_F(NetworkTest, CardMdioGivesUpOnABusyController) {
    const std::string file = env_.Path("/sim/gem.bin");
    ASSERT_TRUE(File_WriteAtomic(file, std::vector<U8>(CardMdioBus::kWindow, 0)));
    CardMdioBus bus(file, 0);
    EXPECT_FALSE(bus.Write(0, kPhyAdvertise, 1));
    EXPECT_FALSE(bus.Read(0, kPhyAdvertise));
    EXPECT_FALSE(CardMdioBus(env_.Path("/sim/none"), 0).mapped());
    // A file shorter than both controllers' registers is never mapped, so no
    // access can fault past its end.
    ASSERT_TRUE(File_WriteAtomic(file, std::vector<U8>(CardMdioBus::kWindow - 4, 0)));
    CardMdioBus shortBus(file, 0);
    EXPECT_FALSE(shortBus.mapped());
    EXPECT_FALSE(shortBus.Read(1, kPhyAdvertise));
}

TEST_F(NetworkTest, Iperf3IsUnpackedFromItsArchive) {
    Iperf3SoftwareInit();
    EXPECT_THAT(env_.Console(), HasSubstr("iperf3 not available"));

    env_.WriteText("/tmp/build/iperf3", "#!/bin/sh\n");
    ASSERT_EQ(Command_Run({"mkdir", "-p", "/vandik_app/tools"}), 0);
    ASSERT_EQ(Command_Run({"tar", "-cf", kIperf3Archive, "-C", "/tmp/build", "iperf3"}), 0);
    env_.TakeConsole();
    Iperf3SoftwareInit();
    EXPECT_EQ(env_.ReadText(kIperf3Program), "#!/bin/sh\n");
    EXPECT_THAT(env_.Console(), HasSubstr("iperf3 unpacked"));
}

// The network test the back board orders: only the board's own tool, only
// the allowed client options with bounded values. A row with a base runs
// three times (the base with " -R", " -u", " -u -R"), each limited to its
// duration plus the margin; a row without one is refused and runs nothing.
TEST_F(NetworkTest, NetworkTestRunsOnlyAllowedClientOptions) {
    struct Case {
        std::string text;
        std::string base;   // "" for refused
        U32 limitSeconds;   // of each run
    };
    const std::string tool = "/tmp/iperf3/iperf3";
    const std::vector<Case> cases = {
        // allowed option sets
        {"iperf3 -c 192.168.1.10", tool + " -c 192.168.1.10", 20},
        {"/usr/bin/iperf3 -c 127.0.0.1 -t 60 -p 5201", tool + " -c 127.0.0.1 -t 60 -p 5201", 70},
        {"iperf3 --client=server-1.lab -p 5201 --time 30 --udp --bandwidth 100M --parallel 8 --reverse --interval 0.5 "
         "--length 1400 --window 256K --format m",
         tool + " -c server-1.lab -p 5201 -t 30 -u -b 100000000 -P 8 -R -i 0.5 -l 1400 -w 262144 -f m", 40},
        {"iperf3  -c10.0.0.1 -t5 -b1.5M -i0 ", tool + " -c 10.0.0.1 -t 5 -b 1500000 -i 0", 15},
        {"./iperf3 -t 1 -c 10.0.0.1 --bitrate=1G -l 1M -w 16M -f K -P 1 -p 65535 -i 60",
         tool + " -t 1 -c 10.0.0.1 -b 1000000000 -l 1048576 -w 16777216 -f K -P 1 -p 65535 -i 60", 11},
        // options outside the allow-list
        {"iperf3 -c 10.0.0.1 --logfile=/vandik_data/HX_QAM.conf", "", 0},
        {"iperf3 -c 10.0.0.1 --logfile /vandik_data/HX_QAM.conf", "", 0},
        {"iperf3 -c 10.0.0.1 -F /vandik_data/auth.user", "", 0},
        {"iperf3 -s", "", 0},
        {"iperf3 -c 10.0.0.1 -s", "", 0},
        {"iperf3 -c 10.0.0.1 -D", "", 0},
        {"iperf3 -c 10.0.0.1 --pidfile /tmp/iperf3.pid", "", 0},
        {"iperf3 -c 10.0.0.1 --no-such-option", "", 0},
        {"iperf3 -c 10.0.0.1 -T title", "", 0},
        {"iperf3 -c 10.0.0.1 -uR", "", 0},
        {"iperf3 -c 10.0.0.1 --udp=1", "", 0},
        {"iperf3 -c 10.0.0.1 host_name:x", "", 0},
        // values out of bounds, missing or repeated
        {"iperf3 -c 10.0.0.1 -t 86400", "", 0},
        {"iperf3 -c 10.0.0.1 -t 61", "", 0},
        {"iperf3 -c 10.0.0.1 -t 0", "", 0},
        {"iperf3 -c 10.0.0.1 -t 0x3c", "", 0},
        {"iperf3 -c 10.0.0.1 --time=-5", "", 0},
        {"iperf3 -c 10.0.0.1 -P 9", "", 0},
        {"iperf3 -c 10.0.0.1 -p 0", "", 0},
        {"iperf3 -c 10.0.0.1 -p 65536", "", 0},
        {"iperf3 -c 10.0.0.1 -b 2G", "", 0},
        {"iperf3 -c 10.0.0.1 -b 100M/10", "", 0},
        {"iperf3 -c 10.0.0.1 -l 2M", "", 0},
        {"iperf3 -c 10.0.0.1 -w 17M", "", 0},
        {"iperf3 -c 10.0.0.1 -i 0.05", "", 0},
        {"iperf3 -c 10.0.0.1 -i 61", "", 0},
        {"iperf3 -c 10.0.0.1 -f x", "", 0},
        {"iperf3 -c 10.0.0.1 -t 5 -t 10", "", 0},
        {"iperf3 -c 10.0.0.1 -t", "", 0},
        {"iperf3 -c", "", 0},
        {"iperf3 -c -F", "", 0},
        {"iperf3 -c -bad-.host", "", 0},
        {"iperf3 -c 300.1.1.1", "", 0},
        {"iperf3 -t 10", "", 0},
        // a first word naming another program
        {"", "", 0},
        {"ls -l", "", 0},
        {"sh -c iperf3", "", 0},
        {"iperf3x -c 10.0.0.1", "", 0},
        {"/usr/bin/iperf3x -c 10.0.0.1", "", 0},
        {"xiperf3 -c 10.0.0.1", "", 0},
        {"-c 10.0.0.1 iperf3", "", 0},
        // anything a shell would read differently
        {"iperf3 -c 10.0.0.1; reboot", "", 0},
        {"iperf3 -c $(reboot)", "", 0},
        {"iperf3 -c `reboot`", "", 0},
        {"iperf3 -c 10.0.0.1 | sh", "", 0},
        {"iperf3 -c 10.0.0.1 && reboot", "", 0},
        {"iperf3 -c '10.0.0.1'", "", 0},
        {"iperf3 -c 10.0.0.1 > /etc/passwd", "", 0},
        {"iperf3 -c 10.0.0.1\nreboot", "", 0},
        {"iperf3\t-c 10.0.0.1", "", 0},
        {"iperf3 -c *", "", 0},
        {"iperf3 -c ~root", "", 0},
        {"iperf3 -c " + std::string(1100, 'a'), "", 0},
    };
    struct Run {
        std::string text;
        std::optional<std::chrono::milliseconds> limit;
    };
    std::vector<Run> runs;
    Command_SetSimHandler("iperf3", [&](const Command& command) {
        runs.push_back({Command_Text(command), command.timeLimit});
        return CommandResult{0, false, {}};
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        runs.clear();
        env_.TakeConsole();
        const U32 result = NetWorkQualityTest(reinterpret_cast<const U8*>(c.text.c_str()));
        std::vector<std::string> texts;
        for (const Run& run : runs) {
            texts.push_back(run.text);
            EXPECT_EQ(run.limit, std::chrono::seconds(c.limitSeconds));
        }
        if (c.base.empty()) {
            EXPECT_EQ(result, 4u);
            EXPECT_THAT(texts, IsEmpty());
            EXPECT_THAT(env_.Console(), HasSubstr("[NetWorkQualityTest] refused command"));
        } else {
            EXPECT_EQ(result, 0u);
            EXPECT_THAT(texts, ElementsAre(c.base + " -R", c.base + " -u", c.base + " -u -R"));
            EXPECT_THAT(env_.Console(), HasSubstr("TCP Uplink test command:" + c.base + " -R"));
        }
    }
    Command_ClearSimHandlers();
    EXPECT_THAT(Command_Recorded(), IsEmpty());
    EXPECT_EQ(NetWorkQualityTest(nullptr), 4u);
    EXPECT_THAT(env_.Console(), HasSubstr("[NetWorkQualityTest] error input"));
}

// Without a handler the simulated board records the runs, and the refusal
// says why.
TEST_F(NetworkTest, NetworkTestRunsAreRecordedAndRefusalsExplained) {
    const std::string text = "iperf3 -c 127.0.0.1 -t 3";
    EXPECT_EQ(NetWorkQualityTest(reinterpret_cast<const U8*>(text.c_str())), 0u);
    EXPECT_THAT(Command_Recorded(), ElementsAre("/tmp/iperf3/iperf3 -c 127.0.0.1 -t 3 -R",
                                                "/tmp/iperf3/iperf3 -c 127.0.0.1 -t 3 -u",
                                                "/tmp/iperf3/iperf3 -c 127.0.0.1 -t 3 -u -R"));
    struct Case {
        const char* text;
        const char* reason;
    };
    for (const Case& c : {Case{"iperf3 -c 1.2.3.4 -F /vandik_data/auth.user", "(option -F not allowed)"},
                          Case{"iperf3 -c 1.2.3.4 -t 86400", "(value of -t out of bounds)"},
                          Case{"sh -c x", "(not the network test tool)"}}) {
        env_.TakeConsole();
        EXPECT_EQ(NetWorkQualityTest(reinterpret_cast<const U8*>(c.text)), 4u);
        EXPECT_THAT(env_.Console(), HasSubstr(std::string("[NetWorkQualityTest] refused command ") + c.reason));
    }
}

}  // namespace
}  // namespace hx::test

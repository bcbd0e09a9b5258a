#include "platform/network.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "board_state_fixture.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/file_util.h"
#include "platform/mdio.h"
#include "sim/sim_phy.h"

namespace hx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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

TEST_F(NetworkTest, NetworkTestRunsTheToolThreeWays) {
    // The back board may name the tool by its own path; the board's copy runs.
    for (const char* tool : {"iperf3", "/usr/bin/iperf3"}) {
        SCOPED_TRACE(tool);
        const std::string text =
            std::string(tool) + " -c 192.168.1.10 -t 10 -b 100M -p 5201 --format=m -O 1.5 host_name:x -T a,b";
        EXPECT_EQ(NetWorkQualityTest(reinterpret_cast<const U8*>(text.c_str())), 0u);
        const std::string base =
            "/tmp/iperf3/iperf3 -c 192.168.1.10 -t 10 -b 100M -p 5201 --format=m -O 1.5 host_name:x -T a,b";
        EXPECT_THAT(Command_Recorded(), ElementsAre(base + " -R", base + " -u", base + " -u -R"));
        EXPECT_THAT(env_.Console(), HasSubstr("TCP Uplink test command:" + base + " -R"));
        Command_ClearRecorded();
    }
}

TEST_F(NetworkTest, NetworkTestRefusesAnythingAShellCouldReadDifferently) {
    const std::string longText = "iperf3 -c " + std::string(1100, 'a');
    const std::vector<std::string> refused = {
        "",
        "ls -l",
        "iperf3x -c 1.2.3.4",
        "/usr/bin/iperf3x -c 1.2.3.4",
        "-c 1.2.3.4 iperf3",
        "iperf3 -c 1.2.3.4; reboot",
        "iperf3 -c $(reboot)",
        "iperf3 -c `reboot`",
        "iperf3 -c 1.2.3.4 | sh",
        "iperf3 -c 1.2.3.4 && reboot",
        "iperf3 -c '1.2.3.4'",
        "iperf3 -c 1.2.3.4 > /etc/passwd",
        "iperf3 -c 1.2.3.4\nreboot",
        "iperf3\t-c 1.2.3.4",
        "iperf3 -c *",
        "iperf3 -c ~root",
        longText,
    };
    for (const std::string& text : refused) {
        SCOPED_TRACE(text);
        env_.TakeConsole();
        EXPECT_EQ(NetWorkQualityTest(reinterpret_cast<const U8*>(text.c_str())), 4u);
        EXPECT_THAT(env_.Console(), HasSubstr("[NetWorkQualityTest] refused"));
    }
    EXPECT_THAT(Command_Recorded(), IsEmpty());
    EXPECT_EQ(NetWorkQualityTest(nullptr), 4u);
    EXPECT_THAT(env_.Console(), HasSubstr("[NetWorkQualityTest] error input"));
}

}  // namespace
}  // namespace hx::test

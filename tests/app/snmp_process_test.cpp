// The card program's SNMP agent seen from outside, the program running as a
// process on a fresh data root: a taken port ends it, a missing configuration
// does not, SIGHUP re-reads the configuration, and SIGTERM stops only the
// agent (after its shutdown trap) while the rest of the card runs on.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "chassis/nms_server.h"
#include "sim/chassis/sim_chassis.h"
#include "snmp/snmp_agent.h"
#include "support/program_run.h"
#include "support/snmp_agent_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

using namespace std::chrono_literals;

// A UDP socket bound to a port of 127.0.0.1 the kernel picks.
class UdpPort {
public:
    UdpPort() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~UdpPort() { Close(); }
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    U16 port() const { return port_; }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    // The next datagram, or empty after `limit`.
    std::vector<U8> Receive(std::chrono::milliseconds limit) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(limit.count())) != 1) {
            return {};
        }
        std::vector<U8> datagram(65536);
        const ssize_t got = recv(fd_, datagram.data(), datagram.size(), 0);
        datagram.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return datagram;
    }

private:
    int fd_;
    U16 port_ = 0;
};

// Whether another socket can bind this UDP port of 127.0.0.1 now.
bool UdpPortIsFree(U16 port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

bool Contains(const std::vector<U8>& bytes, const std::vector<U8>& part) {
    return !part.empty() && std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

// The encoded OBJECT IDENTIFIERs of the agent's start and shutdown
// notifications (coldStart, and the agent's nsNotifyShutdown).
const std::vector<U8> kColdStartOid = {0x06, 0x09, 0x2B, 0x06, 0x01, 0x06, 0x03, 0x01, 0x01, 0x05, 0x01};
const std::vector<U8> kShutdownOid = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xBF, 0x08, 0x04, 0x00, 0x02};

// The card program on its own data root, its inter-board port held for it,
// its other servers on the ports a test gives it.
class CardProcess {
public:
    CardProcess() : client_(env_.root() / "snmp-client") {}

    test::TestEnvironment& env() { return env_; }
    test::ChildProgram& program() { return program_; }

    bool Start(U16 snmpPort, U16 nmsPort = 0) {
        snmpPort_ = snmpPort;
        return interBoard_.port() != 0 &&
               program_.Start({HX_QAM_BINARY, "--data-root", env_.root().string(), "--inter-board-port",
                               std::to_string(interBoard_.port()), "--http-port", "0", "--nms-port",
                               std::to_string(nmsPort), "--snmp-port", std::to_string(snmpPort), "--sim-speed-up",
                               std::to_string(test::kProgramSpeedUp)});
    }

    // Starts the program with its agent on a UDP port that was free a moment
    // ago and waits for the agent's start line.
    ::testing::AssertionResult StartAgent(U16 nmsPort = 0) {
        U16 port = 0;
        {
            UdpPort probe;
            port = probe.port();
        }
        if (port == 0) {
            return ::testing::AssertionFailure() << "no free UDP port";
        }
        if (!Start(port, nmsPort)) {
            return ::testing::AssertionFailure() << program_.Output();
        }
        if (!WaitForAgentLog("NET-SNMP version 5.9.3")) {
            return ::testing::AssertionFailure() << AgentLog() << program_.Output();
        }
        return ::testing::AssertionSuccess();
    }
    U16 snmpPort() const { return snmpPort_; }

    // Waits until the agent's log holds `text` (true) or `limit` passed.
    bool WaitForAgentLog(const std::string& text, std::chrono::milliseconds limit = 60s) {
        for (const auto deadline = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
            if (AgentLog().find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string AgentLog() { return env_.ReadText(kSnmpdLogPath); }

    test::SnmpToolResult Get(const std::string& community, const std::string& oid) {
        return test::RunSnmpTool(client_, "snmpget",
                                 {"-v2c", "-c", community, "-On", "-t", "1", "-r", "0",
                                  "udp:127.0.0.1:" + std::to_string(snmpPort_), oid});
    }

private:
    test::TestEnvironment env_{false};
    std::filesystem::path client_;
    SimPortHold interBoard_;
    test::ChildProgram program_;
    U16 snmpPort_ = 0;
};

constexpr const char* kSysDescr = ".1.3.6.1.2.1.1.1.0";

TEST(SnmpProcessTest, AnotherHolderOfTheUdpPortEndsTheProgramWithStatus1) {
    CardProcess card;
    test::WriteSnmpAgentConfiguration(card.env().root());
    UdpPort taken;
    ASSERT_NE(0, taken.port());
    ASSERT_TRUE(card.Start(taken.port())) << card.program().Output();
    EXPECT_EQ(1, card.program().WaitForExit(test::kProgramRunLimit)) << card.program().Output();
    EXPECT_NE(std::string::npos, card.AgentLog().find("Server Exiting with code 1")) << card.AgentLog();
}

TEST(SnmpProcessTest, WithoutConfigurationTheAgentStillHoldsItsPortAndStartsAFreshLog) {
    CardProcess card;
    card.env().WriteText(kSnmpdLogPath, "a line of the previous run\n");
    ASSERT_TRUE(card.StartAgent());
    EXPECT_FALSE(UdpPortIsFree(card.snmpPort()));
    EXPECT_EQ(std::string::npos, card.AgentLog().find("previous run"));
    // No community is configured: nobody gets an answer.
    EXPECT_NE(0, card.Get("public", kSysDescr).status);
}

TEST(SnmpProcessTest, SighupRereadsTheConfigurationAndANewCommunityWorks) {
    CardProcess card;
    test::WriteSnmpAgentConfiguration(card.env().root());
    ASSERT_TRUE(card.StartAgent());
    ASSERT_EQ(0, card.Get(test::kSnmpReadCommunity, kSysDescr).status);
    EXPECT_NE(0, card.Get("operators", kSysDescr).status);

    test::WriteSnmpAgentConfiguration(card.env().root(), "rocommunity operators 127.0.0.1\n");
    ASSERT_EQ(0, kill(card.program().pid(), SIGHUP));
    ASSERT_TRUE(card.WaitForAgentLog("Reconfiguring daemon")) << card.AgentLog();
    ASSERT_TRUE(card.WaitForAgentLog("NET-SNMP version 5.9.3 restarted")) << card.AgentLog();

    const test::SnmpToolResult fresh = card.Get("operators", kSysDescr);
    EXPECT_EQ(0, fresh.status) << fresh.output;
    EXPECT_EQ(0, card.Get(test::kSnmpReadCommunity, kSysDescr).status);
}

TEST(SnmpProcessTest, AFileSizeLimitSignalEndsTheProgramWithStatus1) {
    CardProcess card;
    test::WriteSnmpAgentConfiguration(card.env().root());
    ASSERT_TRUE(card.StartAgent());
    ASSERT_EQ(0, kill(card.program().pid(), SIGXFSZ));
    EXPECT_EQ(1, card.program().WaitForExit(30s)) << card.program().Output();
}

TEST(SnmpProcessTest, SigtermSendsTheShutdownTrapAndStopsOnlyTheAgent) {
    CardProcess card;
    UdpPort sink;
    ASSERT_NE(0, sink.port());
    test::WriteSnmpAgentConfiguration(card.env().root(),
                                      "trap2sink 127.0.0.1:" + std::to_string(sink.port()) + " public\n");
    const U16 nmsPort = SimChassis_FreeLoopbackPort();
    ASSERT_NE(0, nmsPort);
    ASSERT_TRUE(card.StartAgent(nmsPort));
    EXPECT_TRUE(Contains(sink.Receive(30s), kColdStartOid));
    ASSERT_EQ(0, card.Get(test::kSnmpReadCommunity, kSysDescr).status);

    ASSERT_EQ(0, kill(card.program().pid(), SIGTERM));
    const std::vector<U8> trap = sink.Receive(30s);
    EXPECT_TRUE(Contains(trap, kShutdownOid)) << trap.size() << " bytes";
    ASSERT_TRUE(card.WaitForAgentLog("Received TERM or STOP signal")) << card.AgentLog();
    EXPECT_NE(0, card.Get(test::kSnmpReadCommunity, kSysDescr).status);

    // The management service still answers its link test.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nmsPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    const auto head = NMS_EncodeHead(COMM_HEAD_t{kNmsCmdTest, 0, 1, 0, 0, 0, 0, 0});
    ASSERT_EQ(static_cast<ssize_t>(head.size()), send(fd, head.data(), head.size(), MSG_NOSIGNAL));
    std::vector<U8> reply(24);
    std::size_t got = 0;
    pollfd ready{fd, POLLIN, 0};
    while (got < reply.size() && poll(&ready, 1, 30'000) == 1) {
        const ssize_t part = recv(fd, reply.data() + got, reply.size() - got, 0);
        if (part <= 0) {
            break;
        }
        got += static_cast<std::size_t>(part);
    }
    close(fd);
    ASSERT_EQ(reply.size(), got);
    EXPECT_EQ(kNmsCmdResult, NMS_DecodeHead(reply.data()).dwDataType);
    EXPECT_EQ(-1, card.program().WaitForExit(0s)) << "still running until killed";
}

}  // namespace
}  // namespace hx

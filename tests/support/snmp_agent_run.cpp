#include "support/snmp_agent_run.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/qam_defaults.h"
#include "platform/qam_params.h"
#include "snmp/snmp_agent.h"
#include "support/program_run.h"

namespace hx::test {

namespace {

constexpr std::chrono::seconds kToolLimit{30};
constexpr U32 kStartLimitMs = 60'000;

std::unique_ptr<SnmpAgentRun>& TheRun() {
    static std::unique_ptr<SnmpAgentRun> run;
    return run;
}

// Stops the program's agent once its tests are over, while GoogleTest still
// reports failures (an ERROR line the agent's run logged fails the program).
class SnmpAgentEnvironment final : public ::testing::Environment {
public:
    void TearDown() override { SnmpAgentRun::Shutdown(); }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new SnmpAgentEnvironment);

}  // namespace

void WriteSnmpAgentConfiguration(const std::filesystem::path& dataRoot, const std::string& extraLines) {
    const std::filesystem::path folder = dataRoot / "vandik_app" / "app";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "snmpd.conf", std::ios::trunc)
        << "rocommunity " << kSnmpReadCommunity << " 127.0.0.1\n"
        << "rwcommunity " << kSnmpWriteCommunity << " 127.0.0.1\n"
        << "createUser " << kSnmpUser << " SHA \"" << kSnmpAuthPassphrase << "\" AES \"" << kSnmpPrivPassphrase
        << "\"\n"
        << "rwuser " << kSnmpUser << " priv\n"
        << extraLines;
    std::ofstream(folder / "snmp.conf", std::ios::trunc) << "mibs :\n";
}

SnmpToolResult RunSnmpTool(const std::filesystem::path& clientFolder, const std::string& tool,
                           const std::vector<std::string>& arguments) {
    std::filesystem::create_directories(clientFolder / "persist");
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProgram program;
    SnmpToolResult result;
    if (!program.Start(argv, {"SNMPCONFPATH=" + clientFolder.string(),
                              "SNMP_PERSISTENT_DIR=" + (clientFolder / "persist").string(),
                              "HOME=" + clientFolder.string()})) {
        result.output = program.Output();
        return result;
    }
    result.status = program.WaitForExit(kToolLimit);
    result.output = program.Output();
    return result;
}

SnmpAgentRun& SnmpAgentRun::Get() {
    std::unique_ptr<SnmpAgentRun>& run = TheRun();
    if (!run) {
        run.reset(new SnmpAgentRun());
        if (run->port_ == 0) {
            std::fprintf(stderr, "the SNMP agent did not start; its log:\n%s\n",
                         run->env_.ReadText(kSnmpdLogPath).c_str());
            std::abort();
        }
    }
    return *run;
}

void SnmpAgentRun::Shutdown() { TheRun().reset(); }

SnmpAgentRun::SnmpAgentRun() : clientFolder_(env_.root() / "snmp-client") {
    env_.FailOnUnexpectedErrors();
    QAM160T_Init_Parmeter(GetQAMPara_Handle());
    *GetQAMParaTmp_Handle() = *GetQAMPara_Handle();
    // The kernel picks the port.
    RunProfile profile = Profile();
    profile.snmpPort = 0;
    SetProfile(profile);
    // A trap sink, as a card's configuration has: its socket is opened
    // before the agent's own, and the agent's traps go somewhere.
    trapSink_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sink{};
    sink.sin_family = AF_INET;
    sink.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sink;
    bind(trapSink_, reinterpret_cast<const sockaddr*>(&sink), sizeof sink);
    getsockname(trapSink_, reinterpret_cast<sockaddr*>(&sink), &length);
    WriteSnmpAgentConfiguration(env_.root(), "trap2sink 127.0.0.1:" + std::to_string(ntohs(sink.sin_port)) + " " +
                                                 kSnmpReadCommunity + "\n");
    agent_ = std::thread(Snmpd_Server, nullptr);
    if (Snmpd_WaitListening(kStartLimitMs)) {
        port_ = Snmpd_ListenPort();
    }
}

SnmpAgentRun::~SnmpAgentRun() {
    Snmpd_RequestStop();
    if (agent_.joinable()) {
        agent_.join();
    }
    close(trapSink_);
}

std::string SnmpAgentRun::address() const { return "udp:127.0.0.1:" + std::to_string(port_); }

SnmpToolResult SnmpAgentRun::Tool(const std::string& tool, const std::vector<std::string>& arguments) const {
    return RunSnmpTool(clientFolder_, tool, arguments);
}

SnmpToolResult SnmpAgentRun::V2c(const std::string& tool, const std::string& community,
                                 const std::vector<std::string>& arguments) const {
    std::vector<std::string> all = {"-v2c", "-c", community, "-On", "-t", "2", "-r", "0", address()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Tool(tool, all);
}

SnmpToolResult SnmpAgentRun::V1(const std::string& tool, const std::string& community,
                                const std::vector<std::string>& arguments) const {
    std::vector<std::string> all = {"-v1", "-c", community, "-On", "-t", "2", "-r", "0", address()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Tool(tool, all);
}

SnmpToolResult SnmpAgentRun::V3(const std::string& tool, const std::vector<std::string>& arguments,
                                const std::string& authPassphrase, const std::string& privPassphrase) const {
    std::vector<std::string> all = {"-v3", "-l", "authPriv", "-u", kSnmpUser, "-a", "SHA", "-A", authPassphrase,
                                    "-x", "AES", "-X", privPassphrase, "-On", "-t", "2", "-r", "0", address()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Tool(tool, all);
}

}  // namespace hx::test

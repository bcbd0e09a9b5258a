// The SNMP agent for tests: one agent per test program, driven from outside
// by net-snmp's own command-line tools.
//
// net-snmp is not reentrant and keeps its agent in process-wide state, so a
// test program runs one agent, started by the first SnmpAgentRun::Get() and
// stopped when the program's tests are over. It runs on a thread of its own
// (Snmpd_Server, as on the card) in one TestEnvironment data root that lasts
// the whole program, with the agent configuration a PC run has (read-only and
// read-write communities for 127.0.0.1, a write-enabled SHA/AES USM user, a
// trap sink the run holds and never reads), the
// simulated board with its 160T loaded, the QAM set at factory values and
// the virtual clock. It listens on a port the kernel picks. Only the agent
// thread calls the library; tests talk to it over UDP through the tools.
//
// ERROR lines the card logs fail the program at its end unless a test added
// them with env().FailOnUnexpectedErrors({...}).
//
// The tools run as processes with -On (numeric OIDs) and a configuration,
// persistent folder and HOME of their own (SNMPCONFPATH, SNMP_PERSISTENT_DIR,
// HOME), so nothing of the user's ~/.snmp leaks in.
#pragma once

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_160t.h"
#include "support/test_env.h"

namespace hx::test {

// What the test configuration grants.
inline constexpr const char* kSnmpReadCommunity = "public";
inline constexpr const char* kSnmpWriteCommunity = "private";
inline constexpr const char* kSnmpUser = "hxadmin";
inline constexpr const char* kSnmpAuthPassphrase = "hx-auth-passphrase";
inline constexpr const char* kSnmpPrivPassphrase = "hx-priv-passphrase";

// Writes the agent configuration into the data root's "/vandik_app/app" (a
// folder of the agent's search path): snmpd.conf with the communities and
// the user above plus `extraLines`, and snmp.conf with "mibs :" (the agent
// loads no MIB text files). Replaces what was there.
void WriteSnmpAgentConfiguration(const std::filesystem::path& dataRoot, const std::string& extraLines = "");

// What a tool printed (standard output and error together) and its status.
struct SnmpToolResult {
    int status = -1;
    std::string output;
};

// Runs `tool` (snmpget, snmpset, snmpwalk, snmpbulkwalk ...) with `arguments`
// as given, in the clean client environment kept in `clientFolder`.
SnmpToolResult RunSnmpTool(const std::filesystem::path& clientFolder, const std::string& tool,
                           const std::vector<std::string>& arguments);

class SnmpAgentRun {
public:
    // The program's agent, started on the first call. A start that fails
    // ends the program with a message (every later test would fail alike).
    static SnmpAgentRun& Get();

    TestEnvironment& env() { return env_; }
    Sim160TBoard& board() { return board_; }
    U16 port() const { return port_; }
    // "udp:127.0.0.1:<port>", the tools' agent argument.
    std::string address() const;

    // `tool` -v2c -c `community` -On -t 2 -r 0 <address> `arguments`...
    SnmpToolResult V2c(const std::string& tool, const std::string& community,
                       const std::vector<std::string>& arguments) const;
    // The same with -v1.
    SnmpToolResult V1(const std::string& tool, const std::string& community,
                      const std::vector<std::string>& arguments) const;
    // `tool` -v3 -l authPriv as the test user (SHA, AES) with these passphrases.
    SnmpToolResult V3(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::string& authPassphrase = kSnmpAuthPassphrase,
                      const std::string& privPassphrase = kSnmpPrivPassphrase) const;
    // Any tool with these arguments in the client environment.
    SnmpToolResult Tool(const std::string& tool, const std::vector<std::string>& arguments) const;

    // Stops the agent and ends the run (the program's end does it).
    static void Shutdown();

    SnmpAgentRun(const SnmpAgentRun&) = delete;
    SnmpAgentRun& operator=(const SnmpAgentRun&) = delete;
    ~SnmpAgentRun();

private:
    SnmpAgentRun();

    TestEnvironment env_;
    Sim160TBoard board_;
    std::filesystem::path clientFolder_;
    std::thread agent_;
    int trapSink_ = -1;
    U16 port_ = 0;
};

}  // namespace hx::test

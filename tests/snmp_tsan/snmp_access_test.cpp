// Who may do what on the agent: communities, SNMPv1/v2c error forms, and
// SNMPv3 users, driven by the real command-line tools against the program's
// agent on its own thread.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>

#include "support/snmp_agent_run.h"

namespace hx {
namespace {

using test::SnmpAgentRun;
using test::SnmpToolResult;

constexpr const char* kSysContact = ".1.3.6.1.2.1.1.4.0";
constexpr const char* kSysLocation = ".1.3.6.1.2.1.1.6.0";
constexpr const char* kSysDescr = ".1.3.6.1.2.1.1.1.0";
constexpr const char* kInBadCommunityNames = ".1.3.6.1.2.1.11.4.0";

// The value of `oid` in a tool's -On output ("<oid> = Type: value").
std::optional<std::string> ValueOf(const SnmpToolResult& result, const std::string& oid) {
    const std::regex line("(^|\n)" + std::regex_replace(oid, std::regex("\\."), "\\.") + " = [^:]*: ([^\n]*)");
    std::smatch match;
    if (!std::regex_search(result.output, match, line)) {
        return std::nullopt;
    }
    return match[2].str();
}

U32 Counter(const std::string& oid) {
    const SnmpToolResult result = SnmpAgentRun::Get().V2c("snmpget", test::kSnmpReadCommunity, {oid});
    const std::optional<std::string> value = ValueOf(result, oid);
    EXPECT_TRUE(value.has_value()) << result.output;
    return value ? static_cast<U32>(std::stoul(*value)) : 0;
}

TEST(SnmpAccess, ReadWriteCommunitySetsAndReadOnlyCommunityIsRefused) {
    const SnmpAgentRun& agent = SnmpAgentRun::Get();
    const SnmpToolResult written =
        agent.V2c("snmpset", test::kSnmpWriteCommunity, {kSysContact, "s", "noc@headend"});
    ASSERT_EQ(0, written.status) << written.output;

    struct Case {
        const char* name;
        bool v1;
        const char* reason;
    };
    for (const Case& c : {Case{"v2c", false, "noAccess"}, Case{"v1", true, "noSuchName"}}) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> set = {kSysContact, "s", "intruder"};
        const SnmpToolResult refused = c.v1 ? agent.V1("snmpset", test::kSnmpReadCommunity, set)
                                            : agent.V2c("snmpset", test::kSnmpReadCommunity, set);
        EXPECT_NE(0, refused.status);
        EXPECT_NE(std::string::npos, refused.output.find(c.reason)) << refused.output;
    }
    const SnmpToolResult read = agent.V2c("snmpget", test::kSnmpReadCommunity, {kSysContact});
    EXPECT_EQ("\"noc@headend\"", ValueOf(read, kSysContact).value_or("")) << read.output;
}

TEST(SnmpAccess, UnknownCommunityGetsNoAnswerAndIsCounted) {
    const SnmpAgentRun& agent = SnmpAgentRun::Get();
    const U32 before = Counter(kInBadCommunityNames);
    const SnmpToolResult unknown = agent.Tool(
        "snmpget", {"-v2c", "-c", "not-a-community", "-On", "-t", "1", "-r", "0", agent.address(), kSysDescr});
    EXPECT_NE(0, unknown.status);
    EXPECT_NE(std::string::npos, unknown.output.find("Timeout")) << unknown.output;
    EXPECT_EQ(before + 1, Counter(kInBadCommunityNames));
}

TEST(SnmpAccess, Version3UserReadsAndWritesWithAuthenticationAndPrivacy) {
    const SnmpAgentRun& agent = SnmpAgentRun::Get();
    const SnmpToolResult set = agent.V3("snmpset", {kSysLocation, "s", "rack 7"});
    ASSERT_EQ(0, set.status) << set.output;
    const SnmpToolResult get = agent.V3("snmpget", {kSysLocation});
    ASSERT_EQ(0, get.status) << get.output;
    EXPECT_EQ("\"rack 7\"", ValueOf(get, kSysLocation).value_or("")) << get.output;
}

TEST(SnmpAccess, Version3WithAWrongPassphraseGetsNothing) {
    const SnmpAgentRun& agent = SnmpAgentRun::Get();
    struct Case {
        const char* name;
        std::string auth;
        std::string priv;
    };
    for (const Case& c : {Case{"authentication", "wrong-auth-passphrase", test::kSnmpPrivPassphrase},
                          Case{"privacy", test::kSnmpAuthPassphrase, "wrong-priv-passphrase"}}) {
        SCOPED_TRACE(c.name);
        const SnmpToolResult result = agent.V3("snmpget", {"-t", "1", kSysDescr}, c.auth, c.priv);
        EXPECT_NE(0, result.status);
        EXPECT_FALSE(ValueOf(result, kSysDescr).has_value()) << result.output;
    }
}

}  // namespace
}  // namespace hx

// The web page and an SNMP manager changing the QAM set at the same time:
// curl sets a channel frequency through "SetSubboardParam.w" while snmpset
// changes the RF level, round after round. Both setters copy the live set
// into the one previous-values set, edit the live set and apply; each must
// hold the QAM apply lock across all of it, or one apply resends or drops the
// other's change. So every burst the 160T receives is whole and holds only
// its own change, and the 160T ends with the live values.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "chassis/qam_json.h"
#include "platform/qam.h"
#include "platform/qam_defaults.h"
#include "sim/fpga160t.h"
#include "support/http_test_server.h"
#include "support/program_run.h"
#include "support/qam_live.h"
#include "support/snmp_agent_run.h"
#include "web/user_authority.h"
#include "web/web_accessors.h"

namespace hx {
namespace {

using test::SnmpAgentRun;

constexpr int kRounds = 12;
const std::string kRfLevel = ".1.3.6.1.4.1.53117.8.2.1.0";
constexpr U32 kRfLevelOffset = 66;  // rfLevel 15-45 is stored as PowerLevel - 66

TEST(WebAndSnmpApplies, EveryBurstWholeAndTheModulatorEndsWithTheLiveSet) {
    SnmpAgentRun& agent = SnmpAgentRun::Get();
    sim::Fpga160T& modulator = agent.board().fpga160t();
    VKUser_InitUserAuthority();
    {
        QamApplyGuard apply(QAM_ApplyLock());
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        *GetQAMParaTmp_Handle() = *GetQAMPara_Handle();
    }
    Web_SetPSIInterval(100);
    const TParameter_QAM start = test::LiveQamSet();
    const std::size_t burstsBefore = modulator.Bursts().size();

    test::HttpServerOptions options;
    options.dispatch = true;
    test::HttpTestServer server(agent.env(), options);
    ASSERT_TRUE(server.Start()) << server.ErrorLog();

    for (int round = 0; round < kRounds; ++round) {
        const U32 frequency = 474000 + 8000 * static_cast<U32>(round + 1);
        const int level = 16 + round;
        std::string body = R"({"token":"t","psiinterval":100,"portlist":[{"port":0,"channellist":[{"channel":0,"frequency":)";
        body += std::to_string(frequency);
        body += "}]}]}";
        agent.env().WriteText("/tmp/set.json", body);
        std::string data = "@";
        data += agent.env().Path("/tmp/set.json");
        test::ChildProgram curl;
        ASSERT_TRUE(curl.Start({"curl", "--noproxy", "*", "-sS", "--data-binary", data, server.Url("/SetSubboardParam.w")}));
        test::SnmpToolResult snmp;
        std::thread manager([&] {
            snmp = agent.V2c("snmpset", test::kSnmpWriteCommunity, {kRfLevel, "i", std::to_string(level)});
        });
        const int curlStatus = curl.WaitForExit(std::chrono::seconds(60));
        manager.join();
        ASSERT_EQ(0, curlStatus) << curl.Output();
        EXPECT_NE(std::string::npos, curl.Output().find("\"code\":\t0")) << curl.Output();
        ASSERT_EQ(0, snmp.status) << snmp.output;

        const TParameter_QAM live = test::LiveQamSet();
        EXPECT_EQ(frequency, live.Frequency[0].value) << "round " << round;
        EXPECT_EQ(level + kRfLevelOffset, static_cast<int>(live.PowerLevel.value)) << "round " << round;
    }
    server.Stop();

    // Two applies a round, each of its one changed pair, each whole.
    std::vector<sim::Burst160T> bursts = modulator.Bursts();
    bursts.erase(bursts.begin(), bursts.begin() + static_cast<std::ptrdiff_t>(burstsBefore));
    ASSERT_EQ(static_cast<std::size_t>(2 * kRounds), bursts.size());
    for (const sim::Burst160T& burst : bursts) {
        EXPECT_TRUE(burst.end.has_value());
        EXPECT_FALSE(burst.interrupted);
        ASSERT_EQ(1u, burst.pairs.size());
        EXPECT_TRUE(burst.pairs[0].address == start.Frequency[0].address ||
                    burst.pairs[0].address == start.PowerLevel.address)
            << burst.pairs[0].address;
    }
    const std::map<U32, U32> map = modulator.ParameterMap();
    const TParameter_QAM ended = test::LiveQamSet();
    const QamPairs live = QAM_PairsOf(ended);
    for (U32 i = 0; i < kQamUsedPairs; ++i) {
        if (const auto it = map.find(live[i].address); it != map.end()) {
            EXPECT_EQ(live[i].value, it->second) << "address " << live[i].address;
        }
    }
    EXPECT_EQ(ended.Frequency[0].value, map.at(start.Frequency[0].address));
    EXPECT_EQ(ended.PowerLevel.value, map.at(start.PowerLevel.address));
}

}  // namespace
}  // namespace hx

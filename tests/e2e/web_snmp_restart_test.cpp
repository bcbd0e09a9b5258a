// The whole card from outside, as an operator meets it on a PC: the card
// program and chassis-sim run as processes on a fresh data root and free
// loopback ports. The input card's stream goes on air (read back from the
// simulated FPGA's packet file by libdvbpsi and ffprobe); a service is renamed
// through the web requests with curl and the RF level set with snmpset; the
// card is then killed without warning and started again beside the back board
// alone, and what it puts on air and answers comes from its saved files only.
//
// Every wait is for an output the programs make, each bounded; the card's
// fixed waits run sped up. The programs are killed by their process ids when
// their objects go away, so a failed assertion leaves none running.
#include <arpa/inet.h>
#include <cJSON.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis/param_store.h"
#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "support/ffprobe.h"
#include "support/http_modules.h"
#include "support/program_run.h"
#include "support/psi_decoder.h"
#include "support/snmp_agent_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The longest any one observable step may take; the whole test stays well
// under 90 s when everything works.
constexpr auto kStepLimit = 30s;
constexpr const char* kChannelFile = "/sim/ts/out-00.ts";
constexpr const char* kRfLevelOid = ".1.3.6.1.4.1.53117.8.2.1.0";
constexpr U16 kRenamedService = 102;  // "HX Sport"
constexpr const char* kNewName = "HX Sport Extra";

// Polls `done` until it holds or `limit` passes; the pause between looks
// only spares the processor, the outcome never depends on it.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = kStepLimit) {
    for (const auto deadline = Clock::now() + limit;; std::this_thread::sleep_for(50ms)) {
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
}

// What one channel's packets say, as libdvbpsi and ffprobe read them.
struct OnAir {
    std::unique_ptr<test::PsiDecoder> si;
    std::vector<test::ProbedProgram> programs;
    std::string probeReport;

    // The service's name in the newest SDT, "" when it has none.
    std::string ServiceName(U16 serviceId) const {
        if (si == nullptr || si->sdts.empty()) {
            return "";
        }
        for (const test::DecodedSdtService& service : si->sdts.back().services) {
            if (service.serviceId == serviceId) {
                return test::ServiceDescriptorNames(service).second;
            }
        }
        return "";
    }
    // PAT, a PMT per program, SDT, and ffprobe's list of the programs.
    bool Complete() const {
        return si != nullptr && !si->patTables.empty() &&
               si->patTables.back().programs.size() == kSimPlanPrograms.size() &&
               si->pmts.size() >= kSimPlanPrograms.size() && !si->sdts.empty() &&
               si->sdts.back().services.size() == kSimPlanPrograms.size() &&
               programs.size() == kSimPlanPrograms.size();
    }
};

class CardEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(0, interBoard.port());
        ASSERT_NE(0, httpPort);
        ASSERT_NE(0, snmpPort);
        test::InstallHttpModules(env.root());
        test::WriteSnmpAgentConfiguration(env.root());
    }

    // chassis-sim on the inter-board port, the full chassis or the back
    // board alone; true once it has told where the card is expected.
    ::testing::AssertionResult StartChassis(test::ChildProgram& chassis, bool backBoardOnly) {
        std::vector<std::string> argv = {HX_CHASSIS_SIM_BINARY, "--data-root", env.root().string(), "--port",
                                         std::to_string(interBoard.port())};
        if (backBoardOnly) {
            argv.emplace_back("--back-board-only");
        }
        const std::string cardLine = "the card  : slot 3 at 127.0.0.1:" + std::to_string(interBoard.port());
        if (!chassis.Start(argv) || !chassis.WaitForOutput(cardLine, kStepLimit)) {
            return ::testing::AssertionFailure() << chassis.Output();
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult StartCard(test::ChildProgram& card) {
        if (!card.Start({HX_QAM_BINARY, "--data-root", env.root().string(), "--inter-board-port",
                         std::to_string(interBoard.port()), "--http-port", std::to_string(httpPort), "--nms-port",
                         "0", "--snmp-port", std::to_string(snmpPort), "--sim-speed-up",
                         std::to_string(test::kProgramSpeedUp)})) {
            return ::testing::AssertionFailure() << card.Output();
        }
        return ::testing::AssertionSuccess();
    }

    // The channel file from byte `from` on (a whole number of packets: the
    // simulated FPGA writes each packet with one write).
    std::vector<U8> ChannelBytes(std::size_t from) const {
        const std::string text = env.ReadText(kChannelFile);
        return from < text.size() ? std::vector<U8>(text.begin() + static_cast<std::ptrdiff_t>(from), text.end())
                                  : std::vector<U8>{};
    }
    std::size_t ChannelSize() const { return env.ReadText(kChannelFile).size(); }

    // The channel's packets from byte `from` on, read by both readers.
    OnAir ReadOnAir(std::size_t from) {
        OnAir onAir;
        const std::vector<U8> bytes = ChannelBytes(from);
        onAir.si = test::DecodeWithPmts(bytes);
        const std::filesystem::path copy = env.root() / "on-air.ts";
        std::ofstream(copy, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        onAir.programs = test::ProbePrograms(copy.string(), &onAir.probeReport);
        return onAir;
    }

    // Waits until the packets from `from` on carry the whole SI of the three
    // programs with service 102 named `name`; what was read last.
    OnAir WaitForOnAir(std::size_t from, const std::string& name) {
        OnAir onAir;
        WaitFor([&] {
            onAir = ReadOnAir(from);
            return onAir.Complete() && onAir.ServiceName(kRenamedService) == name;
        });
        return onAir;
    }

    // The web server listens from its own thread, which start-up creates
    // after the inter-board server: the stream can be on air before it
    // answers. True once it serves its page; curl retries a refused
    // connection within the step's limit.
    bool WaitForWebServer() {
        test::ChildProgram curl;
        return curl.Start({"curl", "--noproxy", "*", "-sS", "-f", "-o", "/dev/null", "--retry", "60",
                           "--retry-connrefused", "--retry-max-time", "30",
                           "http://127.0.0.1:" + std::to_string(httpPort) + "/index.html"}) &&
               curl.WaitForExit(kStepLimit) == 0;
    }

    struct Reply {
        int code = -1;
        std::string body;
    };
    Reply Post(const std::string& name, const std::string& body) {
        test::ChildProgram curl;
        Reply reply;
        if (!curl.Start({"curl", "--noproxy", "*", "-sS", "--max-time", "30", "--data-binary", body,
                         "http://127.0.0.1:" + std::to_string(httpPort) + "/" + name})) {
            reply.body = curl.Output();
            return reply;
        }
        const int status = curl.WaitForExit(kStepLimit);
        reply.body = curl.Output();
        cJSON* tree = status == 0 ? cJSON_Parse(reply.body.c_str()) : nullptr;
        if (const cJSON* code = cJSON_GetObjectItem(tree, "code"); cJSON_IsNumber(code)) {
            reply.code = code->valueint;
        }
        cJSON_Delete(tree);
        return reply;
    }

    test::SnmpToolResult Snmp(const std::string& tool, const std::string& community,
                              const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {"-v2c", "-c", community, "-On", "-t", "2", "-r", "0",
                                        "udp:127.0.0.1:" + std::to_string(snmpPort)};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return test::RunSnmpTool(env.root() / "snmp-client", tool, all);
    }
    // rfLevel as snmpget prints it, once the agent answers.
    std::string RfLevel() {
        test::SnmpToolResult result;
        WaitFor([&] {
            result = Snmp("snmpget", test::kSnmpReadCommunity, {kRfLevelOid});
            return result.status == 0;
        });
        return result.output;
    }

    // The PowerLevel pair of the saved QAM parameter file.
    std::optional<U32> SavedPowerLevel() const {
        const std::string text = env.ReadText(kQamParamFilePath);
        if (text.size() != kQamParamFileSize) {
            return std::nullopt;
        }
        QamParamFileBytes bytes{};
        std::memcpy(bytes.data(), text.data(), bytes.size());
        return QamParams_Parse(bytes).st_QAMParams.stQAM160TParams.PowerLevel.value;
    }

    // Declared first, so the programs below are killed before the data
    // root goes.
    test::TestEnvironment env{false};
    SimPortHold interBoard;
    U16 httpPort = SimChassis_FreeLoopbackPort();
    U16 snmpPort = SimChassis_FreeUdpLoopbackPort();
};

// ERROR lines of the card's output that no expected text explains.
std::vector<std::string> UnexpectedErrors(const std::string& output, const std::vector<std::string>& expected) {
    std::vector<std::string> unexpected;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[ERROR]") == std::string::npos) {
            continue;
        }
        if (std::none_of(expected.begin(), expected.end(),
                         [&](const std::string& text) { return line.find(text) != std::string::npos; })) {
            unexpected.push_back(line);
        }
    }
    return unexpected;
}

TEST_F(CardEndToEndTest, AWebRenameAndAnSnmpSetOutliveAKilledCard) {
    const auto started = Clock::now();

    // First start: the full chassis; the input card's stream goes on air.
    test::ChildProgram chassis;
    ASSERT_TRUE(StartChassis(chassis, false));
    test::ChildProgram card;
    ASSERT_TRUE(StartCard(card));
    ASSERT_TRUE(chassis.WaitForOutput("the card took every message", kStepLimit)) << chassis.Output() << card.Output();
    OnAir onAir = WaitForOnAir(0, "HX Sport");
    ASSERT_TRUE(onAir.Complete()) << onAir.probeReport << card.Output();
    std::vector<std::string> names;
    for (const test::ProbedProgram& program : onAir.programs) {
        names.push_back(program.serviceName);
    }
    EXPECT_EQ((std::vector<std::string>{"HX News", "HX Sport", "HX Movies"}), names) << onAir.probeReport;

    // The web edit: refresh the temporary copy, rename, apply.
    ASSERT_TRUE(WaitForWebServer()) << card.Output();
    const Reply info = Post("GetSubboardTSInfo.w", R"({"token":"x"})");
    ASSERT_EQ(0, info.code) << info.body;
    EXPECT_NE(std::string::npos, info.body.find("HX Sport")) << info.body;
    const Reply rename = Post("SetProgramParam.w", std::string(R"({"token":"x","port":0,"channel":0,"oldserviceid":)") +
                                                       std::to_string(kRenamedService) + R"(,"servicename":")" +
                                                       kNewName + R"("})");
    ASSERT_EQ(0, rename.code) << rename.body;
    const Reply apply = Post("ApplyAllParam.w", R"({"token":"x"})");
    ASSERT_EQ(0, apply.code) << apply.body;
    // Every packet written after the apply's answer carries the new tables.
    const std::size_t afterApply = ChannelSize();
    onAir = WaitForOnAir(afterApply, kNewName);
    EXPECT_EQ(kNewName, onAir.ServiceName(kRenamedService)) << onAir.probeReport;
    EXPECT_EQ("HX News", onAir.ServiceName(101));
    ASSERT_EQ(kSimPlanPrograms.size(), onAir.programs.size()) << onAir.probeReport;
    EXPECT_EQ(kNewName, onAir.programs[1].serviceName) << onAir.probeReport;

    // The SNMP set reaches the parameter file at once (PowerLevel = rfLevel + 66).
    const test::SnmpToolResult set = Snmp("snmpset", test::kSnmpWriteCommunity, {kRfLevelOid, "i", "30"});
    ASSERT_EQ(0, set.status) << set.output;
    EXPECT_NE(std::string::npos, RfLevel().find("INTEGER: 30"));
    EXPECT_EQ(std::optional<U32>(96), SavedPowerLevel());

    const std::string firstOutput = card.Output();
    // No warning, no orderly end: the card is gone, its files stay as they are.
    ASSERT_EQ(0, kill(card.pid(), SIGKILL));
    EXPECT_EQ(-1, card.WaitForExit(kStepLimit));
    EXPECT_EQ(0, chassis.Stop(kStepLimit)) << chassis.Output();

    // Restart beside the back board alone: no input card sends the stream
    // again, so what goes on air comes from the card's saved files.
    const std::size_t beforeRestart = ChannelSize();
    test::ChildProgram backBoard;
    ASSERT_TRUE(StartChassis(backBoard, true));
    test::ChildProgram restarted;
    ASSERT_TRUE(StartCard(restarted));
    ASSERT_TRUE(backBoard.WaitForOutput("the card took every message", kStepLimit))
        << backBoard.Output() << restarted.Output();
    onAir = WaitForOnAir(beforeRestart, kNewName);
    EXPECT_TRUE(onAir.Complete()) << onAir.probeReport << restarted.Output();
    EXPECT_EQ(kNewName, onAir.ServiceName(kRenamedService)) << restarted.Output();
    EXPECT_NE(std::string::npos, RfLevel().find("INTEGER: 30")) << restarted.Output();
    EXPECT_EQ(std::string::npos, backBoard.Output().find("input card")) << backBoard.Output();

    // The only errors: the first start's notes that the settings files and
    // their JSON copy do not exist yet, and the EIT board's complaint about
    // the output channels that carry no stream; at the restart, the resource
    // update of the saved model's apply, which runs while the parameters load,
    // before the back board's address is known (the announcement follows
    // later in the start-up).
    EXPECT_EQ(std::vector<std::string>{},
              UnexpectedErrors(firstOutput, {"Config file [/product_data/HX_QAM.conf] is not exist!",
                                             "Config file [/product_data/HX_OutPutTSP.conf] is not exist!",
                                             "open file: /product_data/oid.json failed", "is invalid."}));
    EXPECT_EQ(std::vector<std::string>{},
              UnexpectedErrors(restarted.Output(), {"IP communication refused address 0x0",
                                                    "send resource to back board fail[1539]"}));

    EXPECT_LT(Clock::now() - started, 90s);
}

}  // namespace
}  // namespace hx

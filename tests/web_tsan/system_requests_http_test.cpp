// The system requests from outside: curl against the HTTP server thread with
// the card's dispatcher, the simulated board (its 160T, the recorded host
// commands, the SSH service) under it. The archives are downloaded through
// the web root's links and listed with tar; the rights come from the back
// board's message sent by chassis-send; the reboot goes to a simulated back
// board.
#include <cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chassis/ipcomm_cmd.h"
#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/command_runner.h"
#include "core/log.h"
#include "platform/qam.h"
#include "platform/qam_apply.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "sim/board_image.h"
#include "sim/fpga160t.h"
#include "sim/ssh_service.h"
#include "snmp/qam_mib_text.h"
#include "support/card_server.h"
#include "support/http_test_server.h"
#include "support/ipcomm_recorder.h"
#include "support/param_files.h"
#include "support/program_run.h"
#include "support/qam_live.h"
#include "support/sim_160t.h"
#include "support/test_env.h"
#include "support/tool_run.h"
#include "web/user_authority.h"

namespace hx {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr U32 kOwnSlot = 3;  // user-interface slot 3 in chassis type 0: the MIB file of slot 4

using test::RunTool;
using test::ToolRun;

struct Json {
    cJSON* tree = nullptr;
    explicit Json(const std::string& text) : tree(cJSON_Parse(text.c_str())) {}
    ~Json() { cJSON_Delete(tree); }
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;
    int Code() const {
        const cJSON* code = cJSON_GetObjectItem(tree, "code");
        return cJSON_IsNumber(code) ? code->valueint : -1;
    }
    const cJSON* Data() const { return cJSON_GetObjectItem(tree, "data"); }
    std::string DataText(const char* key) const {
        const char* text = cJSON_GetStringValue(cJSON_GetObjectItem(Data(), key));
        return text != nullptr ? text : "<none>";
    }
    std::vector<double> DataNumbers() const {
        std::vector<double> numbers;
        const cJSON* item;
        cJSON_ArrayForEach(item, Data()) { numbers.push_back(item->valuedouble); }
        return numbers;
    }
};

std::vector<double> Results(double first) {
    std::vector<double> numbers(16, 0);
    numbers[0] = first;
    return numbers;
}

// Every file or folder below `folder` named `name`.
std::vector<std::string> Found(const std::filesystem::path& folder, const std::string& name) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (entry.path().filename() == name) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

std::string WorkingDirectory() {
    char path[PATH_MAX] = {};
    return getcwd(path, sizeof path) != nullptr ? path : "";
}

// A tar that fails as one that cannot write its archive would, leaving
// nothing behind; recorded so the test sees it ran.
CommandResult FailingTar(const Command& command) {
    Command_Record(command);
    return CommandResult{2, true, {}};
}

class SystemRequestsHttp : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = kOwnSlot;
        SetProfile(profile);
        board.emplace();
        Status_Init();
        ASSERT_TRUE(SimBoardImage_Seed());
        log_Init(kMainLogPath);
        Log_SetLevel(LOG_LEVEL_ALL);
        Log_SetModule(LOG_MODULE_ALL);
        // The 160T link logs every value it reads at ERROR level.
        env.FailOnUnexpectedErrors({"*pu32Value = "});
        VKUser_InitUserAuthority();
        SetDescriptor("QAM/Board");
        Command_ClearRecorded();
        BeforeServerStarts();
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
    }
    // What a fixture sets up that the server thread reads.
    virtual void BeforeServerStarts() {}
    void TearDown() override {
        server.Stop();
        VKUser_InitUserAuthority();
        // A test's own tool handlers go; the next board's power-on installs
        // the simulated ones again.
        Command_ClearSimHandlers();
    }

    static void SetDescriptor(const std::string& text) {
        U8* descriptor = Resource_getSelfHandle()->au8BoardDescriptor;
        std::memset(descriptor, 0, sizeof Resource_getSelfHandle()->au8BoardDescriptor);
        std::memcpy(descriptor, text.data(), text.size());
    }

    std::string Post(const std::string& name, const std::string& body) {
        env.WriteText("/tmp/request.json", body);
        const ToolRun run = RunTool({"curl", "--noproxy", "*", "-sS", "--data-binary", "@" + env.Path("/tmp/request.json"),
                                     server.Url("/" + name)});
        EXPECT_EQ(0, run.status) << run.output;
        // Orders the handler's changes before what the test reads next.
        server.WebCalls();
        return run.output;
    }
    // Downloads the web root's file and lists the archive's members.
    std::vector<std::string> DownloadAndList(const std::string& path) {
        const std::string local = env.Path("/downloaded.tar.gz");
        std::filesystem::remove(local);
        const ToolRun get = RunTool({"curl", "--noproxy", "*", "-sS", "-f", "-o", local, "-g", server.Url("/" + Escaped(path))});
        EXPECT_EQ(0, get.status) << get.output;
        const ToolRun list = RunTool({"tar", "-tzf", local});
        EXPECT_EQ(0, list.status) << list.output;
        std::vector<std::string> members;
        std::size_t start = 0;
        for (std::size_t end; (end = list.output.find('\n', start)) != std::string::npos; start = end + 1) {
            members.push_back(list.output.substr(start, end - start));
        }
        return members;
    }
    std::string Member(const std::string& member) {
        return RunTool({"tar", "-xzOf", env.Path("/downloaded.tar.gz"), member}).output;
    }
    static std::string Escaped(const std::string& path) {
        std::string escaped;
        for (unsigned char c : path) {
            if (std::isalnum(c) || std::strchr("/._-", c) != nullptr) {
                escaped += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                escaped += hex;
            }
        }
        return escaped;
    }

    test::TestEnvironment env;
    std::optional<test::Sim160TBoard> board;
    test::HttpTestServer server{env, test::DispatchingOptions()};
};

// ---- log and MIB archives ---------------------------------------------------------------

TEST_F(SystemRequestsHttp, LogArchiveHoldsTheRunsLogUnderBothKeys) {
    Log_SetSyslogSink(nullptr);  // the simulated board's main log file, as a PC run writes it
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "a line of this run\n");
    const Json exported(Post("ExportLogs.w", R"({"token":"t"})"));
    ASSERT_EQ(0, exported.Code());
    EXPECT_EQ("download/QAM-Board_log.tar.gz", exported.DataText("uri"));
    EXPECT_THAT(DownloadAndList(exported.DataText("uri")), Contains("log/KESTRA.log"));
    EXPECT_THAT(Member("log/KESTRA.log"), HasSubstr("a line of this run"));
    EXPECT_THAT(Member("log/KESTRA.log"), HasSubstr("click Log Export button!(Web_ExportLogs)"));

    const Json saved(Post("SaveLog.w", R"({"token":"t"})"));
    ASSERT_EQ(0, saved.Code());
    EXPECT_EQ("download/QAM-Board_log.tar.gz", saved.DataText("url"));
    EXPECT_EQ("<none>", saved.DataText("uri"));
    // A new archive behind the same link (read on disk: the server's stat
    // cache ages by the test's virtual clock, which stands still here).
    const ToolRun again = RunTool({"tar", "-xzOf", env.Path("/vandik_app/web/" + saved.DataText("url")), "log/KESTRA.log"});
    EXPECT_THAT(again.output, HasSubstr("click Log Export button!(Log_Download)"));
}

TEST_F(SystemRequestsHttp, MibArchiveHoldsTheBoardsMibUnderItsDescription) {
    const std::string before = WorkingDirectory();
    const Json exported(Post("ExportMibs.w", R"({"token":"t"})"));
    ASSERT_EQ(0, exported.Code());
    EXPECT_EQ("download/QAM-Board_MIB.tar.gz", exported.DataText("uri"));
    EXPECT_THAT(DownloadAndList(exported.DataText("uri")), ElementsAre("MIB/", "MIB/QAM-Board_MIB4.txt"));
    EXPECT_EQ(Member("MIB/QAM-Board_MIB4.txt"), kQamMibText);
    EXPECT_EQ(before, WorkingDirectory()) << "the process's working directory is everyone's";
}

// A descriptor is one argument wherever it goes: its quote and command
// substitution reach no shell.
TEST_F(SystemRequestsHttp, DescriptorWithShellTextNamesFilesAndRunsNothing) {
    SetDescriptor("A/B'$(touch x)");
    Log_SetSyslogSink(nullptr);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "a line\n");
    const Json logs(Post("ExportLogs.w", R"({"token":"t"})"));
    ASSERT_EQ(0, logs.Code());
    EXPECT_EQ("download/A-B'$(touch x)_log.tar.gz", logs.DataText("uri"));
    EXPECT_TRUE(std::filesystem::exists(env.Path("/tmp/A-B'$(touch x)_log.tar.gz")));
    EXPECT_THAT(DownloadAndList(logs.DataText("uri")), Contains("log/KESTRA.log"));

    const Json mibs(Post("ExportMibs.w", R"({"token":"t"})"));
    ASSERT_EQ(0, mibs.Code());
    EXPECT_EQ("download/A-B'$(touch x)_MIB.tar.gz", mibs.DataText("uri"));
    EXPECT_THAT(DownloadAndList(mibs.DataText("uri")), ElementsAre("MIB/", "MIB/A-B'$(touch x)_MIB4.txt"));

    EXPECT_THAT(Found(env.root(), "x"), IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(WorkingDirectory()) / "x"));
}

TEST_F(SystemRequestsHttp, ExportsNeverOfferAStaleOrMissingArchive) {
    env.FailOnUnexpectedErrors({"Can't find", "tar /tmp/"});
    const struct {
        const char* what;
        const char* request;
        const char* remove;      // a file taken away first ("" none)
        bool failingTar;
        const char* archive;     // a stale archive left there first
        int code;
    } cases[] = {
        {"no main log", "ExportLogs.w", kMainLogPath, false, "/tmp/QAM-Board_log.tar.gz", 6},
        {"no MIB text", "ExportMibs.w", "/vandik_app/app/MIBs/QAM4-MIB.txt", false, "/tmp/KESTRA_MIB.tar.gz", 6},
        {"a log tar that fails", "ExportLogs.w", "", true, "/tmp/QAM-Board_log.tar.gz", 779},
        {"a MIB tar that fails", "ExportMibs.w", "", true, "/tmp/KESTRA_MIB.tar.gz", 779},
    };
    env.WriteText(kMainLogPath, "a line\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        env.WriteText(c.archive, "stale");
        if (*c.remove != '\0') {
            std::filesystem::remove(env.Path(c.remove));
        }
        if (c.failingTar) {
            Command_SetSimHandler("tar", FailingTar);
        }
        Command_ClearRecorded();
        const Json reply(Post(c.request, R"({"token":"t"})"));
        EXPECT_EQ(c.code, reply.Code());
        if (c.code == 6) {
            // Nothing ran: no copy, no archive, no link.
            EXPECT_THAT(Command_Recorded(), IsEmpty());
            EXPECT_FALSE(std::filesystem::exists(env.Path("/tmp/MIB")));
            EXPECT_EQ("stale", env.ReadText(c.archive));
        } else {
            EXPECT_THAT(Command_Recorded(), ElementsAre(HasSubstr("tar -czvf")));
            EXPECT_FALSE(std::filesystem::exists(env.Path(c.archive))) << "the stale archive is gone";
        }
        const std::string download = env.Path("/vandik_app/web/download");
        EXPECT_TRUE(!std::filesystem::exists(download) || std::filesystem::is_empty(download)) << "no link offered";
        env.WriteText(kMainLogPath, "a line\n");
        SimBoardImage_Seed();
    }
}

// ---- registers, debug and rights ------------------------------------------------------------

TEST_F(SystemRequestsHttp, RegistersReadBackAndRefuseIndicesThatDoNotFit) {
    EXPECT_EQ(0, Json(Post("WriteReg.w", R"({"token":"t","address":1000,"value":4294967295})")).Code());
    const Json read(Post("ReadReg.w", R"({"token":"t","address":1000})"));
    EXPECT_EQ(4294967295.0, cJSON_GetObjectItem(read.Data(), "value")->valuedouble);
    for (const char* address : {"-1", "1.5", "65536"}) {
        EXPECT_EQ(774, Json(Post("ReadReg.w", std::string(R"({"token":"t","address":)") + address + "}")).Code())
            << address;
    }
    const Json slot(Post("ReadReg.w", R"({"token":"t","address":16})"));
    EXPECT_EQ(kOwnSlot, cJSON_GetObjectItem(slot.Data(), "value")->valuedouble);
}

TEST_F(SystemRequestsHttp, DebugReachesThe160TItsDacTheSshServiceAndTheEraseFlag) {
    sim::Fpga160T& fpga160t = board->fpga160t();
    fpga160t.SetRegister(256, 0x1234);
    EXPECT_EQ(Results(0x1234), Json(Post("Debug.w", R"({"token":"t","type":2,"params":[256]})")).DataNumbers());
    EXPECT_EQ(Results(0), Json(Post("Debug.w", R"({"token":"t","type":3,"params":[300,7]})")).DataNumbers());
    EXPECT_EQ(7u, fpga160t.Register(300));
    EXPECT_EQ(Results(0), Json(Post("Debug.w", R"({"token":"t","type":7,"params":[2,9]})")).DataNumbers());
    EXPECT_EQ(9u, fpga160t.DacRegister(2));
    EXPECT_EQ(Results(9), Json(Post("Debug.w", R"({"token":"t","type":6,"params":[2]})")).DataNumbers());

    // The SSH switch and query, against the simulated service.
    const struct {
        const char* what;
        std::string body;
        bool running;
        const char* recorded;
    } ssh[] = {
        {"start", R"({"token":"t","type":14,"params":[1]})", true, "/etc/init.d/dropbear start"},
        {"stop", R"({"token":"t","type":14,"params":[0]})", false, "/etc/init.d/dropbear stop"},
        {"257 is 1 in 8 bits", R"({"token":"t","type":14,"params":[257]})", true, "/etc/init.d/dropbear start"},
        {"2 stops", R"({"token":"t","type":14,"params":[2]})", false, "/etc/init.d/dropbear stop"},
    };
    for (const auto& c : ssh) {
        SCOPED_TRACE(c.what);
        Command_ClearRecorded();
        const std::size_t sleeps = env.clock().SleepHistory().size();
        EXPECT_EQ(Results(0), Json(Post("Debug.w", c.body)).DataNumbers());
        EXPECT_EQ(c.running, sim::SimSsh_Running());
        EXPECT_THAT(Command_Recorded(), ElementsAre(c.recorded));
        const auto history = env.clock().SleepHistory();
        EXPECT_THAT(std::vector<std::uint64_t>(history.begin() + static_cast<std::ptrdiff_t>(sleeps), history.end()),
                    ElementsAre(1'000'000u));
        EXPECT_EQ(Results(c.running ? 1 : 0), Json(Post("Debug.w", R"({"token":"t","type":15})")).DataNumbers());
    }
    EXPECT_THAT(env.Console(), HasSubstr("Web open telnet Server!"));
    EXPECT_THAT(env.Console(), HasSubstr("Web close telnet Server!"));

    // The erase flag, for the start-up scripts.
    Command_ClearRecorded();
    EXPECT_EQ(Results(0), Json(Post("Debug.w", R"({"token":"t","type":16})")).DataNumbers());
    EXPECT_TRUE(std::filesystem::exists(env.Path("/vandik_data/EraseDataMtd.flag")));
    EXPECT_THAT(Command_Recorded(), ElementsAre("sync"));
    // Without the board's erase script nothing is flagged.
    env.FailOnUnexpectedErrors({"EraseDataMtd.sh] is not exist"});
    std::filesystem::remove(env.Path("/vandik_data/EraseDataMtd.flag"));
    std::filesystem::remove(env.Path("/vandik_app/app/EraseDataMtd.sh"));
    Command_ClearRecorded();
    EXPECT_EQ(Results(0), Json(Post("Debug.w", R"({"token":"t","type":16})")).DataNumbers());
    EXPECT_FALSE(std::filesystem::exists(env.Path("/vandik_data/EraseDataMtd.flag")));
    EXPECT_THAT(Command_Recorded(), IsEmpty());
}

TEST_F(SystemRequestsHttp, WithdrawnModifyRightStopsRegisterWritesAndDebugCommands) {
    test::CardServer card(0, 500);
    ASSERT_NE(0, card.port());
    const ToolRun sent = RunTool({HX_CHASSIS_SEND_BINARY, "--port", std::to_string(card.port()), "USER_AUTHORITY_CONFIG",
                                  R"({"data":[{"UserName":"op","Authoritylist":[{"AuthorityId":768,"ViewEnable":1,"ModifyEnable":0}]}]})"});
    ASSERT_EQ(0, sent.status) << sent.output;
    board->fpga().Write(1000, 5);
    Command_ClearRecorded();
    for (const char* body : {R"({"token":"t","type":3,"params":[300,7]})", R"({"token":"t","type":14,"params":[1]})",
                             R"({"token":"t","type":16})"}) {
        EXPECT_EQ(1035, Json(Post("Debug.w", body)).Code()) << body;
    }
    EXPECT_EQ(1035, Json(Post("WriteReg.w", R"({"token":"t","address":1000,"value":6})")).Code());
    EXPECT_EQ(5u, board->fpga().Peek(1000));
    EXPECT_NE(7u, board->fpga160t().Register(300).value_or(0));
    EXPECT_FALSE(sim::SimSsh_Running());
    EXPECT_FALSE(std::filesystem::exists(env.Path("/vandik_data/EraseDataMtd.flag")));
    EXPECT_THAT(Command_Recorded(), IsEmpty());
    // Reading needs no right.
    EXPECT_EQ(0, Json(Post("ReadReg.w", R"({"token":"t","address":1000})")).Code());
}

// ---- factory settings and reboot ---------------------------------------------------------------

TEST_F(SystemRequestsHttp, FactorySettingsRewriteTheSettingsFilesAndTheirJsonCopy) {
    env.FailOnUnexpectedErrors({"Open TSP config files error"});
    test::ResetParameterState();
    QAM160T_Init_Parmeter(GetQAMPara_Handle());
    const U32 factoryFrequency = GetQAMPara_Handle()->Frequency[0].value;
    test::EditLiveQamSet([](TParameter_QAM& live) { live.Frequency[0].value = 474000; });
    ASSERT_EQ(0u, QAM_SaveParams());
    DATA_Save();
    ASSERT_THAT(env.ReadText(kQamJsonFilePath), HasSubstr("474000"));

    // Without the model file nothing is reset.
    EXPECT_EQ(1, Json(Post("Default.w", R"({"token":"t"})")).Code());
    EXPECT_EQ(474000u, test::LiveQamSet().Frequency[0].value);

    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    const Json reply(Post("Default.w", R"({"token":"t"})"));
    ASSERT_EQ(0, reply.Code());
    EXPECT_EQ(2, cJSON_GetObjectItem(reply.Data(), "defaultDelay")->valueint);
    EXPECT_EQ(factoryFrequency, test::LiveQamSet().Frequency[0].value);
    EXPECT_THAT(env.ReadText(kQamJsonFilePath), Not(HasSubstr("474000")));
    EXPECT_THAT(env.ReadText(kQamJsonFilePath), HasSubstr(std::to_string(factoryFrequency)));
    EXPECT_TRUE(test::FileExists(kQamParamFilePath));
    EXPECT_TRUE(test::FileExists(kModelParamFilePath));
    EXPECT_THAT(env.Console(), HasSubstr("click Factory Settings button!(Web_SetFactory)"));
}

class RebootHttp : public SystemRequestsHttp {
protected:
    void SetUp() override {
        peers.emplace();
        SystemRequestsHttp::SetUp();
        IPComm_TakeRecordedSends();
    }
    void BeforeServerStarts() override { peers->AssignAddresses(); }
    void TearDown() override {
        SystemRequestsHttp::TearDown();
        peers.reset();
        Resource_Reset();
    }
    std::optional<test::ChassisPeers> peers;
};

TEST_F(RebootHttp, RefusedByTheBackBoardNothingIsPrepared) {
    env.FailOnUnexpectedErrors({"IPComm_SendRebootSubCmd error"});
    peers->chassis().SetAnswer(16, SimAnswer::Error);
    EXPECT_EQ(1, Json(Post("Reboot.w", R"({"token":"t"})")).Code());
    EXPECT_THAT(Command_Recorded(), IsEmpty()) << "syslog, data partition and UBI device left alone";
    EXPECT_THAT(env.Console(), Not(HasSubstr("close log")));
}

TEST_F(RebootHttp, AcceptedTheRequestComesBeforeThePreparationAndTheReboot) {
    const Json reply(Post("Reboot.w", R"({"token":"t"})"));
    ASSERT_EQ(0, reply.Code());
    EXPECT_EQ(70, cJSON_GetObjectItem(reply.Data(), "delay")->valueint);
    EXPECT_THAT(Command_Recorded(), ElementsAre("killall -9 syslogd", "sync", "sync", "umount /vandik_data",
                                                "ubidetach -m 8", "reboot"));
    const std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(16u, sends[0].slot);
    EXPECT_EQ(static_cast<U32>(IPCOMM_REQ_REBOOT), sends[0].command);
    const std::string console = env.Console();
    EXPECT_LT(console.find("click Reboot button!(Web_Reboot)"), console.find("Start Reboot Subboard..."));
    EXPECT_LT(console.find("Start Reboot Subboard..."), console.find("End logging and umount data before reboot"));
    EXPECT_LT(console.find("End logging and umount data before reboot"), console.find("Call system reboot"));
}

}  // namespace
}  // namespace hx

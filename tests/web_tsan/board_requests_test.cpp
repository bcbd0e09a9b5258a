// The board, RF channel and IP monitor requests from outside: curl against
// the HTTP server thread with the card's own request dispatcher, the
// simulated board with its 160T under it. Every set case checks the reply,
// the live QAM set, the burst the 160T received (the changed pairs and
// nothing else), the QAM parameter file and the JSON copy. The rights cases
// take the back board's rights message from chassis-send through the card's
// inter-board server.
#include <cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/log.h"
#include "platform/ip_monitor.h"
#include "platform/qam.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "sim/fpga160t.h"
#include "support/card_server.h"
#include "support/http_test_server.h"
#include "support/param_files.h"
#include "support/qam_live.h"
#include "support/program_run.h"
#include "support/sim_160t.h"
#include "support/test_env.h"
#include "support/tool_run.h"
#include "support/web_replies.h"
#include "web/user_authority.h"
#include "web/web_accessors.h"

namespace hx {
namespace {

using ::testing::HasSubstr;

constexpr U32 kOwnSlot = 3;  // the rights message names rights 768-1023

struct Json {
    std::unique_ptr<cJSON, void (*)(cJSON*)> tree{nullptr, cJSON_Delete};
    const cJSON* operator->() const { return tree.get(); }
    const cJSON* get() const { return tree.get(); }
};
Json Parse(const std::string& text) { return Json{{cJSON_Parse(text.c_str()), cJSON_Delete}}; }
double Number(const cJSON* object, const char* key) { return cJSON_GetObjectItem(object, key)->valuedouble; }

struct Reply {
    int status = 0;  // HTTP status, 0 when curl failed
    std::string body;
};

using test::RunTool;
using test::ToolRun;

// The pairs whose value differs between two tables, in table order: what
// one apply must send.
std::vector<sim::Parameter160T> ChangedPairs(const TParameter_QAM& before, const TParameter_QAM& after) {
    std::vector<sim::Parameter160T> changed;
    const QamPairs old = QAM_PairsOf(before);
    const QamPairs now = QAM_PairsOf(after);
    for (U32 i = 0; i < kQamPairs; ++i) {
        if (old[i].value != now[i].value) {
            changed.push_back({now[i].address, now[i].value});
        }
    }
    return changed;
}

class BoardRequestsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = kOwnSlot;
        SetProfile(profile);
        board.emplace();
        Status_Init();
        log_Init(kMainLogPath);
        env.FailOnUnexpectedErrors();
        VKUser_InitUserAuthority();
        test::ResetParameterState();
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        Init_IPMonitor_Parmeter();
        *GetQAMParaTmp_Handle() = *GetQAMPara_Handle();
        ASSERT_EQ(0u, QAM_SaveParams());
        Web_SetPSIInterval(100);
        DATA_Save();
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
    }
    void TearDown() override {
        server.Stop();
        VKUser_InitUserAuthority();
    }

    // The body goes through a file: a long list is more than one argument
    // may hold.
    Reply Post(const std::string& name, const std::string& body) {
        env.WriteText("/tmp/request.json", body);
        std::string data = "@";
        data += env.Path("/tmp/request.json");
        // Orders the test's changes of shared records before the handler.
        server.WebCalls();
        const ToolRun run = RunTool({"curl", "--noproxy", "*", "-sS", "-H", "Content-Type: application/json",
                                     "--data-binary", data, "-w", "\n%{http_code}", server.Url("/" + name)});
        // Orders the handler's changes before what the test reads next.
        server.WebCalls();
        Reply reply;
        const size_t last = run.output.rfind('\n');
        if (run.status != 0 || last == std::string::npos) {
            ADD_FAILURE() << "curl: " << run.output;
            return reply;
        }
        reply.status = std::stoi(run.output.substr(last + 1));
        reply.body = run.output.substr(0, last);
        return reply;
    }
    // The reply's "code" (-1 when the reply is no JSON object with one).
    static int Code(const Reply& reply) { return test::ReplyCode(reply.body); }

    TParameter_QAM SavedQamFile() {
        QamParamFileBytes bytes{};
        const std::vector<U8> content = test::ReadBytes(kQamParamFilePath);
        EXPECT_EQ(bytes.size(), content.size());
        std::memcpy(bytes.data(), content.data(), std::min(bytes.size(), content.size()));
        return QamParams_Parse(bytes).st_QAMParams.stQAM160TParams;
    }
    QAM_IPMonitorPara SavedMonitor() {
        QamParamFileBytes bytes{};
        const std::vector<U8> content = test::ReadBytes(kQamParamFilePath);
        std::memcpy(bytes.data(), content.data(), std::min(bytes.size(), content.size()));
        return QamParams_Parse(bytes).st_IPMonitorParams.stIPMonitorParams;
    }
    std::string JsonCopy() { return env.ReadText(kQamJsonFilePath); }
    static U16 Interval() { return test::LivePsiInterval(); }
    // The JSON copy shows the table and the interval, channel by channel.
    void ExpectJsonCopyShows(const TParameter_QAM& table, U16 interval) {
        const Json json = Parse(JsonCopy());
        const cJSON* qam = cJSON_GetObjectItem(json.get(), "QamParameter");
        ASSERT_NE(nullptr, qam) << JsonCopy();
        EXPECT_EQ(interval, Number(qam, "psiinterval"));
        EXPECT_EQ(table.PowerLevel.value, Number(qam, "rflevel"));
        const cJSON* channels = cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(qam, "portlist"), 0), "channellist");
        ASSERT_EQ(16, cJSON_GetArraySize(channels));
        for (U32 r = 0; r < 16; ++r) {
            const cJSON* item = cJSON_GetArrayItem(channels, static_cast<int>(r));
            EXPECT_EQ(table.Frequency[r].value, Number(item, "frequency")) << r;
            EXPECT_EQ(table.ChannelEnable[r].value, Number(item, "enable")) << r;
            EXPECT_EQ(table.Mode[r / 8].value, Number(item, "annexmode")) << r;
        }
    }

    sim::Fpga160T& fpga160t() { return board->fpga160t(); }

    test::TestEnvironment env;
    std::optional<test::Sim160TBoard> board;
    test::HttpTestServer server{env, test::DispatchingOptions()};
};

// ---- the gets -------------------------------------------------------------------

TEST_F(BoardRequestsTest, GetsShowTheLiveSettings) {
    test::EditLiveQamSet([](TParameter_QAM& live) {
        live.Frequency[15].value = 858000;
        live.Mode[1].value = MODE_QAMB;
        live.Constellation[1].value = 1;
        live.SymbolRate[1].value = kAnnexBFixedSymbolRate;
        live.SymbolRate[0].value = 5056941;
    });
    const TParameter_QAM live = test::LiveQamSet();
    Reply reply = Post("GetSubboardParam.w", R"({"token":"t"})");
    ASSERT_EQ(200, reply.status);
    Json json = Parse(reply.body);
    ASSERT_EQ(0, Code(reply)) << reply.body;
    EXPECT_TRUE(cJSON_IsNull(cJSON_GetObjectItem(json.get(), "description")));
    const cJSON* data = cJSON_GetObjectItem(json.get(), "data");
    EXPECT_EQ(100, Number(data, "psiinterval"));
    EXPECT_EQ(live.PowerLevel.value, Number(data, "rflevel"));
    EXPECT_EQ(Web_GetPowerLevelType(), Number(data, "rflevelversion"));
    const cJSON* port = cJSON_GetArrayItem(cJSON_GetObjectItem(data, "portlist"), 0);
    EXPECT_EQ(16, Number(port, "channelnumber"));
    const cJSON* channels = cJSON_GetObjectItem(port, "channellist");
    ASSERT_EQ(16, cJSON_GetArraySize(channels));
    EXPECT_EQ(5056.941, Number(cJSON_GetArrayItem(channels, 0), "symbolrate"));
    EXPECT_EQ(5361, Number(cJSON_GetArrayItem(channels, 8), "symbolrate")) << "annex B, constellation 1";
    EXPECT_EQ(5361, Number(cJSON_GetArrayItem(channels, 15), "symbolrate")) << "group values on every channel";
    EXPECT_EQ(858000, Number(cJSON_GetArrayItem(channels, 15), "frequency"));
    EXPECT_EQ(15, Number(cJSON_GetArrayItem(channels, 15), "channel"));

    const U8 mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe};
    test::EditLiveIpMonitor([&mac](QAM_IPMonitorPara& monitor) {
        monitor.u8Channel = 16;  // no output channel: shown as port 0, channel 0
        monitor.u32DestIPAddr = 3232235876;
        monitor.u8Mac1LicFlag = 1;
        std::memcpy(monitor.aru8Mac1, mac, sizeof mac);
    });
    reply = Post("GetSubboardIPMonitorParam.w", R"({"token":"t"})");
    json = Parse(reply.body);
    data = cJSON_GetObjectItem(json.get(), "data");
    ASSERT_NE(nullptr, data) << reply.body;
    EXPECT_EQ(0, Number(data, "channel"));
    EXPECT_EQ(3232235876.0, Number(data, "destipaddress"));
    EXPECT_EQ(4294967040.0, Number(data, "netmask"));
    EXPECT_STREQ("00:1a:2b:3c:4d:fe", cJSON_GetObjectItem(data, "mac")->valuestring);
    EXPECT_EQ(16, cJSON_GetArraySize(cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(data, "portlist"), 0),
                                                         "channellist")));

    // A customer number that fills its 32 bytes is read within them.
    TResource_TS& own = *Resource_getSelfHandle();
    const TResource_TS before = own;
    std::memset(own.au8CustomerNo, 'C', sizeof own.au8CustomerNo);
    own.u8FTPUpgrade = 'X';
    own.u8EitEnable = 'Y';
    std::memcpy(own.au8BoardDescriptor, "QAM Board\0\0\0\0\0\0\0\0\0\0\0", 20);
    reply = Post("GetSubboardDetail.w", R"({"token":"t"})");
    own = before;
    json = Parse(reply.body);
    data = cJSON_GetObjectItem(json.get(), "data");
    ASSERT_NE(nullptr, data) << reply.body;
    EXPECT_EQ(0, Number(data, "boardnumber"));
    EXPECT_STREQ("QAM Board", cJSON_GetObjectItem(data, "boardname")->valuestring);
    EXPECT_EQ(std::string(32, 'C'), cJSON_GetObjectItem(data, "customerno")->valuestring);

    for (const char* body : {R"({"token":"t"})", "not json", ""}) {
        reply = Post("GetSubboardReadyStatus.w", body);
        EXPECT_EQ(200, reply.status) << body;
        EXPECT_EQ("", reply.body) << body;
    }
    reply = Post("GetSubboardParam.w", R"({"token":5})");
    EXPECT_EQ(774, Code(reply));
    EXPECT_TRUE(fpga160t().Bursts().empty()) << "the gets send nothing";
}

// ---- SetSubboardParam.w -------------------------------------------------------------

enum class Outcome {
    Applied,     // burst of the changed pairs, QAM file and JSON copy rewritten
    Refused,     // nothing sent or saved, the live set and interval as before
    LinkFailed,  // edits kept and saved in the QAM file, the JSON copy kept
    Rejected,    // refused before any change: nothing sent, nothing saved
};

struct SetCase {
    const char* name;
    std::string body;
    int code;
    Outcome outcome;
    std::function<void(TParameter_QAM&)> edit;  // the expected live set
    U16 interval = 100;                         // the expected PSI interval
    std::vector<const char*> errors = {};       // ERROR lines the case causes
    bool silent160T = false;
};

void PrintTo(const SetCase& c, std::ostream* out) { *out << c.name; }

std::string Channels(const std::string& items) {
    return R"({"token":"t","psiinterval":100,"portlist":[{"port":0,"channellist":[)" + items + "]}]}";
}

std::string ManyPorts(int count) {
    std::string ports;
    for (int i = 0; i < count; ++i) {
        ports += std::string(i == 0 ? "" : ",") + R"({"port":0,"channellist":[{"channel":1,"frequency":1000}]})";
    }
    return R"({"token":"t","psiinterval":300,"rflevel":7,"portlist":[)" + ports + "]}";
}

// A good port item, then one whose channel list holds `count` items.
std::string ManyChannels(int count) {
    std::string items = "0";
    for (int i = 1; i < count; ++i) {
        items += ",0";
    }
    return R"({"token":"t","psiinterval":300,"portlist":[{"port":0,"channellist":[{"channel":0,"frequency":1}]},)"
           R"({"port":0,"channellist":[)" + items + "]}]}";
}

const SetCase kSetCases[] = {
    {"NewFrequencyForChannelZero", Channels(R"({"channel":0,"frequency":474000})"), 0, Outcome::Applied,
     [](TParameter_QAM& t) { t.Frequency[0].value = 474000; }},
    {"BoardKeysAndInterval", R"({"token":"t","psiinterval":250,"rflevel":95,"channelstandard":2,"rflevelunittype":1})",
     0, Outcome::Applied,
     [](TParameter_QAM& t) {
         t.PowerLevel.value = 95;
         t.ATSCChannelMode.value = 2;
         t.rflevelunittype.value = 1;
     },
     250},
    {"SingleModeOnlyEvenWithOtherKeys",
     R"({"token":"t","singlemode":257,"psiinterval":300,"rflevel":1,"portlist":[{"port":0,"channellist":[{"channel":0,"frequency":1}]}]})",
     0, Outcome::Rejected, [](TParameter_QAM& t) { t.SingleMode.value = 1; }},
    {"GroupKeysCountOnlyOnTheGroupsFirstChannel", Channels(R"({"channel":3,"annexmode":2,"symbolrate":5000,"Interweave":5})"),
     0, Outcome::Applied, [](TParameter_QAM& t) { t.Interleaver[3].value = 5; }},
    {"SymbolRateInThousands", Channels(R"({"channel":0,"symbolrate":6900})"), 0, Outcome::Applied,
     [](TParameter_QAM& t) { t.SymbolRate[0].value = 6900000; }},
    {"SymbolRateRounded", Channels(R"({"channel":8,"symbolrate":1024.003},{"channel":0,"symbolrate":5056.941})"), 0,
     Outcome::Applied,
     [](TParameter_QAM& t) {
         t.SymbolRate[1].value = 1024003;
         t.SymbolRate[0].value = 5056941;
     }},
    {"AnnexBConstellationOneFixedRate", Channels(R"({"channel":8,"annexmode":1,"constellation":1,"symbolrate":6875})"), 0,
     Outcome::Applied,
     [](TParameter_QAM& t) {
         t.Mode[1].value = 1;
         t.Constellation[1].value = 1;
         t.SymbolRate[1].value = kAnnexBFixedSymbolRate;
     }},
    {"NegativeAndInfiniteSymbolRatesSkipped",
     Channels(R"({"channel":0,"symbolrate":-1,"frequency":11},{"channel":8,"symbolrate":1e999,"bandwidth":3})"), 0,
     Outcome::Applied,
     [](TParameter_QAM& t) {
         t.Frequency[0].value = 11;
         t.Bandwidth[1].value = 3;
     }},
    {"NoChannelWraps",
     R"({"token":"t","psiinterval":100,"portlist":[{"port":-1,"channellist":[{"channel":17,"frequency":1}]},
        {"port":0,"channellist":[{"channel":-16,"frequency":2},{"channel":40,"frequency":3},{"channel":288,"frequency":4},
                                 {"channel":20,"frequency":5},{"channel":1.5,"frequency":6}]},
        {"port":1,"channellist":[{"channel":16,"frequency":7}]},
        {"port":268435456,"channellist":[{"channel":0,"frequency":8}]}]})",
     0, Outcome::Applied, [](TParameter_QAM& t) { t.Frequency[20].value = 5; }},
    {"WrongTypesSkipped",
     R"({"token":"t","psiinterval":100,"rflevel":true,"channelstandard":"1","portlist":[7,{"port":"0","channellist":[{"channel":1,"enable":1}]},
        {"port":0,"channellist":{"channel":1}},{"port":0,"channellist":[null,{"channel":"2","enable":1},{"channel":2,"enable":"1","Interweave":4}]}]})",
     0, Outcome::Applied, [](TParameter_QAM& t) { t.Interleaver[2].value = 4; }},
    {"NoPsiIntervalChangesNothing", R"({"token":"t","rflevel":3,"portlist":[{"port":0,"channellist":[{"channel":0,"frequency":9}]}]})",
     774, Outcome::Rejected, [](TParameter_QAM&) {}},
    {"PsiIntervalAsTextChangesNothing", R"({"token":"t","psiinterval":"300","rflevel":3})", 774, Outcome::Rejected,
     [](TParameter_QAM&) {}},
    {"TooManyPortsChangeNothing", ManyPorts(256), 774, Outcome::Rejected, [](TParameter_QAM&) {}},
    {"AtMostPortsApplied", ManyPorts(255), 0, Outcome::Applied,
     [](TParameter_QAM& t) {
         t.Frequency[1].value = 1000;
         t.PowerLevel.value = 7;
     },
     300},
    {"TooManyChannelsChangeNothing", ManyChannels(65536), 774, Outcome::Rejected, [](TParameter_QAM&) {}},
    {"NoTokenChangesNothing", R"({"psiinterval":300,"rflevel":3})", 774, Outcome::Rejected, [](TParameter_QAM&) {}},
    {"ModeThreeRefusedAndIntervalRestored",
     R"({"token":"t","psiinterval":400,"rflevel":9,"portlist":[{"port":0,"channellist":[{"channel":0,"annexmode":3}]}]})", 4,
     Outcome::Refused, [](TParameter_QAM&) {}, 100, {"Rate Word Out Of Range"}},
    {"SilentModulatorKeepsTheEdits", Channels(R"({"channel":5,"frequency":500000,"enable":1})"), 2, Outcome::LinkFailed,
     [](TParameter_QAM& t) {
         t.Frequency[5].value = 500000;
         t.ChannelEnable[5].value = 1;
     },
     100, {"Send Parameters To 160T Fail", "UartComm_WriteMulti", "160T Uart"}, true},
};

class SetSubboardParamTest : public BoardRequestsTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetSubboardParamTest, ReplyLiveSetBurstAndFiles) {
    const SetCase& c = GetParam();
    for (const char* error : c.errors) {
        env.FailOnUnexpectedErrors({error});
    }
    const TParameter_QAM before = test::LiveQamSet();
    const std::string jsonBefore = JsonCopy();
    ASSERT_FALSE(jsonBefore.empty());
    TParameter_QAM expected = before;
    c.edit(expected);
    const size_t burstsBefore = fpga160t().Bursts().size();
    if (c.silent160T) {
        fpga160t().FailNext({sim::ReplyFault::Kind::NoAnswer}, 100000);
    }

    const Reply reply = Post("SetSubboardParam.w", c.body);
    fpga160t().ClearFaults();
    ASSERT_EQ(200, reply.status);
    EXPECT_EQ(c.code, Code(reply)) << reply.body;
    const TParameter_QAM after = test::LiveQamSet();
    EXPECT_EQ(0, std::memcmp(&expected, &after, sizeof expected)) << "live set";
    EXPECT_EQ(c.interval, Interval());

    std::vector<sim::Burst160T> bursts = fpga160t().Bursts();
    bursts.erase(bursts.begin(), bursts.begin() + static_cast<std::ptrdiff_t>(burstsBefore));
    switch (c.outcome) {
        case Outcome::Applied: {
            const std::vector<sim::Parameter160T> changed = ChangedPairs(before, expected);
            if (changed.empty()) {
                EXPECT_TRUE(bursts.empty());
            } else {
                ASSERT_EQ(1u, bursts.size());
                EXPECT_TRUE(bursts[0].end.has_value() && !bursts[0].interrupted);
                EXPECT_EQ(changed, bursts[0].pairs);
            }
            const TParameter_QAM saved = SavedQamFile();
            EXPECT_EQ(0, std::memcmp(&expected, &saved, sizeof expected)) << "saved";
            ExpectJsonCopyShows(expected, c.interval);
            break;
        }
        case Outcome::LinkFailed: {
            const TParameter_QAM saved = SavedQamFile();
            EXPECT_EQ(0, std::memcmp(&expected, &saved, sizeof expected)) << "saved with the edits";
            EXPECT_EQ(jsonBefore, JsonCopy()) << "the JSON copy only follows a good apply";
            break;
        }
        case Outcome::Refused:
        case Outcome::Rejected: {
            EXPECT_TRUE(bursts.empty());
            const TParameter_QAM saved = SavedQamFile();
            EXPECT_EQ(0, std::memcmp(&expected, &saved, sizeof expected));
            EXPECT_EQ(jsonBefore, JsonCopy());
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SetSubboardParamTest, ::testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Forwards every line to the environment's recording sink; at the line a
// setter logs just before it applies (its edits made), asks from another
// thread whether the QAM apply lock is free. An SNMP SET or a chassis order
// could change the live set there if it were.
class ApplyLockProbe final : public SyslogSink {
public:
    explicit ApplyLockProbe(SyslogSink& inner) : inner_(inner) {}
    void Open(const char* ident) override { inner_.Open(ident); }
    void Close() override { inner_.Close(); }
    void Write(int priority, const std::string& text) override {
        if (text.find("click Apply button!") != std::string::npos) {
            bool lockFree = false;
            std::thread([&lockFree] {
                lockFree = QAM_ApplyLock().try_lock();
                if (lockFree) {
                    QAM_ApplyLock().unlock();
                }
            }).join();
            std::lock_guard lock(mutex_);
            lockFreeAtApply_.push_back(lockFree);
        }
        inner_.Write(priority, text);
    }
    std::vector<bool> LockFreeAtApply() {
        std::lock_guard lock(mutex_);
        return lockFreeAtApply_;
    }

private:
    SyslogSink& inner_;
    std::mutex mutex_;
    std::vector<bool> lockFreeAtApply_;
};

TEST_F(BoardRequestsTest, SettersHoldTheApplyLockThroughTheirEdits) {
    ApplyLockProbe probe(env.syslog());
    Log_SetSyslogSink(&probe);
    const Reply set = Post("SetSubboardParam.w", Channels(R"({"channel":0,"frequency":474000})"));
    const Reply single = Post("SetSubboardParam.w", R"({"token":"t","singlemode":1})");
    Log_SetSyslogSink(&env.syslog());
    EXPECT_EQ(0, Code(set)) << set.body;
    EXPECT_EQ(0, Code(single)) << single.body;
    EXPECT_EQ((std::vector<bool>{false, false}), probe.LockFreeAtApply());
}

// ---- SetSubboardIPMonitorParam.w -------------------------------------------------

struct MonitorCase {
    const char* name;
    std::string body;
    int code;
    std::function<void(QAM_IPMonitorPara&)> edit;
};

void PrintTo(const MonitorCase& c, std::ostream* out) { *out << c.name; }

const MonitorCase kMonitorCases[] = {
    {"AllKeys", R"({"token":"t","enable":1,"destipaddress":3232235876,"port":0,"channel":15,"destport":5004,"bitrate":80})", 0,
     [](QAM_IPMonitorPara& m) {
         m.u8Enable = 1;
         m.u32DestIPAddr = 3232235876;
         m.u8Channel = 15;
         m.u16DestPort = 5004;
         m.u16IP1MaxRate = 80;
     }},
    {"NoKeysReapplies", R"({"token":"t"})", 0, [](QAM_IPMonitorPara&) {}},
    {"ChannelsOutsideTheOutputsSkipped", R"({"token":"t","port":0,"channel":16,"bitrate":50})", 0,
     [](QAM_IPMonitorPara& m) { m.u16IP1MaxRate = 50; }},
    {"ChannelNotCutTo8Bits", R"({"token":"t","port":0,"channel":259,"destport":9})", 0,
     [](QAM_IPMonitorPara& m) { m.u16DestPort = 9; }},
    {"NegativeChannelSkipped", R"({"token":"t","port":1,"channel":-4})", 0, [](QAM_IPMonitorPara&) {}},
    {"AddressOutOfRangeSkipped", R"({"token":"t","destipaddress":-1,"port":0,"channel":2})", 0,
     [](QAM_IPMonitorPara& m) { m.u8Channel = 2; }},
    {"InfiniteAddressSkipped", R"({"token":"t","destipaddress":1e999})", 0, [](QAM_IPMonitorPara&) {}},
    {"ChannelNeedsBothNumbers", R"({"token":"t","channel":3})", 0, [](QAM_IPMonitorPara&) {}},
    {"NoToken", R"({"enable":1})", 774, [](QAM_IPMonitorPara&) {}},
};

class SetIPMonitorTest : public BoardRequestsTest, public ::testing::WithParamInterface<MonitorCase> {};

TEST_P(SetIPMonitorTest, ReplyLiveRecordAndFiles) {
    const MonitorCase& c = GetParam();
    QAM_IPMonitorPara expected = test::LiveIpMonitor();
    c.edit(expected);
    const std::string jsonBefore = JsonCopy();

    const Reply reply = Post("SetSubboardIPMonitorParam.w", c.body);
    EXPECT_EQ(c.code, Code(reply)) << reply.body;
    const QAM_IPMonitorPara after = test::LiveIpMonitor();
    EXPECT_EQ(0, std::memcmp(&expected, &after, sizeof expected));
    if (c.code != 0) {
        EXPECT_EQ(jsonBefore, JsonCopy());
        return;
    }
    const QAM_IPMonitorPara saved = SavedMonitor();
    EXPECT_EQ(0, std::memcmp(&expected, &saved, sizeof expected)) << "saved";
    const Json json = Parse(JsonCopy());
    const cJSON* monitor = cJSON_GetObjectItem(json.get(), "IPMonitorParams");
    ASSERT_NE(nullptr, monitor);
    EXPECT_EQ(expected.u32DestIPAddr, Number(monitor, "destipaddress"));
    EXPECT_EQ(expected.u8Channel, Number(monitor, "channel"));
    EXPECT_EQ(expected.u16DestPort, Number(monitor, "destport"));
}

INSTANTIATE_TEST_SUITE_P(Cases, SetIPMonitorTest, ::testing::ValuesIn(kMonitorCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- rights -----------------------------------------------------------------------

std::string RightsMessage(int modify) {
    return R"({"data":[{"UserName":"op","Authoritylist":[{"AuthorityId":768,"ViewEnable":1,"ModifyEnable":)" +
           std::to_string(modify) + "}]}]}";
}

TEST_F(BoardRequestsTest, RightsFromTheBackBoardGuardBothSetters) {
    test::CardServer card(0, 500);
    ASSERT_NE(0, card.port());
    const auto send = [&](int modify) {
        const ToolRun run = RunTool({HX_CHASSIS_SEND_BINARY, "--port", std::to_string(card.port()),
                                     "USER_AUTHORITY_CONFIG", RightsMessage(modify)});
        EXPECT_EQ(0, run.status) << run.output;
        EXPECT_THAT(run.output, HasSubstr("answer: success"));
    };
    send(0);

    const TParameter_QAM before = test::LiveQamSet();
    const QAM_IPMonitorPara monitorBefore = test::LiveIpMonitor();
    const std::string jsonBefore = JsonCopy();
    const size_t burstsBefore = fpga160t().Bursts().size();
    for (const auto& [name, body] : std::vector<std::pair<std::string, std::string>>{
             {"SetSubboardParam.w", Channels(R"({"channel":0,"frequency":474000})")},
             {"SetSubboardParam.w", R"({"token":"t","singlemode":1})"},
             {"SetSubboardIPMonitorParam.w", R"({"token":"t","enable":1,"destport":99})"}}) {
        const Reply reply = Post(name, body);
        EXPECT_EQ(200, reply.status);
        EXPECT_EQ(1035, Code(reply)) << name << " " << reply.body;
        const Json json = Parse(reply.body);
        EXPECT_STREQ("User does not have the permission to modify the module",
                     cJSON_GetStringValue(cJSON_GetObjectItem(json.get(), "description")));
    }
    const TParameter_QAM after = test::LiveQamSet();
    const QAM_IPMonitorPara monitorAfter = test::LiveIpMonitor();
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    EXPECT_EQ(0, std::memcmp(&monitorBefore, &monitorAfter, sizeof monitorBefore));
    EXPECT_EQ(burstsBefore, fpga160t().Bursts().size());
    EXPECT_EQ(jsonBefore, JsonCopy());
    for (const char* name : {"GetSubboardParam.w", "GetSubboardIPMonitorParam.w", "GetSubboardDetail.w"}) {
        EXPECT_EQ(0, Code(Post(name, R"({"token":"t"})"))) << name;
    }

    // The next message grants the right again.
    send(1);
    EXPECT_EQ(0, Code(Post("SetSubboardParam.w", Channels(R"({"channel":0,"frequency":474000})"))));
    EXPECT_EQ(474000u, test::LiveQamSet().Frequency[0].value);
    EXPECT_EQ(0, Code(Post("SetSubboardIPMonitorParam.w", R"({"token":"t","destport":99})")));
    EXPECT_EQ(99, test::LiveIpMonitor().u16DestPort);
}

}  // namespace
}  // namespace hx

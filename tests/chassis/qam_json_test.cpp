// The JSON copy of the QAM settings: its exact text, the way back into the
// live records, the values that must not be taken, and start-up restoring
// from it when the QAM parameter file is damaged.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/file_util.h"
#include "core/log.h"
#include "platform/gpio.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/web_accessors.h"

namespace hx {
namespace {

// Fixtures are written with four spaces per level and ": " between key and
// value; the library's formatted print uses a tab for both.
std::string Tabbed(std::string_view text) {
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lineStart && text.substr(i).starts_with("    ")) {
            out += '\t';
            i += 3;
            continue;
        }
        lineStart = text[i] == '\n';
        if (text.substr(i).starts_with("\": ")) {
            out += "\":\t";
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

// One channel item of the factory file: the object's members one level
// deeper than its braces, items joined by ", " on one line.
std::string FactoryChannel(int channel) {
    return "{\n"
           "                        \"channel\": " + std::to_string(channel) + ",\n"
           "                        \"enable\": 0,\n"
           "                        \"frequency\": " + std::to_string(200000 + 8000 * channel) + ",\n"
           "                        \"Interweave\": 9,\n"
           "                        \"annexmode\": 0,\n"
           "                        \"constellation\": 2,\n"
           "                        \"symbolrate\": 6875,\n"
           "                        \"bandwidth\": 2,\n"
           "                        \"maxbitrate\": 0,\n"
           "                        \"insertpsienable\": 1\n"
           "                    }";
}

std::string FactoryFile(int rflevel, int rflevelversion) {
    std::string qamChannels;
    std::string monitorChannels;
    for (int channel = 0; channel < 16; ++channel) {
        const std::string separator = channel == 0 ? "" : ", ";
        qamChannels += separator + FactoryChannel(channel);
        monitorChannels += separator + "{\n                        \"channel\": " + std::to_string(channel) + "\n                    }";
    }
    return Tabbed(R"({
    "QamParameter": {
        "standard": 0,
        "singlemode": 0,
        "psiinterval": 100,
        "rflevel": )" + std::to_string(rflevel) + R"(,
        "channelstandard": 1,
        "rflevelversion": )" + std::to_string(rflevelversion) + R"(,
        "rflevelunittype": 0,
        "portlist": [{
                "port": 0,
                "channelnumber": 16,
                "channellist": [)" + qamChannels + R"(]
            }]
    },
    "IPMonitorParams": {
        "port": 0,
        "channel": 0,
        "enable": 0,
        "destport": 1234,
        "destipaddress": 3809088602,
        "bitrate": 40,
        "ipaddress": 0,
        "netmask": 4294967040,
        "mac": 0,
        "portlist": [{
                "port": 0,
                "channellist": [)" + monitorChannels + R"(]
            }]
    }
})");
}

class QamJsonTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
        test::ResetParameterState();
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        Init_IPMonitor_Parmeter();
    }
    void TearDown() override { File_SetAtomicWriteHook(nullptr); }

    std::string JsonFile() { return env.ReadText(kQamJsonFilePath); }
    void WriteJson(const std::string& text) { env.WriteText(kQamJsonFilePath, text); }
    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }
    // The QAM set and IP monitor record the QAM file holds now.
    ST_VK_PARAMS SavedFile() {
        QamParamFileBytes bytes{};
        const std::vector<U8> content = test::ReadBytes(kQamParamFilePath);
        EXPECT_EQ(bytes.size(), content.size());
        std::memcpy(bytes.data(), content.data(), std::min(bytes.size(), content.size()));
        return QamParams_Parse(bytes);
    }

    test::TestEnvironment env;
    test::SimBoard board;
};

TEST_F(QamJsonTest, FactorySettingsFileByteForByte) {
    DATA_Save();
    const int version = PIN_GetHWVerSion() > 1 ? 1 : 0;
    EXPECT_EQ(FactoryFile(version == 1 ? 102 : 90, version), JsonFile());
}


TEST_F(QamJsonTest, WrittenValuesOfTheMonitorAndOfTheFixedSymbolRate) {
    TParameter_QAM& live = *GetQAMPara_Handle();
    live.Mode[1].value = MODE_QAMB;
    live.Constellation[1].value = 1;
    live.SymbolRate[1].value = 5360537;
    live.SymbolRate[0].value = 5056941;
    QAM_IPMonitorPara& monitor = *GetQAMIPMonitor_Handle();
    monitor.u8Channel = 9;
    monitor.u32DestIPAddr = 0xEFFFFFFA;  // above the signed 32-bit range
    monitor.u8Mac1LicFlag = 1;
    const U8 mac[6] = {0x02, 0xab, 0x0c, 0xd4, 0x05, 0xef};
    std::memcpy(monitor.aru8Mac1, mac, sizeof mac);
    DATA_Save();

    const std::string text = JsonFile();
    const std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_Parse(text.c_str()), cJSON_Delete);
    ASSERT_NE(nullptr, root);
    const cJSON* channels =
        cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(cJSON_GetObjectItem(root.get(), "QamParameter"),
                                                                   "portlist"),
                                               0),
                            "channellist");
    EXPECT_DOUBLE_EQ(5056.941, cJSON_GetObjectItem(cJSON_GetArrayItem(channels, 7), "symbolrate")->valuedouble);
    EXPECT_EQ(5361, cJSON_GetObjectItem(cJSON_GetArrayItem(channels, 8), "symbolrate")->valuedouble);
    EXPECT_NE(std::string::npos, text.find("\"symbolrate\":\t5056.941,"));
    const cJSON* written = cJSON_GetObjectItem(root.get(), "IPMonitorParams");
    EXPECT_EQ(9, cJSON_GetObjectItem(written, "channel")->valuedouble);
    EXPECT_NE(std::string::npos, text.find("\"destipaddress\":\t4026531834,"));
    EXPECT_NE(std::string::npos, text.find("\"mac\":\t\"02:ab:0c:d4:05:ef\","));

    monitor.u8Channel = 20;  // no web port holds it
    DATA_Save();
    const std::string noPort = JsonFile();
    EXPECT_NE(std::string::npos, noPort.find("\"IPMonitorParams\":\t{\n\t\t\"port\":\t0,\n\t\t\"channel\":\t0,"));
}

// ---- round trip ---------------------------------------------------------------

struct RandomSets {
    std::mt19937 random{20241211};
    U32 Next(U32 low, U32 high) { return std::uniform_int_distribution<U32>(low, high)(random); }

    void Fill(TParameter_QAM& table, QAM_IPMonitorPara& monitor) {
        table.Standard.value = Next(0, 1);
        table.SingleMode.value = Next(0, 255);
        table.PowerLevel.value = Next(0, 200);
        table.ATSCChannelMode.value = Next(0, 3);
        table.rflevelunittype.value = Next(0, 1);
        for (U32 real = 0; real < kQamChannelSlots; ++real) {
            table.ChannelEnable[real].value = Next(0, 1);
            table.Frequency[real].value = Next(50000, 1000000);
            table.Interleaver[real].value = Next(0, 15);
            table.InsertPSIEnable[real].value = Next(0, 1);
        }
        for (U32 group = 0; group < kQamGroups; ++group) {
            table.Mode[group].value = Next(0, 2);
            table.Constellation[group].value = Next(0, 4);
            table.SymbolRate[group].value = Next(1000000, 7000000);
            table.Bandwidth[group].value = Next(0, 3);
            table.MaxRate[group].value = Next(0, 60000);
        }
        monitor.u8Enable = static_cast<U8>(Next(0, 1));
        monitor.u8Channel = static_cast<U8>(Next(0, 15));
        monitor.u16DestPort = static_cast<U16>(Next(0, 65535));
        monitor.u32DestIPAddr = Next(0, 0xFFFFFFFF);
        monitor.u16IP1MaxRate = static_cast<U16>(Next(0, 65535));
    }
};

// The board writes channels 0-15; items of channels 16-31 (port 0) carry the
// values of groups 2 and 3, so every entry of the tables is restored.
std::string WithUpperChannels(const std::string& text, const TParameter_QAM& table) {
    const std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_Parse(text.c_str()), cJSON_Delete);
    cJSON* channels = cJSON_GetObjectItem(
        cJSON_GetArrayItem(cJSON_GetObjectItem(cJSON_GetObjectItem(root.get(), "QamParameter"), "portlist"), 0),
        "channellist");
    for (U32 real = 16; real < kQamChannelSlots; ++real) {
        const U32 group = real / 8;
        cJSON* item = cJSON_CreateObject();
        cJSON_AddNumberToObject(item, "channel", real);
        cJSON_AddNumberToObject(item, "enable", table.ChannelEnable[real].value);
        cJSON_AddNumberToObject(item, "frequency", table.Frequency[real].value);
        cJSON_AddNumberToObject(item, "interweave", table.Interleaver[real].value);  // names match in any case
        cJSON_AddNumberToObject(item, "annexmode", table.Mode[group].value);
        cJSON_AddNumberToObject(item, "constellation", table.Constellation[group].value);
        cJSON_AddNumberToObject(item, "symbolrate", table.SymbolRate[group].value / 1000.0);
        cJSON_AddNumberToObject(item, "bandwidth", table.Bandwidth[group].value);
        cJSON_AddNumberToObject(item, "maxbitrate", table.MaxRate[group].value);
        cJSON_AddNumberToObject(item, "insertpsienable", table.InsertPSIEnable[real].value);
        cJSON_AddItemToArray(channels, item);
    }
    char* printed = cJSON_PrintUnformatted(root.get());
    std::string result(printed);
    cJSON_free(printed);
    return result;
}

void ExpectSameSettings(const TParameter_QAM& expected, const TParameter_QAM& actual, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(expected.Standard.value, actual.Standard.value);
    EXPECT_EQ(expected.SingleMode.value, actual.SingleMode.value);
    EXPECT_EQ(expected.PowerLevel.value, actual.PowerLevel.value);
    EXPECT_EQ(expected.ATSCChannelMode.value, actual.ATSCChannelMode.value);
    EXPECT_EQ(expected.rflevelunittype.value, actual.rflevelunittype.value);
    for (U32 real = 0; real < kQamChannelSlots; ++real) {
        EXPECT_EQ(expected.ChannelEnable[real].value, actual.ChannelEnable[real].value) << real;
        EXPECT_EQ(expected.Frequency[real].value, actual.Frequency[real].value) << real;
        EXPECT_EQ(expected.Interleaver[real].value, actual.Interleaver[real].value) << real;
        EXPECT_EQ(expected.InsertPSIEnable[real].value, actual.InsertPSIEnable[real].value) << real;
    }
    for (U32 group = 0; group < kQamGroups; ++group) {
        EXPECT_EQ(expected.Mode[group].value, actual.Mode[group].value) << group;
        EXPECT_EQ(expected.Constellation[group].value, actual.Constellation[group].value) << group;
        EXPECT_EQ(expected.SymbolRate[group].value, actual.SymbolRate[group].value) << group;
        EXPECT_EQ(expected.Bandwidth[group].value, actual.Bandwidth[group].value) << group;
        EXPECT_EQ(expected.MaxRate[group].value, actual.MaxRate[group].value) << group;
    }
}

TEST_F(QamJsonTest, RandomSetsRoundTrip) {
    RandomSets sets;
    for (int round = 0; round < 12; ++round) {
        const std::string where = "round " + std::to_string(round);
        TParameter_QAM& live = *GetQAMPara_Handle();
        QAM_IPMonitorPara& monitor = *GetQAMIPMonitor_Handle();
        sets.Fill(live, monitor);
        const U32 interval = sets.Next(1, 65535);
        Web_SetPSIInterval(interval);
        TParameter_QAM expected = live;
        for (U32 group = 0; group < kQamGroups; ++group) {
            if (expected.Mode[group].value == MODE_QAMB && expected.Constellation[group].value == 1) {
                expected.SymbolRate[group].value = kAnnexBFixedSymbolRate;
            }
        }
        const QAM_IPMonitorPara expectedMonitor = monitor;
        DATA_Save();
        WriteJson(WithUpperChannels(JsonFile(), live));

        // Something else in the live records, and in the QAM file.
        QAM160T_Init_Parmeter(&live);
        Init_IPMonitor_Parmeter();
        PARAMS_SetQAMParams(&live);
        ASSERT_EQ(0u, DATA_Recovery()) << where;

        ExpectSameSettings(expected, live, where);
        EXPECT_EQ(expectedMonitor.u8Enable, monitor.u8Enable) << where;
        EXPECT_EQ(expectedMonitor.u8Channel, monitor.u8Channel) << where;
        EXPECT_EQ(expectedMonitor.u16DestPort, monitor.u16DestPort) << where;
        EXPECT_EQ(expectedMonitor.u32DestIPAddr, monitor.u32DestIPAddr) << where;
        EXPECT_EQ(expectedMonitor.u16IP1MaxRate, monitor.u16IP1MaxRate) << where;
        EXPECT_EQ(interval, monitor.u16PSIInterval) << where;
        // Saved as restored.
        const ST_VK_PARAMS saved = SavedFile();
        ExpectSameSettings(expected, saved.st_QAMParams.stQAM160TParams, where + ", QAM file");
        EXPECT_EQ(0, std::memcmp(&monitor, &saved.st_IPMonitorParams.stIPMonitorParams, sizeof monitor)) << where;
    }
}

// ---- recovery edge cases ----------------------------------------------------

struct RecoveryCase {
    const char* name;
    const char* json;
    std::function<void(TParameter_QAM& expected, QAM_IPMonitorPara& monitor)> change;
};

void PrintTo(const RecoveryCase& c, std::ostream* out) { *out << c.name; }

const RecoveryCase kRecoveryCases[] = {
    {"GroupValuesOnlyFromTheGroupsFirstChannel",
     R"({"QamParameter": {"psiinterval": 100, "portlist": [{"port": 0, "channellist": [
         {"channel": 3, "annexmode": 2, "constellation": 4, "symbolrate": 1000, "bandwidth": 1, "maxbitrate": 9,
          "frequency": 123000},
         {"channel": 16, "annexmode": 2, "bandwidth": 3}]}]}})",
     [](TParameter_QAM& t, QAM_IPMonitorPara&) {
         t.Frequency[3].value = 123000;
         t.Mode[2].value = 2;
         t.Bandwidth[2].value = 3;
     }},
    {"AnnexBConstellationOneStoresTheFixedRate",
     R"({"QamParameter": {"psiinterval": 100, "portlist": [{"port": 0, "channellist": [
         {"channel": 0, "annexmode": 1, "constellation": 1, "symbolrate": 6875}]}]}})",
     [](TParameter_QAM& t, QAM_IPMonitorPara&) {
         t.Mode[0].value = 1;
         t.Constellation[0].value = 1;
         t.SymbolRate[0].value = 5360537;
     }},
    {"SymbolRatesAreRounded",
     R"({"QamParameter": {"psiinterval": 100, "portlist": [{"port": 0, "channellist": [
         {"channel": 0, "symbolrate": 6875}, {"channel": 8, "symbolrate": 5056.941},
         {"channel": 16, "symbolrate": 1024.003}, {"channel": 24, "symbolrate": 4294967.295}]}]}})",
     [](TParameter_QAM& t, QAM_IPMonitorPara&) {
         t.SymbolRate[0].value = 6875000;
         t.SymbolRate[1].value = 5056941;
         t.SymbolRate[2].value = 1024003;
         t.SymbolRate[3].value = 4294967295;
     }},
    {"SymbolRatesOutsideTheUnsignedRangeAreSkipped",
     R"({"QamParameter": {"psiinterval": 100, "portlist": [{"port": 0, "channellist": [
         {"channel": 0, "symbolrate": -1}, {"channel": 8, "symbolrate": 1e999},
         {"channel": 16, "symbolrate": 4294967.296}, {"channel": 24, "symbolrate": -1e999}]}]}})",
     [](TParameter_QAM&, QAM_IPMonitorPara&) {}},
    {"WrongTypesAreIgnored",
     R"({"QamParameter": {"standard": "1", "psiinterval": 100, "rflevel": true, "portlist": [
         {"port": "0", "channellist": [{"channel": 1, "enable": 1}]},
         {"port": 0, "channellist": {"channel": 1, "enable": 1}},
         7,
         {"port": 0, "channellist": [{"channel": "1", "enable": 1}, {"channel": 2, "enable": "1"}, 5, null]}]},
       "IPMonitorParams": {"enable": "1", "destport": [1], "bitrate": {}}})",
     [](TParameter_QAM&, QAM_IPMonitorPara&) {}},
    {"NoChannelWraps",
     R"({"QamParameter": {"psiinterval": 100, "portlist": [
         {"port": -1, "channellist": [{"channel": 17, "frequency": 1}]},
         {"port": 0, "channellist": [{"channel": -16, "frequency": 2}, {"channel": 32, "frequency": 3},
                                     {"channel": 4294967296, "frequency": 4}]},
         {"port": 1, "channellist": [{"channel": 16, "frequency": 5}, {"channel": 15, "frequency": 6}]},
         {"port": 268435456, "channellist": [{"channel": 0, "frequency": 7}]}]}})",
     [](TParameter_QAM& t, QAM_IPMonitorPara&) { t.Frequency[31].value = 6; }},
    {"MonitorTakesItsNumbers",
     R"({"QamParameter": {"psiinterval": 100},
         "IPMonitorParams": {"port": 0, "channel": 15, "enable": 1, "destport": 5004, "destipaddress": 4294967295,
                             "bitrate": 80, "ipaddress": 1, "netmask": 2, "mac": "00:11:22:33:44:55"}})",
     [](TParameter_QAM&, QAM_IPMonitorPara& m) {
         m.u8Channel = 15;
         m.u8Enable = 1;
         m.u16DestPort = 5004;
         m.u32DestIPAddr = 4294967295;
         m.u16IP1MaxRate = 80;
     }},
    {"MonitorChannelsOutsideTheOutputsAreSkipped",
     R"({"QamParameter": {"psiinterval": 100},
         "IPMonitorParams": {"port": 0, "channel": 16, "destipaddress": -1}})",
     [](TParameter_QAM&, QAM_IPMonitorPara&) {}},
    {"MonitorChannelNeedsBothNumbers",
     R"({"QamParameter": {"psiinterval": 100},
         "IPMonitorParams": {"channel": 3, "destipaddress": 1e999}})",
     [](TParameter_QAM&, QAM_IPMonitorPara&) {}},
    {"MonitorNegativeChannel",
     R"({"QamParameter": {"psiinterval": 100},
         "IPMonitorParams": {"port": 1, "channel": -4, "destipaddress": 4294967296}})",
     [](TParameter_QAM&, QAM_IPMonitorPara&) {}},
};

class QamJsonRecoveryTest : public QamJsonTest, public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(QamJsonRecoveryTest, ChangesExactlyWhatTheFileMeans) {
    TParameter_QAM expected = *GetQAMPara_Handle();
    QAM_IPMonitorPara expectedMonitor = *GetQAMIPMonitor_Handle();
    GetParam().change(expected, expectedMonitor);
    WriteJson(GetParam().json);
    const bool hasMonitor = std::string_view(GetParam().json).find("IPMonitorParams") != std::string_view::npos;
    if (!hasMonitor) {
        env.FailOnUnexpectedErrors({"Can't find IPMonitorParams"});
    }

    ASSERT_EQ(0u, DATA_Recovery());
    EXPECT_EQ(0, std::memcmp(&expected, GetQAMPara_Handle(), sizeof expected));
    ExpectSameSettings(expected, *GetQAMPara_Handle(), "live");
    EXPECT_EQ(0, std::memcmp(&expectedMonitor, GetQAMIPMonitor_Handle(), sizeof expectedMonitor));
    const ST_VK_PARAMS saved = SavedFile();
    EXPECT_EQ(0, std::memcmp(&expected, &saved.st_QAMParams.stQAM160TParams, sizeof expected));
    EXPECT_EQ(hasMonitor, Logged("Can't find IPMonitorParams") == false);
}

INSTANTIATE_TEST_SUITE_P(Cases, QamJsonRecoveryTest, ::testing::ValuesIn(kRecoveryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QamJsonTest, WithoutPsiIntervalOnlyStandardAndSingleModeAreRestored) {
    const TParameter_QAM before = *GetQAMPara_Handle();
    WriteJson(R"({"QamParameter": {"standard": 1, "singlemode": 258, "rflevel": 77, "channelstandard": 3,
                   "portlist": [{"port": 0, "channellist": [{"channel": 0, "frequency": 999000}]}]},
                 "IPMonitorParams": {"destport": 4321}})");
    ASSERT_EQ(0u, DATA_Recovery());

    const TParameter_QAM& live = *GetQAMPara_Handle();
    EXPECT_EQ(1u, live.Standard.value);
    EXPECT_EQ(2u, live.SingleMode.value) << "taken to 8 bits";
    EXPECT_EQ(before.PowerLevel.value, live.PowerLevel.value);
    EXPECT_EQ(before.ATSCChannelMode.value, live.ATSCChannelMode.value);
    EXPECT_EQ(before.Frequency[0].value, live.Frequency[0].value);
    EXPECT_EQ(4321, GetQAMIPMonitor_Handle()->u16DestPort) << "the monitor is restored all the same";

    // The single-mode setter saved the QAM file with both values.
    const ST_VK_PARAMS saved = SavedFile();
    EXPECT_EQ(1u, saved.st_QAMParams.stQAM160TParams.Standard.value);
    EXPECT_EQ(2u, saved.st_QAMParams.stQAM160TParams.SingleMode.value);
    EXPECT_EQ(before.PowerLevel.value, saved.st_QAMParams.stQAM160TParams.PowerLevel.value);
    EXPECT_EQ(4321, saved.st_IPMonitorParams.stIPMonitorParams.u16DestPort);

    const std::unique_ptr<cJSON, void (*)(cJSON*)> stringInterval(
        cJSON_Parse(R"({"QamParameter": {"psiinterval": "100"}})"), cJSON_Delete);
    EXPECT_EQ(774u, DATA_Recovery_QAMParameter(stringInterval.get()));
}

TEST_F(QamJsonTest, UnreadableFilesChangeNothing) {
    env.FailOnUnexpectedErrors({"open file: /product_data/oid.json failed", "root parse failed",
                                "Can't find QamParameter", "Can't find IPMonitorParams"});
    const TParameter_QAM before = *GetQAMPara_Handle();
    EXPECT_EQ(1u, DATA_Recovery()) << "no file";
    EXPECT_TRUE(Logged("open file: /product_data/oid.json failed"));

    // Cut short: the text stops inside a number, at the very end of the bytes
    // read (a reader that wanted a NUL would run past them).
    for (const char* text : {R"({"QamParameter": {"psiinterval": 100, "standard": 1)", "{\"QamParameter\": 12",
                             "", "12345"}) {
        WriteJson(text);
        EXPECT_EQ(std::string_view(text) == "12345" ? 0u : 1u, DATA_Recovery()) << text;
    }
    EXPECT_TRUE(Logged("root parse failed"));
    EXPECT_TRUE(Logged("Can't find QamParameter"));
    EXPECT_EQ(0, std::memcmp(&before, GetQAMPara_Handle(), sizeof before));
}

// ---- writing ------------------------------------------------------------------

std::string g_dataFolder;

// Puts a directory where the writer's temporary file is, so the final rename
// fails after everything else went well.
void DirectoryInTheWay(AtomicWriteStep step, const char*) {
    if (step != AtomicWriteStep::FullyWritten) {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(g_dataFolder)) {
        if (entry.path().filename().string().starts_with(".oid.json.")) {
            std::filesystem::remove(entry.path());
            std::filesystem::create_directory(entry.path());
        }
    }
}

TEST_F(QamJsonTest, AFailedWriteKeepsTheOldFile) {
    env.FailOnUnexpectedErrors({"write file: /product_data/oid.json failed"});
    DATA_Save();
    const std::string old = JsonFile();
    GetQAMPara_Handle()->Frequency[0].value = 654000;
    g_dataFolder = env.Path("/vandik_data");
    File_SetAtomicWriteHook(DirectoryInTheWay);
    DATA_Save();
    File_SetAtomicWriteHook(nullptr);

    EXPECT_TRUE(Logged("write file: /product_data/oid.json failed"));
    EXPECT_EQ(old, JsonFile());
    for (const auto& entry : std::filesystem::directory_iterator(g_dataFolder)) {
        if (entry.path().filename().string().starts_with(".oid.json.")) {
            std::filesystem::remove(entry.path());
        }
    }
    DATA_Save();
    EXPECT_NE(std::string::npos, JsonFile().find("654000")) << "the next save works";
}

// ---- start-up -------------------------------------------------------------------

TEST_F(QamJsonTest, StartUpWithADamagedQamFileRestoresTheJsonValues) {
    env.FailOnUnexpectedErrors({"Config file [/product_data/HX_OutPutTSP.conf] is not exist!",
                                "Config file [/product_data/HX_QAM.conf] CRC fail"});
    constexpr test::MarkedSettings kOld{111000, 1111};
    test::WriteMarkedQamFile(kOld);
    test::ResetParameterState();
    PARAMS_Init();
    ASSERT_EQ(0, test::LiveMarks({kOld}));
    ASSERT_NE(std::string::npos, JsonFile().find("\"frequency\":\t111000,")) << "a good file rewrites the copy";

    std::vector<U8> damaged = test::ReadBytes(kQamParamFilePath);
    damaged[100] ^= 0x40;
    test::WriteBytes(kQamParamFilePath, damaged);
    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_TRUE(Logged("Factory parameters!"));
    EXPECT_EQ(0, test::LiveMarks({kOld})) << "factory defaults overlaid with the JSON copy";

    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_EQ(0, test::LiveMarks({kOld})) << "and the rebuilt QAM file holds them";
}

}  // namespace
}  // namespace hx

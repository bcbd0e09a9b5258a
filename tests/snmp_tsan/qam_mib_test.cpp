// The board MIB from outside: the real snmpget, snmpset, snmpwalk and
// snmpbulkwalk against the agent thread of this program, with the simulated
// 160T and main FPGA under it. Every SET case checks what the manager was
// told, the pairs the 160T received and the parameter file.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chassis/param_store.h"
#include "platform/qam.h"
#include "platform/qam_defaults.h"
#include "platform/z160t_status.h"
#include "snmp/qam_mib_text.h"
#include "snmp/qam_mib_values.h"
#include "support/param_files.h"
#include "web/web_accessors.h"
#include "support/snmp_agent_run.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kBoard = ".1.3.6.1.4.1.53117.8";
const std::string kTemperature = kBoard + ".1.1.0";
const std::string kRfLevel = kBoard + ".2.1.0";
const std::string kPSIInterval = kBoard + ".2.2.0";
const std::string kChannelStandard = kBoard + ".2.4.0";
std::string BaseInfo(int column, int row) { return kBoard + ".1.2.1." + std::to_string(column) + "." + std::to_string(row); }
std::string Param(int column, int row) { return kBoard + ".2.3.1." + std::to_string(column) + "." + std::to_string(row); }

const std::string kNoSuchInstance = "No Such Instance currently exists at this OID";

// 160T parameter addresses of the fields the MIB sets.
constexpr U32 kPowerLevelAddress = 257;
constexpr U32 kConstellationAddress = 304;  // + group
constexpr U32 kSymbolRateAddress = 336;     // + group
constexpr U32 kBandwidthAddress = 368;      // + group
constexpr U32 kEnableAddress = 512;         // + channel
constexpr U32 kFrequencyAddress = 768;      // + channel
constexpr U32 kPlanAddress = 2128;

using test::SnmpAgentRun;
using test::SnmpToolResult;

class QamMibTest : public ::testing::Test {
protected:
    void SetUp() override {
        fpga160t().ClearFaults();
        UseAnnexMode(MODE_QAMA);
    }

    static sim::Fpga160T& fpga160t() { return SnmpAgentRun::Get().board().fpga160t(); }

    // Factory settings in the given annex mode, saved, with the 160T's record
    // of what it received forgotten.
    void UseAnnexMode(U32 mode, const std::function<void(TParameter_QAM&)>& edit = {}) {
        {
            QamApplyGuard apply(QAM_ApplyLock());
            TParameter_QAM* live = GetQAMPara_Handle();
            live->Mode[0].value = mode;
            QAM160T_Init_Parmeter(live);
            if (edit) {
                edit(*live);
            }
            *GetQAMParaTmp_Handle() = *live;
            ASSERT_EQ(0u, QAM_SaveParams());
        }
        Web_SetPSIInterval(100);
        burstsBefore = fpga160t().Bursts().size();
        fileBefore = test::ReadBytes(kQamParamFilePath);
        liveBefore = Live();
    }

    static TParameter_QAM Live() {
        QamApplyGuard apply(QAM_ApplyLock());
        return *GetQAMPara_Handle();
    }

    // The pairs the 160T received since the last UseAnnexMode.
    std::map<U32, U32> NewPairs() {
        std::map<U32, U32> pairs;
        const std::vector<sim::Burst160T> bursts = fpga160t().Bursts();
        for (std::size_t i = burstsBefore; i < bursts.size(); ++i) {
            for (const sim::Parameter160T& pair : bursts[i].pairs) {
                pairs[pair.address] = pair.value;
            }
        }
        return pairs;
    }

    static TParameter_QAM FileTable() {
        const std::vector<U8> bytes = test::ReadBytes(kQamParamFilePath);
        QamParamFileBytes image{};
        EXPECT_EQ(image.size(), bytes.size());
        std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
        return QamParams_Parse(image).st_QAMParams.stQAM160TParams;
    }

    // A tool in the agent's client environment; the note a tool's first run
    // in that folder prints about the folder it makes is dropped.
    static SnmpToolResult Run(const std::string& tool, const std::vector<std::string>& arguments) {
        SnmpToolResult result = SnmpAgentRun::Get().Tool(tool, arguments);
        for (std::size_t at; (at = result.output.find("Created directory: ")) != std::string::npos;) {
            result.output.erase(at, result.output.find('\n', at) + 1 - at);
        }
        return result;
    }
    // A tool with -On and no MIB files loaded (-m ""), so its output is what the agent said.
    static SnmpToolResult V2c(const std::string& tool, const std::string& community,
                              const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {"-v2c", "-c", community, "-On", "-m", "", "-t", "5", "-r", "0",
                                        SnmpAgentRun::Get().address()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Run(tool, all);
    }
    static SnmpToolResult Get(const std::vector<std::string>& oids) {
        return V2c("snmpget", test::kSnmpReadCommunity, oids);
    }
    static SnmpToolResult Set(const std::vector<std::string>& varbinds) {
        return V2c("snmpset", test::kSnmpWriteCommunity, varbinds);
    }

    // "oid = TYPE: value" lines of a tool's output.
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    std::size_t burstsBefore = 0;
    std::vector<U8> fileBefore;
    TParameter_QAM liveBefore{};
};

// ---- GET ----------------------------------------------------------------------

TEST_F(QamMibTest, TemperatureIsTheLastPolledOne) {
    fpga160t().SetTemperature(52);
    ASSERT_EQ(10000u, Z160T_UartComm_GetState());
    const SnmpToolResult result = Get({kTemperature});
    EXPECT_EQ(0, result.status) << result.output;
    EXPECT_EQ(kTemperature + " = INTEGER: 52\n", result.output);
}

TEST_F(QamMibTest, BaseInfoTableTellsRatesAndOverflow) {
    for (U32 channel = 0; channel < 2; ++channel) {
        fpga160t().SetChannelRates(channel, 25266, 1000);  // 38,000 and 1,504 kbit/s
    }
    ASSERT_EQ(10000u, Z160T_UartComm_GetState());
    SnmpAgentRun::Get().board().fpga().meters().SetChannelCounts(0, 24762, 0);  // 37,242 kbit/s: beyond 98 %
    SnmpAgentRun::Get().board().fpga().meters().SetChannelCounts(1, 24761, 0);  // 37,240 kbit/s: exactly 98 %
    const SnmpToolResult result = Get({BaseInfo(2, 1), BaseInfo(2, 2), BaseInfo(1, 16), BaseInfo(2, 16)});
    EXPECT_EQ(0, result.status) << result.output;
    EXPECT_EQ(BaseInfo(2, 1) + " = STRING: \"TotalBitRate:38.000 | EffectiveBitRate:1.504 | status:abnormal\"\n" +
                  BaseInfo(2, 2) + " = STRING: \"TotalBitRate:38.000 | EffectiveBitRate:1.504 | status:normal\"\n" +
                  BaseInfo(1, 16) + " = INTEGER: 16\n" + BaseInfo(2, 16) +
                  " = STRING: \"TotalBitRate:0.000 | EffectiveBitRate:0.000 | status:normal\"\n",
              result.output);
    Z160T_ResetStatus();
}

// Every object of rows 1 and 9 (groups 0 and 1) in one request per annex
// mode: an object the mode does not serve answers noSuchInstance alone, and
// the varbinds after it are still answered.
TEST_F(QamMibTest, EveryColumnInBothAnnexModes) {
    struct Case {
        U32 mode;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Case cases[] = {
        {MODE_QAMA,
         {{kRfLevel, "INTEGER: 24"},
          {kPSIInterval, "INTEGER: 100"},
          {kChannelStandard, kNoSuchInstance},
          {Param(1, 1), "INTEGER: 1"},
          {Param(2, 1), "INTEGER: 1"},
          {Param(3, 1), "INTEGER: 200000"},
          {Param(4, 1), "INTEGER: 8"},
          {Param(5, 1), "INTEGER: 6875"},
          {Param(6, 1), "INTEGER: 2"},
          {Param(7, 1), kNoSuchInstance},
          {Param(8, 1), kNoSuchInstance},
          {Param(3, 9), "INTEGER: 264000"},
          {Param(4, 9), "INTEGER: 6"},
          {Param(5, 9), "INTEGER: 5000"},
          {Param(6, 9), "INTEGER: 4"}}},
        {MODE_QAMB,
         {{kRfLevel, "INTEGER: 24"},
          {kPSIInterval, "INTEGER: 100"},
          {kChannelStandard, "INTEGER: 1"},
          {Param(1, 1), "INTEGER: 1"},
          {Param(2, 1), "INTEGER: 1"},
          {Param(3, 1), kNoSuchInstance},
          {Param(4, 1), "INTEGER: 6"},
          {Param(5, 1), "INTEGER: 5361"},
          {Param(6, 1), kNoSuchInstance},
          {Param(7, 1), "INTEGER: 1"},
          {Param(8, 1), "STRING: \"CH2-57MHz\""},
          {Param(5, 9), "INTEGER: 5056"},
          {Param(7, 9), "INTEGER: 0"},
          {Param(8, 9), "STRING: \"CH10-195MHz\""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "annex mode " << c.mode);
        UseAnnexMode(c.mode, [&](TParameter_QAM& table) {
            table.ChannelEnable[0].value = 1;
            if (c.mode == MODE_QAMA) {
                table.Bandwidth[1].value = 0;
                table.SymbolRate[1].value = 5000000;
                table.Constellation[1].value = 4;
            } else {
                table.Constellation[1].value = 0;
            }
        });
        std::vector<std::string> oids;
        std::string expected;
        for (const auto& [oid, value] : c.expected) {
            oids.push_back(oid);
            expected += oid + " = " + value + "\n";
        }
        const SnmpToolResult result = Get(oids);
        EXPECT_EQ(0, result.status) << result.output;
        EXPECT_EQ(expected, result.output);
    }
}

TEST_F(QamMibTest, ChannelNamesComeFromThePlanOfTheChannelStandard) {
    struct Case {
        const char* name;
        U32 plan;
        U32 frequency;
        std::string expected;
    };
    const Case cases[] = {
        {"HRC entry", 3, 55750, "STRING: \"CH2-55.75MHz\""},
        {"IRC entry", 2, 85250, "STRING: \"CH6-85.25MHz\""},
        {"AIR entry", 0, 803000, "STRING: \"CH69-803MHz\""},
        {"no entry: the plan's name at the channel", 3, 1000, "STRING: \"CH2-55.75MHz\""},
        {"a plan value that indexes no plan", 4, 57000, kNoSuchInstance},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UseAnnexMode(MODE_QAMB, [&](TParameter_QAM& table) {
            table.ATSCChannelMode.value = c.plan;
            table.Frequency[0].value = c.frequency;
        });
        const SnmpToolResult result = Get({Param(8, 1), Param(7, 1)});
        EXPECT_EQ(Param(8, 1) + " = " + c.expected + "\n" + Param(7, 1) + " = INTEGER: 1\n", result.output);
    }
}

// ---- Walks --------------------------------------------------------------------

TEST_F(QamMibTest, WalksListEveryServedObjectInOrderAndEndCleanly) {
    struct Case {
        U32 mode;
        std::size_t varbinds;
    };
    for (const Case& c : {Case{MODE_QAMA, 131}, Case{MODE_QAMB, 132}}) {
        UseAnnexMode(c.mode);
        for (const char* tool : {"snmpwalk", "snmpbulkwalk"}) {
            SCOPED_TRACE(testing::Message() << tool << " in annex mode " << c.mode);
            const SnmpToolResult result = V2c(tool, test::kSnmpReadCommunity, {kBoard});
            EXPECT_EQ(0, result.status) << result.output;
            const std::vector<std::string> lines = Lines(result.output);
            EXPECT_EQ(c.varbinds, lines.size());
            std::vector<std::vector<unsigned long>> names;
            for (const std::string& line : lines) {
                ASSERT_EQ(0u, line.find(kBoard + ".")) << line;
                EXPECT_THAT(line, Not(HasSubstr("No Such"))) << line;
                EXPECT_THAT(line, Not(HasSubstr("No more variables"))) << line;
                std::vector<unsigned long> name;
                std::istringstream parts(line.substr(1, line.find(' ') - 1));
                for (std::string part; std::getline(parts, part, '.');) {
                    name.push_back(std::stoul(part));
                }
                names.push_back(name);
            }
            EXPECT_TRUE(std::is_sorted(names.begin(), names.end()) &&
                        std::adjacent_find(names.begin(), names.end()) == names.end())
                << "names must rise strictly";
        }
    }
}

// The MIB text names every registered object at its OID, and loads without
// a warning from the tools' own MIB parser.
TEST_F(QamMibTest, MibTextNamesTheObjects) {
    const std::filesystem::path folder = SnmpAgentRun::Get().env().root() / "mibs";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "QAM-MIB.txt") << kQamMibText;
    const std::string lowered = [] {
        std::string text(kQamMibText);
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        return text;
    }();
    EXPECT_THAT(lowered, Not(HasSubstr("vandik")));
    EXPECT_THAT(lowered, Not(HasSubstr("kestra")));

    const std::pair<const char*, std::string> names[] = {
        {"temperature", kBoard + ".1.1"}, {"baseInfoTable", kBoard + ".1.2"}, {"rfLevel", kBoard + ".2.1"},
        {"PSIInterval", kBoard + ".2.2"}, {"paramTable", kBoard + ".2.3"},     {"channelStandard", kBoard + ".2.4"},
        {"channelName", kBoard + ".2.3.1.8"},
    };
    for (const auto& [name, oid] : names) {
        const SnmpToolResult result = Run(
            "snmptranslate", {"-M", folder.string(), "-m", "QAM-MIB", "-On", std::string("QAM-MIB::") + name});
        EXPECT_EQ(oid + "\n", result.output) << name;
    }

    UseAnnexMode(MODE_QAMB);
    const SnmpToolResult walk =
        Run("snmpwalk", {"-v2c", "-c", test::kSnmpReadCommunity, "-M", folder.string(), "-m",
                                              "QAM-MIB", SnmpAgentRun::Get().address(), kBoard});
    EXPECT_EQ(0, walk.status) << walk.output;
    EXPECT_THAT(walk.output, HasSubstr("QAM-MIB::temperature.0 = INTEGER: "));
    EXPECT_THAT(walk.output, HasSubstr("QAM-MIB::channelStandard.0 = INTEGER: std(1)"));
    EXPECT_THAT(walk.output, HasSubstr("QAM-MIB::channelName.1 = STRING: \"CH2-57MHz\""));
}

// ---- SET ----------------------------------------------------------------------

struct SetCase {
    const char* name;
    U32 mode;
    std::vector<std::string> varbinds;  // oid, type, value, ...
    const char* reason;                 // nullptr: success
    std::string failed;                 // the OID named with the reason
    std::map<U32, U32> pairs;           // what the 160T receives
    std::function<void(TParameter_QAM&)> prepare = {};
};

TEST_F(QamMibTest, SetsApplyOrRefuseWhole) {
    const auto plan = [](U32 value) { return [value](TParameter_QAM& table) { table.ATSCChannelMode.value = value; }; };
    const SetCase cases[] = {
        // rfLevel: 15-45, stored as PowerLevel + 66.
        {"rfLevel 15", MODE_QAMA, {kRfLevel, "i", "15"}, nullptr, "", {{kPowerLevelAddress, 81}}},
        {"rfLevel 45", MODE_QAMB, {kRfLevel, "i", "45"}, nullptr, "", {{kPowerLevelAddress, 111}}},
        {"rfLevel 14", MODE_QAMA, {kRfLevel, "i", "14"}, "wrongValue", kRfLevel, {}},
        {"rfLevel 46", MODE_QAMA, {kRfLevel, "i", "46"}, "wrongValue", kRfLevel, {}},
        {"rfLevel -1", MODE_QAMA, {kRfLevel, "i", "-1"}, "wrongValue", kRfLevel, {}},
        {"rfLevel as text", MODE_QAMA, {kRfLevel, "s", "20"}, "wrongType", kRfLevel, {}},
        // PSIInterval: 50-10,000 on the whole value; nothing goes to the 160T.
        {"PSIInterval 50", MODE_QAMA, {kPSIInterval, "i", "50"}, nullptr, "", {}},
        {"PSIInterval 49", MODE_QAMA, {kPSIInterval, "i", "49"}, "wrongValue", kPSIInterval, {}},
        {"PSIInterval 10001", MODE_QAMA, {kPSIInterval, "i", "10001"}, "wrongValue", kPSIInterval, {}},
        {"PSIInterval 65586 (50 in its low bits)", MODE_QAMA, {kPSIInterval, "i", "65586"}, "wrongValue", kPSIInterval,
         {}},
        // channelStandard: annex mode 1 only; a plan moves channels 1-16 to its first 16 entries.
        {"channelStandard IRC", MODE_QAMB, {kChannelStandard, "i", "2"}, nullptr, "",
         {{kPlanAddress, 2}, {kFrequencyAddress + 3, 79250}, {kFrequencyAddress + 4, 85250}}},
        {"channelStandard 4", MODE_QAMB, {kChannelStandard, "i", "4"}, "wrongValue", kChannelStandard, {}},
        {"channelStandard in annex mode 0", MODE_QAMA, {kChannelStandard, "i", "1"}, "inconsistentValue",
         kChannelStandard, {}},
        // Column 2: channel enable.
        {"enable row 6", MODE_QAMA, {Param(2, 6), "i", "1"}, nullptr, "", {{kEnableAddress + 5, 1}}},
        {"enable 2", MODE_QAMA, {Param(2, 6), "i", "2"}, "wrongValue", Param(2, 6), {}},
        // Column 3: frequency, annex mode 0, 47,000 to the row's ceiling, 7,000 from each neighbour.
        {"frequency row 16 at its ceiling", MODE_QAMA, {Param(3, 16), "i", "806000"}, nullptr, "",
         {{kFrequencyAddress + 15, 806000}}},
        {"frequency row 16 above it", MODE_QAMA, {Param(3, 16), "i", "806001"}, "wrongValue", Param(3, 16), {}},
        {"frequency row 1 at its ceiling", MODE_QAMA, {Param(3, 1), "i", "701000"}, nullptr, "",
         {{kFrequencyAddress, 701000}}},
        {"frequency row 1 above it", MODE_QAMA, {Param(3, 1), "i", "701001"}, "wrongValue", Param(3, 1), {}},
        {"frequency below 47 MHz", MODE_QAMA, {Param(3, 1), "i", "46999"}, "wrongValue", Param(3, 1), {}},
        {"frequency 7 MHz above the lower neighbour", MODE_QAMA, {Param(3, 2), "i", "207000"}, nullptr, "",
         {{kFrequencyAddress + 1, 207000}}},
        {"frequency 6,999 kHz above the lower neighbour", MODE_QAMA, {Param(3, 2), "i", "206999"},
         "inconsistentValue", Param(3, 2), {}},
        {"frequency 6,999 kHz below the lower neighbour", MODE_QAMA, {Param(3, 2), "i", "193001"},
         "inconsistentValue", Param(3, 2), {}},
        {"frequency 6,999 kHz below the upper neighbour", MODE_QAMA, {Param(3, 2), "i", "209001"},
         "inconsistentValue", Param(3, 2), {}},
        {"frequency in annex mode 1", MODE_QAMB, {Param(3, 1), "i", "100000"}, "inconsistentValue", Param(3, 1), {}},
        // Column 4: bandwidth of the row's group.
        {"bandwidth 7", MODE_QAMA, {Param(4, 1), "i", "7"}, nullptr, "", {{kBandwidthAddress, 1}}},
        {"bandwidth 9", MODE_QAMA, {Param(4, 1), "i", "9"}, "wrongValue", Param(4, 1), {}},
        {"bandwidth 6 in annex mode 1", MODE_QAMB, {Param(4, 1), "i", "6"}, nullptr, "", {}},
        {"bandwidth 7 in annex mode 1", MODE_QAMB, {Param(4, 1), "i", "7"}, "inconsistentValue", Param(4, 1), {}},
        // Column 5: symbol rate, annex mode 0, ksym/s.
        {"symbol rate row 9 (group 1)", MODE_QAMA, {Param(5, 9), "i", "4400"}, nullptr, "",
         {{kSymbolRateAddress + 1, 4400000}}},
        {"symbol rate 4399", MODE_QAMA, {Param(5, 9), "i", "4399"}, "wrongValue", Param(5, 9), {}},
        {"symbol rate 6957", MODE_QAMA, {Param(5, 9), "i", "6957"}, "wrongValue", Param(5, 9), {}},
        {"symbol rate in annex mode 1", MODE_QAMB, {Param(5, 1), "i", "5000"}, "inconsistentValue", Param(5, 1), {}},
        // Column 6: constellation, annex mode 0.
        {"constellation row 16", MODE_QAMA, {Param(6, 16), "i", "4"}, nullptr, "", {{kConstellationAddress + 1, 4}}},
        {"constellation 5", MODE_QAMA, {Param(6, 16), "i", "5"}, "wrongValue", Param(6, 16), {}},
        {"constellation in annex mode 1", MODE_QAMB, {Param(6, 1), "i", "2"}, "inconsistentValue", Param(6, 1), {}},
        // Column 7: Annex B constellation with its symbol rate.
        {"64-QAM", MODE_QAMB, {Param(7, 1), "i", "0"}, nullptr, "",
         {{kConstellationAddress, 0}, {kSymbolRateAddress, 5056941}}},
        {"Annex B constellation 2", MODE_QAMB, {Param(7, 1), "i", "2"}, "wrongValue", Param(7, 1), {}},
        {"Annex B constellation in annex mode 0", MODE_QAMA, {Param(7, 1), "i", "1"}, "inconsistentValue",
         Param(7, 1), {}},
        // Column 8: a name of the plan (or its frequency part outside AIR).
        {"STD by frequency part", MODE_QAMB, {Param(8, 3), "s", "57"}, nullptr, "", {{kFrequencyAddress + 2, 57000}}},
        {"STD by name", MODE_QAMB, {Param(8, 3), "s", "CH2-57MHz"}, nullptr, "", {{kFrequencyAddress + 2, 57000}}},
        {"AIR by name", MODE_QAMB, {Param(8, 3), "s", "CH2-57MHz"}, nullptr, "", {{kFrequencyAddress + 2, 57000}},
         plan(0)},
        {"AIR by frequency part", MODE_QAMB, {Param(8, 3), "s", "57"}, "inconsistentValue", Param(8, 3), {}, plan(0)},
        {"a name of no plan", MODE_QAMB, {Param(8, 3), "s", "CH200-1MHz"}, "inconsistentValue", Param(8, 3), {}},
        {"a plan value that indexes no plan", MODE_QAMB, {Param(8, 3), "s", "57"}, "inconsistentValue", Param(8, 3),
         {}, plan(4)},
        {"21 bytes", MODE_QAMB, {Param(8, 3), "s", "123456789012345678901"}, "wrongLength", Param(8, 3), {}},
        {"a number", MODE_QAMB, {Param(8, 3), "i", "57"}, "wrongType", Param(8, 3), {}},
        {"channel name in annex mode 0", MODE_QAMA, {Param(8, 3), "s", "57"}, "inconsistentValue", Param(8, 3), {}},
        // Objects that cannot be set.
        {"temperature", MODE_QAMA, {kTemperature, "i", "20"}, "notWritable", kTemperature, {}},
        {"baseInfoTable", MODE_QAMA, {BaseInfo(2, 1), "s", "x"}, "notWritable", BaseInfo(2, 1), {}},
        {"the index column", MODE_QAMA, {Param(1, 1), "i", "1"}, "notWritable", Param(1, 1), {}},
        {"row 17", MODE_QAMA, {Param(2, 17), "i", "1"}, "noCreation", Param(2, 17), {}},
        // Whole requests: checked in order against the set as earlier varbinds leave it.
        {"row 2 moved away first lets row 1 come closer", MODE_QAMA,
         {Param(3, 2), "i", "240000", Param(3, 1), "i", "210000"}, nullptr, "",
         {{kFrequencyAddress + 1, 240000}, {kFrequencyAddress, 210000}}},
        {"the same pair the other way round", MODE_QAMA, {Param(3, 1), "i", "210000", Param(3, 2), "i", "240000"},
         "inconsistentValue", Param(3, 1), {}},
        {"a plan chosen first names the channel", MODE_QAMB, {kChannelStandard, "i", "2", Param(8, 1), "s", "79.25"},
         nullptr, "", {{kPlanAddress, 2}, {kFrequencyAddress + 3, 79250}, {kFrequencyAddress + 4, 85250},
                       {kFrequencyAddress, 79250}}},
        {"a bad varbind last stops the ones before it", MODE_QAMA,
         {kRfLevel, "i", "20", Param(2, 1), "i", "1", kPSIInterval, "i", "49"}, "wrongValue", kPSIInterval, {}},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.name);
        UseAnnexMode(c.mode, c.prepare);
        const SnmpToolResult result = Set(c.varbinds);
        EXPECT_EQ(c.pairs, NewPairs());
        if (c.reason == nullptr) {
            EXPECT_EQ(0, result.status) << result.output;
            EXPECT_THAT(result.output, Not(HasSubstr("Reason")));
            const TParameter_QAM live = Live();
            const TParameter_QAM file = FileTable();
            EXPECT_EQ(0, std::memcmp(&live, &file, sizeof live)) << "the file holds the live set";
            const QamPairs livePairs = QAM_PairsOf(live);
            for (const auto& [address, value] : c.pairs) {
                const auto it = std::find_if(livePairs.begin(), livePairs.end(),
                                             [&](const Parameter_Common& pair) { return pair.address == address; });
                ASSERT_NE(livePairs.end(), it);
                EXPECT_EQ(value, it->value) << "address " << address;
            }
        } else {
            EXPECT_NE(0, result.status);
            EXPECT_THAT(result.output, HasSubstr(std::string("Reason: ") + c.reason));
            EXPECT_THAT(result.output, HasSubstr("Failed object: " + c.failed + "\n"));
            const TParameter_QAM live = Live();
            EXPECT_EQ(0, std::memcmp(&liveBefore, &live, sizeof live)) << "the live set is unchanged";
            EXPECT_EQ(fileBefore, test::ReadBytes(kQamParamFilePath)) << "the file is unchanged";
            U16 interval = 0;
            Web_GetPSIInterval(&interval);
            EXPECT_EQ(100, interval);
        }
    }
}

TEST_F(QamMibTest, SetValuesReadBack) {
    ASSERT_EQ(0, Set({kRfLevel, "i", "15", kPSIInterval, "i", "50", Param(5, 1), "i", "6956"}).status);
    EXPECT_EQ(kRfLevel + " = INTEGER: 15\n" + kPSIInterval + " = INTEGER: 50\n" + Param(5, 1) + " = INTEGER: 6956\n",
              Get({kRfLevel, kPSIInterval, Param(5, 1)}).output);
    EXPECT_EQ(81u, Live().PowerLevel.value);
}

// With the 160T silent the manager hears genErr; the live set keeps the value
// and the file has it, so the next send takes it to the 160T.
TEST_F(QamMibTest, AFailedApplyIsAGenErrAndTheValueIsKept) {
    SnmpAgentRun::Get().env().FailOnUnexpectedErrors({"160T Uart", "u32ParamNum", "Send Parameters To 160T Fail",
                                                       "QAM160T_ParamsProcess failed"});
    fpga160t().FailNext({sim::ReplyFault::Kind::NoAnswer}, 1000);
    const SnmpToolResult result = Set({kRfLevel, "i", "20"});
    fpga160t().ClearFaults();
    EXPECT_NE(0, result.status);
    EXPECT_THAT(result.output, HasSubstr("Reason: (genError)"));
    EXPECT_THAT(result.output, HasSubstr("Failed object: " + kRfLevel + "\n"));
    EXPECT_EQ(86u, Live().PowerLevel.value);
    EXPECT_EQ(86u, FileTable().PowerLevel.value);
    EXPECT_EQ(kRfLevel + " = INTEGER: 20\n", Get({kRfLevel}).output);
}

// A thread of the card editing other fields of the set under the apply lock
// while managers set rfLevel: neither loses an edit.
TEST_F(QamMibTest, EditsOfAnotherThreadUnderTheApplyLockAreKept) {
    constexpr int kSets = 12;
    constexpr U32 kEdits = 200;
    std::thread editor([] {
        for (U32 edit = 1; edit <= kEdits; ++edit) {
            QamApplyGuard apply(QAM_ApplyLock());
            TParameter_QAM* live = GetQAMPara_Handle();
            *GetQAMParaTmp_Handle() = *live;
            live->Scale[edit % 16].value = edit;
            live->Interleaver[0].value = edit;
            QAM160T_ParamsProcess(GetQAMParaTmp_Handle(), live);
        }
    });
    for (int set = 0; set < kSets; ++set) {
        const int level = 15 + set;
        EXPECT_EQ(0, Set({kRfLevel, "i", std::to_string(level)}).status);
    }
    editor.join();
    const TParameter_QAM live = Live();
    EXPECT_EQ(15u + kSets - 1 + kRfLevelOffset, live.PowerLevel.value);
    EXPECT_EQ(kEdits, live.Interleaver[0].value);
    for (U32 channel = 0; channel < 16; ++channel) {
        U32 last = 0;
        for (U32 edit = 1; edit <= kEdits; ++edit) {
            last = edit % 16 == channel ? edit : last;
        }
        EXPECT_EQ(last, live.Scale[channel].value) << channel;
    }
    const TParameter_QAM file = FileTable();
    EXPECT_EQ(0, std::memcmp(&live, &file, sizeof live));
    const std::map<U32, U32> map = fpga160t().ParameterMap();
    EXPECT_EQ(live.PowerLevel.value, map.at(kPowerLevelAddress));
    EXPECT_EQ(kEdits, map.at(1024));
}

}  // namespace
}  // namespace hx

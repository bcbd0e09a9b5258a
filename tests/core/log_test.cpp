#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <syslog.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/file_util.h"
#include "core/log.h"
#include "support/test_env.h"

namespace hx {
namespace {

class LogTest : public ::testing::Test {
protected:
    test::TestEnvironment env;

    void InitWithMasks(U32 level, U32 module, U32 output) {
        log_Init(kMainLogPath);
        Log_SetLevel(level);
        Log_SetModule(module);
        Log_SetOutputMode(output);
        env.TakeConsole();
    }
};

struct MaskCase {
    const char* name;
    U32 levelMask, moduleMask, outputMask;
    U32 level, module;
    const char* console;  // expected console text ("" = nothing)
    bool toSyslog;
    int priority;
};

class LogMaskTest : public LogTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(LogMaskTest, WritesOnlyWhatTheMasksLetThrough) {
    const MaskCase& c = GetParam();
    InitWithMasks(c.levelMask, c.moduleMask, c.outputMask);
    log_printf(c.level, c.module, "%ld:%s:%d hello %d\n", 7L, "fn", 12, 42);
    EXPECT_EQ(c.console, env.Console());
    const auto lines = env.syslog().Lines();
    if (c.toSyslog) {
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(c.priority, lines[0].first);
        EXPECT_EQ(std::string("[") + Log_GetModuleString(c.module) + "]7:fn:12 hello 42\n", lines[0].second);
    } else {
        EXPECT_TRUE(lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogMaskTest,
    ::testing::Values(
        MaskCase{"InfoToBoth", 14, 0xFFFF, 255, LOG_LEVEL_INFO, LOG_MODULE_SYS, "[INFO][SYS]7:fn:12 hello 42\n", true, LOG_INFO},
        MaskCase{"ErrorPriority", 14, 0xFFFF, 255, LOG_LEVEL_ERROR, LOG_MODULE_QAM, "[ERROR][QAM]7:fn:12 hello 42\n", true, LOG_ERR},
        MaskCase{"WarningPriority", 14, 0xFFFF, 2, LOG_LEVEL_WARNING, LOG_MODULE_WEB, "", true, LOG_WARNING},
        MaskCase{"DebugPriority", 255, 0xFFFF, 2, LOG_LEVEL_DEBUG, LOG_MODULE_HW, "", true, LOG_DEBUG},
        MaskCase{"DebugMaskedOut", 14, 0xFFFF, 255, LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "", false, 0},
        MaskCase{"ModuleMaskedOut", 14, LOG_MODULE_SYS, 255, LOG_LEVEL_ERROR, LOG_MODULE_SNMP, "", false, 0},
        MaskCase{"ConsoleOnly", 14, 0xFFFF, 1, LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "[INFO][PARAMS]7:fn:12 hello 42\n", false, 0},
        MaskCase{"TwoLevelBitsNameTheLowest", 8, 0xFFFF, 1, 12, LOG_MODULE_SYS, "[WARNING][SYS]7:fn:12 hello 42\n", false, 0},
        MaskCase{"LevelZeroNeverEnabled", 255, 0xFFFF, 255, 0, LOG_MODULE_SYS, "", false, 0},
        MaskCase{"UnknownModuleBitsNameSys", 14, 0xFFFFFFFF, 1, LOG_LEVEL_INFO, 0x10000, "[INFO][SYS]7:fn:12 hello 42\n", false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The web's module list reads these names by bit; the log lines use the same.
TEST(LogModuleNamesTest, EachBitHasTheNameItsLinesCarry) {
    const std::vector<std::string> expected = {"SYS",       "PARAMS", "UPGRADE", "TSPROCESS", "SIPROCESS", "",
                                               "SOCKET",    "HW",     "WEB",     "SNMP",      "QAM"};
    ASSERT_EQ(expected.size(), kLogModuleNames);
    for (std::size_t bit = 0; bit < kLogModuleNames; ++bit) {
        EXPECT_EQ(expected[bit], log_NameArrayName[bit]) << "bit " << bit;
        if (bit != 5) {
            EXPECT_STREQ(log_NameArrayName[bit], Log_GetModuleString(1u << bit));
        }
    }
}

TEST_F(LogTest, BeforeInitOnlyTheConsoleHearsOfIt) {
    log_printf(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "early %s\n", "line");
    EXPECT_EQ("[ERROR][SYS]early line\n\n log module is not initialized\n", env.Console());
    EXPECT_TRUE(env.syslog().Lines().empty());
    EXPECT_FALSE(std::filesystem::exists(env.Path(kDeviceLogPath)));
}

// The macros ask the masks first: a dropped line evaluates none of its
// arguments; a taken one is written as log_printf writes it; before log_Init
// every line still reaches the console, whatever the masks say.
TEST_F(LogTest, MacrosSkipTheLinesTheMasksDropArgumentsAndAll) {
    int evaluated = 0;
    auto argument = [&evaluated] { return ++evaluated; };
    HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "before init %d\n", argument());
    EXPECT_EQ(1, evaluated);
    EXPECT_NE(std::string::npos, env.TakeConsole().find("before init 1\n\n log module is not initialized"));

    InitWithMasks(LOG_LEVEL_ERROR, LOG_MODULE_SYS, LOG_OUTPUT_CONSOLE);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "level dropped %d\n", argument());
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "module dropped %d\n", argument());
    HX_LOG_AT(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "level dropped %d\n", argument());
    EXPECT_EQ(1, evaluated);
    EXPECT_EQ("", env.Console());
    EXPECT_FALSE(Log_Takes(LOG_LEVEL_INFO, LOG_MODULE_SYS));

    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "taken %d\n", argument());
    HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "taken %d\n", argument());
    EXPECT_EQ(3, evaluated);
    const std::string console = env.Console();
    EXPECT_EQ(0u, console.find("[ERROR][SYS]" + std::to_string(Log_ThreadId()) + ":TestBody:")) << console;
    EXPECT_NE(std::string::npos, console.find(" taken 2\n[ERROR][SYS][TestBody:")) << console;
    EXPECT_NE(std::string::npos, console.find("]taken 3\n")) << console;
}

TEST_F(LogTest, ProductNameIsReplacedInAnyCase) {
    InitWithMasks(14, 0xFFFF, 1);
    log_printf(LOG_LEVEL_INFO, LOG_MODULE_SYS, "VANDIK and Vandik and vAnDiK\n");
    EXPECT_EQ("[INFO][SYS]product and product and product\n", env.Console());
}

TEST_F(LogTest, LinesAreCutAt255Characters) {
    InitWithMasks(14, 0xFFFF, 1);
    log_printf(LOG_LEVEL_INFO, LOG_MODULE_SYS, "%s", std::string(600, 'x').c_str());
    EXPECT_EQ(255u, env.Console().size());
}

TEST_F(LogTest, SyslogClosedPrintsTheNoticeAndWritesNoDeviceLog) {
    InitWithMasks(14, 0xFFFF, 255);
    log_DeInit();
    Log_SetLevel(14);  // still set; only the outputs are closed
    env.TakeConsole();
    const std::size_t sentBefore = env.syslog().Lines().size();
    const std::string deviceBefore = env.ReadText(kDeviceLogPath);
    log_printf(LOG_LEVEL_INFO, LOG_MODULE_SYS, "after close\n");
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find(" log module is not initialized\n"));
    EXPECT_NE(std::string::npos, console.find("] syslogd is not open\n"));
    EXPECT_EQ(sentBefore, env.syslog().Lines().size());
    EXPECT_EQ(deviceBefore, env.ReadText(kDeviceLogPath));
}

TEST(LogInitTest, MissingLogFolderLeavesSyslogClosedButTheConsoleWorks) {
    test::TestEnvironment env(/*prepare=*/false);
    std::filesystem::create_directories(env.Path("/vandik_data"));
    log_Init(kMainLogPath);
    env.TakeConsole();
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "banner\n");
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("[INFO][SYS]"));
    EXPECT_NE(std::string::npos, console.find("syslogd is not open"));
    EXPECT_TRUE(env.syslog().Lines().empty());
    EXPECT_EQ("", env.syslog().Ident());
}

TEST_F(LogTest, InitOpensSyslogWithTheProgramTag) {
    log_Init(kMainLogPath);
    EXPECT_EQ("[KESTRA]", env.syslog().Ident());
    EXPECT_NE(std::string::npos, env.Console().find("pu8LogSavepath = /vandik_data/log/KESTRA.log  u8LogSavedir = /vandik_data/log\n"));
}

// ---- settings file ---------------------------------------------------------

std::string SettingsBytes(U32 level, U32 module, U32 output) {
    std::string bytes;
    for (U32 value : {level, module, output}) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<char>(value >> (8 * i)));
        }
    }
    return bytes;
}

TEST_F(LogTest, SettingsRoundTripThroughTheFile) {
    log_Init(kMainLogPath);
    Log_SetLevel(LOG_LEVEL_ERROR);
    Log_SetModule(LOG_MODULE_QAM | LOG_MODULE_SYS);
    Log_SetOutputMode(LOG_OUTPUT_CONSOLE);
    ASSERT_EQ(0u, LogSetting_StoreParam());
    EXPECT_EQ(SettingsBytes(8, 1025, 1), env.ReadText(kLogSettingsPath));

    Log_ResetForTest();
    log_Init(kMainLogPath);
    EXPECT_EQ(8u, Log_GetLevel());
    EXPECT_EQ(1025u, Log_GetModule());
    EXPECT_EQ(1u, Log_GetOutputMode());
}

struct SettingsFallback {
    const char* name;
    bool present;
    std::string content;
};

class LogSettingsFallbackTest : public LogTest, public ::testing::WithParamInterface<SettingsFallback> {};

TEST_P(LogSettingsFallbackTest, UnusableFileGivesFactoryMasksAndIsRewritten) {
    if (GetParam().present) {
        env.WriteText(kLogSettingsPath, GetParam().content);
    }
    log_Init(kMainLogPath);
    EXPECT_EQ(14u, Log_GetLevel());
    EXPECT_EQ(0xFFFFu, Log_GetModule());
    EXPECT_EQ(255u, Log_GetOutputMode());
    EXPECT_EQ(SettingsBytes(14, 0xFFFF, 255), env.ReadText(kLogSettingsPath));
    EXPECT_NE(std::string::npos, env.Console().find("Get logSetting configuration error, set to default\r\n"));
    // The two attempts were 100 ms apart on the clock, not on the wall.
    EXPECT_EQ(std::vector<std::uint64_t>{100'000}, env.clock().SleepHistory());
}

INSTANTIATE_TEST_SUITE_P(Cases, LogSettingsFallbackTest,
                         ::testing::Values(SettingsFallback{"Missing", false, ""},
                                           SettingsFallback{"Empty", true, ""},
                                           SettingsFallback{"FourBytes", true, SettingsBytes(8, 0, 0).substr(0, 4)},
                                           SettingsFallback{"ElevenBytes", true, SettingsBytes(8, 1, 1).substr(0, 11)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogTest, LongerSettingsFileUsesItsFirstTwelveBytes) {
    env.WriteText(kLogSettingsPath, SettingsBytes(4, 2, 2) + "trailing");
    env.clock().SetAutoAdvance(true);
    log_Init(kMainLogPath);
    EXPECT_EQ(4u, Log_GetLevel());
    EXPECT_EQ(2u, Log_GetModule());
    EXPECT_EQ(2u, Log_GetOutputMode());
}

// ---- string replacement ----------------------------------------------------

TEST(StringReplaceTest, ReplacesWithinTheBoundAndNeverOverruns) {
    char out[16];
    StringReplace("a VANDIK b", "vandik", "product", out, sizeof out);
    EXPECT_STREQ("a product b", out);
    StringReplace("vandikvandikvandik", "vandik", "product", out, sizeof out);
    EXPECT_STREQ("productproductp", out) << "cut at the bound, terminated";
    StringReplace("vandikvandikvandik", "vandik", "vandik", out, 8);
    EXPECT_STREQ("vandikv", out) << "equal substrings copy the bound unchanged";

    // A source ending in the first letters of the pattern is not compared past its end.
    char tail[16];
    StringReplace("abc vand", "vandik", "product", tail, sizeof tail);
    EXPECT_STREQ("abc vand", tail);
}

// ---- device log ------------------------------------------------------------

class DeviceLogTest : public LogTest {
protected:
    void SetUp() override { env.clock().SetWallSeconds(1'765'370'558); }  // a Wednesday in December
    std::string Device() { return env.ReadText(kDeviceLogPath); }
    std::vector<std::string> DeviceLines() {
        std::vector<std::string> lines;
        std::string text = Device();
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }
    static std::string Record(const std::string& line) {
        // Time stamps vary; the count and the trimmed line are what we compare.
        return line.size() > 31 ? line.substr(31) : line;
    }
    void Pad(std::size_t bytes) {
        // Filler records of distinct sources, each its own line.
        for (std::size_t i = 0; Device().size() < bytes; ++i) {
            uniqlog(("[INFO][SYS]9:filler:" + std::to_string(i) + " " + std::string(60, 'f') + "\n").c_str());
        }
    }
};

TEST_F(DeviceLogTest, SmallFileIsAlwaysAppendedTo) {
    uniqlog("[INFO][SYS]1:fn:10 first\n\n");
    uniqlog("[INFO][SYS]1:fn:10 first\n\n");
    const auto lines = DeviceLines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(" 0000  [INFO][SYS]1:fn:10 first", Record(lines[0]));
    EXPECT_EQ(" 0000  [INFO][SYS]1:fn:10 first", Record(lines[1]));
}

TEST_F(DeviceLogTest, RepeatMovesToTheEndWithItsCountAndFirstTime) {
    Pad(300);
    uniqlog("[INFO][SYS]1:fn:10 first\n");
    const std::string firstSeen = DeviceLines().back().substr(0, 15);
    uniqlog("[ERROR][QAM]1:other:5 between\n");
    env.clock().Advance(61'000'000);
    uniqlog("[INFO][SYS]1:fn:10 again\n");

    const auto lines = DeviceLines();
    ASSERT_GE(lines.size(), 2u);
    const std::string last = lines.back();
    EXPECT_EQ(" 0001  [INFO][SYS]1:fn:10 again", Record(last.substr(0, last.find_last_not_of(' ') + 1)));
    EXPECT_EQ(firstSeen, last.substr(0, 15)) << "first-seen time kept";
    EXPECT_NE(last.substr(0, 15), last.substr(16, 15)) << "last-seen time renewed";
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("1:fn:10") != std::string::npos; }));
    EXPECT_NE(std::string::npos, lines[lines.size() - 2].find("1:other:5 between"));
}

TEST_F(DeviceLogTest, SourceLinesThatShareAPrefixStaySeparate) {
    Pad(300);
    uniqlog("[INFO][SYS]1:fn:123 long line number\n");
    uniqlog("[INFO][SYS]1:fn:12 short line number\n");
    const auto lines = DeviceLines();
    EXPECT_NE(std::string::npos, lines[lines.size() - 2].find(" 0000  [INFO][SYS]1:fn:123 long"));
    EXPECT_NE(std::string::npos, lines.back().find(" 0000  [INFO][SYS]1:fn:12 short"));
}

TEST_F(DeviceLogTest, CountSaturatesAt9999Plus) {
    Pad(300);
    uniqlog("[INFO][SYS]1:fn:10 x\n");
    // Forge a record that already counts 9999.
    std::string text = Device();
    const std::size_t count = text.rfind(" 0000  [INFO][SYS]1:fn:10");
    text.replace(count, 7, " 9999  ");
    env.WriteText(kDeviceLogPath, text);
    uniqlog("[INFO][SYS]1:fn:10 x\n");
    EXPECT_NE(std::string::npos, DeviceLines().back().find(" 9999+ [INFO][SYS]1:fn:10 x"));
    uniqlog("[INFO][SYS]1:fn:10 x\n");
    EXPECT_NE(std::string::npos, DeviceLines().back().find(" 9999+ [INFO][SYS]1:fn:10 x"));
}

TEST_F(DeviceLogTest, OnlyTheLast16KiBAreSearched) {
    uniqlog("[INFO][SYS]1:fn:10 old\n");
    Pad(20'000);
    uniqlog("[INFO][SYS]1:fn:10 new\n");
    const auto lines = DeviceLines();
    EXPECT_EQ(2, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("1:fn:10") != std::string::npos; }));
    EXPECT_NE(std::string::npos, lines.back().find(" 0000  [INFO][SYS]1:fn:10 new"));
}

TEST_F(DeviceLogTest, RotatesPastTwoMebibytes) {
    std::string big(kDeviceLogLimit - 10, 'z');
    big.back() = '\n';
    env.WriteText(kDeviceLogPath, big);
    uniqlog("[INFO][SYS]1:fn:10 tips it over\n");
    EXPECT_FALSE(std::filesystem::exists(env.Path(kDeviceLogPath)));
    ASSERT_TRUE(std::filesystem::exists(env.Path(kDeviceLogOldPath)));
    EXPECT_GT(*File_Size(env.Path(kDeviceLogOldPath)), kDeviceLogLimit);

    uniqlog("[INFO][SYS]1:fn:11 fresh file\n");
    ASSERT_EQ(1u, DeviceLines().size());
    EXPECT_NE(std::string::npos, Device().find("1:fn:11 fresh file"));

    uniqlogclear();
    EXPECT_FALSE(std::filesystem::exists(env.Path(kDeviceLogPath)));
    EXPECT_FALSE(std::filesystem::exists(env.Path(kDeviceLogOldPath)));
}

TEST_F(DeviceLogTest, SyslogOutputFeedsTheDeviceLog) {
    InitWithMasks(14, 0xFFFF, 2);
    HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_HW, "fan %d\n", 3);
    EXPECT_NE(std::string::npos, Device().find(" 0000  [WARNING][HW]"));
    EXPECT_NE(std::string::npos, Device().find("fan 3\n"));
}

// ---- web log cache ---------------------------------------------------------

TEST_F(LogTest, CacheReadsLevelsAndTextsAndFollowsTheFile) {
    env.WriteText(kMainLogPath,
                  "Dec 10 10:00:00 hx user.info [KESTRA][1]: [SYS]one\n"
                  "Dec 10 10:00:01 hx user.debug [KESTRA][1]: [SYS]two\n"
                  "no dot here\n"
                  "Dec 10 10:00:02 hx user.notice [KESTRA][1]: [SYS]skipped word\n"
                  "Dec 10 10:00:03 hx user.warn [KESTRA][1]: [HW]three\n"
                  "Dec 10 10:00:04 hx user.err [KESTRA][1]: [QAM]four\n");
    ASSERT_EQ(4, Log_CacheRead(0));
    EXPECT_EQ((std::vector<U32>{1, 0, 2, 3}), std::vector<U32>(g_arrLogLevel, g_arrLogLevel + 4));
    EXPECT_STREQ(" [SYS]one", g_arrLogRecord[0]);
    EXPECT_STREQ(" [QAM]four", g_arrLogRecord[3]);
    EXPECT_EQ(env.clock().WallTime().tv_sec, g_arrLogTime[0]);

    EXPECT_EQ(0, Log_CacheRead(1)) << "a refresh starts where the last read ended";
    std::ofstream(env.Path(kMainLogPath), std::ios::app) << "Dec 10 10:00:05 hx user.info [KESTRA][1]: [SYS]five\n";
    ASSERT_EQ(1, Log_CacheRead(1));
    EXPECT_STREQ(" [SYS]five", g_arrLogRecord[0]);
}

TEST_F(LogTest, CacheOfALongLogStartsAtAWholeLineNearItsEnd) {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text += "Dec 10 10:00:00 hx user.info [KESTRA][1]: [SYS]line " + std::to_string(i) + "\n";
    }
    env.WriteText(kMainLogPath, text);
    const int rows = Log_CacheRead(0);
    ASSERT_GT(rows, 0);
    EXPECT_LT(rows, 20);
    EXPECT_STREQ(" [SYS]line 99", g_arrLogRecord[rows - 1]);
    EXPECT_EQ(0, Log_CacheRead(0) - rows);
}

// The opt-in check of the test environment: ERROR lines the test did not
// expect fail it, whichever output they went to; other levels never do.
void LogThroughAnEnvironmentThatExpects(const char* expected, bool syslogOnly) {
    test::TestEnvironment env;
    env.FailOnUnexpectedErrors({expected});
    log_Init(kMainLogPath);
    Log_SetOutputMode(syslogOnly ? LOG_OUTPUT_SYSLOG : LOG_OUTPUT_ALL);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "all is well\r\n");
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file [x] is not exist!\r\n");
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Reg Must Map Success\n\n");
}

TEST(TestEnvironmentErrorCheck, OnlyExpectedErrorLinesPass) {
    for (const bool syslogOnly : {false, true}) {
        SCOPED_TRACE(syslogOnly ? "syslog only" : "console and syslog");
        EXPECT_NONFATAL_FAILURE(LogThroughAnEnvironmentThatExpects("is not exist!", syslogOnly),
                                "unexpected ERROR line: [HW]");
        EXPECT_NONFATAL_FAILURE(LogThroughAnEnvironmentThatExpects("Reg Must Map", syslogOnly),
                                "unexpected ERROR line: [PARAMS]");
    }
    test::TestEnvironment env;
    env.FailOnUnexpectedErrors({"is not exist!", "Reg Must Map"});
    log_Init(kMainLogPath);
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file [x] is not exist!\r\n");
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "Reg Must Map Success\n\n");
    EXPECT_TRUE(env.UnexpectedErrors().empty());
}

}  // namespace
}  // namespace hx

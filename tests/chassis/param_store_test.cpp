#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx {
namespace {

using test::FileExists;
using test::MarkedSettings;
using test::ReadBytes;
using test::WriteBytes;

constexpr MarkedSettings kOld{111000, 1111};
constexpr MarkedSettings kFactory{200000, 1234};

// Logs show the card's paths with "vandik" replaced.
const std::string kQamShown = "/product_data/HX_QAM.conf";
const std::string kModelShown = "/product_data/HX_OutPutTSP.conf";
const std::string kNoJsonCopy = "open file: /product_data/oid.json failed";

U32 CrcOf(const std::vector<U8>& bytes, std::size_t from, std::size_t to) {
    return Common_CRC_Calculate(bytes.data() + from, static_cast<U32>(to - from), kCrcInitLinks);
}

void PutCrc(std::vector<U8>& bytes, std::size_t at, std::size_t from, std::size_t to) {
    PutLe32(bytes.data() + at, CrcOf(bytes, from, to));
}

class ParamStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        // These tests start from a data root without a model file, and a
        // start-up from factory defaults finds no JSON copy to restore.
        env.FailOnUnexpectedErrors({"Config file [" + kModelShown + "] is not exist!", kNoJsonCopy});
        log_Init(kMainLogPath);
        test::ResetParameterState();
        PARAMS_SetRemoveHook(nullptr);
    }
    void TearDown() override { PARAMS_SetRemoveHook(nullptr); }

    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }
    // A valid factory file with the marks, as raw bytes.
    std::vector<U8> GoodQamFile(MarkedSettings marks = kOld) {
        test::WriteMarkedQamFile(marks);
        return ReadBytes(kQamParamFilePath);
    }

    test::TestEnvironment env;
    // Loads and factory resets run the apply, which writes the routing tables.
    test::SimBoard board;
};

// ---- layout -----------------------------------------------------------------

TEST_F(ParamStoreTest, FactoryFileLayoutByteForByte) {
    PARAMS_Factory();
    QAM_IPMonitorPara monitor = *GetQAMIPMonitor_Handle();
    monitor.u8Enable = 0x01;
    monitor.u8Channel = 0x0F;
    monitor.u16DestPort = 0x1234;
    monitor.u32DestIPAddr = 0xE1020304;
    monitor.u16IP1MaxRate = 0x0055;
    monitor.u8Mac1LicFlag = 0x66;
    monitor.u16PSIInterval = 0x0177;
    const U8 mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(monitor.aru8Mac1, mac, 6);
    monitor.u32IP1 = 0xC0A80B0C;
    ASSERT_EQ(0u, PARAMS_SetIPMonitorParams(&monitor));

    const std::vector<U8> file = ReadBytes(kQamParamFilePath);
    ASSERT_EQ(6444u, file.size());
    EXPECT_EQ(0x50415241u, GetLe32(&file[0]));
    EXPECT_EQ(0x20170310u, GetLe32(&file[4]));
    EXPECT_EQ(0x51414D54u, GetLe32(&file[8]));
    EXPECT_EQ(0x54454E44u, GetLe32(&file[6376]));
    EXPECT_EQ(0x49504D54u, GetLe32(&file[6380]));
    EXPECT_EQ(0x54454E44u, GetLe32(&file[6432]));
    EXPECT_EQ(0x54454E44u, GetLe32(&file[6440]));
    EXPECT_EQ(CrcOf(file, 8, 6372), GetLe32(&file[6372]));
    EXPECT_EQ(CrcOf(file, 6380, 6428), GetLe32(&file[6428]));
    EXPECT_EQ(CrcOf(file, 0, 6436), GetLe32(&file[6436]));
    // Pair i at 12 + 8 i: MaxChannel (1), Frequency[0] (59), InsertPSIEnable[31] (196), Res[0] (197).
    EXPECT_EQ(256u, GetLe32(&file[20]));
    EXPECT_EQ(32u, GetLe32(&file[24]));
    EXPECT_EQ(768u, GetLe32(&file[12 + 8 * 59]));
    EXPECT_EQ(200000u, GetLe32(&file[16 + 8 * 59]));
    EXPECT_EQ(2164u, GetLe32(&file[12 + 8 * 196]));
    EXPECT_EQ(0xFFFFFFFFu, GetLe32(&file[12 + 8 * 197]));

    const std::vector<U8> expectedMonitor = {0x01, 0x0F, 0x34, 0x12, 0x04, 0x03, 0x02, 0xE1, 0x55, 0x00, 0x66,
                                             0x00, 0x77, 0x01, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 0x0C, 0x0B,
                                             0xA8, 0xC0, 0,    0,    0,    0,    0,    0,    0,    0,    0,
                                             0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(expectedMonitor, std::vector<U8>(file.begin() + 6384, file.begin() + 6428));
}

TEST_F(ParamStoreTest, SerialiseAndParseAreInverse) {
    const std::vector<U8> file = GoodQamFile();
    QamParamFileBytes bytes;
    std::copy(file.begin(), file.end(), bytes.begin());
    EXPECT_EQ(bytes, QamParams_Serialize(QamParams_Parse(bytes)));
}

// ---- the QAM file's start-up checks, one table ---------------------------------

struct DamageCase {
    const char* name;
    std::function<void(std::vector<U8>& good)> damage;
    bool removeFile;
    bool failDeletion;
    U32 result;
    std::string logText;
    bool deleted;
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class QamFileDamageTest : public ParamStoreTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(QamFileDamageTest, CheckResultLogDeletionAndWhatStartUpLoads) {
    const DamageCase& c = GetParam();
    env.FailOnUnexpectedErrors({c.logText, "Delete file [" + kQamShown + "] failed!"});
    std::vector<U8> bytes = GoodQamFile();
    c.damage(bytes);
    if (c.removeFile) {
        std::filesystem::remove(env.Path(kQamParamFilePath));
    } else {
        WriteBytes(kQamParamFilePath, bytes);
    }
    if (c.failDeletion) {
        PARAMS_SetRemoveHook([](const char*) {
            errno = EPERM;
            return -1;
        });
    }
    env.TakeConsole();
    EXPECT_EQ(c.result, PARAMS_VerifyConfigFiles());
    EXPECT_TRUE(Logged(c.logText)) << env.Console();
    EXPECT_EQ(c.deleted, !FileExists(kQamParamFilePath));
    EXPECT_EQ(c.failDeletion, Logged("Delete file [" + kQamShown + "] failed!"));

    // Start-up meets the same damage, carries on with factory settings and
    // leaves a good file.
    if (!c.removeFile) {
        WriteBytes(kQamParamFilePath, bytes);
    }
    test::ResetParameterState();
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
    EXPECT_TRUE(Logged(c.result == 15 ? "Migration parameters!" : "Factory parameters!"));
    PARAMS_SetRemoveHook(nullptr);
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
}

const auto kNoDamage = [](std::vector<U8>&) {};

INSTANTIATE_TEST_SUITE_P(
    Cases, QamFileDamageTest,
    ::testing::Values(
        DamageCase{"Missing", kNoDamage, true, false, 1, "Config file [" + kQamShown + "] is not exist!", true},
        DamageCase{"Empty", [](std::vector<U8>& b) { b.clear(); }, false, false, 1,
                   "config file len 0 too less[" + kQamShown + "]!", true},
        DamageCase{"ElevenBytes", [](std::vector<U8>& b) { b.resize(11); }, false, false, 1,
                   "config file len 11 too less[" + kQamShown + "]!", true},
        DamageCase{"ElevenBytesUndeletable", [](std::vector<U8>& b) { b.resize(11); }, false, true, 1,
                   "config file len 11 too less[" + kQamShown + "]!", false},
        DamageCase{"FlippedByte", [](std::vector<U8>& b) { b[100] ^= 0x01; }, false, false, 1,
                   "Config file [" + kQamShown + "] CRC fail [0x", true},
        DamageCase{"VersionOneAbove",
                   [](std::vector<U8>& b) {
                       PutLe32(&b[4], 0x20170311);
                       PutCrc(b, 6436, 0, 6436);
                   },
                   false, false, 15, "Config file version [538379024] vs [538379025]!", true},
        DamageCase{"FourBytesLongerWithCrcAtTheEnd",
                   [](std::vector<U8>& b) {
                       b.resize(6448);
                       PutCrc(b, 6440, 0, 6440);
                   },
                   false, false, 15, "Config file size [6448] vs [6444]!", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ParamStoreTest, AFileThatCannotBeReadIsDamaged) {
    // A folder in place of the file opens but cannot be read, nor unlinked.
    env.FailOnUnexpectedErrors({"Read config file [" + kQamShown + "] failure", "Delete file [" + kQamShown + "] failed!",
                                "Open config files error: Is a directory"});
    std::filesystem::create_directories(env.Path(kQamParamFilePath) + "/inside");
    EXPECT_EQ(1u, PARAMS_VerifyConfigFiles());
    EXPECT_TRUE(Logged("Read config file [" + kQamShown + "] failure")) << env.Console();
    EXPECT_TRUE(Logged("Delete file [" + kQamShown + "] failed!"));
    EXPECT_EQ(0u, PARAMS_Init()) << "start-up goes on";
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
}

// ---- PARAMS_Init --------------------------------------------------------------

TEST_F(ParamStoreTest, InitLoadsAGoodFile) {
    GoodQamFile(kOld);
    env.TakeConsole();
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_EQ(0, test::LiveMarks({kOld}));
    EXPECT_EQ(kOld.frequency0, g_stCurPE.st_QAMParams.stQAM160TParams.Frequency[0].value);
    for (const char* line : {"PARAMS_Load:", "Load config files !", "QAM CRC Check Sucess", "IP Monitor CRC Check Sucess"}) {
        EXPECT_TRUE(Logged(line)) << line;
    }
    EXPECT_FALSE(Logged("[PARAMS_Factory]")) << "the QAM settings were not reset";
}

TEST_F(ParamStoreTest, InitRebuildsAMissingFileFromFactoryDefaults) {
    env.FailOnUnexpectedErrors({"Config file [" + kQamShown + "] is not exist!"});
    std::filesystem::remove(env.Path(kLogSettingsPath));
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_TRUE(Logged("Factory parameters!"));
    EXPECT_TRUE(Logged("[PARAMS_Factory]"));
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
    EXPECT_EQ(12u, ReadBytes(kLogSettingsPath).size()) << "log settings reset and stored";
    const stAccessModifyEn right = VKUser_GetAuthorityEntry(9);
    EXPECT_EQ(257, right.u16AuthorityId) << "every right granted";
    EXPECT_EQ(1, right.u8ModifyEnable);
}

TEST_F(ParamStoreTest, InitMigratesAFileOfAnotherVersion) {
    env.FailOnUnexpectedErrors({"Config file version [538379024] vs [538312961]!"});
    std::vector<U8> bytes = GoodQamFile(kOld);
    PutLe32(&bytes[4], 0x20160101);
    PutCrc(bytes, 6436, 0, 6436);
    WriteBytes(kQamParamFilePath, bytes);
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_TRUE(Logged("Migration parameters!"));
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
}

TEST_F(ParamStoreTest, ASectionCrcFailureIsDamageAndLeavesNoStaleValues) {
    env.FailOnUnexpectedErrors({"QAM CRC Check Error", "IP Monitor CRC Check Error"});
    for (const std::size_t changed : {std::size_t{16}, std::size_t{6390}}) {
        std::vector<U8> bytes = GoodQamFile(kOld);
        bytes[changed] ^= 0x10;          // a value inside a section
        PutCrc(bytes, 6436, 0, 6436);     // the whole-record CRC still holds
        WriteBytes(kQamParamFilePath, bytes);
        test::ResetParameterState();
        env.TakeConsole();
        ASSERT_EQ(0u, PARAMS_VerifyConfigFiles());
        EXPECT_EQ(0u, PARAMS_Init());
        EXPECT_TRUE(Logged(changed < 6380 ? "QAM CRC Check Error" : "IP Monitor CRC Check Error"));
        EXPECT_TRUE(Logged("Factory parameters!"));
        EXPECT_EQ(0, test::LiveMarks({kFactory}));
        EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
        EXPECT_EQ(0u, PARAMS_Update_QAM()) << "the rebuilt file holds good sections";
    }
}

TEST_F(ParamStoreTest, ATornFileIsCaughtLoggedAndReplaced) {
    env.FailOnUnexpectedErrors({"Config file [" + kQamShown + "] CRC fail"});
    const std::vector<U8> oldFile = GoodQamFile(kOld);
    const std::vector<U8> newFile = GoodQamFile(MarkedSettings{333000, 3333});
    std::vector<U8> torn(newFile.begin(), newFile.begin() + 3222);
    torn.insert(torn.end(), oldFile.begin() + 3222, oldFile.end());
    WriteBytes(kQamParamFilePath, torn);
    test::ResetParameterState();
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_TRUE(Logged("Config file [" + kQamShown + "] CRC fail"));
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
}

// ---- saving -----------------------------------------------------------------

TEST_F(ParamStoreTest, SettersCopyIntoTheImageAndSaveIt) {
    env.FailOnUnexpectedErrors({"Input Param is NULL"});
    PARAMS_Factory();
    TParameter_QAM qam = *GetQAMPara_Handle();
    qam.Frequency[0].value = 555000;
    EXPECT_EQ(0u, PARAMS_SetQAMParams(&qam));
    QAM_IPMonitorPara monitor = *GetQAMIPMonitor_Handle();
    monitor.u16DestPort = 5555;
    EXPECT_EQ(0u, PARAMS_SetIPMonitorParams(&monitor));
    EXPECT_EQ(4u, PARAMS_SetQAMParams(nullptr));
    EXPECT_EQ(4u, PARAMS_GetQAMParams(nullptr));
    EXPECT_EQ(4u, PARAMS_ParametersSave(nullptr));

    ST_VK_QAM section{};
    ASSERT_EQ(0u, PARAMS_GetQAMParams(&section));
    EXPECT_EQ(555000u, section.stQAM160TParams.Frequency[0].value);
    ST_VK_IPMONITOR monitorSection{};
    ASSERT_EQ(0u, PARAMS_GetIPMonitorParams(&monitorSection));
    EXPECT_EQ(5555, monitorSection.stIPMonitorParams.u16DestPort);

    test::ResetParameterState();
    EXPECT_EQ(0u, PARAMS_Init());
    EXPECT_EQ(0, test::LiveMarks({MarkedSettings{555000, 5555}}));
    EXPECT_EQ(0x51414D54u, g_stCurPE.st_QAMParams.u32StructStartTag) << "tags kept from the factory rebuild";
}

TEST_F(ParamStoreTest, AFailedSaveIsReportedKeepsTheOldFileAndLaterSavesWork) {
    env.FailOnUnexpectedErrors({"Open config files error: No such file or directory(errno: 2)"});
    const std::vector<U8> before = GoodQamFile(kOld);
    PARAMS_Init();
    const std::string folder = env.Path("/vandik_data");
    std::filesystem::rename(folder, folder + ".away");
    env.TakeConsole();
    EXPECT_EQ(1u, PARAMS_ParametersSave(PARAMS_GetCurParamsHandler()));
    TParameter_QAM qam = *GetQAMPara_Handle();
    qam.Frequency[0].value = 999000;
    EXPECT_EQ(1u, PARAMS_SetQAMParams(&qam)) << "the setter reports the failed save";
    EXPECT_TRUE(Logged("PARAMS_ParametersSave:")) << env.Console();
    EXPECT_TRUE(Logged("Open config files error: No such file or directory(errno: 2)"));
    std::filesystem::rename(folder + ".away", folder);
    EXPECT_EQ(before, ReadBytes(kQamParamFilePath));

    EXPECT_EQ(0u, PARAMS_ParametersSave(PARAMS_GetCurParamsHandler()));
    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_EQ(0, test::LiveMarks({MarkedSettings{999000, kOld.destPort}}));
}

TEST_F(ParamStoreTest, ALeftoverTemporaryIsNeverLoadedAndTheNextSaveRemovesIt) {
    GoodQamFile(kOld);
    const std::string leftover = "/vandik_data/.HX_QAM.conf.a1B2c3";
    const std::vector<U8> otherFile = GoodQamFile(MarkedSettings{777000, 7777});
    GoodQamFile(kOld);
    WriteBytes(leftover, otherFile);
    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_EQ(0, test::LiveMarks({kOld}));
    ASSERT_TRUE(FileExists(leftover));
    PARAMS_SaveCurParam();
    EXPECT_FALSE(FileExists(leftover));
}

// ---- the output-model file's checks and the web reset ------------------------------

std::vector<U8> ModelFile(std::size_t bodyBytes) {
    std::vector<U8> bytes(240 + bodyBytes + 4, 0);
    PutLe32(&bytes[0], 0x20170310);
    PutLe32(&bytes[4], static_cast<U32>(bytes.size()));
    PutCrc(bytes, bytes.size() - 4, 0, bytes.size() - 4);
    return bytes;
}

struct ModelCase {
    const char* name;
    std::function<void(std::vector<U8>&)> damage;
    bool failDeletion;
    U32 result;
    std::string logText;
};

void PrintTo(const ModelCase& c, std::ostream* out) { *out << c.name; }

class ModelFileCheckTest : public ParamStoreTest, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ModelFileCheckTest, ResultLogAndDeletion) {
    const ModelCase& c = GetParam();
    // The start-up at the end meets no QAM file, and a model file whose
    // header holds no counts.
    env.FailOnUnexpectedErrors({c.logText, "Delete file [" + kModelShown + "] failed!",
                                "Config file [" + kQamShown + "] is not exist!", "TSIndex counts give [244] bytes",
                                "Load TSP config files failure, factory model instead!"});
    std::vector<U8> bytes = ModelFile(448);
    c.damage(bytes);
    WriteBytes(kModelParamFilePath, bytes);
    if (c.failDeletion) {
        PARAMS_SetRemoveHook([](const char*) { return -1; });
    }
    EXPECT_EQ(c.result, PARAMS_VerifyTSPConfigFiles());
    EXPECT_TRUE(Logged(c.logText)) << env.Console();
    EXPECT_EQ(c.result != 0, Logged("PARAMS_VerifyTSPConfigFiles:"));
    EXPECT_EQ(c.result != 0 && !c.failDeletion, !FileExists(kModelParamFilePath));
    if (c.failDeletion) {
        EXPECT_TRUE(Logged("Delete file [" + kModelShown + "] failed!"));
    }
    EXPECT_EQ(0u, PARAMS_Init()) << "the process runs on";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelFileCheckTest,
    ::testing::Values(
        ModelCase{"Good", [](std::vector<U8>&) {}, false, 0, ""},
        ModelCase{"Empty", [](std::vector<U8>& b) { b.clear(); }, false, 1,
                  "config file len 0 too less[" + kModelShown + "]!"},
        ModelCase{"SmallAndUndeletable", [](std::vector<U8>& b) { b.resize(8); }, true, 1,
                  "config file len 8 too less[" + kModelShown + "]!"},
        ModelCase{"FlippedByte", [](std::vector<U8>& b) { b[300] ^= 0x80; }, false, 1,
                  "Config file [" + kModelShown + "] CRC fail"},
        ModelCase{"TruncatedPool",
                  [](std::vector<U8>& b) {
                      b.resize(b.size() - 100);
                      PutCrc(b, b.size() - 4, 0, b.size() - 4);
                  },
                  false, 15, "Config file size [592] vs [692]!"},
        ModelCase{"VersionOneAbove",
                  [](std::vector<U8>& b) {
                      PutLe32(&b[0], 0x20170311);
                      PutCrc(b, b.size() - 4, 0, b.size() - 4);
                  },
                  false, 15, "Config file version [538379024] vs [538379025]!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ParamStoreTest, WebFactoryRefusesWithoutAModelFile) {
    env.FailOnUnexpectedErrors({"Open TSP config files error: No such file or directory(errno: 2)"});
    GoodQamFile(kOld);
    PARAMS_Init();
    std::filesystem::remove(env.Path(kModelParamFilePath));
    env.TakeConsole();
    EXPECT_EQ(1u, PARAMS_WEB_Factory(WEB_SET_FACTORY));
    EXPECT_TRUE(Logged("Open TSP config files error: No such file or directory(errno: 2)"));
    EXPECT_FALSE(Logged("Parameters factory!"));
    EXPECT_EQ(0, test::LiveMarks({kOld}));
}

TEST_F(ParamStoreTest, WebFactoryInBothModes) {
    GoodQamFile(kOld);
    PARAMS_Init();
    WriteBytes(kModelParamFilePath, ModelFile(448));

    env.TakeConsole();
    EXPECT_EQ(0u, PARAMS_WEB_Factory(WEB_CLEAR_TS));
    EXPECT_TRUE(Logged("PARAMS_TSP_Factory:"));
    EXPECT_FALSE(Logged("PARAMS_Factory success"));
    EXPECT_EQ(0, test::LiveMarks({kOld})) << "clearing the streams keeps the QAM settings";

    env.TakeConsole();
    EXPECT_EQ(0u, PARAMS_WEB_Factory(WEB_SET_FACTORY));
    EXPECT_TRUE(Logged("PARAMS_TSP_Factory:"));
    EXPECT_TRUE(Logged("PARAMS_Factory success"));
    EXPECT_NE(std::string::npos, env.ReadText(kQamJsonFilePath).find("\"frequency\":\t200000,"))
        << "the JSON copy holds the factory settings";
    EXPECT_EQ(0, test::LiveMarks({kFactory}));
    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_EQ(0, test::LiveMarks({kFactory})) << "the factory settings were saved";
}

}  // namespace
}  // namespace hx

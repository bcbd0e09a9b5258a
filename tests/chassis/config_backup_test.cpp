// Configuration backup and import against the simulated back board's FTP
// folder, with the real tar: the archive an export leaves, an import on
// another data root, the checks an imported file must pass, the older
// archive's parameter images, and the leftovers and hostile members that must
// never count.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chassis/config_backup.h"
#include "chassis/oid_snapshot.h"
#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/file_util.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "platform/resource.h"
#include "sim/ftp_service.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::FileExists;
using test::MarkedSettings;
using test::ReadBytes;

constexpr U32 kSlot = 5;
constexpr U8 kOwnBoardType = 33;
const std::string kArchive = "/var/volatile/5conf.tar";
const std::string kFtpArchive = "/sim/ftp/5conf.tar";
const std::string kNewConfig = "/var/volatile/param_new.conf";
const std::string kOldConfig = "/var/volatile/param.conf";
const std::string kSnapshot = "/vandik_data/oiddata.conf";
const std::string kStage = "/tmp/stage";

constexpr MarkedSettings kExported{333000, 3333};
constexpr MarkedSettings kLocal{444000, 4444};

// Writes a file of the data root, its folders made first.
void Put(const std::string& logical, const std::vector<U8>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(ResolvePath(logical)).parent_path());
    test::WriteBytes(logical, bytes);
}

std::vector<U8> Bytes(const std::string& text) { return std::vector<U8>(text.begin(), text.end()); }

std::vector<U8> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<U8> bytes(size);
    for (U8& byte : bytes) {
        byte = static_cast<U8>(random());
    }
    return bytes;
}

// A snapshot as the export's save would leave it; its content is opaque here.
const std::vector<U8> kSnapshotBytes = RandomBytes(3000, 7);

// One card in slot 5 of a fresh data root, the back board at its simulated
// address, the live settings marked, the export's snapshot step writing
// kSnapshotBytes (or nothing, when `saveSnapshot` is cleared).
class BackupBoard {
public:
    BackupBoard() {
        RunProfile profile = Profile();
        profile.simSlotId = kSlot;
        SetProfile(profile);
        board.emplace();  // powers on: the FTP service answers
        Status_Init();
        Resource_getSelfHandle()->u8BoardType = kOwnBoardType;
        Resource_SetBackBoardIpAddr(SimBoardAddress(16));
        test::ResetParameterState();
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        Init_IPMonitor_Parmeter();
        Mark(kLocal);
        ConfigBackup_SetSnapshotSaver([this] {
            if (saveSnapshot) {
                Put(kSnapshot, kSnapshotBytes);
            }
        });
    }
    ~BackupBoard() {
        ConfigBackup_SetSnapshotSaver({});
        board.reset();
        Resource_Reset();
    }

    static void Mark(MarkedSettings marks) { test::ApplyMarks(*GetQAMPara_Handle(), *GetQAMIPMonitor_Handle(), marks); }

    // Packs the files of kStage (names relative to it) into the FTP folder's archive.
    void StageArchive(const std::vector<std::string>& members, const std::vector<std::string>& tarOptions = {}) {
        Command command{{"tar", "-zcf", kFtpArchive}, std::nullopt};
        command.argv.insert(command.argv.end(), tarOptions.begin(), tarOptions.end());
        command.argv.insert(command.argv.end(), members.begin(), members.end());
        command.workingDirectory = kStage;
        std::filesystem::create_directories(env.Path("/sim/ftp"));
        ASSERT_EQ(0, Command_Run(command).status);
    }
    void StageFile(const std::string& name, const std::vector<U8>& bytes) { Put(kStage + "/" + name, bytes); }

    test::TestEnvironment env;
    std::optional<test::SimBoard> board;
    bool saveSnapshot = true;
};

// "param_new.conf" as an export on a board of `boardType` writes it.
std::vector<U8> NewConfigFile(const std::vector<U8>& settings, const std::vector<U8>& snapshot,
                              U8 boardType = kOwnBoardType) {
    ST_CONFIGPARA head{};
    head.u32StructStartTag = kConfigStartTag;
    head.u8BoardType = boardType;
    head.u32SysParamsLen = static_cast<U32>(settings.size());
    head.u32TsParamsLen = static_cast<U32>(snapshot.size());
    head.u32TotalSize = head.u32SysParamsLen + head.u32TsParamsLen;
    std::vector<U8> body = settings;
    body.insert(body.end(), snapshot.begin(), snapshot.end());
    head.u32FileCRC = Common_CRCCalculate(body.data(), static_cast<U32>(body.size()), kCrcInitLinks);
    head.u32StructEndTag = kConfigEndTag;
    const ConfigHeadBytes headBytes = ConfigPara_Serialize(head);
    std::vector<U8> file(headBytes.begin(), headBytes.end());
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// ---- head layout ------------------------------------------------------------

TEST(ConfigHeadTest, LayoutByteForByteAndBack) {
    ST_CONFIGPARA head{};
    head.u32StructStartTag = kConfigStartTag;
    head.u8BoardType = 0x21;
    head.u8res[0] = 0xA1;
    head.u8res[2] = 0xA3;
    head.u32TotalSize = 0x11223344;
    head.u32SysParamsLen = 0x01020304;
    head.u32TsParamsLen = 0x05060708;
    head.u32res[0] = 0xB0B1B2B3;
    head.u32res[24] = 0xC0C1C2C3;
    head.u32FileCRC = 0xDEADBEEF;
    head.u32StructEndTag = kConfigEndTag;
    std::vector<U8> expected(128, 0);
    const std::vector<std::pair<std::size_t, std::vector<U8>>> fields = {
        {0, {0x41, 0x52, 0x41, 0x50}},   {4, {0x21, 0xA1, 0x00, 0xA3}},   {8, {0x44, 0x33, 0x22, 0x11}},
        {12, {0x04, 0x03, 0x02, 0x01}},  {16, {0x08, 0x07, 0x06, 0x05}},  {20, {0xB3, 0xB2, 0xB1, 0xB0}},
        {116, {0xC3, 0xC2, 0xC1, 0xC0}}, {120, {0xEF, 0xBE, 0xAD, 0xDE}}, {124, {0x44, 0x4E, 0x45, 0x54}},
    };
    for (const auto& [offset, bytes] : fields) {
        std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    const ConfigHeadBytes bytes = ConfigPara_Serialize(head);
    EXPECT_EQ(expected, std::vector<U8>(bytes.begin(), bytes.end()));
    EXPECT_EQ(bytes, ConfigPara_Serialize(ConfigPara_Parse(bytes)));

    // A head cut short reads as if the rest were zero.
    const ST_CONFIGPARA cut = ConfigPara_Parse(std::span<const U8>(bytes.data(), 10));
    EXPECT_EQ(0x21, cut.u8BoardType);
    EXPECT_EQ(0x3344u, cut.u32TotalSize);
    EXPECT_EQ(0u, cut.u32StructEndTag);
}

// ---- export -----------------------------------------------------------------

TEST(ConfigExportTest, Slot5LeavesAnArchiveOfTheHeadAndBothFilesAndNoSnapshot) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors();
    BackupBoard::Mark(kExported);
    ASSERT_EQ(0u, FTP_SendBackUpPara());

    EXPECT_FALSE(FileExists(kSnapshot)) << "the export's snapshot is deleted once sent";
    EXPECT_FALSE(FileExists(kNewConfig));
    ASSERT_TRUE(FileExists(kArchive)) << "the archive stays";
    EXPECT_EQ(ReadBytes(kArchive), ReadBytes(kFtpArchive)) << "and went to the back board";
    EXPECT_EQ(std::vector<std::string>{"ftpput 127.0.0.16 5conf.tar"}, Command_Recorded());

    // The archive holds one member, "param_new.conf".
    Command list{{"tar", "-ztf", kArchive}, std::nullopt};
    EXPECT_EQ("param_new.conf\n", Command_Capture(list).output);
    Command unpack{{"tar", "-zxf", kArchive}, std::nullopt};
    unpack.workingDirectory = "/tmp";
    ASSERT_EQ(0, Command_Run(unpack).status);
    const std::vector<U8> settings = ReadBytes(kQamJsonFilePath);
    ASSERT_FALSE(settings.empty());
    EXPECT_EQ(NewConfigFile(settings, kSnapshotBytes), ReadBytes("/tmp/param_new.conf"));
    EXPECT_NE(std::string::npos, card.env.Console().find("Export config file's BoardType is 0x21"));
}

struct ExportFailure {
    const char* name;
    std::function<void(BackupBoard&)> arrange;
    U32 result;
    const char* logged;
};

TEST(ConfigExportTest, AFailedExportSendsNothingAndLeavesNoSnapshot) {
    const std::vector<ExportFailure> cases = {
        {"no snapshot saved", [](BackupBoard& card) { card.saveSnapshot = false; }, 6,
         "PARAM_InitConfigPara error: 0x6"},
        // An upgrade's snapshot (stamped 1) left on disk must not be packed.
        {"only an older snapshot",
         [](BackupBoard& card) {
             card.saveSnapshot = false;
             Put(kSnapshot, {1, 0, 2, 3});
         },
         6, "PARAM_InitConfigPara error: 0x6"},
        // A folder where the archive goes: tar cannot make it, and an old
        // archive cannot pass for a new one either.
        {"no archive made",
         [](BackupBoard& card) { std::filesystem::create_directories(card.env.Path(kArchive + "/old")); }, 1,
         "PARAM_CompressConfigFile error: 0x1"},
        {"no settings file",
         [](BackupBoard& card) { std::filesystem::create_directories(card.env.Path(kQamJsonFilePath)); }, 7,
         "PARAM_InitConfigPara error: 0x7"},
    };
    for (const ExportFailure& c : cases) {
        SCOPED_TRACE(c.name);
        BackupBoard card;
        card.env.FailOnUnexpectedErrors({c.logged, "OID_FILE len error:6", "OID_JSON_FILE len error:7",
                                         "tar 5conf.tar error", "Delete file", "write file: /product_data/oid.json"});
        c.arrange(card);
        EXPECT_EQ(c.result, FTP_SendBackUpPara());
        EXPECT_FALSE(FileExists(kSnapshot));
        EXPECT_FALSE(FileExists(kFtpArchive));
        EXPECT_TRUE(Command_Recorded().empty()) << "nothing put";
        EXPECT_NE(std::string::npos, card.env.Console().find(c.logged)) << card.env.Console();
    }
}

// ---- import: the new archive ------------------------------------------------

TEST(ConfigImportTest, AnExportImportedOnAnotherDataRootAppliesTheSettingsAtOnce) {
    std::vector<U8> archive;
    std::vector<U8> exportedSettings;
    {
        BackupBoard exporter;
        BackupBoard::Mark(kExported);
        ASSERT_EQ(0u, FTP_SendBackUpPara());
        archive = ReadBytes(kFtpArchive);
        exportedSettings = ReadBytes(kQamJsonFilePath);
    }
    BackupBoard card;
    card.env.FailOnUnexpectedErrors();
    DATA_Save();
    Put(kFtpArchive, archive);
    ASSERT_EQ(1, test::LiveMarks({kExported, kLocal}));

    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(std::vector<std::string>{"ftpget 127.0.0.16 5conf.tar"}, Command_Recorded());
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal})) << "the JSON settings apply at once";
    EXPECT_EQ(exportedSettings, ReadBytes(kQamJsonFilePath));
    EXPECT_EQ(kSnapshotBytes, ReadBytes(kSnapshot)) << "the snapshot waits for the next start-up";
    EXPECT_TRUE(FileExists(kArchive));
    EXPECT_TRUE(FileExists(kNewConfig));
}

// Every pool of the live model, byte for byte, and its counts.
std::string LiveModelBytes() {
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    std::string bytes;
    for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                           ModelPool::Descriptor, ModelPool::Bypass}) {
        bytes += test::PoolBytes(live, pool) + "|";
    }
    return bytes;
}

// A multiplexed stream with two programs and their PIDs on channel 0, a
// passed-through stream on channel 2, in pools of their own sizes.
void BuildLiveModel(const TSInfoInitNum& counts) {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    ASSERT_EQ(0u, TSP_InitTSInfo(live, &counts));
    test::ModelBuilder builder(live);
    const U16 ts = builder.AddStream(0);
    for (U16 p = 0; p < 2; ++p) {
        const U16 base = static_cast<U16>(0x200 + 0x10 * p);
        const U16 program = builder.AddProgram(
            ts, {.sourceSlot = 6, .programId = static_cast<U16>(p + 1), .serviceId = static_cast<U16>(300 + p),
                 .pmtPid = base, .pcrPid = static_cast<U16>(base + 1)});
        builder.AddPid(PID_TYPE_ESPID, program,
                       {.sourceSlot = 6, .key = base, .pid = static_cast<U16>(base + 1), .streamType = 0x1B});
        live->pOutputProgram[program].u8ServiceNameLen = 3;
        std::copy_n(p == 0 ? "One" : "Two", 3, live->pOutputProgram[program].aru8ServiceName);
    }
    Output_TSStream& bypass = live->pOutputTS[builder.AddStream(2)];
    bypass.u8BypassFlag = 1;
    bypass.u8SrcSlotID = 12;
    bypass.u16SrcChannelID = 3;
    ModelPool_RecordsChanged(live);
}

// The export's own snapshot, not a stand-in: what one card exports, another
// imports, applies its settings at once and its model at the next start-up.
TEST(ConfigImportTest, AnExportWithItsRealSnapshotRestoresTheModelOnAnotherCard) {
    std::vector<U8> archive;
    std::string exportedModel;
    {
        BackupBoard exporter;
        exporter.env.FailOnUnexpectedErrors();
        ConfigBackup_SetSnapshotSaver({});
        BackupBoard::Mark(kExported);
        BuildLiveModel({4, 4, 8, 2, 2, 2});
        exportedModel = LiveModelBytes();
        ASSERT_EQ(0u, FTP_SendBackUpPara());
        EXPECT_FALSE(FileExists(kSnapshot));
        archive = ReadBytes(kFtpArchive);
    }
    BackupBoard card;
    // Start-up offers the restored streams to the back board, which takes no
    // resource record here.
    card.env.FailOnUnexpectedErrors({"send resource to back board fail", "connect server error"});
    ConfigBackup_SetSnapshotSaver({});
    test::WriteMarkedQamFile(kLocal);
    ASSERT_EQ(0u, PARAMS_Load()) << "the card runs with its settings file loaded, as after start-up";
    test::MakeStampedLiveModel({3, 5, 6, 3, 4, 1}, 9);
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    const std::string localModel = LiveModelBytes();
    Put(kFtpArchive, archive);

    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal})) << "the settings apply at once";
    const std::vector<U8> exportedSnapshot = ReadBytes(kSnapshot);
    ASSERT_FALSE(exportedSnapshot.empty());
    EXPECT_EQ(localModel, LiveModelBytes()) << "the model waits for the next start-up";

    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_NE(std::string::npos, card.env.Console().find("start recovery all parameters!")) << card.env.Console();
    EXPECT_FALSE(FileExists(kSnapshot)) << "applied once";
    // Every keyed field as exported: a snapshot of the restored model is the
    // exported one record for record, but for the PAT and SDT versions and
    // change flags, which start-up's rebuild of those tables moves on.
    OID_ModifyVersionNumber(kOidBackupVersion);
    OIDDATA_Save();
    const std::vector<U8> again = ReadBytes(kSnapshot);
    ASSERT_EQ(exportedSnapshot.size(), again.size());
    std::vector<U32> differing;
    for (std::size_t at = 2; at + 8 <= again.size();) {
        const std::size_t length = std::size_t{GetLe16(&again[at + 4])} * GetLe16(&again[at + 6]);
        ASSERT_LE(at + 8 + length, again.size());
        if (!std::equal(&again[at], &again[at] + 8 + length, &exportedSnapshot[at])) {
            differing.push_back(GetLe32(&again[at]));
        }
        at += 8 + length;
    }
    std::sort(differing.begin(), differing.end());
    const std::vector<U32> tableVersions = {13, 14, 24, 25};  // u8PAT/SDTVersionNumber, u8PAT/SDTChangeFlag
    EXPECT_TRUE(std::includes(tableVersions.begin(), tableVersions.end(), differing.begin(), differing.end()))
        << testing::PrintToString(differing);
    TSP_ModelLock lock;
    EXPECT_EQ("", test::DescribeViolations(test::CheckModel(*TSP_GetTSParam())));
}

struct ImportCheckCase {
    const char* name;
    std::function<std::vector<U8>()> file;  // "param_new.conf"
    const char* logged;
    bool noMemory = false;  // the body cannot be allocated
};

// Patches a head field of a good file, CRC untouched.
std::vector<U8> WithHead(std::vector<U8> file, std::size_t offset, U32 value) {
    PutLe32(file.data() + offset, value);
    return file;
}

TEST(ConfigImportTest, AFileFailingACheckIsDeletedAndNothingWritten) {
    const std::vector<U8> settings = Bytes("{\"QamParameter\": {}}");
    const std::vector<U8> good = NewConfigFile(settings, kSnapshotBytes);
    const std::vector<ImportCheckCase> cases = {
        {"another board type", [&] { return NewConfigFile(settings, kSnapshotBytes, 0x22); },
         "BoardType not same! [0x22] vs [0x21]"},
        {"shorter than a head",
         [&] { return std::vector<U8>(good.begin(), good.begin() + 100); }, "config file len 100 too less!"},
        {"1,127 bytes for a body of 1,000",
         [&] {
             std::vector<U8> file = NewConfigFile(RandomBytes(500, 1), RandomBytes(499, 2));
             return WithHead(file, 8, 1000);
         },
         "current's length[1127] vs need's length[1128]"},
        {"parts past the body",
         [&] { return WithHead(good, 16, static_cast<U32>(kSnapshotBytes.size() + 1)); }, "file length error!"},
        // 0xFFFFFFF0 + 0x20 wraps to 0x10 in 32 bits, well inside the body.
        {"parts whose sum wraps",
         [&] { return WithHead(WithHead(good, 12, 0xFFFFFFF0u), 16, 0x20); }, "file length error!"},
        {"a changed body byte",
         [&] {
             std::vector<U8> file = good;
             file[kConfigHeadSize + 3] ^= 0x01;
             return file;
         },
         "config file CRC error!"},
        {"a body that cannot be allocated", [&] { return good; }, "malloc memory error", true},
    };
    for (const ImportCheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        BackupBoard card;
        card.env.FailOnUnexpectedErrors({c.logged, "[IPComm_GetTheConfParam] return error"});
        DATA_Save();
        const std::vector<U8> before = ReadBytes(kQamJsonFilePath);
        card.StageFile("param_new.conf", c.file());
        card.StageArchive({"param_new.conf"});
        if (c.noMemory) {
            ConfigBackup_SetBodyAllocHook([](std::size_t) { return false; });
        }

        EXPECT_EQ(1u, IPComm_GetAndSetParam());
        ConfigBackup_SetBodyAllocHook(nullptr);
        EXPECT_NE(std::string::npos, card.env.Console().find(c.logged)) << card.env.Console();
        EXPECT_FALSE(FileExists(kNewConfig)) << "deleted";
        EXPECT_EQ(before, ReadBytes(kQamJsonFilePath)) << "nothing written";
        EXPECT_FALSE(FileExists(kSnapshot));
        EXPECT_EQ(1, test::LiveMarks({kExported, kLocal}));
    }
}

TEST(ConfigImportTest, AnArchiveWithoutEitherFileChangesNothing) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors();
    DATA_Save();
    const std::vector<U8> before = ReadBytes(kQamJsonFilePath);
    card.StageFile("readme.txt", Bytes("nothing here"));
    card.StageArchive({"readme.txt"});
    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(before, ReadBytes(kQamJsonFilePath));
    EXPECT_FALSE(FileExists(kSnapshot));
    EXPECT_FALSE(FileExists("/var/volatile/readme.txt")) << "only the two known names are unpacked";
}

// ---- leftovers and failed transfers -------------------------------------------

TEST(ConfigImportTest, LeftoversOfAnEarlierImportNeverCount) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors({"[IPComm_GetTheConfParam] ftpget error", "[IPComm_GetTheConfParam] return error"});
    DATA_Save();
    const std::vector<U8> before = ReadBytes(kQamJsonFilePath);
    // An earlier import's archive and both unpacked files, all of them good.
    card.StageFile("param_new.conf", NewConfigFile(Bytes("{}"), kSnapshotBytes));
    card.StageArchive({"param_new.conf"});
    std::filesystem::create_directories(card.env.Path("/var/volatile"));
    std::filesystem::rename(card.env.Path(kFtpArchive), card.env.Path(kArchive));
    Put(kNewConfig, NewConfigFile(Bytes("{}"), kSnapshotBytes));
    Put(kOldConfig, std::vector<U8>(100, 0));

    // The back board has no archive now: the fetch fails and nothing applies.
    EXPECT_EQ(1u, IPComm_GetAndSetParam());
    EXPECT_FALSE(FileExists(kArchive));
    EXPECT_FALSE(FileExists(kNewConfig));
    EXPECT_FALSE(FileExists(kOldConfig));
    EXPECT_EQ(before, ReadBytes(kQamJsonFilePath));

    // A stale "param.conf" does not turn the next import into an older-archive one.
    Put(kOldConfig, std::vector<U8>(100, 0));
    BackupBoard::Mark(kExported);
    DATA_Save();
    card.StageFile("param_new.conf", NewConfigFile(ReadBytes(kQamJsonFilePath), kSnapshotBytes));
    BackupBoard::Mark(kLocal);
    card.StageArchive({"param_new.conf"});
    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal}));
}

TEST(ConfigImportTest, AFailedOrCutTransferAppliesNothing) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors({"ftpget error", "return error", "file length error!", "config file CRC error!"});
    BackupBoard::Mark(kExported);
    DATA_Save();
    // Incompressible, so a cut archive cannot hold the whole file.
    card.StageFile("param_new.conf", NewConfigFile(ReadBytes(kQamJsonFilePath), RandomBytes(200000, 3)));
    card.StageArchive({"param_new.conf"});
    BackupBoard::Mark(kLocal);
    DATA_Save();
    const std::vector<U8> before = ReadBytes(kQamJsonFilePath);

    sim::SimFtp_FailNextTransfers(1);
    EXPECT_EQ(1u, IPComm_GetAndSetParam());
    sim::SimFtp_CutNextTransfer(ReadBytes(kFtpArchive).size() / 2);
    EXPECT_EQ(1u, IPComm_GetAndSetParam());
    EXPECT_EQ(before, ReadBytes(kQamJsonFilePath));
    EXPECT_FALSE(FileExists(kSnapshot));
    EXPECT_EQ(1, test::LiveMarks({kExported, kLocal}));

    EXPECT_EQ(0u, IPComm_GetAndSetParam()) << "the next whole transfer applies";
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal}));
}

TEST(ConfigImportTest, OnlyTheBackBoardIsAsked) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors({"ftpget error", "return error"});
    card.StageFile("param_new.conf", NewConfigFile(Bytes("{}"), kSnapshotBytes));
    card.StageArchive({"param_new.conf"});
    Resource_SetBackBoardIpAddr(SimBoardAddress(2));
    EXPECT_EQ(1u, IPComm_GetAndSetParam());
    EXPECT_EQ(std::vector<std::string>{"ftpget 127.0.0.34 5conf.tar"}, Command_Recorded());
    EXPECT_FALSE(FileExists(kArchive));
}

// ---- hostile members --------------------------------------------------------

TEST(ConfigImportTest, LinksAndPathsInAnArchiveAreNeverRead) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors({"param_new.conf is not a regular file", "param.conf is not a regular file",
                                     "return error"});
    DATA_Save();
    const std::vector<U8> before = ReadBytes(kQamJsonFilePath);
    // A good file elsewhere in the data root, that a link would reach.
    Put("/vandik_data/elsewhere.conf", NewConfigFile(Bytes("{}"), kSnapshotBytes));
    for (const char* name : {"param_new.conf", "param.conf"}) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(card.env.Path(kStage));
        std::filesystem::create_directories(card.env.Path(kStage));
        std::filesystem::create_symlink(card.env.Path("/vandik_data/elsewhere.conf"), card.env.Path(kStage + "/" + name));
        card.StageArchive({name});
        EXPECT_EQ(1u, IPComm_GetAndSetParam());
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(card.env.Path(std::string("/var/volatile/") + name))));
        EXPECT_EQ(before, ReadBytes(kQamJsonFilePath));
        EXPECT_FALSE(FileExists(kSnapshot));
    }

    // Members with a path: "../x" and "sub/param_new.conf" stay packed; the
    // plain "param_new.conf" beside them is the only one taken.
    std::filesystem::remove_all(card.env.Path(kStage));
    BackupBoard::Mark(kExported);
    DATA_Save();
    card.StageFile("param_new.conf", NewConfigFile(ReadBytes(kQamJsonFilePath), kSnapshotBytes));
    card.StageFile("x", Bytes("climbed"));
    card.StageFile("sub/param_new.conf", Bytes("not me"));
    BackupBoard::Mark(kLocal);
    card.StageArchive({"x", "sub/param_new.conf", "param_new.conf"}, {"-P", "--transform=s,^x$,../x,"});
    Command list{{"tar", "-ztf", kFtpArchive}, std::nullopt};
    ASSERT_EQ("../x\nsub/param_new.conf\nparam_new.conf\n", Command_Capture(list).output);
    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal}));
    EXPECT_FALSE(FileExists("/var/x"));
    EXPECT_FALSE(FileExists("/var/volatile/sub"));
}

// ---- import: the older archive ----------------------------------------------

// "param.conf" of the older archive from the two parameter files on disk.
std::vector<U8> OldConfigFile() {
    std::vector<U8> file(sizeof(ST_BACKUPPARA), 0);
    const std::vector<U8> model = ReadBytes(kModelParamFilePath);
    const std::vector<U8> qam = ReadBytes(kQamParamFilePath);
    std::copy(model.begin(), model.end(), file.begin());
    std::copy(qam.begin(), qam.end(), file.begin() + kBackupModelImageSize);
    return file;
}

constexpr TSInfoInitNum kSmallModel = {2, 3, 4, 2, 3, 1};

TEST(ConfigImportTest, AGoodOlderArchiveLoadsAtTheNextStartUp) {
    BackupBoard card;
    card.env.FailOnUnexpectedErrors();
    test::WriteMarkedQamFile(kExported);
    test::MakeStampedLiveModel(kSmallModel, 7);
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    const std::vector<U8> model = ReadBytes(kModelParamFilePath);
    const std::vector<U8> qam = ReadBytes(kQamParamFilePath);
    card.StageFile("param.conf", OldConfigFile());
    card.StageArchive({"param.conf"});
    test::WriteMarkedQamFile(kLocal);
    test::MakeStampedLiveModel(kSmallModel, 9);
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());

    EXPECT_EQ(0u, IPComm_GetAndSetParam());
    EXPECT_EQ(model, ReadBytes(kModelParamFilePath));
    EXPECT_EQ(qam, ReadBytes(kQamParamFilePath));
    EXPECT_EQ(9, test::LiveModelStamp()) << "nothing loads before the next start-up";

    test::ResetParameterState();
    PARAMS_Init();
    EXPECT_EQ(0, test::LiveMarks({kExported, kLocal}));
    EXPECT_EQ(7, test::LiveModelStamp());
}

// Which whole-file CRC a fault stamps again after its change, so that only the
// check it aims at can catch it.
enum class Restamp { None, Qam, Model };

struct OldImageFault {
    const char* name;
    std::size_t offset;  // in "param.conf"
    U32 value;           // written there (little-endian)
    Restamp restamp;
    const char* logged;
};

TEST(ConfigImportTest, AnOlderArchiveWithOneBadImageWritesNeither) {
    const std::size_t qam = kBackupModelImageSize;
    const std::vector<OldImageFault> cases = {
        {"QAM CRC", qam + 100, 0x12345678, Restamp::None, "HX_QAM.conf] CRC error"},
        {"QAM version", qam + 4, 0x20170311, Restamp::Qam, "HX_QAM.conf] version error"},
        {"QAM section CRC", qam + kQamSectionCrcOffset, 0x12345678, Restamp::Qam, "HX_QAM.conf] section CRC error"},
        {"IP monitor section CRC", qam + kIPMonitorCrcOffset, 0x12345678, Restamp::Qam,
         "HX_QAM.conf] section CRC error"},
        {"model CRC", 100, 0x12345678, Restamp::None, "HX_OutPutTSP.conf] CRC error"},
        {"model version", 0, 0x20170311, Restamp::Model, "HX_OutPutTSP.conf] version error"},
        {"model counts", 8, 3, Restamp::Model, "HX_OutPutTSP.conf] counts error"},
        {"model longer than its area", 4, static_cast<U32>(kBackupModelImageSize + 4), Restamp::None,
         "HX_OutPutTSP.conf] length 2457604 error"},
        {"model shorter than a header", 4, 243, Restamp::None, "HX_OutPutTSP.conf] length 243 error"},
    };
    for (const OldImageFault& c : cases) {
        SCOPED_TRACE(c.name);
        BackupBoard card;
        card.env.FailOnUnexpectedErrors({c.logged, "return error"});
        test::WriteMarkedQamFile(kExported);
        test::MakeStampedLiveModel(kSmallModel, 7);
        ASSERT_EQ(0u, PARAMS_TSPParametersSave());
        std::vector<U8> file = OldConfigFile();
        PutLe32(file.data() + c.offset, c.value);
        if (c.restamp == Restamp::Qam) {
            PutLe32(file.data() + qam + kWholeCrcOffset,
                    Common_CRCCalculate(file.data() + qam, static_cast<U32>(kWholeCrcOffset), kCrcInitLinks));
        } else if (c.restamp == Restamp::Model) {
            const U32 length = GetLe32(file.data() + 4);
            PutLe32(file.data() + length - 4, Common_CRCCalculate(file.data(), length - 4, kCrcInitLinks));
        }
        card.StageFile("param.conf", file);
        card.StageArchive({"param.conf"});
        test::WriteMarkedQamFile(kLocal);
        test::MakeStampedLiveModel(kSmallModel, 9);
        ASSERT_EQ(0u, PARAMS_TSPParametersSave());
        const std::vector<U8> liveModel = ReadBytes(kModelParamFilePath);
        const std::vector<U8> liveQam = ReadBytes(kQamParamFilePath);

        EXPECT_EQ(1u, IPComm_GetAndSetParam());
        EXPECT_NE(std::string::npos, card.env.Console().find(c.logged)) << card.env.Console();
        EXPECT_EQ(liveModel, ReadBytes(kModelParamFilePath));
        EXPECT_EQ(liveQam, ReadBytes(kQamParamFilePath));
    }
}

}  // namespace
}  // namespace hx

// The output-model file: its layout, the save/load round trip, and the
// fallback to the factory model when a file cannot be used.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::FileExists;
using test::kModelFilePools;
using test::ReadBytes;
using test::WriteBytes;

const std::string kModelShown = "/product_data/HX_OutPutTSP.conf";
constexpr std::size_t kFactoryModelFileSize = 1541812;
constexpr std::array<U32, 5> kFactoryCounts = {16, 500, 1000, 100, 500};

using Counts = std::array<U32, 5>;

std::size_t FileLength(const Counts& counts) {
    std::size_t length = 240 + 4;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        length += counts[i] * ModelPool_RecordSize(kModelFilePools[i]);
    }
    return length;
}

Counts LiveCounts() {
    TSP_ModelLock lock;
    Counts counts{};
    for (std::size_t i = 0; i < counts.size(); ++i) {
        counts[i] = ModelPool_Count(TSP_GetTSParam(), kModelFilePools[i]);
    }
    return counts;
}

// The five stored pools of the live model, as bytes.
std::vector<U8> LivePoolBytes() {
    TSP_ModelLock lock;
    std::vector<U8> bytes;
    for (const ModelPool pool : kModelFilePools) {
        const U32 count = ModelPool_Count(TSP_GetTSParam(), pool);
        const std::size_t size = count * ModelPool_RecordSize(pool);
        if (size != 0) {
            const U8* first = ModelPool_Record(TSP_GetTSParam(), pool, 0);
            bytes.insert(bytes.end(), first, first + size);
        }
    }
    return bytes;
}

// Live pools of the given sizes, every record filled with a pattern outside
// its valid flag (records stay free, so the apply pipeline leaves them be).
void MakeLiveModel(const Counts& counts) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    const TSInfoInitNum sizes{counts[0], counts[1], counts[2], counts[3], counts[4], 0};
    ASSERT_EQ(0u, TSP_InitTSInfo(model, &sizes));
    U8 pattern = 1;
    for (U8* tail : test::StoredRecordTails(model)) {
        std::memset(tail, pattern++, test::kRecordTailBytes);
    }
    ModelPool_RecordsChanged(model);
}

class ModelFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A start-up from factory QAM settings finds no JSON copy to restore.
        env.FailOnUnexpectedErrors({"open file: /product_data/oid.json failed"});
        log_Init(kMainLogPath);
        test::ResetParameterState();
        PARAMS_SetRemoveHook(nullptr);
    }
    bool Logged(const std::string& text) { return env.Console().find(text) != std::string::npos; }

    test::TestEnvironment env;
    // Loads and factory resets run the apply, which writes the routing tables.
    test::SimBoard board;
};

TEST_F(ModelFileTest, FactoryFileLayoutByteForByte) {
    ASSERT_EQ(0u, PARAMS_TSP_Factory());
    const std::vector<U8> file = ReadBytes(kModelParamFilePath);
    ASSERT_EQ(kFactoryModelFileSize, file.size());
    EXPECT_EQ(0x20170310u, GetLe32(&file[0]));
    EXPECT_EQ(kFactoryModelFileSize, GetLe32(&file[4]));
    for (std::size_t i = 0; i < kFactoryCounts.size(); ++i) {
        EXPECT_EQ(kFactoryCounts[i], GetLe32(&file[8 + 4 * i])) << "count " << i;
    }
    for (std::size_t at = 28; at < 240; ++at) {
        ASSERT_EQ(0, file[at]) << "reserved header byte " << at;
    }
    EXPECT_EQ(Common_CRC_Calculate(file.data(), static_cast<U32>(file.size() - 4), kCrcInitLinks),
              GetLe32(&file[file.size() - 4]));
    EXPECT_EQ(0u, PARAMS_VerifyTSPConfigFiles());
}

TEST_F(ModelFileTest, SaveThenLoadGivesIdenticalPoolsAndAFileOfExactlyTheNewLength) {
    ASSERT_EQ(0u, PARAMS_TSP_Factory());
    const Counts small{2, 3, 4, 5, 6};
    MakeLiveModel(small);
    const std::vector<U8> saved = LivePoolBytes();
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    const std::vector<U8> file = ReadBytes(kModelParamFilePath);
    ASSERT_EQ(FileLength(small), file.size()) << "nothing of the longer factory file is left behind";
    EXPECT_EQ(file.size(), GetLe32(&file[4]));
    EXPECT_EQ(0, std::memcmp(saved.data(), file.data() + 240, saved.size())) << "pools in file order, whole";

    // Another model in memory, then the file back.
    MakeLiveModel({1, 1, 1, 1, 1});
    env.TakeConsole();
    ASSERT_EQ(0u, PARAMS_VerifyTSPConfigFiles());
    ASSERT_EQ(0u, PARAMS_TSP_Load());
    EXPECT_TRUE(Logged("Load TSP config files !"));
    EXPECT_EQ(small, LiveCounts());
    EXPECT_EQ(saved, LivePoolBytes());
    EXPECT_EQ(file, ReadBytes(kModelParamFilePath)) << "the load's apply saves the same file again";
}

TEST_F(ModelFileTest, ASaveUnderTheHeldLockDoesNotDeadlock) {
    ASSERT_EQ(0u, PARAMS_TSP_Factory());
    // The apply pipeline saves with the (recursive) lock held; a save on the
    // same thread under the lock must not deadlock.
    {
        TSP_ModelLock lock;
        EXPECT_EQ(0u, PARAMS_TSPParametersSave());
    }
    EXPECT_EQ(kFactoryModelFileSize, ReadBytes(kModelParamFilePath).size());
}

TEST_F(ModelFileTest, APoolThatCannotBeAllocatedFallsBackToTheFactoryModel) {
    env.FailOnUnexpectedErrors({"calloc for pOutputPID fail", "malloc memory error",
                                "Load TSP config files failure, factory model instead!"});
    ASSERT_EQ(0u, PARAMS_TSP_Factory());
    MakeLiveModel({1, 1, 2, 1, 1});
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    // Only the file's PID pool (two records) cannot be had.
    ModelPool_SetAllocHook([](std::size_t bytes) { return bytes != 2 * sizeof(Output_TSPID); });
    env.TakeConsole();
    EXPECT_EQ(1u, PARAMS_TSP_Load());
    ModelPool_SetAllocHook(nullptr);
    EXPECT_TRUE(Logged("malloc memory error")) << env.Console();
    EXPECT_TRUE(Logged("Load TSP config files failure, factory model instead!"));
    EXPECT_EQ(kFactoryCounts, LiveCounts()) << "never left without pools";
    EXPECT_EQ(kFactoryModelFileSize, ReadBytes(kModelParamFilePath).size());
}

// ---- damaged files fall back to the factory model ------------------------------

std::vector<U8> SmallModelFile() {
    MakeLiveModel({1, 1, 2, 1, 1});
    EXPECT_EQ(0u, PARAMS_TSPParametersSave());
    return ReadBytes(kModelParamFilePath);
}

void Recrc(std::vector<U8>& b) {
    PutLe32(&b[b.size() - 4], Common_CRC_Calculate(b.data(), static_cast<U32>(b.size() - 4), kCrcInitLinks));
}

struct DamageCase {
    const char* name;
    // Null: no file at all.
    void (*damage)(std::vector<U8>&);
    // Load straight away, past the start-up checks (a file that changed
    // between the check and the load).
    bool loadOnly;
    std::string logText;
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class ModelFileDamageTest : public ModelFileTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(ModelFileDamageTest, FallsBackToTheFactoryModelAndRunsOn) {
    const DamageCase& c = GetParam();
    // Start-up also meets no QAM file here.
    env.FailOnUnexpectedErrors({c.logText, "Load TSP config files failure, factory model instead!",
                                "Config file [/product_data/HX_QAM.conf] is not exist!"});
    std::vector<U8> bytes = SmallModelFile();
    if (c.damage == nullptr) {
        std::remove(env.Path(kModelParamFilePath).c_str());
    } else {
        c.damage(bytes);
        WriteBytes(kModelParamFilePath, bytes);
    }
    env.TakeConsole();
    if (c.loadOnly) {
        EXPECT_EQ(1u, PARAMS_TSP_Load());
        EXPECT_TRUE(Logged("Load TSP config files failure, factory model instead!")) << env.Console();
    } else {
        EXPECT_EQ(0u, PARAMS_Init()) << "the process runs on";
    }
    EXPECT_TRUE(Logged(c.logText)) << env.Console();
    EXPECT_TRUE(Logged("[PARAMS_TSP_Factory]"));
    EXPECT_EQ(kFactoryCounts, LiveCounts());
    const std::vector<U8> file = ReadBytes(kModelParamFilePath);
    EXPECT_EQ(kFactoryModelFileSize, file.size()) << "the factory model replaced the file";
    EXPECT_EQ(0u, PARAMS_VerifyTSPConfigFiles());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ModelFileDamageTest,
    ::testing::Values(
        DamageCase{"Missing", nullptr, false, "Config file [" + kModelShown + "] is not exist!"},
        DamageCase{"ElevenBytes", [](std::vector<U8>& b) { b.resize(11); }, false,
                   "config file len 11 too less[" + kModelShown + "]!"},
        DamageCase{"FlippedByte", [](std::vector<U8>& b) { b[1000] ^= 0x01; }, false,
                   "Config file [" + kModelShown + "] CRC fail"},
        // Counts that do not add up to the stated length, though the length,
        // the size and the CRC all agree: passes the checks, fails the load.
        DamageCase{"InconsistentCounts",
                   [](std::vector<U8>& b) {
                       PutLe32(&b[16], 3);
                       Recrc(b);
                   },
                   false, "TSIndex counts give [5080] bytes vs [4708]!"},
        DamageCase{"CountsThatWrapIn32Bits",
                   [](std::vector<U8>& b) {
                       // 2^28 more descriptors add 73 * 2^32 bytes: a 32-bit
                       // sum would wrap back to the stated length.
                       PutLe32(&b[24], 1 + 0x10000000u);
                       Recrc(b);
                   },
                   false, "TSIndex counts give [313532617316] bytes vs [4708]!"},
        DamageCase{"TruncatedPool",
                   [](std::vector<U8>& b) { b.resize(240 + 448 + 920 + 372 + 10); }, true,
                   "Read Structure Out_PID failure ret[1]!"},
        DamageCase{"ShortHeader", [](std::vector<U8>& b) { b.resize(100); }, true,
                   "Read Structure TSIndex failure!"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hx

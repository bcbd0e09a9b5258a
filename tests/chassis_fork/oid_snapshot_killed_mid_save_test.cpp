// A process that dies while it writes the OID snapshot over an older one. Each
// case saves an old snapshot, then forks a child that saves a new one and ends
// itself at one step of the atomic writer; a fresh child then starts up
// (PARAMS_Init) and must apply the whole old snapshot or the whole new one. A
// file torn by hand is refused whole.
//
// In a program of its own: no other thread may exist when these tests fork.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "chassis/oid_snapshot.h"
#include "chassis/param_store.h"
#include "core/file_util.h"
#include "engine/output_model.h"
#include "support/child_process.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::InChild;

constexpr int kKilled = 42;
constexpr int kNotKilled = 43;
constexpr int kFoundOld = 0;
constexpr int kFoundNew = 1;
constexpr int kFoundLoaded = 2;  // the model file's model: no snapshot applied
constexpr int kFoundMixed = 3;

constexpr TSInfoInitNum kLoadedSizes{1, 1, 1, 1, 1, 1};
constexpr TSInfoInitNum kOldSizes{2, 3, 4, 5, 6, 7};
constexpr TSInfoInitNum kNewSizes{16, 40, 80, 20, 30, 9};
constexpr U8 kLoadedStamp = 0x33;
constexpr U8 kOldStamp = 0x11;
constexpr U8 kNewStamp = 0x22;

// One keyed byte per record that the apply pipeline leaves alone in a free
// record, and the record's valid flag. A snapshot clears its free records, so
// the snapshots' models mark theirs in use.
struct StampField {
    ModelPool pool;
    std::size_t offset;
    std::size_t validOffset;
};
constexpr StampField kStampFields[] = {
    {ModelPool::Stream, offsetof(Output_TSStream, u16NetworkID), offsetof(Output_TSStream, u8ValidFlag)},
    {ModelPool::Program, offsetof(Output_TSProgram, aru8ServiceName), offsetof(Output_TSProgram, u8ValidFlag)},
    {ModelPool::Pid, offsetof(Output_TSPID, aru8ESInfo), offsetof(Output_TSPID, u8ValidFlag)},
    {ModelPool::Table, offsetof(TSTable, aru8TableInfo), offsetof(TSTable, u8ValidFlag)},
    {ModelPool::Descriptor, offsetof(TSDescriptor, u8DescriptorInfo), offsetof(TSDescriptor, u8ValidFlag)},
    {ModelPool::Bypass, offsetof(Passthrough_TSStream, u16SourceChannelID),
     offsetof(Passthrough_TSStream, u8ValidFlag)},
};

enum class Records { Free, InUse };

U32 CountOf(const TSInfoInitNum& sizes, std::size_t pool) {
    const U32 counts[] = {sizes.u32OutputTSNumber,         sizes.u32OutputProgramNumber,
                          sizes.u32OutputPIDNumber,        sizes.u32OutputTableNumber,
                          sizes.u32OutputDescriptorNumber, sizes.u32OutputBypassTSNumber};
    return counts[pool];
}

// The live model with pools of these sizes, every record stamped.
void MakeStampedModel(const TSInfoInitNum& sizes, U8 stamp, Records records = Records::Free) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    ASSERT_EQ(0u, TSP_InitTSInfo(model, &sizes));
    for (const StampField& field : kStampFields) {
        for (U32 i = 0; i < ModelPool_Count(model, field.pool); ++i) {
            U8* record = ModelPool_Record(model, field.pool, i);
            record[field.offset] = stamp;
            record[field.validOffset] = records == Records::InUse ? 1 : 0;
        }
    }
    ModelPool_RecordsChanged(model);
}

// Which model the live one is: its sizes and every stamp must agree.
int FoundModel() {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    const struct {
        const TSInfoInitNum& sizes;
        U8 stamp;
        int found;
        std::size_t pools;  // the model file holds no pass-through pool
    } candidates[] = {{kOldSizes, kOldStamp, kFoundOld, 6},
                      {kNewSizes, kNewStamp, kFoundNew, 6},
                      {kLoadedSizes, kLoadedStamp, kFoundLoaded, 5}};
    for (const auto& candidate : candidates) {
        bool whole = true;
        for (std::size_t p = 0; p < candidate.pools; ++p) {
            const StampField& field = kStampFields[p];
            const U32 count = ModelPool_Count(model, field.pool);
            whole = whole && count == CountOf(candidate.sizes, p);
            for (U32 i = 0; whole && i < count; ++i) {
                whole = ModelPool_Record(model, field.pool, i)[field.offset] == candidate.stamp;
            }
        }
        if (whole) {
            return candidate.found;
        }
    }
    return kFoundMixed;
}

AtomicWriteStep g_deathStep;

void DieAtStep(AtomicWriteStep step, const char* path) {
    if (step == g_deathStep && std::string(path).ends_with("oiddata.conf")) {
        _exit(kKilled);
    }
}

struct DeathCase {
    const char* name;
    AtomicWriteStep step;
    int found;
};
void PrintTo(const DeathCase& c, std::ostream* out) { *out << c.name; }

class OidSnapshotStartUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
        // Start-up finds good parameter files holding the "loaded" model.
        test::WriteMarkedQamFile({111000, 1111});
        MakeStampedModel(kLoadedSizes, kLoadedStamp);
        ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    }
    void TearDown() override {
        File_SetAtomicWriteHook(nullptr);
        OID_ModifyVersionNumber(kOidOwnVersion);
    }

    // A fresh process starting up from what is on disk: what it applied.
    int StartUp() {
        return InChild([] {
            test::ResetParameterState();
            MakeStampedModel(TSInfoInitNum{4, 4, 4, 4, 4, 4}, 0);
            PARAMS_Init();
            return FoundModel();
        });
    }

    test::TestEnvironment env;
    // Start-up's apply writes the routing tables.
    test::SimBoard board;
};

class OidSnapshotKilledMidSaveTest : public OidSnapshotStartUpTest,
                                     public ::testing::WithParamInterface<DeathCase> {};

TEST_P(OidSnapshotKilledMidSaveTest, StartUpAppliesTheWholeOldOrNewSnapshot) {
    OID_ModifyVersionNumber(kOidBackupVersion);
    MakeStampedModel(kOldSizes, kOldStamp, Records::InUse);
    OIDDATA_Save();
    g_deathStep = GetParam().step;
    EXPECT_EQ(kKilled, InChild([] {
        File_SetAtomicWriteHook(DieAtStep);
        MakeStampedModel(kNewSizes, kNewStamp, Records::InUse);
        OIDDATA_Save();
        return kNotKilled;
    }));
    EXPECT_EQ(GetParam().found, StartUp());
}

INSTANTIATE_TEST_SUITE_P(Steps, OidSnapshotKilledMidSaveTest,
                         ::testing::Values(DeathCase{"TemporaryCreated", AtomicWriteStep::TemporaryCreated, kFoundOld},
                                           DeathCase{"HalfWritten", AtomicWriteStep::HalfWritten, kFoundOld},
                                           DeathCase{"FullyWritten", AtomicWriteStep::FullyWritten, kFoundOld},
                                           DeathCase{"Synced", AtomicWriteStep::Synced, kFoundOld},
                                           DeathCase{"Renamed", AtomicWriteStep::Renamed, kFoundNew}),
                         [](const auto& info) { return std::string(info.param.name); });

using OidSnapshotTornFileTest = OidSnapshotStartUpTest;

// What a writer without the atomic rename could leave: the first half of a
// new snapshot where the file was.
TEST_F(OidSnapshotTornFileTest, AHandTornFileIsRefusedAndTheLoadedModelStays) {
    OID_ModifyVersionNumber(kOidBackupVersion);
    MakeStampedModel(kNewSizes, kNewStamp, Records::InUse);
    OIDDATA_Save();
    std::vector<U8> file = test::ReadBytes(kOidSnapshotPath);
    file.resize(file.size() / 2);
    test::WriteBytes(kOidSnapshotPath, file);
    EXPECT_EQ(kFoundLoaded, StartUp());
    EXPECT_FALSE(test::FileExists(kOidSnapshotPath)) << "a refused snapshot is deleted";
}

}  // namespace
}  // namespace hx

// A process that dies in the middle of saving a settings file. Each case forks
// a child that starts a save over a good old file and ends itself at one step
// of the atomic writer, then a fresh child starts up from what is on disk and
// must find the whole old file or the whole new one.
//
// This is the death of the process, not a power cut: what the child wrote
// stays in the page cache, so the steps of the writer that only matter for
// storage (the syncs) are not put to the test here. These tests live in a
// program of their own so that no other thread exists when they fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "chassis/param_store.h"
#include "core/file_util.h"
#include "support/child_process.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_accounts.h"

namespace hx {
namespace {

using test::InChild;

constexpr int kKilled = 42;
constexpr int kNotKilled = 43;
// What the fresh child found.
constexpr int kFoundOld = 0;
constexpr int kFoundNew = 1;
constexpr int kFoundMixed = 2;
constexpr int kFoundNeither = 3;

AtomicWriteStep g_deathStep;
const char* g_deathFile = "";

void DieAtStep(AtomicWriteStep step, const char* path) {
    if (step == g_deathStep && std::string(path).ends_with(g_deathFile)) {
        _exit(kKilled);
    }
}

std::size_t Temporaries(const test::TestEnvironment& env, const std::string& name) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env.Path("/vandik_data"))) {
        count += entry.path().filename().string().starts_with("." + name + ".") ? 1 : 0;
    }
    return count;
}

struct DeathCase {
    const char* name;
    AtomicWriteStep step;
    int found;  // what start-up finds afterwards
};

void PrintTo(const DeathCase& c, std::ostream* out) { *out << c.name; }

const auto kSteps = ::testing::Values(DeathCase{"TemporaryCreated", AtomicWriteStep::TemporaryCreated, kFoundOld},
                                      DeathCase{"HalfWritten", AtomicWriteStep::HalfWritten, kFoundOld},
                                      DeathCase{"FullyWritten", AtomicWriteStep::FullyWritten, kFoundOld},
                                      DeathCase{"Synced", AtomicWriteStep::Synced, kFoundOld},
                                      DeathCase{"Renamed", AtomicWriteStep::Renamed, kFoundNew});
const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

class KilledMidSaveTest : public ::testing::TestWithParam<DeathCase> {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
    }
    void TearDown() override { File_SetAtomicWriteHook(nullptr); }

    // Runs `save` in a child that dies at the case's step of writing `file`.
    void SaveAndDie(const char* file, const std::function<void()>& save) {
        g_deathStep = GetParam().step;
        g_deathFile = file;
        EXPECT_EQ(kKilled, InChild([&] {
            File_SetAtomicWriteHook(DieAtStep);
            save();
            return kNotKilled;
        }));
    }

    test::TestEnvironment env;
    // Start-up's load runs the apply, which writes the routing tables.
    test::SimBoard board;
};

using QamFileKilledMidSaveTest = KilledMidSaveTest;

TEST_P(QamFileKilledMidSaveTest, StartUpLoadsAllOldOrAllNew) {
    constexpr test::MarkedSettings kOld{111000, 1111};
    constexpr test::MarkedSettings kNew{222000, 2222};
    test::WriteMarkedQamFile(kOld);
    SaveAndDie("HX_QAM.conf", [&] { test::WriteMarkedQamFile(kNew); });  // both sections change in one save
    EXPECT_EQ(GetParam().found, InChild([&] {
        test::ResetParameterState();
        PARAMS_Init();
        switch (test::LiveMarks({kOld, kNew})) {
            case 0: return kFoundOld;
            case 1: return kFoundNew;
            case -2: return kFoundMixed;
            default: return kFoundNeither;
        }
    }));

    EXPECT_EQ(GetParam().step == AtomicWriteStep::Renamed ? 0u : 1u, Temporaries(env, "HX_QAM.conf"))
        << "a death before the rename leaves its temporary file";
    test::WriteMarkedQamFile(kOld);
    EXPECT_EQ(0u, Temporaries(env, "HX_QAM.conf")) << "the next save removes it";
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
}

INSTANTIATE_TEST_SUITE_P(Steps, QamFileKilledMidSaveTest, kSteps, kCaseName);

using ModelFileKilledMidSaveTest = KilledMidSaveTest;

// The output model, the biggest settings file: the new model has pools of
// other sizes, so a file of the old length with new records, or the reverse,
// would show as mixed or fail its checks.
TEST_P(ModelFileKilledMidSaveTest, StartUpLoadsTheWholeOldOrNewModel) {
    constexpr U8 kOldStamp = 0x11;
    constexpr U8 kNewStamp = 0x22;
    const TSInfoInitNum oldSizes{2, 3, 4, 5, 6, 0};
    const TSInfoInitNum newSizes{16, 40, 80, 20, 30, 0};
    test::WriteMarkedQamFile({111000, 1111});
    test::MakeStampedLiveModel(oldSizes, kOldStamp);
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    SaveAndDie("HX_OutPutTSP.conf", [&] {
        test::MakeStampedLiveModel(newSizes, kNewStamp);
        PARAMS_TSPParametersSave();
    });
    EXPECT_EQ(GetParam().step == AtomicWriteStep::Renamed ? 0u : 1u, Temporaries(env, "HX_OutPutTSP.conf"))
        << "a death before the rename leaves its temporary file";
    EXPECT_EQ(GetParam().found, InChild([&] {
        test::ResetParameterState();
        test::MakeStampedLiveModel(TSInfoInitNum{1, 1, 1, 1, 1, 0}, 0);
        PARAMS_Init();
        switch (test::LiveModelStamp()) {
            case kOldStamp: return kFoundOld;
            case kNewStamp: return kFoundNew;
            case -2: return kFoundMixed;
            default: return kFoundNeither;
        }
    }));

    EXPECT_EQ(0u, Temporaries(env, "HX_OutPutTSP.conf")) << "start-up saved what it loaded, and so removed it";
    EXPECT_EQ(0u, PARAMS_VerifyTSPConfigFiles());
}

INSTANTIATE_TEST_SUITE_P(Steps, ModelFileKilledMidSaveTest, kSteps, kCaseName);

using AccountFileKilledMidSaveTest = KilledMidSaveTest;

TEST_P(AccountFileKilledMidSaveTest, TheAccountsAreAllOldOrAllNew) {
    env.WriteText(kUserFilePath, "alice:pw1\n");
    SaveAndDie("auth.user", [] { user_AddUser("bob", "pw2"); });
    EXPECT_EQ(GetParam().found, InChild([&] {
        if (user_LoadUser() != 0 || user_FindUser("alice") != 0) {
            return kFoundNeither;
        }
        if (g_u32UserNum == 1) {
            return kFoundOld;
        }
        return g_u32UserNum == 2 && user_FindUser("bob") == 1 ? kFoundNew : kFoundMixed;
    }));

    EXPECT_EQ(GetParam().step == AtomicWriteStep::Renamed ? 0u : 1u, Temporaries(env, "auth.user"));
    EXPECT_EQ(0u, user_AddUser("carol", "pw3"));
    EXPECT_EQ(0u, Temporaries(env, "auth.user"));
}

INSTANTIATE_TEST_SUITE_P(Steps, AccountFileKilledMidSaveTest, kSteps, kCaseName);

}  // namespace
}  // namespace hx

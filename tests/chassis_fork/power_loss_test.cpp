// Power loss in the middle of a save. Each case forks a child that starts a
// save over a good old file and ends itself at one step of the atomic writer,
// then a fresh child starts up from what is on disk. These tests live in a
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

constexpr int kCrashed = 42;
constexpr int kNotCrashed = 43;
// What the fresh child found.
constexpr int kFoundOld = 0;
constexpr int kFoundNew = 1;
constexpr int kFoundMixed = 2;
constexpr int kFoundNeither = 3;

AtomicWriteStep g_crashStep;
const char* g_crashFile = "";

void CrashAtStep(AtomicWriteStep step, const char* path) {
    if (step == g_crashStep && std::string(path).ends_with(g_crashFile)) {
        _exit(kCrashed);
    }
}

std::size_t Temporaries(const test::TestEnvironment& env, const std::string& name) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env.Path("/vandik_data"))) {
        count += entry.path().filename().string().starts_with("." + name + ".") ? 1 : 0;
    }
    return count;
}

struct CrashCase {
    const char* name;
    AtomicWriteStep step;
    int found;  // what start-up finds afterwards
};

void PrintTo(const CrashCase& c, std::ostream* out) { *out << c.name; }

const auto kSteps = ::testing::Values(CrashCase{"TemporaryCreated", AtomicWriteStep::TemporaryCreated, kFoundOld},
                                      CrashCase{"HalfWritten", AtomicWriteStep::HalfWritten, kFoundOld},
                                      CrashCase{"FullyWritten", AtomicWriteStep::FullyWritten, kFoundOld},
                                      CrashCase{"Synced", AtomicWriteStep::Synced, kFoundOld},
                                      CrashCase{"Renamed", AtomicWriteStep::Renamed, kFoundNew});
const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

class PowerLossTest : public ::testing::TestWithParam<CrashCase> {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
    }
    void TearDown() override { File_SetAtomicWriteHook(nullptr); }
    test::TestEnvironment env;
    // Start-up's load runs the apply, which writes the routing tables.
    test::SimBoard board;
};

using QamFilePowerLossTest = PowerLossTest;

TEST_P(QamFilePowerLossTest, StartUpLoadsAllOldOrAllNew) {
    constexpr test::MarkedSettings kOld{111000, 1111};
    constexpr test::MarkedSettings kNew{222000, 2222};
    test::WriteMarkedQamFile(kOld);
    g_crashStep = GetParam().step;
    g_crashFile = "HX_QAM.conf";

    EXPECT_EQ(kCrashed, InChild([&] {
        File_SetAtomicWriteHook(CrashAtStep);
        test::WriteMarkedQamFile(kNew);  // both sections change in one save
        return kNotCrashed;
    }));
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
        << "a crash before the rename leaves its temporary file";
    test::WriteMarkedQamFile(kOld);
    EXPECT_EQ(0u, Temporaries(env, "HX_QAM.conf")) << "the next save removes it";
    EXPECT_EQ(0u, PARAMS_VerifyConfigFiles());
}

INSTANTIATE_TEST_SUITE_P(Steps, QamFilePowerLossTest, kSteps, kCaseName);

using AccountFilePowerLossTest = PowerLossTest;

TEST_P(AccountFilePowerLossTest, TheAccountsAreAllOldOrAllNew) {
    env.WriteText(kUserFilePath, "alice:pw1\n");
    g_crashStep = GetParam().step;
    g_crashFile = "auth.user";

    EXPECT_EQ(kCrashed, InChild([&] {
        File_SetAtomicWriteHook(CrashAtStep);
        user_AddUser("bob", "pw2");
        return kNotCrashed;
    }));
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

INSTANTIATE_TEST_SUITE_P(Steps, AccountFilePowerLossTest, kSteps, kCaseName);

}  // namespace
}  // namespace hx

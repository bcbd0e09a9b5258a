// A process that dies while it rewrites the JSON copy of the QAM settings:
// a child starts a save over a good old copy and ends itself at one step of
// the atomic writer; what is left must be the whole old copy or the whole new
// one, and it must restore. Forks, so it lives in this thread-free program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "chassis/qam_json.h"
#include "core/file_util.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "support/child_process.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr int kKilled = 42;
constexpr int kNotKilled = 43;

AtomicWriteStep g_deathStep;

void DieAtStep(AtomicWriteStep step, const char* path) {
    if (step == g_deathStep && std::string(path).ends_with("oid.json")) {
        _exit(kKilled);
    }
}

struct DeathCase {
    const char* name;
    AtomicWriteStep step;
    bool foundNew;
};

void PrintTo(const DeathCase& c, std::ostream* out) { *out << c.name; }

class QamJsonKilledMidSaveTest : public ::testing::TestWithParam<DeathCase> {
protected:
    void SetUp() override {
        env.FailOnUnexpectedErrors();
        log_Init(kMainLogPath);
        test::ResetParameterState();
        QAM160T_Init_Parmeter(GetQAMPara_Handle());
        Init_IPMonitor_Parmeter();
    }
    void TearDown() override { File_SetAtomicWriteHook(nullptr); }

    // The copy saved with channel 0 at `frequency` and the monitor's port.
    std::string SavedWith(U32 frequency, U16 port) {
        GetQAMPara_Handle()->Frequency[0].value = frequency;
        GetQAMIPMonitor_Handle()->u16DestPort = port;
        DATA_Save();
        return env.ReadText(kQamJsonFilePath);
    }

    test::TestEnvironment env;
    test::SimBoard board;
};

TEST_P(QamJsonKilledMidSaveTest, TheCopyIsAllOldOrAllNew) {
    const std::string newText = SavedWith(222000, 2222);
    const std::string oldText = SavedWith(111000, 1111);
    ASSERT_NE(oldText, newText);

    g_deathStep = GetParam().step;
    EXPECT_EQ(kKilled, test::InChild([&] {
        File_SetAtomicWriteHook(DieAtStep);
        SavedWith(222000, 2222);
        return kNotKilled;
    }));

    EXPECT_EQ(GetParam().foundNew ? newText : oldText, env.ReadText(kQamJsonFilePath));
    GetQAMPara_Handle()->Frequency[0].value = 0;
    ASSERT_EQ(0u, DATA_Recovery());
    EXPECT_EQ(GetParam().foundNew ? 222000u : 111000u, GetQAMPara_Handle()->Frequency[0].value);

    DATA_Save();
    std::size_t leftovers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(env.Path("/vandik_data"))) {
        leftovers += entry.path().filename().string().starts_with(".oid.json.") ? 1 : 0;
    }
    EXPECT_EQ(0u, leftovers) << "the next save removes a dead writer's temporary file";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, QamJsonKilledMidSaveTest,
    ::testing::Values(DeathCase{"TemporaryCreated", AtomicWriteStep::TemporaryCreated, false},
                      DeathCase{"HalfWritten", AtomicWriteStep::HalfWritten, false},
                      DeathCase{"FullyWritten", AtomicWriteStep::FullyWritten, false},
                      DeathCase{"Synced", AtomicWriteStep::Synced, false},
                      DeathCase{"Renamed", AtomicWriteStep::Renamed, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hx

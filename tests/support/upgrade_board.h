// The card of the firmware upgrade tests: slot 9 of a fresh data root on the
// simulated board, its resource record and upgrade progress record filled as
// start-up fills them, empty shared models (the upgrade saves a snapshot of
// them), the upgrade's flags as a fresh start leaves them, and a trace of
// every command the upgrade gives the runner. ERROR lines fail the test
// unless it names them (env.FailOnUnexpectedErrors).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chassis/upgrade.h"
#include "core/types.h"
#include "sim/upgrade_image.h"
#include "support/command_trace.h"
#include "support/model_builder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx::test {

constexpr U32 kUpgradeSlot = 9;
// The software version word the board reports before any upgrade.
constexpr U32 kUpgradeBoardSoftVersion = 0x140714;

// Every program the upgrade runs.
std::vector<std::string> UpgradePrograms();

// An image that passes every check: version `version`, the installable members.
sim::SimUpgradeImage InstallableImage(const std::string& version = "V1.2.0");

class UpgradeBoard {
public:
    UpgradeBoard();
    ~UpgradeBoard();
    UpgradeBoard(const UpgradeBoard&) = delete;
    UpgradeBoard& operator=(const UpgradeBoard&) = delete;

    // Writes a file of the data root, its folders made first.
    void Put(const std::string& logical, const std::vector<U8>& bytes);
    bool Exists(const std::string& logical) const;
    // The steps of the progress changes since the last take.
    static std::vector<U8> TakeSteps();

    TestEnvironment env;
    ScopedSharedModels models;
    std::optional<SimBoard> board;
    std::optional<CommandTrace> trace;
};

}  // namespace hx::test

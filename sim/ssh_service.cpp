#include "sim/ssh_service.h"

#include <atomic>
#include <fstream>
#include <string>

#include "core/command_runner.h"
#include "core/run_profile.h"

namespace hx::sim {

namespace {

std::atomic<bool> g_running{false};

CommandResult Dropbear(const Command& command) {
    Command_Record(command);
    const std::string action = command.argv.size() == 2 ? command.argv[1] : std::string();
    if (action == "start") {
        g_running = true;
    } else if (action == "stop") {
        g_running = false;
    } else {
        return CommandResult{1, true, {}};
    }
    return CommandResult{0, true, {}};
}

CommandResult ProcessList(const Command& command) {
    std::string listing = "  PID USER       VSZ STAT COMMAND\n    1 root      1940 S    init\n";
    if (g_running) {
        listing += "  512 root      1216 S    " + std::string(kSimDropbearProcess) + "\n";
    }
    CommandResult result{0, true, {}};
    if (command.stdoutFile) {
        const std::string path = command.stdoutFile->front() == '/'
                                     ? ResolvePath(*command.stdoutFile)
                                     : ResolvePath(command.workingDirectory.value_or("/")) + "/" + *command.stdoutFile;
        if (!IsInsideDataRoot(path) || !(std::ofstream(path, std::ios::trunc) << listing)) {
            result.status = 1;
        }
    } else {
        result.output = listing;
    }
    return result;
}

}  // namespace

void SimSsh_Install() {
    g_running = false;
    Command_SetSimHandler("dropbear", Dropbear);
    Command_SetSimHandler("ps", ProcessList);
}

bool SimSsh_Running() { return g_running; }

}  // namespace hx::sim

#include "support/command_trace.h"

#include <utility>

#include "core/command_runner.h"

namespace hx::test {

CommandTrace::CommandTrace(std::vector<std::string> programs) : programs_(std::move(programs)) {
    for (const std::string& program : programs_) {
        Claim(program);
    }
}

CommandTrace::~CommandTrace() {
    for (const std::string& program : programs_) {
        Command_SetSimHandler(program, {});
    }
}

void CommandTrace::Claim(const std::string& program) {
    Command_SetSimHandler(program, [this, program](const Command& command) {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(Command_Text(command));
        }
        // Without a handler the runner does what it always does with the
        // program; then the trace claims it again.
        Command_SetSimHandler(program, {});
        const CommandResult result = Command_Run(command);
        Claim(program);
        return result;
    });
}

std::vector<std::string> CommandTrace::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(commands_, {});
}

}  // namespace hx::test

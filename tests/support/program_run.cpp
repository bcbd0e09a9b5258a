#include "support/program_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "sim/chassis/sim_chassis.h"

namespace hx::test {

std::string RunProgramOnce(const std::string& binary, const TestEnvironment& env, int& status,
                           const std::string& extraOptions) {
    // The back board's inter-board side, which the card announces itself to
    // during start-up (chassis-sim's part in a PC run).
    SimChassis backBoard;
    const unsigned port = SimChassis_FreeLoopbackPort();
    backBoard.Start({16}, static_cast<U16>(port));
    const std::string command = binary + " --data-root " + env.root().string() +
                                " --once --inter-board-port " + std::to_string(port) +
                                " --http-port 0 --nms-port 0 --snmp-port 0 " + extraOptions + " 2>&1";
    status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string output;
    std::array<char, 4096> chunk{};
    while (std::size_t got = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
        output.append(chunk.data(), got);
    }
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

}  // namespace hx::test

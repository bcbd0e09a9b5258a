#include "support/program_run.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "sim/chassis/sim_chassis.h"

namespace hx::test {

namespace {

// A port the kernel has just handed out on loopback; free again once closed.
unsigned FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    unsigned port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

}  // namespace

std::string RunProgramOnce(const std::string& binary, const TestEnvironment& env, int& status,
                           const std::string& extraOptions) {
    // The back board's inter-board side, which the card announces itself to
    // during start-up (chassis-sim's part in a PC run).
    SimChassis backBoard;
    const unsigned port = FreeLoopbackPort();
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

// The inter-board server when accept fails: a child process lowers its
// descriptor limit so the pending peer cannot be accepted, and counts the
// server's tries on a virtual clock that only moves when told to. A program
// of its own (no other thread exists when it forks).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_server.h"
#include "chassis/ipcomm_socket.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::InChild;

constexpr int kTries = 20;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

enum ChildResult : int {
    kPassed = 0,
    kNotListening,
    kNoPeerSocket,
    kLimitNotSet,
    kWrongPauses,
    kWrongLogLines,
    kNotServedAfterwards,
};

TEST(AcceptFailureTest, NoDescriptorLeftPausesAndLogsOnce) {
    test::TestEnvironment env;
    const std::string report = (env.root() / "child-console.txt").string();
    auto body = [&]() -> int {
        RunProfile profile = Profile();
        profile.interBoardPort = 0;
        SetProfile(profile);
        env.clock().SetAutoAdvance(false);
        if (IPServer_Start() != 0) {
            return kNotListening;
        }
        const U16 port = IPServer_WaitListening();
        const int peer = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (port == 0 || peer < 0) {
            return port == 0 ? kNotListening : kNoPeerSocket;
        }
        // The sanitizers check a virtual call's target the first time they
        // meet it, and that check needs a descriptor: the calls the failing
        // server makes (clock, log sinks) are made once while there are some.
        TheClock().MonotonicMicros();
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "peer waits at port %u\n", port);
        // From here every new descriptor of this process is refused: the
        // lowest free number is the limit.
        const int lowestFree = dup(0);
        close(lowestFree);
        rlimit before{};
        getrlimit(RLIMIT_NOFILE, &before);
        rlimit lowered = before;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
        if (setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
            return kLimitNotSet;
        }
        if (socketC_connect(peer, 0x7F000001, port) != VK_SOCKETC_SUCCESS) {
            return kNoPeerSocket;
        }
        for (int i = 0; i < kTries; ++i) {
            env.clock().WaitForSleepCalls(static_cast<std::size_t>(i) + 1);
            env.clock().Advance(kIPServerAcceptRetryMicros);
        }
        env.clock().WaitForSleepCalls(kTries + 1);
        const std::string console = env.Console();
        for (std::uint64_t pause : env.clock().SleepHistory()) {
            if (pause != kIPServerAcceptRetryMicros) {
                return kWrongPauses;
            }
        }
        if (Count(console, "accept socket error: Too many open files(errno: 24)") != 1 ||
            Count(console, "accept socket error") != 1) {
            return kWrongLogLines;
        }
        // Descriptors free again: the waiting peer is served.
        setrlimit(RLIMIT_NOFILE, &before);
        env.clock().SetAutoAdvance(true);
        env.clock().Advance(kIPServerAcceptRetryMicros);
        IPCommWire wire;
        IPComm_Build(IPCOMM_SEND_DATA, nullptr, 0, 0, 1, &wire, 16);
        IPComm_WriteBlock(peer, std::span(wire.bytes.data(), wire.length), 5000);
        const std::vector<U8> reply = IPComm_ReceiveBlock(peer, 5000);
        close(peer);
        IPServer_Stop();
        return reply.size() == 20 && reply[2] == IPCOMM_SUCCESS_CMD ? kPassed : kNotServedAfterwards;
    };
    const int result = InChild([&] {
        alarm(60);  // a server that never pauses would leave the clock waiting for ever
        const int code = body();
        std::ofstream(report) << env.Console();
        return code;
    });
    std::ifstream in(report);
    const std::string console((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kPassed, result) << "child console:\n" << console;
}

}  // namespace
}  // namespace hx

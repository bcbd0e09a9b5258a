// The README's first minute of a PC run, as processes: chassis-sim and the
// card program on a fresh data root and a port held for them. The back board
// announces the boards, the input card sends its stream of three programs and
// the apply, and then ffprobe, reading the packets the simulated main FPGA
// inserted on channel 0, lists the three programs by name. The card's fixed
// waits run sped up.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim/chassis/chassis_plan.h"
#include "sim/chassis/sim_chassis.h"
#include "support/ffprobe.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

using namespace std::chrono_literals;

TEST(FirstMinuteTest, ChassisSimAndTheCardPutTheThreeNamedProgramsOnChannelZero) {
    test::TestEnvironment env(false);
    const std::string root = env.root().string();
    SimPortHold port;
    ASSERT_NE(0, port.port());
    const std::string portText = std::to_string(port.port());

    test::ChildProgram chassis;
    ASSERT_TRUE(chassis.Start({HX_CHASSIS_SIM_BINARY, "--data-root", root, "--port", portText})) << chassis.Output();
    ASSERT_TRUE(chassis.WaitForOutput("the card  : slot 3 at 127.0.0.1:" + portText, 30s)) << chassis.Output();
    test::ChildProgram card;
    ASSERT_TRUE(card.Start({HX_QAM_BINARY, "--data-root", root, "--inter-board-port", portText, "--http-port", "0",
                            "--nms-port", "0", "--snmp-port", "0", "--sim-speed-up",
                            std::to_string(test::kProgramSpeedUp)}))
        << card.Output();

    ASSERT_TRUE(chassis.WaitForOutput("the card took every message", 60s)) << chassis.Output() << card.Output();

    // The SI of the apply goes out from the next tick on; a few ticks make a
    // file ffprobe can read.
    std::vector<test::ProbedProgram> programs;
    std::string report;
    const std::string channelFile = env.Path("/sim/ts/out-00.ts");
    for (const auto deadline = std::chrono::steady_clock::now() + 30s;
         programs.size() < kSimPlanPrograms.size() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(100ms);
        programs = test::ProbePrograms(channelFile, &report);
    }
    // "HX News", "HX Sport", "HX Movies", each with its PMT, video (carrying
    // the PCR) and audio.
    std::vector<test::ProbedProgram> expected;
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        expected.push_back({program.serviceId, program.pmtPid, program.videoPid, program.name,
                            {program.videoPid, program.audioPid}});
    }
    EXPECT_EQ(expected, programs) << report << "\n" << chassis.Output() << card.Output();

    // SIGTERM stops only its SNMP agent: the card runs until it is killed.
    EXPECT_EQ(-1, card.WaitForExit(0s));
    EXPECT_EQ(0, chassis.Stop(10s)) << chassis.Output();
    EXPECT_NE(std::string::npos, chassis.Output().find("stopping on signal 15"));
}

}  // namespace
}  // namespace hx

// The PC run's simulated chassis: the back board's inter-board server at its
// loopback address on the profile's port, printing what it receives.
#include <cstdio>

#include "core/run_profile.h"
#include "sim/chassis/sim_chassis.h"

namespace hx {

void SimChassis_Start() {
    if (Profile().backend != HardwareBackend::Sim) {
        return;
    }
    // Lives for the whole process, like the card's own service threads.
    static SimChassis* chassis = new SimChassis();
    chassis->SetPrinter([](const std::string& line) { std::printf("chassis-sim: %s\n", line.c_str()); });
    if (!chassis->Start({16}, Profile().interBoardPort)) {
        std::fprintf(stderr, "chassis-sim: the back board cannot listen\n");
    }
}

}  // namespace hx

// Process entry of the QAM card's control application, and the one place
// that puts the program together: on the simulated profile it hands the
// simulated board to the platform's seams and starts the simulated neighbours
// the card talks to, so the card code itself never includes the simulator.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/startup.h"
#include "core/clock.h"
#include "core/run_profile.h"
#include "sim/board_image.h"
#include "sim/sim_back_board.h"
#include "sim/sim_board.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(hx::RunProfileUsage().c_str(), stdout);
            return 0;
        }
    }
    std::string error;
    const auto profile = hx::ParseRunProfile(args, error);
    if (!profile) {
        std::fprintf(stderr, "hx_qam: %s\n%s", error.c_str(), hx::RunProfileUsage().c_str());
        return 2;
    }
    hx::SetProfile(*profile);
    // Before any thread starts: the web server's configuration reads these.
    hx::ExportRunProfileEnvironment(*profile);
    // Only a simulated board may run its waits faster than real time.
    static hx::FastClock fastClock(profile->simSpeedUp);
    if (profile->simSpeedUp > 1) {
        hx::SetClock(&fastClock);
    }
    if (!hx::PrepareDataRoot()) {
        std::fprintf(stderr, "hx_qam: cannot create the data root %s\n", profile->dataRoot.c_str());
        return 1;
    }

    // On a PC the board's hardware is simulated, and so is the chassis's back
    // board; it has to answer on the serial line before start-up asks it for
    // the network settings. Its inter-board side is the chassis-sim program,
    // started before the card. The data root gets the files a flashed card
    // holds, so start-up finds them.
    if (profile->backend == hx::HardwareBackend::Sim) {
        hx::sim::SimBoard_Install();
        hx::SimBackBoard_Start();
        hx::SimBoardImage_Seed();
    }

    hx::Startup_Run(hx::Startup_Steps());
    if (profile->exitAfterStartup) {
        // The service threads are detached and still running: end without
        // destroying the globals they use (log sinks, clock, profile).
        std::fflush(nullptr);
        std::_Exit(0);
    }
    hx::Startup_KeepAlive();
}

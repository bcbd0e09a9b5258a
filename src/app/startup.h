// Start-up of the card application: every module brought up in one fixed
// order in the main thread, the service threads started, then the keep-alive.
//
// The order is a table (Startup_Steps) so it reads as one list and a test can
// check it; Startup_Run runs a table in order. No step's result stops the
// start-up: each failing step has logged its own line and the next one runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/types.h"

namespace hx {

struct StartupStep {
    const char* name;              // the operation the step runs
    std::function<void()> run;
};

// Steps 1 to 25 of the start-up, in order; the keep-alive is not a step.
std::vector<StartupStep> Startup_Steps();

// Runs the steps in order; appends each step's name to `trace` before it runs.
void Startup_Run(const std::vector<StartupStep>& steps, std::vector<std::string>* trace = nullptr);

// The main thread's last job: sleep 3 s at a time, for ever.
[[noreturn]] void Startup_KeepAlive();

// Logs the build banner.
void Compile_HeadInfo();
// Starts the SNMP agent thread; 0, or -1 (told on standard output only).
int snmp_Start();

// Step 14's body: loads the 160T and logs the outcome; start-up goes on either way.
U32 Startup_Load160TFirmware();

}  // namespace hx

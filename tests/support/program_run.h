// Runs the card program itself, as a user would, once through its start-up on
// the simulated board in a test's data root. Several test programs do this at
// the same time, so each run gets an inter-board port of its own (the card and
// its simulated peers all listen on it) and lets the other servers pick any.
// The simulated back board's inter-board server runs in the test process for
// the length of the run, so the card's announcement is answered.
#pragma once

#include <string>

#include "support/test_env.h"

namespace hx::test {

// Output (standard output and error) of `binary --once` in `env`'s data root;
// `status` gets the exit status, -1 when it did not exit normally.
std::string RunProgramOnce(const std::string& binary, const TestEnvironment& env, int& status,
                           const std::string& extraOptions = "");

}  // namespace hx::test

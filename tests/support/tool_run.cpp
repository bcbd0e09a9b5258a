#include "support/tool_run.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/program_run.h"

namespace hx::test {

namespace {

constexpr std::chrono::seconds kToolLimit{60};

}  // namespace

ToolRun RunTool(const std::vector<std::string>& argv) {
    ChildProgram program;
    if (!program.Start(argv)) {
        ADD_FAILURE() << "cannot start " << (argv.empty() ? std::string("(nothing)") : argv[0]) << ": "
                      << program.Output();
        return {program.Output(), -1};
    }
    const int status = program.WaitForExit(kToolLimit);
    if (status == -1) {
        ADD_FAILURE() << argv[0] << " did not end by itself within " << kToolLimit.count() << " s";
    }
    return {program.Output(), status};
}

ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {binary};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunTool(argv);
}

}  // namespace hx::test

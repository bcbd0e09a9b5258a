// Runs a command-line tool (one of the project's, or curl, tar, ... found on
// PATH) as a process, with no shell in between: arguments arrive as given.
// What it printed is kept.
#pragma once

#include <string>
#include <vector>

namespace hx::test {

struct ToolRun {
    std::string output;  // standard output and error, interleaved
    int status = -1;     // exit status, -1 when it did not exit by itself
};

// `argv[0]` (a path, or a tool on PATH) with the rest as its arguments; one
// that cannot be started, or runs past a minute, is a test failure.
ToolRun RunTool(const std::vector<std::string>& argv);
// The same with the program and its arguments apart.
ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments);

inline bool Has(const ToolRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

}  // namespace hx::test

// Runs one of the project's command-line tools as a process (no shell in
// between: arguments arrive as given) and keeps what it printed.
#pragma once

#include <string>
#include <vector>

namespace hx::test {

struct ToolRun {
    std::string output;  // standard output and error, interleaved
    int status = -1;     // exit status, -1 when it did not exit normally
};

// `binary` with `arguments`; a start that fails is a test failure.
ToolRun RunTool(const std::string& binary, const std::vector<std::string>& arguments);

inline bool Has(const ToolRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

}  // namespace hx::test

// ffprobe (Debian ffmpeg), an independent reader of the transport streams the
// simulated main FPGA writes: the programs it lists in a packet file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace hx::test {

// One program as ffprobe lists it.
struct ProbedProgram {
    int number = 0;
    int pmtPid = 0;
    int pcrPid = 0;
    std::string serviceName;
    std::vector<int> streamPids;
    bool operator==(const ProbedProgram&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ProbedProgram& program);

// The programs of `file` ("ffprobe -show_programs"); `report` gets ffprobe's
// output, or why it did not run. Empty when ffprobe did not run or found none.
std::vector<ProbedProgram> ProbePrograms(const std::string& file, std::string* report = nullptr);

}  // namespace hx::test

// Fuzzes the readers of the log files: the device-log merge, which searches
// and rewrites a window of an existing file, and the web log cache, which
// parses the main log. Both files can hold anything after a power cut or a
// hand edit.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/log.h"
#include "core/run_profile.h"
#include "fuzz/fuzz_data_root.h"

namespace {

std::string g_root;

void WriteFile(const std::string& logical, const std::uint8_t* data, std::size_t size) {
    std::ofstream(hx::ResolvePath(logical), std::ios::binary).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_root = hx::fuzz::UseTemporaryDataRoot().string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte splits the input into a line to merge and a file to merge it into.
    const std::size_t split = size == 0 ? 0 : std::min<std::size_t>(data[0], size - 1);
    const std::string line(reinterpret_cast<const char*>(data + 1), split);
    WriteFile(hx::kDeviceLogPath, data + 1 + split, size - (size == 0 ? 0 : 1 + split));
    hx::uniqlog(line.c_str());
    hx::uniqlog("[INFO][SYS]100:main:12 fixed line\n");

    WriteFile(hx::kMainLogPath, data, size);
    hx::Log_CacheRead(0);
    hx::Log_CacheRead(1);

    char replaced[64];
    hx::StringReplace(line.c_str(), "vandik", "product", replaced, sizeof replaced);
    return 0;
}

// Fuzzes the network test command that the back board sends (command 3846).
// Whatever arrives, either nothing is run or exactly the three test runs of
// the board's own iperf3 copy are, and then only when the text's first word
// names iperf3. Each run is checked on its own terms, not against a second
// parser: every argument is an allowed client option at most once or the
// value right after one, within its bound, the server is named, no argument
// carries shell syntax, and the run is limited to its duration plus the margin.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_runner.h"
#include "fuzz/fuzz_data_root.h"
#include "platform/network.h"

namespace {

struct Run {
    std::vector<std::string> argv;
    std::optional<std::chrono::milliseconds> limit;
};
std::vector<Run> g_runs;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::optional<unsigned long long> Whole(const std::string& text) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoull(text);
}

bool FirstWordNamesIperf3(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        return false;
    }
    const std::string_view word = text.substr(start, text.find(' ', start) - start);
    return word.substr(word.rfind('/') + 1) == "iperf3";
}

// The options a run may carry (the back board's, then the run's own -R/-u);
// returns the duration it asks for.
unsigned long long CheckOptions(const std::vector<std::string>& base) {
    Check(!base.empty() && base[0] == hx::kIperf3Program);
    std::string seen;
    unsigned long long seconds = hx::kNetworkTestDefaultSeconds;
    for (std::size_t i = 1; i < base.size(); ++i) {
        const std::string& option = base[i];
        Check(option.size() == 2 && option[0] == '-' && std::strchr("cptubPRilwf", option[1]) != nullptr);
        Check(seen.find(option[1]) == std::string::npos);
        seen += option[1];
        if (option == "-u" || option == "-R") {
            continue;
        }
        Check(i + 1 < base.size());
        const std::string& value = base[++i];
        Check(!value.empty() && value[0] != '-' &&
              value.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
                  std::string::npos);
        const auto number = Whole(value);
        switch (option[1]) {
            case 't': Check(number && *number >= 1 && *number <= hx::kNetworkTestMaxSeconds); seconds = *number; break;
            case 'P': Check(number && *number >= 1 && *number <= hx::kNetworkTestMaxStreams); break;
            case 'p': Check(number && *number >= 1 && *number <= 65535); break;
            case 'b': Check(number && *number >= 1 && *number <= 1'000'000'000); break;
            case 'l': Check(number && *number >= 1 && *number <= (1u << 20)); break;
            case 'w': Check(number && *number >= 1 && *number <= (16u << 20)); break;
            case 'f': Check(value.size() == 1 && std::strchr("kmgtKMGT", value[0]) != nullptr); break;
            case 'i': Check(value.find_first_not_of("0123456789.") == std::string::npos && std::stod(value) <= 60); break;
            default: break;  // -c: a host name or address, characters checked above
        }
    }
    Check(seen.find('c') != std::string::npos);
    return seconds;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    hx::Command_SetSimHandler("iperf3", [](const hx::Command& command) {
        g_runs.push_back({command.argv, command.timeLimit});
        return hx::CommandResult{0, false, {}};
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The dispatcher hands over the text up to its first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    g_runs.clear();
    const hx::U32 result = hx::NetWorkQualityTest(reinterpret_cast<const hx::U8*>(text.c_str()));
    if (result != 0) {
        Check(result == 4 && g_runs.empty());
        return 0;
    }
    Check(text.size() <= hx::kNetworkTestMaxText && FirstWordNamesIperf3(text));
    Check(g_runs.size() == 3);
    const std::vector<std::vector<std::string>> variants = {{"-R"}, {"-u"}, {"-u", "-R"}};
    const std::vector<std::string>& first = g_runs[0].argv;
    Check(first.size() > 1);
    const std::vector<std::string> base(first.begin(), first.end() - 1);
    for (std::size_t k = 0; k < variants.size(); ++k) {
        std::vector<std::string> expected = base;
        expected.insert(expected.end(), variants[k].begin(), variants[k].end());
        Check(g_runs[k].argv == expected);
    }
    const unsigned long long seconds = CheckOptions(base);
    for (const Run& run : g_runs) {
        Check(run.limit == std::chrono::seconds(seconds + hx::kNetworkTestMarginSeconds));
    }
    return 0;
}

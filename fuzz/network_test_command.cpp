// Fuzzes the network test command that the back board sends (command 3846):
// the text must never reach a shell. Whatever arrives, either nothing is run
// or exactly the three test runs of the board's own iperf3 copy are, each
// made of the received words unchanged (so no word needed quoting, and no
// shell syntax survived), followed by the run's own options.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_runner.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/network.h"
#include "fuzz/fuzz_data_root.h"

namespace {

constexpr std::size_t kLongestText = 1024;

bool SafeByte(unsigned char c) {
    return std::isalnum(c) != 0 || c == ' ' || (c != '\0' && std::strchr(".-_:/=,", c) != nullptr);
}

// The words the board must run, or none when the text must be refused.
std::vector<std::string> ExpectedWords(const std::string& text) {
    if (text.size() > kLongestText) {
        return {};
    }
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (!SafeByte(static_cast<unsigned char>(c))) {
            return {};
        }
        if (c == ' ') {
            if (!word.empty()) {
                words.push_back(word);
            }
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    if (words.empty() || !std::string_view(words.front()).ends_with("iperf3")) {
        return {};
    }
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The dispatcher hands over the text up to its first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    hx::Command_ClearRecorded();
    const hx::U32 result = hx::NetWorkQualityTest(reinterpret_cast<const hx::U8*>(text.c_str()));
    const std::vector<std::string> recorded = hx::Command_Recorded();
    std::vector<std::string> words = ExpectedWords(text);
    if (words.empty()) {
        if (result != 4 || !recorded.empty()) {
            std::abort();
        }
        return 0;
    }
    words.front() = hx::kIperf3Program;
    std::string base;
    for (const std::string& word : words) {
        base += (base.empty() ? "" : " ") + word;
    }
    const std::vector<std::string> expected = {base + " -R", base + " -u", base + " -u -R"};
    if (result != 0 || recorded != expected) {
        std::abort();
    }
    return 0;
}

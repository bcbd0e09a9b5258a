#include "sim/led_model.h"

#include <array>
#include <cstdio>
#include <filesystem>

#include "core/clock.h"
#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 1> kRegisters = {kRegLed};
}

LedModel::LedModel(std::string logPath) : logPath_(std::move(logPath)), startMicros_(TheClock().MonotonicMicros()) {}

std::span<const U32> LedModel::Registers() const { return kRegisters; }

const char* LedModel::ColourName(U32 value) {
    switch (value) {
        case 0:
            return "red";
        case 1:
        case 2:
            return "green";
        case 3:
            return "off";
        default:
            return "unknown";
    }
}

void LedModel::Write(U32, U32 value) {
    const std::uint64_t now = TheClock().MonotonicMicros();
    std::lock_guard lock(mutex_);
    if (!history_.empty() && history_.back().value == value) {
        return;
    }
    history_.push_back(LedChange{now, value});
    if (logPath_.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(logPath_).parent_path(), ignored);
    if (std::FILE* log = std::fopen(logPath_.c_str(), "a")) {
        const double seconds = static_cast<double>(now - startMicros_) / 1e6;
        std::fprintf(log, "%10.3f s  %-5s (%u)\n", seconds, ColourName(value), value);
        std::fclose(log);
    }
}

std::vector<LedChange> LedModel::History() {
    std::lock_guard lock(mutex_);
    return history_;
}

}  // namespace hx::sim

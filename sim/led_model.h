// The status LED of the simulated main FPGA (register 18).
//
// Keeps every change of the LED with the time it happened and appends each to
// a text log ("sim/led.log" in the data root on the simulated board), one line
// per change: the seconds since the model was created, the colour, the value.
// Written from the blinker and monitor threads; read by tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/register_model.h"

namespace hx::sim {

struct LedChange {
    std::uint64_t micros;  // TheClock() time of the change
    U32 value;
};

class LedModel final : public RegisterModel {
public:
    // `logPath`: real path of the change log; empty keeps none.
    explicit LedModel(std::string logPath);

    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32) override { return std::nullopt; }

    std::vector<LedChange> History();
    // "red", "green", "green" (hardware 2), "off"; "unknown" otherwise.
    static const char* ColourName(U32 value);

private:
    const std::string logPath_;
    const std::uint64_t startMicros_;
    std::mutex mutex_;
    std::vector<LedChange> history_;
};

}  // namespace hx::sim

// The routing tables of the simulated main FPGA (registers 768-772).
//
// Entries of 64 bits are loaded into pending tables, 2,048 mux and 256
// bypass: on a rising edge of 769 the words of 771 (high) and 772 (low) go to
// index 770 & 0x7FF of the mux table when bit 0x800 of 770 is set, else to
// index 770 of the bypass table. A pulse of 768 makes the pending tables
// active, counts the commit and writes the active non-zero entries, decoded
// field by field, to a text file ("sim/routing.txt" in the data root).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/register_model.h"

namespace hx::sim {

constexpr U32 kSimMuxEntries = 2048;
constexpr U32 kSimBypassEntries = 256;

class RoutingModel final : public RegisterModel {
public:
    // `path`: real path of the decoded table file; empty keeps none.
    explicit RoutingModel(std::string path);

    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32) override { return std::nullopt; }

    std::array<std::uint64_t, kSimMuxEntries> ActiveMux();
    std::array<std::uint64_t, kSimBypassEntries> ActiveBypass();
    // Entries strobed into the pending tables, and commits, since power-on.
    U32 Strobes();
    U32 Commits();

private:
    void WriteFile();

    const std::string path_;
    std::mutex mutex_;
    U32 index_ = 0;
    U32 high_ = 0;
    U32 low_ = 0;
    Strobe strobe_;
    Strobe commit_;
    U32 strobes_ = 0;
    U32 commits_ = 0;
    std::array<std::uint64_t, kSimMuxEntries> pendingMux_{};
    std::array<std::uint64_t, kSimBypassEntries> pendingBypass_{};
    std::array<std::uint64_t, kSimMuxEntries> activeMux_{};
    std::array<std::uint64_t, kSimBypassEntries> activeBypass_{};
};

}  // namespace hx::sim

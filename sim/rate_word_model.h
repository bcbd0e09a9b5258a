// The per-channel rate words of the simulated main FPGA (864, 865, 868-870).
//
// A pulse of 868 stores 870 as the word of the channel in 869; a pulse of 864
// counts a restart of the channel in 865. Each channel keeps its last word.
#pragma once

#include <map>
#include <mutex>

#include "sim/register_model.h"

namespace hx::sim {

class RateWordModel final : public RegisterModel {
public:
    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32) override { return std::nullopt; }

    // The channel's last word; nullopt when none was ever stored.
    std::optional<U32> Word(U32 channel);
    U32 Restarts(U32 channel);

private:
    std::mutex mutex_;
    U32 wordChannel_ = 0;
    U32 word_ = 0;
    U32 restartChannel_ = 0;
    Strobe wordStrobe_;
    Strobe restartStrobe_;
    std::map<U32, U32> words_;
    std::map<U32, U32> restarts_;
};

}  // namespace hx::sim

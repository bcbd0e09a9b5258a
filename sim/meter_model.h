// The rate meters of the simulated main FPGA (833-841).
//
// Tests set the counts the meters give: per channel the configured and the
// effective packet count (read through 839 → 840, 841), per channel and PID
// the packet count and the continuity-error word (833 and 836 → 837, 838). A
// pulse of 835 clears every continuity-error count. Register 834 (the gate) is
// kept as written.
#pragma once

#include <map>
#include <mutex>
#include <utility>

#include "sim/register_model.h"

namespace hx::sim {

class MeterModel final : public RegisterModel {
public:
    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32 index) override;

    void SetChannelCounts(U32 channel, U32 configured, U32 effective);
    // `continuityWord` is what 838 reads, high bits included.
    void SetPidCounts(U32 channel, U32 pid, U32 packets, U32 continuityWord);
    U32 Gate();
    U32 ContinuityClears();

private:
    struct ChannelCounts {
        U32 configured = 0;
        U32 effective = 0;
    };
    struct PidCounts {
        U32 packets = 0;
        U32 continuity = 0;
    };

    std::mutex mutex_;
    U32 pidChannel_ = 0;
    U32 pid_ = 0;
    U32 rateChannel_ = 0;
    U32 gate_ = 0;
    U32 clears_ = 0;
    Strobe clearStrobe_;
    std::map<U32, ChannelCounts> channels_;
    std::map<std::pair<U32, U32>, PidCounts> pids_;
};

}  // namespace hx::sim

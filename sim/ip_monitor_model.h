// The IP monitor output of the simulated main FPGA (523, 524, 544-547, 565,
// 845): a copy of one output channel sent as UDP from port 1.
//
// Each pulse of 544 is decoded by the mode in 545: 0x200 loads the destination
// address from 547; 0x300 loads the destination MAC (546's four bytes, then
// 547's top two) and the destination port (547's low 16 bits). 523 and 524 are
// the source address and port, 565 the stop flag (non-zero: output stopped),
// 845 the rate limit word.
#pragma once

#include <array>
#include <mutex>

#include "sim/register_model.h"

namespace hx::sim {

struct IpMonitorOutput {
    U32 sourceAddress = 0;
    U32 sourcePort = 0;
    bool stopped = false;
    U32 destinationAddress = 0;
    std::array<U8, 6> destinationMac{};
    U16 destinationPort = 0;
    U32 rateWord = 0;
    U32 strobes = 0;          // pulses of 544 decoded
    U32 unknownModes = 0;     // pulses with a mode other than 0x200, 0x300
};

class IpMonitorModel final : public RegisterModel {
public:
    std::span<const U32> Registers() const override;
    void Write(U32 index, U32 value) override;
    std::optional<U32> Read(U32) override { return std::nullopt; }

    IpMonitorOutput Output();

private:
    std::mutex mutex_;
    U32 mode_ = 0;
    U32 mac_ = 0;
    U32 data_ = 0;
    Strobe strobe_;
    IpMonitorOutput output_;
};

}  // namespace hx::sim

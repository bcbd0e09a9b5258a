// One block of the simulated main FPGA's registers with the behaviour behind
// them (the LED, the meters, the SI insertion buffer, ...).
//
// The simulated main FPGA (sim/main_fpga.h) stores every word written and
// hands each access of a model's registers to that model; a model can also be
// driven alone, in a test, by calling Write and Read itself. Each model keeps
// the registers it needs and guards its state with its own mutex, so a test
// thread may query it while a card thread writes.
#pragma once

#include <optional>
#include <span>

#include "core/types.h"

namespace hx::sim {

class RegisterModel {
public:
    virtual ~RegisterModel() = default;
    // The register indices this model answers for.
    virtual std::span<const U32> Registers() const = 0;
    virtual void Write(U32 index, U32 value) = 0;
    // The word a read returns; nullopt reads the last word written.
    virtual std::optional<U32> Read(U32 index) = 0;
};

// A strobe register: fires when a write moves it from 0 to non-zero, so the
// card's pulses 0, 1, 0 fire once each.
class Strobe {
public:
    bool Rises(U32 value) {
        const bool rises = last_ == 0 && value != 0;
        last_ = value;
        return rises;
    }

private:
    U32 last_ = 0;
};

}  // namespace hx::sim

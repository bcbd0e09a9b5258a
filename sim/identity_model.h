// Read-only identity registers of the simulated main FPGA: 0 (logic version)
// and 16 (slot number), set from the run profile; writes are ignored.
#pragma once

#include "sim/register_model.h"

namespace hx::sim {

class IdentityModel final : public RegisterModel {
public:
    IdentityModel(U32 logicVersion, U32 slotNumber) : logicVersion_(logicVersion), slotNumber_(slotNumber) {}

    std::span<const U32> Registers() const override;
    void Write(U32, U32) override {}
    std::optional<U32> Read(U32 index) override;

private:
    const U32 logicVersion_;
    const U32 slotNumber_;
};

}  // namespace hx::sim

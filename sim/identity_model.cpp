#include "sim/identity_model.h"

#include <array>

#include "platform/fpga_reg.h"

namespace hx::sim {

namespace {
constexpr std::array<U32, 2> kRegisters = {kRegFpgaVersion, kRegSlotNumber};
}

std::span<const U32> IdentityModel::Registers() const { return kRegisters; }

std::optional<U32> IdentityModel::Read(U32 index) { return index == kRegSlotNumber ? slotNumber_ : logicVersion_; }

}  // namespace hx::sim

// The seam between the register window and whatever answers it.
//
// A RegisterBus is one back end of the main FPGA's register window: the card's
// physical mapping (MappedRegisterBus) or the simulated main FPGA (sim/). The
// window (platform/fpga_reg.h) picks one by the run profile and is the only
// caller: it takes g_reg_mutex around every word, so a back end sees one access
// at a time from the window and never locks for the window's sake. The raw
// word access stays behind this interface; nothing above the window reaches it.
#pragma once

#include "core/types.h"

namespace hx {

// Registers of the window: 1 MiB of 32-bit registers, 16 bytes apart.
constexpr U32 kRegisterCount = 65536;
constexpr U32 kRegisterStride = 16;
constexpr U32 kRegisterWindowBytes = kRegisterCount * kRegisterStride;

class RegisterBus {
public:
    virtual ~RegisterBus() = default;
    // `index` is always below kRegisterCount; the window checks it.
    virtual U32 Read(U32 index) = 0;
    virtual void Write(U32 index, U32 value) = 0;
};

}  // namespace hx

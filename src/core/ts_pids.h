// The fixed PIDs of the transport-stream tables this card generates or routes
// specially: the SI generators, the SI sender and the mux table build all
// name them from here.
#pragma once

#include "core/types.h"

namespace hx {

constexpr U16 kPatPid = 0x0000;
constexpr U16 kCatPid = 0x0001;
constexpr U16 kNitPid = 0x0010;
constexpr U16 kSdtPid = 0x0011;  // SDT and BAT
constexpr U16 kEitPid = 0x0012;
constexpr U16 kTdtTotPid = 0x0014;
constexpr U16 kPsipPid = 0x1FFB;  // ATSC base PID: MGT, VCT, STT

}  // namespace hx

// Fixed facts of the board.
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kOutputChannels = 16;

// Number of output channels; every per-channel loop runs over them.
inline U32 BMN_GetOutputChannelNum() { return kOutputChannels; }

}  // namespace hx

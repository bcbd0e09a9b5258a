// The apply pipeline's largest output model, which several benchmarks measure
// against: 16 streams with a NIT each, programs spread over them (program p on
// channel p % 16, service ID p + 1, source slot 1 + p % 8) with a PCR and four
// elementary PIDs each, and EMM PIDs in proportion (32 at 500 programs).
#pragma once

#include "core/types.h"

namespace hx::bench {

constexpr U16 kLargestModelStreams = 16;
constexpr U32 kLargestModelPrograms = 500;
constexpr U32 kLargestModelEmms = 32;

struct LargestModelOptions {
    bool programNames = false;  // "Program N" as each service's name
};

// Builds the model of `programs` programs into the live model, under the
// model lock, after a factory reset. The number of routed PIDs, or 0 when the
// engine refused.
U32 BuildLargestModel(U32 programs, const LargestModelOptions& options = {});

}  // namespace hx::bench

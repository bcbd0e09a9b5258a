// A whole output model as input cards send it, for the benchmarks and the
// tests that run one end to end (it needs nothing of GoogleTest).
//
// N programs over 16 output streams, program i on stream i mod 16 from source
// slots 3, 5 and 7 in turn; per program a PCR carried on its video, a video
// and an audio ES, a program-level ECM and a 200-byte program-info loop in a
// descriptor record; per stream an EMM PID, an other PID and a NIT section.
// The three sources number their programs and PIDs alike, so their service
// IDs and PIDs clash in every stream and resolution has work to do. Every
// message holds at most 5,120 data bytes, as the dispatcher delivers them.
#pragma once

#include <cstddef>
#include <vector>

#include "sim/input_card_messages.h"

namespace hx::test {

constexpr U16 kInputCardStreams = 16;

struct InputCardModel {
    std::vector<InputCardMessage> build;   // streams' programs, PIDs, loops, NITs
    std::vector<InputCardMessage> remove;  // delete orders that empty the model again
    std::size_t records = 0;               // programs, PIDs, descriptors and NIT records
};

InputCardModel MakeInputCardModel(U32 programs);

// Sends messages through the configuration entry; the first failing
// message's code, or 0.
U32 SendInputCardMessages(const std::vector<InputCardMessage>& messages);

}  // namespace hx::test

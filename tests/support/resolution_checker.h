// What every output stream holds after conflict resolution, for tests, fuzz
// targets and benchmarks (it needs nothing of GoogleTest):
//   - service IDs unique and not 0;
//   - no output PID shared by two streams of packets (source slot, source
//     channel, input PID), a PCR of 0x1FFF (no PCR) aside;
//   - no program or EMM PID on 0x0000-0x001F or 0x1FFF, nor on 0x1FFB in ATSC;
//   - in ATSC, channel pairs within 1023 and unique, each program's
//     u16ChannelTSID its stream's transport stream ID.
// Valid streams that are not pass-through are checked; the caller holds the
// model lock when `model` is a shared one.
#pragma once

#include <string>
#include <vector>

#include "engine/model_records.h"

namespace hx::test {

std::vector<std::string> CheckResolved(const Output_TSInfo& model, bool atsc);

// The input values of every valid program and PID record, in pool order, to
// show resolution leaves them alone.
std::vector<U16> InputValues(const Output_TSInfo& model);

// The bytes of the program and PID pools, all that resolution may change.
std::vector<U8> ProgramAndPidBytes(const Output_TSInfo& model);

// Resolution of `model` by the plain methods, stream by stream as
// TSP_ConflictProcess goes: the PID map rebuilt for every record, the channel
// pairs found by a walk for every program. 0 or the first failing step's
// code; TSP_ConflictProcess on an equal model must give the same result and
// the same program and PID bytes. The caller holds the model lock.
U32 ResolveRecordByRecord(Output_TSInfo* model, bool atsc);

}  // namespace hx::test

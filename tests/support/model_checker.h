// Invariant checker of the output model, for tests, fuzz targets and
// benchmarks (it needs nothing of GoogleTest).
//
// CheckModel lists every violation it finds, one line each, so a test can
// expect an exact list (for instance the TDT records a stream deletion leaves
// on purpose). It reads any bytes safely: every link is range-checked and
// every walk bounded, so it may be run on fuzzed pools.
//
// Rules checked:
//   - every chain link lies inside its pool; no chain has a cycle;
//   - each counted chain is as long as its count and within the walkers'
//     limit of 300; members are valid and of the chain's kind, and name their
//     own position;
//   - back-links agree both ways (program -> stream, PID -> program or stream,
//     ES-level ECM -> ES, PCR -> program, descriptor <-> owner);
//   - every valid program, PID, descriptor and table sits on exactly one chain
//     of a valid owner (a PCR counts through its program);
//   - no two valid streams share an output channel;
//   - every free record is zero, but for the pass mark (own-index 0xFFFF).
#pragma once

#include <string>
#include <vector>

#include "engine/model_pools.h"
#include "engine/model_records.h"

namespace hx::test {

// The caller holds the model lock when `model` is one of the shared models.
std::vector<std::string> CheckModel(const Output_TSInfo& model);

// Convenience for assertions: the violations joined by new lines.
std::string DescribeViolations(const std::vector<std::string>& violations);

// The bytes of one pool's records, free ones included, for comparing models
// byte for byte.
std::string PoolBytes(const Output_TSInfo* model, ModelPool pool);

// Every pool of the live model, then of the temporary copy, taken under the
// model lock: for requests that must change neither.
std::vector<std::string> SharedModelsBytes();

}  // namespace hx::test

// Helpers for tests of the parameter files: a known QAM set and IP monitor
// record, output models whose stored records carry a mark, a freshly reset
// process state, and raw access to the files.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "chassis/param_store.h"
#include "engine/model_pools.h"
#include "support/test_env.h"

namespace hx::test {

// Clears g_stCurPE and the live QAM set and IP monitor record, as a process
// that has not loaded anything yet holds them.
void ResetParameterState();

// Values that no factory default has, so a test can tell what was loaded.
struct MarkedSettings {
    U32 frequency0;
    U16 destPort;
};
// Factory settings with the marks applied: the QAM set and the IP monitor.
void ApplyMarks(TParameter_QAM& qam, QAM_IPMonitorPara& monitor, MarkedSettings marks);
// Which of the given mark sets the live records carry: its index, -1 for none,
// -2 when the QAM set and the IP monitor record disagree.
int LiveMarks(const std::vector<MarkedSettings>& candidates);

// Writes a factory QAM file carrying the marks (through the real saver).
void WriteMarkedQamFile(MarkedSettings marks);

// The pools the output-model file stores, in file order.
constexpr std::array<ModelPool, 5> kModelFilePools = {ModelPool::Stream, ModelPool::Program, ModelPool::Pid,
                                                      ModelPool::Table, ModelPool::Descriptor};
// Bytes at the end of every stored record that nothing reads (its reserved
// tail): a test may mark a record there without changing what it means.
constexpr std::size_t kRecordTailBytes = 40;
// The reserved tails of every stored record of `model`, in file order.
std::vector<U8*> StoredRecordTails(Output_TSInfo* model);

// The live model given pools of these sizes, every stored record free (so the
// apply leaves it be) and marked with `stamp` in its tail.
void MakeStampedLiveModel(const TSInfoInitNum& sizes, U8 stamp);
// The stamp every stored record of the live model carries: -1 when there is
// no record, -2 when the records carry different stamps.
int LiveModelStamp();

std::vector<U8> ReadBytes(const std::string& logical);
void WriteBytes(const std::string& logical, const std::vector<U8>& bytes);
bool FileExists(const std::string& logical);

}  // namespace hx::test

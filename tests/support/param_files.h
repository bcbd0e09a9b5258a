// Helpers for tests of the parameter files: a known QAM set and IP monitor
// record, a freshly reset process state, and raw access to the files.
#pragma once

#include <string>
#include <vector>

#include "chassis/param_store.h"
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

std::vector<U8> ReadBytes(const std::string& logical);
void WriteBytes(const std::string& logical, const std::vector<U8>& bytes);
bool FileExists(const std::string& logical);

}  // namespace hx::test

// Debug dumps of single model records: the main fields of one valid record,
// one INFO line per field. Callers hold the model lock. 0, or 0xC0000 for a
// null model, an index out of range or a record not in use.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

U32 TSP_DebugPrintOneTS(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS);
U32 TSP_DebugPrintOneProgram(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS);
U32 TSP_DebugPrintOnePID(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS);
U32 TSP_DebugPrintOneBypassTS(U16 u16BypassIndex, const Output_TSInfo* pstParamTS);

}  // namespace hx

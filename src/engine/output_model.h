// The output model: output streams, programs, PIDs, SI tables, descriptors and
// pass-through streams in index-linked record pools; the live instance, which
// input cards, the apply pipeline, PSI/SI, the LED monitor and SNMP read, and
// the temporary copy that web edits change until the apply copies it back.
//
// This header gathers the engine's model interfaces; each lives in a header of
// its own concern:
//   model_records.h   record layouts, IndexInfoList, TSInfoInitNum, Output_TSInfo
//   model_lock.h      the model lock every reader and writer holds
//   model_pools.h     allocation, growth, free-record finders
//   model_record_init.h  record initialisers
//   model_walkers.h   chain walkers and last-entry getters
//   model_lookup.h    lookups by channel and input key
//   model_remove.h    removal by input order and by index
//   model_copy.h      the temporary copy and the apply copy
//
// Both models live for the whole process. Their getters may only be called
// with the model lock held (checked in the sanitizer builds), and so may every
// use of the pointers they return.
#pragma once

#include "core/types.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_pools.h"
#include "engine/model_record_init.h"
#include "engine/model_records.h"
#include "engine/model_remove.h"
#include "engine/model_walkers.h"

namespace hx {

// The live model and the temporary copy (g_stTempTSParam).
Output_TSInfo* TSP_GetTSParam();
Output_TSInfo* TSP_GetTempTSParam();

// True for the live model and the temporary copy, the two the lock guards.
bool IsSharedModel(const Output_TSInfo* model);

}  // namespace hx

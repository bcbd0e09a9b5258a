// Pools of the output model: the two instances, their allocation, growth and
// release, and the free-record finders.
//
// Callers: the parameter store (factory defaults, the OID snapshot), the input
// messages, the web edits and the engine itself. Every function here runs
// under the model lock (engine/model_lock.h); the ones without a model
// argument take it themselves.
//
// Pools are zero-filled on allocation, grown one step at a time when a free
// record is needed (TS 16, programs 500, PIDs 1,000, tables 100, descriptors
// 500, pass-through 256) and never shrunk; no pool grows past 65,535 records,
// since 0xFFFF ends a chain. Growth moves a pool: re-take every record pointer
// after a call that may add records.
//
// Allocation goes through one hook so tests can make any allocation fail.
#pragma once

#include <cstddef>
#include <functional>

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

enum class ModelPool : U8 { Stream, Program, Pid, Table, Descriptor, Bypass };
constexpr std::size_t kModelPoolCount = 6;

// Default record counts (TSP_InitTSInfo's 0) and the factory model's.
constexpr TSInfoInitNum kDefaultPoolCounts = {16, 500, 1000, 100, 500, 256};

// Pools and records of one model, by kind.
std::size_t ModelPool_RecordSize(ModelPool pool);
U32 ModelPool_Count(const Output_TSInfo* model, ModelPool pool);
U8* ModelPool_Record(Output_TSInfo* model, ModelPool pool, U32 index);
const U8* ModelPool_Record(const Output_TSInfo* model, ModelPool pool, U32 index);
bool ModelPool_IsValid(const Output_TSInfo* model, ModelPool pool, U32 index);

// Allocation hook: asked before every allocation and growth with the byte
// count; false makes that allocation fail. An empty function allows all.
using ModelAllocHook = std::function<bool(std::size_t bytes)>;
void ModelPool_SetAllocHook(ModelAllocHook hook);

// Clears the TS, program, PID, table and descriptor pointers and counts of
// both models (nothing freed; the pass-through pools stay), then empties the
// broadcast SI store.
void TSP_InitOutputTSInfo();
// Frees those five pools of both models, then TSP_InitOutputTSInfo. 0.
U32 TSP_FreeOutputTSInfo();
// Both models empty with 16 TS, 500 programs, 1,000 PIDs, 100 tables and 500
// descriptors (pass-through pools untouched). 0; 8 when the pools cannot be
// allocated, both models then as they were.
U32 TSP_FactoryOutputTSInfo();
// New zero-filled pools for all six kinds with the given counts (0: default).
// The new pools are allocated before the old ones are freed, so a failure
// leaves the model as it was. 0; 4 for a null argument or a count above
// 65,535; 8 when a pool cannot be allocated.
U32 TSP_InitTSInfo(Output_TSInfo* pstParamTS, const TSInfoInitNum* pstTSInfoInitNum);

// Frees all six pools of any model and its bookkeeping (test and scratch models).
void ModelPool_FreeAll(Output_TSInfo* model);

// Free-record finders: the first record from index 0 whose u8ValidFlag is not
// 1; when none is free the pool grows one step and the first new index is
// returned. 0; 0xC0000 null argument; 0xC0016 when the pool cannot grow.
U32 TSP_GetUnusedOutputTSIndex(Output_TSInfo* pstParamTS, U16* pu16Index);
U32 TSP_GetUnusedOutputDescIndex(Output_TSInfo* pstParamTS, U16* pu16Index);
U32 TSP_GetUnusedOutputBypassTsIndex(Output_TSInfo* pstParamTS, U16* pu16Index);
// N free indices in ascending order: collected from index 0; when fewer are
// free the pool grows one step and they are collected again. N 0 returns at
// once; N above 500 (programs) or 1,000 (PIDs), or above the 300 a list holds,
// gives 0xC0000; still short 0xC0017.
U32 TSP_GetUnusedOutputProgList(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList);
U32 TSP_GetUnusedOutputPIDIndex(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList);
// The same for table records (at most 300 at once, growing by 100).
U32 ModelPool_GetUnusedTableList(Output_TSInfo* pstParamTS, U16 u16Number, IndexInfoList* pstIndexList);

// Zeroes one record and tells the finders and the key index. Every removal
// frees through this.
void ModelPool_FreeRecord(Output_TSInfo* model, ModelPool pool, U32 index);
// A writer that set valid flags or keys other than in records handed out by
// the finders (a file load, a bulk rewrite) calls this once it is done.
void ModelPool_RecordsChanged(Output_TSInfo* model);

}  // namespace hx

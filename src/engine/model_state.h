// Engine bookkeeping kept beside each model's pools, private to the engine.
//
// Two accelerators make building and clearing a model linear in its records:
// where a free-record search may start in each pool, and an index of programs
// and PIDs by their input keys. Both are shortcuts of the plain pool scans the
// finders and lookups are defined by, and give the same index: every record
// below a search start is in use, and the key index holds the position of
// every valid program and PID. They stay true because records are freed
// through ModelPool_FreeRecord and become valid only in slots the finders
// handed out; a writer that sets valid flags or keys any other way calls
// ModelPool_RecordsChanged. In the sanitizer builds every shortcut is compared
// with its scan and a difference aborts.
//
// Guarded by the model lock, like the pools.
#pragma once

#include <array>
#include <unordered_map>
#include <vector>

#include "engine/model_pools.h"
#include "engine/model_records.h"

namespace hx {

struct ModelEngineState {
    // Per pool (ModelPool order): every record below this index is in use.
    std::array<U32, kModelPoolCount> freeSearchStart{};
    // The temporary model was filled from the live one since its pools were made.
    bool filledFromLive = false;

    // Input key -> positions of valid records with that key, ascending.
    std::unordered_map<std::uint64_t, std::vector<U16>> programKeys;
    std::unordered_map<std::uint64_t, std::vector<U16>> pidKeys;
    bool keysStale = true;
    // Slots handed out by the finders that were free then; they join the index
    // once they hold a valid record.
    std::vector<U16> pendingPrograms;
    std::vector<U16> pendingPids;
};

// The model's bookkeeping, created on first use.
ModelEngineState& EngineState(Output_TSInfo* model);
// Records changed behind the engine's back: searches start at 0 again and the
// index is rebuilt on next use.
void EngineState_RecordsChanged(Output_TSInfo* model);
// New pools: as above, and the model no longer holds a copy of the live one.
void EngineState_PoolsReplaced(Output_TSInfo* model);

// Keys as the lookups compare them.
std::uint64_t ProgramKey(U8 sourceSlot, U16 sourceChannel, U16 channel, U16 programId);
std::uint64_t PidKey(U8 sourceSlot, U16 sourceChannel, U16 channel, U16 pidKey);
std::uint64_t ProgramKeyOf(const Output_TSProgram& program);
std::uint64_t PidKeyOf(const Output_TSPID& pid);

// Raw pool blocks for the engine's own pool replacement (copies, init): a
// zero-filled block of `count` records through the allocation hook (true and a
// null block for 0 records), its release, and installing a block as a model's
// pool (the old block freed).
bool PoolAllocate(ModelPool pool, U32 count, void** block);
void PoolRelease(void* block);
void PoolInstall(Output_TSInfo* model, ModelPool pool, void* block, U32 count);

// The first valid program or PID with the key in pool order, kChainEnd when
// none: what a scan of the pool gives, from the index.
U16 KeyIndex_FindProgram(Output_TSInfo* model, std::uint64_t key);
U16 KeyIndex_FindPid(Output_TSInfo* model, std::uint64_t key);

// Index upkeep for one record about to be freed, and for a slot handed out.
void KeyIndex_Forget(Output_TSInfo* model, ModelPool pool, U32 index);
void KeyIndex_Pending(Output_TSInfo* model, ModelPool pool, U32 index);

}  // namespace hx

#include "engine/model_state.h"

#include <algorithm>

namespace hx {

namespace {

// Slots handed out wait here until a lookup takes them in once they are
// filled; past this many the filled ones are taken in at once and repeats of
// the unfilled ones dropped.
constexpr std::size_t kPendingLimit = 4096;

using KeyMap = std::unordered_map<std::uint64_t, std::vector<U16>>;

KeyMap& MapOf(ModelEngineState& state, ModelPool pool) {
    return pool == ModelPool::Program ? state.programKeys : state.pidKeys;
}

std::vector<U16>& PendingOf(ModelEngineState& state, ModelPool pool) {
    return pool == ModelPool::Program ? state.pendingPrograms : state.pendingPids;
}

std::uint64_t KeyAt(const Output_TSInfo* model, ModelPool pool, U32 index) {
    return pool == ModelPool::Program ? ProgramKeyOf(model->pOutputProgram[index]) : PidKeyOf(model->pOutputPID[index]);
}

void Insert(std::vector<U16>& positions, U16 index) {
    const auto at = std::lower_bound(positions.begin(), positions.end(), index);
    if (at == positions.end() || *at != index) {
        positions.insert(at, index);
    }
}

void Rebuild(Output_TSInfo* model, ModelEngineState& state) {
    for (ModelPool pool : {ModelPool::Program, ModelPool::Pid}) {
        KeyMap& map = MapOf(state, pool);
        map.clear();
        // A slot handed out but not filled yet joins the index once it is.
        std::erase_if(PendingOf(state, pool), [&](U16 index) { return ModelPool_IsValid(model, pool, index); });
        const U32 count = ModelPool_Count(model, pool);
        for (U32 index = 0; index < count; ++index) {
            if (ModelPool_IsValid(model, pool, index)) {
                map[KeyAt(model, pool, index)].push_back(static_cast<U16>(index));
            }
        }
    }
    state.keysStale = false;
}

void AbsorbPending(Output_TSInfo* model, ModelEngineState& state, ModelPool pool) {
    std::vector<U16>& pending = PendingOf(state, pool);
    KeyMap& map = MapOf(state, pool);
    std::erase_if(pending, [&](U16 index) {
        if (!ModelPool_IsValid(model, pool, index)) {
            return false;
        }
        Insert(map[KeyAt(model, pool, index)], index);
        return true;
    });
}

U16 Find(Output_TSInfo* model, ModelPool pool, std::uint64_t key) {
    ModelEngineState& state = EngineState(model);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (state.keysStale) {
            Rebuild(model, state);
        }
        AbsorbPending(model, state, ModelPool::Program);
        AbsorbPending(model, state, ModelPool::Pid);
        const KeyMap& map = MapOf(state, pool);
        const auto entry = map.find(key);
        if (entry == map.end()) {
            return kChainEnd;
        }
        bool stale = false;
        for (U16 index : entry->second) {
            if (ModelPool_IsValid(model, pool, index) && KeyAt(model, pool, index) == key) {
                return index;
            }
            stale = true;
        }
        if (!stale) {
            return kChainEnd;
        }
        // A position that no longer holds its key: something changed records
        // without telling; look at the pools again.
        state.keysStale = true;
    }
    return kChainEnd;
}

}  // namespace

ModelEngineState& EngineState(Output_TSInfo* model) {
    if (model->pstEngineState == nullptr) {
        model->pstEngineState = new ModelEngineState();
    }
    return *model->pstEngineState;
}

void EngineState_RecordsChanged(Output_TSInfo* model) {
    ModelEngineState& state = EngineState(model);
    state.freeSearchStart.fill(0);
    state.keysStale = true;
    state.pendingPrograms.clear();
    state.pendingPids.clear();
}

void EngineState_PoolsReplaced(Output_TSInfo* model) {
    EngineState_RecordsChanged(model);
    EngineState(model).filledFromLive = false;
}

std::uint64_t ProgramKey(U8 sourceSlot, U16 sourceChannel, U16 channel, U16 programId) {
    return static_cast<std::uint64_t>(sourceSlot) << 48 | static_cast<std::uint64_t>(sourceChannel) << 32 |
           static_cast<std::uint64_t>(channel) << 16 | programId;
}

std::uint64_t PidKey(U8 sourceSlot, U16 sourceChannel, U16 channel, U16 pidKey) {
    return ProgramKey(sourceSlot, sourceChannel, channel, pidKey);
}

std::uint64_t ProgramKeyOf(const Output_TSProgram& program) {
    return ProgramKey(program.u8SourceSlotID, program.u16SourceChannelID, program.u16ChannelID, program.u16ProgramID);
}

std::uint64_t PidKeyOf(const Output_TSPID& pid) {
    // An ES-level ECM is known by the key of its ES, kept in u16ESECMPIDIndex.
    const U16 key = pid.u8PIDType == PID_TYPE_ES_ECMPID ? pid.u16ESECMPIDIndex : pid.u16PIDID;
    return PidKey(pid.u8SourceSlotID, pid.u16SourceChannelID, pid.u16ChannelID, key);
}

U16 KeyIndex_FindProgram(Output_TSInfo* model, std::uint64_t key) { return Find(model, ModelPool::Program, key); }

U16 KeyIndex_FindPid(Output_TSInfo* model, std::uint64_t key) { return Find(model, ModelPool::Pid, key); }

void KeyIndex_Forget(Output_TSInfo* model, ModelPool pool, U32 index) {
    if (pool != ModelPool::Program && pool != ModelPool::Pid) {
        return;
    }
    ModelEngineState& state = EngineState(model);
    if (state.keysStale || !ModelPool_IsValid(model, pool, index)) {
        return;
    }
    KeyMap& map = MapOf(state, pool);
    const auto entry = map.find(KeyAt(model, pool, index));
    if (entry == map.end()) {
        return;
    }
    std::erase(entry->second, static_cast<U16>(index));
    if (entry->second.empty()) {
        map.erase(entry);
    }
}

void KeyIndex_Pending(Output_TSInfo* model, ModelPool pool, U32 index) {
    if (pool != ModelPool::Program && pool != ModelPool::Pid) {
        return;
    }
    // Recorded even while the index is stale: a rebuild before the slot is
    // filled must not lose it.
    ModelEngineState& state = EngineState(model);
    std::vector<U16>& pending = PendingOf(state, pool);
    if (pending.size() >= kPendingLimit) {
        if (!state.keysStale) {
            AbsorbPending(model, state, pool);
        }
        // What is left are slots handed out and never filled; the finders hand
        // out the same free slots again, so keeping each once bounds the list
        // by the pool.
        std::sort(pending.begin(), pending.end());
        pending.erase(std::unique(pending.begin(), pending.end()), pending.end());
    }
    pending.push_back(static_cast<U16>(index));
}

}  // namespace hx

// Helpers the removal operations share: freeing with the pass mark, guarded
// count decrements, the pass unlink, and the lines they log. Private to the
// engine; every caller holds the model lock.
#pragma once

#include <cstdio>

#include "core/log.h"
#include "engine/model_pools.h"
#include "engine/model_records.h"

namespace hx {

// Zeroes a record; with `mark`, then sets its own-index field to 0xFFFF so a
// pass over a list collected before it knows the record is gone.
inline void FreeProgramRecord(Output_TSInfo* model, U16 index, bool mark) {
    ModelPool_FreeRecord(model, ModelPool::Program, index);
    if (mark) {
        model->pOutputProgram[index].u16ProgramIndex = kChainEnd;
    }
}

inline void FreePidRecord(Output_TSInfo* model, U16 index, bool mark) {
    ModelPool_FreeRecord(model, ModelPool::Pid, index);
    if (mark) {
        model->pOutputPID[index].u32PIDIndex = kChainEnd;
    }
}

inline void FreeTableRecord(Output_TSInfo* model, U16 index, bool mark) {
    ModelPool_FreeRecord(model, ModelPool::Table, index);
    if (mark) {
        model->pOutputTable[index].u16Index = kChainEnd;
    }
}

// A count about to be decremented; 0 means the chain and its count disagree,
// and the removal stops with 0xC0017 instead of wrapping the count to 65,535.
inline bool CountAtZero(const char* function, U16 count, const char* ownerKind, U32 owner, const char* countName) {
    if (count != 0) {
        return false;
    }
    HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s index[%u] %s smaller than 0\r\n\n", ownerKind, owner,
              countName);
    return true;
}

// An index read from a record that does not name a record of its pool (or a
// descriptor whose owner does not name it back): the link is not followed.
inline void LogNoLink(const char* function, const char* what, U32 from, U32 link) {
    HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s[%u] link[%u] no link\r\n\n", what, from, link);
}

// Stream records the input path zeroes are announced on standard output.
inline void PrintStreamDeleted(const char* text, U32 index) {
    std::printf(text, index);
    std::fflush(stdout);
}

// Pass unlink of list position i: the head takes the record's next link when
// it is first or every record before it went in this pass; else the nearest
// earlier record still there does.
template <typename OwnIndex, typename SetNext, typename SetHead>
void PassUnlink(const IndexInfoList& list, U16 position, U32 next, OwnIndex ownIndex, SetNext setNext,
                SetHead setHead) {
    for (int earlier = static_cast<int>(position) - 1; earlier >= 0; --earlier) {
        if (ownIndex(list.aru16IndexList[earlier]) != kChainEnd) {
            setNext(list.aru16IndexList[earlier], next);
            return;
        }
    }
    setHead(next);
}

// Position of `index` in the list, or the list's length.
inline U16 PositionIn(const IndexInfoList& list, U16 index) {
    for (U16 position = 0; position < list.u16IndexListNum; ++position) {
        if (list.aru16IndexList[position] == index) {
            return position;
        }
    }
    return list.u16IndexListNum;
}

// Frees what a stream about to be zeroed by the input path still holds: its
// other and EMM PIDs and its NIT, BAT, TOT, other-NIT and other-SDT chains,
// which would otherwise stay valid and routed on no reachable chain.
U32 ReleaseStreamContents(U16 tsIndex, Output_TSInfo* model);

}  // namespace hx

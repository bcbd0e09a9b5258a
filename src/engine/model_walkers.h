// Chain walkers of the output model: each fills a caller's IndexInfoList with
// the indices of one chain in chain order, and the last-entry getters built
// on them.
//
// Callers: every engine operation that follows a chain, PSI/SI regeneration,
// the web views, slot bookkeeping. All run under the model lock.
//
// Walkers trust a count of 0 (a zeroed stream reads as empty), follow PID
// links as their low 16 bits, stop at any link not below the pool's count and
// never return more than 300 entries, so a broken or cyclic chain ends in an
// error, not a loop. Codes: 0xC0000 bad input or a member of the wrong kind,
// 0xC0008 list or range overflow, 0xC0017 / 2054 count mismatches where
// stated.
#pragma once

#include "core/types.h"
#include "engine/model_records.h"

namespace hx {

// Programs of a stream (entries: u16ProgramIndex). Head beyond the program
// pool: 0xC0008.
U32 TSP_GetOutTSProgIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList);
// PID chains (entries: u32PIDIndex); every member valid and of the chain's type.
U32 TSP_GetOutTSEMMPIDIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutTSOtherPIDIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutProgESPIDIndexList(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS,
                                 IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutProgPSECMPIDIndexList(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS,
                                    IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutESECMPIDIndexList(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList);
// Pool positions of the valid descriptors on a stream's descriptor chain;
// 0xC0008 at 300, 0xC0017 when the length differs from u16DescriptorNum.
U32 TSP_GetOutTSDescIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, IndexInfoList* pstIndexInfoList);

// Table chains of a stream (entries: u16Index). A head of 0xFFFF is an empty
// chain; any link beyond the table pool 0xC0008; an invalid member 0xC0000. A
// stream record that is not in use owns no table chain.
U32 TSP_GetOutTSNITTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutTSBATTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutTSTOTTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                  IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutTSOtherNitTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                       IndexInfoList* pstIndexInfoList);
U32 TSP_GetOutTSOtherSdtTableIndexList(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS,
                                       IndexInfoList* pstIndexInfoList);

// ES-level ECMs of one ES as the input path walks them: chain positions, no
// kind check, at most 299; 2054 when the length differs from u16ESECMPIDNumber.
U32 TSP_GetOutPIDESECMPIDIndexList(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS,
                                   IndexInfoList* pstIndexInfoList);

// Last entry of a walk, 0xFFFF for an empty chain; the walker's error otherwise.
U32 TSP_GetOutTSProgLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutTSEMMPIDLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutTSOtherPIDLastIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutProgPIDListLastIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutProgPSECMPIDLastIndex(U16 u16OutProgIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutESECMPIDLastIndex(U16 u16OutPIDIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);
U32 TSP_GetOutTSLastDescIndex(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, U16* pu16LastIndex);

}  // namespace hx

// PSI/SI regeneration of the output streams: on every apply the carousel is
// emptied and every valid, non-bypass stream of the live model gets its
// tables again, in this order: PAT (PID 0), CAT (1), NIT (16), SDT (17), the
// PMTs (each on its program's PMT PID) and, in ATSC mode, the PSIP (MGT then
// TVCT/CVCT, together on 0x1FFB). A table that arrives from an input card as a
// passed-through PID is not generated.
//
// Each generated table (PAT, CAT, SDT, PMT, VCT, MGT) goes out with the
// version settled against the tables sent before on its output channel
// (si/table_versions.h); once it is queued, the settled version is written
// back to its record, live and in the temporary copy, and the change flag is
// cleared in both. The MGT, which has no version field, starts from the VCT's.
//
// A failing step is logged and skips its own table only: the stream's later
// tables are still built (an SDT too large for the carousel does not take the
// PMTs off air), and the stream's result is its first failing code.
//
// Callers: the apply pipeline (TSP_MuxProcess), holding the model lock; every
// function here takes it again. Sections are queued under SIMutex, taken by
// the carousel itself.
#pragma once

#include "core/ts_pids.h"
#include "core/types.h"

namespace hx {

// MGT table types of the VCT it lists.
constexpr U16 kMgtTypeTvct = 0;
constexpr U16 kMgtTypeCvct = 2;

// True when one of the stream's other (pass-through) PID records carries that
// output PID: the table then arrives from an input card.
bool IsPSITableInOtherPID(U16 u16OutTSIndex, U16 u16PID);

// Empties the carousel.
void TSP_ClearAllSIInfo();
// Empties the carousel and regenerates every valid, non-bypass stream in pool
// order. Always 0: one stream's failure does not stop the others.
U32 TSP_MuxOutputAllSI();
// All steps of one stream; 0 or the first failing step's code.
U32 TSP_MuxTsSIProc(U16 u16OutTSIndex);

// The steps. Each builds into the caller's construction buffer of
// kSiConstructBytes and queues; 0 also when the table is skipped.
U32 TSP_ConstructPAT(U16 u16OutTSIndex, U8* pu8Buffer);
U32 TSP_ConstructCAT(U16 u16OutTSIndex, U8* pu8Buffer);
U32 TSP_ConstructSDT(U16 u16OutTSIndex, U8* pu8Buffer);
U32 TSP_ConstructPMT(U16 u16OutTSIndex, U8* pu8Buffer);
// One program's PMT into the cleared buffer; *pu32Length 0 on failure.
U32 TSP_ConstructPMTForProg(U16 u16ProgramIndex, U8* pu8Buffer, U32* pu32Length);
U32 TSP_ConstructPSIP(U16 u16OutTSIndex, U8* pu8Buffer);

}  // namespace hx

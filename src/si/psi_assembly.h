// Table assembly: fills the PSI/SI table records (si/psi_tables.h) of one
// output stream or program from the live output model.
//
// Versions: a record carries the version the model holds, and nothing here
// changes the model. The regeneration settles the version that goes on air
// from it, the change flag and the tables sent before (si/table_versions.h).
// The VCT keeps its version in the SDT's fields, since no SDT is built in ATSC
// mode.
//
// VCT channels: a modulation_mode of 0 (reserved) or a carrier frequency of 0
// from the input card is replaced by the output channel's own constellation
// (SCTE mode 1 for 64-QAM, mode 2 for 256-QAM) and centre frequency (Hz) from
// the live QAM parameter set.
//
// PMTs leave out elementary streams whose PID filter flag is set. Their CA
// descriptors (0x09) are dropped when the program is descrambled through a
// CAM (u8CIFlag 1); otherwise CA_PID becomes the output PID of the ECM
// record with that input PID and CA system (the program's ECMs for the
// program loop, the ES's ECMs for its ES loop), and a descriptor without one
// is dropped. Stored loops come from input cards: a descriptor running past
// its loop ends the loop there.
//
// Callers: the SI regeneration, under the model lock (taken again here).
// Codes: 0xD0000 null record, a stream or program index out of range or not
// in use; the walkers' codes.
#pragma once

#include "core/types.h"
#include "si/psi_tables.h"

namespace hx {

U32 TSP_GetPATInfo(U16 u16OutTSIndex, PATTable_t* pstTable);
U32 TSP_GetCATInfo(U16 u16OutTSIndex, CATTable_t* pstTable);
U32 TSP_GetPMTInfo(U16 u16ProgramIndex, PMTTable_t* pstTable);
U32 TSP_GetSDTInfo(U16 u16OutTSIndex, SDTTable_t* pstTable);
// The table_id (TVCT or CVCT) is taken from the stream's u32VCTType.
U32 TSP_GetVCTInfo(U16 u16OutTSIndex, VCTTable_t* pstTable);

}  // namespace hx

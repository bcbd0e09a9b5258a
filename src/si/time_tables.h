// Time tables: the UTC/MJD helpers, the builders of the ATSC STT and the DVB
// TDT and TOT that the SI sender puts into its time slots, and the stored,
// user-edited TOT of each output stream (a TOT chain of TSTable records
// headed by u16TOTIndex).
//
// Time comes from the wall clock of TheClock(). A channel gets time tables
// only with a valid, non-bypass stream on it:
//   - DVB: a TDT when u8TDTGenerate is 1; a TOT when u8TOTGenerate is 1 and
//     the stream has a stored TOT, carrying its entry with the current UTC
//     time; neither when PID 20 is one of the stream's other PIDs and its TOT
//     is not user-changed (the input's own pass through);
//   - ATSC: an STT (table_id 0xCD, 20 bytes) when u8STTGenerate is 1, from
//     the time settings the back board's own record applied
//     (Resource_GetTimeSettings): system_time in GPS seconds (UTC plus the
//     GPS-UTC offset), GPS_UTC_offset, and DS_status from daylight saving.
//     The STT has no time-zone field, so the time zone does not shift it.
//
// Threads: the builders run in the SI sender thread and read the live model
// under the model lock (the sender only tries it); the TOT editing runs in
// the HTTP thread on the temporary model and takes the lock itself.
#pragma once

#include "core/types.h"
#include "si/section_codec.h"

namespace hx {

constexpr U8 kSttTableId = 0xCD;
constexpr U16 kSttSectionBytes = 20;
// Table kind of the records of a stored TOT chain.
constexpr U8 kTotTableType = 6;
// 1980-01-06 00:00:00 UTC, the GPS epoch, in Unix seconds.
constexpr U32 kGpsEpochUnixSeconds = 315'964'800;

// Modified Julian Date (EN 300 468 Annex C) of a date given as years since
// 1900, month 1-12 and day.
U16 TSP_CalMJD(U32 u32Year, U32 u32Month, U32 u32Day);
// A value 0-99 as two BCD digits.
U8 TSP_CalBCD(U8 u8Value);
// The current UTC time as the 5-byte DVB UTC_time. 0, or 4 for null.
U32 TSP_GetUTCTime(U8* pu8UTCTime);

// Build the time section of every channel 0-15 into the sender's time slots
// (live model, taking the model lock). 0 or the last failing code.
U32 TSP_ConstructSTT();
U32 TSP_ConstructTDT();
U32 TSP_ConstructTOT();

// True when a record of the stream's TOT chain in the live model was set by the user.
BOOL TSP_IsTOTTableChangedByUser(U16 u16OutTSIndex);
// The web TOT page's read and edit.
// The channel's stored TOT from the temporary model, parsed. 0; 2054 when the
// channel has no stream; 0xC0017 when it has no TOT; the parse's code.
U32 TSP_GetTOTTableInfo(U16 u16Channel, TOTTable_t* pstTOTTable);
// Makes the TOT sections of the buffer (table_id 0x73, back to back) the TOT
// chain of the channel's stream in the temporary model, marked changed by the
// user. 0; 4 when the channel has no stream or the buffer holds no whole TOT
// section; the store's code when the records cannot be had. On every failure
// the stored TOT stays as it was.
U32 TSP_EditTOT_LTODescriptor(U16 u16Channel, const TOTBuf_t* pstTOTBuf);

}  // namespace hx

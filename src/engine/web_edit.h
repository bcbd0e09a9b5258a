// Web edits of output streams and programs, applied to the temporary model
// only (the apply request copies it over the live model later).
//
// Callers: the HTTP thread's "SetTsParam.w" and "SetProgramParam.w" handlers
// (the web application), with a view they read through
// TSP_SendTSInfoToWeb / TSP_SendProgramInfoToWeb and changed. Each takes the
// model lock.
//
// An edit raises the change flag of every table that carries a field it
// changes: the transport stream ID is in the PAT and SDT, the original network
// ID and the service names, provider names and service types in the SDT, a
// service ID in the PAT, SDT and PMT, the PMT PID in the PAT and PMT, the PCR
// and elementary PIDs in the PMT. Other PIDs, modulation mode, TDT switch and
// ATSC channel numbers are carried by no table with a change flag.
//
// PID changes go through TSP_CheckOutputPidConflict. Results: 0; 0x30024 a
// service ID clash or a service ID of 0, which marks the NIT in a PAT, and
// 0x30017 a PID clash (both with the conflict flag set);
// 0xC0000 bad input; 0xC0018 no such stream or program; 0xC0019 an ATSC
// channel number above 1023 or used twice; 0xC0020 a view whose program,
// other-PID or elementary-stream count differs from the model's.
#pragma once

#include "core/types.h"
#include "engine/web_report.h"

namespace hx {

// Stream edit: service IDs unique among the view's programs; every changed
// other PID checked (a clash reloads the whole temporary model from the live
// one, as does a refused one); then the IDs, modulation mode, TDT switch and
// each program's service ID and names, the program found by the view's old
// service ID.
U32 TSP_ModifyTSInfoByWeb(Output_WebTSInfo* pstWebTSInfo, U8* pu8ConflictFlag);
// Program edit: the program found by the view's old service ID; service ID,
// ATSC numbers, service type, PMT, PCR and elementary PIDs (matched by their
// old PID), names. A PID clash or a refused PID puts the program's PIDs back
// as they were.
U32 TSP_ModifyProgramInfoByWeb(U16 u16Channel, Output_WebProgramInfo* pstWebProgramInfo, U8* pu8ConflictFlag);

}  // namespace hx

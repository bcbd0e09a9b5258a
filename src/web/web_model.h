// The web application's way into the output model: the live and temporary
// stream and program views, the two edits of the temporary copy, the apply
// and the clear. One line each over the engine and the parameter store; the
// stream, status, NIT and SI table pages all go through these.
//
// Caller: the HTTP server thread. The views and edits take the model lock
// themselves (it is recursive); a handler that reads or edits both models
// holds it from its first access to its last, so other threads see the
// request as one step. Web_MuxProcess and Web_ClearTS send to other boards and
// must be called without the lock.
#pragma once

#include "core/types.h"
#include "engine/web_report.h"

namespace hx {

// The view of the channel's stream in the live model (TSP_SendTSInfoToWeb).
U32 Web_GetTSWebInfo(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo);
// The live view of the program with that service ID (TSP_SendProgramInfoToWeb).
U32 Web_GetProgramInfoToWeb(U16 u16Channel, U16 u16ServiceId, Output_WebProgramInfo* pstWebProgramInfo);
// The same two on the temporary copy.
U32 Web_GetTempTSWebInfo(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo);
U32 Web_GetTempProgramInfoToWeb(U16 u16Channel, U16 u16ServiceId, Output_WebProgramInfo* pstWebProgramInfo);
// The edits of the temporary copy (engine/web_edit.h).
U32 Web_ModifyTSWebInfo(Output_WebTSInfo* pstWebTSInfo, U8* pu8ConflictFlag);
U32 Web_ModifyProWebInfo(U16 u16Channel, Output_WebProgramInfo* pstWebProgramInfo, U8* pu8ConflictFlag);
// The apply: the temporary copy over the live model, the EIT list to the EIT
// board (its result ignored), the apply pipeline; the pipeline's code. A copy
// that cannot be applied (never refreshed: 0xC0000; no memory: 0xC0016) gives
// its code before anything is sent or run, so the live model, routing, PSI
// and model file stay as they were.
U32 Web_MuxProcess();
// The web's clear of the output configuration (PARAMS_WEB_Factory(1)): clear
// orders to the input boards, an empty factory model applied and saved; the
// QAM settings stay. 1 when the model file cannot be opened.
U32 Web_ClearTS();

}  // namespace hx

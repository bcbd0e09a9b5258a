// Web report records of the output model: the views the web pages, the LED
// monitor and the SNMP agent read, filled from the live or temporary model,
// and the edits the web pages send back (engine/web_edit.h).
//
// Callers: the HTTP thread (web handlers), the LED monitor, the SNMP agent.
// Each builder takes the model lock for the time it reads the model.
//
// Rates come from two meters: the channel's total and effective rate from the
// last 160T status (GetChannel_BiteRate), its configured routing-table rate
// and the per-PID rates and continuity-error counts from the main FPGA's
// meters (platform/fpga_meter.h). The PID meters are read after the model
// lock is released, so a slow register window never holds up the model.
#pragma once

#include "core/types.h"

namespace hx {

struct Output_TSInfo;

enum WebPidType : U8 {
    VIDEO_PID = 0,
    AUDIO_PID = 1,
    PCR_PID = 2,
    EMM_PID = 3,
    PS_ECM_PID = 4,
    ES_ECM_PID = 5,
    OTHER_PID = 6,
    PAT_TABLE_PID = 7,
    PMT_TABLE_PID = 8,
    SDT_TABLE_PID = 9,
    CAT_TABLE_PID = 10,
    BAT_TABLE_PID = 11,
    NIT_TABLE_PID = 12,
    TDT_TABLE_PID = 13,
    TOT_TABLE_PID = 14,
    EIT_TABLE_PID = 15,
    MGT_TABLE_PID = 16,
    PRIVATE_DATA_PID = 17,
};

struct Output_WebPIDInfo {
    U8 u8StreamType;
    U16 u16OldPID;
    U16 u16PID;
    U8 u8PIDType;
};

constexpr U32 kWebEsViews = 20;

struct Output_WebProgramInfo {
    U8 u8ServiceNameLen;
    U8 u8ServiceProviderLen;
    U8 aru8ServiceName[32];
    U8 aru8ServiceProvider[32];
    U16 u16Channel;
    U8 u8SourceSlot;
    U8 u8SourcePort;
    U16 u16SourceChannel;
    U16 u16OldServiceID;
    U16 u16OldPCRPID;
    U16 u16OldPMTPID;
    U16 u16ServiceID;
    U16 u16PCRPID;
    U16 u16PMTPID;
    U16 u16ESNumber;
    U16 u16MajorChannelNum;
    U16 u16MinorChannelNum;
    U16 u8ServiceType;  // 16 bits wide despite its name
    Output_WebPIDInfo arOutputESInfo[kWebEsViews];
};

constexpr U32 kWebProgramViews = 200;
constexpr U32 kWebPidViews = 100;

struct Output_WebTSInfo {
    U8 u8ValidFlag;  // 1 stream present, 255 none
    U8 u8Port;
    U16 u16Channel;
    U8 u8BypassFlag;
    U8 u8SourceSlot;
    U8 u8SourcePort;
    U16 u16SourceChannel;
    U16 u16TransportStreamID;
    U16 u16OriginalNetworkID;
    U16 u16ProgramNum;
    U16 u16PIDNum;
    U32 u32TotalBitRate;
    U32 u32EffectiveBitRate;
    U32 u32Frequency;
    BOOL bOverFlow;
    U8 u8ModulationMode;
    U8 u8TDTGenerate;
    Output_WebProgramInfo arOutputProInfo[kWebProgramViews];
    Output_WebPIDInfo arOutputPIDInfo[kWebPidViews];
};

struct Output_WebPIDBitInfo {
    U16 u16SamePIDNum;
    U8 u8ServiceNameLen;
    U8 aru8ServiceName[32];
    U16 u16PID;
    U8 u8PIDType;
    U32 u32BitRate;
    U8 U8CcNum;
};

constexpr U32 kWebPidBitViews = 500;

struct Output_WebTSBitInfo {
    U8 u8ValidFlag;  // 255: the channel has no output stream
    U16 u16PIDNum;
    U32 u32TotalBitRate;
    Output_WebPIDBitInfo arPIDBitInfo[kWebPidBitViews];
};

// An elementary stream whose PID record carries this filter flag is not shown.
constexpr U8 kPidFiltered = 1;

// The overflow rule of an output channel: the configured (routing-table) rate
// exceeds 98 % of the total rate the modulator carries. The product is taken
// in double precision, rounded to single precision and truncated, as the
// status pages and the board MIB have always compared it.
constexpr BOOL TSP_IsChannelOverflow(U32 u32TotalBitRate, U32 u32ConfiguredBitRate) {
    return static_cast<U32>(static_cast<float>(u32TotalBitRate * 0.98)) < u32ConfiguredBitRate ? 1 : 0;
}

// Fills the view of the channel's output stream from `model` (live or
// temporary), after zeroing it: valid flag 1, or 255 with result 0 when the
// channel has no stream; pass-through flag 1 with its source, else 255;
// stream IDs, modulation mode, TDT switch, frequency; total and effective rate
// (160T status, kbit/s) and the overflow flag (TSP_IsChannelOverflow with the
// main FPGA's configured rate); the other PIDs (old PID = PID, type 6); every program with its unfiltered elementary streams (old =
// current values; type 0 for a video stream type, 1 otherwise). A walker's
// code otherwise.
U32 TSP_SendTSInfoToWeb(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo, Output_TSInfo* pstParamTS);
// The program view and the PID view are for the web pages.
// The view of the program with that service ID on the channel's stream of
// `model`; 0xC0018 when the stream has no such program; 0 with a zeroed view
// when the channel has no stream.
U32 TSP_SendProgramInfoToWeb(U16 u16Channel, U16 u16ServiceID, Output_WebProgramInfo* pstWebProgramInfo,
                             Output_TSInfo* pstParamTS);
// The PIDs of the channel's stream in the live model, at most 500, sorted by
// PID, with the records sharing each, each with its rate and continuity-error
// count from the main FPGA's PID meter; the total is the channel's total rate
// from the 160T status. u8ValidFlag 255 when there is no stream.
U32 TSP_SendTSBitInfoToWeb(U16 u16Channel, Output_WebTSBitInfo* pstBitInfo);

}  // namespace hx

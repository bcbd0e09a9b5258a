// Web report records of the output model: the views the web pages, the LED
// monitor and the SNMP agent read, filled from the live or temporary model.
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
    PRIVATE_DATA_PID = 17,
};

struct Output_WebPIDInfo {
    U8 u8StreamType;
    U16 u16OldPID;
    U16 u16PID;
    U8 u8PIDType;
};

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
    Output_WebPIDInfo arOutputESInfo[20];
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

// Fills the view of the channel's output stream from `model`, after zeroing it.
U32 TSP_SendTSInfoToWeb(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo, Output_TSInfo* pstParamTS);
U32 TSP_SendTSBitInfoToWeb(U16 u16Channel, Output_WebTSBitInfo* pstBitInfo);

}  // namespace hx

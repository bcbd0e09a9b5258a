#include "engine/web_report.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/board.h"
#include "platform/fpga_meter.h"
#include "platform/qam.h"
#include "platform/qam_params.h"

namespace hx {

namespace {

constexpr U32 kPortChannels = 16;

bool IsVideoStreamType(U8 streamType) {
    switch (streamType) {
        case 0x01:  // MPEG-1 video
        case 0x02:  // MPEG-2 video
        case 0x10:  // MPEG-4 part 2
        case 0x1B:  // H.264
        case 0x24:  // HEVC
        case 0x42:  // AVS
        case 0x80:  // DigiCipher II video
        case 0xEA:  // VC-1
            return true;
        default:
            return false;
    }
}

U8 EsViewType(U8 streamType) { return IsVideoStreamType(streamType) ? VIDEO_PID : AUDIO_PID; }

U32 FillProgramView(const Output_TSInfo* model, U16 programIndex, U16 channel, Output_WebProgramInfo* view) {
    const Output_TSProgram& program = model->pOutputProgram[programIndex];
    const auto name = ProgramServiceName(program);
    const auto provider = ProgramServiceProvider(program);
    view->u8ServiceNameLen = static_cast<U8>(name.size());
    view->u8ServiceProviderLen = static_cast<U8>(provider.size());
    std::copy(name.begin(), name.end(), view->aru8ServiceName);
    std::copy(provider.begin(), provider.end(), view->aru8ServiceProvider);
    view->u16Channel = channel;
    view->u8SourceSlot = program.u8SourceSlotID;
    view->u8SourcePort = program.u8SrcPort;
    view->u16SourceChannel = program.u16WebChannel;
    // The view's old values are what an edit identifies the program by.
    view->u16OldServiceID = view->u16ServiceID = program.u16ServiceID;
    view->u16OldPCRPID = view->u16PCRPID = program.u16PCRPID;
    view->u16OldPMTPID = view->u16PMTPID = program.u16PMTPID;
    view->u16MajorChannelNum = program.u16MajorChannelNum;
    view->u16MinorChannelNum = program.u16MinorChannelNum;
    view->u8ServiceType = program.u8ServiceType;
    IndexInfoList list;
    if (const U32 result = TSP_GetOutProgESPIDIndexList(programIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutProgESPIDIndexList return error\r\n\n");
        return result;
    }
    view->u16ESNumber = 0;
    for (U16 i = 0; i < list.u16IndexListNum && view->u16ESNumber < kWebEsViews; ++i) {
        const Output_TSPID& es = model->pOutputPID[list.aru16IndexList[i]];
        if (es.u8PIDFilterFlag == kPidFiltered) {
            continue;
        }
        Output_WebPIDInfo& esView = view->arOutputESInfo[view->u16ESNumber++];
        esView.u8StreamType = es.u8StreamType;
        esView.u16OldPID = esView.u16PID = es.u16PID;
        esView.u8PIDType = EsViewType(es.u8StreamType);
    }
    return 0;
}

struct ChannelRates {
    U32 total = 0;
    U32 effective = 0;
    BOOL overflow = 0;
};

// Read before the model lock is taken: the meters have their own lock.
ChannelRates ReadChannelRates(U16 channel) {
    ChannelRates rates;
    if (channel >= BMN_GetOutputChannelNum()) {
        return rates;
    }
    GetChannel_BiteRate(static_cast<U8>(channel), &rates.total, &rates.effective);
    U32 configured = 0;
    U32 fpgaEffective = 0;
    FPGA_GetChannelBitRate(channel, &configured, &fpgaEffective);
    rates.overflow = TSP_IsChannelOverflow(rates.total, configured);
    return rates;
}

struct BitEntry {
    U16 pid;
    U8 type;
    U16 program;  // kChainEnd for stream PIDs
};

// The PID rows of one stream, sorted by PID, one row per PID with the count of
// records sharing it and the first sharer's type and service name.
U32 FillBitViews(const Output_TSInfo* model, U16 tsIndex, Output_WebTSBitInfo* pstBitInfo) {
    std::vector<BitEntry> entries;
    IndexInfoList programs;
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &programs); result != 0) {
        return result;
    }
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        const U16 programIndex = programs.aru16IndexList[p];
        const Output_TSProgram& program = model->pOutputProgram[programIndex];
        entries.push_back({program.u16PMTPID, PMT_TABLE_PID, programIndex});
        if (program.u16PCRIndex != kChainEnd) {
            entries.push_back({program.u16PCRPID, PCR_PID, programIndex});
        }
        if (TSP_GetOutProgESPIDIndexList(programIndex, model, &list) == 0) {
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                const Output_TSPID& es = model->pOutputPID[list.aru16IndexList[i]];
                entries.push_back({es.u16PID, EsViewType(es.u8StreamType), programIndex});
            }
        }
        if (TSP_GetOutProgPSECMPIDIndexList(programIndex, model, &list) == 0) {
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                entries.push_back({model->pOutputPID[list.aru16IndexList[i]].u16PID, PS_ECM_PID, programIndex});
            }
        }
    }
    if (TSP_GetOutTSEMMPIDIndexList(tsIndex, model, &list) == 0) {
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            entries.push_back({model->pOutputPID[list.aru16IndexList[i]].u16PID, EMM_PID, kChainEnd});
        }
    }
    if (TSP_GetOutTSOtherPIDIndexList(tsIndex, model, &list) == 0) {
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            entries.push_back({model->pOutputPID[list.aru16IndexList[i]].u16PID, OTHER_PID, kChainEnd});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const BitEntry& a, const BitEntry& b) { return a.pid < b.pid; });
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t same = i;
        while (same < entries.size() && entries[same].pid == entries[i].pid) {
            ++same;
        }
        if (pstBitInfo->u16PIDNum == kWebPidBitViews) {
            break;
        }
        Output_WebPIDBitInfo& view = pstBitInfo->arPIDBitInfo[pstBitInfo->u16PIDNum++];
        view.u16PID = entries[i].pid;
        view.u8PIDType = entries[i].type;
        view.u16SamePIDNum = static_cast<U16>(same - i);
        if (entries[i].program != kChainEnd) {
            const Output_TSProgram& program = model->pOutputProgram[entries[i].program];
            const auto name = ProgramServiceName(program);
            view.u8ServiceNameLen = static_cast<U8>(name.size());
            std::copy(name.begin(), name.end(), view.aru8ServiceName);
        }
        i = same;
    }
    return 0;
}

}  // namespace

U32 TSP_SendTSInfoToWeb(U16 u16Channel, Output_WebTSInfo* pstWebTSInfo, Output_TSInfo* pstParamTS) {
    if (pstWebTSInfo == nullptr || pstParamTS == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    const ChannelRates rates = ReadChannelRates(u16Channel);
    TSP_ModelLock lock;
    std::memset(pstWebTSInfo, 0, sizeof *pstWebTSInfo);
    pstWebTSInfo->u16Channel = u16Channel;
    pstWebTSInfo->u8Port = static_cast<U8>(u16Channel / kPortChannels);
    const U16 tsIndex = ModelLookup_StreamOfChannel(pstParamTS, u16Channel);
    if (tsIndex == kChainEnd) {
        pstWebTSInfo->u8ValidFlag = 255;
        return 0;
    }
    const Output_TSStream& ts = pstParamTS->pOutputTS[tsIndex];
    pstWebTSInfo->u8ValidFlag = 1;
    if (ts.u8BypassFlag == 1) {
        pstWebTSInfo->u8BypassFlag = 1;
        pstWebTSInfo->u8SourceSlot = ts.u8SrcSlotID;
        pstWebTSInfo->u8SourcePort = ts.u8SrcPort;
        pstWebTSInfo->u16SourceChannel = ts.u16SrcChannelID;
    } else {
        pstWebTSInfo->u8BypassFlag = 255;
    }
    pstWebTSInfo->u16TransportStreamID = ts.u16TransportStreamID;
    pstWebTSInfo->u16OriginalNetworkID = ts.u16OriginalNetworkID;
    pstWebTSInfo->u8ModulationMode = ts.u8ModulationMode;
    pstWebTSInfo->u8TDTGenerate = ts.u8TDTGenerate;
    if (u16Channel < kQamChannelSlots) {
        pstWebTSInfo->u32Frequency = GetQAMPara_Handle()->Frequency[u16Channel].value;
    }
    pstWebTSInfo->u32TotalBitRate = rates.total;
    pstWebTSInfo->u32EffectiveBitRate = rates.effective;
    pstWebTSInfo->bOverFlow = rates.overflow;

    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSOtherPIDIndexList(tsIndex, pstParamTS, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSOtherPIDIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum && pstWebTSInfo->u16PIDNum < kWebPidViews; ++i) {
        const Output_TSPID& pid = pstParamTS->pOutputPID[list.aru16IndexList[i]];
        Output_WebPIDInfo& view = pstWebTSInfo->arOutputPIDInfo[pstWebTSInfo->u16PIDNum++];
        view.u8StreamType = pid.u8StreamType;
        view.u16OldPID = view.u16PID = pid.u16PID;
        view.u8PIDType = OTHER_PID;
    }
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, pstParamTS, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum && pstWebTSInfo->u16ProgramNum < kWebProgramViews; ++i) {
        Output_WebProgramInfo& view = pstWebTSInfo->arOutputProInfo[pstWebTSInfo->u16ProgramNum++];
        if (const U32 result = FillProgramView(pstParamTS, list.aru16IndexList[i], u16Channel, &view); result != 0) {
            return result;
        }
    }
    return 0;
}

U32 TSP_SendProgramInfoToWeb(U16 u16Channel, U16 u16ServiceID, Output_WebProgramInfo* pstWebProgramInfo,
                             Output_TSInfo* pstParamTS) {
    if (pstWebProgramInfo == nullptr || pstParamTS == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    std::memset(pstWebProgramInfo, 0, sizeof *pstWebProgramInfo);
    const U16 tsIndex = ModelLookup_StreamOfChannel(pstParamTS, u16Channel);
    if (tsIndex == kChainEnd) {
        return 0;
    }
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, pstParamTS, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (pstParamTS->pOutputProgram[list.aru16IndexList[i]].u16ServiceID == u16ServiceID) {
            return FillProgramView(pstParamTS, list.aru16IndexList[i], u16Channel, pstWebProgramInfo);
        }
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u],ServiceID[%u] program don't exist\r\n\n", u16Channel,
           u16ServiceID);
    return kTspErrNoProgram;
}

U32 TSP_SendTSBitInfoToWeb(U16 u16Channel, Output_WebTSBitInfo* pstBitInfo) {
    if (pstBitInfo == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    {
        TSP_ModelLock lock;
        std::memset(pstBitInfo, 0, sizeof *pstBitInfo);
        const Output_TSInfo* model = TSP_GetTSParam();
        const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
        if (tsIndex == kChainEnd) {
            pstBitInfo->u8ValidFlag = 255;
            return 0;
        }
        pstBitInfo->u8ValidFlag = 1;
        if (const U32 result = FillBitViews(model, tsIndex, pstBitInfo); result != 0) {
            return result;
        }
    }
    pstBitInfo->u32TotalBitRate = ReadChannelRates(u16Channel).total;
    for (U16 i = 0; i < pstBitInfo->u16PIDNum; ++i) {
        Output_WebPIDBitInfo& view = pstBitInfo->arPIDBitInfo[i];
        FPGA_GetPIDBitInfo(u16Channel, view.u16PID, &view.u32BitRate, &view.U8CcNum);
    }
    return 0;
}

}  // namespace hx

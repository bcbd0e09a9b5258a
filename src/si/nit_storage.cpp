#include "si/nit_storage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/nit_edit.h"
#include "si/si_packet.h"
#include "si/si_regeneration.h"
#include "web/web_value.h"

namespace hx {

namespace {

constexpr U8 kCableDeliveryTag = 0x44;
constexpr U8 kCableDeliveryLength = 11;

// The board's network descriptor; HTTP thread, under the model lock.
dvbpsi_descriptor_t s_stNetworkDescriptor{};

U16& ChainHead(Output_TSStream& ts, TableChainHead head) {
    return head == TableChainHead::Nit ? ts.u16NITIndex : ts.u16TOTIndex;
}

// The live stream on an output channel, 0xFFFF when none.
U16 LiveStreamOfChannel(U32 channel) {
    U16 index = kChainEnd;
    if (channel > 0xFFFF || TSP_GetOutputTSIndexByTS(static_cast<U16>(channel), &index) != 0) {
        return kChainEnd;
    }
    return index;
}

// Walks the NIT chain of a channel's stream in the live model, checking each
// record's section fits its record; calls `each` with every section. The
// caller holds the model lock.
template <typename Each>
U32 ForEachLiveNITSection(U32 channel, const char* function, Each each) {
    const U16 tsIndex = LiveStreamOfChannel(channel);
    if (tsIndex == kChainEnd) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d channel[%u] has no output TS\n", Log_ThreadId(),
                   function, __LINE__, channel);
        return VK_ERR_SIP_NIT_NO_EXIST;
    }
    const Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list{};
    if (const U32 result = TSP_GetOutTSNITTableIndexList(tsIndex, model, &list); result != 0) {
        return result;
    }
    if (list.u16IndexListNum == 0) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d TS dont have any NIT table\n", Log_ThreadId(),
                   function, __LINE__);
        return VK_ERR_SIP_NIT_NO_EXIST;
    }
    const U8 tag = model->pOutputTable[list.aru16IndexList[0]].aru8TableInfo[0];
    if (tag != kNitTableId) {
        log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d not a NIT table,table tag:0x%x\n", Log_ThreadId(),
                   function, __LINE__, tag);
        return VK_ERR_SIP_NIT_NO_EXIST;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U8* section = model->pOutputTable[list.aru16IndexList[i]].aru8TableInfo;
        if (SIP_SectionBytes(section) > kSectionMaxBytes) {
            log_printf(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%ld:%s:%d table[%u] section longer than its record\n",
                       Log_ThreadId(), function, __LINE__, list.aru16IndexList[i]);
            return kTspErrRange;
        }
        if (const U32 result = each(section, SIP_SectionBytes(section)); result != 0) {
            return result;
        }
    }
    return 0;
}

// The whole NIT sections at the start of an imported buffer: they run while
// the byte there is 0x40; one over 1,024 bytes or running past the buffer
// ends the walk and refuses the import.
struct ImportWalk {
    U32 sections = 0;
    U32 bytes = 0;  // of the whole sections; where the refused one starts
    bool refused = false;
};

ImportWalk WalkImport(const U8* buffer, U32 length) {
    ImportWalk walk;
    while (walk.bytes < length && buffer[walk.bytes] == kNitTableId) {
        const U32 left = length - walk.bytes;
        if (left < 3 || SIP_SectionBytes(buffer + walk.bytes) > std::min<U32>(left, kSectionMaxBytes)) {
            walk.refused = true;
            break;
        }
        walk.bytes += SIP_SectionBytes(buffer + walk.bytes);
        ++walk.sections;
    }
    return walk;
}

}  // namespace

U32 TSP_InitOneOutputTable(TSTable* pstTable) {
    if (pstTable == nullptr) {
        return kTspErrInput;
    }
    pstTable->u32StructVersion = 0;
    pstTable->u8ValidFlag = kRecordValid;
    pstTable->u16Index = kChainEnd;
    pstTable->u16NextIndex = kChainEnd;
    pstTable->u16PID = kChainEnd;
    pstTable->u16TableID = kChainEnd;
    pstTable->u16SectionNumber = kChainEnd;
    pstTable->u16LastSectionNumber = kChainEnd;
    return 0;
}

U32 TSP_ReplaceTableChain(Output_TSInfo* pstParamTS, U16 u16OutTSIndex, TableChainHead enHead,
                          std::span<const TSTable> records) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || u16OutTSIndex >= pstParamTS->u32OutputTSNumber ||
        pstParamTS->pOutputTS[u16OutTSIndex].u8ValidFlag != kRecordValid || records.size() > kIndexListSize) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,u16OutTSIndex[%u],records[%zu]\n", u16OutTSIndex,
               records.size());
        return kTspErrInput;
    }
    const U16 count = static_cast<U16>(records.size());
    IndexInfoList list{};
    if (const U32 result = ModelPool_GetUnusedTableList(pstParamTS, count, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "ModelPool_GetUnusedTableList Error:enErrCode[%X],count[%u]\n",
               result, count);
        return result;
    }
    const U32 released = enHead == TableChainHead::Nit ? TSP_DelOutputNitTable(u16OutTSIndex, pstParamTS)
                                                       : TSP_DelOutputTOTTable(u16OutTSIndex, pstParamTS);
    if (released != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "old table chain of TS[%u] not released, enErrCode[%X]\n",
               u16OutTSIndex, released);
        return released;
    }
    for (U16 i = 0; i < count; ++i) {
        TSTable record = records[i];
        TSP_InitOneOutputTable(&record);
        record.u16Index = list.aru16IndexList[i];
        record.u16NextIndex = i + 1 < count ? list.aru16IndexList[i + 1] : kChainEnd;
        pstParamTS->pOutputTable[record.u16Index] = record;
    }
    ChainHead(pstParamTS->pOutputTS[u16OutTSIndex], enHead) = count == 0 ? kChainEnd : list.aru16IndexList[0];
    return 0;
}

bool TSP_SectionsToRecords(const U8* pu8Sections, U32 u32Length, U8 u8TableId, U8 u8TableType, U8 u8ChangedByUser,
                           U16 u16Channel, U16 u16OutTSIndex, std::vector<TSTable>& records) {
    records.clear();
    for (U32 offset = 0; offset < u32Length;) {
        if (pu8Sections == nullptr || u32Length - offset < 3 || pu8Sections[offset] != u8TableId) {
            return false;
        }
        const U16 bytes = SIP_SectionBytes(pu8Sections + offset);
        if (bytes > kSectionMaxBytes || bytes > u32Length - offset) {
            return false;
        }
        TSTable& record = records.emplace_back();
        record.u16ChannelID = u16Channel;
        record.u16TSIndex = u16OutTSIndex;
        record.u8TableType = u8TableType;
        record.u8IsChangedByUser = u8ChangedByUser;
        record.u16TableInfoLen = bytes;
        std::memcpy(record.aru8TableInfo, pu8Sections + offset, bytes);
        offset += bytes;
    }
    return true;
}

U32 TSP_GetOutputNITTable(U16 u16OutTSIndex, const Output_TSInfo* pstParamTS, NITBuf_t* pstNitBuf) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstParamTS == nullptr || pstNitBuf == nullptr || u16OutTSIndex >= pstParamTS->u32OutputTSNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,u16OutTSIndex[%u]\n", u16OutTSIndex);
        return kTspErrInput;
    }
    IndexInfoList list{};
    if (const U32 result = TSP_GetOutTSNITTableIndexList(u16OutTSIndex, pstParamTS, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSNITTableIndexList Error:enErrCode[%X]\n", result);
        return result;
    }
    if (list.u16IndexListNum == 0 || pstParamTS->pOutputTable[list.aru16IndexList[0]].aru8TableInfo[0] != kNitTableId) {
        HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_TSPROCESS, "TS dont have any nit table\n");
        return 1;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const TSTable& table = pstParamTS->pOutputTable[list.aru16IndexList[i]];
        if (table.u8TableType != kNitTableType) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Error !!!! The table not a NIT table!!!\n");
            return kTspErrCount;
        }
        const U16 bytes = SIP_SectionBytes(table.aru8TableInfo);
        const U32 offset = pstNitBuf->u32OutputNITSectionOffset;
        if (bytes > kSectionMaxBytes || offset > kNitBufBytes || bytes > kNitBufBytes - offset) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT of TS[%u] over %u bytes\n", u16OutTSIndex, kNitBufBytes);
            return kTspErrRange;
        }
        std::memcpy(pstNitBuf->aru8OutputNITSection + offset, table.aru8TableInfo, bytes);
        pstNitBuf->u32OutputNITSectionOffset = offset + bytes;
        pstNitBuf->u16NITLength = static_cast<U16>(pstNitBuf->u32OutputNITSectionOffset);
    }
    return 0;
}

U32 TSP_ConstructOutputTSByAddNITTable(U8* u8Buffer, U16 u16Number, U16 u16Length) {
    if (u8Buffer == nullptr || u16Number == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error u8Buffer[%p],u16Number[%u]\r\n\n",
               static_cast<void*>(u8Buffer), u16Number);
        return kTspErrInput;
    }
    const U32 needed = static_cast<U32>(u16Number) * kTspTableRecordSize;
    if (u16Length < needed) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "IP Table data length u16Length[%u] smaller than structure[%u]\r\n\n", u16Length, needed);
        return kNitErrLength;
    }
    std::vector<TSTable> records(u16Number);
    std::memcpy(records.data(), u8Buffer, needed);
    const U16 channel = records[0].u16ChannelID;
    for (const TSTable& record : records) {
        if (record.u16ChannelID != channel) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT records for channels [%u] and [%u] in one message\r\n\n",
                   channel, record.u16ChannelID);
            return kTspErrInput;
        }
        if (SIP_Length12(record.aru8TableInfo + 1) > kSectionMaxLength) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT section_length[%u] over %u\r\n\n",
                   SIP_Length12(record.aru8TableInfo + 1), kSectionMaxLength);
            return kTspErrRange;
        }
    }
    TSP_ModelLock lock;
    const U16 tsIndex = LiveStreamOfChannel(channel);
    if (tsIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "[TSP_ConstructOutputTSByAddTable] error,table ts not found\r\n\n");
        return kNitErrNoStream;
    }
    return TSP_ReplaceTableChain(TSP_GetTSParam(), tsIndex, TableChainHead::Nit, records);
}

BOOL TSP_IsNITTableChangedByUser(U16 u16OutTSIndex) {
    return TSP_IsTableChainChangedByUser(TableChainHead::Nit, u16OutTSIndex);
}

BOOL TSP_IsTableChainChangedByUser(TableChainHead enHead, U16 u16OutTSIndex) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list{};
    const U32 walked = enHead == TableChainHead::Nit ? TSP_GetOutTSNITTableIndexList(u16OutTSIndex, model, &list)
                                                     : TSP_GetOutTSTOTTableIndexList(u16OutTSIndex, model, &list);
    if (walked != 0) {
        return HX_FALSE;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (model->pOutputTable[list.aru16IndexList[i]].u8IsChangedByUser == 1) {
            return HX_TRUE;
        }
    }
    return HX_FALSE;
}

U32 TSP_ConstructNIT(U32 u32OutputTsIndex) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    if (u32OutputTsIndex >= model->u32OutputTSNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,u32OutputTsIndex[%u]\n", u32OutputTsIndex);
        return kTspErrInput;
    }
    const U16 tsIndex = static_cast<U16>(u32OutputTsIndex);
    if (IsPSITableInOtherPID(tsIndex, kNitPid) && TSP_IsNITTableChangedByUser(tsIndex) != HX_TRUE) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "OutTSIndex:%d  exist NIT in other pid and not changed\n", tsIndex);
        return 0;
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    if (Resource_GetSIMode() == kSiModeAtsc || ts.u8NITGenerate != 1) {
        return 0;
    }
    const auto buffer = std::make_unique<NITBuf_t>();
    buffer->u16NITLength = 0;
    buffer->u32OutputNITSectionOffset = 0;
    const U32 gathered = TSP_GetOutputNITTable(tsIndex, model, buffer.get());
    if (gathered == 1) {
        return 0;
    }
    if (gathered != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputNITTable OutTSIndex:%d fail[%X]\n", tsIndex,
               gathered);
        return gathered;
    }
    ts.u8NITChangeFlag = 0;
    if (const U32 queued = SSD_AddBroadcastSI(buffer->aru8OutputNITSection, buffer->u16NITLength, tsIndex, kNitPid);
        queued != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "SSD_AddBroadcastSI OutTSIndex:%d NIT fail[%X]\n", tsIndex,
               queued);
    }
    return 0;
}

U32 TSP_EditNITVersionNum(U16 u16Channel, U16 u16VersionNum, U16 u16NetworkID) {
    if (u16VersionNum >= 32) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_EditNITVersionNum error param\n");
        return VK_ERR_PARAMS;
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    if (tsIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_EditNITVersionNum error param\n");
        return VK_ERR_PARAMS;
    }
    const U32 result = NIT_EditTemporary(__func__, u16Channel, {true, 0, u16NetworkID}, [&](std::vector<U8>& section) {
        PutBe16(section.data() + 3, u16NetworkID);
        section[5] = static_cast<U8>((section[5] & 0xC1) | (u16VersionNum << 1));
        return U32{0};
    });
    if (result == 0) {
        model->pOutputTS[tsIndex].u8NITVersionNumber = static_cast<U8>(u16VersionNum);
    }
    return result;
}

dvbpsi_descriptor_t* TSP_GetNetworkDescriptor_Handle() { return &s_stNetworkDescriptor; }

U32 TSP_SetNetworkDescriptor(const dvbpsi_descriptor_t* pstDescriptor) {
    if (pstDescriptor == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_NetworkDescpritor  error\n");
        return kTspErrInput;
    }
    if (IsQuenlorCustom() == HX_TRUE) {
        TSP_ModelLock lock;
        s_stNetworkDescriptor = *pstDescriptor;
    }
    return 0;
}

U32 TSP_ConstructCableDeliverySystemDescriptor(U32 u32OutTSChannel, U32 u32OutNITIndex, U32 u32EnableChannel) {
    const TParameter_QAM* qam = GetQAMPara_Handle();
    if (qam == nullptr || u32EnableChannel >= kQamChannelSlots || u32OutTSChannel > 0xFFFF) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "QAM parameters missing or channel[%u] out of range\n",
               u32EnableChannel);
        return kTspErrInput;
    }
    const U32 group = u32EnableChannel / 8;
    dvbpsi_descriptor_t descriptor{};
    descriptor.i_tag = kCableDeliveryTag;
    descriptor.i_length = kCableDeliveryLength;
    // Frequency in units of 100 Hz (kHz × 10), eight BCD digits.
    PutBe32(descriptor.auc_data, Bcd2Hex(qam->Frequency[u32EnableChannel].value * 10));
    descriptor.auc_data[4] = 0xFF;
    descriptor.auc_data[5] = 0xF0;  // FEC_outer 0: not defined
    descriptor.auc_data[6] = static_cast<U8>(qam->Constellation[group].value + 1);
    // Seven BCD digits of ksymbol/s × 10 (100 symbol/s units), FEC_inner 0 below them.
    PutBe32(descriptor.auc_data + 7, Bcd2Hex(qam->SymbolRate[group].value / 1000 * 10) << 4);
    if (const U32 result = TSP_AddDescriptor2NIT_Ts(static_cast<U16>(u32OutTSChannel), u32OutNITIndex, &descriptor);
        result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddDescriptor2NIT_Ts channel[%u] entry[%u] fail[%X]\n",
               u32OutTSChannel, u32OutNITIndex, result);
    }
    return 0;
}

U32 TSP_AutoAddCableDeliverySystemDescriptor2NIT(U32 u32OutTSChannel) {
    TSP_ModelLock lock;
    const U16 channel = static_cast<U16>(u32OutTSChannel);
    if (const U32 result = SIP_ConstructNITTable(channel, 0); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "SIP_ConstructNITTable channel[%u] fail[%X]\n", u32OutTSChannel,
               result);
        return result;
    }
    if (s_stNetworkDescriptor.i_length != 0) {
        if (const U32 result = TSP_AddNetworkDescriptor(channel, s_stNetworkDescriptor); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddNetworkDescriptor channel[%u] fail[%X]\n",
                   u32OutTSChannel, result);
        }
    }
    const Output_TSInfo* model = TSP_GetTempTSParam();
    U32 entry = 0;
    for (U32 i = 0; i < model->u32OutputTSNumber; ++i) {
        const Output_TSStream ts = model->pOutputTS[i];
        if (ts.u8ValidFlag != kRecordValid) {
            continue;
        }
        if (const U32 result = TSP_AddNIT_TS(channel, ts.u16TransportStreamID, ts.u16OriginalNetworkID); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddNIT_TS channel[%u] TS[%u] fail[%X]\n",
                   u32OutTSChannel, i, result);
            continue;
        }
        TSP_ConstructCableDeliverySystemDescriptor(u32OutTSChannel, entry, ts.u16ChannelID);
        ++entry;
    }
    if (const U32 result = TSP_CopyOutputTSInfo(); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_CopyOutputTSInfo fail[%X]\n", result);
        return result;
    }
    return 0;
}

U32 TSP_DelOneNITInfo(U16 u16OutTsIndex) {
    TSP_ModelLock lock;
    return TSP_DelOutputNitTable(u16OutTsIndex, TSP_GetTempTSParam());
}

U32 TSP_GetExportNITLength(U32 nChannel, U16* pu16Length) {
    if (pu16Length == nullptr) {
        return kTspErrInput;
    }
    *pu16Length = 0;
    TSP_ModelLock lock;
    U32 total = 0;
    const U32 result = ForEachLiveNITSection(nChannel, __func__, [&](const U8*, U16 bytes) {
        total += bytes;
        if (total > kNitBufBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT of channel[%u] over %u bytes\n", nChannel, kNitBufBytes);
            return kTspErrRange;
        }
        return U32{0};
    });
    if (result == 0) {
        *pu16Length = static_cast<U16>(total);
    }
    return result;
}

U32 TSP_GetExportNITBuf(U32 nChannel, U8* pOutBuf, U16 u16BufLen) {
    if (pOutBuf == nullptr) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    U32 written = 0;
    return ForEachLiveNITSection(nChannel, __func__, [&](const U8* section, U16 bytes) {
        if (written + bytes > u16BufLen) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT of channel[%u] longer than the buffer of %u bytes\n",
                   nChannel, u16BufLen);
            return kTspErrRange;
        }
        std::memcpy(pOutBuf + written, section, bytes);
        written += bytes;
        return U32{0};
    });
}

U32 TSP_GetImportNITSectionCnt(const U8* pNITBuf, U32 u32Length) {
    return pNITBuf == nullptr ? 0 : WalkImport(pNITBuf, u32Length).sections;
}

U32 TSP_AddNITByImport(U32 nChannel, const U8* pNITBuf, U32 u32Length) {
    if (pNITBuf == nullptr || nChannel > 0xFFFF) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error,nChannel[%u]\n", nChannel);
        return kTspErrInput;
    }
    const ImportWalk walk = WalkImport(pNITBuf, u32Length);
    if (walk.refused) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
               "NIT section at [%u] over %u bytes or past the buffer of %u bytes\n", walk.bytes, kSectionMaxBytes,
               u32Length);
        return kTspErrRange;
    }
    const U32 length = walk.bytes;
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, static_cast<U16>(nChannel));
    if (tsIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%u] has no output TS\n", nChannel);
        return kTspErrInput;
    }
    std::vector<TSTable> records;
    TSP_SectionsToRecords(pNITBuf, length, kNitTableId, kNitTableType, 1, static_cast<U16>(nChannel), tsIndex, records);
    return TSP_ReplaceTableChain(model, tsIndex, TableChainHead::Nit, records);
}

}  // namespace hx

#include "chassis/eit_list.h"

#include <algorithm>
#include <cstring>

#include "core/common_fun.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/resource.h"

namespace hx {

std::array<U8, kEitRecordSize> EIT_Serialize(const Output_EIT& record) {
    std::array<U8, kEitRecordSize> out{};
    out[0] = record.u8Enable;
    out[1] = record.u8ValidFlag;
    out[2] = record.u8SourceSlotID;
    out[3] = record.u8EitSlotID;
    out[4] = record.u8SlotID;
    out[5] = record.u8SrcPort;
    PutLe16(out.data() + 6, record.u16SourceChannelID);
    PutLe16(out.data() + 8, record.u16EitChannelID);
    PutLe16(out.data() + 10, record.u16ChannelID);
    PutLe16(out.data() + 12, record.u16SrcStreamId);
    PutLe16(out.data() + 14, record.u16TSIndex);
    PutLe16(out.data() + 16, record.u16Index);
    PutLe16(out.data() + 18, record.u16ProgramID);
    PutLe16(out.data() + 20, record.u16NextIndex);
    PutLe16(out.data() + 22, record.u16OldServiceID);
    PutLe16(out.data() + 24, record.u16ServiceID);
    PutLe16(out.data() + 26, record.u16TransportStreamID);
    PutLe16(out.data() + 28, record.u16OriginalNetworkId);
    out[30] = record.u8ServiceNameLen;
    out[31] = record.u8ServiceProviderLen;
    std::copy(record.aru8ServiceName.begin(), record.aru8ServiceName.end(), out.begin() + 32);
    std::copy(record.aru8ServiceProvider.begin(), record.aru8ServiceProvider.end(), out.begin() + 64);
    out[96] = record.u8EitVersionNumber;
    return out;
}

Output_EIT EIT_Parse(const U8* bytes) {
    Output_EIT record;
    record.u8Enable = bytes[0];
    record.u8ValidFlag = bytes[1];
    record.u8SourceSlotID = bytes[2];
    record.u8EitSlotID = bytes[3];
    record.u8SlotID = bytes[4];
    record.u8SrcPort = bytes[5];
    record.u16SourceChannelID = GetLe16(bytes + 6);
    record.u16EitChannelID = GetLe16(bytes + 8);
    record.u16ChannelID = GetLe16(bytes + 10);
    record.u16SrcStreamId = GetLe16(bytes + 12);
    record.u16TSIndex = GetLe16(bytes + 14);
    record.u16Index = GetLe16(bytes + 16);
    record.u16ProgramID = GetLe16(bytes + 18);
    record.u16NextIndex = GetLe16(bytes + 20);
    record.u16OldServiceID = GetLe16(bytes + 22);
    record.u16ServiceID = GetLe16(bytes + 24);
    record.u16TransportStreamID = GetLe16(bytes + 26);
    record.u16OriginalNetworkId = GetLe16(bytes + 28);
    record.u8ServiceNameLen = bytes[30];
    record.u8ServiceProviderLen = bytes[31];
    std::copy(bytes + 32, bytes + 64, record.aru8ServiceName.begin());
    std::copy(bytes + 64, bytes + 96, record.aru8ServiceProvider.begin());
    record.u8EitVersionNumber = bytes[96];
    return record;
}

std::vector<Output_EIT> EIT_BuildList() {
    std::vector<Output_EIT> records;
    const TResource_TS* self = Resource_getSelfHandle();
    const U16 channels = self == nullptr ? 0 : self->u16OutputChannelNum;
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    for (U16 channel = 0; channel < channels; ++channel) {
        U16 streamIndex = 0;
        if (const U32 result = TSP_GetOutputTSIndexByTS(channel, &streamIndex); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputTSIndexByTS return error[0x%x]\n", result);
            continue;
        }
        if (streamIndex >= live->u32OutputTSNumber) {
            continue;
        }
        const Output_TSStream& stream = live->pOutputTS[streamIndex];
        if (stream.u8ValidFlag != 1 || stream.u8BypassFlag != 0) {
            continue;
        }
        IndexInfoList programs{};
        if (const U32 result = TSP_GetOutTSProgIndexList(streamIndex, live, &programs); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "TS[%d] TSP_GetOutTSProgIndexList fail error[0x%x]\n", streamIndex,
                   result);
            continue;
        }
        if (records.size() + programs.u16IndexListNum > kEitMaxRecords) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "u32OutputEITNumber out of range[%u]!\n", kEitMaxRecords);
            break;
        }
        for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
            const Output_TSProgram& program = live->pOutputProgram[programs.aru16IndexList[i]];
            Output_EIT record;
            record.u8SourceSlotID = program.u8SourceSlotID;
            record.u8SlotID = program.u8SlotID;
            record.u8SrcPort = program.u8SrcPort;
            record.u16SourceChannelID = program.u16SourceChannelID;
            record.u16ChannelID = program.u16ChannelID;
            record.u16SrcStreamId = program.u16SrcStreamId;
            record.u16TSIndex = program.u16TSIndex;
            record.u16Index = static_cast<U16>(records.size());
            record.u16ProgramID = program.u16ProgramID;
            record.u16OldServiceID = program.u16OldServiceID;
            record.u16ServiceID = program.u16ServiceID;
            record.u16TransportStreamID = stream.u16TransportStreamID;
            record.u16OriginalNetworkId = stream.u16OriginalNetworkID;
            const auto name = ProgramServiceName(program);
            const auto provider = ProgramServiceProvider(program);
            record.u8ServiceNameLen = static_cast<U8>(name.size());
            record.u8ServiceProviderLen = static_cast<U8>(provider.size());
            std::copy(name.begin(), name.end(), record.aru8ServiceName.begin());
            std::copy(provider.begin(), provider.end(), record.aru8ServiceProvider.begin());
            record.u8EitVersionNumber = static_cast<U8>((stream.u8SDTVersionNumber + 1) & 0x1F);
            records.push_back(record);
        }
    }
    return records;
}

std::vector<U8> EIT_Message(const std::vector<Output_EIT>& records) {
    std::vector<U8> message(4 + kEitRecordSize * records.size());
    PutLe32(message.data(), static_cast<U32>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto bytes = EIT_Serialize(records[i]);
        std::copy(bytes.begin(), bytes.end(), message.begin() + 4 + static_cast<std::ptrdiff_t>(kEitRecordSize * i));
    }
    return message;
}

}  // namespace hx

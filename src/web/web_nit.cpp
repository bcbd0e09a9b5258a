// Requests of the NIT pages (web/web_nit.h).
//
// Every descriptor a request builds is checked whole before anything changes:
// its data must fit the 8-bit length (and auc_data), hexadecimal texts must be
// hexadecimal, and a delivery-system descriptor must hold the BCD fields it
// writes with values that have the digits for them. Numbers that address a
// channel, an entry or a descriptor are taken only as whole numbers in range;
// anything else addresses nothing, so it never lands on channel or entry 0.
#include "web/web_nit.h"

#include <cJSON.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_records.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "si/nit_edit.h"
#include "si/nit_storage.h"
#include "web/user_authority.h"
#include "web/web_model.h"
#include "web/web_reply.h"
#include "web/web_text.h"
#include "web/web_value.h"

namespace hx {

namespace {

// An entry or descriptor index that no NIT has: what a number that addresses
// nothing becomes, so the operation answers as for a missing one.
constexpr U32 kNoIndex = 0xFFFFFFFF;
constexpr U32 kLastIndex = kNoIndex - 1;
constexpr std::size_t kMaxDescriptorData = 255;
constexpr U8 kNetworkNameTag = 0x40;
constexpr U8 kSatelliteDeliveryTag = 0x43;
constexpr U8 kCableDeliveryTag = 0x44;
constexpr int kActualNitTableId = 0x40;
// Frequency (bytes 0-3), orbital position (4-5), symbol rate and FEC inner (7-10).
constexpr int kDeliveryDataBytes = 11;
// What the BCD fields hold: eight, four and seven decimal digits.
constexpr double kMaxFrequencyField = 99999999;
constexpr double kMaxOrbitalField = 9999;
constexpr double kMaxSymbolRateField = 9999999;

// The descriptors the requests build: "SetLCN.w" its first into the temporary
// one and its second into the other, "AddDescriptor.w" and "AddNITNetwork.w"
// into the other. HTTP server thread only.
dvbpsi_descriptor_t s_stDescriptor{};
dvbpsi_descriptor_t s_stTmpDescriptor{};

bool ReadIndex(const cJSON* body, const char* key, U32* index) {
    std::optional<U32> value;
    if (!web_ReadIndex(body, key, kLastIndex, &value)) {
        return false;
    }
    *index = value.value_or(kNoIndex);
    return true;
}

bool IsHexText(std::string_view text) {
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// Characters of a UTF-8 text (every byte that does not continue one).
std::size_t Utf8Characters(const U8* text, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        count += (text[i] & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

// Characters of a name as web_UTF8ToServiceName stores it.
std::size_t StoredNameCharacters(const U8* name, std::size_t length) {
    if (length == 0) {
        return 0;
    }
    switch (name[0]) {
    case 0x15:
        return Utf8Characters(name + 1, length - 1);
    case 0x01:
        return length - 1;
    case 0x13: {
        std::size_t count = 0;
        for (std::size_t i = 1; i < length; i += name[i] < 0x80 ? 1 : 2) {
            ++count;
        }
        return count;
    }
    default:
        return length;
    }
}

// A network name as the descriptor's data. False when the stored form would
// pass 255 bytes or the conversion had to cut the name.
bool TakeNetworkName(const char* text, dvbpsi_descriptor_t& descriptor) {
    const std::size_t length = std::strlen(text);
    const U8* name = web_UTF8ToServiceName(text, static_cast<U32>(length));
    const std::size_t bytes = std::strlen(reinterpret_cast<const char*>(name));
    if (bytes > kMaxDescriptorData ||
        StoredNameCharacters(name, bytes) < Utf8Characters(reinterpret_cast<const U8*>(text), length)) {
        return false;
    }
    descriptor.i_length = static_cast<U8>(bytes);
    std::memcpy(descriptor.auc_data, name, bytes);
    return true;
}

// Pairs of hexadecimal digits as the descriptor's data.
bool TakeHexData(const char* text, dvbpsi_descriptor_t& descriptor) {
    const std::string_view digits(text);
    if (digits.size() % 2 != 0 || digits.size() / 2 > kMaxDescriptorData || !IsHexText(digits)) {
        return false;
    }
    descriptor.i_length = static_cast<U8>(digits.size() / 2);
    for (std::size_t i = 0; i < descriptor.i_length; ++i) {
        descriptor.auc_data[i] = x2c(text + 2 * i);
    }
    return true;
}

// A "data" array as the descriptor's data: one byte per item (its integer
// value's low 8 bits, 0 for an item that is no number). False past 255 items.
bool TakeDataArray(const cJSON* array, dvbpsi_descriptor_t& descriptor) {
    const int size = cJSON_GetArraySize(array);
    if (size > static_cast<int>(kMaxDescriptorData)) {
        return false;
    }
    descriptor.i_length = static_cast<U8>(size);
    int i = 0;
    const cJSON* item;
    cJSON_ArrayForEach(item, array) {
        descriptor.auc_data[i++] = cJSON_IsNumber(item) ? static_cast<U8>(item->valueint) : 0;
    }
    return true;
}

// A required number whose integer part, times `scale`, must fit a BCD field
// of at most `max`; the scaled value, or nothing (774).
std::optional<U32> ReadBcdField(const cJSON* body, const char* key, double scale, double max) {
    double value = 0;
    if (!web_ReadDouble(body, key, &value) || !std::isfinite(value)) {
        return std::nullopt;
    }
    const double scaled = std::trunc(value) * scale;
    if (value < 0 || scaled > max) {
        return std::nullopt;
    }
    return static_cast<U32>(scaled);
}

// The symbol rate's seven BCD digits in bytes 7-10 above the FEC inner
// nibble that "data" gave.
void PutSymbolRate(dvbpsi_descriptor_t& descriptor, U32 scaledRate) {
    const U32 fecInner = descriptor.auc_data[10] & 0x0FU;
    PutBe32(descriptor.auc_data + 7, (Bcd2Hex(scaledRate) << 4) | fecInner);
}

// The BCD fields of a satellite or cable delivery system descriptor; 774 for
// a field the data do not reach or a value its digits cannot hold.
U32 FillDeliveryFields(const cJSON* body, dvbpsi_descriptor_t& descriptor) {
    const bool satellite = descriptor.i_tag == kSatelliteDeliveryTag;
    if (descriptor.i_length < kDeliveryDataBytes) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const std::optional<U32> frequency = ReadBcdField(body, "frequency", satellite ? 100 : 10, kMaxFrequencyField);
    if (!frequency) {
        return VK_ERR_WEB_POST_PARAM;
    }
    PutBe32(descriptor.auc_data, Bcd2Hex(*frequency));
    if (satellite) {
        const std::optional<U32> orbital = ReadBcdField(body, "orbitalposition", 10, kMaxOrbitalField);
        if (!orbital) {
            return VK_ERR_WEB_POST_PARAM;
        }
        PutBe16(descriptor.auc_data + 4, static_cast<U16>(Bcd2Hex(*orbital)));
    }
    double rate = 0;
    if (!web_ReadDouble(body, "symbolrate", &rate) || !(rate >= 0)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const std::optional<U32> scaledRate = ReadBcdField(body, "symbolrate", 10, kMaxSymbolRateField);
    if (!scaledRate) {
        HX_LOG_AS("web_processAddDescriptor", LOG_LEVEL_ERROR, LOG_MODULE_WEB, "%s symbolrate > 0x9999999\n",
                  satellite ? "satellite" : "cable");
        return VK_ERR_WEB_POST_PARAM;
    }
    PutSymbolRate(descriptor, *scaledRate);
    return VK_SUCCESS;
}

// The temporary copy's table records and the stream's NIT head, kept so that
// a pair of descriptors goes in whole or not at all: a lone first logical
// channel number would otherwise go on air with the next apply. Held under
// the model lock.
class TemporaryNitSnapshot {
public:
    explicit TemporaryNitSnapshot(U16 channel) {
        const Output_TSInfo* model = TSP_GetTempTSParam();
        stream_ = ModelLookup_StreamOfChannel(model, channel);
        if (stream_ != kChainEnd) {
            tables_.assign(model->pOutputTable, model->pOutputTable + model->u32OutputTableNumber);
            head_ = model->pOutputTS[stream_].u16NITIndex;
        }
    }

    void Restore() const {
        Output_TSInfo* model = TSP_GetTempTSParam();
        if (stream_ == kChainEnd || model->u32OutputTableNumber < tables_.size()) {
            return;
        }
        std::copy(tables_.begin(), tables_.end(), model->pOutputTable);
        // Records a growth of the pool added were free before the edit.
        std::fill(model->pOutputTable + tables_.size(), model->pOutputTable + model->u32OutputTableNumber,
                  TSTable{});
        model->pOutputTS[stream_].u16NITIndex = head_;
    }

private:
    U16 stream_ = kChainEnd;
    U16 head_ = kChainEnd;
    std::vector<TSTable> tables_;
};

// Either editFlag value, or nothing for another JSON type (which changes
// nothing); false when the member is missing.
bool ReadEditFlag(const cJSON* body, std::optional<bool>* edit) {
    const cJSON* flag = cJSON_GetObjectItem(body, "editFlag");
    if (flag == nullptr) {
        return false;
    }
    *edit = cJSON_IsBool(flag) ? std::optional<bool>(cJSON_IsTrue(flag)) : std::nullopt;
    return true;
}

// ---- GetNIT.w -------------------------------------------------------------------

U32 GetNit(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!channel) {
        return kTspErrInput;
    }
    const auto table = std::make_unique<NITTable_t>();
    {
        TSP_ModelLock lock;
        if (const U32 result = Web_TSP_GetNITTableInfo(*channel, table.get()); result != VK_SUCCESS) {
            return result;
        }
    }
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "networkid", cJSON_CreateNumber(table->u16NetworkId));
    cJSON_AddItemToObject(data, "versionnumber", cJSON_CreateNumber(table->u8VersionNum));
    cJSON* networks = cJSON_CreateArray();
    cJSON_AddItemToObject(data, "networkList", networks);
    cJSON* streams = cJSON_CreateArray();
    cJSON_AddItemToObject(data, "streamList", streams);
    const auto listLoop = [](const U8* loop, U16 length, std::size_t capacity, cJSON* array) {
        return length == 0 || _web_parseDescriptor(loop, std::min<std::size_t>(length, capacity), array) == 0;
    };
    bool parsed = listLoop(table->aru8NetworkInfo, table->u16NetworkInfoLen, sizeof table->aru8NetworkInfo, networks);
    const U16 entries = std::min<U16>(table->u16TPNumber, static_cast<U16>(std::size(table->arstTPData)));
    for (U16 i = 0; parsed && i < entries; ++i) {
        const TSInfoStruct_t& entry = table->arstTPData[i];
        cJSON* item = cJSON_CreateObject();
        cJSON_AddItemToArray(streams, item);
        cJSON_AddItemToObject(item, "originID", cJSON_CreateNumber(entry.u16OriginalNetId));
        cJSON_AddItemToObject(item, "tsid", cJSON_CreateNumber(entry.u16TSID));
        cJSON* descriptors = cJSON_CreateArray();
        cJSON_AddItemToObject(item, "descriptors", descriptors);
        parsed = listLoop(entry.aru8Descriptors, entry.u16DescriptorsLen, sizeof entry.aru8Descriptors, descriptors);
    }
    if (!parsed) {
        cJSON_Delete(data);
        return VK_ERR_WEB_POST_PARAM;
    }
    return web_ReplyData(reply, data);
}

// ---- SetNitVersionNum.w ---------------------------------------------------------

U32 SetNitVersion(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    int networkId = 0;
    int versionNumber = 0;
    if (!web_ReadOutChannel(body, &channel) || !web_ReadInt(body, "networkid", &networkId) ||
        !web_ReadInt(body, "versionnumber", &versionNumber)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!channel) {
        return VK_ERR_PARAMS;
    }
    // A version past 16 bits is out of range, not the version its low bits name.
    long long version = 0;
    if (!web_ReadWholeInt(body, "versionnumber", 0, 0xFFFF, &version)) {
        version = 0xFFFF;
    }
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_EditNITVersionNum(*channel, static_cast<U16>(version), static_cast<U16>(networkId));
        result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

// ---- AddNITNetwork.w / DeleteNITNetwork.w ---------------------------------------

U32 AddNitNetwork(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const char* tag = web_ReadString(body, "tag");
    if (tag == nullptr || std::strlen(tag) != 2 || !IsHexText(tag)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const char* text = web_ReadString(body, "data");
    if (text == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }
    dvbpsi_descriptor_t built{};
    built.i_tag = x2c(tag);
    if (!(built.i_tag == kNetworkNameTag ? TakeNetworkName(text, built) : TakeHexData(text, built))) {
        return VK_ERR_WEB_POST_PARAM;
    }
    s_stDescriptor.i_tag = built.i_tag;
    s_stDescriptor.i_length = built.i_length;
    std::memcpy(s_stDescriptor.auc_data, built.auc_data, built.i_length);

    HX_LOG_AT_AS("web_processAddNITNetwork", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: Service Congfiguration > TS > NIT > Nit Network Descriptor > click Add "
                 "button!(Web_TSP_AddNetworkDescriptor)\r\n");
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_AddNetworkDescriptor(*channel, s_stDescriptor); result != VK_SUCCESS) {
        return result;
    }
    // The first channel's network descriptor is also the one the generated NITs carry.
    if (*channel == 0) {
        Web_TSP_SetNetworkDescriptor(&s_stDescriptor);
    }
    return web_processSuccess(reply);
}

U32 DeleteNitNetwork(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    U32 index = 0;
    if (!web_ReadOutChannel(body, &channel) || !ReadIndex(body, "NIT", &index)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    HX_LOG_AT_AS("web_processDelNITNetwork", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: Service Congfiguration > TS > NIT > NIT Network Descriptor > click Delete Network Descriptor "
                 "button!(Web_TSP_DeleteNetworkDesc)\r\n");
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_DeleteNetworkDesc(*channel, index); result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

// ---- AddNITStream.w / DeleteNITStream.w / DeleteLCN.w ---------------------------

U32 AddNitStream(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    int originalId = 0;
    int transportStreamId = 0;
    if (!web_ReadOutChannel(body, &channel) || !web_ReadInt(body, "originalID", &originalId) ||
        !web_ReadInt(body, "tsid", &transportStreamId)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    HX_LOG_AT_AS("web_processAddNITTS", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: Service Congfiguration > TS > NIT > NIT Stram > click Add button!(Web_TSP_AddNIT_TS)\r\n");
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    if (const U32 result =
            Web_TSP_AddNIT_TS(*channel, static_cast<U16>(transportStreamId), static_cast<U16>(originalId));
        result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

U32 DeleteNitStream(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    U32 index = 0;
    if (!web_ReadOutChannel(body, &channel) || !ReadIndex(body, "NIT", &index)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    HX_LOG_AT_AS("web_processDelNITTS", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: Service Congfiguration > TS > NIT > NIT Stram > click Delete NIT Stream "
                 "button!(Web_TSP_DelOneTSOfNIT)\r\n");
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_DelOneTSOfNIT(*channel, index); result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

U32 DeleteLcn(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    U32 entry = 0;
    U32 descriptor = 0;
    if (!web_ReadOutChannel(body, &channel) || !ReadIndex(body, "NIT", &entry) ||
        !ReadIndex(body, "descriptor", &descriptor)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    HX_LOG_AT_AS("web_processDelLCN", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: Service Congfiguration > TS > NIT > NIT Stram > click Delete LCN Stream "
                 "button!(Web_TSP_DeleteOneTSDescOfNIT)\r\n");
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_DeleteOneTSDescOfNIT(*channel, entry, descriptor); result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

// ---- SetLCN.w -------------------------------------------------------------------

// An optional tag and data pair; false for data too long for one descriptor.
bool ReadOptionalDescriptor(const cJSON* body, const char* tagKey, const char* dataKey,
                            dvbpsi_descriptor_t& descriptor) {
    int tag = 0;
    if (web_ReadInt(body, tagKey, &tag)) {
        descriptor.i_tag = static_cast<U8>(tag);
    }
    const cJSON* data = web_ReadArray(body, dataKey);
    return data == nullptr || TakeDataArray(data, descriptor);
}

U32 SetLcn(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    U32 entry = 0;
    U32 descriptor = 0;
    if (!web_ReadOutChannel(body, &channel) || !ReadIndex(body, "NIT", &entry) ||
        !ReadIndex(body, "descriptor", &descriptor) ||
        !ReadOptionalDescriptor(body, "tagId", "data", s_stTmpDescriptor) ||
        !ReadOptionalDescriptor(body, "tagId2", "data2", s_stDescriptor)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    std::optional<bool> edit;
    if (!ReadEditFlag(body, &edit)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!edit) {
        return web_processSuccess(reply);
    }
    if (*edit) {
        HX_LOG_AT_AS("web_processSetLCN", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > TS > NIT > NIT Stram > Edit LCN Descriptor(%x) > click OK "
                     "button!(Web_TSP_EditOneTSDescOfNIT)\r\n",
                     s_stTmpDescriptor.i_tag);
    } else {
        HX_LOG_AT_AS("web_processSetLCN", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: TSoIP Output > Service Congfiguration > TS > NIT > NIT Stram > Add LCNv2&LCNv1 Descriptor "
                     "> click OK button!(Web_TSP_AddDescriptor2NIT_Ts)\r\n");
    }
    // The second descriptor goes in first.
    std::vector<const dvbpsi_descriptor_t*> steps;
    for (const dvbpsi_descriptor_t* built : {&s_stDescriptor, &s_stTmpDescriptor}) {
        if (built->i_tag != 0) {
            steps.push_back(built);
        }
    }
    if (steps.empty()) {
        return web_processSuccess(reply);
    }
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const TemporaryNitSnapshot before(*channel);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const U32 result = *edit ? Web_TSP_EditOneTSDescOfNIT(*channel, entry, descriptor, steps[i])
                                 : Web_TSP_AddDescriptor2NIT_Ts(*channel, entry, steps[i]);
        if (result != VK_SUCCESS) {
            if (i > 0) {
                before.Restore();
            }
            return result;
        }
    }
    return web_processSuccess(reply);
}

// ---- AddDescriptor.w ------------------------------------------------------------

U32 AddDescriptor(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    U32 entry = 0;
    U32 index = 0;
    int tableIndex = 0;
    int tag = 0;
    int tableId = 0;
    if (!web_ReadOutChannel(body, &channel) || !ReadIndex(body, "NIT", &entry) ||
        !ReadIndex(body, "descriptor", &index) || !web_ReadInt(body, "tableindex", &tableIndex) ||
        !web_ReadInt(body, "tagId", &tag) || !web_ReadInt(body, "tableid", &tableId)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const cJSON* data = web_ReadArray(body, "data");
    dvbpsi_descriptor_t built{};
    if (data == nullptr || !TakeDataArray(data, built)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    built.i_tag = static_cast<U8>(tag);
    if (built.i_tag == kSatelliteDeliveryTag || built.i_tag == kCableDeliveryTag) {
        if (const U32 result = FillDeliveryFields(body, built); result != VK_SUCCESS) {
            return result;
        }
    }
    std::optional<bool> edit;
    if (!ReadEditFlag(body, &edit)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    s_stDescriptor = built;
    if (!edit) {
        return web_processSuccess(reply);
    }
    if (*edit) {
        HX_LOG_AT_AS("web_processAddDescriptor", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > TS > PSI Table(%x) > Stram > Edit Descriptor(%x) > click OK "
                     "button!\r\n",
                     static_cast<unsigned>(tableId), s_stDescriptor.i_tag);
    } else {
        HX_LOG_AT_AS("web_processAddDescriptor", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: TSoIP Output > Service Congfiguration > TS > PSI Table(%x) > Stram > Add Descriptor(%x) > "
                     "click OK button!\r\n",
                     static_cast<unsigned>(tableId), s_stDescriptor.i_tag);
    }
    if (tableId != kActualNitTableId) {
        return web_processSuccess(reply);
    }
    if (!channel) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const U32 result = *edit ? Web_TSP_EditOneTSDescOfNIT(*channel, entry, index, &s_stDescriptor)
                             : Web_TSP_AddDescriptor2NIT_Ts(*channel, entry, &s_stDescriptor);
    if (result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

// ---- AutoGenerateNITDescriptor.w ------------------------------------------------

U32 AutoGenerateNit(cJSON* /*body*/, buffer* reply) {
    {
        TSP_ModelLock lock;
        const Output_TSInfo* model = TSP_GetTempTSParam();
        std::vector<std::pair<U16, U16>> streams;  // record index, output channel
        for (U32 i = 0; i < model->u32OutputTSNumber && i < kPoolCapacityLimit; ++i) {
            const Output_TSStream& stream = model->pOutputTS[i];
            if (stream.u8ValidFlag == kRecordValid && stream.u8BypassFlag != 1) {
                streams.emplace_back(static_cast<U16>(i), stream.u16ChannelID);
            }
        }
        for (const auto& [index, channel] : streams) {
            Web_TSP_DelOneNITInfo(index);
        }
        for (const auto& [index, channel] : streams) {
            Web_TSP_AutoAddCableDeliverySystemDescriptor2NIT(channel);
        }
    }
    // The generation copied the whole temporary copy over the live model,
    // pending stream and program edits included: routing, PSI and the model
    // file must follow it as after any apply.
    if (const U32 result = Web_MuxProcess(); result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

constexpr WebHandlerRules kEdit{.modifyRight = true, .token = true};

}  // namespace

U32 web_processGetNIT(buffer* reply) {
    return web_HandleRequest(reply, {}, GetNit);
}

U32 web_processSetNITVersion(buffer* reply) {
    return web_HandleRequest(reply, kEdit, SetNitVersion);
}

U32 web_processAddNITNetwork(buffer* reply) {
    return web_HandleRequest(reply, kEdit, AddNitNetwork);
}

U32 web_processDelNITNetwork(buffer* reply) {
    return web_HandleRequest(reply, kEdit, DeleteNitNetwork);
}

U32 web_processAddNITTS(buffer* reply) {
    return web_HandleRequest(reply, kEdit, AddNitStream);
}

U32 web_processDelNITTS(buffer* reply) {
    return web_HandleRequest(reply, kEdit, DeleteNitStream);
}

U32 web_processDelLCN(buffer* reply) {
    return web_HandleRequest(reply, kEdit, DeleteLcn);
}

U32 web_processSetLCN(buffer* reply) {
    s_stDescriptor = {};
    s_stTmpDescriptor = {};
    return web_HandleRequest(reply, kEdit, SetLcn);
}

U32 web_processAddDescriptor(buffer* reply) {
    s_stDescriptor = {};
    return web_HandleRequest(reply, kEdit, AddDescriptor);
}

U32 web_processAutoGenerateNITDescriptor(buffer* reply) {
    if (VKUser_GetUser_BoardLevel_ModifyAuthority() != HX_TRUE || IsQuenlorCustom() != HX_TRUE) {
        return VK_ERR_USER_NOT_MODUIFY_AUTHORITY;
    }
    return web_HandleRequest(reply, {}, AutoGenerateNit);
}

// ---- wrappers -------------------------------------------------------------------

U32 Web_TSP_GetNITTableInfo(U16 nChannel, NITTable_t* pstNitTable) {
    return TSP_GetNITTableInfo(nChannel, pstNitTable);
}

U32 Web_TSP_AddNetworkDescriptor(U16 nChannel, dvbpsi_descriptor_t stDescriptor) {
    return TSP_AddNetworkDescriptor(nChannel, stDescriptor);
}

U32 Web_TSP_DeleteNetworkDesc(U16 nChannel, U32 nNetworkDescIndex) {
    return TSP_DeleteNetworkDesc(nChannel, nNetworkDescIndex);
}

U32 Web_TSP_AddNIT_TS(U16 nChannel, U16 u16TransportStreamID, U16 u16OriginalNetworkID) {
    return TSP_AddNIT_TS(nChannel, u16TransportStreamID, u16OriginalNetworkID);
}

U32 Web_TSP_DelOneTSOfNIT(U16 nChannel, U32 nNITTSIndex) {
    return TSP_DelOneTSOfNIT(nChannel, nNITTSIndex);
}

U32 Web_TSP_DeleteOneTSDescOfNIT(U16 nChannel, U32 nNITTSIndex, U32 nNITTSDescIndex) {
    return TSP_DeleteOneTSDescOfNIT(nChannel, nNITTSIndex, nNITTSDescIndex);
}

U32 Web_TSP_AddDescriptor2NIT_Ts(U16 nChannel, U32 nNITTSIndex, const dvbpsi_descriptor_t* pstDescriptor) {
    return TSP_AddDescriptor2NIT_Ts(nChannel, nNITTSIndex, pstDescriptor);
}

U32 Web_TSP_EditOneTSDescOfNIT(U16 nChannel, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                               const dvbpsi_descriptor_t* pstDescriptor) {
    return TSP_EditOneTSDescOfNIT(nChannel, u32NITTSIndex, u32NITTSDescIndex, pstDescriptor);
}

U32 Web_TSP_GetOneTsDescInfo(U16 nSelectOutTSIndex, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                             dvbpsi_descriptor_t* pstDescriptor) {
    return TSP_GetOneTsDescInfo(nSelectOutTSIndex, u32NITTSIndex, u32NITTSDescIndex, pstDescriptor);
}

U32 Web_TSP_EditNITVersionNum(U16 u16Channel, U16 u16VersionNum, U16 u16NetworkID) {
    return TSP_EditNITVersionNum(u16Channel, u16VersionNum, u16NetworkID);
}

U32 Web_TSP_AutoAddCableDeliverySystemDescriptor2NIT(U16 nChannel) {
    return TSP_AutoAddCableDeliverySystemDescriptor2NIT(nChannel);
}

U32 Web_TSP_DelOneNITInfo(U16 u16OutTSIndex) {
    return TSP_DelOneNITInfo(u16OutTSIndex);
}

U32 Web_TSP_SetNetworkDescriptor(const dvbpsi_descriptor_t* pstDescriptor) {
    return TSP_SetNetworkDescriptor(pstDescriptor);
}

}  // namespace hx

#include "chassis/qam_json.h"

#include <cjson/cJSON.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "chassis/param_store.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "web/web_accessors.h"
#include "web/web_value.h"

namespace hx {

namespace {

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDeleter>;

struct JsonTextDeleter {
    void operator()(char* text) const { cJSON_free(text); }
};
using JsonText = std::unique_ptr<char, JsonTextDeleter>;

constexpr U32 kChannelsPerGroup = 8;

void AddNumber(cJSON* object, const char* key, double value) { cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value)); }

// ---- writing ------------------------------------------------------------

// Symbols per second shown in thousands, fraction kept; annex B with
// constellation 1 has a fixed rate the pages know as 5361.
double ShownSymbolRate(const TParameter_QAM& table, U32 group) {
    if (table.Mode[group].value == MODE_QAMB && table.Constellation[group].value == 1) {
        return 5361;
    }
    return table.SymbolRate[group].value / 1000.0;
}

cJSON* QamChannelObject(const TParameter_QAM& table, U32 channel, U32 real, bool fileMembers) {
    const U32 group = real / kChannelsPerGroup;
    cJSON* object = cJSON_CreateObject();
    AddNumber(object, "channel", channel);
    AddNumber(object, "enable", table.ChannelEnable[real].value);
    AddNumber(object, "frequency", table.Frequency[real].value);
    AddNumber(object, "Interweave", table.Interleaver[real].value);
    AddNumber(object, "annexmode", table.Mode[group].value);
    AddNumber(object, "constellation", table.Constellation[group].value);
    AddNumber(object, "symbolrate", ShownSymbolRate(table, group));
    AddNumber(object, "bandwidth", table.Bandwidth[group].value);
    AddNumber(object, "maxbitrate", table.MaxRate[group].value);
    if (fileMembers) {
        AddNumber(object, "insertpsienable", table.InsertPSIEnable[real].value);
    }
    return object;
}

std::string MacText(const U8 (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

// ---- reading ------------------------------------------------------------

// The member when it is a JSON number (names compare without regard to case).
const cJSON* NumberMember(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsNumber(item) ? item : nullptr;
}

const cJSON* ArrayMember(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsArray(item) ? item : nullptr;
}

// Stores the member's value into `target` when it is a number.
void TakeValue(const cJSON* object, const char* key, U32& target) {
    if (const cJSON* item = NumberMember(object, key)) {
        target = static_cast<U32>(item->valueint);
    }
}

// The real channel an item names, from whole numbers before any narrowing:
// nothing for a negative port or channel or a channel beyond `limit`.
std::optional<U32> RealChannel(const cJSON* port, const cJSON* channel, U32 limit) {
    if (port->valueint < 0 || channel->valueint < 0) {
        return std::nullopt;
    }
    const std::int64_t real = std::int64_t{channel->valueint} +
                              std::int64_t{port->valueint} * std::int64_t{_web_GetOutChannelNumbyPort()};
    if (real >= limit) {
        return std::nullopt;
    }
    return static_cast<U32>(real);
}

void RecoverPorts(const cJSON* ports, TParameter_QAM& table) {
    const cJSON* port;
    cJSON_ArrayForEach(port, ports) {
        const cJSON* portNumber = cJSON_IsObject(port) ? NumberMember(port, "port") : nullptr;
        const cJSON* channels = cJSON_IsObject(port) ? ArrayMember(port, "channellist") : nullptr;
        if (portNumber == nullptr || channels == nullptr) {
            continue;
        }
        const cJSON* item;
        cJSON_ArrayForEach(item, channels) {
            const cJSON* channelNumber = NumberMember(item, "channel");
            if (channelNumber == nullptr) {
                continue;
            }
            // The per-channel tables have 32 entries.
            const std::optional<U32> real = RealChannel(portNumber, channelNumber, kQamChannelSlots);
            if (!real) {
                continue;
            }
            TakeValue(item, "enable", table.ChannelEnable[*real].value);
            TakeValue(item, "frequency", table.Frequency[*real].value);
            TakeValue(item, "Interweave", table.Interleaver[*real].value);
            TakeValue(item, "insertpsienable", table.InsertPSIEnable[*real].value);
            // Every item carries its group's values; the group's first channel
            // decides them.
            if (*real % kChannelsPerGroup == 0) {
                DATA_TakeQamGroup(item, table, *real / kChannelsPerGroup);
            }
        }
    }
}

}  // namespace

cJSON* DATA_QamParameterObject(const TParameter_QAM& table, U16 psiInterval, bool fileMembers) {
    cJSON* qam = cJSON_CreateObject();
    if (fileMembers) {
        AddNumber(qam, "standard", table.Standard.value);
        AddNumber(qam, "singlemode", table.SingleMode.value);
    }
    AddNumber(qam, "psiinterval", psiInterval);
    AddNumber(qam, "rflevel", table.PowerLevel.value);
    AddNumber(qam, "channelstandard", table.ATSCChannelMode.value);
    AddNumber(qam, "rflevelversion", Web_GetPowerLevelType());
    AddNumber(qam, "rflevelunittype", table.rflevelunittype.value);
    cJSON* ports = cJSON_CreateArray();
    const U32 channelsPerPort = _web_GetOutChannelNumbyPort();
    for (U32 port = 0; port < _web_GetOutPortNum(); ++port) {
        cJSON* portObject = cJSON_CreateObject();
        AddNumber(portObject, "port", port);
        AddNumber(portObject, "channelnumber", channelsPerPort);
        cJSON* channels = cJSON_CreateArray();
        for (U32 channel = 0; channel < channelsPerPort; ++channel) {
            const U32 real = _web_GetOutRealChannel(port, channel);
            if (real < kQamChannelSlots) {
                cJSON_AddItemToArray(channels, QamChannelObject(table, channel, real, fileMembers));
            }
        }
        cJSON_AddItemToObject(portObject, "channellist", channels);
        cJSON_AddItemToArray(ports, portObject);
    }
    cJSON_AddItemToObject(qam, "portlist", ports);
    return qam;
}

void DATA_TakeQamGroup(const cJSON* item, TParameter_QAM& table, U32 group) {
    TakeValue(item, "annexmode", table.Mode[group].value);
    TakeValue(item, "constellation", table.Constellation[group].value);
    if (const cJSON* rate = NumberMember(item, "symbolrate")) {
        if (table.Mode[group].value == MODE_QAMB && table.Constellation[group].value == 1) {
            table.SymbolRate[group].value = kAnnexBFixedSymbolRate;
        } else {
            web_RoundToU32(rate->valuedouble * 1000, &table.SymbolRate[group].value);
        }
    }
    TakeValue(item, "bandwidth", table.Bandwidth[group].value);
    TakeValue(item, "maxbitrate", table.MaxRate[group].value);
}

void DATA_Save_QAMParameter(cJSON* root) {
    QamApplyGuard apply(QAM_ApplyLock());
    U16 interval = 0;
    Web_GetPSIInterval(&interval);
    cJSON_AddItemToObject(root, "QamParameter", DATA_QamParameterObject(*GetQAMPara_Handle(), interval, true));
}

cJSON* DATA_IPMonitorObject(const QAM_IPMonitorPara& record) {
    cJSON* monitor = cJSON_CreateObject();
    U32 port = 0;
    U32 channel = 0;
    if (_web_GetOutPortAndChannelByRealChannel(record.u8Channel, &port, &channel) == 0) {
        port = 0;
        channel = 0;
    }
    AddNumber(monitor, "port", port);
    AddNumber(monitor, "channel", channel);
    AddNumber(monitor, "enable", record.u8Enable);
    AddNumber(monitor, "destport", record.u16DestPort);
    AddNumber(monitor, "destipaddress", record.u32DestIPAddr);
    AddNumber(monitor, "bitrate", record.u16IP1MaxRate);
    AddNumber(monitor, "ipaddress", record.u32IP1);
    AddNumber(monitor, "netmask", kQamJsonNetmask);
    if (record.u8Mac1LicFlag != 0) {
        cJSON_AddItemToObject(monitor, "mac", cJSON_CreateString(MacText(record.aru8Mac1).c_str()));
    } else {
        AddNumber(monitor, "mac", 0);
    }
    cJSON* ports = cJSON_CreateArray();
    for (U32 webPort = 0; webPort < _web_GetOutPortNum(); ++webPort) {
        cJSON* portObject = cJSON_CreateObject();
        AddNumber(portObject, "port", webPort);
        cJSON* channels = cJSON_CreateArray();
        for (U32 webChannel = 0; webChannel < _web_GetOutChannelNumbyPort(); ++webChannel) {
            cJSON* channelObject = cJSON_CreateObject();
            AddNumber(channelObject, "channel", webChannel);
            cJSON_AddItemToArray(channels, channelObject);
        }
        cJSON_AddItemToObject(portObject, "channellist", channels);
        cJSON_AddItemToArray(ports, portObject);
    }
    cJSON_AddItemToObject(monitor, "portlist", ports);
    return monitor;
}

void DATA_Save_IPMonitorParams(cJSON* root) {
    QamApplyGuard apply(QAM_ApplyLock());
    cJSON_AddItemToObject(root, "IPMonitorParams", DATA_IPMonitorObject(*GetQAMIPMonitor_Handle()));
}

void DATA_Save() {
    // Held through the write too: a slower save of an older snapshot can never
    // land after a newer one, and no save removes another's temporary file.
    QamApplyGuard apply(QAM_ApplyLock());
    JsonTree root(cJSON_CreateObject());
    DATA_Save_QAMParameter(root.get());
    DATA_Save_IPMonitorParams(root.get());
    const JsonText text(cJSON_Print(root.get()));
    if (text == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "print %s failed\n", kQamJsonFilePath);
        return;
    }
    const std::string path = ResolvePath(kQamJsonFilePath);
    File_RemoveStaleTemporaries(path);
    const std::span bytes(reinterpret_cast<const U8*>(text.get()), std::strlen(text.get()));
    if (!File_WriteAtomic(path, bytes)) {
        const int number = errno;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "write file: %s failed: %s(errno: %d)\n", kQamJsonFilePath,
               std::strerror(number), number);
    }
}

U32 DATA_Recovery_QAMParameter(const cJSON* root) {
    const cJSON* qam = cJSON_GetObjectItem(root, "QamParameter");
    if (qam == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Can't find QamParameter\n");
        return VK_ERR_FAILURE;
    }
    QamApplyGuard apply(QAM_ApplyLock());
    TParameter_QAM& table = *GetQAMPara_Handle();
    TakeValue(qam, "standard", table.Standard.value);
    if (const cJSON* item = NumberMember(qam, "singlemode")) {
        Web_SetSingleMode(static_cast<U32>(item->valueint) & 0xFF);
    }
    const cJSON* interval = NumberMember(qam, "psiinterval");
    if (interval == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }
    Web_SetPSIInterval(static_cast<U32>(interval->valueint) & 0xFFFF);
    TakeValue(qam, "rflevel", table.PowerLevel.value);
    TakeValue(qam, "channelstandard", table.ATSCChannelMode.value);
    TakeValue(qam, "rflevelunittype", table.rflevelunittype.value);
    if (const cJSON* ports = ArrayMember(qam, "portlist")) {
        RecoverPorts(ports, table);
    }
    PARAMS_SetQAMParams(&table);
    return VK_SUCCESS;
}

void DATA_Recovery_IPMonitorParams(const cJSON* root) {
    const cJSON* monitor = cJSON_GetObjectItem(root, "IPMonitorParams");
    if (monitor == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Can't find IPMonitorParams\n");
        return;
    }
    QamApplyGuard apply(QAM_ApplyLock());
    QAM_IPMonitorPara& record = *GetQAMIPMonitor_Handle();
    if (const cJSON* item = NumberMember(monitor, "enable")) {
        record.u8Enable = static_cast<U8>(item->valueint);
    }
    if (const cJSON* item = NumberMember(monitor, "destipaddress")) {
        web_RoundToU32(item->valuedouble, &record.u32DestIPAddr);
    }
    const cJSON* port = NumberMember(monitor, "port");
    const cJSON* channel = NumberMember(monitor, "channel");
    if (port != nullptr && channel != nullptr) {
        // Only a channel the board outputs can be monitored.
        if (const std::optional<U32> real = RealChannel(port, channel, _web_GetOutChannelNum())) {
            record.u8Channel = static_cast<U8>(*real);
        }
    }
    if (const cJSON* item = NumberMember(monitor, "destport")) {
        record.u16DestPort = static_cast<U16>(item->valueint);
    }
    if (const cJSON* item = NumberMember(monitor, "bitrate")) {
        record.u16IP1MaxRate = static_cast<U16>(item->valueint);
    }
    PARAMS_SetIPMonitorParams(&record);
}

U32 DATA_Recovery() {
    const std::optional<std::vector<U8>> content = File_ReadAll(ResolvePath(kQamJsonFilePath));
    if (!content) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "open file: %s failed\n", kQamJsonFilePath);
        return VK_ERR_FAILURE;
    }
    // Exactly the file's bytes: a file without a closing NUL is never read
    // past its end.
    const JsonTree root(cJSON_ParseWithLength(reinterpret_cast<const char*>(content->data()), content->size()));
    if (root == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "root parse failed\n\n");
        return VK_ERR_FAILURE;
    }
    QamApplyGuard apply(QAM_ApplyLock());
    DATA_Recovery_QAMParameter(root.get());
    DATA_Recovery_IPMonitorParams(root.get());
    return VK_SUCCESS;
}

}  // namespace hx

// Requests of the board, RF channel and IP monitor pages (web/web_board.h).
//
// The two setters hold the QAM apply lock from their first read of the live
// records through the save of the JSON copy: an SNMP SET or an inter-board
// change that lands between the copy into the previous-values set and the
// apply would otherwise be lost or sent twice, and the JSON copy could show
// half an edit. The lock is recursive; QAM160T_ParamsProcess, the single-mode
// setter and DATA_Save take it again inside.
#include "web/web_board.h"

#include <cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "chassis/qam_json.h"
#include "core/err.h"
#include "core/log.h"
#include "platform/ip_monitor.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "web/web_accessors.h"
#include "web/web_reply.h"
#include "web/web_text.h"
#include "web/web_value.h"

namespace hx {

namespace {

constexpr U32 kChannelsPerGroup = 8;  // MAX_CHANNEL_PER_CLUSTER
constexpr U32 kBoardDescriptorBytes = 20;
// What one request may list: the pages have one port of 16 channels, and a
// count beyond these would have been walked modulo 256 and 65,536.
constexpr int kMaxPortItems = 255;
constexpr int kMaxChannelItems = 65535;
// Bounds of a port or channel number worth computing a real channel from;
// anything beyond names no entry of the tables anyway.
constexpr long long kMaxChannelNumber = 0x7FFFFFFF;

void AddNumber(cJSON* object, const char* key, double value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value));
}

// Stores a numeric member's integer part (cJSON's valueint) into `target`.
void TakeInt(const cJSON* object, const char* key, U32& target) {
    int value = 0;
    if (web_ReadInt(object, key, &value)) {
        target = static_cast<U32>(value);
    }
}

// The real channel a (port, channel) item names, from whole non-negative
// numbers without any narrowing; nothing when it lies at or beyond `limit`.
std::optional<U32> RealChannel(const cJSON* item, long long port, U32 limit) {
    long long channel = 0;
    if (!web_ReadWholeInt(item, "channel", 0, kMaxChannelNumber, &channel)) {
        return std::nullopt;
    }
    const long long real = channel + port * static_cast<long long>(_web_GetOutChannelNumbyPort());
    if (real >= static_cast<long long>(limit)) {
        return std::nullopt;
    }
    return static_cast<U32>(real);
}

// ---- GetSubboardParam.w ----------------------------------------------------------

// ---- SetSubboardParam.w ----------------------------------------------------------

// 774 for a list longer than a request may hold, checked before anything
// changes.
bool ListsFit(const cJSON* ports) {
    if (ports == nullptr) {
        return true;
    }
    if (cJSON_GetArraySize(ports) > kMaxPortItems) {
        return false;
    }
    const cJSON* port;
    cJSON_ArrayForEach(port, ports) {
        const cJSON* channels = cJSON_IsObject(port) ? web_ReadArray(port, "channellist") : nullptr;
        if (channels != nullptr && cJSON_GetArraySize(channels) > kMaxChannelItems) {
            return false;
        }
    }
    return true;
}

void EditChannels(const cJSON* ports, TParameter_QAM& table) {
    const cJSON* portItem;
    cJSON_ArrayForEach(portItem, ports) {
        long long port = 0;
        const cJSON* channels = cJSON_IsObject(portItem) ? web_ReadArray(portItem, "channellist") : nullptr;
        if (channels == nullptr || !web_ReadWholeInt(portItem, "port", 0, kMaxChannelNumber, &port)) {
            continue;
        }
        const cJSON* item;
        cJSON_ArrayForEach(item, channels) {
            if (!cJSON_IsObject(item)) {
                continue;
            }
            // The per-channel tables have 32 entries.
            const std::optional<U32> real = RealChannel(item, port, kQamChannelSlots);
            if (!real) {
                continue;
            }
            TakeInt(item, "enable", table.ChannelEnable[*real].value);
            TakeInt(item, "frequency", table.Frequency[*real].value);
            TakeInt(item, "Interweave", table.Interleaver[*real].value);
            // Group values count only on the group's first channel.
            if (*real % kChannelsPerGroup == 0) {
                DATA_TakeQamGroup(item, table, *real / kChannelsPerGroup);
            }
        }
    }
}

U32 SetQamParameters(cJSON* body, buffer* reply) {
    QamApplyGuard apply(QAM_ApplyLock());
    TParameter_QAM* live = GetQAMPara_Handle();
    TParameter_QAM* previous = GetQAMParaTmp_Handle();
    if (live == nullptr || previous == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }

    int singleMode = 0;
    if (web_ReadInt(body, "singlemode", &singleMode)) {
        HX_LOG_AT_AS("web_processSetSubboardParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB:Service Configuration > Program > click Apply button!(Web_SetSingleMode)\r\n");
        Web_SetSingleMode(static_cast<U32>(singleMode) & 0xFF);
        return web_processSuccess(reply);
    }

    int psiInterval = 0;
    if (!web_ReadInt(body, "psiinterval", &psiInterval)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const cJSON* ports = web_ReadArray(body, "portlist");
    if (!ListsFit(ports)) {
        return VK_ERR_WEB_POST_PARAM;
    }

    *previous = *live;
    U16 previousInterval = 0;
    Web_GetPSIInterval(&previousInterval);
    Web_SetPSIInterval(static_cast<U32>(psiInterval));
    TakeInt(body, "rflevel", live->PowerLevel.value);
    TakeInt(body, "channelstandard", live->ATSCChannelMode.value);
    TakeInt(body, "rflevelunittype", live->rflevelunittype.value);
    if (ports != nullptr) {
        EditChannels(ports, *live);
    }

    HX_LOG_AT_AS("web_processSetSubboardParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB:Settings > click Apply button!(QAM160T_ParamsProcess)\r\n");
    const U32 result = QAM160T_ParamsProcess(previous, live);
    if (result == VK_ERR_PARAMS || result == kQamParamsOverflow) {
        // Refused: the table is back as it was and nothing was sent or saved,
        // so the PSI interval goes back too.
        Web_SetPSIInterval(previousInterval);
    }
    if (result != VK_SUCCESS) {
        return result;
    }
    DATA_Save();
    return web_processSuccess(reply);
}

// ---- IP monitor ------------------------------------------------------------------

U32 SetIpMonitor(cJSON* body, buffer* reply) {
    QamApplyGuard apply(QAM_ApplyLock());
    QAM_IPMonitorPara* monitor = GetQAMIPMonitor_Handle();
    if (monitor == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }
    int value = 0;
    if (web_ReadInt(body, "enable", &value)) {
        monitor->u8Enable = static_cast<U8>(value);
    }
    U32 address = 0;
    if (web_ReadU32Rounded(body, "destipaddress", &address)) {
        monitor->u32DestIPAddr = address;
    }
    long long port = 0;
    if (web_ReadWholeInt(body, "port", 0, kMaxChannelNumber, &port)) {
        // Only an output channel can be monitored; another number is not cut
        // to 8 bits onto one.
        if (const std::optional<U32> real = RealChannel(body, port, _web_GetOutChannelNum())) {
            monitor->u8Channel = static_cast<U8>(*real);
        }
    }
    if (web_ReadInt(body, "destport", &value)) {
        monitor->u16DestPort = static_cast<U16>(value);
    }
    if (web_ReadInt(body, "bitrate", &value)) {
        monitor->u16IP1MaxRate = static_cast<U16>(value);
    }
    if (const U32 result = SetQAM_IPMonitor(monitor); result != VK_SUCCESS) {
        return result;
    }
    DATA_Save();
    return web_processSuccess(reply);
}

}  // namespace

U32 web_processGetSubboardDetail(buffer* reply) {
    return web_HandleRequest(reply, {}, [](cJSON*, buffer* out) -> U32 {
        U8 descriptor[kBoardDescriptorBytes] = {};
        if (const U32 result = web_GetSelfBoardDescriptor(descriptor); result != VK_SUCCESS) {
            return result;
        }
        const TResource_TS* own = Web_GetResourceHandle();
        // The customer number fills its field when it is 32 characters long:
        // no terminator to rely on.
        const std::string customer(reinterpret_cast<const char*>(own->au8CustomerNo),
                                   strnlen(reinterpret_cast<const char*>(own->au8CustomerNo),
                                           sizeof own->au8CustomerNo));
        cJSON* data = cJSON_CreateObject();
        AddNumber(data, "boardnumber", 0);
        cJSON_AddItemToObject(data, "boardname",
                              cJSON_CreateString(web_StringConvertToUTF8(descriptor, kBoardDescriptorBytes)));
        AddNumber(data, "standard", Web_GetSIMode());
        cJSON_AddItemToObject(data, "customerno", cJSON_CreateString(customer.c_str()));
        return web_ReplyData(out, data);
    });
}

U32 web_processGetSubboardParam(buffer* reply) {
    return web_HandleRequest(reply, {}, [](cJSON*, buffer* out) -> U32 {
        if (GetQAMPara_Handle() == nullptr) {
            return VK_ERR_WEB_POST_PARAM;
        }
        U16 interval = 0;
        Web_GetPSIInterval(&interval);
        TParameter_QAM table;
        {
            // One apply's values, never half of one.
            QamApplyGuard apply(QAM_ApplyLock());
            table = *GetQAMPara_Handle();
        }
        return web_ReplyData(out, DATA_QamParameterObject(table, interval, false));
    });
}

U32 web_processSetSubboardParam(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, SetQamParameters);
}

U32 web_processGetSubboardIPMonitorParam(buffer* reply) {
    return web_HandleRequest(reply, {}, [](cJSON*, buffer* out) -> U32 {
        if (GetQAMIPMonitor_Handle() == nullptr) {
            return VK_ERR_WEB_POST_PARAM;
        }
        QAM_IPMonitorPara monitor;
        {
            QamApplyGuard apply(QAM_ApplyLock());
            monitor = *GetQAMIPMonitor_Handle();
        }
        return web_ReplyData(out, DATA_IPMonitorObject(monitor));
    });
}

U32 web_processSetSubboardIPMonitorParam(buffer* reply) {
    // The IP monitor output and the saved settings change here, so the
    // modify right is checked like on every other setter.
    return web_HandleRequest(reply, {.modifyRight = true}, SetIpMonitor);
}

U32 web_processGetSubboardReadyStatus(buffer* /*reply*/) { return VK_SUCCESS; }

}  // namespace hx

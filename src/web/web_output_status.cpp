// Requests of the output status pages (web/web_output_status.h).
//
// The channel listing holds the model lock over its whole walk, so the
// channels it lists come from one state of the live model, never from both
// sides of an apply or an input card's message. The enable flags are copied
// from the live QAM set under its apply lock before that, so the two locks are
// never held together. The program and PID reports read the model once each
// and take the lock themselves; the PID report reads its meters outside it.
#include "web/web_output_status.h"

#include <cJSON.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "core/err.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_records.h"
#include "engine/web_report.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "platform/z160t_status.h"
#include "web/web_accessors.h"
#include "web/web_debug.h"
#include "web/web_model.h"
#include "web/web_reply.h"
#include "web/web_slot.h"
#include "web/web_text.h"
#include "web/web_value.h"

namespace hx {

namespace {

// Every program the pages show is marked scrambled: the board cannot tell.
constexpr int kScrambled = 1;

void AddNumber(cJSON* object, const char* key, long long value) { web_AddWholeNumber(object, key, value); }

void AddString(cJSON* object, const char* key, const char* text) {
    cJSON_AddItemToObject(object, key, cJSON_CreateString(text));
}

void AddName(cJSON* object, const char* key, const U8* name, U8 length) {
    AddString(object, key, web_StringConvertToUTF8(name, length));
}

// ---- GetOutputTSStatus.w ---------------------------------------------------------

using EnableFlags = std::array<U32, kQamChannelSlots>;

cJSON* ChannelObject(U32 webChannel, const Output_WebTSInfo& view, U32 enable, U8 chassisType) {
    cJSON* item = cJSON_CreateObject();
    AddNumber(item, "channel", webChannel);
    AddNumber(item, "effectivebitrate", view.u32EffectiveBitRate);
    AddNumber(item, "totalbitrate", view.u32TotalBitRate);
    AddNumber(item, "status", view.bOverFlow);
    AddNumber(item, "frequency", view.u32Frequency);
    AddNumber(item, "enable", enable);
    const bool bypassed = view.u8BypassFlag == 1;
    AddNumber(item, "bypassflag", bypassed ? 1 : 0);
    if (bypassed) {
        cJSON* source = cJSON_CreateObject();
        AddNumber(source, "board", Web_GetWebSlot(chassisType, view.u8SourceSlot));
        AddString(source, "boardname", "");
        AddNumber(source, "port", view.u8SourcePort);
        AddNumber(source, "channel", view.u16SourceChannel);
        cJSON_AddItemToObject(item, "bypasssrclist", source);
    }
    cJSON* programs = cJSON_CreateArray();
    const U32 count = std::min<U32>(view.u16ProgramNum, kWebProgramViews);
    for (U32 p = 0; p < count; ++p) {
        const Output_WebProgramInfo& program = view.arOutputProInfo[p];
        cJSON* entry = cJSON_CreateObject();
        AddNumber(entry, "program", p);
        AddNumber(entry, "serviceid", program.u16ServiceID);
        AddName(entry, "servicename", program.aru8ServiceName, program.u8ServiceNameLen);
        AddNumber(entry, "scrambled", kScrambled);
        cJSON_AddItemToArray(programs, entry);
    }
    cJSON_AddItemToObject(item, "programlist", programs);
    return item;
}

U32 ListOutputStatus(U8 chassisType, buffer* reply) {
    const TQAM_Status* status = Web_GetStatus();
    if (status == nullptr || GetQAMPara_Handle() == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }
    EnableFlags enable{};
    {
        QamApplyGuard apply(QAM_ApplyLock());
        const TParameter_QAM* live = GetQAMPara_Handle();
        for (U32 c = 0; c < kQamChannelSlots; ++c) {
            enable[c] = live->ChannelEnable[c].value;
        }
    }

    cJSON* data = cJSON_CreateObject();
    cJSON* statusObject = cJSON_CreateObject();
    AddNumber(statusObject, "temperature", status->u32Temperature);
    AddNumber(statusObject, "temperatureflag", status->u32TemperatureFlag);
    cJSON_AddItemToObject(data, "status", statusObject);
    cJSON* ports = cJSON_CreateArray();
    cJSON_AddItemToObject(data, "portlist", ports);

    auto view = std::make_unique<Output_WebTSInfo>();
    TSP_ModelLock lock;
    for (U32 port = 0; port < _web_GetOutPortNum(); ++port) {
        cJSON* portObject = cJSON_CreateObject();
        AddNumber(portObject, "port", port);
        cJSON* channels = cJSON_CreateArray();
        for (U32 channel = 0; channel < _web_GetOutChannelNumbyPort(); ++channel) {
            const U32 real = _web_GetOutRealChannel(port, channel);
            if (real > 0xFFFF || Web_GetTSWebInfo(static_cast<U16>(real), view.get()) != VK_SUCCESS) {
                continue;
            }
            const U32 channelEnable = real < kQamChannelSlots ? enable[real] : 0;
            cJSON_AddItemToArray(channels, ChannelObject(channel, *view, channelEnable, chassisType));
        }
        cJSON_AddItemToObject(portObject, "channellist", channels);
        cJSON_AddItemToArray(ports, portObject);
    }
    return web_ReplyData(reply, data);
}

// ---- GetOutputProgramStatus.w ----------------------------------------------------

cJSON* ProgramObject(const Output_WebProgramInfo& program, U8 chassisType) {
    cJSON* data = cJSON_CreateObject();
    AddName(data, "servicename", program.aru8ServiceName, program.u8ServiceNameLen);
    AddNumber(data, "serviceid", program.u16ServiceID);
    cJSON_AddItemToObject(data, "pids", Web_ProgramPidsObject(program));
    cJSON* source = cJSON_CreateObject();
    AddNumber(source, "board", Web_GetWebSlot(chassisType, program.u8SourceSlot));
    AddString(source, "boardname", "");
    AddNumber(source, "port", program.u8SourcePort);
    AddNumber(source, "channel", program.u16SourceChannel);
    AddNumber(source, "serviceid", program.u16OldServiceID);
    AddString(source, "servicename", "");
    AddNumber(source, "scrambled", kScrambled);
    cJSON_AddItemToObject(data, "src", source);
    return data;
}

U32 ReportProgram(U8 chassisType, cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    std::optional<U32> serviceId;
    if (!web_ReadOutChannel(body, &channel) || !web_ReadIndex(body, "serviceid", 0xFFFF, &serviceId)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    Output_WebProgramInfo program{};
    // A channel number that names no channel is a channel without a stream
    // (a zeroed view); a service ID no program can have names no program.
    if (channel) {
        if (!serviceId) {
            return kTspErrNoProgram;
        }
        const U32 result = Web_GetProgramInfoToWeb(*channel, static_cast<U16>(*serviceId), &program);
        if (result != VK_SUCCESS) {
            return result;
        }
    }
    return web_ReplyData(reply, ProgramObject(program, chassisType));
}

// ---- GetOutputTSDetailStatus.w ---------------------------------------------------

cJSON* PidObject(const Output_WebPIDBitInfo& pid) {
    char typeName[kWebValueTextBytes] = {};
    Web_GetPIDTypeDesc(pid.u8PIDType, typeName);
    cJSON* entry = cJSON_CreateObject();
    AddNumber(entry, "pid", pid.u16PID);
    AddString(entry, "type", typeName);
    AddNumber(entry, "bitrate", pid.u32BitRate);
    AddNumber(entry, "ccerr", pid.U8CcNum);
    AddNumber(entry, "samepidnum", pid.u16SamePIDNum);
    AddName(entry, "servicename", pid.aru8ServiceName, pid.u8ServiceNameLen);
    return entry;
}

U32 ReportPids(cJSON* body, buffer* reply) {
    int port = 0;
    int channelInPort = 0;
    std::optional<U16> channel;
    if (!web_ReadInt(body, "port", &port) || !web_ReadInt(body, "channel", &channelInPort) ||
        !web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    cJSON* data = cJSON_CreateObject();
    AddNumber(data, "port", port);
    AddNumber(data, "channel", channelInPort);
    auto report = std::make_unique<Output_WebTSBitInfo>();
    const bool listed = channel && Web_GetTSStatus(*channel, report.get()) == VK_SUCCESS && report->u8ValidFlag != 255;
    cJSON* pids = cJSON_CreateArray();
    if (listed) {
        const U32 count = std::min<U32>(report->u16PIDNum, kWebPidBitViews);
        AddNumber(data, "pidnumber", report->u16PIDNum);
        AddNumber(data, "totalbitrate", report->u32TotalBitRate);
        for (U32 i = 0; i < count; ++i) {
            cJSON_AddItemToArray(pids, PidObject(report->arPIDBitInfo[i]));
        }
    } else {
        AddNumber(data, "pidnumber", 0);
    }
    cJSON_AddItemToObject(data, "pidlist", pids);
    return web_ReplyData(reply, data);
}

}  // namespace

U32 web_processGetOutputTSStatus(buffer* reply) {
    // The numbering of the chassis type known before this request: a
    // "chassistype" it carries counts from the next request on.
    const U8 chassisType = Web_GetZELType();
    return web_HandleRequest(reply, {}, [chassisType](cJSON*, buffer* out) { return ListOutputStatus(chassisType, out); });
}

U32 web_processGetOutputProgramStatus(buffer* reply) {
    const U8 chassisType = Web_GetZELType();
    return web_HandleRequest(reply, {},
                             [chassisType](cJSON* body, buffer* out) { return ReportProgram(chassisType, body, out); });
}

U32 web_processGetOutputTSDetailStatus(buffer* reply) {
    return web_HandleRequest(reply, {}, ReportPids);
}

U32 web_processClearAllErr(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, [](cJSON*, buffer* out) -> U32 {
        HX_LOG_AT_AS("web_processClearAllErr", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Status > TS Analysis > click Reset Counter button!(Web_ClearPIDCc)\r\n");
        Web_ClearPIDCc();
        return web_processSuccess(out);
    });
}

}  // namespace hx

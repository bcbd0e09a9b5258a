// Requests of the output stream pages (web/web_stream.h).
//
// Every handler holds the model lock from its first access to either model
// to its last, so the inter-board server, the SNMP agent, the LED monitor and
// the SI sender see each request as one step. None holds it across a message
// to another board (the EIT list, the delete notices, the clear orders, the
// resource record) or across the wait for the input boards: those senders
// take the lock themselves for what they read and refuse to run under it.
#include "web/web_stream.h"

#include <cJSON.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>

#include "chassis/ipcomm_messages.h"
#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_remove.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "engine/slot_bookkeeping.h"
#include "engine/web_report.h"
#include "web/web_accessors.h"
#include "web/web_model.h"
#include "web/web_reply.h"
#include "web/web_slot.h"
#include "web/web_text.h"
#include "web/web_value.h"

namespace hx {

namespace {

constexpr U32 kNameBytes = 32;
constexpr U16 kNoStream = 0xFFFF;
// The delete request waits at most this many seconds for the input boards.
constexpr U32 kDeleteWaitSeconds = 24;
constexpr std::uint64_t kDeleteWaitStepMicros = 1'000'000;

void AddNumber(cJSON* object, const char* key, double value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value));
}

void AddText(cJSON* object, const char* key, const U8* text, U32 length) {
    cJSON_AddItemToObject(object, key, cJSON_CreateString(web_StringConvertToUTF8(text, std::min(length, kNameBytes))));
}

// The source of a stream or program: the slot in the numbering of the last
// chassis type a page sent.
cJSON* SourceObject(U8 slot, U8 port, U16 channel) {
    cJSON* source = cJSON_CreateObject();
    AddNumber(source, "board", Web_GetWebSlot(Web_GetZELType(), slot));
    cJSON_AddItemToObject(source, "boardname", cJSON_CreateString(""));
    AddNumber(source, "port", port);
    AddNumber(source, "channel", channel);
    return source;
}

// Where a program's provider name stands: the listing shows it before the
// service type, the views of the temporary copy after it.
enum class ProviderPlace { BeforeServiceType, AfterServiceType };

// The members of one program from its name on: names and type in the order
// asked, channel numbers, source, PIDs.
void AddProgramMembers(cJSON* item, const Output_WebProgramInfo& program, ProviderPlace place) {
    AddText(item, "servicename", program.aru8ServiceName, program.u8ServiceNameLen);
    if (place == ProviderPlace::BeforeServiceType) {
        AddText(item, "providername", program.aru8ServiceProvider, program.u8ServiceProviderLen);
        AddNumber(item, "servicetype", program.u8ServiceType);
    } else {
        AddNumber(item, "servicetype", program.u8ServiceType);
        AddText(item, "providername", program.aru8ServiceProvider, program.u8ServiceProviderLen);
    }
    AddNumber(item, "majorchannel", program.u16MajorChannelNum);
    AddNumber(item, "minorchannel", program.u16MinorChannelNum);
    cJSON* source = SourceObject(program.u8SourceSlot, program.u8SourcePort, program.u16SourceChannel);
    AddNumber(source, "serviceid", program.u16OldServiceID);
    cJSON_AddItemToObject(item, "src", source);
    cJSON_AddItemToObject(item, "pids", Web_ProgramPidsObject(program));
}

// The one description of an output stream, for the listing (no "port": the
// enclosing item has it; the provider before the service type) and for the
// view of the temporary copy ("port" and "channel" as the request named them;
// the provider after the service type).
cJSON* StreamObject(const Output_WebTSInfo& view, std::optional<int> port, int channel, ProviderPlace place) {
    cJSON* stream = cJSON_CreateObject();
    if (port) {
        AddNumber(stream, "port", *port);
    }
    AddNumber(stream, "channel", channel);
    AddNumber(stream, "bypassflag", view.u8BypassFlag == 1 ? 1 : 0);
    AddNumber(stream, "tsid", view.u16TransportStreamID);
    AddNumber(stream, "originalnetworkid", view.u16OriginalNetworkID);
    AddNumber(stream, "modulationmode", view.u8ModulationMode);
    cJSON_AddItemToObject(stream, "bypasssrc", SourceObject(view.u8SourceSlot, view.u8SourcePort, view.u16SourceChannel));
    const U16 programs = std::min<U16>(view.u16ProgramNum, kWebProgramViews);
    AddNumber(stream, "programnumber", programs);
    cJSON* list = cJSON_CreateArray();
    for (U16 i = 0; i < programs; ++i) {
        const Output_WebProgramInfo& program = view.arOutputProInfo[i];
        cJSON* item = cJSON_CreateObject();
        AddNumber(item, "program", i);
        AddNumber(item, "serviceid", program.u16ServiceID);
        AddProgramMembers(item, program, place);
        cJSON_AddItemToArray(list, item);
    }
    cJSON_AddItemToObject(stream, "programlist", list);
    cJSON* others = cJSON_CreateArray();
    int listed = 0;
    const U16 pids = std::min<U16>(view.u16PIDNum, kWebPidViews);
    for (U16 i = 0; i < pids; ++i) {
        if (view.arOutputPIDInfo[i].u8PIDType == OTHER_PID) {
            cJSON_AddItemToArray(others, cJSON_CreateNumber(view.arOutputPIDInfo[i].u16PID));
            ++listed;
        }
    }
    cJSON_AddItemToObject(stream, "otherpidlist", others);
    AddNumber(stream, "otherpidnumber", listed);
    return stream;
}

// The integer part of a number member the caller has checked exists.
int IntOf(const cJSON* body, const char* key) {
    int value = 0;
    web_ReadInt(body, key, &value);
    return value;
}

// A name from a page into a view's 32-byte field: converted to DVB text, its
// first 32 bytes kept (none for an empty text), the rest of the field zero.
void TakeName(const cJSON* object, const char* key, U8* field, U8* length) {
    const char* text = web_ReadString(object, key);
    if (text == nullptr) {
        return;
    }
    const U8* converted = web_UTF8ToServiceName(text, static_cast<U32>(std::strlen(text)));
    const std::size_t kept =
        converted == nullptr ? 0 : std::min<std::size_t>(std::strlen(reinterpret_cast<const char*>(converted)), kNameBytes);
    std::memset(field, 0, kNameBytes);
    if (kept > 0) {
        std::memcpy(field, converted, kept);
    }
    *length = static_cast<U8>(kept);
}

// The low bits of a number member into a field, when it is there.
template <typename Field>
void TakeLow(const cJSON* object, const char* key, Field* field) {
    int value = 0;
    if (web_ReadInt(object, key, &value)) {
        *field = static_cast<Field>(value);
    }
}

// A service ID the page names: a number past 16 bits (or below 0) is a
// service ID no program has, never one cut onto another program's.
bool ReadServiceId(const cJSON* body, const char* key, std::optional<U16>* serviceId) {
    std::optional<U32> value;
    if (!web_ReadIndex(body, key, 0xFFFF, &value)) {
        return false;
    }
    serviceId->reset();
    if (value) {
        *serviceId = static_cast<U16>(*value);
    }
    return true;
}

// ---- SetTsParam.w ------------------------------------------------------------------

void EditProgramViews(const cJSON* list, Output_WebTSInfo& view) {
    const U16 programs = std::min<U16>(view.u16ProgramNum, kWebProgramViews);
    U32 i = 0;
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        const U32 index = i++;
        if (!cJSON_IsObject(item) || index >= programs) {
            continue;
        }
        Output_WebProgramInfo& program = view.arOutputProInfo[index];
        TakeName(item, "servicename", program.aru8ServiceName, &program.u8ServiceNameLen);
        TakeName(item, "providername", program.aru8ServiceProvider, &program.u8ServiceProviderLen);
        int serviceId = 0;
        if (web_ReadInt(item, "serviceid", &serviceId)) {
            program.u16OldServiceID = program.u16ServiceID;
            program.u16ServiceID = static_cast<U16>(serviceId);
        }
    }
}

// Each item names a PID as the stream had it before this request: earlier
// items never make a PID a later one matches.
void EditOtherPids(const cJSON* list, Output_WebTSInfo& view) {
    const U16 count = std::min<U16>(view.u16PIDNum, kWebPidViews);
    std::array<U16, kWebPidViews> before{};
    for (U16 k = 0; k < count; ++k) {
        before[k] = view.arOutputPIDInfo[k].u16PID;
    }
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        double oldPid = 0;
        int newValue = 0;
        if (!cJSON_IsObject(item) || !web_ReadDouble(item, "oldpid", &oldPid) || !web_ReadInt(item, "newvalue", &newValue)) {
            continue;
        }
        for (U16 k = 0; k < count; ++k) {
            if (view.arOutputPIDInfo[k].u8PIDType == OTHER_PID && before[k] == oldPid) {
                view.arOutputPIDInfo[k].u16PID = static_cast<U16>(newValue);
            }
        }
    }
}

U32 SetStream(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!channel) {
        return VK_ERR_WEB_POST_PARAM;  // no such channel: no stream there
    }
    auto view = std::make_unique<Output_WebTSInfo>();
    U8 conflict = 0;
    U32 result = 0;
    {
        TSP_ModelLock lock;
        if (const U32 read = Web_GetTempTSWebInfo(*channel, view.get()); read != 0) {
            return read;
        }
        // The zeroed view of a channel without a stream carries channel 0:
        // the edit would land on another channel's stream.
        if (view->u8ValidFlag != 1) {
            return VK_ERR_WEB_POST_PARAM;
        }
        TakeLow(body, "originalnetworkid", &view->u16OriginalNetworkID);
        TakeLow(body, "tsid", &view->u16TransportStreamID);
        TakeLow(body, "modulationmode", &view->u8ModulationMode);
        if (const cJSON* programs = web_ReadArray(body, "programlist")) {
            EditProgramViews(programs, *view);
        }
        if (const cJSON* others = web_ReadArray(body, "otherpidlist")) {
            EditOtherPids(others, *view);
        }
        HX_LOG_AT_AS("web_processSetTSParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > TS > click OK button!(Web_ModifyTSWebInfo)\r\n");
        result = Web_ModifyTSWebInfo(view.get(), &conflict);
    }
    if (result != 0) {
        return result;
    }
    if (conflict != 0) {
        return VK_ERR_WEB_POST_PARAM;
    }
    return web_processSuccess(reply);
}

// ---- SetProgramParam.w -----------------------------------------------------------

void EditEsViews(const cJSON* list, Output_WebProgramInfo& program) {
    const U16 count = std::min<U16>(program.u16ESNumber, kWebEsViews);
    U32 i = 0;
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        const U32 index = i++;
        if (!cJSON_IsObject(item) || index >= count) {
            continue;
        }
        Output_WebPIDInfo& es = program.arOutputESInfo[index];
        TakeLow(item, "pid", &es.u16PID);
        TakeLow(item, "pidtype", &es.u8PIDType);
        TakeLow(item, "streamtype", &es.u8StreamType);
    }
}

U32 SetProgram(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    std::optional<U16> oldServiceId;
    if (!web_ReadOutChannel(body, &channel) || !ReadServiceId(body, "oldserviceid", &oldServiceId)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!channel || !oldServiceId) {
        return kTspErrNoProgram;  // no stream, no program there
    }
    Output_WebProgramInfo view{};
    U8 conflict = 0;
    U32 result = 0;
    {
        TSP_ModelLock lock;
        if (const U32 read = Web_GetTempProgramInfoToWeb(*channel, *oldServiceId, &view); read != 0) {
            return read;
        }
        TakeLow(body, "majorchannel", &view.u16MajorChannelNum);
        TakeLow(body, "minorchannel", &view.u16MinorChannelNum);
        TakeName(body, "servicename", view.aru8ServiceName, &view.u8ServiceNameLen);
        TakeName(body, "providername", view.aru8ServiceProvider, &view.u8ServiceProviderLen);
        TakeLow(body, "serviceid", &view.u16ServiceID);
        int serviceType = 0;
        if (web_ReadInt(body, "servicetype", &serviceType)) {
            view.u8ServiceType = static_cast<U8>(serviceType);
        }
        if (const cJSON* pids = web_ReadObject(body, "pids")) {
            TakeLow(pids, "pcr", &view.u16PCRPID);
            TakeLow(pids, "pmt", &view.u16PMTPID);
            if (const cJSON* streams = web_ReadArray(pids, "es")) {
                EditEsViews(streams, view);
            }
        }
        HX_LOG_AT_AS("web_processSetProgramParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > Program > click OK button!(Web_ModifyProWebInfo)\r\n");
        result = Web_ModifyProWebInfo(*channel, &view, &conflict);
    }
    if (result != 0) {
        return result;
    }
    if (conflict != 0) {
        return VK_ERR_WEB_POST_PARAM;
    }
    return web_processSuccess(reply);
}

// ---- the views ---------------------------------------------------------------------

U32 ListStreams(cJSON*, buffer* reply) {
    const U8 deletable = web_IsAllBoardSupportDelChannelProg();
    cJSON* ports = cJSON_CreateArray();
    {
        TSP_ModelLock lock;
        // The copy becomes the live model: everyone's pending edits go.
        U32 refreshed = TSP_InitOutputTempTSInfo();
        if (refreshed == 0) {
            refreshed = TSP_CopyOutputTempTSInfo();
        }
        if (refreshed != 0) {
            cJSON_Delete(ports);
            return refreshed;
        }
        auto view = std::make_unique<Output_WebTSInfo>();
        for (U32 port = 0; port < _web_GetOutPortNum(); ++port) {
            cJSON* item = cJSON_CreateObject();
            AddNumber(item, "port", port);
            cJSON* channels = cJSON_CreateArray();
            for (U32 channel = 0; channel < _web_GetOutChannelNumbyPort(); ++channel) {
                const U32 real = _web_GetOutRealChannel(port, channel);
                if (real > 0xFFFF || Web_GetTSWebInfo(static_cast<U16>(real), view.get()) != 0 ||
                    view->u8ValidFlag != 1) {
                    continue;
                }
                cJSON_AddItemToArray(channels, StreamObject(*view, std::nullopt, static_cast<int>(channel),
                                                            ProviderPlace::BeforeServiceType));
            }
            cJSON_AddItemToObject(item, "channellist", channels);
            cJSON_AddItemToArray(ports, item);
        }
    }
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "portlist", ports);
    AddNumber(data, "isEmptyTsConfig", deletable != 0 ? 1 : 0);
    return web_ReplyData(reply, data);
}

U32 ShowTempStream(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (!channel) {
        return VK_ERR_WEB_POST_PARAM;  // no such channel: no stream there
    }
    auto view = std::make_unique<Output_WebTSInfo>();
    cJSON* data = nullptr;
    {
        TSP_ModelLock lock;
        if (const U32 result = Web_GetTempTSWebInfo(*channel, view.get()); result != 0) {
            return result;
        }
        if (view->u8ValidFlag != 1) {
            return VK_ERR_WEB_POST_PARAM;
        }
        data = StreamObject(*view, IntOf(body, "port"), IntOf(body, "channel"), ProviderPlace::AfterServiceType);
    }
    return web_ReplyData(reply, data);
}

U32 ShowTempProgram(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    std::optional<U16> serviceId;
    if (!web_ReadOutChannel(body, &channel) || !ReadServiceId(body, "serviceid", &serviceId)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    Output_WebProgramInfo view{};
    if (!serviceId && channel) {
        // Only a stream can lack a program; no service ID past 16 bits is one.
        TSP_ModelLock lock;
        if (ModelLookup_StreamOfChannel(TSP_GetTempTSParam(), *channel) != kNoStream) {
            return kTspErrNoProgram;
        }
    }
    // A channel that addresses nothing shows the empty view of a channel
    // without a stream.
    if (channel && serviceId) {
        if (const U32 result = Web_GetTempProgramInfoToWeb(*channel, *serviceId, &view); result != 0) {
            return result;
        }
    }
    cJSON* data = cJSON_CreateObject();
    AddNumber(data, "port", IntOf(body, "port"));
    AddNumber(data, "channel", IntOf(body, "channel"));
    AddNumber(data, "serviceid", view.u16ServiceID);
    AddProgramMembers(data, view, ProviderPlace::AfterServiceType);
    return web_ReplyData(reply, data);
}

// ---- DeleteTSConfig.w ----------------------------------------------------------------

// The input boards had their time to drop the channel's programs; a board
// that stays silent does not hold the page for longer.
void WaitForInputBoards() {
    for (U32 slept = 0; g_DelDestChannelNum.load() != 0;) {
        TheClock().SleepMicros(kDeleteWaitStepMicros);
        if (++slept >= kDeleteWaitSeconds && g_DelDestChannelNum.load() != 0) {
            HX_LOG_AT_AS("web_processClearOneChannelProg", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                         " WEB:Ready time out! set g_DelDestChannelNum 0 and break!\n\r\n");
            g_DelDestChannelNum = 0;
            break;
        }
    }
}

// Whatever is left of the channel's stream goes from the live model, which
// is applied. True when a stream was deleted (the EIT list is then due).
bool DeleteLiveStream(U16 channel) {
    TSP_ModelLock lock;
    U16 index = kNoStream;
    if (TSP_GetOutputTSIndexByTS(channel, &index) != 0) {
        HX_LOG_AS("web_processClearOneChannelProg", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_GetOutputTSIndexByTS return error\r\n\n");
        return false;
    }
    if (index == kNoStream) {
        return false;
    }
    HX_LOG_AT_AS("web_processClearOneChannelProg", LOG_LEVEL_INFO, LOG_MODULE_WEB, " WEB:TSP_DelOutputTS!\n\r\n");
    if (TSP_DelOutputTS(index, TSP_GetTSParam()) != 0) {
        HX_LOG_AS("web_processClearOneChannelProg", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "TSP_DelOutputTS return error\r\n\n");
    }
    TSP_MuxProcess();
    return true;
}

U32 DeleteChannel(cJSON* body, buffer* reply) {
    // No "channel" (or not a number) is channel 0; a number that is no
    // channel addresses nothing, and nothing is sent for it.
    std::optional<U32> channel = 0;
    web_ReadIndex(body, "channel", 0xFFFF, &channel);
    if (channel) {
        const U16 real = static_cast<U16>(*channel);
        HX_LOG_AT_AS("web_processClearOneChannelProg", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Send DelDestChannelNum To InputBoard!\r\n");
        if (const U32 result = TSP_SendDelDestChannelNumToInputBoard(real); result != 0) {
            return result;
        }
        WaitForInputBoards();
        if (DeleteLiveStream(real)) {
            IPComm_SendEITInfo();
        }
    }
    TSP_UpdateResourceInfo();
    return web_processSuccess(reply);
}

}  // namespace

U32 web_processApplyAllParam(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, [](cJSON*, buffer* out) -> U32 {
        HX_LOG_AT_AS("web_processApplyAllParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > click Apply button!(Web_MuxProcess)\r\n");
        if (const U32 result = Web_MuxProcess(); result != 0) {
            return result;
        }
        return web_processSuccess(out);
    });
}

U32 web_processClearAllParam(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, [](cJSON*, buffer* out) -> U32 {
        HX_LOG_AT_AS("web_processClearAllParam", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: Service Congfiguration > click Clear Config button!(Web_ClearTS)\r\n");
        if (const U32 result = Web_ClearTS(); result != 0) {
            return result;
        }
        return web_processSuccess(out);
    });
}

U32 web_processClearOneChannelProg(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, DeleteChannel);
}

U32 web_processGetSubboardTSInfo(buffer* reply) { return web_HandleRequest(reply, {}, ListStreams); }

U32 web_processSetTSParam(buffer* reply) { return web_HandleRequest(reply, {.modifyRight = true}, SetStream); }

U32 web_processSetProgramParam(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, SetProgram);
}

U32 web_processGetTempTSInfo(buffer* reply) { return web_HandleRequest(reply, {}, ShowTempStream); }

U32 web_processGetTempProgramInfo(buffer* reply) { return web_HandleRequest(reply, {}, ShowTempProgram); }

}  // namespace hx

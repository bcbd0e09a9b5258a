// The requests of the system pages (web/web_system.h): heartbeat, factory
// settings, reboot, the log view with its level and module switches, log
// clearing, the log and MIB archives, register peek and poke, and the typed
// debug request. Caller: the request table, in the HTTP server thread, one
// request at a time.
//
// "WriteReg.w" and "Debug.w" need the modify right like every other setter:
// they write FPGA and 160T registers, start the SSH service and flag the data
// partition for erasure. Numbers that address a register or feed a command
// are taken only where they fit: a register index must be a whole number
// within the 1 MiB window of 16-byte registers (0-65,535) and a register
// value a whole number within 32 bits, else 774; a debug parameter or a log
// position outside 32 bits counts as 0.
#include "web/web_system.h"

#include <cJSON.h>

#include <array>
#include <cmath>
#include <string>

#include "core/err.h"
#include "core/log.h"
#include "platform/qam_apply.h"
#include "web/web_accessors.h"
#include "web/web_debug.h"
#include "web/web_logs.h"
#include "web/web_reply.h"

namespace hx {

namespace {

constexpr WebHandlerRules kTokenOnly{.modifyRight = false, .token = true};
constexpr WebHandlerRules kModifyAndToken{.modifyRight = true, .token = true};

constexpr long long kLastRegister = 65535;  // 1 MiB of 16-byte registers
constexpr long long kLargestU32 = 0xFFFFFFFFLL;
constexpr int kDebugNumbers = 16;
// Module bits the log names (bit 5 names none).
constexpr U32 kNamedModuleBits = 11;
constexpr U32 kUnnamedModuleBit = 5;
// What one "modulelist" may hold: a longer one would have been walked modulo
// 256, which skips items without a word.
constexpr int kMaxModuleItems = 255;

// Seconds the pages wait before they reconnect.
constexpr int kFactoryDelaySeconds = 2;
constexpr int kRebootDelaySeconds = 70;

void AddNumber(cJSON* object, const char* key, double value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value));
}

// A number converted to 32 bits, or 0 when it is not finite or lies outside
// 0..4294967295 (the conversion would be undefined).
U32 ToU32OrZero(double value) {
    if (!std::isfinite(value) || value < 0 || value >= 4294967296.0) {
        return 0;
    }
    return static_cast<U32>(value);
}

U32 ReplyWithPath(buffer* reply, const char* key, const char* path) {
    cJSON* data = cJSON_CreateObject();
    cJSON_AddStringToObject(data, key, path);
    return web_ReplyData(reply, data);
}

// "ExportLogs.w" and "SaveLog.w": the same archive under two keys.
U32 ExportLogs(buffer* reply, const char* key) {
    char path[kWebExportPathBytes] = {};
    if (const U32 result = Web_ExportLogs(path); result != VK_SUCCESS) {
        return result;
    }
    return ReplyWithPath(reply, key, path);
}

// ---- Debug.w ------------------------------------------------------------------------

struct DebugParameters {
    std::array<U32, kDebugNumbers> p{};
};

DebugParameters ReadDebugParameters(const cJSON* body) {
    DebugParameters parameters;
    const cJSON* list = web_ReadArray(body, "params");
    int index = 0;
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        if (index == kDebugNumbers) {
            break;
        }
        parameters.p[index++] = cJSON_IsNumber(item) ? ToU32OrZero(item->valuedouble) : 0;
    }
    return parameters;
}

// Runs the command of `type`; the value it reads, 0 for a command that reads
// none or a type without a command.
U32 RunDebugCommand(U32 type, const DebugParameters& parameters) {
    const auto& p = parameters.p;
    U32 value = 0;
    switch (type) {
        case 0:
            Web_DebugPrintMuxLUT();
            break;
        case 1:
            Web_DebugPrintBypassLUT();
            break;
        case 2:
            Web_Read160TFPGA(p[0], &value);
            break;
        case 3:
            Web_Write160TFPGA(p[0], p[1]);
            break;
        case 4: {
            U16 count = 0;
            Web_Get160TPIDCc(p[0], p[1], &count);
            value = count;
            break;
        }
        case 5:
            Web_Clear160TPIDCc();
            break;
        case 6:
            Web_ReadAD9119Reg(p[0], &value);
            HX_LOG_AT_AS("web_processDebug", LOG_LEVEL_INFO, LOG_MODULE_WEB, " Readaddr = %lf, Getvalue = %lf\r\n",
                         static_cast<double>(p[0]), static_cast<double>(value));
            break;
        case 7:
            Web_WriteAD9119Reg(p[0], p[1]);
            HX_LOG_AT_AS("web_processDebug", LOG_LEVEL_INFO, LOG_MODULE_WEB, " Writeaddr = %lf, Setvalue = %lf\r\n",
                         static_cast<double>(p[0]), static_cast<double>(p[1]));
            break;
        case 14:
            Web_ConnectService(p[0] & 0xFF);
            break;
        case 15:
            Web_GetConnectService(&value);
            break;
        case 16:
            Web_EraseData();
            break;
        default:
            break;
    }
    return value;
}

U32 Debug(cJSON* body, buffer* reply) {
    int type = 0;
    if (!web_ReadInt(body, "type", &type)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const DebugParameters parameters = ReadDebugParameters(body);
    const U32 value = RunDebugCommand(static_cast<U32>(type) & 0xFF, parameters);
    // Always 16 numbers; the operations' own codes are not reported.
    cJSON* results = cJSON_CreateArray();
    for (int i = 0; i < kDebugNumbers; ++i) {
        cJSON_AddItemToArray(results, cJSON_CreateNumber(i == 0 ? value : 0));
    }
    return web_ReplyData(reply, results);
}

// ---- GetLog.w, SetModulesAndlevel.w, GetModules -------------------------------------

U32 GetLog(cJSON* body, buffer* reply) {
    const U32 level = Log_GetLevel();
    double position = 0;
    if (!web_ReadDouble(body, "prelasttime", &position)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const int rows = Log_CacheRead(ToU32OrZero(position));
    cJSON* data = cJSON_CreateObject();
    cJSON* setting = cJSON_AddObjectToObject(data, "log_setting");
    AddNumber(setting, "error", level >> 3 & 1);
    AddNumber(setting, "warning", level >> 2 & 1);
    AddNumber(setting, "info", level >> 1 & 1);
    AddNumber(setting, "debug", level & 1);
    cJSON* content = cJSON_AddArrayToObject(data, "log_content");
    for (int row = 0; row < rows; ++row) {
        cJSON* line = cJSON_CreateObject();
        AddNumber(line, "time", static_cast<double>(g_arrLogTime[row]));
        AddNumber(line, "level", g_arrLogLevel[row]);
        cJSON_AddStringToObject(line, "log", g_arrLogRecord[row]);
        cJSON_AddItemToArray(content, line);
    }
    return web_ReplyData(reply, data, "SUCCESS");
}

U32 SetModulesAndLevel(cJSON* body, buffer* reply) {
    U32 modules = Log_GetModule();
    const cJSON* list = web_ReadArray(body, "modulelist");
    if (list != nullptr && cJSON_GetArraySize(list) > kMaxModuleItems) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const cJSON* item;
    cJSON_ArrayForEach(item, list) {
        const cJSON* id = cJSON_GetObjectItem(item, "id");
        const cJSON* value = cJSON_GetObjectItem(item, "value");
        if (id == nullptr || value == nullptr) {
            continue;
        }
        const U32 bit = static_cast<U32>(id->valueint) & 0xFF;
        if (bit < 32) {
            modules = (modules & ~(1u << bit)) | (static_cast<U32>(value->valueint) << bit);
        }
    }
    int error = 0;
    int warning = 0;
    int info = 0;
    int debug = 0;
    if (!web_ReadInt(body, "error", &error) || !web_ReadInt(body, "warning", &warning) ||
        !web_ReadInt(body, "info", &info) || !web_ReadInt(body, "debug", &debug)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    const U32 level = static_cast<U32>(debug) | static_cast<U32>(info) << 1 | static_cast<U32>(warning) << 2 |
                      static_cast<U32>(error) << 3;
    Web_SetLogStatus(level);
    Log_SetModule(modules);
    LogSetting_StoreParam();
    return web_processSuccess(reply);
}

// ---- ReadReg.w, WriteReg.w ----------------------------------------------------------

U32 ReadRegister(cJSON* body, buffer* reply) {
    long long address = 0;
    if (!web_ReadWholeInt(body, "address", 0, kLastRegister, &address)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    U32 value = 0;
    web_REG_Read_fortest(static_cast<U32>(address), &value);
    cJSON* data = cJSON_CreateObject();
    AddNumber(data, "value", value);
    return web_ReplyData(reply, data);
}

U32 WriteRegister(cJSON* body, buffer* reply) {
    long long address = 0;
    long long value = 0;
    if (!web_ReadWholeInt(body, "address", 0, kLastRegister, &address) ||
        !web_ReadWholeInt(body, "value", 0, kLargestU32, &value)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    web_REG_Write_fortest(static_cast<U32>(address), static_cast<U32>(value));
    return web_processSuccess(reply);
}

}  // namespace

U32 web_processBeat(buffer* reply) {
    return web_ReplyData(reply, cJSON_CreateObject());
}

U32 web_processDefault(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_processDefault", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Operation > click Factory Settings button!(Web_SetFactory)\r\n");
        {
            // The QAM settings are rebuilt and saved: no web or SNMP apply may
            // copy or send them half-way through.
            QamApplyGuard apply(QAM_ApplyLock());
            if (const U32 result = Web_SetFactory(); result != VK_SUCCESS) {
                return result;
            }
        }
        cJSON* data = cJSON_CreateObject();
        AddNumber(data, "defaultDelay", kFactoryDelaySeconds);
        return web_ReplyData(out, data);
    });
}

U32 web_processReboot(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_processReboot", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Operation > click Reboot button!(Web_Reboot)\r\n");
        if (const U32 result = Web_Reboot(); result != VK_SUCCESS) {
            return result;
        }
        cJSON* data = cJSON_CreateObject();
        AddNumber(data, "delay", kRebootDelaySeconds);
        return web_ReplyData(out, data);
    });
}

U32 web_processDebug(buffer* reply) { return web_HandleRequest(reply, kModifyAndToken, Debug); }

U32 web_processReadReg(buffer* reply) { return web_HandleRequest(reply, kTokenOnly, ReadRegister); }

U32 web_processWriteReg(buffer* reply) { return web_HandleRequest(reply, kModifyAndToken, WriteRegister); }

U32 web_processExportLogs(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_processExportLogs", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Operation > click Log Export button!(Web_ExportLogs)\r\n");
        return ExportLogs(out, "uri");
    });
}

U32 web_processClearLogs(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_processClearLogs", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Operation > click Log Clear button!(Web_ClearLog)\r\n");
        Web_ClearLog();
        return web_processSuccess(out);
    });
}

U32 web_saveLog(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_saveLog", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Settings > System > click Log Export button!(Log_Download)\r\n");
        return ExportLogs(out, "url");
    });
}

U32 web_processGetLog(buffer* reply) { return web_HandleRequest(reply, kTokenOnly, GetLog); }

U32 web_processSetModulesAndLevel(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, SetModulesAndLevel);
}

U32 web_processGetModules(buffer* reply) {
    const U32 modules = Log_GetModule();
    cJSON* data = cJSON_CreateObject();
    cJSON* list = cJSON_AddArrayToObject(data, "modulelist");
    for (U32 bit = 0; bit < kNamedModuleBits; ++bit) {
        if (bit == kUnnamedModuleBit) {
            continue;
        }
        cJSON* item = cJSON_CreateObject();
        cJSON_AddStringToObject(item, "name", log_NameArrayName[bit]);
        AddNumber(item, "id", bit);
        AddNumber(item, "value", modules >> bit & 1);
        cJSON_AddItemToArray(list, item);
    }
    return web_ReplyData(reply, data, "SUCCESS");
}

U32 web_processExportMibs(buffer* reply) {
    return web_HandleRequest(reply, kModifyAndToken, [](cJSON*, buffer* out) {
        HX_LOG_AT_AS("web_processExportMibs", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB: System Settings > System > click Mibs Export button!(Mibs_Download)\r\n");
        char path[kWebExportPathBytes] = {};
        if (const U32 result = Web_ExportMIBs(path); result != VK_SUCCESS) {
            return result;
        }
        return ReplyWithPath(out, "uri", path);
    });
}

}  // namespace hx

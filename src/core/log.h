// Logging: the one call every module uses, log_printf, with its level, module
// and output masks, the console and syslog outputs, the de-duplicated device
// log and the web page's log cache.
//
// Line format: "[LEVEL][MODULE]message", at most 255 characters, "vandik" in
// any case replaced by "product". Messages conventionally begin with
// "%ld:%s:%d " (thread id, function, source line); HX_LOG adds that prefix.
//
// Threads: called from every thread. Formatting uses per-call buffers; the
// masks and flags are atomics read without a lock (a change from the web takes
// effect at the next call); the device-log merge and clear hold
// s_LogUniqMutex. Syslog and the console go through replaceable sinks so tests
// can see what was written; on the simulated board the syslog sink appends to
// the data root's "/vandik_data/log/KESTRA.log" the way the card's syslog
// daemon would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/types.h"

namespace hx {

enum LogLevel_EM : U32 {
    LOG_LEVEL_DEBUG = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARNING = 4,
    LOG_LEVEL_ERROR = 8,
    LOG_LEVEL_ALL = 255,
};

enum LogModule_EM : U32 {
    LOG_MODULE_SYS = 1,
    LOG_MODULE_PARAMS = 2,
    LOG_MODULE_UPGRADE = 4,
    LOG_MODULE_TSPROCESS = 8,
    LOG_MODULE_SIPROCESS = 16,
    LOG_MODULE_SOCKET = 64,
    LOG_MODULE_HW = 128,
    LOG_MODULE_WEB = 256,
    LOG_MODULE_SNMP = 512,
    LOG_MODULE_QAM = 1024,
    LOG_MODULE_ALL = 65535,
};

enum LogOutput_EM : U32 {
    LOG_OUTPUT_CONSOLE = 1,
    LOG_OUTPUT_SYSLOG = 2,
    LOG_OUTPUT_ALL = 255,
};

// The settings record and its file "/vandik_data/logSetting.config": three
// little-endian u32, level, module, output. No header, no CRC.
struct LogCtrl_ST {
    U32 emLogLevel;
    U32 emLogModule;
    U32 emLogOutput;
};
constexpr std::size_t kLogSettingsSize = 12;

constexpr const char* kLogSettingsPath = "/vandik_data/logSetting.config";
constexpr const char* kMainLogPath = "/vandik_data/log/KESTRA.log";
constexpr const char* kDeviceLogPath = "/vandik_data/log//device.log";
constexpr const char* kDeviceLogOldPath = "/vandik_data/log//device.log.0";
constexpr std::size_t kDeviceLogLimit = 2'097'152;
constexpr std::size_t kDeviceLogWindow = 16'384;

void log_Init(const char* pu8LogSavepath);
void log_DeInit();
void log_printf(U32 emLogLevel, U32 emLogModule, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Whether log_printf does anything with a line of this level and module:
// every line before log_Init (the console shows it then), afterwards only
// those both masks take. The logging macros ask first, so a line the masks
// drop costs neither its formatting nor its arguments (the thread id is a
// system call).
bool Log_Takes(U32 emLogLevel, U32 emLogModule);

// The web log page ("SetModulesAndlevel.w", "GetLog.w", "GetModules") sets and reads the settings with these.
void Log_SetLevel(U32 level);
void Log_SetModule(U32 module);
void Log_SetOutputMode(U32 output);
U32 Log_GetLevel();
U32 Log_GetModule();
U32 Log_GetOutputMode();
int Log_IsOpenLevel(U32 level);
int Log_IsOpenModule(U32 module);
const char* Log_GetLevelString(U32 level);
// The name of each module bit, bit 0 first; bit 5 names no module ("").
constexpr std::size_t kLogModuleNames = 11;
extern const char* const log_NameArrayName[kLogModuleNames];
const char* Log_GetModuleString(U32 module);

void LogSetting_ParamInit();
U32 LogSetting_StoreParam();
U32 Log_RestoreParam();

void uniqlog(const char* strlog);
void uniqlogclear();

// Copies srcStr to destStr with every case-insensitive occurrence of oldSubStr
// replaced by newSubStr, writing at most destLen bytes (always terminated).
// Never reads past the end of srcStr.
char* StringReplace(const char* srcStr, const char* oldSubStr, const char* newSubStr, char* destStr, int destLen);

// Web log cache, filled from the main log by Log_CacheRead (for the web log
// page, "GetLog.w").
constexpr int kLogCacheRows = 200;
constexpr int kLogCacheText = 256;
extern std::int64_t g_arrLogTime[kLogCacheRows];
extern U32 g_arrLogLevel[kLogCacheRows];
extern char g_arrLogRecord[kLogCacheRows][kLogCacheText];
int Log_CacheRead(U64 u64Time);

long Log_ThreadId();

// Replaceable outputs.
class SyslogSink {
public:
    virtual ~SyslogSink() = default;
    virtual void Open(const char* ident) = 0;
    virtual void Write(int priority, const std::string& text) = 0;
    virtual void Close() = 0;
};
// nullptr restores the profile's default sink (real syslog on the card, the
// data root's main log file on the simulated board).
void Log_SetSyslogSink(SyslogSink* sink);
using ConsoleSink = std::function<void(std::string_view)>;
// An empty function restores standard output.
void Log_SetConsoleSink(ConsoleSink sink);
// Back to the state before log_Init: masks zero, syslog closed.
void Log_ResetForTest();

}  // namespace hx

// Evaluates `call`, a log_printf of that level and module, only when the
// masks take the line. An expression, usable wherever the call was.
#define HX_LOG_WHEN_TAKEN(level, module, call) (::hx::Log_Takes((level), (module)) ? (call) : void())

// The one logging macro: the "%ld:%s:%d " prefix (thread id, caller, source
// line) and the message. HX_LOG names the enclosing function; HX_LOG_AS names
// another, for a body shared by several public routines that logs under the
// routine its caller called (or a thread known by its entry's name).
#define HX_LOG_AS(caller, level, module, fmt, ...)                                                          \
    HX_LOG_WHEN_TAKEN((level), (module),                                                                    \
                      ::hx::log_printf((level), (module), "%ld:%s:%d " fmt, ::hx::Log_ThreadId(), (caller), \
                                       __LINE__ __VA_OPT__(, ) __VA_ARGS__))
#define HX_LOG(level, module, fmt, ...) HX_LOG_AS(__func__, (level), (module), fmt __VA_OPT__(, ) __VA_ARGS__)

// The "[function:line]" form that some modules use.
#define HX_LOG_AT_AS(caller, level, module, fmt, ...) \
    HX_LOG_WHEN_TAKEN(                                \
        (level), (module),                            \
        ::hx::log_printf((level), (module), "[%s:%d]" fmt, (caller), __LINE__ __VA_OPT__(, ) __VA_ARGS__))
#define HX_LOG_AT(level, module, fmt, ...) HX_LOG_AT_AS(__func__, (level), (module), fmt __VA_OPT__(, ) __VA_ARGS__)

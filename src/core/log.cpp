#include "core/log.h"

#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "core/clock.h"
#include "core/file_util.h"
#include "core/param_file_io.h"
#include "core/run_profile.h"

namespace hx {

const char* const log_NameArrayName[kLogModuleNames] = {"SYS",       "PARAMS", "UPGRADE", "TSPROCESS",
                                                        "SIPROCESS", "",       "SOCKET",  "HW",
                                                        "WEB",       "SNMP",   "QAM"};

std::int64_t g_arrLogTime[kLogCacheRows];
U32 g_arrLogLevel[kLogCacheRows];
char g_arrLogRecord[kLogCacheRows][kLogCacheText];

namespace {

struct LogControl {
    std::atomic<U32> level{0};
    std::atomic<U32> module{0};
    std::atomic<U32> output{0};
};

LogControl s_stLogCtrl;
std::atomic<bool> g_isLogInited{false};
std::atomic<bool> g_isSyslogOpen{false};
std::mutex s_LogUniqMutex;
std::mutex s_CacheMutex;
long s_cacheOffset = 0;

constexpr const char* kLevelNames[] = {"DEBUG", "INFO", "WARNING", "ERROR"};

// Syslog of the host: what the card's daemon turns into KESTRA.log.
class SystemSyslog final : public SyslogSink {
public:
    void Open(const char* ident) override { openlog(ident, LOG_PID, LOG_USER); }
    void Write(int priority, const std::string& text) override { syslog(priority, "%s", text.c_str()); }
    void Close() override { closelog(); }
};

// On the simulated board the main log is written here, in the daemon's line
// form ("Mon dd hh:mm:ss host user.info [ident][pid]: text"), so the web log
// view reads the same kind of file as on the card.
class FileSyslog final : public SyslogSink {
public:
    void Open(const char* ident) override {
        std::lock_guard lock(mutex_);
        ident_ = ident;
    }
    void Write(int priority, const std::string& text) override {
        static constexpr const char* kPriority[] = {"emerg", "alert", "crit", "err", "warn", "notice", "info", "debug"};
        const timespec now = TheClock().WallTime();
        tm local{};
        localtime_r(&now.tv_sec, &local);
        char stamp[32];
        strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        std::lock_guard lock(mutex_);
        const std::string path = ResolvePath(kMainLogPath);
        if (FILE* file = std::fopen(path.c_str(), "a")) {
            std::fprintf(file, "%s hx-qam user.%s %s[%d]: %s\n", stamp, kPriority[priority & 7], ident_.c_str(),
                         static_cast<int>(getpid()), message.c_str());
            std::fclose(file);
        }
    }
    void Close() override {}

private:
    std::mutex mutex_;
    std::string ident_;
};

SystemSyslog g_systemSyslog;
FileSyslog g_fileSyslog;
std::atomic<SyslogSink*> g_syslogOverride{nullptr};
std::mutex g_consoleMutex;
ConsoleSink g_console;

SyslogSink& Syslog() {
    if (SyslogSink* sink = g_syslogOverride.load()) {
        return *sink;
    }
    if (Profile().backend == HardwareBackend::Card) {
        return g_systemSyslog;
    }
    return g_fileSyslog;
}

void Console(std::string_view text) {
    std::lock_guard lock(g_consoleMutex);
    if (g_console) {
        g_console(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int LowestBit(U32 value, int limit) {
    for (int bit = 0; bit < limit; ++bit) {
        if (value & (1u << bit)) {
            return bit;
        }
    }
    return -1;
}

int SyslogPriority(U32 level) {
    switch (level) {
        case LOG_LEVEL_DEBUG: return LOG_DEBUG;
        case LOG_LEVEL_INFO: return LOG_INFO;
        case LOG_LEVEL_WARNING: return LOG_WARNING;
        case LOG_LEVEL_ERROR: return LOG_ERR;
        default: return LOG_INFO;
    }
}

void ApplySettings(const LogCtrl_ST& settings) {
    s_stLogCtrl.level = settings.emLogLevel;
    s_stLogCtrl.module = settings.emLogModule;
    s_stLogCtrl.output = settings.emLogOutput;
}

// The device-log line's time stamp: "Mon dd hh:mm:ss", 15 characters.
std::string DeviceLogStamp() {
    const timespec now = TheClock().WallTime();
    char text[32];
    ctime_r(&now.tv_sec, text);
    return std::string(text + 4, 15);
}

bool KeepsLineEnd(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == ']' || c == ')' || c == '}';
}

// Finds the previous record of the same source in the window: the whole first
// word of the new line, standing at least one record head after the window's
// start, followed by a blank (or the end of that line) and then a newline.
std::size_t FindSameSource(const std::string& window, const std::string& feature, std::size_t headSize) {
    std::size_t from = 0;
    while (!feature.empty()) {
        const std::size_t hit = window.find(feature, from);
        if (hit == std::string::npos) {
            return std::string::npos;
        }
        const std::size_t after = hit + feature.size();
        const bool wholeWord = after < window.size() && (window[after] == ' ' || window[after] == '\n');
        if (wholeWord && hit >= headSize && window.find('\n', after) != std::string::npos) {
            return hit;
        }
        from = hit + 1;
    }
    return std::string::npos;
}

}  // namespace

long Log_ThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

void Log_SetSyslogSink(SyslogSink* sink) { g_syslogOverride.store(sink); }

void Log_SetConsoleSink(ConsoleSink sink) {
    std::lock_guard lock(g_consoleMutex);
    g_console = std::move(sink);
}

void Log_ResetForTest() {
    g_isLogInited = false;
    g_isSyslogOpen = false;
    ApplySettings(LogCtrl_ST{0, 0, 0});
}

char* StringReplace(const char* srcStr, const char* oldSubStr, const char* newSubStr, char* destStr, int destLen) {
    if (srcStr == nullptr || oldSubStr == nullptr || newSubStr == nullptr || destStr == nullptr || destLen <= 0) {
        return destStr;
    }
    const std::size_t capacity = static_cast<std::size_t>(destLen);
    const std::size_t oldLength = std::strlen(oldSubStr);
    const std::size_t newLength = std::strlen(newSubStr);
    const std::size_t srcLength = std::strlen(srcStr);
    std::size_t out = 0;
    if (oldLength == 0 || std::strcmp(oldSubStr, newSubStr) == 0) {
        const std::size_t count = std::min(srcLength, capacity - 1);
        std::memcpy(destStr, srcStr, count);
        destStr[count] = '\0';
        return destStr;
    }
    std::size_t in = 0;
    while (in < srcLength && out + 1 < capacity) {
        if (in + oldLength <= srcLength && strncasecmp(srcStr + in, oldSubStr, oldLength) == 0) {
            const std::size_t count = std::min(newLength, capacity - 1 - out);
            std::memcpy(destStr + out, newSubStr, count);
            out += count;
            in += oldLength;
        } else {
            destStr[out++] = srcStr[in++];
        }
    }
    destStr[out] = '\0';
    return destStr;
}

void Log_SetLevel(U32 level) { s_stLogCtrl.level = level; }
void Log_SetModule(U32 module) { s_stLogCtrl.module = module; }
void Log_SetOutputMode(U32 output) { s_stLogCtrl.output = output; }
U32 Log_GetLevel() { return s_stLogCtrl.level; }
U32 Log_GetModule() { return s_stLogCtrl.module; }
U32 Log_GetOutputMode() { return s_stLogCtrl.output; }

int Log_IsOpenLevel(U32 level) { return (s_stLogCtrl.level & level) != 0 ? 0 : -1; }
int Log_IsOpenModule(U32 module) { return (s_stLogCtrl.module & module) != 0 ? 0 : -1; }

const char* Log_GetLevelString(U32 level) {
    const int bit = LowestBit(level, 4);
    return kLevelNames[bit < 0 ? 0 : bit];
}

const char* Log_GetModuleString(U32 module) {
    int bit = LowestBit(module, 11);
    if (bit == 5) {
        // Bit 5 names no module; the name goes to the next set bit, else "SYS".
        bit = LowestBit(module & ~(1u << 5), 11);
    }
    return log_NameArrayName[bit < 0 ? 0 : bit];
}

bool Log_Takes(U32 emLogLevel, U32 emLogModule) {
    return !g_isLogInited || (Log_IsOpenLevel(emLogLevel) == 0 && Log_IsOpenModule(emLogModule) == 0);
}

void log_printf(U32 emLogLevel, U32 emLogModule, const char* format, ...) {
    const bool inited = g_isLogInited;
    const bool taken = Log_IsOpenLevel(emLogLevel) == 0 && Log_IsOpenModule(emLogModule) == 0;
    if (inited && !taken) {
        return;
    }
    char message[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);

    char replaced[256];
    StringReplace(message, "vandik", "product", replaced, sizeof replaced);

    const char* levelName = Log_GetLevelString(emLogLevel);
    const char* moduleName = Log_GetModuleString(emLogModule);
    std::string line = std::string("[") + levelName + "][" + moduleName + "]" + replaced;
    if (line.size() > 255) {
        line.resize(255);
    }

    if (!inited) {
        Console(line + "\n log module is not initialized\n");
    }
    if (!taken) {
        return;
    }
    const U32 output = s_stLogCtrl.output;
    if (output & LOG_OUTPUT_CONSOLE) {
        Console(line);
    }
    if (output & LOG_OUTPUT_SYSLOG) {
        if (!g_isSyslogOpen) {
            char notice[128];
            std::snprintf(notice, sizeof notice, "[%s:%d] syslogd is not open\n", __func__, __LINE__);
            Console(notice);
            return;
        }
        uniqlog(line.c_str());
        char text[300];
        std::snprintf(text, sizeof text, "[%s]%s", moduleName, replaced);
        Syslog().Write(SyslogPriority(emLogLevel), text);
    }
}

void LogSetting_ParamInit() {
    ApplySettings(LogCtrl_ST{LOG_LEVEL_INFO | LOG_LEVEL_WARNING | LOG_LEVEL_ERROR, 0xFFFF, LOG_OUTPUT_ALL});
}

U32 LogSetting_StoreParam() {
    const U32 fields[3] = {s_stLogCtrl.level, s_stLogCtrl.module, s_stLogCtrl.output};
    U8 bytes[kLogSettingsSize];
    for (int i = 0; i < 3; ++i) {
        for (int b = 0; b < 4; ++b) {
            bytes[i * 4 + b] = static_cast<U8>(fields[i] >> (8 * b));
        }
    }
    const U32 result = PARAMS_WriteFile(kLogSettingsPath, bytes, sizeof bytes);
    if (result != 0) {
        HX_LOG_AT(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "PARAM_WriteFile error,enErrCode[%08X]\r\n", result);
    }
    return 0;
}

U32 Log_RestoreParam() {
    for (U8 u8TryTimes = 0; u8TryTimes < 2; ++u8TryTimes) {
        if (u8TryTimes > 0) {
            TheClock().SleepMicros(100'000);
        }
        U8 bytes[kLogSettingsSize] = {};
        U32 result = PARAMS_ReadFile(kLogSettingsPath, bytes, sizeof bytes);
        // A short file would leave masks half zero and silence the log: it
        // counts as unreadable, so the factory masks are written back.
        if (result == 0 && File_Size(ResolvePath(kLogSettingsPath)).value_or(0) < kLogSettingsSize) {
            result = 15;
        }
        if (result == 0) {
            auto field = [&](int index) {
                return static_cast<U32>(bytes[index * 4]) | static_cast<U32>(bytes[index * 4 + 1]) << 8 |
                       static_cast<U32>(bytes[index * 4 + 2]) << 16 | static_cast<U32>(bytes[index * 4 + 3]) << 24;
            };
            ApplySettings(LogCtrl_ST{field(0), field(1), field(2)});
            HX_LOG_AT(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Get logSetting configuration success!!\r\n");
            return 0;
        }
        HX_LOG_AT(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "PARAM_ReadlogSetting error,u8TryTimes[%u],enErrCode[%08X]\r\n",
                  static_cast<unsigned>(u8TryTimes), result);
    }
    HX_LOG_AT(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Get logSetting configuration error, set to default\r\n");
    LogSetting_ParamInit();
    LogSetting_StoreParam();
    return 0;
}

void log_Init(const char* pu8LogSavepath) {
    if (pu8LogSavepath == nullptr) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Param is NULL!\n");
        return;
    }
    const std::string path = pu8LogSavepath;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "log_init Logs save path isn't absolute path\n");
    }
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    char banner[600];
    std::snprintf(banner, sizeof banner, "pu8LogSavepath = %s  u8LogSavedir = %s\n", path.c_str(), directory.c_str());
    Console(banner);

    std::error_code error;
    if (!directory.empty() && std::filesystem::is_directory(ResolvePath(directory), error)) {
        Syslog().Open("[KESTRA]");
        g_isSyslogOpen = true;
    } else {
        g_isSyslogOpen = false;
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "%s dir isn't exist!\n", directory.c_str());
    }
    Log_RestoreParam();
    g_isLogInited = true;
}

void log_DeInit() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "close log\n");
    if (g_isSyslogOpen) {
        g_isSyslogOpen = false;
        g_isLogInited = false;
        Syslog().Close();
    }
}

void uniqlog(const char* strlog) {
    if (strlog == nullptr) {
        return;
    }
    std::lock_guard lock(s_LogUniqMutex);
    const std::string stamp = DeviceLogStamp();
    std::string first = stamp;
    const std::string last = stamp;
    char count[16];
    std::snprintf(count, sizeof count, " %04d  ", 0);

    std::string line = strlog;
    for (int removed = 0; line.size() > 1 && removed < 8 && !KeepsLineEnd(line.back()); ++removed) {
        line.pop_back();
    }

    const std::string path = ResolvePath(kDeviceLogPath);
    const std::optional<std::size_t> existing = File_Size(path);
    const std::size_t oldSize = existing.value_or(0);
    FILE* file = std::fopen(path.c_str(), existing ? "rb+" : "ab+");
    if (file != nullptr) {
        constexpr std::size_t kHead = 15 + 15 + 7 + 1;
        if (oldSize <= 256) {
            std::fseek(file, 0, SEEK_END);
        } else {
            const std::size_t windowLength = oldSize > kDeviceLogWindow - 1 ? kDeviceLogWindow : oldSize;
            const long windowOffset = static_cast<long>(oldSize - windowLength);
            std::string window(windowLength, '\0');
            std::fseek(file, windowOffset, SEEK_SET);
            window.resize(std::fread(window.data(), 1, windowLength, file));

            const std::string feature = line.substr(0, std::min<std::size_t>(line.find(' '), 256));
            const std::size_t hit = FindSameSource(window, feature, kHead);
            if (hit != std::string::npos) {
                const std::size_t head = hit - kHead;
                first = window.substr(head, 15);
                const int oldCount = std::atoi(window.substr(hit - 7, 7).c_str());
                if (oldCount + 1 < 10000) {
                    std::snprintf(count, sizeof count, " %04d  ", oldCount + 1);
                } else {
                    std::snprintf(count, sizeof count, " 9999+ ");
                }
                const std::size_t lineEnd = window.find('\n', hit);
                std::fseek(file, windowOffset, SEEK_SET);
                std::fwrite(window.data(), 1, head, file);
                if (lineEnd + 1 < window.size()) {
                    std::fwrite(window.data() + lineEnd + 1, 1, window.size() - lineEnd - 1, file);
                }
            } else {
                std::fseek(file, 0, SEEK_END);
            }
        }
        std::fprintf(file, "%s %s%s%s", first.c_str(), last.c_str(), count, line.c_str());
        // The record may be shorter than the one it replaced: blank out the
        // rest so no stale tail of the old text survives.
        for (long position = std::ftell(file); oldSize > 0 && position < static_cast<long>(oldSize) - 1; ++position) {
            std::fputc(' ', file);
        }
        std::fputc('\n', file);
        std::fflush(file);
        fsync(fileno(file));
        std::fclose(file);
    }
    if (File_Size(path).value_or(0) > kDeviceLogLimit) {
        const std::string old = ResolvePath(kDeviceLogOldPath);
        std::remove(old.c_str());
        std::rename(path.c_str(), old.c_str());
    }
}

void uniqlogclear() {
    std::lock_guard lock(s_LogUniqMutex);
    std::remove(ResolvePath(kDeviceLogOldPath).c_str());
    std::remove(ResolvePath(kDeviceLogPath).c_str());
}

int Log_CacheRead(U64 u64Time) {
    std::lock_guard lock(s_CacheMutex);
    FILE* file = std::fopen(ResolvePath(kMainLogPath).c_str(), "r");
    if (file == nullptr) {
        return 0;
    }
    char buffer[256];
    if (u64Time == 0) {
        s_cacheOffset = 0;
        if (std::fseek(file, -1000, SEEK_END) != 0) {
            std::fseek(file, 0, SEEK_SET);
        } else {
            // Skip the partial line the jump landed in.
            std::fgets(buffer, 255, file);
            s_cacheOffset = std::ftell(file);
        }
    } else if (std::fseek(file, s_cacheOffset, SEEK_SET) != 0) {
        std::fclose(file);
        return 0;
    }
    std::memset(g_arrLogTime, 0, sizeof g_arrLogTime);
    std::memset(g_arrLogLevel, 0, sizeof g_arrLogLevel);
    std::memset(g_arrLogRecord, 0, sizeof g_arrLogRecord);

    int rows = 0;
    while (rows < kLogCacheRows && std::fgets(buffer, 255, file) != nullptr) {
        const std::size_t length = std::strlen(buffer);
        s_cacheOffset += static_cast<long>(length);
        const char* dot = std::strchr(buffer, '.');
        if (dot == nullptr) {
            continue;
        }
        int level = -1;
        if (std::strncmp(dot, ".info", 5) == 0) {
            level = 1;
        } else if (std::strncmp(dot, ".debug", 6) == 0) {
            level = 0;
        } else if (std::strncmp(dot, ".war", 4) == 0) {
            level = 2;
        } else if (std::strncmp(dot, ".err", 4) == 0) {
            level = 3;
        }
        const char* colon = level < 0 ? nullptr : std::strchr(dot, ':');
        if (colon == nullptr) {
            continue;
        }
        std::string text(colon + 1);
        if (!text.empty()) {
            text.pop_back();
        }
        g_arrLogTime[rows] = TheClock().WallTime().tv_sec;
        g_arrLogLevel[rows] = static_cast<U32>(level);
        std::snprintf(g_arrLogRecord[rows], kLogCacheText, "%s", text.c_str());
        ++rows;
    }
    std::fclose(file);
    return rows;
}

}  // namespace hx

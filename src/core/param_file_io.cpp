#include "core/param_file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <span>
#include <string>

#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

namespace {

// The two pairs differ only in how they log; one body serves both.
enum class Voice { Params, Param };

// Logs under the public routine's name, not the shared body's, in that
// routine's voice: the PARAMS pair with the usual prefix, the PARAM pair in the
// bracketed form at INFO whatever the line's level.
#define FILE_LOG(voice, level, fmt, ...)                                                                      \
    do {                                                                                                      \
        if ((voice) == Voice::Params) {                                                                       \
            HX_LOG_AS(caller, (level), LOG_MODULE_PARAMS, fmt "\n" __VA_OPT__(, ) __VA_ARGS__);               \
        } else {                                                                                              \
            HX_LOG_AT_AS(caller, LOG_LEVEL_INFO, LOG_MODULE_PARAMS, ":" fmt "\n" __VA_OPT__(, ) __VA_ARGS__); \
        }                                                                                                     \
    } while (0)

U32 WriteFile(Voice voice, const char* caller, const char* pcFileName, const U8* pu8Buf, U32 u32Len) {
    if (pcFileName == nullptr || pu8Buf == nullptr) {
        FILE_LOG(voice, LOG_LEVEL_ERROR, "Input Error,pcFileName[%p],pu8Buf[%p]", static_cast<const void*>(pcFileName),
                 static_cast<const void*>(pu8Buf));
        return VK_ERR_PARAMS;
    }
    const std::string path = ResolvePath(pcFileName);
    if (!File_WriteAtomic(path, std::span<const U8>(pu8Buf, u32Len))) {
        FILE_LOG(voice, LOG_LEVEL_ERROR, "open pcFileName[%s] fail", pcFileName);
        return VK_ERR_FAILURE;
    }
    FILE_LOG(voice, LOG_LEVEL_DEBUG, "fwrite %s:u32Len[%u],ret[%d]", pcFileName, u32Len, static_cast<int>(u32Len));
    return VK_SUCCESS;
}

U32 ReadFile(Voice voice, const char* caller, const char* pcFileName, U8* pu8Buf, U32 u32Len) {
    if (pcFileName == nullptr || pu8Buf == nullptr) {
        FILE_LOG(voice, LOG_LEVEL_ERROR, "Input Error,pcFileName[%p],pu8Buf[%p]", static_cast<const void*>(pcFileName),
                 static_cast<const void*>(pu8Buf));
        return VK_ERR_PARAMS;
    }
    const std::string path = ResolvePath(pcFileName);
    if (access(path.c_str(), F_OK) != 0) {
        FILE_LOG(voice, LOG_LEVEL_INFO, "pcFileName[%s] dont exists", pcFileName);
        return VK_ERR_FILE_NOT_EXISTING;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        FILE_LOG(voice, LOG_LEVEL_ERROR, "open pcFileName[%s] fail", pcFileName);
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    const long lSize = static_cast<long>(File_Size(path).value_or(0));
    const U32 needed = static_cast<U32>(std::min<long>(lSize, u32Len));
    U32 done = 0;
    bool failed = false;
    while (done < needed) {
        const ssize_t got = read(fd, pu8Buf + done, needed - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            failed = got < 0;
            break;
        }
        done += static_cast<U32>(got);
    }
    close(fd);
    FILE_LOG(voice, LOG_LEVEL_DEBUG, "fread %s:lSize[%ld],u32Len[%u],sNeedReadLen[%d],ret[%d]", pcFileName, lSize, u32Len,
             static_cast<int>(needed), static_cast<int>(done));
    return failed ? VK_ERR_FAILURE : VK_SUCCESS;
}

}  // namespace

U32 PARAMS_WriteFile(const char* pcFileName, const U8* pu8Buf, U32 u32Len) {
    return WriteFile(Voice::Params, __func__, pcFileName, pu8Buf, u32Len);
}

U32 PARAMS_ReadFile(const char* pcFileName, U8* pu8Buf, U32 u32Len) {
    return ReadFile(Voice::Params, __func__, pcFileName, pu8Buf, u32Len);
}

U32 PARAM_WriteFile(const char* pcFileName, const U8* pu8Buf, U32 u32Len) {
    return WriteFile(Voice::Param, __func__, pcFileName, pu8Buf, u32Len);
}

U32 PARAM_ReadFile(const char* pcFileName, U8* pu8Buf, U32 u32Len) {
    return ReadFile(Voice::Param, __func__, pcFileName, pu8Buf, u32Len);
}

}  // namespace hx

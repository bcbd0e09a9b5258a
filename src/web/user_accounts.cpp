#include "web/user_accounts.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace hx {

ST_USER_INFO g_stUserArr[kMaxUsers];
U32 g_u32UserNum = 0;

namespace {

constexpr std::size_t kMaxLineBytes = 200;  // line feed included
constexpr std::size_t kMinFieldLength = 2;
constexpr std::size_t kMaxFieldLength = kUserFieldSize - 1;

// Operations call each other (every one reloads), so the lock is recursive.
std::recursive_mutex s_userMutex;

bool IsBlankOrControl(unsigned char c) { return c <= ' ' || c == 0x7F; }

void CopyField(U8 (&field)[kUserFieldSize], std::string_view text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), kMaxFieldLength));
}

std::string_view FieldText(const U8 (&field)[kUserFieldSize]) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string_view(text, strnlen(text, sizeof field));
}

bool LengthOk(const char* text) {
    if (text == nullptr) {
        return false;
    }
    const std::size_t length = strnlen(text, kMaxFieldLength + 1);
    return length >= kMinFieldLength && length <= kMaxFieldLength;
}

// A line feed in a name would add an account to the file, a space in a
// password would cut it when read back, and ':' ends a name.
bool CharactersOk(std::string_view name, std::string_view password) {
    const auto badInName = [](unsigned char c) { return c == ':' || IsBlankOrControl(c); };
    return std::none_of(name.begin(), name.end(), badInName) &&
           std::none_of(password.begin(), password.end(), [](unsigned char c) { return IsBlankOrControl(c); });
}

void ReadLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 || g_u32UserNum >= kMaxUsers) {
        return;
    }
    std::string_view password = line.substr(colon + 1);
    const auto isSpace = [](unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!password.empty() && isSpace(static_cast<unsigned char>(password.front()))) {
        password.remove_prefix(1);
    }
    const auto end = std::find_if(password.begin(), password.end(), [&](char c) { return isSpace(c); });
    password = password.substr(0, static_cast<std::size_t>(end - password.begin()));
    if (password.empty()) {
        return;
    }
    ST_USER_INFO& user = g_stUserArr[g_u32UserNum];
    CopyField(user.u8UserName, line.substr(0, colon));
    CopyField(user.u8UserPasswd, password);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "[%s]%d: Name = %s Passwd = %s!\n\n", "user_LoadUser", __LINE__,
           user.u8UserName, user.u8UserPasswd);
    user.isEnable = HX_TRUE;
    ++g_u32UserNum;
}

}  // namespace

U32 user_LoadUser() {
    std::lock_guard lock(s_userMutex);
    std::memset(g_stUserArr, 0, sizeof g_stUserArr);
    const auto content = File_ReadAll(ResolvePath(kUserFilePath));
    if (!content) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Open user file error!\n\n", __func__, __LINE__);
        return VK_ERR_USER_OPEN_FILE_ERROR;
    }
    g_u32UserNum = 0;
    const std::string_view text(reinterpret_cast<const char*>(content->data()), content->size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        // A line too long to be an account is skipped whole, never read as two.
        if (next - start <= kMaxLineBytes) {
            ReadLine(text.substr(start, (end == std::string_view::npos ? text.size() : end) - start));
        }
        start = next;
    }
    return VK_SUCCESS;
}

U32 user_SaveUser() {
    std::lock_guard lock(s_userMutex);
    std::string text;
    for (U32 i = 0; i < g_u32UserNum && i < kMaxUsers; ++i) {
        const ST_USER_INFO& user = g_stUserArr[i];
        if (user.isEnable != HX_TRUE) {
            continue;
        }
        const std::string line = std::string(FieldText(user.u8UserName)) + ":" + std::string(FieldText(user.u8UserPasswd));
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "[%s]%d: Line = %s\n\n", __func__, __LINE__, line.c_str());
        text += line + "\n";
    }
    const std::string path = ResolvePath(kUserFilePath);
    File_RemoveStaleTemporaries(path);
    if (!File_WriteAtomic(path, std::span(reinterpret_cast<const U8*>(text.data()), text.size()))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Open user file error!\n\n", __func__, __LINE__);
        return VK_ERR_USER_OPEN_FILE_ERROR;
    }
    return VK_SUCCESS;
}

S32 user_FindUser(const char* pcName) {
    if (pcName == nullptr) {
        return -1;
    }
    std::lock_guard lock(s_userMutex);
    for (U32 i = 0; i < g_u32UserNum && i < kMaxUsers; ++i) {
        if (g_stUserArr[i].isEnable == HX_TRUE && FieldText(g_stUserArr[i].u8UserName) == pcName) {
            return static_cast<S32>(i);
        }
    }
    return -1;
}

U32 user_CheckUser(const char* pcName, const char* pcPasswd) {
    std::lock_guard lock(s_userMutex);
    if (const U32 result = user_LoadUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Load user file error!\n\n", __func__, __LINE__);
        return result;
    }
    if (!LengthOk(pcName) || !LengthOk(pcPasswd)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User Name or passwd len error!\n\n", __func__, __LINE__);
        return VK_ERR_USER_LEN_ERROR;
    }
    const S32 index = user_FindUser(pcName);
    if (index < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User not exist!\n\n", __func__, __LINE__);
        return VK_ERR_USER_NOT_EXIST;
    }
    return FieldText(g_stUserArr[index].u8UserPasswd) == pcPasswd ? VK_SUCCESS : VK_ERR_USER_PWD_ERR;
}

// The first steps of adding or changing an account: the file read afresh,
// then name and password checked for length and for characters the file can
// keep. Called with s_userMutex held.
U32 LoadAndCheckNewCredentials(const char* pcName, const char* pcPasswd) {
    if (const U32 result = user_LoadUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Load user file error!\n\n", __func__, __LINE__);
        return result;
    }
    if (!LengthOk(pcName) || !LengthOk(pcPasswd)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User Name or passwd len error!\n\n", __func__, __LINE__);
        return VK_ERR_USER_LEN_ERROR;
    }
    if (!CharactersOk(pcName, pcPasswd)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User Name or passwd has a character the file cannot keep!\n\n",
               __func__, __LINE__);
        return VK_ERR_PARAMS;
    }
    return VK_SUCCESS;
}

U32 user_AddUser(const char* pcName, const char* pcPasswd) {
    std::lock_guard lock(s_userMutex);
    if (const U32 result = LoadAndCheckNewCredentials(pcName, pcPasswd); result != VK_SUCCESS) {
        return result;
    }
    if (g_u32UserNum >= kMaxUsers) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User is full!\n\n", __func__, __LINE__);
        return VK_ERR_USER_FULL;
    }
    if (user_FindUser(pcName) >= 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User exist!\n\n", __func__, __LINE__);
        return VK_ERR_USER_EXIST;
    }
    ST_USER_INFO& user = g_stUserArr[g_u32UserNum];
    CopyField(user.u8UserName, pcName);
    CopyField(user.u8UserPasswd, pcPasswd);
    user.isEnable = HX_TRUE;
    ++g_u32UserNum;
    if (const U32 result = user_SaveUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Save user file error!\n\n", __func__, __LINE__);
        return result;
    }
    return VK_SUCCESS;
}

U32 user_ModifyUser(const char* pcName, const char* pcPasswd) {
    std::lock_guard lock(s_userMutex);
    if (const U32 result = LoadAndCheckNewCredentials(pcName, pcPasswd); result != VK_SUCCESS) {
        return result;
    }
    const S32 index = user_FindUser(pcName);
    if (index < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User not exist!\n\n", __func__, __LINE__);
        return VK_ERR_USER_NOT_EXIST;
    }
    CopyField(g_stUserArr[index].u8UserPasswd, pcPasswd);
    if (const U32 result = user_SaveUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Save user file error!\n\n", __func__, __LINE__);
        return result;
    }
    return VK_SUCCESS;
}

U32 user_DelUser(const char* pcName) {
    std::lock_guard lock(s_userMutex);
    if (const U32 result = user_LoadUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Load user file error!\n\n", __func__, __LINE__);
        return result;
    }
    const S32 index = user_FindUser(pcName);
    if (index < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: User not exist!\n\n", __func__, __LINE__);
        return VK_ERR_USER_NOT_EXIST;
    }
    g_stUserArr[index].isEnable = HX_FALSE;
    if (const U32 result = user_SaveUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Save user file error!\n\n", __func__, __LINE__);
        return result;
    }
    return VK_SUCCESS;
}

U32 user_ShowUser(ST_USER_INFO* pstUsers, U32 u32Capacity, U32* pu32Count) {
    std::lock_guard lock(s_userMutex);
    if (const U32 result = user_LoadUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Load user file error!\n\n", __func__, __LINE__);
        return result;
    }
    if (pstUsers == nullptr || pu32Count == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: NULL Pointer!\n\n", __func__, __LINE__);
        return VK_ERR_PARAMS;
    }
    if (u32Capacity < g_u32UserNum) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Params error!\n\n", __func__, __LINE__);
        return VK_ERR_PARAMS;
    }
    std::copy_n(g_stUserArr, g_u32UserNum, pstUsers);
    *pu32Count = g_u32UserNum;
    if (const U32 result = user_SaveUser(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[%s]%d: Save user file error!\n\n", __func__, __LINE__);
        return result;
    }
    return VK_SUCCESS;
}

U32 web_CheckUser(const char* pcName, const char* pcPasswd) { return user_CheckUser(pcName, pcPasswd); }
U32 web_RegistUser(const char* pcName, const char* pcPasswd) { return user_AddUser(pcName, pcPasswd); }
U32 web_ModifyPasswd(const char* pcName, const char* pcPasswd) { return user_ModifyUser(pcName, pcPasswd); }
U32 web_DelUser(const char* pcName) { return user_DelUser(pcName); }
U32 web_ShowUser(ST_USER_INFO* pstUsers, U32 u32Capacity, U32* pu32Count) {
    return user_ShowUser(pstUsers, u32Capacity, pu32Count);
}

}  // namespace hx

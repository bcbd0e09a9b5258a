#include "web/user_authority.h"

#include <cJSON.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/log.h"
#include "platform/resource.h"

namespace hx {

BOOL isUserModifyAuthority = HX_TRUE;

namespace {

using AuthorityTable = std::array<stAccessModifyEn, kUserAuthorityEntries>;

constexpr U32 kResultNotJson = 1;
constexpr U32 kResultNoData = 0xFFFFFFFF;

AuthorityTable AllGranted() {
    AuthorityTable table;
    std::memset(table.data(), 0x01, sizeof(stAccessModifyEn) * table.size());
    return table;
}

std::mutex s_UserAuthorityMutex;
AuthorityTable UserAuthority_Slot = AllGranted();

void Install(const AuthorityTable& table) {
    std::lock_guard lock(s_UserAuthorityMutex);
    UserAuthority_Slot = table;
}

// The low bits of a JSON number's integer part, as the message's 16- and 8-bit
// fields take them: any value, however large or negative, maps to a defined
// result (a value JSON cannot give as a finite number maps to 0).
U32 LowBits(double value, double modulus) {
    if (!std::isfinite(value)) {
        return 0;
    }
    double rest = std::fmod(std::trunc(value), modulus);
    if (rest < 0) {
        rest += modulus;
    }
    return static_cast<U32>(rest);
}

void ApplyEntry(const cJSON* entry, U32 base, AuthorityTable& table) {
    const cJSON* id = cJSON_GetObjectItem(entry, "AuthorityId");
    if (!cJSON_IsNumber(id)) {
        return;
    }
    const U32 authorityId = LowBits(id->valuedouble, 65536.0);
    if (authorityId < base || authorityId > base + kUserAuthorityEntries - 1) {
        return;  // a right of another board
    }
    stAccessModifyEn& right = table[authorityId - base];
    right.u16AuthorityId = static_cast<U16>(authorityId);
    const cJSON* view = cJSON_GetObjectItem(entry, "ViewEnable");
    if (!cJSON_IsNumber(view)) {
        return;
    }
    right.u8ViewEnable = static_cast<U8>(LowBits(view->valuedouble, 256.0));
    const cJSON* modify = cJSON_GetObjectItem(entry, "ModifyEnable");
    if (cJSON_IsNumber(modify)) {
        right.u8ModifyEnable = static_cast<U8>(LowBits(modify->valuedouble, 256.0));
    }
}

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};

}  // namespace

void VKUser_InitUserAuthority() { Install(AllGranted()); }

U32 VKUser_RecvUserAuthority(const char* pcJsonText, U32 u32Length) {
    const U32 base = Status_GetSlotID() * kUserAuthorityEntries;
    AuthorityTable table = AllGranted();
    if (pcJsonText == nullptr) {
        Install(table);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "input nullptr\n");
        return kResultNotJson;
    }
    const std::unique_ptr<cJSON, JsonDeleter> root(cJSON_ParseWithLength(pcJsonText, u32Length));
    if (!root) {
        Install(table);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "cJSON_Parse err\n");
        return kResultNotJson;
    }
    const cJSON* data = cJSON_GetObjectItem(root.get(), "data");
    if (!cJSON_IsArray(data)) {
        Install(table);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "cJSON_GetObjectItem err\n");
        return kResultNoData;
    }
    const cJSON* user = nullptr;
    cJSON_ArrayForEach(user, data) {
        const cJSON* list = cJSON_GetObjectItem(user, "Authoritylist");
        if (!cJSON_IsString(cJSON_GetObjectItem(user, "UserName")) || !cJSON_IsArray(list)) {
            continue;
        }
        const cJSON* entry = nullptr;
        cJSON_ArrayForEach(entry, list) { ApplyEntry(entry, base, table); }
    }
    Install(table);
    return 0;
}

BOOL VKUser_GetUser_BoardLevel_ModifyAuthority() {
    std::lock_guard lock(s_UserAuthorityMutex);
    isUserModifyAuthority = UserAuthority_Slot[0].u8ModifyEnable == 1 ? HX_TRUE : HX_FALSE;
    return isUserModifyAuthority;
}

stAccessModifyEn VKUser_GetAuthorityEntry(U32 index) {
    std::lock_guard lock(s_UserAuthorityMutex);
    return UserAuthority_Slot[index < kUserAuthorityEntries ? index : 0];
}

}  // namespace hx

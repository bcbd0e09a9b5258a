// The JSON replies of the web application, the token check and the common
// handler shape. Callers: the request dispatcher and every web handler, in
// the HTTP server thread, one request at a time.
#include "web/web_reply.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/err.h"
#include "http/buffer.h"
#include "web/user_authority.h"
#include "web/web_request.h"
#include "web/web_slot.h"
#include "web/web_value.h"

namespace hx {

namespace {

// The replies' first two members: the code and its description.
cJSON* NewReply(U32 code, const char* description) {
    cJSON* tree = cJSON_CreateObject();
    if (tree == nullptr) {
        return nullptr;
    }
    cJSON_AddNumberToObject(tree, "code", static_cast<double>(code));
    if (description != nullptr) {
        cJSON_AddStringToObject(tree, "description", description);
    } else {
        cJSON_AddNullToObject(tree, "description");
    }
    return tree;
}

const cJSON* NumberMember(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsNumber(item) ? item : nullptr;
}

}  // namespace

U32 web_processErr(buffer* reply, U32 code, const char* /*name*/) {
    if (reply == nullptr) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    _web_addToWriteBuff(NewReply(code, web_GetErrCodeString(code)), reply);
    return VK_SUCCESS;
}

U32 web_processSuccess(buffer* reply) {
    if (reply == nullptr) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    _web_addToWriteBuff(NewReply(VK_SUCCESS, nullptr), reply);
    return VK_SUCCESS;
}

void _web_addToWriteBuff(cJSON* tree, buffer* reply) {
    if (tree == nullptr) {
        return;
    }
    // The tree is handed over either way: keeping it without a buffer would leak it.
    if (reply == nullptr) {
        cJSON_Delete(tree);
        return;
    }
    char* text = cJSON_Print(tree);
    cJSON_Delete(tree);
    if (text == nullptr) {
        return;
    }
    buffer_copy_string(reply, text);
    cJSON_free(text);
}

const char* web_GetErrCodeString(U32 code) {
    const char* text = err_GetErrCodeString(code);
    return text != nullptr ? text : "";
}

U32 _web_checkToken(const cJSON* body) {
    if (body == nullptr || !cJSON_IsString(cJSON_GetObjectItem(body, "token"))) {
        return VK_ERR_WEB_POST_PARAM;
    }
    if (const cJSON* type = NumberMember(body, "chassistype")) {
        Web_SetZELType(static_cast<U32>(type->valueint));
    }
    return VK_SUCCESS;
}

U32 web_ReplyData(buffer* reply, cJSON* data, const char* description) {
    if (reply == nullptr) {
        cJSON_Delete(data);
        return VK_ERR_WEB_BAD_PARAM;
    }
    cJSON* tree = NewReply(VK_SUCCESS, description);
    if (tree == nullptr) {
        cJSON_Delete(data);
        return VK_ERR_WEB_MALLOC;
    }
    if (data != nullptr) {
        cJSON_AddItemToObject(tree, "data", data);
    }
    _web_addToWriteBuff(tree, reply);
    return VK_SUCCESS;
}

U32 web_HandleRequest(buffer* reply, const WebHandlerRules& rules, const WebOperation& operation) {
    if (rules.modifyRight && !VKUser_GetUser_BoardLevel_ModifyAuthority()) {
        return VK_ERR_USER_NOT_MODUIFY_AUTHORITY;
    }
    if (reply == nullptr) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    cJSON* body = cJSON_Parse(g_ps8RevData != nullptr ? g_ps8RevData : "");
    if (body == nullptr) {
        return VK_ERR_WEB_POST_PARAM;
    }
    U32 result = rules.token ? _web_checkToken(body) : VK_SUCCESS;
    if (result == VK_SUCCESS) {
        result = operation(body, reply);
    }
    cJSON_Delete(body);
    return result;
}

bool web_ReadInt(const cJSON* object, const char* key, int* value) {
    const cJSON* item = NumberMember(object, key);
    if (item == nullptr || value == nullptr) {
        return false;
    }
    *value = item->valueint;
    return true;
}

bool web_ReadDouble(const cJSON* object, const char* key, double* value) {
    const cJSON* item = NumberMember(object, key);
    if (item == nullptr || value == nullptr) {
        return false;
    }
    *value = item->valuedouble;
    return true;
}

bool web_ReadU32Rounded(const cJSON* object, const char* key, U32* value) {
    const cJSON* item = NumberMember(object, key);
    return item != nullptr && web_RoundToU32(item->valuedouble, value);
}

bool web_ReadWholeInt(const cJSON* object, const char* key, long long min, long long max, long long* value) {
    const cJSON* item = NumberMember(object, key);
    if (item == nullptr || value == nullptr) {
        return false;
    }
    const double number = item->valuedouble;
    // The limits are compared as doubles, so a number beyond long long's range
    // is refused before the conversion, which would be undefined.
    constexpr double kLongLongEnd = 9223372036854775808.0;
    if (!std::isfinite(number) || number != std::trunc(number) || number >= kLongLongEnd || number < -kLongLongEnd ||
        number < static_cast<double>(min) || number > static_cast<double>(max)) {
        return false;
    }
    *value = static_cast<long long>(number);
    return true;
}

void web_AddWholeNumber(cJSON* object, const char* key, long long value) {
    constexpr long long kExactDigits = 999'999'999'999'999;  // 15 digits
    if (value > kExactDigits || value < -kExactDigits) {
        cJSON_AddItemToObject(object, key, cJSON_CreateNumber(static_cast<double>(value)));
        return;
    }
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits) - 1, value);
    *end.ptr = '\0';
    cJSON_AddItemToObject(object, key, cJSON_CreateRaw(digits));
}

bool web_ReadIndex(const cJSON* object, const char* key, U32 max, std::optional<U32>* index) {
    if (NumberMember(object, key) == nullptr || index == nullptr) {
        return false;
    }
    long long value = 0;
    if (web_ReadWholeInt(object, key, 0, max, &value)) {
        *index = static_cast<U32>(value);
    } else {
        index->reset();
    }
    return true;
}

bool web_ReadOutChannel(const cJSON* object, std::optional<U16>* channel) {
    std::optional<U32> port;
    std::optional<U32> inPort;
    if (channel == nullptr || !web_ReadIndex(object, "port", 0xFFFF, &port) ||
        !web_ReadIndex(object, "channel", 0xFFFF, &inPort)) {
        return false;
    }
    channel->reset();
    if (port && inPort) {
        const U32 real = _web_GetOutRealChannel(*port, *inPort);  // both at most 65,535: no wrap
        if (real <= 0xFFFF) {
            *channel = static_cast<U16>(real);
        }
    }
    return true;
}

const char* web_ReadString(const cJSON* object, const char* key) {
    const cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

cJSON* web_ReadArray(const cJSON* object, const char* key) {
    cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsArray(item) ? item : nullptr;
}

cJSON* web_ReadObject(const cJSON* object, const char* key) {
    cJSON* item = cJSON_GetObjectItem(object, key);
    return cJSON_IsObject(item) ? item : nullptr;
}

}  // namespace hx

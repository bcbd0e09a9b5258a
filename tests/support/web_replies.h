// The replies a web handler must write, as text: cJSON's formatted print,
// which is what the handlers print their trees with.
#pragma once

#include <cJSON.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/types.h"
#include "web/web_reply.h"

namespace hx::test {

// The formatted print of a compact JSON text.
inline std::string FormattedJson(const std::string& compact) {
    cJSON* tree = cJSON_Parse(compact.c_str());
    EXPECT_NE(tree, nullptr) << compact;
    char* text = cJSON_Print(tree);
    std::string printed = text != nullptr ? text : "";
    std::free(text);
    cJSON_Delete(tree);
    return printed;
}

// The error object of `code`, with its text in the board's language.
inline std::string ErrorReplyText(U32 code) {
    cJSON* tree = cJSON_CreateObject();
    cJSON_AddItemToObject(tree, "code", cJSON_CreateNumber(code));
    cJSON_AddItemToObject(tree, "description", cJSON_CreateString(web_GetErrCodeString(code)));
    char* text = cJSON_Print(tree);
    std::string printed = text;
    std::free(text);
    cJSON_Delete(tree);
    return printed;
}

// A reply's "code" (-1 when the reply is no JSON object with a number there).
inline int ReplyCode(const std::string& reply) {
    cJSON* tree = cJSON_Parse(reply.c_str());
    const cJSON* code = cJSON_GetObjectItem(tree, "code");
    const int value = cJSON_IsNumber(code) ? code->valueint : -1;
    cJSON_Delete(tree);
    return value;
}

}  // namespace hx::test

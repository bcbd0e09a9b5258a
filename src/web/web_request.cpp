// The web application's hooks in the HTTP server, as far as the server needs
// them until the request dispatcher exists: the upload names are spooled to a
// file, and every ".w" name (and "GetModules") is answered with the plain
// success reply.
#include "web/web_request.h"

#include <cJSON.h>

#include <cstdlib>
#include <string_view>

namespace hx {

namespace {

constexpr U32 kWebNotExist = 770;  // VK_ERR_WEB_NOTEXIST

WebProcessDataHook g_requestHook = nullptr;

U32 stand_in_reply(buffer* reply, const connection* con) {
    if (!web_IsRequestName(web_RequestName(con))) {
        return kWebNotExist;
    }
    if (reply == nullptr) {
        return 775;  // VK_ERR_WEB_BAD_PARAM
    }
    cJSON* tree = cJSON_CreateObject();
    cJSON_AddNumberToObject(tree, "code", 0);
    cJSON_AddNullToObject(tree, "description");
    char* text = cJSON_Print(tree);
    cJSON_Delete(tree);
    if (text != nullptr) {
        buffer_copy_string(reply, text);
        std::free(text);
    }
    return 0;
}

}  // namespace

std::string_view web_RequestName(const connection* con) {
    const buffer* header = con->request.request;
    if (header == nullptr || header->used <= 1) {
        return {};
    }
    std::string_view text(header->ptr, header->used - 1);
    text = text.substr(0, text.find_first_of("\r\n"));
    const size_t target_start = text.find(' ');
    if (target_start == std::string_view::npos) {
        return {};
    }
    std::string_view target = text.substr(target_start + 1);
    target = target.substr(0, target.find(' '));
    target = target.substr(0, target.find_first_of("?#"));
    const size_t slash = target.rfind('/');
    return slash == std::string_view::npos ? target : target.substr(slash + 1);
}

bool web_IsRequestName(std::string_view name) {
    return name == "GetModules" || (name.size() > 2 && name.substr(name.size() - 2) == ".w");
}

int web_ProcessIsLargeData(connection* con) {
    if (con == nullptr) {
        return 0;
    }
    const std::string_view name = web_RequestName(con);
    return name == "Upgrade.w" || name == "ImportConfig.w" || name == "ImportSiTable.w" ? 1 : 0;
}

U32 web_ProcessData(buffer* reply, server* srv, connection* con) {
    if (g_requestHook != nullptr) {
        return g_requestHook(reply, srv, con);
    }
    if (con == nullptr) {
        return kWebNotExist;
    }
    return stand_in_reply(reply, con);
}

void Web_SetRequestHookForTest(WebProcessDataHook hook) { g_requestHook = hook; }

}  // namespace hx

// A web server module for the loader tests. Every hook it has logs
// "recorded <id> <hook>" to the server's error log (id 0 when the instance
// was never initialised) and returns GO_ON, unless the global block's
// "recording.return" holds "<id> <hook> <result>" for it.
//
// Built several times under other names to misbehave one way each:
//   RECORDING_VERSION  the interface version it reports
//   RECORDING_FAULT    1: init returns null; 2: the module's own init fails;
//                      3: the module has no <name>_plugin_init at all
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "http/config_keys.h"
#include "http/errorlog.h"
#include "http/plugin.h"

#ifndef RECORDING_NAME
#define RECORDING_NAME mod_recording
#endif
#ifndef RECORDING_VERSION
#define RECORDING_VERSION 66595
#endif
#ifndef RECORDING_FAULT
#define RECORDING_FAULT 0
#endif

#define RECORDING_TEXT2(name) #name
#define RECORDING_TEXT(name) RECORDING_TEXT2(name)
#define RECORDING_JOIN2(a, b) a##b
#define RECORDING_JOIN(a, b) RECORDING_JOIN2(a, b)

namespace {

using namespace hx;

constexpr char kTag[] = "mod_recording";

struct recording_data {
    plugin_data_head head;
    int results[PLUGIN_FUNC_SIZEOF];
};

const char* const kHookNames[PLUGIN_FUNC_SIZEOF] = {
    "unset",          "handle_uri_clean", "handle_uri_raw",          "handle_request_done",
    "handle_connection_close", "handle_trigger", "handle_sighup", "handle_subrequest",
    "handle_subrequest_start", "handle_joblist", "handle_docroot", "handle_physical",
    "connection_reset", "init",           "cleanup",                 "set_defaults",
};

handler_t record(server* srv, void* p_d, plugin_func_t hook) {
    auto* p = static_cast<recording_data*>(p_d);
    const int id = p == nullptr ? 0 : static_cast<int>(p->head.id);
    log_error_write(srv, kTag, __LINE__, "sds", "recorded", id, kHookNames[hook]);
    return p == nullptr ? HANDLER_GO_ON : static_cast<handler_t>(p->results[hook]);
}

void* recording_init() {
    if (RECORDING_FAULT == 1) {
        return nullptr;
    }
    auto* p = static_cast<recording_data*>(std::calloc(1, sizeof(recording_data)));
    if (p == nullptr) {
        return nullptr;
    }
    for (int& result : p->results) {
        result = HANDLER_GO_ON;
    }
    return p;
}

// "<id> <hook> <result>" rows of the global block that name this instance.
handler_t recording_set_defaults(server* srv, void* p_d) {
    auto* p = static_cast<recording_data*>(p_d);
    array* rows = array_init();
    const config_values_t table[] = {
        {"recording.return", rows, T_CONFIG_ARRAY, T_CONFIG_SCOPE_CONNECTION},
        {nullptr, nullptr, T_CONFIG_UNSET, T_CONFIG_SCOPE_UNSET},
    };
    const auto* global = static_cast<data_config*>(srv->config_context->data[0]);
    config_insert_values_global(srv, global->value, table);
    for (size_t i = 0; i < rows->used; ++i) {
        const buffer* row = static_cast<const data_string*>(rows->data[i])->value;
        unsigned long id = 0;
        char hook[64] = {};
        int result = 0;
        if (std::sscanf(row->ptr, "%lu %63s %d", &id, hook, &result) != 3 || id != p->head.id) {
            continue;
        }
        for (int code = 0; code < PLUGIN_FUNC_SIZEOF; ++code) {
            if (std::strcmp(kHookNames[code], hook) == 0) {
                p->results[code] = result;
            }
        }
    }
    array_free(rows);
    return record(srv, p_d, PLUGIN_FUNC_SET_DEFAULTS);
}

handler_t recording_cleanup(server* srv, void* p_d) {
    const handler_t result = record(srv, p_d, PLUGIN_FUNC_CLEANUP);
    std::free(p_d);
    return result;
}

template <plugin_func_t Hook>
handler_t server_hook(server* srv, void* p_d) {
    return record(srv, p_d, Hook);
}

template <plugin_func_t Hook>
handler_t connection_hook(server* srv, connection*, void* p_d) {
    return record(srv, p_d, Hook);
}

}  // namespace

#if RECORDING_FAULT == 3
#define RECORDING_ENTRY RECORDING_JOIN(RECORDING_NAME, _entry)  // not the name the loader looks up
#else
#define RECORDING_ENTRY RECORDING_JOIN(RECORDING_NAME, _plugin_init)
#endif

extern "C" __attribute__((visibility("default"))) int RECORDING_ENTRY(plugin* p) {
    p->version = RECORDING_VERSION;
    hx::buffer_copy_string(p->name, RECORDING_TEXT(RECORDING_NAME));
    p->init = recording_init;
    p->set_defaults = recording_set_defaults;
    p->cleanup = recording_cleanup;
    p->handle_trigger = server_hook<PLUGIN_FUNC_HANDLE_TRIGGER>;
    p->handle_sighup = server_hook<PLUGIN_FUNC_HANDLE_SIGHUP>;
    p->handle_uri_raw = connection_hook<PLUGIN_FUNC_HANDLE_URI_RAW>;
    p->handle_uri_clean = connection_hook<PLUGIN_FUNC_HANDLE_URI_CLEAN>;
    p->handle_docroot = connection_hook<PLUGIN_FUNC_HANDLE_DOCROOT>;
    p->handle_physical = connection_hook<PLUGIN_FUNC_HANDLE_PHYSICAL>;
    p->handle_request_done = connection_hook<PLUGIN_FUNC_HANDLE_REQUEST_DONE>;
    p->handle_connection_close = connection_hook<PLUGIN_FUNC_HANDLE_CONNECTION_CLOSE>;
    p->handle_joblist = connection_hook<PLUGIN_FUNC_HANDLE_JOBLIST>;
    p->handle_subrequest_start = connection_hook<PLUGIN_FUNC_HANDLE_SUBREQUEST_START>;
    p->handle_subrequest = connection_hook<PLUGIN_FUNC_HANDLE_SUBREQUEST>;
    p->connection_reset = connection_hook<PLUGIN_FUNC_CONNECTION_RESET>;
    return RECORDING_FAULT == 2 ? 1 : 0;
}

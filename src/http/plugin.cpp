// The plugin loader: modules named in "server.modules" are opened from the
// module directory, registered in load order, and called through one list per
// hook.
#include "http/plugin.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "core/run_profile.h"
#include "http/errorlog.h"

namespace hx {

namespace {

constexpr char kTag[] = "plugin";

// The hooks a list is built for, in the order a module is entered into them.
struct ServerHook {
    plugin_func_t code;
    plugin_server_hook plugin::*member;
    const char* name;
};

struct ConnectionHook {
    plugin_func_t code;
    plugin_connection_hook plugin::*member;
    const char* name;
};

constexpr ConnectionHook kUriClean{PLUGIN_FUNC_HANDLE_URI_CLEAN, &plugin::handle_uri_clean,
                                   "PLUGIN_FUNC_HANDLE_URI_CLEAN"};
constexpr ConnectionHook kUriRaw{PLUGIN_FUNC_HANDLE_URI_RAW, &plugin::handle_uri_raw, "PLUGIN_FUNC_HANDLE_URI_RAW"};
constexpr ConnectionHook kRequestDone{PLUGIN_FUNC_HANDLE_REQUEST_DONE, &plugin::handle_request_done,
                                      "PLUGIN_FUNC_HANDLE_REQUEST_DONE"};
constexpr ConnectionHook kConnectionClose{PLUGIN_FUNC_HANDLE_CONNECTION_CLOSE, &plugin::handle_connection_close,
                                          "PLUGIN_FUNC_HANDLE_CONNECTION_CLOSE"};
constexpr ServerHook kTrigger{PLUGIN_FUNC_HANDLE_TRIGGER, &plugin::handle_trigger, "PLUGIN_FUNC_HANDLE_TRIGGER"};
constexpr ServerHook kSighup{PLUGIN_FUNC_HANDLE_SIGHUP, &plugin::handle_sighup, "PLUGIN_FUNC_HANDLE_SIGHUP"};
constexpr ConnectionHook kSubrequest{PLUGIN_FUNC_HANDLE_SUBREQUEST, &plugin::handle_subrequest,
                                     "PLUGIN_FUNC_HANDLE_SUBREQUEST"};
constexpr ConnectionHook kSubrequestStart{PLUGIN_FUNC_HANDLE_SUBREQUEST_START, &plugin::handle_subrequest_start,
                                          "PLUGIN_FUNC_HANDLE_SUBREQUEST_START"};
constexpr ConnectionHook kJoblist{PLUGIN_FUNC_HANDLE_JOBLIST, &plugin::handle_joblist, "PLUGIN_FUNC_HANDLE_JOBLIST"};
constexpr ConnectionHook kDocroot{PLUGIN_FUNC_HANDLE_DOCROOT, &plugin::handle_docroot, "PLUGIN_FUNC_HANDLE_DOCROOT"};
constexpr ConnectionHook kPhysical{PLUGIN_FUNC_HANDLE_PHYSICAL, &plugin::handle_physical,
                                   "PLUGIN_FUNC_HANDLE_PHYSICAL"};
constexpr ConnectionHook kConnectionReset{PLUGIN_FUNC_CONNECTION_RESET, &plugin::connection_reset,
                                          "PLUGIN_FUNC_CONNECTION_RESET"};
constexpr ServerHook kCleanup{PLUGIN_FUNC_CLEANUP, &plugin::cleanup, "PLUGIN_FUNC_CLEANUP"};
constexpr ServerHook kSetDefaults{PLUGIN_FUNC_SET_DEFAULTS, &plugin::set_defaults, "PLUGIN_FUNC_SET_DEFAULTS"};

// Puts `p` into the first free entry of the list of `code`, creating the list
// (one entry per loaded module, so it never overflows) on first use.
void enter_into_list(server* srv, plugin_func_t code, plugin* p) {
    plugin**& list = srv->plugin_slots[code];
    if (list == nullptr) {
        list = static_cast<plugin**>(std::calloc(srv->plugins.used, sizeof(plugin*)));
        HTTP_ASSERT(list);
    }
    for (size_t i = 0; i < srv->plugins.used; ++i) {
        if (list[i] == nullptr) {
            list[i] = p;
            return;
        }
    }
}

template <typename Hook>
void enter_if_defined(server* srv, const Hook& hook, plugin* p) {
    if (p->*hook.member != nullptr) {
        enter_into_list(srv, hook.code, p);
    }
}

plugin** hook_list(server* srv, plugin_func_t code) {
    return srv->plugin_slots == nullptr ? nullptr : srv->plugin_slots[code];
}

// Results that end a walk and go back to the caller as they are.
bool ends_walk(handler_t result) {
    switch (result) {
    case HANDLER_FINISHED:
    case HANDLER_COMEBACK:
    case HANDLER_WAIT_FOR_EVENT:
    case HANDLER_ERROR:
    case HANDLER_WAIT_FOR_FD:
        return true;
    default:
        return false;
    }
}

handler_t walk(server* srv, connection* con, const ConnectionHook& hook) {
    plugin** list = hook_list(srv, hook.code);
    if (list == nullptr) {
        return HANDLER_GO_ON;
    }
    for (size_t i = 0; i < srv->plugins.used && list[i] != nullptr; ++i) {
        plugin* p = list[i];
        const handler_t result = (p->*hook.member)(srv, con, p->data);
        if (result == HANDLER_GO_ON) {
            continue;
        }
        if (ends_walk(result)) {
            return result;
        }
        log_error_write(srv, kTag, __LINE__, "sbs", hook.name, p->name, "unknown state");
        return HANDLER_ERROR;
    }
    return HANDLER_GO_ON;
}

handler_t walk(server* srv, const ServerHook& hook) {
    plugin** list = hook_list(srv, hook.code);
    if (list == nullptr) {
        return HANDLER_GO_ON;
    }
    for (size_t i = 0; i < srv->plugins.used && list[i] != nullptr; ++i) {
        plugin* p = list[i];
        const handler_t result = (p->*hook.member)(srv, p->data);
        if (result == HANDLER_GO_ON) {
            continue;
        }
        if (ends_walk(result)) {
            return result;
        }
        log_error_write(srv, kTag, __LINE__, "sbsd", hook.name, p->name, "unknown state:", static_cast<int>(result));
        return HANDLER_ERROR;
    }
    return HANDLER_GO_ON;
}

std::string text_of(const buffer* b) {
    return buffer_is_empty(b) ? std::string() : std::string(b->ptr, b->used - 1);
}

bool named_earlier(const array* modules, size_t index) {
    const buffer* name = static_cast<const data_string*>(modules->data[index])->value;
    for (size_t i = 0; i < index; ++i) {
        const data_unset* earlier = modules->data[i];
        if (earlier->type == TYPE_STRING && buffer_is_equal(static_cast<const data_string*>(earlier)->value, name)) {
            return true;
        }
    }
    return false;
}

// Opens one module and lets it fill its record; the record is registered
// only when all of it worked.
int load_one(server* srv, const buffer* name) {
    const std::string path = ResolvePath(text_of(srv->srvconf.modules_dir)) + "/" + text_of(name) + ".so";
    plugin* p = plugin_init();
    p->lib = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (p->lib == nullptr) {
        log_error_write(srv, kTag, __LINE__, "sss", "dlopen() failed for:", path.c_str(), dlerror());
        plugin_free(p);
        return -1;
    }
    const std::string symbol = text_of(name) + "_plugin_init";
    dlerror();
    void* address = dlsym(p->lib, symbol.c_str());
    if (const char* error = dlerror(); error != nullptr || address == nullptr) {
        log_error_write(srv, kTag, __LINE__, "s", error != nullptr ? error : symbol.c_str());
        plugin_free(p);
        return -1;
    }
    auto* module_init = reinterpret_cast<int (*)(plugin*)>(address);
    if (module_init(p) != 0) {
        log_error_write(srv, kTag, __LINE__, "bs", name, "plugin init failed");
        plugin_free(p);
        return -1;
    }
    plugins_register(srv, p);
    return 0;
}

}  // namespace

extern "C" {

plugin* plugin_init(void) {
    auto* p = static_cast<plugin*>(std::calloc(1, sizeof(plugin)));
    HTTP_ASSERT(p);
    p->name = buffer_init();
    return p;
}

void plugin_free(plugin* p) {
    if (p == nullptr) {
        return;
    }
    buffer_free(p->name);
    if (p->lib != nullptr) {
        dlclose(p->lib);
    }
    std::free(p);
}

int plugins_register(server* srv, plugin* p) {
    buffer_plugin& plugins = srv->plugins;
    if (plugins.used == plugins.size) {
        plugins.size += 4;
        auto* grown = static_cast<plugin**>(std::realloc(plugins.ptr, plugins.size * sizeof(plugin*)));
        HTTP_ASSERT(grown);
        plugins.ptr = grown;
    }
    plugins.ptr[plugins.used++] = p;
    return 0;
}

int plugins_load(server* srv) {
    const array* modules = srv->srvconf.modules;
    for (size_t i = 0; i < modules->used; ++i) {
        if (modules->data[i]->type != TYPE_STRING) {
            log_error_write(srv, kTag, __LINE__, "s", "server.modules holds a value that is not a module name");
            return -1;
        }
        const buffer* name = static_cast<const data_string*>(modules->data[i])->value;
        if (named_earlier(modules, i)) {
            log_error_write(srv, kTag, __LINE__, "sbs", "Cannot load plugin", name,
                            "more than once, please fix your config (we may not accept such configs in future "
                            "releases");
        }
        if (load_one(srv, name) != 0) {
            return -1;
        }
    }
    return 0;
}

handler_t plugins_call_init(server* srv) {
    srv->plugin_slots = static_cast<plugin***>(std::calloc(PLUGIN_FUNC_SIZEOF, sizeof(plugin**)));
    HTTP_ASSERT(srv->plugin_slots);
    for (size_t i = 0; i < srv->plugins.used; ++i) {
        plugin* p = srv->plugins.ptr[i];
        enter_if_defined(srv, kUriClean, p);
        enter_if_defined(srv, kUriRaw, p);
        enter_if_defined(srv, kRequestDone, p);
        enter_if_defined(srv, kConnectionClose, p);
        enter_if_defined(srv, kTrigger, p);
        enter_if_defined(srv, kSighup, p);
        enter_if_defined(srv, kSubrequest, p);
        enter_if_defined(srv, kSubrequestStart, p);
        enter_if_defined(srv, kJoblist, p);
        enter_if_defined(srv, kDocroot, p);
        enter_if_defined(srv, kPhysical, p);
        enter_if_defined(srv, kConnectionReset, p);
        enter_if_defined(srv, kCleanup, p);
        enter_if_defined(srv, kSetDefaults, p);

        if (p->init == nullptr) {
            p->data = nullptr;
            continue;
        }
        void* data = p->init();
        if (data == nullptr) {
            log_error_write(srv, kTag, __LINE__, "sb", "plugin-init failed for module", p->name);
            return HANDLER_ERROR;
        }
        p->data = data;
        static_cast<plugin_data_head*>(data)->id = i + 1;
        if (p->version != kPluginVersion) {
            log_error_write(srv, kTag, __LINE__, "sb", "plugin-version doesn't match webserver-version for", p->name);
            return HANDLER_ERROR;
        }
    }
    return HANDLER_GO_ON;
}

void plugins_free(server* srv) {
    plugins_call_cleanup(srv);
    for (size_t i = 0; i < srv->plugins.used; ++i) {
        plugin_free(srv->plugins.ptr[i]);
    }
    if (srv->plugin_slots != nullptr) {
        for (size_t code = 0; code < PLUGIN_FUNC_SIZEOF; ++code) {
            std::free(srv->plugin_slots[code]);
        }
        std::free(srv->plugin_slots);
        srv->plugin_slots = nullptr;
    }
    std::free(srv->plugins.ptr);
    srv->plugins.ptr = nullptr;
    srv->plugins.size = 0;
    srv->plugins.used = 0;
}

handler_t plugins_call_handle_uri_raw(server* srv, connection* con) {
    return walk(srv, con, kUriRaw);
}
handler_t plugins_call_handle_uri_clean(server* srv, connection* con) {
    return walk(srv, con, kUriClean);
}
handler_t plugins_call_handle_docroot(server* srv, connection* con) {
    return walk(srv, con, kDocroot);
}
handler_t plugins_call_handle_physical(server* srv, connection* con) {
    return walk(srv, con, kPhysical);
}
handler_t plugins_call_handle_subrequest_start(server* srv, connection* con) {
    return walk(srv, con, kSubrequestStart);
}
handler_t plugins_call_handle_subrequest(server* srv, connection* con) {
    return walk(srv, con, kSubrequest);
}
handler_t plugins_call_handle_request_done(server* srv, connection* con) {
    return walk(srv, con, kRequestDone);
}
handler_t plugins_call_handle_connection_close(server* srv, connection* con) {
    return walk(srv, con, kConnectionClose);
}
handler_t plugins_call_connection_reset(server* srv, connection* con) {
    return walk(srv, con, kConnectionReset);
}
handler_t plugins_call_handle_joblist(server* srv, connection* con) {
    return walk(srv, con, kJoblist);
}
handler_t plugins_call_handle_trigger(server* srv) {
    return walk(srv, kTrigger);
}
handler_t plugins_call_handle_sighup(server* srv) {
    return walk(srv, kSighup);
}
handler_t plugins_call_set_defaults(server* srv) {
    return walk(srv, kSetDefaults);
}
handler_t plugins_call_cleanup(server* srv) {
    return walk(srv, kCleanup);
}

}  // extern "C"

}  // namespace hx

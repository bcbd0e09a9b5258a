// Plugins: the shared objects that serve static files, index files and
// directory listings (and anything else "server.modules" names), loaded at
// start-up from the module directory and called through one list per hook.
//
// The server thread loads, initialises, walks and frees them; nothing here is
// locked. A module binds to the program's exported routines by C name, so
// every declaration below has C linkage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "http/http_base.h"

namespace hx {

extern "C" {

// The interface version a module must report.
constexpr size_t kPluginVersion = 66595;  // 0x10423

// Hook codes: the index of each hook's list in `plugin_slots`.
enum plugin_func_t {
    PLUGIN_FUNC_UNSET = 0,
    PLUGIN_FUNC_HANDLE_URI_CLEAN = 1,
    PLUGIN_FUNC_HANDLE_URI_RAW = 2,
    PLUGIN_FUNC_HANDLE_REQUEST_DONE = 3,
    PLUGIN_FUNC_HANDLE_CONNECTION_CLOSE = 4,
    PLUGIN_FUNC_HANDLE_TRIGGER = 5,
    PLUGIN_FUNC_HANDLE_SIGHUP = 6,
    PLUGIN_FUNC_HANDLE_SUBREQUEST = 7,
    PLUGIN_FUNC_HANDLE_SUBREQUEST_START = 8,
    PLUGIN_FUNC_HANDLE_JOBLIST = 9,
    PLUGIN_FUNC_HANDLE_DOCROOT = 10,
    PLUGIN_FUNC_HANDLE_PHYSICAL = 11,
    PLUGIN_FUNC_CONNECTION_RESET = 12,
    PLUGIN_FUNC_INIT = 13,  // no list
    PLUGIN_FUNC_CLEANUP = 14,
    PLUGIN_FUNC_SET_DEFAULTS = 15,
    PLUGIN_FUNC_SIZEOF = 16,
};

using plugin_server_hook = handler_t (*)(server* srv, void* p_d);
using plugin_connection_hook = handler_t (*)(server* srv, connection* con, void* p_d);

// Every module's data record starts with this field: its 1-based position in
// load order.
struct plugin_data_head {
    size_t id;
};

// One loaded module, filled by its <name>_plugin_init. Field order is part of
// the module interface.
struct plugin {
    size_t version;
    buffer* name;

    void* (*init)(void);
    plugin_server_hook set_defaults;
    plugin_server_hook cleanup;
    plugin_server_hook handle_trigger;
    plugin_server_hook handle_sighup;

    plugin_connection_hook handle_uri_raw;
    plugin_connection_hook handle_uri_clean;
    plugin_connection_hook handle_docroot;
    plugin_connection_hook handle_physical;
    plugin_connection_hook handle_request_done;
    plugin_connection_hook handle_connection_close;
    plugin_connection_hook handle_joblist;
    plugin_connection_hook handle_subrequest_start;
    plugin_connection_hook handle_subrequest;
    plugin_connection_hook connection_reset;

    void* data;
    void* lib;  // dynamic-library handle
};

plugin* plugin_init(void);
void plugin_free(plugin* p);
int plugins_register(server* srv, plugin* p);

// Loads every module of "server.modules" from "server.modules-dir"; 0 or -1.
int plugins_load(server* srv);
// Builds the hook lists and runs each module's init.
handler_t plugins_call_init(server* srv);
void plugins_free(server* srv);

handler_t plugins_call_handle_uri_raw(server* srv, connection* con);
handler_t plugins_call_handle_uri_clean(server* srv, connection* con);
handler_t plugins_call_handle_docroot(server* srv, connection* con);
handler_t plugins_call_handle_physical(server* srv, connection* con);
handler_t plugins_call_handle_subrequest_start(server* srv, connection* con);
handler_t plugins_call_handle_subrequest(server* srv, connection* con);
handler_t plugins_call_handle_request_done(server* srv, connection* con);
handler_t plugins_call_handle_connection_close(server* srv, connection* con);
handler_t plugins_call_connection_reset(server* srv, connection* con);
handler_t plugins_call_handle_joblist(server* srv, connection* con);
handler_t plugins_call_handle_trigger(server* srv);
handler_t plugins_call_handle_sighup(server* srv);
handler_t plugins_call_set_defaults(server* srv);
handler_t plugins_call_cleanup(server* srv);

// Named counters in the server's `status` array, for modules.
data_integer* status_counter_get_counter(server* srv, const char* s, size_t len);
int status_counter_inc(server* srv, const char* s, size_t len);
int status_counter_dec(server* srv, const char* s, size_t len);
int status_counter_set(server* srv, const char* s, size_t len, int val);

// The ordinary (IEEE 802.3, reflected) CRC-32, despite its name.
std::uint32_t generate_crc32c(const char* string, size_t length);

}  // extern "C"

}  // namespace hx

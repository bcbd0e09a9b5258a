// The configuration keys of the HTTP server: the top-level read of the
// configuration file with its default modules, the key table of the core with
// its types, destinations and defaults, one settings record per block, and the
// start-up checks.
//
// Callers: the server start (config_read, config_set_defaults) and plugins,
// which read their own keys with config_insert_values_global, once per block.
// HTTP server thread only, before its event loop starts.
//
// Contract: 0 or -1 (config_insert: 5 for a bad stat-cache engine). Messages go
// to the error log tagged "configfile" (the core's keys and checks) or
// "configfile-glue" (applying a table).
#pragma once
#include "http/http_base.h"

namespace hx {

enum config_values_type_t {
    T_CONFIG_UNSET = 0,
    T_CONFIG_STRING = 1,
    T_CONFIG_SHORT = 2,
    T_CONFIG_INT = 3,
    T_CONFIG_BOOLEAN = 4,
    T_CONFIG_ARRAY = 5,
    T_CONFIG_LOCAL = 6,
    T_CONFIG_DEPRECATED = 7,
    T_CONFIG_UNSUPPORTED = 8,
};

enum config_scope_type_t {
    T_CONFIG_SCOPE_UNSET = 0,
    T_CONFIG_SCOPE_SERVER = 1,
    T_CONFIG_SCOPE_CONNECTION = 2,
};

// One row of a key table; a table ends with a row whose key is null. For a
// deprecated or unsupported key the destination is the hint text.
struct config_values_t {
    const char* key;
    void* destination;
    config_values_type_t type;
    config_scope_type_t scope;
};

// The fixed path the server start reads, under the data root.
constexpr const char* kWebserverConfigPath = "/vandik_app/tools/webserver/config/webserver.conf";

extern "C" {

int config_read(server* srv, const char* path);
int config_insert(server* srv);
int config_insert_values_global(server* srv, array* settings, const config_values_t* table);
int config_insert_values_internal(server* srv, array* settings, const config_values_t* table);
int config_set_defaults(server* srv);

}  // extern "C"

}  // namespace hx

namespace hx {

extern "C" {

// Per request: the global block's settings into the connection, then the
// blocks whose conditions hold for it, kind by kind as they become decidable.
int config_setup_connection(server* srv, connection* con);
int config_patch_connection(server* srv, connection* con, comp_key_t comp);
int config_check_cond(server* srv, connection* con, data_config* dc);
cond_result_t config_check_cond_cached(server* srv, connection* con, data_config* dc);
cond_result_t config_check_cond_nocache(server* srv, connection* con, data_config* dc);
void config_cond_cache_reset(server* srv, connection* con);
void config_cond_cache_reset_item(server* srv, connection* con, comp_key_t item);
// Only "==" and "!=" conditions exist, which capture nothing: always 0.
int config_append_cond_match_buffer(connection* con, data_config* dc, buffer* buf, int n);
std::uint16_t sock_addr_get_port(const sock_addr* addr);

}  // extern "C"

}  // namespace hx

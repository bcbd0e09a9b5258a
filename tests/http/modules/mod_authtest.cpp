// mod_authtest: a test-only authentication module, built and loaded only by
// the tests. It guards paths with HTTP Basic and Digest authentication
// through the program's exported checks (http_auth_basic_check and the
// others), the way an authentication module for the card's server would, so
// the tests drive those checks with real clients.
//
// Keys, in the global block or any conditional block (a block's own keys
// override those before it):
//   auth.backend                 "plain", "htpasswd" or "htdigest"
//   auth.backend.plain.userfile, auth.backend.htpasswd.userfile,
//   auth.backend.htdigest.userfile
//   auth.debug                   0, 1 or 2
//   auth.require = ( "<path prefix>" => ( "method" => "basic" | "digest",
//                                          "realm" => "...",
//                                          "require" => "valid-user" | "user=..." ) )
//
// A request whose cleaned path starts with a guarded prefix needs matching
// credentials; without them it is answered 401 with the method's challenge
// (Digest: realm, a fresh nonce, qop "auth"), and with a malformed Digest
// header 400. An authenticated request goes on to the file and its answer
// carries the user name in "X-Auth-User".
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "http/array.h"
#include "http/buffer.h"
#include "http/errorlog.h"
#include "http/http_auth.h"
#include "http/modules/module_support.h"
#include "http/plugin.h"
#include "http/response.h"

namespace hx::modules {

namespace {

constexpr char kBackendKey[] = "auth.backend";
constexpr char kPlainKey[] = "auth.backend.plain.userfile";
constexpr char kHtpasswdKey[] = "auth.backend.htpasswd.userfile";
constexpr char kHtdigestKey[] = "auth.backend.htdigest.userfile";
constexpr char kDebugKey[] = "auth.debug";
constexpr char kRequireKey[] = "auth.require";
constexpr char kTag[] = "mod_authtest";

struct authtest_data {
    mod_auth_plugin_data auth;  // first: its id is the module's position
    size_t config_count;
    buffer* challenge;
};

size_t text_length(const buffer* b) {
    return b == nullptr || b->used == 0 ? 0 : b->used - 1;
}

void* authtest_init() {
    auto* p = static_cast<authtest_data*>(std::calloc(1, sizeof(authtest_data)));
    if (p != nullptr) {
        p->auth.tmp_buf = buffer_init();
        p->auth.auth_user = buffer_init();
        p->challenge = buffer_init();
    }
    return p;
}

void free_config(mod_auth_plugin_config* s) {
    if (s == nullptr) {
        return;
    }
    array_free(s->auth_require);
    for (buffer* b : {s->auth_plain_groupfile, s->auth_plain_userfile, s->auth_htdigest_userfile,
                      s->auth_htpasswd_userfile, s->auth_backend_conf, s->auth_ldap_hostname, s->auth_ldap_basedn,
                      s->auth_ldap_binddn, s->auth_ldap_bindpw, s->auth_ldap_filter, s->auth_ldap_cafile}) {
        buffer_free(b);
    }
    std::free(s);
}

handler_t authtest_cleanup(server*, void* p_d) {
    auto* p = static_cast<authtest_data*>(p_d);
    if (p == nullptr) {
        return HANDLER_GO_ON;
    }
    for (size_t i = 0; i < p->config_count; ++i) {
        free_config(p->auth.config_storage[i]);
    }
    std::free(p->auth.config_storage);
    buffer_free(p->auth.tmp_buf);
    buffer_free(p->auth.auth_user);
    buffer_free(p->challenge);
    std::free(p);
    return HANDLER_GO_ON;
}

mod_auth_plugin_config* new_config() {
    auto* s = static_cast<mod_auth_plugin_config*>(std::calloc(1, sizeof(mod_auth_plugin_config)));
    if (s == nullptr) {
        return nullptr;
    }
    s->auth_require = array_init();
    for (buffer** b : {&s->auth_plain_groupfile, &s->auth_plain_userfile, &s->auth_htdigest_userfile,
                       &s->auth_htpasswd_userfile, &s->auth_backend_conf, &s->auth_ldap_hostname, &s->auth_ldap_basedn,
                       &s->auth_ldap_binddn, &s->auth_ldap_bindpw, &s->auth_ldap_filter, &s->auth_ldap_cafile}) {
        *b = buffer_init();
    }
    return s;
}

// Copies the "auth.require" entries of a block: each a path prefix naming
// an array of strings. -1 (logged) for any other shape.
int read_require(server* srv, const array* settings, array* destination) {
    const data_unset* du = array_get_element(settings, kRequireKey);
    if (du == nullptr) {
        return 0;
    }
    if (du->type != TYPE_ARRAY) {
        log_error_write(srv, kTag, __LINE__, "ss", kRequireKey, "should be an array of ( \"path\" => ( ... ) )");
        return -1;
    }
    const array* entries = static_cast<const data_array*>(du)->value;
    for (size_t i = 0; i < entries->used; ++i) {
        const data_unset* entry = entries->data[i];
        if (entry->type != TYPE_ARRAY || buffer_is_empty(entry->key)) {
            log_error_write(srv, kTag, __LINE__, "ss", kRequireKey, "entries are \"path\" => ( ... )");
            return -1;
        }
        data_unset* copy = entry->copy(entry);
        if (array_insert_unique(destination, copy) != 0) {
            copy->free(copy);
        }
    }
    return 0;
}

int backend_of(server* srv, const buffer* name, auth_backend_t* backend) {
    if (buffer_is_empty(name)) {
        *backend = AUTH_BACKEND_UNSET;
    } else if (buffer_is_equal_string(name, "plain", 5)) {
        *backend = AUTH_BACKEND_PLAIN;
    } else if (buffer_is_equal_string(name, "htpasswd", 8)) {
        *backend = AUTH_BACKEND_HTPASSWD;
    } else if (buffer_is_equal_string(name, "htdigest", 8)) {
        *backend = AUTH_BACKEND_HTDIGEST;
    } else {
        log_error_write(srv, kTag, __LINE__, "sb", "auth.backend not supported:", name);
        return -1;
    }
    return 0;
}

handler_t authtest_set_defaults(server* srv, void* p_d) {
    auto* p = static_cast<authtest_data*>(p_d);
    const size_t count = config_block_count(srv);
    p->auth.config_storage =
        static_cast<mod_auth_plugin_config**>(std::calloc(count, sizeof(mod_auth_plugin_config*)));
    if (p->auth.config_storage == nullptr) {
        return HANDLER_ERROR;
    }
    p->config_count = count;
    for (size_t i = 0; i < count; ++i) {
        mod_auth_plugin_config* s = new_config();
        if (s == nullptr) {
            return HANDLER_ERROR;
        }
        p->auth.config_storage[i] = s;
        const config_values_t table[] = {
            {kBackendKey, s->auth_backend_conf, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {kPlainKey, s->auth_plain_userfile, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {kHtpasswdKey, s->auth_htpasswd_userfile, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {kHtdigestKey, s->auth_htdigest_userfile, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {kDebugKey, &s->auth_debug, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {kRequireKey, nullptr, T_CONFIG_LOCAL, T_CONFIG_SCOPE_CONNECTION},
            {nullptr, nullptr, T_CONFIG_UNSET, T_CONFIG_SCOPE_UNSET},
        };
        array* settings = config_block(srv, i)->value;
        if (config_insert_values_global(srv, settings, table) != 0 ||
            read_require(srv, settings, s->auth_require) != 0 ||
            backend_of(srv, s->auth_backend_conf, &s->auth_backend) != 0) {
            return HANDLER_ERROR;
        }
    }
    return HANDLER_GO_ON;
}

// This request's settings: the global block's, then those of every matching
// conditional block that names the key itself.
void patch_connection(server* srv, connection* con, authtest_data* p) {
    mod_auth_plugin_config& conf = p->auth.conf;
    conf = *p->auth.config_storage[0];
    for (size_t i = 1; i < p->config_count; ++i) {
        data_config* block = config_block(srv, i);
        if (!config_check_cond(srv, con, block)) {
            continue;
        }
        const mod_auth_plugin_config* s = p->auth.config_storage[i];
        if (block_sets(block, kBackendKey, sizeof kBackendKey - 1)) {
            conf.auth_backend = s->auth_backend;
        }
        if (block_sets(block, kPlainKey, sizeof kPlainKey - 1)) {
            conf.auth_plain_userfile = s->auth_plain_userfile;
        }
        if (block_sets(block, kHtpasswdKey, sizeof kHtpasswdKey - 1)) {
            conf.auth_htpasswd_userfile = s->auth_htpasswd_userfile;
        }
        if (block_sets(block, kHtdigestKey, sizeof kHtdigestKey - 1)) {
            conf.auth_htdigest_userfile = s->auth_htdigest_userfile;
        }
        if (block_sets(block, kDebugKey, sizeof kDebugKey - 1)) {
            conf.auth_debug = s->auth_debug;
        }
        if (block_sets(block, kRequireKey, sizeof kRequireKey - 1)) {
            conf.auth_require = s->auth_require;
        }
    }
}

// The require entry whose path prefix starts the request's path, or null.
array* guarding_entry(const mod_auth_plugin_config& conf, const buffer* path) {
    for (size_t i = 0; i < conf.auth_require->used; ++i) {
        const data_unset* entry = conf.auth_require->data[i];
        const size_t length = text_length(entry->key);
        if (length <= text_length(path) && std::strncmp(path->ptr, entry->key->ptr, length) == 0) {
            return static_cast<const data_array*>(entry)->value;
        }
    }
    return nullptr;
}

const buffer* entry_string(const array* entry, const char* key) {
    const data_unset* du = array_get_element(entry, key);
    return du != nullptr && du->type == TYPE_STRING ? static_cast<const data_string*>(du)->value : nullptr;
}

// The Authorization header's text after `scheme` and its blanks, when the
// header starts with that scheme word (in any case); else null.
const char* credentials_for(connection* con, const char* scheme) {
    const data_unset* du = array_get_element(con->request.headers, "Authorization");
    if (du == nullptr || du->type != TYPE_STRING) {
        return nullptr;
    }
    const buffer* value = static_cast<const data_string*>(du)->value;
    const size_t length = std::strlen(scheme);
    if (text_length(value) <= length || strncasecmp(value->ptr, scheme, length) != 0 ||
        (value->ptr[length] != ' ' && value->ptr[length] != '\t')) {
        return nullptr;
    }
    const char* text = value->ptr + length;
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    return text;
}

handler_t refuse(server* srv, connection* con, authtest_data* p, bool digest, const buffer* realm) {
    buffer* c = p->challenge;
    buffer_copy_string(c, digest ? "Digest realm=\"" : "Basic realm=\"");
    if (realm != nullptr) {
        buffer_append_string_buffer(c, realm);
    }
    buffer_append_string(c, "\"");
    if (digest) {
        char nonce[33];
        http_auth_digest_generate_nonce(srv, &p->auth, con->uri.path, nonce);
        buffer_append_string(c, ", nonce=\"");
        buffer_append_string_len(c, nonce, 32);
        buffer_append_string(c, "\", qop=\"auth\"");
    }
    response_header_insert(srv, con, "WWW-Authenticate", sizeof "WWW-Authenticate" - 1, c->ptr, text_length(c));
    con->http_status = 401;
    return HANDLER_FINISHED;
}

handler_t authtest_uri_clean(server* srv, connection* con, void* p_d) {
    auto* p = static_cast<authtest_data*>(p_d);
    if (con->mode != DIRECT || buffer_is_empty(con->uri.path) || p->config_count == 0) {
        return HANDLER_GO_ON;
    }
    patch_connection(srv, con, p);
    array* entry = guarding_entry(p->auth.conf, con->uri.path);
    if (entry == nullptr) {
        return HANDLER_GO_ON;
    }
    const buffer* method = entry_string(entry, "method");
    const bool digest = method != nullptr && buffer_is_equal_string(method, "digest", 6);
    const buffer* realm = entry_string(entry, "realm");

    buffer_reset(p->auth.auth_user);
    int result = 0;
    if (const char* text = credentials_for(con, digest ? "Digest" : "Basic"); text != nullptr) {
        result = digest ? http_auth_digest_check(srv, con, &p->auth, entry, text)
                        : http_auth_basic_check(srv, con, &p->auth, entry, text);
    }
    if (result < 0) {
        con->http_status = 400;
        return HANDLER_FINISHED;
    }
    if (result == 0) {
        return refuse(srv, con, p, digest, realm);
    }
    response_header_insert(srv, con, "X-Auth-User", sizeof "X-Auth-User" - 1, p->auth.auth_user->ptr,
                           text_length(p->auth.auth_user));
    return HANDLER_GO_ON;
}

}  // namespace

}  // namespace hx::modules

extern "C" __attribute__((visibility("default"))) int mod_authtest_plugin_init(hx::plugin* p) {
    p->version = hx::kPluginVersion;
    hx::buffer_copy_string(p->name, "mod_authtest");
    p->init = hx::modules::authtest_init;
    p->set_defaults = hx::modules::authtest_set_defaults;
    p->cleanup = hx::modules::authtest_cleanup;
    p->handle_uri_clean = hx::modules::authtest_uri_clean;
    p->data = nullptr;
    return 0;
}

// Per-request settings: the global block's settings copied into the
// connection, the conditional blocks that hold patched over them, and the
// evaluation of the conditions with the connection's cache.
#include <arpa/inet.h>

#include <cstring>

#include "http/config_keys.h"
#include "http/errorlog.h"

namespace hx {

namespace {

constexpr const char* kGlue = "configfile-glue";

const char* const kMethodNames[] = {
    "GET",        "HEAD",          "POST",        "PUT",         "DELETE",      "CONNECT",
    "OPTIONS",    "TRACE",         "ACL",         "BASELINE-CONTROL", "BIND",   "CHECKIN",
    "CHECKOUT",   "COPY",          "LABEL",       "LINK",        "LOCK",        "MERGE",
    "MKACTIVITY", "MKCALENDAR",    "MKCOL",       "MKREDIRECTREF", "MKWORKSPACE", "MOVE",
    "ORDERPATCH", "PATCH",         "PROPFIND",    "PROPPATCH",   "REBIND",      "REPORT",
    "SEARCH",     "UNBIND",        "UNCHECKOUT",  "UNLINK",      "UNLOCK",      "UPDATE",
    "UPDATEREDIRECTREF", "VERSION-CONTROL",
};

bool named(const data_unset* du, const char* name) {
    return buffer_is_equal_string(du->key, name, std::strlen(name));
}

const buffer* header_value(const connection* con, const char* name) {
    const data_unset* du = con->request.headers != nullptr ? array_get_element(con->request.headers, name) : nullptr;
    return du != nullptr ? static_cast<const data_string*>(du)->value : nullptr;
}

// The network match of a remote address against "address/length". A length
// above 32 is refused like a malformed one: it would shift past the mask.
cond_result_t match_network(server* srv, connection* con, data_config* dc, const char* slash) {
    const char* text = dc->string->ptr;
    const char* bits = slash + 1;
    if (*bits == '\0') {
        log_error_write(srv, kGlue, __LINE__, "sb", "ERROR: no number after / ", dc->string);
        return COND_RESULT_FALSE;
    }
    long length = 0;
    for (const char* p = bits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || (length = length * 10 + (*p - '0')) > 32) {
            log_error_write(srv, kGlue, __LINE__, "sbs", "ERROR: non-digit found in netmask:", dc->string, bits);
            return COND_RESULT_FALSE;
        }
    }
    char address[64];
    const size_t address_length = static_cast<size_t>(slash - text);
    in_addr network{};
    if (address_length >= sizeof address) {
        address[0] = '\0';
    } else {
        std::memcpy(address, text, address_length);
        address[address_length] = '\0';
    }
    if (address_length >= sizeof address || inet_pton(AF_INET, address, &network) != 1) {
        log_error_write(srv, kGlue, __LINE__, "ss", "ERROR: ip addr is invalid:", address);
        return COND_RESULT_FALSE;
    }
    const std::uint32_t mask = length == 0 ? 0 : htonl(~0u << (32 - length));
    const bool match = (network.s_addr & mask) == (con->dst_addr.ipv4.sin_addr.s_addr & mask);
    return (match == (dc->cond == CONFIG_COND_EQ)) ? COND_RESULT_TRUE : COND_RESULT_FALSE;
}

}  // namespace

std::uint16_t sock_addr_get_port(const sock_addr* addr) {
    return ntohs(addr->ipv4.sin_port);
}

int config_setup_connection(server* srv, connection* con) {
    const specific_config* s = srv->config_storage[0];
    specific_config& c = con->conf;
    c.allow_http11 = s->allow_http11;
    c.mimetypes = s->mimetypes;
    c.document_root = s->document_root;
    c.max_keep_alive_requests = s->max_keep_alive_requests;
    c.max_keep_alive_idle = s->max_keep_alive_idle;
    c.max_read_idle = s->max_read_idle;
    c.max_write_idle = s->max_write_idle;
    c.use_xattr = s->use_xattr;
    c.error_handler = s->error_handler;
    c.errorfile_prefix = s->errorfile_prefix;
    c.follow_symlink = s->follow_symlink;
    c.server_tag = s->server_tag;
    c.kbytes_per_second = s->kbytes_per_second;
    c.global_kbytes_per_second = s->global_kbytes_per_second;
    c.global_bytes_per_second_cnt = s->global_bytes_per_second_cnt;
    c.global_bytes_per_second_cnt_ptr = s->global_bytes_per_second_cnt_ptr;
    buffer_copy_string_buffer(con->server_name, s->server_name);
    c.log_file_not_found = s->log_file_not_found;
    c.log_request_header = s->log_request_header;
    c.log_request_handling = s->log_request_handling;
    c.log_response_header = s->log_response_header;
    c.log_condition_handling = s->log_condition_handling;
    c.log_ssl_noise = s->log_ssl_noise;
    c.log_timeouts = s->log_timeouts;
    c.range_requests = s->range_requests;
    c.force_lowercase_filenames = s->force_lowercase_filenames;
    c.ssl_enabled = s->ssl_enabled;
    c.ssl_pemfile = s->ssl_pemfile;
    c.ssl_ca_file = s->ssl_ca_file;
    c.ssl_cipher_list = s->ssl_cipher_list;
    c.ssl_dh_file = s->ssl_dh_file;
    c.ssl_ec_curve = s->ssl_ec_curve;
    c.ssl_honor_cipher_order = s->ssl_honor_cipher_order;
    c.ssl_empty_fragments = s->ssl_empty_fragments;
    c.ssl_use_sslv2 = s->ssl_use_sslv2;
    c.ssl_use_sslv3 = s->ssl_use_sslv3;
    c.etag_use_inode = s->etag_use_inode;
    c.etag_use_mtime = s->etag_use_mtime;
    c.etag_use_size = s->etag_use_size;
    c.ssl_verifyclient = s->ssl_verifyclient;
    c.ssl_verifyclient_enforce = s->ssl_verifyclient_enforce;
    c.ssl_verifyclient_depth = s->ssl_verifyclient_depth;
    c.ssl_verifyclient_username = s->ssl_verifyclient_username;
    c.ssl_verifyclient_export_cert = s->ssl_verifyclient_export_cert;
    c.ssl_disable_client_renegotiation = s->ssl_disable_client_renegotiation;
    return 0;
}

int config_patch_connection(server* srv, connection* con, comp_key_t comp) {
    con->conditional_is_valid[comp] = 1;
    specific_config& c = con->conf;
    for (size_t i = 1; i < srv->config_context->used; ++i) {
        auto* dc = static_cast<data_config*>(srv->config_context->data[i]);
        specific_config* s = srv->config_storage[i];
        if (!config_check_cond(srv, con, dc)) {
            continue;
        }
        // Names exactly as written: a block's override reaches the request
        // only under the listed spelling.
        for (size_t j = 0; j < dc->value->used; ++j) {
            const data_unset* du = dc->value->data[j];
            if (named(du, "server.document-root")) {
                c.document_root = s->document_root;
            } else if (named(du, "server.range-requests")) {
                c.range_requests = s->range_requests;
            } else if (named(du, "server.error-handler-404")) {
                c.error_handler = s->error_handler;
            } else if (named(du, "server.errorfile-prefix")) {
                c.errorfile_prefix = s->errorfile_prefix;
            } else if (named(du, "mimetype.assign")) {
                c.mimetypes = s->mimetypes;
            } else if (named(du, "server.max-keep-alive-requests")) {
                c.max_keep_alive_requests = s->max_keep_alive_requests;
            } else if (named(du, "server.max-keep-alive-idle")) {
                c.max_keep_alive_idle = s->max_keep_alive_idle;
            } else if (named(du, "server.max-write-idle")) {
                c.max_write_idle = s->max_write_idle;
            } else if (named(du, "server.max-read-idle")) {
                c.max_read_idle = s->max_read_idle;
            } else if (named(du, "mimetype.use-xattr")) {
                c.use_xattr = s->use_xattr;
            } else if (named(du, "etag.use-inode")) {
                c.etag_use_inode = s->etag_use_inode;
            } else if (named(du, "etag.use-mtime")) {
                c.etag_use_mtime = s->etag_use_mtime;
            } else if (named(du, "etag.use-size")) {
                c.etag_use_size = s->etag_use_size;
            } else if (named(du, "ssl.pemfile")) {
                c.ssl_pemfile = s->ssl_pemfile;
            } else if (named(du, "ssl.ca-file")) {
                c.ssl_ca_file = s->ssl_ca_file;
            } else if (named(du, "ssl.honor-cipher-order")) {
                c.ssl_honor_cipher_order = s->ssl_honor_cipher_order;
            } else if (named(du, "ssl.empty-fragments")) {
                c.ssl_empty_fragments = s->ssl_empty_fragments;
            } else if (named(du, "ssl.use-sslv2")) {
                c.ssl_use_sslv2 = s->ssl_use_sslv2;
            } else if (named(du, "ssl.use-sslv3")) {
                c.ssl_use_sslv3 = s->ssl_use_sslv3;
            } else if (named(du, "ssl.cipher-list")) {
                c.ssl_cipher_list = s->ssl_cipher_list;
            } else if (named(du, "ssl.engine")) {
                c.ssl_enabled = s->ssl_enabled;
            } else if (named(du, "ssl.dh-file")) {
                c.ssl_dh_file = s->ssl_dh_file;
            } else if (named(du, "ssl.ec-curve")) {
                c.ssl_ec_curve = s->ssl_ec_curve;
            } else if (named(du, "server.follow-symlink")) {
                c.follow_symlink = s->follow_symlink;
            } else if (named(du, "server.name")) {
                buffer_copy_string_buffer(con->server_name, s->server_name);
            } else if (named(du, "server.tag")) {
                c.server_tag = s->server_tag;
            } else if (named(du, "connection.kbytes-per-second")) {
                c.kbytes_per_second = s->kbytes_per_second;
            } else if (named(du, "debug.log-request-handling")) {
                c.log_request_handling = s->log_request_handling;
            } else if (named(du, "debug.log-request-header")) {
                c.log_request_header = s->log_request_header;
            } else if (named(du, "debug.log-response-header")) {
                c.log_response_header = s->log_response_header;
            } else if (named(du, "debug.log-condition-handling")) {
                c.log_condition_handling = s->log_condition_handling;
            } else if (named(du, "debug.log-file-not-found")) {
                c.log_file_not_found = s->log_file_not_found;
            } else if (named(du, "debug.log-ssl-noise")) {
                c.log_ssl_noise = s->log_ssl_noise;
            } else if (named(du, "debug.log-timeouts")) {
                c.log_timeouts = s->log_timeouts;
            } else if (named(du, "server.protocol-http11")) {
                c.allow_http11 = s->allow_http11;
            } else if (named(du, "server.force-lowercase-filenames")) {
                c.force_lowercase_filenames = s->force_lowercase_filenames;
            } else if (named(du, "server.kbytes-per-second")) {
                c.global_bytes_per_second_cnt = s->global_bytes_per_second_cnt;
                c.global_bytes_per_second_cnt_ptr = &s->global_bytes_per_second_cnt;
                c.global_kbytes_per_second = s->global_kbytes_per_second;
            } else if (named(du, "ssl.verifyclient.activate")) {
                c.ssl_verifyclient = s->ssl_verifyclient;
            } else if (named(du, "ssl.verifyclient.enforce")) {
                c.ssl_verifyclient_enforce = s->ssl_verifyclient_enforce;
            } else if (named(du, "ssl.verifyclient.depth")) {
                c.ssl_verifyclient_depth = s->ssl_verifyclient_depth;
            } else if (named(du, "ssl.verifyclient.username")) {
                c.ssl_verifyclient_username = s->ssl_verifyclient_username;
            } else if (named(du, "ssl.verifyclient.exportcert")) {
                c.ssl_verifyclient_export_cert = s->ssl_verifyclient_export_cert;
            } else if (named(du, "ssl.disable-client-renegotiation")) {
                c.ssl_disable_client_renegotiation = s->ssl_disable_client_renegotiation;
            }
        }
    }
    con->etag_flags = (c.etag_use_inode ? 1 : 0) | (c.etag_use_mtime ? 2 : 0) | (c.etag_use_size ? 4 : 0);
    return 0;
}

cond_result_t config_check_cond_nocache(server* srv, connection* con, data_config* dc) {
    const bool debug = con->conf.log_condition_handling != 0;
    if (dc->parent != nullptr && dc->parent->context_ndx != 0) {
        if (debug) {
            log_error_write(srv, kGlue, __LINE__, "sb", "go parent", dc->parent->key);
        }
        const cond_result_t parent = config_check_cond_cached(srv, con, dc->parent);
        if (parent != COND_RESULT_TRUE) {
            return parent;
        }
    }
    if (dc->prev != nullptr) {
        if (debug) {
            log_error_write(srv, kGlue, __LINE__, "sb", "go prev", dc->prev->key);
        }
        config_check_cond_cached(srv, con, dc->prev);
        if (con->cond_cache[dc->context_ndx].result == COND_RESULT_FALSE) {
            return COND_RESULT_FALSE;
        }
    }
    if (!con->conditional_is_valid[dc->comp]) {
        if (debug) {
            log_error_write(srv, kGlue, __LINE__, "dss", dc->comp, dc->key->ptr, "nej");
        }
        return COND_RESULT_UNSET;
    }
    const buffer* value = nullptr;
    switch (dc->comp) {
    case COMP_SERVER_SOCKET:
        value = con->srv_socket != nullptr ? con->srv_socket->srv_token : nullptr;
        break;
    case COMP_HTTP_URL:
        value = con->uri.path;
        break;
    case COMP_HTTP_QUERY_STRING:
        value = con->uri.query;
        break;
    case COMP_HTTP_SCHEME:
        buffer_copy_string(srv->tmp_buf, con->srv_socket != nullptr && con->srv_socket->is_ssl ? "https" : "http");
        value = srv->tmp_buf;
        break;
    case COMP_HTTP_REQUEST_METHOD: {
        const int method = con->request.http_method;
        if (method >= 0 && static_cast<size_t>(method) < sizeof kMethodNames / sizeof kMethodNames[0]) {
            buffer_copy_string(srv->tmp_buf, kMethodNames[method]);
            value = srv->tmp_buf;
        }
        break;
    }
    case COMP_HTTP_HOST: {
        const buffer* host = !buffer_is_empty(con->request.http_host) ? con->request.http_host : srv->empty_string;
        value = host;
        if (dc->cond == CONFIG_COND_EQ || dc->cond == CONFIG_COND_NE) {
            const bool wants_port = std::strchr(dc->string->ptr, ':') != nullptr;
            const char* colon = host->used > 0 ? std::strchr(host->ptr, ':') : nullptr;
            if (wants_port && colon == nullptr && con->srv_socket != nullptr) {
                buffer_copy_string_buffer(srv->cond_check_buf, host);
                buffer_append_string_len(srv->cond_check_buf, ":", 1);
                buffer_append_long(srv->cond_check_buf, sock_addr_get_port(&con->srv_socket->addr));
                value = srv->cond_check_buf;
            } else if (!wants_port && colon != nullptr) {
                buffer_copy_string_len(srv->cond_check_buf, host->ptr, static_cast<size_t>(colon - host->ptr));
                value = srv->cond_check_buf;
            }
        }
        break;
    }
    case COMP_HTTP_REFERER:
    case COMP_HTTP_USER_AGENT:
    case COMP_HTTP_LANGUAGE:
    case COMP_HTTP_COOKIE: {
        const char* name = dc->comp == COMP_HTTP_REFERER      ? "Referer"
                           : dc->comp == COMP_HTTP_USER_AGENT ? "User-Agent"
                           : dc->comp == COMP_HTTP_LANGUAGE   ? "Accept-Language"
                                                              : "Cookie";
        value = header_value(con, name);
        if (value == nullptr) {
            value = srv->empty_string;
        }
        break;
    }
    case COMP_HTTP_REMOTE_IP: {
        const char* slash = std::strchr(dc->string->ptr, '/');
        if ((dc->cond == CONFIG_COND_EQ || dc->cond == CONFIG_COND_NE) && con->dst_addr.plain.sa_family == AF_INET &&
            slash != nullptr) {
            return match_network(srv, con, dc, slash);
        }
        value = con->dst_addr_buf;
        break;
    }
    default:
        return COND_RESULT_FALSE;
    }
    if (value == nullptr) {
        if (debug) {
            log_error_write(srv, kGlue, __LINE__, "bsbs", dc->comp_key, "(", value, ") compare to NULL");
        }
        return COND_RESULT_FALSE;
    }
    if (debug) {
        log_error_write(srv, kGlue, __LINE__, "bsbsb", dc->comp_key, "(", value, ") compare to ", dc->string);
    }
    const bool equal = buffer_is_equal(value, dc->string) != 0 ||
                       (buffer_is_empty(value) && dc->string->used <= 1);
    if (dc->cond == CONFIG_COND_EQ) {
        return equal ? COND_RESULT_TRUE : COND_RESULT_FALSE;
    }
    if (dc->cond == CONFIG_COND_NE) {
        return equal ? COND_RESULT_FALSE : COND_RESULT_TRUE;
    }
    return COND_RESULT_FALSE;
}

cond_result_t config_check_cond_cached(server* srv, connection* con, data_config* dc) {
    cond_cache_t& cache = con->cond_cache[dc->context_ndx];
    const bool debug = con->conf.log_condition_handling != 0;
    const char* how = "(cached) result:";
    if (cache.result == COND_RESULT_UNSET) {
        how = "(uncached) result:";
        cache.result = config_check_cond_nocache(srv, con, dc);
        if (cache.result == COND_RESULT_TRUE && dc->next != nullptr) {
            if (debug) {
                log_error_write(srv, kGlue, __LINE__, "s", "setting remains of chaining to false");
            }
            for (data_config* later = dc->next; later != nullptr; later = later->next) {
                con->cond_cache[later->context_ndx].result = COND_RESULT_FALSE;
            }
        }
        cache.comp_type = dc->comp;
    }
    if (debug) {
        log_error_write(srv, kGlue, __LINE__, "dss", dc->context_ndx, how,
                        cache.result == COND_RESULT_UNSET   ? "unknown"
                        : cache.result == COND_RESULT_FALSE ? "false"
                                                            : "true");
    }
    return cache.result;
}

int config_check_cond(server* srv, connection* con, data_config* dc) {
    if (con->conf.log_condition_handling) {
        log_error_write(srv, kGlue, __LINE__, "s", "=== start of condition block ===");
    }
    return config_check_cond_cached(srv, con, dc) == COND_RESULT_TRUE;
}

void config_cond_cache_reset_item(server* srv, connection* con, comp_key_t item) {
    for (size_t i = 0; i < srv->config_context->used; ++i) {
        cond_cache_t& cache = con->cond_cache[i];
        if (item == COMP_LAST_ELEMENT || cache.comp_type == item) {
            cache.result = COND_RESULT_UNSET;
            cache.patterncount = 0;
            cache.comp_value = nullptr;
        }
    }
}

void config_cond_cache_reset(server* srv, connection* con) {
    config_cond_cache_reset_item(srv, con, COMP_LAST_ELEMENT);
    for (int& valid : con->conditional_is_valid) {
        valid = 0;
    }
}

int config_append_cond_match_buffer(connection*, data_config*, buffer*, int) {
    return 0;
}

}  // namespace hx

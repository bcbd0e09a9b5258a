// The top-level configuration read, the key table of the core, and the
// start-up checks.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/config_file.h"
#include "http/config_keys.h"
#include "http/errorlog.h"

namespace hx {

namespace {

const char* text_of(const buffer* b) {
    return b != nullptr && b->used > 0 ? b->ptr : "";
}

specific_config* specific_config_init(bool is_global) {
    auto* s = static_cast<specific_config*>(std::calloc(1, sizeof(specific_config)));
    if (s == nullptr) {
        log_failed_assert("configfile", __LINE__, "assertion failed: s");
    }
    s->mimetypes = array_init();
    for (buffer** b : {&s->document_root, &s->server_name, &s->error_handler, &s->server_tag, &s->dirlist_encoding,
                       &s->errorfile_prefix, &s->ssl_pemfile, &s->ssl_ca_file, &s->ssl_cipher_list, &s->ssl_dh_file,
                       &s->ssl_ec_curve, &s->ssl_verifyclient_username}) {
        *b = buffer_init();
    }
    s->max_keep_alive_requests = 16;
    s->max_keep_alive_idle = 5;
    s->max_read_idle = 60;
    s->max_write_idle = 360;
    s->ssl_verifyclient_depth = 9;
    for (std::uint16_t* flag : {&s->follow_symlink, &s->range_requests, &s->allow_http11, &s->etag_use_inode,
                                &s->etag_use_mtime, &s->etag_use_size, &s->set_v6only, &s->ssl_use_sslv3,
                                &s->ssl_honor_cipher_order, &s->ssl_verifyclient_enforce,
                                &s->ssl_disable_client_renegotiation}) {
        *flag = 1;
    }
    s->force_lowercase_filenames = is_global ? 2 : 0;
    s->global_bytes_per_second_cnt_ptr = &s->global_bytes_per_second_cnt;
    return s;
}

bool parse_decimal(const buffer* text, unsigned long long limit, unsigned long long* value) {
    const char* digits = text_of(text);
    if (*digits == '\0') {
        return false;
    }
    unsigned long long result = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        result = result * 10 + static_cast<unsigned>(*p - '0');
        if (result > limit) {
            return false;
        }
    }
    *value = result;
    return true;
}

constexpr const char* kGlue = "configfile-glue";

}  // namespace

int config_insert_values_internal(server* srv, array* settings, const config_values_t* table) {
    for (const config_values_t* row = table; row->key != nullptr; ++row) {
        data_unset* du = array_get_element(settings, row->key);
        if (du == nullptr) {
            continue;
        }
        switch (row->type) {
        case T_CONFIG_STRING:
            if (du->type != TYPE_STRING) {
                log_error_write(srv, kGlue, __LINE__, "ss", row->key, "should have been a string like ... = \"...\"");
                return -1;
            }
            buffer_copy_string_buffer(static_cast<buffer*>(row->destination), static_cast<data_string*>(du)->value);
            break;
        case T_CONFIG_SHORT:
            if (du->type == TYPE_INTEGER) {
                *static_cast<std::uint16_t*>(row->destination) =
                    static_cast<std::uint16_t>(static_cast<data_integer*>(du)->value);
            } else if (du->type == TYPE_STRING) {
                unsigned long long value = 0;
                const buffer* text = static_cast<data_string*>(du)->value;
                if (!parse_decimal(text, 65535, &value)) {
                    log_error_write(srv, kGlue, __LINE__, "ssb", "got a string but expected a short:", row->key, text);
                    return -1;
                }
                *static_cast<std::uint16_t*>(row->destination) = static_cast<std::uint16_t>(value);
            } else {
                log_error_write(srv, kGlue, __LINE__, "ssds", "unexpected type for key:", row->key, du->type,
                                "expected a short integer, range 0 ... 65535");
                return -1;
            }
            break;
        case T_CONFIG_INT:
            if (du->type == TYPE_INTEGER) {
                *static_cast<std::uint32_t*>(row->destination) =
                    static_cast<std::uint32_t>(static_cast<data_integer*>(du)->value);
            } else if (du->type == TYPE_STRING) {
                unsigned long long value = 0;
                const buffer* text = static_cast<data_string*>(du)->value;
                if (!parse_decimal(text, 4294967295ULL, &value)) {
                    log_error_write(srv, kGlue, __LINE__, "ssb", "got a string but expected an integer:", row->key,
                                    text);
                    return -1;
                }
                *static_cast<std::uint32_t*>(row->destination) = static_cast<std::uint32_t>(value);
            } else {
                log_error_write(srv, kGlue, __LINE__, "ssds", "unexpected type for key:", row->key, du->type,
                                "expected an integer, range 0 ... 4294967295");
                return -1;
            }
            break;
        case T_CONFIG_BOOLEAN:
            if (du->type == TYPE_STRING) {
                const buffer* text = static_cast<data_string*>(du)->value;
                if (buffer_is_equal_string(text, "enable", 6)) {
                    *static_cast<std::uint16_t*>(row->destination) = 1;
                } else if (buffer_is_equal_string(text, "disable", 7)) {
                    *static_cast<std::uint16_t*>(row->destination) = 0;
                } else {
                    log_error_write(srv, kGlue, __LINE__, "ssbs", "ERROR: unexpected value for key:", row->key, text,
                                    "(enable|disable)");
                    return -1;
                }
            } else {
                log_error_write(srv, kGlue, __LINE__, "ssss", "ERROR: unexpected type for key:", row->key,
                                "(string)", "\"(enable|disable)\"");
                return -1;
            }
            break;
        case T_CONFIG_ARRAY: {
            if (du->type != TYPE_ARRAY) {
                log_error_write(srv, kGlue, __LINE__, "ss", row->key,
                                "should have been a array of strings like ... = ( \"...\" )");
                return -1;
            }
            const array* values = static_cast<data_array*>(du)->value;
            for (size_t i = 0; i < values->used; ++i) {
                if (values->data[i]->type != TYPE_STRING) {
                    log_error_write(srv, kGlue, __LINE__, "sssd",
                                    "the key of an array can only be a string or a integer, variable:", row->key,
                                    "type:", values->data[i]->type);
                    return -1;
                }
            }
            auto* destination = static_cast<array*>(row->destination);
            for (size_t i = 0; i < values->used; ++i) {
                data_unset* copy = values->data[i]->copy(values->data[i]);
                if (array_insert_unique(destination, copy) != 0) {
                    copy->free(copy);
                }
            }
            break;
        }
        case T_CONFIG_DEPRECATED:
            log_error_write(srv, "configfile", __LINE__, "ssss", "ERROR: found deprecated key:", row->key, "-",
                            static_cast<const char*>(row->destination));
            srv->config_deprecated = 1;
            break;
        case T_CONFIG_UNSUPPORTED:
            log_error_write(srv, "configfile", __LINE__, "ssss", "ERROR: found unsupported key:", row->key, "-",
                            static_cast<const char*>(row->destination));
            srv->config_unsupported = 1;
            break;
        case T_CONFIG_UNSET:
        case T_CONFIG_LOCAL:
            break;
        }
    }
    return 0;
}

int config_insert_values_global(server* srv, array* settings, const config_values_t* table) {
    for (const config_values_t* row = table; row->key != nullptr; ++row) {
        if (array_get_element(settings, row->key) == nullptr || array_get_element(srv->config_touched, row->key)) {
            continue;
        }
        data_string* touched = data_string_init();
        buffer_copy_string(touched->key, row->key);
        array_insert_unique(srv->config_touched, touched);
    }
    return config_insert_values_internal(srv, settings, table);
}

int config_insert(server* srv) {
    server_config& conf = srv->srvconf;
    buffer* stat_cache_string = buffer_init();
    const config_values_t server_rows[] = {
        {"server.bind", conf.bindhost, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.errorlog", conf.errorlog_file, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.chroot", conf.changeroot, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.username", conf.username, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.groupname", conf.groupname, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.event-handler", conf.event_handler, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.pid-file", conf.pid_file, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.network-backend", conf.network_backend, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.breakagelog", conf.breakagelog_file, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
        {"server.port", &conf.port, T_CONFIG_SHORT, T_CONFIG_SCOPE_SERVER},
        {"server.max-worker", &conf.max_worker, T_CONFIG_SHORT, T_CONFIG_SCOPE_SERVER},
        {"server.max-fds", &conf.max_fds, T_CONFIG_SHORT, T_CONFIG_SCOPE_SERVER},
        {"server.max-connections", &conf.max_conns, T_CONFIG_SHORT, T_CONFIG_SCOPE_SERVER},
        {"server.max-request-size", &conf.max_request_size, T_CONFIG_INT, T_CONFIG_SCOPE_SERVER},
        {"debug.log-request-header-on-error", &conf.log_request_header_on_error, T_CONFIG_BOOLEAN,
         T_CONFIG_SCOPE_SERVER},
        {"debug.log-state-handling", &conf.log_state_handling, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_SERVER},
        {"server.errorlog-use-syslog", &conf.errorlog_use_syslog, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_SERVER},
        {"server.core-files", &conf.enable_cores, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_SERVER},
        {"server.reject-expect-100-with-417", &conf.reject_expect_100_with_417, T_CONFIG_BOOLEAN,
         T_CONFIG_SCOPE_SERVER},
        {"server.modules", conf.modules, T_CONFIG_ARRAY, T_CONFIG_SCOPE_SERVER},
        {"server.upload-dirs", conf.upload_tempdirs, T_CONFIG_ARRAY, T_CONFIG_SCOPE_SERVER},
        {"server.stat-cache-engine", stat_cache_string, T_CONFIG_STRING, T_CONFIG_SCOPE_SERVER},
    };
    constexpr size_t kServerRows = sizeof server_rows / sizeof server_rows[0];
    srv->config_storage =
        static_cast<specific_config**>(std::calloc(srv->config_context->used + 1, sizeof(specific_config*)));
    if (srv->config_storage == nullptr) {
        log_failed_assert("configfile", __LINE__, "assertion failed: srv->config_storage");
    }
    int result = 0;
    for (size_t i = 0; i < srv->config_context->used && result == 0; ++i) {
        auto* block = static_cast<data_config*>(srv->config_context->data[i]);
        specific_config* s = specific_config_init(i == 0);
        srv->config_storage[i] = s;
        config_values_t table[kServerRows + 57];
        size_t n = 0;
        for (const config_values_t& row : server_rows) {
            table[n++] = row;
        }
        const config_values_t block_rows[] = {
            {"server.document-root", s->document_root, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"server.name", s->server_name, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"server.tag", s->server_tag, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"server.error-handler-404", s->error_handler, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"server.errorfile-prefix", s->errorfile_prefix, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.pemfile", s->ssl_pemfile, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.ca-file", s->ssl_ca_file, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.cipher-list", s->ssl_cipher_list, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.dh-file", s->ssl_dh_file, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.ec-curve", s->ssl_ec_curve, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.verifyclient.username", s->ssl_verifyclient_username, T_CONFIG_STRING, T_CONFIG_SCOPE_CONNECTION},
            {"server.max-keep-alive-requests", &s->max_keep_alive_requests, T_CONFIG_SHORT,
             T_CONFIG_SCOPE_CONNECTION},
            {"server.max-keep-alive-idle", &s->max_keep_alive_idle, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"server.max-read-idle", &s->max_read_idle, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"server.max-write-idle", &s->max_write_idle, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"server.kbytes-per-second", &s->global_kbytes_per_second, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"connection.kbytes-per-second", &s->kbytes_per_second, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"server.defer-accept", &s->defer_accept, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.verifyclient.depth", &s->ssl_verifyclient_depth, T_CONFIG_SHORT, T_CONFIG_SCOPE_CONNECTION},
            {"server.follow-symlink", &s->follow_symlink, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"server.range-requests", &s->range_requests, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"server.protocol-http11", &s->allow_http11, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"etag.use-inode", &s->etag_use_inode, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"etag.use-mtime", &s->etag_use_mtime, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"etag.use-size", &s->etag_use_size, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"server.set-v6only", &s->set_v6only, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.use-sslv3", &s->ssl_use_sslv3, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.honor-cipher-order", &s->ssl_honor_cipher_order, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.verifyclient.enforce", &s->ssl_verifyclient_enforce, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.disable-client-renegotiation", &s->ssl_disable_client_renegotiation, T_CONFIG_BOOLEAN,
             T_CONFIG_SCOPE_CONNECTION},
            {"server.use-ipv6", &s->use_ipv6, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"mimetype.use-xattr", &s->use_xattr, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.engine", &s->ssl_enabled, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.use-sslv2", &s->ssl_use_sslv2, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.empty-fragments", &s->ssl_empty_fragments, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.verifyclient.activate", &s->ssl_verifyclient, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"ssl.verifyclient.exportcert", &s->ssl_verifyclient_export_cert, T_CONFIG_BOOLEAN,
             T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-condition-handling", &s->log_condition_handling, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-file-not-found", &s->log_file_not_found, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-request-handling", &s->log_request_handling, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-response-header", &s->log_response_header, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-request-header", &s->log_request_header, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-ssl-noise", &s->log_ssl_noise, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"debug.log-timeouts", &s->log_timeouts, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {"server.force-lowercase-filenames", &s->force_lowercase_filenames, T_CONFIG_BOOLEAN,
             T_CONFIG_SCOPE_CONNECTION},
            {"mimetype.assign", s->mimetypes, T_CONFIG_ARRAY, T_CONFIG_SCOPE_CONNECTION},
            {"server.host", const_cast<char*>("use server.bind instead"), T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
            {"server.docroot", const_cast<char*>("use server.document-root instead"), T_CONFIG_DEPRECATED,
             T_CONFIG_SCOPE_UNSET},
            {"server.virtual-root", const_cast<char*>("load mod_simple_vhost and use simple-vhost.server-root instead"),
             T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
            {"server.virtual-default-host",
             const_cast<char*>("load mod_simple_vhost and use simple-vhost.default-host instead"),
             T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
            {"server.virtual-docroot",
             const_cast<char*>("load mod_simple_vhost and use simple-vhost.document-root instead"),
             T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
            {"server.userid", const_cast<char*>("use server.username instead"), T_CONFIG_DEPRECATED,
             T_CONFIG_SCOPE_UNSET},
            {"server.groupid", const_cast<char*>("use server.groupname instead"), T_CONFIG_DEPRECATED,
             T_CONFIG_SCOPE_UNSET},
            {"server.use-keep-alive", const_cast<char*>("use server.max-keep-alive-requests = 0 instead"),
             T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
            {"server.force-lower-case-files", const_cast<char*>("use server.force-lowercase-filenames instead"),
             T_CONFIG_DEPRECATED, T_CONFIG_SCOPE_UNSET},
        };
        static_assert(kServerRows + sizeof block_rows / sizeof block_rows[0] == 77);
        for (const config_values_t& row : block_rows) {
            table[n++] = row;
        }
        table[n] = {nullptr, nullptr, T_CONFIG_UNSET, T_CONFIG_SCOPE_UNSET};
        result = config_insert_values_global(srv, block->value, table);
    }
    if (result == 0) {
        if (buffer_is_empty(stat_cache_string) || buffer_is_equal_string(stat_cache_string, "simple", 6)) {
            conf.stat_cache_engine = STAT_CACHE_ENGINE_SIMPLE;
        } else if (buffer_is_equal_string(stat_cache_string, "disable", 7)) {
            conf.stat_cache_engine = STAT_CACHE_ENGINE_NONE;
        } else {
            log_error_write(srv, "configfile", __LINE__, "sb",
                            "server.stat-cache-engine can be one of \"disable\", \"simple\", but not:",
                            stat_cache_string);
            result = 5;
        }
    }
    buffer_free(stat_cache_string);
    return result;
}

int config_read(server* srv, const char* path) {
    config_t context;
    context_init(srv, &context);
    context.all_configs = srv->config_context;
    if (context.all_configs->used != 0) {
        log_failed_assert("configfile", __LINE__, "assertion failed: context.all_configs->used == 0");
    }
    const char* name = path;
    if (const char* slash = std::strrchr(path, '/'); slash != nullptr) {
        buffer_copy_string_len(context.basedir, path, static_cast<size_t>(slash - path + 1));
        name = slash + 1;
    }
    data_config* global = data_config_init();
    buffer_copy_string(global->key, "global");
    configparser_push(&context, global, 1);
    array_free(srv->config);
    srv->config = global->value;

    data_integer* pid = data_integer_init();
    buffer_copy_string(pid->key, "var.PID");
    pid->value = static_cast<int>(getpid());
    array_insert_unique(global->value, pid);
    char cwd[1088];
    if (getcwd(cwd, sizeof cwd - 1) != nullptr) {
        data_string* dir = data_string_init();
        buffer_copy_string(dir->key, "var.CWD");
        buffer_copy_string(dir->value, cwd);
        array_insert_unique(global->value, dir);
    }

    const int parsed = config_parse_file(srv, &context, name);
    // A good parse closes every block it opens.
    HTTP_ASSERT(parsed != 0 || context.configs_stack->used == 0);
    context_free(&context);
    if (parsed != 0) {
        return parsed;
    }
    auto* found = static_cast<data_config*>(array_get_element(srv->config_context, "global"));
    if (found == nullptr) {
        return -1;
    }
    srv->config = found->value;

    data_unset* modules = array_get_element(srv->config, "server.modules");
    if (modules != nullptr && modules->type != TYPE_ARRAY) {
        std::fputs("server.modules must be an array", stderr);
        return -1;
    }
    data_array* list = data_array_init();
    buffer_copy_string(list->key, "server.modules");
    auto add = [list](const char* module) {
        data_string* ds = data_string_init();
        buffer_copy_string(ds->value, module);
        array_insert_unique(list->value, ds);
    };
    add("mod_indexfile");
    if (modules != nullptr) {
        // Listed in their order; a default module named here is listed twice.
        const array* configured = static_cast<data_array*>(modules)->value;
        for (size_t i = 0; i < configured->used; ++i) {
            data_unset* copy = configured->data[i]->copy(configured->data[i]);
            buffer_reset(copy->key);
            copy->is_index_key = 0;
            array_insert_unique(list->value, copy);
        }
    }
    add("mod_dirlisting");
    add("mod_staticfile");
    data_unset* old = array_replace(srv->config, list);
    if (old != nullptr) {
        old->free(old);
    }
    return config_insert(srv) != 0 ? -1 : 0;
}

int config_set_defaults(server* srv) {
    specific_config* s = srv->config_storage[0];
    struct stat st1;
    struct stat st2;
    if (!buffer_is_empty(srv->srvconf.changeroot)) {
        if (::stat(srv->srvconf.changeroot->ptr, &st1) != 0) {
            log_error_write(srv, "configfile", __LINE__, "sb", "server.chroot doesn't exist:", srv->srvconf.changeroot);
            return -1;
        }
        if (!S_ISDIR(st1.st_mode)) {
            log_error_write(srv, "configfile", __LINE__, "sb", "server.chroot isn't a directory:",
                            srv->srvconf.changeroot);
            return -1;
        }
    }
    if (buffer_is_empty(s->document_root)) {
        log_error_write(srv, "configfile", __LINE__, "s", "a default document-root has to be set");
        return -1;
    }
    if (s->force_lowercase_filenames == 2) {
        s->force_lowercase_filenames = 0;
        std::string lower = text_of(s->document_root);
        std::string upper = lower;
        for (char& c : lower) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
        }
        for (char& c : upper) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c & ~0x20 : c);
        }
        if (::stat(lower.c_str(), &st1) == 0 && !(lower == text_of(s->document_root) && upper == lower) &&
            ::stat(upper.c_str(), &st2) == 0 && st1.st_ino == st2.st_ino) {
            s->force_lowercase_filenames = 1;
        }
    }
    if (srv->srvconf.port == 0) {
        srv->srvconf.port = s->ssl_enabled ? 443 : 80;
    }
    const buffer* handler = srv->srvconf.event_handler;
    if (buffer_is_empty(handler) || buffer_is_equal_string(handler, "linux-sysepoll", 14)) {
        srv->event_handler = FDEVENT_HANDLER_LINUX_SYSEPOLL;
    } else if (buffer_is_equal_string(handler, "poll", 4)) {
        srv->event_handler = FDEVENT_HANDLER_POLL;
    } else if (buffer_is_equal_string(handler, "select", 6)) {
        srv->event_handler = FDEVENT_HANDLER_SELECT;
    } else {
        log_error_write(srv, "configfile", __LINE__, "sb",
                        "the selected event-handler in unknown or not supported:", handler);
        return -1;
    }
    if (s->ssl_enabled) {
        log_error_write(srv, "configfile", __LINE__, "s",
                        buffer_is_empty(s->ssl_pemfile) ? "ssl.pemfile has to be set"
                                                        : "ssl support is missing, recompile with --with-openssl");
        return -1;
    }
    return 0;
}

}  // namespace hx

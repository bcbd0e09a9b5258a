// mod_indexfile: a request for a directory ("/", "/pages/") is served by the
// first index file that exists in it, "index.html" unless "index-file.names"
// lists others. The module only rewrites the request's path; the static-file
// module after it in the hook order sends the file.
#include <cerrno>
#include <cstdlib>

#include "http/modules/module_support.h"
#include "http/plugin.h"
#include "http/stat_cache.h"

namespace hx::modules {

namespace {

constexpr char kNamesKey[] = "index-file.names";

struct indexfile_config {
    array* names;
};

struct indexfile_data {
    plugin_data_head head;
    indexfile_config** config_storage;  // one per configuration block
    size_t config_count;
    indexfile_config conf;  // this request's, patched
    buffer* candidate;
};

void* indexfile_init() {
    auto* p = static_cast<indexfile_data*>(std::calloc(1, sizeof(indexfile_data)));
    if (p != nullptr) {
        p->candidate = buffer_init();
    }
    return p;
}

handler_t indexfile_cleanup(server*, void* p_d) {
    auto* p = static_cast<indexfile_data*>(p_d);
    if (p == nullptr) {
        return HANDLER_GO_ON;
    }
    for (size_t i = 0; i < p->config_count; ++i) {
        if (p->config_storage[i] != nullptr) {
            array_free(p->config_storage[i]->names);
            std::free(p->config_storage[i]);
        }
    }
    std::free(p->config_storage);
    buffer_free(p->candidate);
    std::free(p);
    return HANDLER_GO_ON;
}

handler_t indexfile_set_defaults(server* srv, void* p_d) {
    auto* p = static_cast<indexfile_data*>(p_d);
    p->config_count = config_block_count(srv);
    p->config_storage = static_cast<indexfile_config**>(std::calloc(p->config_count, sizeof(indexfile_config*)));
    if (p->config_storage == nullptr) {
        return HANDLER_ERROR;
    }
    for (size_t i = 0; i < p->config_count; ++i) {
        auto* s = static_cast<indexfile_config*>(std::calloc(1, sizeof(indexfile_config)));
        if (s == nullptr) {
            return HANDLER_ERROR;
        }
        s->names = array_init();
        p->config_storage[i] = s;
        const config_values_t table[] = {
            {kNamesKey, s->names, T_CONFIG_ARRAY, T_CONFIG_SCOPE_CONNECTION},
            {nullptr, nullptr, T_CONFIG_UNSET, T_CONFIG_SCOPE_UNSET},
        };
        if (config_insert_values_global(srv, config_block(srv, i)->value, table) != 0) {
            return HANDLER_ERROR;
        }
    }
    if (p->config_count > 0 && p->config_storage[0]->names->used == 0) {
        array_set_key_value(p->config_storage[0]->names, "", 0, "index.html", sizeof("index.html") - 1);
    }
    return HANDLER_GO_ON;
}

void patch_connection(server* srv, connection* con, indexfile_data* p) {
    p->conf = *p->config_storage[0];
    for (size_t i = 1; i < p->config_count; ++i) {
        data_config* block = config_block(srv, i);
        if (config_check_cond(srv, con, block) && block_sets(block, kNamesKey, sizeof(kNamesKey) - 1)) {
            p->conf.names = p->config_storage[i]->names;
        }
    }
}

handler_t indexfile_subrequest_start(server* srv, connection* con, void* p_d) {
    auto* p = static_cast<indexfile_data*>(p_d);
    if (con->mode != DIRECT || buffer_is_empty(con->physical.path) || !names_directory(con->uri.path) ||
        p->config_count == 0) {
        return HANDLER_GO_ON;
    }
    patch_connection(srv, con, p);
    for (size_t i = 0; i < p->conf.names->used; ++i) {
        const data_unset* element = p->conf.names->data[i];
        if (element->type != TYPE_STRING) {
            continue;
        }
        const buffer* name = static_cast<const data_string*>(element)->value;
        if (buffer_is_empty(name)) {
            continue;
        }
        // A name starting with '/' is taken from the document root, any other
        // from the directory asked for.
        const bool from_root = name->ptr[0] == '/';
        buffer_copy_string_buffer(p->candidate, from_root ? con->physical.doc_root : con->physical.path);
        if (from_root && names_directory(p->candidate)) {
            --p->candidate->used;
            p->candidate->ptr[p->candidate->used - 1] = '\0';
        }
        buffer_append_string_buffer(p->candidate, name);

        stat_cache_entry* entry = nullptr;
        if (stat_cache_get_entry(srv, con, p->candidate, &entry) != HANDLER_GO_ON) {
            if (errno == EACCES) {
                con->http_status = 403;
                buffer_reset(con->physical.path);
                return HANDLER_FINISHED;
            }
            continue;
        }
        if (from_root) {
            buffer_copy_string_buffer(con->uri.path, name);
        } else {
            buffer_append_string_buffer(con->uri.path, name);
        }
        buffer_copy_string_buffer(con->physical.path, p->candidate);
        return HANDLER_GO_ON;
    }
    return HANDLER_GO_ON;
}

}  // namespace

}  // namespace hx::modules

extern "C" __attribute__((visibility("default"))) int mod_indexfile_plugin_init(hx::plugin* p) {
    p->version = hx::kPluginVersion;
    hx::buffer_copy_string(p->name, "mod_indexfile");
    p->init = hx::modules::indexfile_init;
    p->set_defaults = hx::modules::indexfile_set_defaults;
    p->cleanup = hx::modules::indexfile_cleanup;
    p->handle_subrequest_start = hx::modules::indexfile_subrequest_start;
    p->data = nullptr;
    return 0;
}

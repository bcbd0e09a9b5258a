// mod_dirlisting: where "dir-listing.activate" is enabled, a GET or HEAD of a
// directory without an index file is answered with an HTML list of its
// entries. Off by default: the core then refuses the directory with 403.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "http/chunk.h"
#include "http/errorlog.h"
#include "http/http_chunk.h"
#include "http/modules/module_support.h"
#include "http/plugin.h"
#include "http/response.h"
#include "http/stat_cache.h"

namespace hx::modules {

namespace {

constexpr char kTag[] = "mod_dirlisting";
constexpr char kActivateKey[] = "dir-listing.activate";

struct dirlisting_config {
    std::uint16_t activate;
};

struct dirlisting_data {
    plugin_data_head head;
    dirlisting_config** config_storage;
    size_t config_count;
    dirlisting_config conf;
    buffer* page;
    buffer* path;  // the directory, then each entry in it
};

// One directory entry as listed.
struct listed_entry {
    char* name;
    struct stat st;
};

void* dirlisting_init() {
    auto* p = static_cast<dirlisting_data*>(std::calloc(1, sizeof(dirlisting_data)));
    if (p != nullptr) {
        p->page = buffer_init();
        p->path = buffer_init();
    }
    return p;
}

handler_t dirlisting_cleanup(server*, void* p_d) {
    auto* p = static_cast<dirlisting_data*>(p_d);
    if (p == nullptr) {
        return HANDLER_GO_ON;
    }
    for (size_t i = 0; i < p->config_count; ++i) {
        std::free(p->config_storage[i]);
    }
    std::free(p->config_storage);
    buffer_free(p->page);
    buffer_free(p->path);
    std::free(p);
    return HANDLER_GO_ON;
}

handler_t dirlisting_set_defaults(server* srv, void* p_d) {
    auto* p = static_cast<dirlisting_data*>(p_d);
    p->config_count = config_block_count(srv);
    p->config_storage = static_cast<dirlisting_config**>(std::calloc(p->config_count, sizeof(dirlisting_config*)));
    if (p->config_storage == nullptr) {
        return HANDLER_ERROR;
    }
    for (size_t i = 0; i < p->config_count; ++i) {
        auto* s = static_cast<dirlisting_config*>(std::calloc(1, sizeof(dirlisting_config)));
        if (s == nullptr) {
            return HANDLER_ERROR;
        }
        p->config_storage[i] = s;
        const config_values_t table[] = {
            {kActivateKey, &s->activate, T_CONFIG_BOOLEAN, T_CONFIG_SCOPE_CONNECTION},
            {nullptr, nullptr, T_CONFIG_UNSET, T_CONFIG_SCOPE_UNSET},
        };
        if (config_insert_values_global(srv, config_block(srv, i)->value, table) != 0) {
            return HANDLER_ERROR;
        }
    }
    return HANDLER_GO_ON;
}

void patch_connection(server* srv, connection* con, dirlisting_data* p) {
    p->conf = *p->config_storage[0];
    for (size_t i = 1; i < p->config_count; ++i) {
        data_config* block = config_block(srv, i);
        if (config_check_cond(srv, con, block) && block_sets(block, kActivateKey, sizeof(kActivateKey) - 1)) {
            p->conf.activate = p->config_storage[i]->activate;
        }
    }
}

int by_name(const void* a, const void* b) {
    return std::strcmp(static_cast<const listed_entry*>(a)->name, static_cast<const listed_entry*>(b)->name);
}

void free_entries(listed_entry* entries, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        std::free(entries[i].name);
    }
    std::free(entries);
}

// Reads the directory's entries (without "." and ".."), sorted by name.
// False when the directory cannot be read.
bool read_entries(dirlisting_data* p, const buffer* directory, listed_entry** out, size_t* out_count) {
    DIR* dir = opendir(directory->ptr);
    if (dir == nullptr) {
        return false;
    }
    listed_entry* entries = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    while (const dirent* d = readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) {
            continue;
        }
        buffer_copy_string_buffer(p->path, directory);
        buffer_append_string(p->path, d->d_name);
        struct stat st {};
        if (stat(p->path->ptr, &st) != 0) {
            continue;  // vanished, or a dangling link: nothing to offer
        }
        if (count == capacity) {
            capacity = capacity == 0 ? 32 : capacity * 2;
            auto* grown = static_cast<listed_entry*>(std::realloc(entries, capacity * sizeof(listed_entry)));
            if (grown == nullptr) {
                break;
            }
            entries = grown;
        }
        char* name = strdup(d->d_name);
        if (name == nullptr) {
            break;
        }
        entries[count].name = name;
        entries[count].st = st;
        ++count;
    }
    closedir(dir);
    if (count > 1) {
        std::qsort(entries, count, sizeof(listed_entry), by_name);
    }
    *out = entries;
    *out_count = count;
    return true;
}

void append_row(buffer* page, const listed_entry& entry) {
    const bool is_directory = S_ISDIR(entry.st.st_mode);
    const size_t length = std::strlen(entry.name);
    buffer_append_string(page, "<tr><td><a href=\"");
    buffer_append_string_encoded(page, entry.name, length, ENCODING_REL_URI_PART);
    buffer_append_string(page, is_directory ? "/\">" : "\">");
    buffer_append_string_encoded(page, entry.name, length, ENCODING_MINIMAL_XML);
    buffer_append_string(page, is_directory ? "/</a></td><td>" : "</a></td><td>");
    char when[32];
    struct tm utc {};
    const std::time_t mtime = entry.st.st_mtime;
    if (gmtime_r(&mtime, &utc) != nullptr && std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &utc) != 0) {
        buffer_append_string(page, when);
    }
    buffer_append_string(page, "</td><td>");
    if (is_directory) {
        buffer_append_string(page, "-");
    } else {
        char size[32];
        std::snprintf(size, sizeof size, "%lld", static_cast<long long>(entry.st.st_size));
        buffer_append_string(page, size);
    }
    buffer_append_string(page, "</td></tr>\n");
}

void build_page(buffer* page, const buffer* uri_path, const listed_entry* entries, size_t count) {
    const size_t path_length = uri_path->used - 1;
    buffer_copy_string(page,
                       "<!DOCTYPE html>\n<html>\n<head>\n<title>Index of ");
    buffer_append_string_encoded(page, uri_path->ptr, path_length, ENCODING_MINIMAL_XML);
    buffer_append_string(page, "</title>\n</head>\n<body>\n<h1>Index of ");
    buffer_append_string_encoded(page, uri_path->ptr, path_length, ENCODING_MINIMAL_XML);
    buffer_append_string(page,
                         "</h1>\n<table>\n<tr><th>Name</th><th>Last Modified</th><th>Size</th></tr>\n");
    if (path_length > 1) {
        buffer_append_string(page, "<tr><td><a href=\"../\">../</a></td><td></td><td>-</td></tr>\n");
    }
    for (size_t i = 0; i < count; ++i) {
        append_row(page, entries[i]);
    }
    buffer_append_string(page, "</table>\n</body>\n</html>\n");
}

handler_t dirlisting_subrequest_start(server* srv, connection* con, void* p_d) {
    auto* p = static_cast<dirlisting_data*>(p_d);
    if (con->mode != DIRECT || buffer_is_empty(con->physical.path) || !names_directory(con->uri.path) ||
        p->config_count == 0) {
        return HANDLER_GO_ON;
    }
    if (con->request.http_method != HTTP_METHOD_GET && con->request.http_method != HTTP_METHOD_HEAD) {
        return HANDLER_GO_ON;
    }
    patch_connection(srv, con, p);
    if (!p->conf.activate) {
        return HANDLER_GO_ON;
    }
    stat_cache_entry* entry = nullptr;
    if (stat_cache_get_entry(srv, con, con->physical.path, &entry) != HANDLER_GO_ON || !S_ISDIR(entry->st.st_mode)) {
        return HANDLER_GO_ON;
    }
    listed_entry* entries = nullptr;
    size_t count = 0;
    // Kept apart from p->path, in which read_entries builds each entry's path.
    buffer* directory = buffer_init_buffer(con->physical.path);
    if (!names_directory(directory)) {
        buffer_append_string(directory, "/");
    }
    const bool readable = read_entries(p, directory, &entries, &count);
    if (!readable) {
        log_error_write(srv, kTag, __LINE__, "sbs", "opendir failed:", directory, std::strerror(errno));
        buffer_free(directory);
        con->http_status = 403;
        return HANDLER_FINISHED;
    }
    buffer_free(directory);
    build_page(p->page, con->uri.path, entries, count);
    free_entries(entries, count);

    chunkqueue_reset(con->write_queue);
    http_chunk_append_buffer(srv, con, p->page);
    // Names are listed as the file system holds them, in no declared charset.
    response_header_overwrite(srv, con, "Content-Type", sizeof("Content-Type") - 1, "text/html",
                              sizeof("text/html") - 1);
    con->http_status = 200;
    con->file_finished = 1;
    return HANDLER_FINISHED;
}

}  // namespace

}  // namespace hx::modules

extern "C" __attribute__((visibility("default"))) int mod_dirlisting_plugin_init(hx::plugin* p) {
    p->version = hx::kPluginVersion;
    hx::buffer_copy_string(p->name, "mod_dirlisting");
    p->init = hx::modules::dirlisting_init;
    p->set_defaults = hx::modules::dirlisting_set_defaults;
    p->cleanup = hx::modules::dirlisting_cleanup;
    p->handle_subrequest_start = hx::modules::dirlisting_subrequest_start;
    p->data = nullptr;
    return 0;
}

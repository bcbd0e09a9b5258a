// mod_staticfile: GET and HEAD of a regular file under the document root,
// with Content-Type from "mimetype.assign", Last-Modified, an ETag, and the
// conditional answers 304/412. There are no byte ranges: a Range header gets
// the whole file. Other methods are left to the core.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

#include "http/errorlog.h"
#include "http/etag.h"
#include "http/http_chunk.h"
#include "http/modules/module_support.h"
#include "http/plugin.h"
#include "http/response.h"
#include "http/stat_cache.h"

namespace hx::modules {

namespace {

constexpr char kTag[] = "mod_staticfile";

struct staticfile_data {
    plugin_data_head head;
};

void* staticfile_init() {
    return std::calloc(1, sizeof(staticfile_data));
}

handler_t staticfile_cleanup(server*, void* p_d) {
    std::free(p_d);
    return HANDLER_GO_ON;
}

void set_header(server* srv, connection* con, const char* key, size_t key_length, const buffer* value) {
    response_header_overwrite(srv, con, key, key_length, value->ptr, value->used - 1);
}

handler_t staticfile_subrequest_start(server* srv, connection* con, void*) {
    if (con->mode != DIRECT || buffer_is_empty(con->physical.path) || names_directory(con->physical.path)) {
        return HANDLER_GO_ON;
    }
    if (con->request.http_method != HTTP_METHOD_GET && con->request.http_method != HTTP_METHOD_HEAD) {
        return HANDLER_GO_ON;
    }
    stat_cache_entry* entry = nullptr;
    if (stat_cache_get_entry(srv, con, con->physical.path, &entry) != HANDLER_GO_ON || !S_ISREG(entry->st.st_mode)) {
        return HANDLER_GO_ON;
    }
    // File lengths in the server are 32-bit; a larger file would be sent cut
    // short under a wrong Content-Length.
    if (entry->st.st_size > INT32_MAX) {
        log_error_write(srv, kTag, __LINE__, "sb", "file too large to send:", con->physical.path);
        con->http_status = 403;
        return HANDLER_FINISHED;
    }

    if (buffer_is_empty(entry->content_type)) {
        response_header_overwrite(srv, con, "Content-Type", sizeof("Content-Type") - 1, "application/octet-stream",
                                  sizeof("application/octet-stream") - 1);
    } else {
        set_header(srv, con, "Content-Type", sizeof("Content-Type") - 1, entry->content_type);
    }
    if (con->etag_flags != 0 && !buffer_is_empty(entry->etag)) {
        etag_mutate(con->physical.etag, entry->etag);
        set_header(srv, con, "ETag", sizeof("ETag") - 1, con->physical.etag);
    } else {
        buffer_reset(con->physical.etag);
    }
    buffer* mtime = strftime_cache_get(srv, entry->st.st_mtime);
    set_header(srv, con, "Last-Modified", sizeof("Last-Modified") - 1, mtime);
    if (http_response_handle_cachable(srv, con, mtime) == HANDLER_FINISHED) {
        return HANDLER_FINISHED;
    }

    http_chunk_append_file(srv, con, con->physical.path, 0, static_cast<http_off_t>(entry->st.st_size));
    con->http_status = 200;
    con->file_finished = 1;
    return HANDLER_FINISHED;
}

}  // namespace

}  // namespace hx::modules

extern "C" __attribute__((visibility("default"))) int mod_staticfile_plugin_init(hx::plugin* p) {
    p->version = hx::kPluginVersion;
    hx::buffer_copy_string(p->name, "mod_staticfile");
    p->init = hx::modules::staticfile_init;
    p->cleanup = hx::modules::staticfile_cleanup;
    p->handle_subrequest_start = hx::modules::staticfile_subrequest_start;
    p->data = nullptr;
    return 0;
}

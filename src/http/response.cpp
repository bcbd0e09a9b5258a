// Deciding how a request is answered, and the status line and headers put in
// front of its body.
#include "http/response.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/clock.h"
#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connection_internal.h"
#include "http/errorlog.h"
#include "http/keyvalue.h"
#include "http/plugin.h"
#include "http/response_time.h"
#include "http/stat_cache.h"

namespace hx {

namespace {

constexpr const char* kTag = "response";
constexpr const char* kDefaultServerTag = "webserver/1.4.35";

size_t text_length(const buffer* b) {
    return b == nullptr || b->used == 0 ? 0 : b->used - 1;
}

bool starts_with_caseless(const buffer* b, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text_length(b) >= length && strncasecmp(b->ptr, prefix, length) == 0;
}

bool equals_caseless(const buffer* b, const char* text) {
    return buffer_is_equal_caseless_string(b, text, std::strlen(text)) != 0;
}

void log_request(server* srv, connection* con, unsigned line, const char* message) {
    if (con->conf.log_request_handling) {
        log_error_write(srv, kTag, line, "s", message);
    }
}

void log_value(server* srv, connection* con, unsigned line, const char* label, const buffer* value) {
    if (con->conf.log_request_handling) {
        log_error_write(srv, kTag, line, "sb", label, value);
    }
}

void log_paths(server* srv, connection* con, unsigned line, const char* heading, bool with_basedir) {
    if (!con->conf.log_request_handling) {
        return;
    }
    log_error_write(srv, kTag, line, "s", heading);
    log_error_write(srv, kTag, line, "sb", "Doc-Root     :", con->physical.doc_root);
    if (with_basedir) {
        log_error_write(srv, kTag, line, "sb", "Basedir      :", con->physical.basedir);
    }
    log_error_write(srv, kTag, line, "sb", "Rel-Path     :", con->physical.rel_path);
    log_error_write(srv, kTag, line, "sb", "Path         :", con->physical.path);
}

// The result of a hook before the file is looked at: GO_ON goes on, the four
// results that end or suspend the request are handed back, anything else is
// logged and ignored (returned as GO_ON).
handler_t check_hook(server* srv, handler_t r, const char* unknown_message) {
    switch (r) {
    case HANDLER_GO_ON:
    case HANDLER_FINISHED:
    case HANDLER_COMEBACK:
    case HANDLER_WAIT_FOR_EVENT:
    case HANDLER_ERROR:
        return r;
    default:
        if (unknown_message != nullptr) {
            log_error_write(srv, kTag, __LINE__, "sd", unknown_message, static_cast<int>(r));
        } else {
            log_error_write(srv, kTag, __LINE__, "");
        }
        return HANDLER_GO_ON;
    }
}

void finish_with(connection* con, int status) {
    con->http_status = status;
    buffer_reset(con->physical.path);
}

// Settings, URI split, plugins up to the physical path: the first pass of a
// request. HANDLER_GO_ON when the request goes on to its file.
handler_t map_request(server* srv, connection* con) {
    config_cond_cache_reset(srv, con);
    config_setup_connection(srv, con);
    config_patch_connection(srv, con, COMP_SERVER_SOCKET);

    const bool ssl = con->srv_socket != nullptr && con->srv_socket->is_ssl;
    buffer_copy_string(con->uri.scheme, ssl ? "https" : "http");
    buffer_copy_string_buffer(con->uri.authority, con->request.http_host);
    buffer_to_lower(con->uri.authority);
    for (comp_key_t comp : {COMP_HTTP_SCHEME, COMP_HTTP_HOST, COMP_HTTP_REMOTE_IP, COMP_HTTP_REFERER,
                            COMP_HTTP_USER_AGENT, COMP_HTTP_LANGUAGE, COMP_HTTP_COOKIE, COMP_HTTP_REQUEST_METHOD}) {
        config_patch_connection(srv, con, comp);
    }
    if (con->conf.log_condition_handling) {
        log_error_write(srv, kTag, __LINE__, "s", "run condition");
    }

    buffer* uri = con->request.uri;
    if (uri->used > 1) {
        if (char* fragment = std::strchr(uri->ptr, '#'); fragment != nullptr) {
            *fragment = '\0';
            uri->used = static_cast<size_t>(fragment - uri->ptr) + 1;
        }
    }
    const char* question = uri->used > 1 ? std::strchr(uri->ptr, '?') : nullptr;
    if (question != nullptr) {
        buffer_copy_string(con->uri.query, question + 1);
        buffer_copy_string_len(con->uri.path_raw, uri->ptr, static_cast<size_t>(question - uri->ptr));
    } else {
        buffer_reset(con->uri.query);
        buffer_copy_string_buffer(con->uri.path_raw, uri);
    }

    if (con->request.http_method == HTTP_METHOD_OPTIONS && buffer_is_equal_string(con->uri.path_raw, "*", 1)) {
        buffer_copy_string_buffer(con->uri.path, con->uri.path_raw);
    } else {
        buffer_copy_string_buffer(srv->tmp_buf, con->uri.path_raw);
        buffer_urldecode_path(srv->tmp_buf);
        buffer_path_simplify(con->uri.path, srv->tmp_buf);
    }

    config_patch_connection(srv, con, COMP_HTTP_URL);
    config_patch_connection(srv, con, COMP_HTTP_QUERY_STRING);
    if (!con->conf.allow_http11) {
        con->request.http_version = HTTP_VERSION_1_0;
    }
    if (con->conf.log_request_handling) {
        log_error_write(srv, kTag, __LINE__, "s", "-- splitting Request-URI");
        log_error_write(srv, kTag, __LINE__, "sb", "Request-URI     : ", con->request.uri);
        log_error_write(srv, kTag, __LINE__, "sb", "URI-scheme      : ", con->uri.scheme);
        log_error_write(srv, kTag, __LINE__, "sb", "URI-authority   : ", con->uri.authority);
        log_error_write(srv, kTag, __LINE__, "sb", "URI-path (raw)  : ", con->uri.path_raw);
        log_error_write(srv, kTag, __LINE__, "sb", "URI-path (clean): ", con->uri.path);
        log_error_write(srv, kTag, __LINE__, "sb", "URI-query       : ", con->uri.query);
    }

    handler_t r = check_hook(srv, plugins_call_handle_uri_raw(srv, con), "handle_uri_raw: unknown return value");
    if (r != HANDLER_GO_ON) {
        return r;
    }
    r = check_hook(srv, plugins_call_handle_uri_clean(srv, con), nullptr);
    if (r != HANDLER_GO_ON) {
        return r;
    }

    if (con->request.http_method == HTTP_METHOD_OPTIONS && buffer_is_equal_string(con->uri.path, "*", 1)) {
        static constexpr char kAllow[] = "OPTIONS, GET, HEAD, POST";
        response_header_insert(srv, con, "Allow", 5, kAllow, sizeof kAllow - 1);
        con->http_status = 200;
        con->file_finished = 1;
        return HANDLER_FINISHED;
    }

    buffer_copy_string_buffer(con->physical.doc_root, con->conf.document_root);
    buffer_copy_string_buffer(con->physical.rel_path, con->uri.path);
    log_paths(srv, con, __LINE__, "-- before doc_root", false);
    r = check_hook(srv, plugins_call_handle_docroot(srv, con), nullptr);
    if (r != HANDLER_GO_ON) {
        return r;
    }
    if (con->conf.force_lowercase_filenames) {
        buffer_to_lower(con->physical.rel_path);
    }
    if (buffer_is_empty(con->server_name)) {
        buffer_copy_string_buffer(con->server_name, con->uri.authority);
    }

    buffer_copy_string_buffer(con->physical.basedir, con->physical.doc_root);
    buffer_copy_string_buffer(con->physical.path, con->physical.doc_root);
    const size_t root_length = text_length(con->physical.path);
    if (root_length == 0 || con->physical.path->ptr[root_length - 1] != '/') {
        buffer_append_string_len(con->physical.path, "/", 1);
    }
    const buffer* rel = con->physical.rel_path;
    if (text_length(rel) != 0) {
        const size_t skip = rel->ptr[0] == '/' ? 1 : 0;
        buffer_append_string_len(con->physical.path, rel->ptr + skip, text_length(rel) - skip);
    }
    log_paths(srv, con, __LINE__, "-- after doc_root", false);
    r = check_hook(srv, plugins_call_handle_physical(srv, con), nullptr);
    if (r != HANDLER_GO_ON) {
        return r;
    }
    log_paths(srv, con, __LINE__, "-- logical -> physical", true);
    return HANDLER_GO_ON;
}

// A path whose prefix is a file ("/file.html/extra"): the longest existing
// prefix within the base folder answers, the rest is path info.
handler_t find_path_info(server* srv, connection* con) {
    buffer* candidate = buffer_init_buffer(con->physical.path);
    size_t base_length = text_length(con->physical.basedir);
    while (base_length > 0 && con->physical.basedir->ptr[base_length - 1] == '/') {
        --base_length;
    }
    stat_cache_entry* sce = nullptr;
    size_t length = text_length(candidate);
    for (;;) {
        const char* slash = static_cast<const char*>(memrchr(candidate->ptr, '/', length));
        if (slash == nullptr || static_cast<size_t>(slash - candidate->ptr) < base_length) {
            sce = nullptr;
            break;
        }
        length = static_cast<size_t>(slash - candidate->ptr);
        candidate->ptr[length] = '\0';
        candidate->used = length + 1;
        if (stat_cache_get_entry(srv, con, candidate, &sce) == HANDLER_GO_ON) {
            break;
        }
    }
    if (sce == nullptr || !S_ISREG(sce->st.st_mode)) {
        if (con->conf.log_file_not_found) {
            log_error_write(srv, kTag, __LINE__, "sbsb", "file not found:", con->uri.path, "->", con->physical.path);
        }
        buffer_free(candidate);
        finish_with(con, 404);
        return HANDLER_FINISHED;
    }
    if (sce->is_symlink && !con->conf.follow_symlink) {
        log_request(srv, con, __LINE__, "-- access denied due symlink restriction");
        log_value(srv, con, __LINE__, "Path         :", con->physical.path);
        buffer_free(candidate);
        finish_with(con, 403);
        return HANDLER_FINISHED;
    }
    const buffer* full = con->physical.path;
    const size_t tail_length = text_length(full) - length;
    buffer_copy_string_len(con->request.pathinfo, full->ptr + length, tail_length);
    // The URI names the same tail, unless a plugin mapped the path elsewhere.
    buffer* uri_path = con->uri.path;
    const size_t uri_length = text_length(uri_path);
    if (uri_length >= tail_length &&
        strncasecmp(uri_path->ptr + uri_length - tail_length, full->ptr + length, tail_length) == 0) {
        uri_path->ptr[uri_length - tail_length] = '\0';
        uri_path->used = uri_length - tail_length + 1;
    }
    buffer_copy_string_buffer(con->physical.path, candidate);
    buffer_free(candidate);
    if (con->conf.log_request_handling) {
        log_error_write(srv, kTag, __LINE__, "s", "-- after pathinfo check");
        log_error_write(srv, kTag, __LINE__, "sb", "Path         :", con->physical.path);
        log_error_write(srv, kTag, __LINE__, "sb", "URI          :", con->uri.path);
        log_error_write(srv, kTag, __LINE__, "sb", "Pathinfo     :", con->request.pathinfo);
    }
    return HANDLER_GO_ON;
}

// The physical path through the stat cache: statuses of missing, refused and
// linked files, the folder redirect, then the plugins that serve files.
handler_t handle_physical_path(server* srv, connection* con) {
    log_request(srv, con, __LINE__, "-- handling physical path");
    log_value(srv, con, __LINE__, "Path         :", con->physical.path);

    stat_cache_entry* sce = nullptr;
    if (stat_cache_get_entry(srv, con, con->physical.path, &sce) != HANDLER_ERROR) {
        log_request(srv, con, __LINE__, "-- file found");
        log_value(srv, con, __LINE__, "Path         :", con->physical.path);
        if (sce->is_symlink && !con->conf.follow_symlink) {
            log_request(srv, con, __LINE__, "-- access denied due symlink restriction");
            log_value(srv, con, __LINE__, "Path         :", con->physical.path);
            finish_with(con, 403);
            return HANDLER_FINISHED;
        }
        const buffer* path = con->uri.path;
        if (S_ISDIR(sce->st.st_mode) && (text_length(path) == 0 || path->ptr[text_length(path) - 1] != '/')) {
            http_response_redirect_to_directory(srv, con);
            return HANDLER_FINISHED;
        }
    } else {
        const int error = errno;
        switch (error) {
        case EACCES:
            log_request(srv, con, __LINE__, "-- access denied");
            log_value(srv, con, __LINE__, "Path         :", con->physical.path);
            finish_with(con, 403);
            return HANDLER_FINISHED;
        case ENOENT:
        case ENAMETOOLONG:
            log_request(srv, con, __LINE__, "-- file not found");
            log_value(srv, con, __LINE__, "Path         :", con->physical.path);
            finish_with(con, 404);
            return HANDLER_FINISHED;
        case ENOTDIR:
            if (handler_t r = find_path_info(srv, con); r != HANDLER_GO_ON) {
                return r;
            }
            break;
        default: {
            char scratch[128];
            log_error_write(srv, kTag, __LINE__, "ssbsb", "file not found ... or so: ",
                            http_error_text(error, scratch, sizeof scratch), con->uri.path, "->",
                            con->physical.path);
            finish_with(con, 500);
            return HANDLER_FINISHED;
        }
        }
    }

    log_request(srv, con, __LINE__, "-- handling subrequest");
    log_value(srv, con, __LINE__, "Path         :", con->physical.path);
    const handler_t r = plugins_call_handle_subrequest_start(srv, con);
    if (r != HANDLER_GO_ON) {
        log_request(srv, con, __LINE__, "-- subrequest finished");
        return r;
    }
    if (con->mode == DIRECT) {
        // No plugin took the file.
        if (con->http_status == 0) {
            con->http_status = con->request.http_method == HTTP_METHOD_OPTIONS ? 200 : 403;
        }
        return HANDLER_FINISHED;
    }
    return HANDLER_GO_ON;
}

void append_header_line(buffer* b, const buffer* key, const buffer* value) {
    buffer_append_string_len(b, "\r\n", 2);
    buffer_append_string_buffer(b, key);
    buffer_append_string_len(b, ": ", 2);
    buffer_append_string_buffer(b, value);
}

// Headers that carry instructions between plugins and the core, never meant
// for the client.
bool is_internal_header(const buffer* key) {
    return starts_with_caseless(key, "X-WEBSERVER-") || starts_with_caseless(key, "X-Sendfile");
}

}  // namespace

extern "C" {

handler_t http_response_prepare(server* srv, connection* con) {
    if (con->mode == DIRECT && con->http_status != 0 && con->http_status != 200) {
        // The parser or the body reader has decided already.
        if (!con->file_finished) {
            chunkqueue_reset(con->write_queue);
        }
        return HANDLER_FINISHED;
    }
    if (con->mode == DIRECT && buffer_is_empty(con->physical.path)) {
        if (const handler_t r = map_request(srv, con); r != HANDLER_GO_ON) {
            // Only a module's hook ends the mapping with an error status.
            if (r == HANDLER_FINISHED && con->http_status >= 400) {
                connection_set_refused_by_module(con, true);
            }
            return r;
        }
    }
    if (con->mode == DIRECT) {
        if (const handler_t r = handle_physical_path(srv, con); r != HANDLER_GO_ON) {
            return r;
        }
    }
    const handler_t r = plugins_call_handle_subrequest(srv, con);
    return r == HANDLER_GO_ON ? HANDLER_FINISHED : r;
}

int http_response_write_header(server* srv, connection* con) {
    buffer* b = chunkqueue_get_prepend_buffer(con->write_queue);
    buffer_copy_string(b, con->request.http_version == HTTP_VERSION_1_1 ? "HTTP/1.1 " : "HTTP/1.0 ");
    buffer_append_long(b, con->http_status);
    buffer_append_string_len(b, " ", 1);
    if (const char* reason = get_http_status_name(con->http_status); reason != nullptr) {
        buffer_append_string(b, reason);
    }

    if (con->request_count <= con->conf.max_keep_alive_requests && con->conf.max_keep_alive_idle != 0) {
        con->keep_alive_idle = con->conf.max_keep_alive_idle;
    } else {
        con->keep_alive = 0;
    }
    if (con->request.http_version != HTTP_VERSION_1_1 || con->keep_alive == 0) {
        if (con->keep_alive) {
            response_header_overwrite(srv, con, "Connection", 10, "keep-alive", 10);
        } else {
            response_header_overwrite(srv, con, "Connection", 10, "close", 5);
        }
    }
    if (con->response.transfer_encoding & HTTP_TRANSFER_ENCODING_CHUNKED) {
        response_header_overwrite(srv, con, "Transfer-Encoding", 17, "chunked", 7);
    }

    bool have_date = false;
    bool have_server = false;
    const array* headers = con->response.headers;
    for (size_t i = 0; i < headers->used; ++i) {
        const auto* ds = static_cast<const data_string*>(headers->data[i]);
        if (text_length(ds->key) == 0 || text_length(ds->value) == 0 || is_internal_header(ds->key)) {
            continue;
        }
        if (con->http_status == 304 && equals_caseless(ds->key, "Content-Encoding")) {
            continue;
        }
        have_date = have_date || equals_caseless(ds->key, "Date");
        have_server = have_server || equals_caseless(ds->key, "Server");
        append_header_line(b, ds->key, ds->value);
    }

    if (!have_date) {
        // Formatted once per second at most: every response of a busy second
        // shares the text.
        const std::time_t now = static_cast<std::time_t>(TheClock().WallTime().tv_sec);
        if (srv->last_generated_date_ts != now || srv->ts_date_str->used == 0) {
            http_time_format(srv->ts_date_str, now);
            srv->last_generated_date_ts = now;
        }
        buffer_append_string_len(b, "\r\nDate: ", 8);
        buffer_append_string_buffer(b, srv->ts_date_str);
    }
    if (!have_server) {
        const buffer* tag = con->conf.server_tag;
        if (tag == nullptr || tag->used == 0) {
            buffer_append_string_len(b, "\r\nServer: ", 10);
            buffer_append_string(b, kDefaultServerTag);
        } else if (tag->used > 1) {
            buffer_append_string_len(b, "\r\nServer: ", 10);
            buffer_append_string_encoded(b, tag->ptr, tag->used - 1, ENCODING_HTTP_HEADER);
        }
    }
    buffer_append_string_len(b, "\r\n\r\n", 4);
    con->bytes_header = static_cast<http_off_t>(b->used - 1);

    if (con->conf.log_response_header) {
        log_error_write(srv, kTag, __LINE__, "sSb", "Response-Header:", "\n", b);
    }
    return 0;
}

}  // extern "C"

}  // namespace hx

// The response start (status, the web application's reply to a POST, error
// pages, Content-Length, headers) and writing the response out.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "http/chunk.h"
#include "http/connection_internal.h"
#include "http/connections.h"
#include "http/errorlog.h"
#include "http/http_chunk.h"
#include "http/keyvalue.h"
#include "http/network.h"
#include "http/response.h"
#include "http/stat_cache.h"
#include "web/web_request.h"

namespace hx {

namespace {

constexpr char kTag[] = "connections";
constexpr U32 kWebNotExist = 770;  // VK_ERR_WEB_NOTEXIST: no such request name

void set_header(server* srv, connection* con, const char* key, const char* value) {
    response_header_overwrite(srv, con, key, std::strlen(key), value, std::strlen(value));
}

// The web application finds this request's upload under g_arcUpgradeFiledir;
// the newest file of any connection would be another upload's partial file.
void publish_upload_path(const connection* con) {
    for (const chunk* c = con->request_content_queue->first; c != nullptr; c = c->next) {
        if (c->type == FILE_CHUNK && c->file.is_temp && c->file.name->used > 1) {
            std::snprintf(g_arcUpgradeFiledir, sizeof(g_arcUpgradeFiledir), "%s", c->file.name->ptr);
            return;
        }
    }
    g_arcUpgradeFiledir[0] = '\0';
}

void answer_options(server* srv, connection* con) {
    static constexpr char kAllow[] = "OPTIONS, GET, HEAD, POST";
    response_header_insert(srv, con, "Allow", 5, kAllow, sizeof(kAllow) - 1);
    con->response.transfer_encoding &= ~HTTP_TRANSFER_ENCODING_CHUNKED;
    con->parsed_response &= ~kParsedResponseContentLength;
    con->http_status = 200;
    con->file_finished = 1;
    chunkqueue_reset(con->write_queue);
}

void decide_direct_status(server* srv, connection* con) {
    const http_method_t method = con->request.http_method;
    if (method == HTTP_METHOD_OPTIONS) {
        const buffer* path = con->uri.path;
        if ((con->http_status == 0 || con->http_status == 200) && !buffer_is_empty(path) && path->ptr[0] != '*') {
            answer_options(srv, con);
        }
        return;
    }
    if ((method == HTTP_METHOD_UNSET || method > HTTP_METHOD_POST) && con->http_status == 0) {
        con->http_status = 501;
    }
}

void call_web_application(server* srv, connection* con) {
    chunkqueue_reset(con->write_queue);
    buffer* reply = chunkqueue_get_append_buffer(con->write_queue);
    con->http_status = 200;
    publish_upload_path(con);
    if (web_ProcessData(reply, srv, con) == kWebNotExist) {
        con->http_status = 404;
    }
    con->file_finished = 1;
}

// The configured error file of the status, if there is one.
bool append_error_file(server* srv, connection* con) {
    const buffer* prefix = con->conf.errorfile_prefix;
    if (buffer_is_empty(prefix)) {
        return false;
    }
    buffer_copy_string_buffer(con->physical.path, prefix);
    buffer_append_long(con->physical.path, con->http_status);
    buffer_append_string_len(con->physical.path, ".html", 5);
    stat_cache_entry* entry = nullptr;
    if (stat_cache_get_entry(srv, con, con->physical.path, &entry) != HANDLER_GO_ON) {
        buffer_reset(con->physical.path);
        return false;
    }
    chunkqueue_reset(con->write_queue);
    http_chunk_append_file(srv, con, con->physical.path, 0, static_cast<http_off_t>(entry->st.st_size));
    if (!buffer_is_empty(entry->content_type)) {
        response_header_overwrite(srv, con, "Content-Type", 12, entry->content_type->ptr,
                                  entry->content_type->used - 1);
    }
    return true;
}

void prepare_body(server* srv, connection* con) {
    switch (con->http_status) {
        case 204:
        case 205:
        case 304:
            con->response.transfer_encoding &= ~HTTP_TRANSFER_ENCODING_CHUNKED;
            con->parsed_response &= ~kParsedResponseContentLength;
            chunkqueue_reset(con->write_queue);
            con->file_finished = 1;
            return;
        default:
            break;
    }
    if (con->mode != DIRECT || con->http_status < 400 || con->http_status > 599) {
        return;
    }
    con->file_finished = 0;
    buffer_reset(con->physical.path);
    if (!append_error_file(srv, con)) {
        chunkqueue_reset(con->write_queue);
        connection_error_page(con->http_status, chunkqueue_get_append_buffer(con->write_queue));
        set_header(srv, con, "Content-Type", "text/html");
    }
    con->file_finished = 1;
}

void set_content_length(server* srv, connection* con) {
    const bool length_known = (con->parsed_response & kParsedResponseContentLength) != 0;
    const bool chunked = (con->response.transfer_encoding & HTTP_TRANSFER_ENCODING_CHUNKED) != 0;
    if (!con->file_finished) {
        if (!length_known && !chunked) {
            con->keep_alive = 0;
        }
        if ((con->parsed_response & kParsedResponseConnection) && con->keep_alive && !con->response.keep_alive) {
            con->keep_alive = 0;
        }
        return;
    }
    if (length_known || chunked) {
        return;
    }
    const int status = con->http_status;
    if ((status >= 100 && status < 200) || status == 204 || status == 304) {
        auto* length = static_cast<data_string*>(array_get_element(con->response.headers, "Content-Length"));
        if (length != nullptr) {
            buffer_reset(length->value);
        }
        return;
    }
    const http_off_t body = chunkqueue_length(con->write_queue);
    if (body > 0 || con->request.http_method != HTTP_METHOD_HEAD) {
        static constexpr char kKey[] = "Content-Length";
        char digits[16];
        const auto printed = std::to_chars(digits, digits + sizeof(digits), static_cast<int>(body));
        response_header_overwrite(srv, con, kKey, sizeof(kKey) - 1, digits, static_cast<size_t>(printed.ptr - digits));
    }
}

}  // namespace

void connection_error_page(int status, buffer* out) {
    const char* reason = get_http_status_name(status);
    char title[64];
    std::snprintf(title, sizeof(title), "%d %s", status, reason != nullptr ? reason : "");
    buffer_copy_string(out,
                       "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n"
                       "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\n"
                       "         \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n"
                       " <head>\n"
                       "  <title>");
    buffer_append_string(out, title);
    buffer_append_string(out, "</title>\n </head>\n <body>\n  <h1>");
    buffer_append_string(out, title);
    buffer_append_string(out, "</h1>\n </body>\n</html>\n");
}

int connection_handle_write_prepare(server* srv, connection* con) {
    if (con->mode == DIRECT) {
        decide_direct_status(srv, con);
    }
    if (con->http_status == 0) {
        con->http_status = 403;
    }
    if (connection_is_refused(con)) {
        // The parser or body reader refused it: its status and page stand,
        // and the unread rest of the request must never be taken for the next.
        con->keep_alive = 0;
    } else if (con->request.http_method == HTTP_METHOD_POST && !connection_is_refused_by_module(con)) {
        call_web_application(srv, con);
    }
    prepare_body(srv, con);
    set_content_length(srv, con);
    if (con->request.http_method == HTTP_METHOD_HEAD) {
        con->file_finished = 1;
        chunkqueue_reset(con->write_queue);
        con->response.transfer_encoding &= ~HTTP_TRANSFER_ENCODING_CHUNKED;
    }
    http_response_write_header(srv, con);
    return 0;
}

int connection_handle_write(server* srv, connection* con) {
    switch (network_write_chunkqueue(srv, con, con->write_queue, kMaxWriteBytes)) {
        case 0:
            con->write_request_ts = srv->cur_ts;
            if (con->file_finished) {
                connection_set_state(srv, con, CON_STATE_RESPONSE_END);
                joblist_append(srv, con);
            }
            break;
        case 1:
            con->write_request_ts = srv->cur_ts;
            con->is_writable = 0;
            break;
        case -1:
            log_error_write(srv, kTag, __LINE__, "sd", "connection closed: write failed on fd", con->fd);
            connection_set_state(srv, con, CON_STATE_ERROR);
            joblist_append(srv, con);
            break;
        case -2:
            connection_set_state(srv, con, CON_STATE_ERROR);
            joblist_append(srv, con);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace hx

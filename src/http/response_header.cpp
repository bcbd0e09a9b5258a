// The response-header helpers modules use, the redirect to a folder's slash,
// the conditional-request check, the formatted file-time slots and the dotted
// text of an address.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "http/errorlog.h"
#include "http/etag.h"
#include "http/response.h"
#include "http/response_time.h"

namespace hx {

namespace {

constexpr const char* kTag = "http-header-glue";

size_t text_length(const buffer* b) {
    return b == nullptr || b->used == 0 ? 0 : b->used - 1;
}

// The local host name for a redirect without Host: the reverse lookup of the
// socket's address, or its dotted text when that fails.
void append_local_host(server* srv, buffer* out, const sockaddr_in& local) {
    hostent entry{};
    hostent* result = nullptr;
    char scratch[2048];
    int resolver_error = 0;
    const int rc = gethostbyaddr_r(&local.sin_addr, sizeof local.sin_addr, AF_INET, &entry, scratch, sizeof scratch,
                                   &result, &resolver_error);
    if (rc == 0 && result != nullptr && result->h_name != nullptr) {
        buffer_append_string(out, result->h_name);
        return;
    }
    if (rc != 0 && result == nullptr && resolver_error == 0) {
        resolver_error = NO_RECOVERY;
    }
    log_error_write(srv, kTag, __LINE__, "sss", "NOTICE: gethostbyaddr failed: ", hstrerror(resolver_error),
                    ", using ip-address instead");
    char dotted[INET_ADDRSTRLEN];
    buffer_append_string(out, inet_ntop(AF_INET, &local.sin_addr, dotted, sizeof dotted));
}

}  // namespace

extern "C" {

int response_header_insert(server*, connection* con, const char* key, size_t keylen, const char* value,
                           size_t vallen) {
    auto* ds = static_cast<data_string*>(array_get_unused_element(con->response.headers, TYPE_STRING));
    if (ds == nullptr) {
        ds = data_response_init();
    }
    buffer_copy_string_len(ds->key, key, keylen);
    buffer_copy_string_len(ds->value, value, vallen);
    array_insert_unique(con->response.headers, ds);
    return 0;
}

int response_header_overwrite(server* srv, connection* con, const char* key, size_t keylen, const char* value,
                              size_t vallen) {
    buffer_copy_string_len(srv->tmp_buf, key, keylen);
    auto* ds = static_cast<data_string*>(array_get_element(con->response.headers, srv->tmp_buf->ptr));
    if (ds != nullptr) {
        buffer_copy_string_len(ds->value, value, vallen);
        return 0;
    }
    return response_header_insert(srv, con, key, keylen, value, vallen);
}

int response_header_append(server* srv, connection* con, const char* key, size_t keylen, const char* value,
                           size_t vallen) {
    buffer_copy_string_len(srv->tmp_buf, key, keylen);
    auto* ds = static_cast<data_string*>(array_get_element(con->response.headers, srv->tmp_buf->ptr));
    if (ds != nullptr) {
        buffer_append_string_len(ds->value, ", ", 2);
        buffer_append_string_len(ds->value, value, vallen);
        return 0;
    }
    return response_header_insert(srv, con, key, keylen, value, vallen);
}

int http_response_redirect_to_directory(server* srv, connection* con) {
    buffer* location = buffer_init();
    buffer_copy_string_buffer(location, con->uri.scheme);
    buffer_append_string(location, "://");
    if (text_length(con->uri.authority) != 0) {
        buffer_append_string_buffer(location, con->uri.authority);
    } else {
        sock_addr local{};
        socklen_t length = sizeof local;
        if (getsockname(con->fd, &local.plain, &length) == -1) {
            char scratch[128];
            con->http_status = 500;
            log_error_write(srv, kTag, __LINE__, "ss", "can't get sockname",
                            http_error_text(errno, scratch, sizeof scratch));
            buffer_free(location);
            return 0;
        }
        if (local.plain.sa_family != AF_INET) {
            log_error_write(srv, kTag, __LINE__, "s", "ERROR: unsupported address-type");
            buffer_free(location);
            return -1;
        }
        append_local_host(srv, location, local.ipv4);
        const bool https = buffer_is_equal_string(con->uri.scheme, "https", 5) != 0;
        const unsigned default_port = https ? 443 : 80;
        if (srv->srvconf.port != default_port) {
            buffer_append_string(location, ":");
            buffer_append_long(location, srv->srvconf.port);
        }
    }
    buffer_append_string_buffer(location, con->uri.path);
    buffer_append_string(location, "/");
    if (text_length(con->uri.query) != 0) {
        buffer_append_string(location, "?");
        buffer_append_string_buffer(location, con->uri.query);
    }
    response_header_insert(srv, con, "Location", 8, location->ptr, text_length(location));
    con->http_status = 301;
    con->file_finished = 1;
    buffer_free(location);
    return 0;
}

handler_t http_response_handle_cachable(server*, connection* con, buffer* mtime) {
    const bool get_or_head =
        con->request.http_method == HTTP_METHOD_GET || con->request.http_method == HTTP_METHOD_HEAD;
    if (con->request.http_if_none_match != nullptr) {
        if (!etag_is_equal(con->physical.etag, con->request.http_if_none_match)) {
            return HANDLER_GO_ON;
        }
        if (get_or_head) {
            con->http_status = 304;
        } else {
            con->http_status = 412;
            con->mode = DIRECT;
        }
        return HANDLER_FINISHED;
    }
    if (con->request.http_if_modified_since == nullptr || !get_or_head) {
        return HANDLER_GO_ON;
    }
    const char* since = con->request.http_if_modified_since;
    const char* semicolon = std::strchr(since, ';');
    const size_t since_length = semicolon != nullptr ? static_cast<size_t>(semicolon - since) : std::strlen(since);
    const size_t mtime_length = text_length(mtime);
    if (since_length == mtime_length && std::strncmp(since, mtime->ptr, since_length) == 0) {
        con->http_status = 304;
        return HANDLER_FINISHED;
    }
    // Only the whole text matches: a header that is a mere beginning of the
    // file time (an empty one included) says nothing about the file.
    if (since_length > kHttpTimeLength) {
        return HANDLER_GO_ON;
    }
    std::time_t since_time = 0;
    std::time_t file_time = 0;
    if (!http_time_parse(since, since_length, &since_time) || !http_time_parse(mtime->ptr, mtime_length, &file_time)) {
        return HANDLER_GO_ON;
    }
    if (since_time < file_time) {
        return HANDLER_GO_ON;
    }
    con->http_status = 304;
    return HANDLER_FINISHED;
}

buffer* strftime_cache_get(server* srv, std::time_t last_mod) {
    mtime_cache_type* slot = &srv->mtime_cache[0];
    for (mtime_cache_type& candidate : srv->mtime_cache) {
        // A slot without text is free whatever its time says, so no file
        // time (0 or -1 included) can be mistaken for one.
        if (candidate.str->used == 0) {
            slot = &candidate;
            break;
        }
        if (candidate.mtime == last_mod) {
            return candidate.str;
        }
    }
    slot->mtime = last_mod;
    http_time_format(slot->str, last_mod);
    return slot->str;
}

const char* inet_ntop_cache_get_ip(server*, sock_addr* addr) {
    static thread_local char dotted[INET_ADDRSTRLEN];
    if (addr->plain.sa_family != AF_INET || inet_ntop(AF_INET, &addr->ipv4.sin_addr, dotted, sizeof dotted) == nullptr) {
        dotted[0] = '\0';
    }
    return dotted;
}

}  // extern "C"

}  // namespace hx

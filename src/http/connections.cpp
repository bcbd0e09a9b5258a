// The connection table, the job list and descriptor wait queue, accepting,
// closing and resetting connections, and the state machine that drives each
// one. Reading is in connection_read.cpp, the response start and writing in
// connection_write.cpp.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connection_internal.h"
#include "http/connections.h"
#include "http/errorlog.h"
#include "http/fdevent.h"
#include "http/plugin.h"
#include "http/request.h"
#include "http/response.h"

namespace hx {

namespace {

constexpr char kTag[] = "connections";
constexpr size_t kTableStep = 128;
constexpr size_t kListStep = 16;

// A connection and the state the connection layer keeps beside it. Plugins
// see only the `connection`, whose layout is theirs; the record is never
// anything but the start of this one.
struct connection_record {
    connection con;
    bool refused;
    bool refused_by_module;
    // `request.http_host` points here between requests; the parser points it
    // at the Host header's own value, which goes with the headers.
    buffer* own_host;
};
static_assert(std::is_standard_layout_v<connection_record>);

connection_record* record_of(connection* con) { return reinterpret_cast<connection_record*>(con); }
const connection_record* record_of(const connection* con) { return reinterpret_cast<const connection_record*>(con); }

void connection_free(connection* con) {
    if (con == nullptr) {
        return;
    }
    for (buffer* b : {con->request.request, con->request.uri, con->request.orig_uri, con->request.request_line,
                      con->request.pathinfo, con->uri.scheme, con->uri.authority,
                      con->uri.path, con->uri.path_raw, con->uri.query, con->physical.path, con->physical.basedir,
                      con->physical.doc_root, con->physical.rel_path, con->physical.etag, con->parse_request,
                      con->server_name, con->error_handler, con->dst_addr_buf}) {
        buffer_free(b);
    }
    for (chunkqueue* cq : {con->write_queue, con->read_queue, con->request_content_queue}) {
        chunkqueue_free(cq);
    }
    for (array* a : {con->request.headers, con->response.headers, con->environment}) {
        array_free(a);
    }
    std::free(con->plugin_ctx);
    std::free(con->cond_cache);
    buffer_free(record_of(con)->own_host);
    std::free(record_of(con));
}

bool is_registered(const server* srv, const connection* con) {
    const fdevents* ev = srv->ev;
    return ev != nullptr && con->fd >= 0 && static_cast<size_t>(con->fd) < ev->maxfds &&
           ev->fdarray[con->fd] != nullptr && ev->fdarray[con->fd]->fd == con->fd;
}

// Takes the socket out of the event loop, whatever part of the set-up it got.
void detach_from_event_loop(server* srv, connection* con) {
    if (srv->ev == nullptr) {
        return;
    }
    if (con->fde_ndx != -1) {
        fdevent_event_del(srv->ev, &con->fde_ndx, con->fd);
    }
    if (is_registered(srv, con)) {
        fdevent_unregister(srv->ev, con->fd);
    }
}

int list_append(connections* list, connection* con) {
    if (list->size == list->used) {
        const size_t size = list->size + kListStep;
        auto* grown = static_cast<connection**>(std::realloc(list->ptr, size * sizeof(*list->ptr)));
        HTTP_ASSERT(grown);
        list->ptr = grown;
        list->size = size;
    }
    list->ptr[list->used++] = con;
    return 0;
}

void list_free(connections* list) {
    if (list == nullptr) {
        return;
    }
    std::free(list->ptr);
    std::free(list);
}

void log_connection_close_result(server* srv, handler_t result) {
    if (result != HANDLER_GO_ON && result != HANDLER_FINISHED) {
        log_error_write(srv, kTag, __LINE__, "sd", "unhandling return value", static_cast<int>(result));
    }
}

// Reads and throws away what a closing peer still sends; its end of stream
// (or an error) ends the lingering at once. A read that finds the socket
// drained marks it unreadable until its next event, so the lingering costs
// no read that can only come back empty: none right after the half-close,
// and none again for the end of stream its event already read.
void linger_drain(server* srv, connection* con) {
    char discard[1024];
    const ssize_t got = ::read(con->fd, discard, sizeof(discard));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        con->close_timeout_ts = srv->cur_ts - kLingerSeconds;
    }
    if (got == 0 || (got > 0 && static_cast<size_t>(got) < sizeof(discard)) ||
        (got < 0 && errno != EINTR)) {
        con->is_readable = 0;
    }
}

void linger_close(server* srv, connection* con) {
    if (con->is_readable && srv->cur_ts - con->close_timeout_ts < kLingerSeconds) {
        linger_drain(srv, con);
    }
    if (srv->cur_ts - con->close_timeout_ts >= kLingerSeconds) {
        const int fd = con->fd;
        connection_close(srv, con);
        if (srv->srvconf.log_state_handling) {
            log_error_write(srv, kTag, __LINE__, "sd", "connection closed for fd", fd);
        }
    }
}

// Half-closes the socket so the client sees the end of the response, and
// lingers; a socket that cannot be shut down is closed at once.
void start_lingering(server* srv, connection* con) {
    if (::shutdown(con->fd, SHUT_WR) == 0) {
        con->close_timeout_ts = srv->cur_ts;
        connection_set_state(srv, con, CON_STATE_CLOSE);
        if (srv->srvconf.log_state_handling) {
            log_error_write(srv, kTag, __LINE__, "sd", "shutdown for fd", con->fd);
        }
    } else {
        connection_close(srv, con);
    }
}

// Stays in HANDLE_REQUEST for another pass through the configured 404/403
// handler; false when the response is settled.
bool enter_error_handler(connection* con) {
    if (con->mode != DIRECT || (con->http_status != 404 && con->http_status != 403) ||
        connection_is_refused(con)) {
        return false;
    }
    if (con->in_error_handler) {
        con->http_status = con->error_handler_saved_status;
        return false;
    }
    const buffer* handler = !buffer_is_empty(con->error_handler) ? con->error_handler : con->conf.error_handler;
    if (buffer_is_empty(handler)) {
        return false;
    }
    con->error_handler_saved_status = con->http_status;
    con->http_status = 0;
    buffer_copy_string_buffer(con->request.uri, handler);
    buffer_reset(con->physical.path);
    con->in_error_handler = 1;
    return true;
}

// One pass of HANDLE_REQUEST; true asks for another pass in the same state.
bool handle_request(server* srv, connection* con) {
    const handler_t result = http_response_prepare(srv, con);
    switch (result) {
        case HANDLER_FINISHED:
            if (enter_error_handler(con)) {
                return true;
            }
            if (con->http_status == 0) {
                con->http_status = 200;
            }
            connection_set_state(srv, con, CON_STATE_RESPONSE_START);
            return false;
        case HANDLER_COMEBACK:
            return true;
        case HANDLER_WAIT_FOR_EVENT:
            return false;
        case HANDLER_ERROR:
            connection_set_state(srv, con, CON_STATE_ERROR);
            return false;
        case HANDLER_WAIT_FOR_FD:
            srv->want_fds++;
            fdwaitqueue_append(srv, con);
            return false;
        default:
            log_error_write(srv, kTag, __LINE__, "sdd", "unknown ret-value: ", con->fd, static_cast<int>(result));
            return false;
    }
}

void response_end(server* srv, connection* con) {
    plugins_call_handle_request_done(srv, con);
    srv->con_written++;
    // Whether the socket may hold more than was read: a connection whose
    // last read drained it waits for the event loop to say the next request
    // (or, lingering, the client's end) is there, instead of a read that
    // mostly finds nothing (bytes already read, a pipelined request, are
    // parsed either way).
    const int readable = con->is_readable;
    if (con->keep_alive) {
        connection_set_state(srv, con, CON_STATE_REQUEST_START);
    } else {
        log_connection_close_result(srv, plugins_call_handle_connection_close(srv, con));
        start_lingering(srv, con);
        srv->con_closed++;
    }
    connection_reset(srv, con);
    con->is_readable = readable;
}

void handle_error(server* srv, connection* con) {
    if (con->http_status != 0) {
        plugins_call_handle_request_done(srv, con);
    }
    if (con->mode != DIRECT) {
        log_connection_close_result(srv, plugins_call_handle_connection_close(srv, con));
    }
    connection_reset(srv, con);
    start_lingering(srv, con);
    con->keep_alive = 0;
    srv->con_closed++;
}

// Event interest from the state the machine stopped in. A socket the event
// loop refuses can never be woken again: it is closed at once.
void set_event_interest(server* srv, connection* con) {
    if (srv->ev == nullptr || con->ndx == -1 || con->fd < 0) {
        return;
    }
    int events = 0;
    switch (con->state) {
        case CON_STATE_READ:
        case CON_STATE_READ_POST:
        case CON_STATE_CLOSE:
            events = FDEVENT_IN;
            break;
        case CON_STATE_WRITE:
            if (!chunkqueue_is_empty(con->write_queue) && !con->is_writable && !con->traffic_limit_reached) {
                events = FDEVENT_OUT;
            }
            break;
        default:
            break;
    }
    if (events == 0) {
        if (con->fde_ndx != -1) {
            fdevent_event_del(srv->ev, &con->fde_ndx, con->fd);
        }
        return;
    }
    if (fdevent_event_set(srv->ev, &con->fde_ndx, con->fd, events) == -1) {
        connection_reset(srv, con);
        connection_close(srv, con);
    }
}

}  // namespace

handler_t connection_handle_fdevent(server* srv, void* context, int revents) {
    auto* con = static_cast<connection*>(context);
    joblist_append(srv, con);
    if (revents & FDEVENT_IN) {
        con->is_readable = 1;
    }
    if (revents & FDEVENT_OUT) {
        con->is_writable = 1;
    }
    if (revents & ~(FDEVENT_IN | FDEVENT_OUT)) {
        if (revents & FDEVENT_HUP) {
            if (con->state == CON_STATE_CLOSE) {
                con->close_timeout_ts = srv->cur_ts - kLingerSeconds;
            } else {
                connection_set_state(srv, con, CON_STATE_ERROR);
            }
        } else if (revents & FDEVENT_ERR) {
            connection_set_state(srv, con, CON_STATE_ERROR);
        } else {
            log_error_write(srv, kTag, __LINE__, "sd", "connection closed: poll() -> ???", revents);
        }
    }

    if (con->state == CON_STATE_READ || con->state == CON_STATE_READ_POST) {
        connection_handle_read_state(srv, con);
    }
    if (con->state == CON_STATE_WRITE && !chunkqueue_is_empty(con->write_queue) && con->is_writable &&
        connection_handle_write(srv, con) == -1) {
        log_error_write(srv, kTag, __LINE__, "ds", con->fd, "handle write failed.");
        connection_set_state(srv, con, CON_STATE_ERROR);
    }
    if (con->state == CON_STATE_CLOSE && con->is_readable) {
        linger_drain(srv, con);
    }
    return HANDLER_FINISHED;
}

bool connection_is_refused(const connection* con) { return record_of(con)->refused; }

void connection_set_refused(connection* con, bool refused) { record_of(con)->refused = refused; }

bool connection_is_refused_by_module(const connection* con) { return record_of(con)->refused_by_module; }

void connection_set_refused_by_module(connection* con, bool refused) { record_of(con)->refused_by_module = refused; }

connection* connections_get_new_connection(server* srv) {
    connections* conns = srv->conns;
    if (conns->size == conns->used) {
        const size_t size = conns->size + kTableStep;
        auto* grown = static_cast<connection**>(std::realloc(conns->ptr, size * sizeof(*conns->ptr)));
        HTTP_ASSERT(grown);
        conns->ptr = grown;
        for (size_t i = conns->size; i < size; ++i) {
            conns->ptr[i] = connection_init(srv);
        }
        conns->size = size;
    }
    connection* con = conns->ptr[conns->used];
    connection_reset(srv, con);
    // A slot keeps its read queue across requests for pipelining; a new
    // client must not start with what the slot's previous client left there.
    chunkqueue_reset(con->read_queue);
    con->header_scanned = 0;
    con->header_matched = 0;
    con->header_resume = {};
    con->ndx = static_cast<int>(conns->used);
    conns->used++;
    return con;
}

int connection_del(server* srv, connection* con) {
    if (con == nullptr || con->ndx == -1) {
        return -1;
    }
    connections* conns = srv->conns;
    const auto index = static_cast<size_t>(con->ndx);
    if (index >= conns->used || conns->ptr[index] != con) {
        return -1;
    }
    const size_t last = conns->used - 1;
    if (index != last) {
        connection* moved = conns->ptr[last];
        conns->ptr[index] = moved;
        conns->ptr[last] = con;
        moved->ndx = static_cast<int>(index);
    }
    con->ndx = -1;
    conns->used--;
    for (buffer* b : {con->uri.authority, con->uri.path, con->uri.query, con->request.orig_uri}) {
        buffer_reset(b);
    }
    return 0;
}

extern "C" {

connection* connection_init(server* srv) {
    auto* record = static_cast<connection_record*>(std::calloc(1, sizeof(connection_record)));
    HTTP_ASSERT(record);
    connection* con = &record->con;
    con->fd = -1;
    con->ndx = -1;
    con->fde_ndx = -1;

    for (buffer** b : {&con->request.request, &con->request.uri, &con->request.orig_uri, &con->request.request_line,
                       &con->request.pathinfo, &con->uri.scheme, &con->uri.authority,
                       &con->uri.path, &con->uri.path_raw, &con->uri.query, &con->physical.path,
                       &con->physical.basedir, &con->physical.doc_root, &con->physical.rel_path,
                       &con->physical.etag, &con->parse_request, &con->server_name, &con->error_handler,
                       &con->dst_addr_buf}) {
        *b = buffer_init();
    }
    con->write_queue = chunkqueue_init();
    con->read_queue = chunkqueue_init();
    con->request_content_queue = chunkqueue_init();
    chunkqueue_set_tempdirs(con->request_content_queue, srv->srvconf.upload_tempdirs);

    record->own_host = buffer_init();
    con->request.http_host = record->own_host;
    con->request.headers = array_init();
    con->response.headers = array_init();
    con->environment = array_init();
    con->request.http_method = HTTP_METHOD_UNSET;
    con->request.http_version = HTTP_VERSION_UNSET;
    con->response.content_length = -1;

    con->plugin_ctx = static_cast<void**>(std::calloc(srv->plugins.used + 1, sizeof(void*)));
    HTTP_ASSERT(con->plugin_ctx);
    const size_t blocks = srv->config_context != nullptr ? srv->config_context->used : 0;
    con->cond_cache = static_cast<cond_cache_t*>(std::calloc(blocks != 0 ? blocks : 1, sizeof(cond_cache_t)));
    HTTP_ASSERT(con->cond_cache);

    if (srv->config_storage != nullptr) {
        config_setup_connection(srv, con);
    }
    return con;
}

void connections_free(server* srv) {
    connections* conns = srv->conns;
    if (conns == nullptr) {
        return;
    }
    for (size_t i = 0; i < conns->size; ++i) {
        connection* con = conns->ptr[i];
        if (i < conns->used && con->fd >= 0) {
            detach_from_event_loop(srv, con);
            ::close(con->fd);
            srv->cur_fds--;
        }
        connection_free(con);
    }
    std::free(conns->ptr);
    conns->ptr = nullptr;
    conns->size = 0;
    conns->used = 0;
}

int connection_reset(server* srv, connection* con) {
    plugins_call_connection_reset(srv, con);

    con->is_readable = 1;
    con->is_writable = 1;
    con->http_status = 0;
    con->file_finished = 0;
    con->file_started = 0;
    con->got_response = 0;
    con->parsed_response = 0;
    con->bytes_written = 0;
    con->bytes_written_cur_second = 0;
    con->bytes_read = 0;
    con->bytes_header = 0;
    con->loops_per_request = 0;

    con->request.http_method = HTTP_METHOD_UNSET;
    con->request.http_version = HTTP_VERSION_UNSET;
    con->request.http_if_modified_since = nullptr;
    con->request.http_if_none_match = nullptr;
    con->request.http_range = nullptr;
    con->request.http_content_type = nullptr;
    con->request.content_length = 0;

    con->response.keep_alive = 0;
    con->response.content_length = -1;
    con->response.transfer_encoding = HTTP_TRANSFER_ENCODING_IDENTITY;
    con->mode = DIRECT;

    for (buffer* b : {con->request.uri, con->request.request_line, con->request.pathinfo, con->request.request,
                      con->uri.scheme, con->uri.path_raw, con->physical.path, con->physical.basedir,
                      con->physical.doc_root, con->physical.rel_path, con->physical.etag, con->parse_request,
                      con->server_name, con->error_handler}) {
        buffer_reset(b);
    }
    con->request.http_host = record_of(con)->own_host;
    buffer_reset(con->request.http_host);
    array_reset(con->request.headers);
    array_reset(con->response.headers);
    array_reset(con->environment);
    // The body queue's release also removes an upload file: its handler has
    // run, and a refused upload's partial file must not stay behind.
    chunkqueue_reset(con->write_queue);
    chunkqueue_reset(con->request_content_queue);

    for (size_t i = 0; i < srv->plugins.used; ++i) {
        if (con->plugin_ctx[i] != nullptr) {
            log_error_write(srv, kTag, __LINE__, "sb", "missing cleanup in", srv->plugins.ptr[i]->name);
            con->plugin_ctx[i] = nullptr;
        }
    }

    con->header_len = 0;
    con->in_error_handler = 0;
    con->header_scanned = 0;
    con->header_matched = 0;
    con->header_resume = {};
    connection_set_refused(con, false);
    connection_set_refused_by_module(con, false);

    if (srv->config_storage != nullptr) {
        config_cond_cache_reset(srv, con);
        config_setup_connection(srv, con);
    }
    return 0;
}

int connection_close(server* srv, connection* con) {
    detach_from_event_loop(srv, con);
    if (con->fd >= 0 && ::close(con->fd) != 0) {
        char scratch[128];
        log_error_write(srv, kTag, __LINE__, "sds", "(warning) close:", con->fd,
                        http_error_text(errno, scratch, sizeof(scratch)));
    }
    con->fd = -1;
    srv->cur_fds--;
    connection_del(srv, con);
    connection_set_state(srv, con, CON_STATE_CONNECT);
    return 0;
}

connection* connection_accept(server* srv, server_socket* srv_socket) {
    if (srv->conns->used >= srv->max_conns) {
        return nullptr;
    }
    sock_addr address{};
    socklen_t length = sizeof(address);
    // Close-on-exec from the start: a shell command another thread runs
    // between accept and fcntl must not inherit the client socket.
    const int fd = ::accept4(srv_socket->fd, &address.plain, &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
            case EINTR:
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
            case EMFILE:
            case ECONNABORTED:
                break;
            default: {
                char scratch[128];
                log_error_write(srv, kTag, __LINE__, "ssd", "accept failed:",
                                http_error_text(error, scratch, sizeof(scratch)), error);
                break;
            }
        }
        return nullptr;
    }

    srv->cur_fds++;
    srv->con_opened++;
    connection* con = connections_get_new_connection(srv);
    con->fd = fd;
    // A new client's first request is small: its first read goes without
    // asking FIONREAD, and a larger one is sized on the next read.
    con->read_left_room = 1;
    con->fde_ndx = -1;
    con->srv_socket = srv_socket;
    if (fdevent_register(srv->ev, fd, connection_handle_fdevent, con) != 0) {
        // Not in the event loop, the socket would never be woken nor timed
        // out: close it now.
        connection_close(srv, con);
        return nullptr;
    }
    connection_set_state(srv, con, CON_STATE_REQUEST_START);
    // A client's request seldom arrives together with its connection: the
    // first read waits for the socket's readiness event (a request already
    // there is reported by the next poll) instead of a read that mostly
    // finds the socket empty, one system call per connection.
    con->is_readable = 0;
    con->connection_start = srv->cur_ts;
    con->dst_addr = address;
    buffer_copy_string(con->dst_addr_buf, inet_ntop_cache_get_ip(srv, &con->dst_addr));
    // accept4 made the socket close-on-exec and non-blocking already, all
    // fdevent_fcntl_set would do: no two more system calls per connection.
    return con;
}

int connection_state_machine(server* srv, connection* con) {
    const bool log_states = srv->srvconf.log_state_handling != 0;
    if (log_states) {
        log_error_write(srv, kTag, __LINE__, "sds", "state at start", con->fd, connection_get_state(con->state));
    }

    for (;;) {
        const connection_state_t before = con->state;
        bool again = false;
        if (log_states) {
            log_error_write(srv, kTag, __LINE__, "sds", "state for fd", con->fd, connection_get_state(con->state));
        }
        switch (con->state) {
            case CON_STATE_CONNECT:
                chunkqueue_reset(con->read_queue);
                con->header_scanned = 0;
                con->header_matched = 0;
                con->header_resume = {};
                con->request_count = 0;
                break;
            case CON_STATE_REQUEST_START:
                con->request_start = srv->cur_ts;
                con->read_idle_ts = srv->cur_ts;
                con->request_count++;
                con->loops_per_request = 0;
                connection_set_state(srv, con, CON_STATE_READ);
                break;
            case CON_STATE_READ:
            case CON_STATE_READ_POST:
                connection_handle_read_state(srv, con);
                break;
            case CON_STATE_REQUEST_END:
                for (buffer* b : {con->uri.authority, con->uri.path, con->uri.query, con->request.orig_uri}) {
                    buffer_reset(b);
                }
                if (http_request_parse(srv, con) != 0 && con->http_status == 0) {
                    connection_set_state(srv, con, CON_STATE_READ_POST);
                } else {
                    // A status set by the parser is a refusal: the request is
                    // answered with it and nothing of its body is read.
                    if (con->http_status != 0) {
                        connection_set_refused(con, true);
                        con->keep_alive = 0;
                    }
                    connection_set_state(srv, con, CON_STATE_HANDLE_REQUEST);
                }
                break;
            case CON_STATE_HANDLE_REQUEST:
                again = handle_request(srv, con);
                break;
            case CON_STATE_RESPONSE_START:
                if (connection_handle_write_prepare(srv, con) == -1) {
                    connection_set_state(srv, con, CON_STATE_ERROR);
                } else {
                    connection_set_state(srv, con, CON_STATE_WRITE);
                }
                break;
            case CON_STATE_WRITE:
                if (!chunkqueue_is_empty(con->write_queue) && con->is_writable &&
                    connection_handle_write(srv, con) == -1) {
                    log_error_write(srv, kTag, __LINE__, "ds", con->fd, "handle write failed.");
                    connection_set_state(srv, con, CON_STATE_ERROR);
                }
                break;
            case CON_STATE_RESPONSE_END:
                response_end(srv, con);
                break;
            case CON_STATE_ERROR:
                handle_error(srv, con);
                break;
            case CON_STATE_CLOSE:
                linger_close(srv, con);
                break;
            default:
                log_error_write(srv, kTag, __LINE__, "sdd", "unknown state:", con->fd, static_cast<int>(con->state));
                break;
        }
        if (!again && before == con->state) {
            break;
        }
    }

    if (log_states) {
        log_error_write(srv, kTag, __LINE__, "sds", "state at exit:", con->fd, connection_get_state(con->state));
    }
    set_event_interest(srv, con);
    return 0;
}

int connection_set_state(server*, connection* con, connection_state_t state) {
    con->state = state;
    return 0;
}

const char* connection_get_state(connection_state_t state) {
    switch (state) {
        case CON_STATE_CONNECT: return "connect";
        case CON_STATE_REQUEST_START: return "req-start";
        case CON_STATE_READ: return "read";
        case CON_STATE_REQUEST_END: return "req-end";
        case CON_STATE_READ_POST: return "readpost";
        case CON_STATE_HANDLE_REQUEST: return "handle-req";
        case CON_STATE_RESPONSE_START: return "resp-start";
        case CON_STATE_WRITE: return "write";
        case CON_STATE_RESPONSE_END: return "resp-end";
        case CON_STATE_ERROR: return "error";
        case CON_STATE_CLOSE: return "close";
    }
    return "(unknown)";
}

const char* connection_get_short_state(connection_state_t state) {
    switch (state) {
        case CON_STATE_CONNECT: return ".";
        case CON_STATE_REQUEST_START: return "q";
        case CON_STATE_READ: return "r";
        case CON_STATE_REQUEST_END: return "Q";
        case CON_STATE_READ_POST: return "R";
        case CON_STATE_HANDLE_REQUEST: return "h";
        case CON_STATE_RESPONSE_START: return "s";
        case CON_STATE_WRITE: return "W";
        case CON_STATE_RESPONSE_END: return "S";
        case CON_STATE_ERROR: return "E";
        case CON_STATE_CLOSE: return "C";
    }
    return "x";
}

int joblist_append(server* srv, connection* con) {
    if (con->in_joblist) {
        return 0;
    }
    con->in_joblist = 1;
    return list_append(srv->joblist, con);
}

void joblist_free(server*, connections* joblist) { list_free(joblist); }

int fdwaitqueue_append(server* srv, connection* con) { return list_append(srv->fdwaitqueue, con); }

connection* fdwaitqueue_unshift(server*, connections* fdwaitqueue) {
    if (fdwaitqueue == nullptr || fdwaitqueue->used == 0) {
        return nullptr;
    }
    connection* con = fdwaitqueue->ptr[0];
    std::memmove(fdwaitqueue->ptr, fdwaitqueue->ptr + 1, (fdwaitqueue->used - 1) * sizeof(*fdwaitqueue->ptr));
    fdwaitqueue->used--;
    return con;
}

void fdwaitqueue_free(server*, connections* fdwaitqueue) { list_free(fdwaitqueue); }

}  // extern "C"

}  // namespace hx

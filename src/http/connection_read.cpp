// Reading a connection: the socket into the read queue, the header cut out
// of it, and the body moved into memory or into an upload file.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "http/chunk.h"
#include "http/connection_internal.h"
#include "http/connections.h"
#include "http/errorlog.h"
#include "http/header_end.h"
#include "web/web_request.h"

namespace hx {

namespace {

constexpr char kTag[] = "connections";
constexpr size_t kMinFreeBytes = 1024;

size_t text_length(const buffer* b) { return b->used == 0 ? 0 : b->used - 1; }

size_t unread_bytes(const chunk* c) { return text_length(c->mem) - static_cast<size_t>(c->offset); }

// The buffer the next read appends to: a new one sized for what waits, the
// last one while it has room, or a new 4 KiB one. What waits is asked only
// when the previous read filled its buffer: after a short read a big body is
// unlikely, and the question costs a system call per request.
buffer* read_target(connection* con) {
    int waiting = 0;
    if (!con->read_left_room && ::ioctl(con->fd, FIONREAD, &waiting) == 0 &&
        waiting > static_cast<int>(kReadChunkBytes)) {
        buffer* b = chunkqueue_get_append_buffer(con->read_queue);
        buffer_prepare_copy(b, std::min(static_cast<size_t>(waiting), kMaxReadBytes) + 1);
        return b;
    }
    chunk* last = con->read_queue->last;
    if (last != nullptr && last->type == MEM_CHUNK && last->mem->size > last->mem->used &&
        last->mem->size - last->mem->used >= kMinFreeBytes) {
        return last->mem;
    }
    buffer* b = chunkqueue_get_append_buffer(con->read_queue);
    // One byte less than the block asks for exactly kReadChunkBytes of
    // storage, the most buffer_reset keeps: the read chunk's buffer is then
    // reused by every request instead of allocated and released per request.
    buffer_prepare_copy(b, kReadChunkBytes - 1);
    return b;
}

// Empty chunks (a read that brought nothing) go back to the pool.
void drop_empty_chunks(chunkqueue* cq) {
    chunk* previous = nullptr;
    chunk* c = cq->first;
    while (c != nullptr) {
        chunk* next = c->next;
        if (c->type == MEM_CHUNK && text_length(c->mem) == 0) {
            if (previous == nullptr) {
                cq->first = next;
            } else {
                previous->next = next;
            }
            if (cq->last == c) {
                cq->last = previous;
            }
            chunk_reset(c);
            if (cq->unused_chunks < kChunkqueueMaxUnused) {
                c->next = cq->unused;
                cq->unused = c;
                cq->unused_chunks++;
            } else {
                chunk_free(c);
            }
        } else {
            previous = c;
        }
        c = next;
    }
}

http_off_t queued_bytes(const chunkqueue* cq) {
    http_off_t total = 0;
    for (const chunk* c = cq->first; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK) {
            total += static_cast<http_off_t>(unread_bytes(c));
        }
    }
    return total;
}

void refuse(server* srv, connection* con, int status) {
    con->http_status = status;
    con->keep_alive = 0;
    connection_set_refused(con, true);
    connection_set_state(srv, con, CON_STATE_HANDLE_REQUEST);
}

// Moves the `length` header bytes at the queue's read position into
// `request.request`.
void take_header(connection* con, http_off_t length) {
    buffer_reset(con->request.request);
    auto wanted = static_cast<size_t>(length);
    for (chunk* c = con->read_queue->first; c != nullptr && wanted != 0; c = c->next) {
        if (c->type != MEM_CHUNK) {
            continue;
        }
        const size_t take = std::min(unread_bytes(c), wanted);
        buffer_append_string_len(con->request.request, c->mem->ptr + c->offset, take);
        c->offset += static_cast<http_off_t>(take);
        wanted -= take;
    }
    con->header_scanned = 0;
    con->header_matched = 0;
    con->header_resume = {};
}

void read_header(server* srv, connection* con) {
    const http_off_t length = http_header_end_find(con->read_queue, &con->header_scanned, &con->header_matched,
                                                   &con->header_resume);
    if (length > 0 && length <= kMaxHeaderBytes) {
        take_header(con, length);
        connection_set_state(srv, con, CON_STATE_REQUEST_END);
        return;
    }
    // A header that came whole in one large read is held to the same limit
    // as one still waiting for its end.
    if (length > kMaxHeaderBytes || queued_bytes(con->read_queue) > kMaxHeaderBytes) {
        log_error_write(srv, kTag, __LINE__, "s", "oversized request-header -> sending Status 414");
        refuse(srv, con, 414);
    }
}

// The upload file the body is appended to, or null (with the refusal set)
// when none can be opened.
chunk* upload_file(server* srv, connection* con) {
    chunkqueue* body = con->request_content_queue;
    chunk* last = body->last;
    chunk* target = nullptr;
    if (last != nullptr && last->type == FILE_CHUNK && last->file.is_temp && last->offset == 0) {
        if (last->file.length <= kMaxUploadFileBytes) {
            target = last;
            if (target->file.fd == -1) {
                target->file.fd = ::open(target->file.name->ptr, O_WRONLY | O_APPEND | O_CLOEXEC);
            }
        } else if (last->file.fd != -1) {
            ::close(last->file.fd);
            last->file.fd = -1;
        }
    }
    if (target == nullptr) {
        target = chunkqueue_get_append_tempfile(body);
    }
    if (target->file.fd == -1) {
        const int error = errno;
        char scratch[128];
        log_error_write(srv, kTag, __LINE__, "sbs", "denying upload as opening to temp-file for upload failed:",
                        target->file.name, http_error_text(error, scratch, sizeof(scratch)));
        refuse(srv, con, 413);
        return nullptr;
    }
    return target;
}

bool append_to_upload(server* srv, connection* con, const char* data, size_t length, bool completes) {
    chunk* file = upload_file(srv, con);
    if (file == nullptr) {
        return false;
    }
    const ssize_t written = ::write(file->file.fd, data, length);
    if (written < 0 || static_cast<size_t>(written) != length) {
        const int error = written < 0 ? errno : ENOSPC;
        char scratch[128];
        log_error_write(srv, kTag, __LINE__, "sbs", "denying upload as writing to file failed:", file->file.name,
                        http_error_text(error, scratch, sizeof(scratch)));
        refuse(srv, con, 413);
        ::close(file->file.fd);
        file->file.fd = -1;
        return false;
    }
    file->file.length += static_cast<http_off_t>(length);
    if (completes) {
        ::close(file->file.fd);
        file->file.fd = -1;
    }
    return true;
}

// Memory grows with what arrives (doubling, never past the announced rest),
// not with what the client announced.
void append_to_memory(connection* con, const char* data, size_t length, size_t still_wanted) {
    chunkqueue* body = con->request_content_queue;
    buffer* b = body->last != nullptr && body->last->type == MEM_CHUNK ? body->last->mem
                                                                       : chunkqueue_get_append_buffer(body);
    const size_t needed = (b->used == 0 ? 1 : b->used) + length;
    if (b->ptr == nullptr || needed > b->size) {
        const size_t room = std::min(std::max(length + 1, text_length(b)), still_wanted + 1);
        buffer_prepare_append(b, room);
    }
    buffer_append_string_len(b, data, length);
}

void read_body(server* srv, connection* con) {
    const size_t announced = con->request.content_length;
    if (announced > kMaxUploadBytes) {
        log_error_write(srv, kTag, __LINE__, "sdS", "oversized request content_length",
                        static_cast<int>(std::min<size_t>(announced, 0x7FFFFFFF)), "-> sending Status 403");
        refuse(srv, con, 403);
        return;
    }
    const bool to_file = web_ProcessIsLargeData(con) != 0;
    if (!to_file && announced > kMaxMemoryBodyBytes) {
        log_error_write(srv, kTag, __LINE__, "sdS", "request body of", static_cast<int>(announced),
                        "bytes is too large to keep in memory -> sending Status 413");
        refuse(srv, con, 413);
        return;
    }

    chunkqueue* body = con->request_content_queue;
    for (chunk* c = con->read_queue->first; c != nullptr; c = c->next) {
        const auto have = static_cast<size_t>(body->bytes_in);
        if (have >= announced) {
            break;
        }
        if (c->type != MEM_CHUNK || unread_bytes(c) == 0) {
            continue;
        }
        const size_t take = std::min(unread_bytes(c), announced - have);
        const char* data = c->mem->ptr + c->offset;
        if (to_file) {
            if (!append_to_upload(srv, con, data, take, have + take == announced)) {
                return;
            }
        } else {
            append_to_memory(con, data, take, announced - have);
        }
        c->offset += static_cast<http_off_t>(take);
        body->bytes_in += static_cast<http_off_t>(take);
    }
    if (static_cast<size_t>(body->bytes_in) == announced) {
        connection_set_state(srv, con, CON_STATE_HANDLE_REQUEST);
    }
}

}  // namespace

int connection_handle_read_ssl(server*, connection*) { return -1; }

int connection_handle_read(server* srv, connection* con) {
    if (con->srv_socket != nullptr && con->srv_socket->is_ssl) {
        return connection_handle_read_ssl(srv, con);
    }
    buffer* b = read_target(con);
    const size_t start = b->used == 0 ? 0 : b->used - 1;
    const size_t room = b->size - start - 1;  // the NUL stays
    const ssize_t got = ::read(con->fd, b->ptr + start, room);
    if (got < 0) {
        const int error = errno;
        con->is_readable = 0;
        switch (error) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return 0;
            case EINTR:
                con->is_readable = 1;
                return 0;
            case ECONNRESET:
                connection_set_state(srv, con, CON_STATE_ERROR);
                return -1;
            default: {
                char scratch[128];
                log_error_write(srv, kTag, __LINE__, "ssd", "connection closed - read failed: ",
                                http_error_text(error, scratch, sizeof(scratch)), error);
                connection_set_state(srv, con, CON_STATE_ERROR);
                return -1;
            }
        }
    }
    if (got == 0) {
        con->is_readable = 0;
        return -2;
    }
    con->read_left_room = static_cast<size_t>(got) < room ? 1 : 0;
    if (con->read_left_room) {
        con->is_readable = 0;  // drained until its next event
    }
    b->used = start + static_cast<size_t>(got) + 1;
    b->ptr[b->used - 1] = '\0';
    con->bytes_read += static_cast<http_off_t>(got);
    return 0;
}

int connection_handle_read_state(server* srv, connection* con) {
    const connection_state_t before = con->state;
    bool peer_closed = false;
    if (con->is_readable) {
        con->read_idle_ts = srv->cur_ts;
        switch (connection_handle_read(srv, con)) {
            case -1:
                return -1;
            case -2:
                peer_closed = true;
                break;
            default:
                break;
        }
    }
    drop_empty_chunks(con->read_queue);

    if (con->state == CON_STATE_READ) {
        read_header(srv, con);
    } else if (con->state == CON_STATE_READ_POST) {
        read_body(srv, con);
    }

    if (peer_closed && con->state == before) {
        connection_set_state(srv, con, CON_STATE_ERROR);
    }
    chunkqueue_remove_finished_chunks(con->read_queue);
    return 0;
}

}  // namespace hx

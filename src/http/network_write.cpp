// Writing a connection's outgoing chunk queue to its socket: the rate limits,
// TCP_CORK around sends that take more than one system call, and the two back ends ("writev", the
// default, and "write").
//
// File data is read with pread, one window at a time, never through a
// mapping: a file cut short while it is being sent (an export rewritten
// during its download) then shows up as a short read that fails this one
// connection, where a mapped page past the new end would kill the process
// with SIGBUS.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "http/chunk.h"
#include "http/connections.h"
#include "http/errorlog.h"
#include "http/network.h"
#include "http/stat_cache.h"

namespace hx {

namespace {

// Memory chunks gathered into one writev (the system's IOV_MAX).
constexpr size_t kMaxVectorChunks = 1024;
// A file is sent window by window; a call ends at a window's end.
constexpr std::int64_t kFileWindow = 512 * 1024;
// The rest of a file up to this size goes out in the same writev as the
// memory chunks before it.
constexpr std::int64_t kSmallFileBytes = 64 * 1024;

// The result of a socket write: bytes written (0 when the socket would
// block or a signal came between), or -1 error / -2 peer gone.
constexpr std::int64_t kWriteError = -1;
constexpr std::int64_t kPeerClosed = -2;

std::int64_t checked_write_result(server* srv, ssize_t written, int fd, const char* failure) {
    if (written >= 0) {
        return written;
    }
    const int error = errno;
    switch (error) {
        case EINTR:
        case EAGAIN:
            return 0;
        case EPIPE:
        case ECONNRESET:
            return kPeerClosed;
        default: {
            char scratch[128];
            HTTP_LOG_ERROR(srv, "ssd", failure, http_error_text(error, scratch, sizeof scratch), fd);
            return kWriteError;
        }
    }
}

http_off_t text_length(const buffer* b) {
    return b->used == 0 ? 0 : static_cast<http_off_t>(b->used - 1);
}

bool chunk_finished(const chunk* c) {
    return c->type == MEM_CHUNK ? c->mem->used == 0 || c->offset >= text_length(c->mem)
                                : c->offset >= c->file.length;
}

// `count` bytes from `position` of the open file into srv->tmp_buf. A read
// that ends early means the file shrank under us: logged, false.
bool read_file_range(server* srv, const chunk* c, int file_fd, std::int64_t position, size_t count) {
    buffer_prepare_copy(srv->tmp_buf, count);
    size_t have = 0;
    while (have < count) {
        const ssize_t got = pread(file_fd, srv->tmp_buf->ptr + have, count - have, position + have);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            char scratch[128];
            HTTP_LOG_ERROR(srv, "Ssb", "read: ", http_error_text(errno, scratch, sizeof scratch), c->file.name);
            return false;
        }
        if (got == 0) {
            HTTP_LOG_ERROR(srv, "sb", "file was shrinked:", c->file.name);
            return false;
        }
        have += static_cast<size_t>(got);
    }
    return true;
}

// The file's current status from the stat cache, and the check that it still
// reaches the chunk's position. -1 (logged) otherwise.
int check_file(server* srv, connection* con, const chunk* c, std::int64_t position) {
    stat_cache_entry* entry = nullptr;
    if (stat_cache_get_entry(srv, con, c->file.name, &entry) != HANDLER_GO_ON) {
        char scratch[128];
        HTTP_LOG_ERROR(srv, "sb", http_error_text(errno, scratch, sizeof scratch), c->file.name);
        return -1;
    }
    if (entry->st.st_size < position) {
        HTTP_LOG_ERROR(srv, "sb", "file was shrinked:", c->file.name);
        return -1;
    }
    return 0;
}

void account(chunkqueue* cq, chunk* c, std::int64_t written, http_off_t* max_bytes) {
    c->offset += static_cast<http_off_t>(written);
    cq->bytes_out += static_cast<http_off_t>(written);
    *max_bytes -= static_cast<http_off_t>(written);
}

void set_cork(int fd, int on) {
    // Fails harmlessly on a socket that is not TCP.
    setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

// Whether the rest of a file chunk may ride along in the writev of the
// memory run before it: small, inside one window, and within `room`.
bool small_file_rest(const chunk* c, std::int64_t room) {
    if (c->type != FILE_CHUNK || chunk_finished(c)) {
        return false;
    }
    const std::int64_t position = static_cast<std::int64_t>(c->file.start) + c->offset;
    const std::int64_t range_end = static_cast<std::int64_t>(c->file.start) + c->file.length;
    const std::int64_t rest = range_end - position;
    return rest <= kSmallFileBytes && rest <= room && position / kFileWindow == (range_end - 1) / kFileWindow;
}

// The rest of a small file chunk (see small_file_rest), without logging: on
// any trouble null, and the chunk is left to the window path, which reports
// it as before. The bytes are the stat cache's copy of the file while its
// entry is fresh, else read into srv->tmp_buf; either way they stay put until
// the next call into the cache or the writer.
const char* small_file_bytes(server* srv, connection* con, chunk* c) {
    const std::int64_t position = static_cast<std::int64_t>(c->file.start) + c->offset;
    const std::int64_t range_end = static_cast<std::int64_t>(c->file.start) + c->file.length;
    const auto count = static_cast<size_t>(range_end - position);
    stat_cache_entry* entry = nullptr;
    if (stat_cache_get_entry(srv, con, c->file.name, &entry) != HANDLER_GO_ON || entry->st.st_size < range_end) {
        return nullptr;
    }
    // The window in use, as the window path would show it.
    const std::int64_t window_offset = position - position % kFileWindow;
    const auto use_window = [&] {
        c->file.mmap.offset = static_cast<http_off_t>(window_offset);
        c->file.mmap.length = static_cast<size_t>(std::min(range_end - window_offset, kFileWindow));
    };
    if (const buffer* content = stat_cache_entry_content(srv, entry); content != nullptr) {
        use_window();
        return content->ptr + position;
    }
    if (c->file.fd == -1) {
        c->file.fd = open(c->file.name->ptr, O_RDONLY | O_CLOEXEC);
        if (c->file.fd == -1) {
            return nullptr;
        }
    }
    buffer_prepare_copy(srv->tmp_buf, count);
    size_t have = 0;
    while (have < count) {
        const ssize_t got = pread(c->file.fd, srv->tmp_buf->ptr + have, count - have, position + have);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return nullptr;
        }
        have += static_cast<size_t>(got);
    }
    use_window();
    return srv->tmp_buf->ptr;
}

// One run of consecutive memory chunks from `first` in one writev, with the
// rest of a small file chunk that follows it (a header and its body in one
// system call). The result: the chunk after the run when every byte went
// out, null with *status 0 when the socket took less, or null with *status
// -1/-2.
chunk* write_memory_run(server* srv, connection* con, int fd, chunkqueue* cq, chunk* first, http_off_t* max_bytes,
                        int* status) {
    iovec vector[kMaxVectorChunks];
    size_t entries = 0;
    std::int64_t room = *max_bytes;
    chunk* c = first;
    bool cut = false;
    for (; c != nullptr && c->type == MEM_CHUNK && entries < kMaxVectorChunks; c = c->next) {
        const std::int64_t rest = c->mem->used == 0 ? 0 : std::max<std::int64_t>(0, text_length(c->mem) - c->offset);
        iovec& entry = vector[entries++];
        entry.iov_base = c->mem->used == 0 ? nullptr : c->mem->ptr + c->offset;
        if (rest > room) {
            entry.iov_len = static_cast<size_t>(room);
            c = c->next;
            cut = true;
            break;
        }
        entry.iov_len = static_cast<size_t>(rest);
        room -= rest;
    }
    if (!cut && c != nullptr && entries < kMaxVectorChunks && small_file_rest(c, room)) {
        if (const char* bytes = small_file_bytes(srv, con, c); bytes != nullptr) {
            iovec& entry = vector[entries++];
            entry.iov_base = const_cast<char*>(bytes);
            entry.iov_len = static_cast<size_t>(c->file.length - c->offset);
            c = c->next;
        }
    }

    const std::int64_t written =
        checked_write_result(srv, writev(fd, vector, static_cast<int>(entries)), fd, "writev failed:");
    if (written < 0) {
        *status = static_cast<int>(written);
        return nullptr;
    }
    cq->bytes_out += static_cast<http_off_t>(written);
    *max_bytes -= static_cast<http_off_t>(written);

    std::int64_t left = written;
    chunk* walk = first;
    for (size_t i = 0; i < entries; ++i, walk = walk->next) {
        const auto length = static_cast<std::int64_t>(vector[i].iov_len);
        if (left < length) {
            walk->offset += static_cast<http_off_t>(left);
            *status = 0;
            return nullptr;
        }
        walk->offset += static_cast<http_off_t>(length);
        left -= length;
        if (walk->type == FILE_CHUNK) {
            walk->file.mmap.offset = 0;
            walk->file.mmap.length = 0;
        }
    }
    *status = 0;
    return c;
}

// One window's worth of a file chunk (see the file comment).
int write_file_window(server* srv, connection* con, int fd, chunkqueue* cq, chunk* c, http_off_t* max_bytes) {
    const std::int64_t position = static_cast<std::int64_t>(c->file.start) + c->offset;
    if (check_file(srv, con, c, position) != 0) {
        return -1;
    }
    const std::int64_t range_end = static_cast<std::int64_t>(c->file.start) + c->file.length;
    const std::int64_t window_offset = position - position % kFileWindow;
    const std::int64_t window_length = std::min(range_end - window_offset, kFileWindow);
    std::int64_t to_send = window_offset + window_length - position;
    if (to_send < 0) {
        HTTP_LOG_ERROR(srv, "soooo", "toSend is negative:", static_cast<http_off_t>(to_send),
                       static_cast<http_off_t>(window_length), static_cast<http_off_t>(position),
                       static_cast<http_off_t>(window_offset));
        return -1;
    }
    if (to_send > *max_bytes) {
        to_send = *max_bytes;
    }

    if (c->file.fd == -1) {
        c->file.fd = open(c->file.name->ptr, O_RDONLY | O_CLOEXEC);
        if (c->file.fd == -1) {
            char scratch[128];
            HTTP_LOG_ERROR(srv, "sbs", "open failed for:", c->file.name,
                           http_error_text(errno, scratch, sizeof scratch));
            return -1;
        }
    }
    // The window in use, kept in the chunk where a reader of the queue can
    // see it; nothing is mapped (`start` stays MAP_FAILED).
    c->file.mmap.offset = static_cast<http_off_t>(window_offset);
    c->file.mmap.length = static_cast<size_t>(window_length);

    if (!read_file_range(srv, c, c->file.fd, position, static_cast<size_t>(to_send))) {
        return -1;
    }
    const std::int64_t written =
        checked_write_result(srv, write(fd, srv->tmp_buf->ptr, static_cast<size_t>(to_send)), fd, "write failed:");
    if (written < 0) {
        return static_cast<int>(written);
    }
    account(cq, c, written, max_bytes);
    if (c->offset == c->file.length) {
        c->file.mmap.offset = 0;
        c->file.mmap.length = 0;
    }
    return 0;
}

// A file chunk the plain way: opened, read into srv->tmp_buf and closed on
// every call.
int write_file_plain(server* srv, connection* con, int fd, chunkqueue* cq, chunk* c, http_off_t* max_bytes) {
    const std::int64_t position = static_cast<std::int64_t>(c->file.start) + c->offset;
    if (check_file(srv, con, c, position) != 0) {
        return -1;
    }
    std::int64_t count = static_cast<std::int64_t>(c->file.length) - c->offset;
    if (count > *max_bytes) {
        count = *max_bytes;
    }
    char scratch[128];
    const int file_fd = open(c->file.name->ptr, O_RDONLY | O_CLOEXEC);
    if (file_fd == -1) {
        HTTP_LOG_ERROR(srv, "Ss", "open failed: ", http_error_text(errno, scratch, sizeof scratch));
        return -1;
    }
    if (lseek(file_fd, position, SEEK_SET) == -1) {
        HTTP_LOG_ERROR(srv, "Ss", "lseek: ", http_error_text(errno, scratch, sizeof scratch));
        close(file_fd);
        return -1;
    }
    const bool read_all = read_file_range(srv, c, file_fd, position, static_cast<size_t>(count));
    close(file_fd);
    if (!read_all) {
        return -1;
    }
    const std::int64_t written =
        checked_write_result(srv, write(fd, srv->tmp_buf->ptr, static_cast<size_t>(count)), fd, "write failed:");
    if (written < 0) {
        return static_cast<int>(written);
    }
    account(cq, c, written, max_bytes);
    return 0;
}

int unknown_chunk_type(server* srv, const chunk* c) {
    HTTP_LOG_ERROR(srv, "ds", static_cast<int>(c->type), "type not known");
    return -1;
}

// Lowers *max_bytes to what the limit of `kbytes_per_second` still allows
// this second; false when nothing is left.
bool within_limit(std::uint16_t kbytes_per_second, http_off_t used, http_off_t* max_bytes) {
    if (kbytes_per_second == 0) {
        return true;
    }
    const std::int64_t room = static_cast<std::int64_t>(kbytes_per_second) * 1024 - used;
    if (room < 1) {
        return false;
    }
    if (room < *max_bytes) {
        *max_bytes = static_cast<http_off_t>(room);
    }
    return true;
}

bool uses_vector_writes(const server* srv, const connection* con) {
    return (con->srv_socket == nullptr || !con->srv_socket->is_ssl) &&
           (srv->network_backend_write == nullptr || srv->network_backend_write == network_write_chunkqueue_writev);
}

// Whether the whole queue leaves in one writev: memory chunks, perhaps
// ended by a small file chunk, all within the byte limit. Corking such a
// send would only cost two more system calls.
bool fits_one_vector(const chunkqueue* cq, http_off_t max_bytes) {
    std::int64_t room = max_bytes;
    size_t entries = 0;
    for (const chunk* c = cq->first; c != nullptr; c = c->next) {
        if (++entries > kMaxVectorChunks) {
            return false;
        }
        if (c->type == MEM_CHUNK) {
            const std::int64_t rest =
                c->mem->used == 0 ? 0 : std::max<std::int64_t>(0, text_length(c->mem) - c->offset);
            if (rest > room) {
                return false;
            }
            room -= rest;
            continue;
        }
        return c->next == nullptr && c != cq->first && small_file_rest(c, room);
    }
    return true;
}

}  // namespace

extern "C" {

int network_write_chunkqueue_write(server* srv, connection* con, int fd, chunkqueue* cq, http_off_t max_bytes) {
    for (chunk* c = cq->first; c != nullptr && max_bytes > 0; c = c->next) {
        switch (c->type) {
            case MEM_CHUNK: {
                if (chunk_finished(c)) {
                    break;
                }
                std::int64_t count = text_length(c->mem) - c->offset;
                if (count > max_bytes) {
                    count = max_bytes;
                }
                const std::int64_t written = checked_write_result(
                    srv, write(fd, c->mem->ptr + c->offset, static_cast<size_t>(count)), fd, "write failed:");
                if (written < 0) {
                    return static_cast<int>(written);
                }
                account(cq, c, written, &max_bytes);
                break;
            }
            case FILE_CHUNK:
                if (!chunk_finished(c)) {
                    const int result = write_file_plain(srv, con, fd, cq, c, &max_bytes);
                    if (result != 0) {
                        return result;
                    }
                }
                break;
            default:
                return unknown_chunk_type(srv, c);
        }
        if (!chunk_finished(c)) {
            return 0;
        }
    }
    return 0;
}

int network_write_chunkqueue_writev(server* srv, connection* con, int fd, chunkqueue* cq, http_off_t max_bytes) {
    chunk* c = cq->first;
    while (c != nullptr && max_bytes > 0) {
        switch (c->type) {
            case MEM_CHUNK: {
                int status = 0;
                c = write_memory_run(srv, con, fd, cq, c, &max_bytes, &status);
                if (c == nullptr) {
                    return status;
                }
                break;
            }
            case FILE_CHUNK:
                if (!chunk_finished(c)) {
                    const int result = write_file_window(srv, con, fd, cq, c, &max_bytes);
                    if (result != 0) {
                        return result;
                    }
                    if (!chunk_finished(c)) {
                        return 0;
                    }
                }
                c = c->next;
                break;
            default:
                return unknown_chunk_type(srv, c);
        }
    }
    return 0;
}

int network_write_chunkqueue(server* srv, connection* con, chunkqueue* cq, http_off_t max_bytes) {
    http_off_t* shared_counter = con->conf.global_bytes_per_second_cnt_ptr;
    if (!within_limit(con->conf.global_kbytes_per_second, shared_counter == nullptr ? 0 : *shared_counter,
                      &max_bytes) ||
        !within_limit(con->conf.kbytes_per_second, con->bytes_written_cur_second, &max_bytes)) {
        con->traffic_limit_reached = 1;
        joblist_append(srv, con);
        return 1;
    }

    const http_off_t bytes_out_before = cq->bytes_out;
    const bool corked = cq->first != nullptr && cq->first->next != nullptr &&
                        !(uses_vector_writes(srv, con) && fits_one_vector(cq, max_bytes));
    if (corked) {
        set_cork(con->fd, 1);
    }

    int result = -1;
    if (con->srv_socket == nullptr || !con->srv_socket->is_ssl) {
        network_backend_write_t back_end =
            srv->network_backend_write != nullptr ? srv->network_backend_write : network_write_chunkqueue_writev;
        result = back_end(srv, con, con->fd, cq, max_bytes);
    }
    if (result >= 0) {
        chunkqueue_remove_finished_chunks(cq);
        result = chunkqueue_is_empty(cq) ? 0 : 1;
    }

    if (corked) {
        set_cork(con->fd, 0);
    }

    const http_off_t sent = cq->bytes_out - bytes_out_before;
    con->bytes_written += sent;
    con->bytes_written_cur_second += sent;
    if (shared_counter != nullptr) {
        *shared_counter += sent;
    }
    return result;
}

}  // extern "C"

}  // namespace hx

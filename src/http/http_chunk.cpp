// Chunked transfer encoding of response bodies.
#include "http/http_chunk.h"

#include <cstdint>

#include "http/errorlog.h"

namespace hx {

namespace {

bool is_chunked(const connection* con) {
    return (con->response.transfer_encoding & HTTP_TRANSFER_ENCODING_CHUNKED) != 0;
}

constexpr char kLineEnd[] = "\r\n";
constexpr char kLastChunk[] = "0\r\n\r\n";

}  // namespace

extern "C" {

int http_chunk_append_len(server* srv, connection* con, size_t len) {
    if (srv == nullptr || con == nullptr) {
        return -1;
    }
    // Sizes are 32-bit in this server: at most eight digits.
    auto value = static_cast<std::uint32_t>(len);
    char digits[8];
    size_t count = 0;
    do {
        digits[sizeof(digits) - 1 - count] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
        ++count;
    } while (value != 0);
    buffer* line = srv->tmp_chunk_len;
    buffer_copy_string_len(line, digits + sizeof(digits) - count, count);
    buffer_append_string_len(line, kLineEnd, sizeof(kLineEnd) - 1);
    return chunkqueue_append_buffer(con->write_queue, line);
}

int http_chunk_append_file(server* srv, connection* con, const buffer* fn, http_off_t offset, http_off_t len) {
    if (con == nullptr) {
        return -1;
    }
    if (!is_chunked(con)) {
        return chunkqueue_append_file(con->write_queue, fn, offset, len);
    }
    if (len <= 0) {
        return 0;
    }
    http_chunk_append_len(srv, con, static_cast<size_t>(len));
    chunkqueue_append_file(con->write_queue, fn, offset, len);
    return chunkqueue_append_mem(con->write_queue, kLineEnd, sizeof(kLineEnd));
}

int http_chunk_append_buffer(server* srv, connection* con, const buffer* mem) {
    if (con == nullptr) {
        return -1;
    }
    if (mem == nullptr || mem->used <= 1) {
        return 0;
    }
    if (!is_chunked(con)) {
        return chunkqueue_append_buffer(con->write_queue, mem);
    }
    http_chunk_append_len(srv, con, mem->used - 1);
    chunkqueue_append_buffer(con->write_queue, mem);
    return chunkqueue_append_mem(con->write_queue, kLineEnd, sizeof(kLineEnd));
}

int http_chunk_append_mem(server* srv, connection* con, const char* mem, size_t len) {
    if (con == nullptr) {
        return -1;
    }
    chunkqueue* queue = con->write_queue;
    if (len == 0) {
        if (is_chunked(con)) {
            return chunkqueue_append_mem(queue, kLastChunk, sizeof(kLastChunk));
        }
        return chunkqueue_append_mem(queue, "", 1);
    }
    if (!is_chunked(con)) {
        return chunkqueue_append_mem(queue, mem, len);
    }
    if (len == 1) {
        return 0;
    }
    http_chunk_append_len(srv, con, len - 1);
    chunkqueue_append_mem(queue, mem, len);
    return chunkqueue_append_mem(queue, kLineEnd, sizeof(kLineEnd));
}

http_off_t http_chunkqueue_length(server* srv, connection* con) {
    if (con == nullptr) {
        HTTP_LOG_ERROR(srv, "s", "connection is NULL!!");
        return 0;
    }
    return chunkqueue_length(con->write_queue);
}

}  // extern "C"

}  // namespace hx

// Response bodies on a connection's write queue, framed for chunked transfer
// encoding when the response has HTTP_TRANSFER_ENCODING_CHUNKED: each piece
// of data is preceded by its size in lower-case hex and CR LF and followed
// by CR LF, and a size of 0 ends the body. Without that bit the data is
// appended as it is.
//
// In chunked mode a piece without data is never framed on its own, since its
// size line "0" would end the body early: only http_chunk_append_mem with a
// length of 0 ends it.
//
// Callers: the response builder, the web application and plugins bound at run
// time by the C names. HTTP server thread only; nothing is locked.
#pragma once

#include <cstddef>

#include "http/chunk.h"
#include "http/http_base.h"

namespace hx {

extern "C" {

// The size line for `len`: hex without leading zeros ("0" for 0), CR LF;
// built in the server's `tmp_chunk_len`. -1 for a null connection.
int http_chunk_append_len(server* srv, connection* con, size_t len);
// A range of the file `fn`, framed. -1 for a null connection.
int http_chunk_append_file(server* srv, connection* con, const buffer* fn, http_off_t offset, http_off_t len);
// A copy of the text of `mem`, framed; a buffer without text appends
// nothing. -1 for a null connection.
int http_chunk_append_buffer(server* srv, connection* con, const buffer* mem);
// `len` counts a terminating NUL: len - 1 bytes, framed. A length of 0 ends
// the body ("0" CR LF CR LF when chunked, else an empty memory chunk). -1 for
// a null connection.
int http_chunk_append_mem(server* srv, connection* con, const char* mem, size_t len);
// chunkqueue_length of the write queue; a null connection is logged and
// gives 0.
http_off_t http_chunkqueue_length(server* srv, connection* con);

}  // extern "C"

}  // namespace hx

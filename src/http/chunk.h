// Chunk queues: every byte stream of a connection (the raw bytes read, the
// request body, the response to send) is a singly linked list of chunks, each
// a block of memory or a range of a file, consumed in place through its
// `offset`. A queue keeps up to 5 spare chunks for reuse, so a keep-alive
// connection rebuilds its queues without allocating.
//
// Upload bodies are spooled by the connection layer into temporary files made
// here (chunkqueue_get_append_tempfile); the path of the newest one is
// published in g_arcUpgradeFiledir for the web application's upload handlers.
// Releasing an upload chunk (chunk_reset, chunk_free, or a queue reset or
// free) removes its file: the upload handler has read the file before its
// request ends, and a refused upload's partial file must not stay behind.
//
// Callers: the connection state machine, the network writers, the response
// builder, and plugins bound at run time by the C names. Only the HTTP server
// thread creates and changes queues and g_arcUpgradeFiledir; nothing is
// locked. Allocation failures end the process through log_failed_assert.
#pragma once

#include <cstddef>

#include "http/array.h"
#include "http/buffer.h"

namespace hx {

enum chunk_type_t {
    UNUSED_CHUNK = 0,
    MEM_CHUNK = 1,
    FILE_CHUNK = 2,
};

// A mapping of part of a chunk's file.
struct chunk_file_mmap {
    char* start;        // MAP_FAILED ((char*)-1) when nothing is mapped
    size_t length;
    http_off_t offset;  // file offset of the mapping
};

struct chunk_file {
    buffer* name;        // the path
    http_off_t start;    // first byte of the range in the file
    http_off_t length;   // bytes in the range
    int fd;              // -1 when not open
    chunk_file_mmap mmap;
    int is_temp;         // 1 for an upload temporary file (removed on release)
};

struct chunk {
    chunk_type_t type;
    buffer* mem;  // a memory chunk's bytes: text length used - 1, used 0 empty
    chunk_file file;
    // Bytes already consumed: sent from an outgoing queue, read from an
    // incoming one.
    http_off_t offset;
    chunk* next;
};

struct chunkqueue {
    chunk* first;
    chunk* last;
    chunk* unused;         // spare chunks, linked through `next`
    size_t unused_chunks;  // at most kChunkqueueMaxUnused
    array* tempdirs;       // upload folders ("server.upload-dirs"); not owned
    // Running totals kept by the users of the queue.
    http_off_t bytes_in;
    http_off_t bytes_out;
};

constexpr size_t kChunkqueueMaxUnused = 5;
// Size of g_arcUpgradeFiledir: paths up to 511 characters and their NUL.
constexpr size_t kUploadPathSize = 512;

extern "C" {

// The path of the newest upload temporary file (NUL-terminated, never
// cleared). A folder whose file path would not fit is skipped, so on success
// this names the real file; after a failure it holds the last template tried.
extern char g_arcUpgradeFiledir[kUploadPathSize];

// A new chunk: empty buffers, no file open or mapped, not linked.
chunk* chunk_init(void);
// Releases as chunk_reset does, then frees the chunk; null is accepted.
void chunk_free(chunk* c);
// Empties both buffers, closes the descriptor, unmaps the mapping, removes an
// upload temporary file, and clears the kind, range and offsets so a pooled
// chunk carries nothing into its next use. 0, or -1 for null.
int chunk_reset(chunk* c);

// An empty queue.
chunkqueue* chunkqueue_init(void);
// Releases every chunk of the queue and of the pool, then the queue; null is
// accepted.
void chunkqueue_free(chunkqueue* cq);
// Marks every chunk consumed and drops them, and zeroes the byte totals.
int chunkqueue_reset(chunkqueue* cq);

// The first spare chunk, or a new one; not linked.
chunk* chunkqueue_get_unused_chunk(chunkqueue* cq);
int chunkqueue_append_chunk(chunkqueue* cq, chunk* c);
int chunkqueue_prepend_chunk(chunkqueue* cq, chunk* c);

// A range of the file `fn`; a length of 0 appends nothing.
int chunkqueue_append_file(chunkqueue* cq, const buffer* fn, http_off_t offset, http_off_t len);
// A copy of `mem`; a buffer with `used` 0 appends nothing.
int chunkqueue_append_buffer(chunkqueue* cq, const buffer* mem);
int chunkqueue_prepend_buffer(chunkqueue* cq, const buffer* mem);
// Takes `mem` itself into a new chunk (also an empty one); the queue owns it.
int chunkqueue_append_buffer_weak(chunkqueue* cq, buffer* mem);
// `len` counts a terminating NUL: len - 1 bytes are copied; 0 appends nothing.
int chunkqueue_append_mem(chunkqueue* cq, const char* mem, size_t len);
// A new empty memory chunk at the end / the front; its buffer, to fill.
buffer* chunkqueue_get_append_buffer(chunkqueue* cq);
buffer* chunkqueue_get_prepend_buffer(chunkqueue* cq);

// Records the upload folder list (not copied); -1 for a null queue.
int chunkqueue_set_tempdirs(chunkqueue* cq, array* tempdirs);
// Creates an upload temporary file (read-write, mode 0600, close-on-exec) in
// the first upload folder that takes one, or without folders as
// "/var/tmp/webserver-upload-XXXXXX" under the data root; appends a file
// chunk of length 0 for it, descriptor open, and publishes the path. A chunk
// whose fd is -1 means no file could be created.
chunk* chunkqueue_get_append_tempfile(chunkqueue* cq);

// Text lengths of memory chunks plus lengths of file chunks, consumed bytes
// included.
http_off_t chunkqueue_length(const chunkqueue* cq);
// Bytes consumed over all chunks.
http_off_t chunkqueue_written(const chunkqueue* cq);
int chunkqueue_is_empty(const chunkqueue* cq);
// Drops finished chunks from the front up to the first unfinished one, into
// the pool while it has room, else freed.
int chunkqueue_remove_finished_chunks(chunkqueue* cq);

}  // extern "C"

}  // namespace hx

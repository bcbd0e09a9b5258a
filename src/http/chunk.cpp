// Chunks and chunk queues: building, consuming and recycling them.
#include "http/chunk.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "http/failed_assert.h"

namespace hx {

namespace {

http_off_t text_length(const buffer* b) {
    return b->used == 0 ? 0 : static_cast<http_off_t>(b->used - 1);
}

// Totals are 32-bit like every offset of the server; a queue of several
// large file ranges stops at the largest value instead of wrapping.
http_off_t clamp_total(std::int64_t total) {
    return total > INT32_MAX ? INT32_MAX : static_cast<http_off_t>(total);
}

bool chunk_is_finished(const chunk* c) {
    switch (c->type) {
        case MEM_CHUNK:
            return c->mem->used == 0 || c->offset == text_length(c->mem);
        case FILE_CHUNK:
            return c->offset == c->file.length;
        case UNUSED_CHUNK:
            break;
    }
    return true;
}

void mark_consumed(chunk* c) {
    switch (c->type) {
        case MEM_CHUNK:
            c->offset = text_length(c->mem);
            break;
        case FILE_CHUNK:
            c->offset = c->file.length;
            break;
        case UNUSED_CHUNK:
            break;
    }
}

// A spare chunk made ready to carry memory.
chunk* memory_chunk(chunkqueue* cq) {
    chunk* c = chunkqueue_get_unused_chunk(cq);
    c->type = MEM_CHUNK;
    c->offset = 0;
    buffer_reset(c->mem);
    return c;
}

// A copy of the buffer's text as a memory chunk, put where `place` puts it;
// a buffer without storage adds nothing.
int AddBufferCopy(chunkqueue* cq, const buffer* mem, int (*place)(chunkqueue*, chunk*)) {
    if (cq == nullptr || mem == nullptr) {
        return -1;
    }
    if (mem->used == 0) {
        return 0;
    }
    chunk* c = memory_chunk(cq);
    buffer_copy_string_buffer(c->mem, mem);
    return place(cq, c);
}

}  // namespace

extern "C" {

chunk* chunk_init(void) {
    auto* c = static_cast<chunk*>(std::calloc(1, sizeof(chunk)));
    HTTP_ASSERT(c);
    c->mem = buffer_init();
    c->file.name = buffer_init();
    c->file.fd = -1;
    c->file.mmap.start = static_cast<char*>(MAP_FAILED);
    return c;
}

int chunk_reset(chunk* c) {
    if (c == nullptr) {
        return -1;
    }
    if (c->file.fd != -1) {
        close(c->file.fd);
        c->file.fd = -1;
    }
    if (c->file.mmap.start != static_cast<char*>(MAP_FAILED)) {
        munmap(c->file.mmap.start, c->file.mmap.length);
        c->file.mmap.start = static_cast<char*>(MAP_FAILED);
    }
    c->file.mmap.length = 0;
    c->file.mmap.offset = 0;
    // The upload's consumer has read the file by the time its request ends;
    // kept, every upload would leave its file behind until the disk fills.
    if (c->file.is_temp != 0 && c->file.name->used > 1) {
        unlink(c->file.name->ptr);
    }
    c->file.is_temp = 0;
    c->file.start = 0;
    c->file.length = 0;
    c->offset = 0;
    c->type = UNUSED_CHUNK;
    buffer_reset(c->mem);
    buffer_reset(c->file.name);
    return 0;
}

void chunk_free(chunk* c) {
    if (c == nullptr) {
        return;
    }
    chunk_reset(c);
    buffer_free(c->mem);
    buffer_free(c->file.name);
    std::free(c);
}

chunkqueue* chunkqueue_init(void) {
    auto* cq = static_cast<chunkqueue*>(std::calloc(1, sizeof(chunkqueue)));
    HTTP_ASSERT(cq);
    return cq;
}

void chunkqueue_free(chunkqueue* cq) {
    if (cq == nullptr) {
        return;
    }
    for (chunk* list : {cq->first, cq->unused}) {
        while (list != nullptr) {
            chunk* next = list->next;
            chunk_free(list);
            list = next;
        }
    }
    std::free(cq);
}

int chunkqueue_reset(chunkqueue* cq) {
    if (cq == nullptr) {
        return -1;
    }
    for (chunk* c = cq->first; c != nullptr; c = c->next) {
        mark_consumed(c);
    }
    chunkqueue_remove_finished_chunks(cq);
    cq->bytes_in = 0;
    cq->bytes_out = 0;
    return 0;
}

chunk* chunkqueue_get_unused_chunk(chunkqueue* cq) {
    HTTP_ASSERT(cq);
    if (cq->unused == nullptr) {
        return chunk_init();
    }
    chunk* c = cq->unused;
    cq->unused = c->next;
    c->next = nullptr;
    --cq->unused_chunks;
    return c;
}

int chunkqueue_append_chunk(chunkqueue* cq, chunk* c) {
    if (cq == nullptr || c == nullptr) {
        return -1;
    }
    c->next = nullptr;
    if (cq->last != nullptr) {
        cq->last->next = c;
    } else {
        cq->first = c;
    }
    cq->last = c;
    return 0;
}

int chunkqueue_prepend_chunk(chunkqueue* cq, chunk* c) {
    if (cq == nullptr || c == nullptr) {
        return -1;
    }
    c->next = cq->first;
    cq->first = c;
    if (cq->last == nullptr) {
        cq->last = c;
    }
    return 0;
}

int chunkqueue_append_file(chunkqueue* cq, const buffer* fn, http_off_t offset, http_off_t len) {
    if (cq == nullptr || fn == nullptr) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    chunk* c = chunkqueue_get_unused_chunk(cq);
    c->type = FILE_CHUNK;
    buffer_copy_string_buffer(c->file.name, fn);
    c->file.start = offset;
    c->file.length = len;
    c->offset = 0;
    return chunkqueue_append_chunk(cq, c);
}

int chunkqueue_append_buffer(chunkqueue* cq, const buffer* mem) {
    return AddBufferCopy(cq, mem, chunkqueue_append_chunk);
}

int chunkqueue_prepend_buffer(chunkqueue* cq, const buffer* mem) {
    return AddBufferCopy(cq, mem, chunkqueue_prepend_chunk);
}

int chunkqueue_append_buffer_weak(chunkqueue* cq, buffer* mem) {
    if (cq == nullptr || mem == nullptr) {
        return -1;
    }
    chunk* c = memory_chunk(cq);
    buffer_free(c->mem);
    c->mem = mem;
    return chunkqueue_append_chunk(cq, c);
}

int chunkqueue_append_mem(chunkqueue* cq, const char* mem, size_t len) {
    if (cq == nullptr) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    if (mem == nullptr) {
        return -1;
    }
    chunk* c = memory_chunk(cq);
    buffer_copy_string_len(c->mem, mem, len - 1);
    return chunkqueue_append_chunk(cq, c);
}

buffer* chunkqueue_get_append_buffer(chunkqueue* cq) {
    if (cq == nullptr) {
        return nullptr;
    }
    chunk* c = memory_chunk(cq);
    chunkqueue_append_chunk(cq, c);
    return c->mem;
}

buffer* chunkqueue_get_prepend_buffer(chunkqueue* cq) {
    if (cq == nullptr) {
        return nullptr;
    }
    chunk* c = memory_chunk(cq);
    chunkqueue_prepend_chunk(cq, c);
    return c->mem;
}

int chunkqueue_set_tempdirs(chunkqueue* cq, array* tempdirs) {
    if (cq == nullptr) {
        return -1;
    }
    cq->tempdirs = tempdirs;
    return 0;
}

http_off_t chunkqueue_length(const chunkqueue* cq) {
    if (cq == nullptr) {
        return 0;
    }
    std::int64_t length = 0;
    for (const chunk* c = cq->first; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK) {
            length += text_length(c->mem);
        } else if (c->type == FILE_CHUNK) {
            length += c->file.length;
        }
    }
    return clamp_total(length);
}

http_off_t chunkqueue_written(const chunkqueue* cq) {
    if (cq == nullptr) {
        return 0;
    }
    std::int64_t written = 0;
    for (const chunk* c = cq->first; c != nullptr; c = c->next) {
        if (c->type == MEM_CHUNK || c->type == FILE_CHUNK) {
            written += c->offset;
        }
    }
    return clamp_total(written);
}

int chunkqueue_is_empty(const chunkqueue* cq) {
    return cq == nullptr || cq->first == nullptr ? 1 : 0;
}

int chunkqueue_remove_finished_chunks(chunkqueue* cq) {
    if (cq == nullptr) {
        return -1;
    }
    while (cq->first != nullptr && chunk_is_finished(cq->first)) {
        chunk* c = cq->first;
        chunk_reset(c);
        cq->first = c->next;
        if (c == cq->last) {
            cq->last = nullptr;
        }
        if (cq->unused_chunks < kChunkqueueMaxUnused) {
            c->next = cq->unused;
            cq->unused = c;
            ++cq->unused_chunks;
        } else {
            chunk_free(c);
        }
    }
    return 0;
}

}  // extern "C"

}  // namespace hx

// The search for CR LF CR LF in a read queue. The position reached and the
// length of the partial match are kept by the caller, so each byte of a
// header is looked at once however many reads it takes to arrive; with the
// chunk the search stopped in kept too, the bytes already looked at are
// skipped without walking the chunk list.
#include "http/header_end.h"

namespace hx {

namespace {

constexpr char kTerminator[] = "\r\n\r\n";
constexpr int kTerminatorLength = 4;

}  // namespace

http_off_t http_header_end_find(const chunkqueue* cq, http_off_t* scanned, int* matched) {
    return http_header_end_find(cq, scanned, matched, nullptr);
}

http_off_t http_header_end_find(const chunkqueue* cq, http_off_t* scanned, int* matched,
                                http_header_end_resume* resume) {
    http_off_t skip = *scanned;
    int match = *matched;
    http_off_t position = 0;  // bytes from the read position before the current chunk
    const chunk* start = cq->first;
    if (resume != nullptr && resume->at != nullptr && cq->first != nullptr && resume->first == cq->first &&
        resume->first_offset == cq->first->offset && skip >= resume->at_position) {
        start = resume->at;
        position = resume->at_position;
        skip -= position;
    }
    // The last chunk with bytes that the search reached, and its position.
    const chunk* reached = nullptr;
    http_off_t reached_position = 0;
    for (const chunk* c = start; c != nullptr; c = c->next) {
        // Only memory chunks arrive from a socket; nothing past another kind
        // can be searched.
        if (c->type != MEM_CHUNK) {
            break;
        }
        if (c->mem->used == 0) {
            continue;
        }
        const char* bytes = c->mem->ptr + c->offset;
        const http_off_t available = static_cast<http_off_t>(c->mem->used - 1) - c->offset;
        if (available <= 0) {
            continue;
        }
        reached = c;
        reached_position = position;
        if (skip >= available) {
            skip -= available;
            position += available;
            continue;
        }
        for (http_off_t i = skip; i < available; ++i) {
            const char byte = bytes[i];
            if (byte == kTerminator[match]) {
                ++match;
                if (match == kTerminatorLength) {
                    *scanned = position + i + 1;
                    *matched = match;
                    if (resume != nullptr) {
                        *resume = {};
                    }
                    return position + i + 1;
                }
            } else {
                // The only way to restart inside the terminator is its CR.
                match = byte == '\r' ? 1 : 0;
            }
        }
        skip = 0;
        position += available;
    }
    *scanned = position > *scanned ? position : *scanned;
    *matched = match;
    if (resume != nullptr) {
        *resume = {};
        if (reached != nullptr) {
            *resume = {reached, reached_position, cq->first, cq->first->offset};
        }
    }
    return 0;
}

}  // namespace hx

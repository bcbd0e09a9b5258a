// The search for the end of a request header (CR LF CR LF) in a connection's
// read queue, across chunk borders, resuming where the previous search of the
// same header stopped.
//
// HTTP server thread only.
#pragma once

#include "http/chunk.h"
#include "http/http_base.h"

namespace hx {

// Looks for CR LF CR LF from the queue's read position. `scanned` and
// `matched` carry the search between calls (both 0 for a new header; the
// caller clears them when it takes a header out of the queue). Returns the
// header's length from the read position, terminator included, or 0 while
// it is not complete.
http_off_t http_header_end_find(const chunkqueue* cq, http_off_t* scanned, int* matched);
// The same, starting where the previous search stopped when `resume` (which
// it updates; null is accepted) still holds: a header arriving in many small
// reads then costs the same per byte however many chunks it spans.
http_off_t http_header_end_find(const chunkqueue* cq, http_off_t* scanned, int* matched,
                                http_header_end_resume* resume);

}  // namespace hx

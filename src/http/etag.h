// Entity tags of files: built from inode, size and modification time as the
// connection's flags choose, compared, and turned into the quoted header
// value. Pure functions; any thread.
#pragma once

#include <sys/stat.h>

#include "http/buffer.h"

namespace hx {

extern "C" {

enum etag_flags_t {
    ETAG_USE_INODE = 1,
    ETAG_USE_MTIME = 2,
    ETAG_USE_SIZE = 4,
};

int etag_is_equal(buffer* etag, const char* matches);
int etag_create(buffer* etag, struct stat* st, etag_flags_t flags);
int etag_mutate(buffer* mut, buffer* etag);

}  // extern "C"

}  // namespace hx

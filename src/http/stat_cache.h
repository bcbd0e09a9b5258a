// The response builder's cache of file status, content types and ETags,
// kept in a splay tree keyed by a hash of the path; entries older than two
// seconds are dropped by the once-a-second cleanup. A failed lookup is kept
// too (its errno), and a small regular file's bytes once a writer asked for
// them; both only for the second the entry was taken in, like the status.
//
// HTTP server thread only; nothing here is locked.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>

#include "http/http_base.h"

namespace hx {

extern "C" {

struct tree_node {
    tree_node* left;
    tree_node* right;
    int key;
    int size;  // nodes in this subtree
    void* data;
};

struct stat_cache_entry {
    buffer* name;
    buffer* etag;
    struct stat st;
    std::time_t stat_ts;
    char is_symlink;
    buffer* content_type;
    // 0 for a found path; else the errno its lookup failed with, handed out
    // again while the entry is fresh (st, etag and content_type are empty).
    int stat_errno;
    // The file's bytes (used - 1 == st.st_size) once loaded by
    // stat_cache_entry_content; null before, and dropped with the entry or
    // when it is taken again.
    buffer* content;
    // Set when loading was tried this second, so a file that cannot be kept
    // is not read again on every request.
    char content_tried;
};

struct stat_cache {
    tree_node* files;
    buffer* dir_name;
    buffer* hash_key;
    size_t content_bytes;  // file bytes held by all entries
};

stat_cache* stat_cache_init(void);
// Releases the cache; null is accepted.
void stat_cache_free(stat_cache* sc);
// HANDLER_GO_ON with the entry, or HANDLER_ERROR with errno set.
handler_t stat_cache_get_entry(server* srv, connection* con, buffer* name, stat_cache_entry** fce);
// Once a second from the main loop; 0.
int stat_cache_trigger_cleanup(server* srv);

tree_node* splaytree_splay(tree_node* t, int key);
tree_node* splaytree_insert(tree_node* t, int key, void* data);
tree_node* splaytree_delete(tree_node* t, int key);

}  // extern "C"

// A file larger than this is never kept in memory.
constexpr std::int64_t kStatCacheContentMaxFile = 64 * 1024;
// All kept file bytes together stay within this.
constexpr size_t kStatCacheContentMaxTotal = 2 * 1024 * 1024;

// The bytes of a fresh entry's regular file, read on the first call within
// the entry's second (one open, fstat, read and close) and kept with it; null
// when the file is too large, the budget is spent, the cache is disabled, or
// the file no longer matches the entry's status (the caller then reads the file itself).
const buffer* stat_cache_entry_content(server* srv, stat_cache_entry* sce);

}  // namespace hx

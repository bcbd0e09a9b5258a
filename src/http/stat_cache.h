// The response builder's cache of file status, content types and ETags,
// kept in a splay tree keyed by a hash of the path; entries older than two
// seconds are dropped by the once-a-second cleanup.
//
// HTTP server thread only; nothing here is locked.
#pragma once

#include <sys/stat.h>

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
};

struct stat_cache {
    tree_node* files;
    buffer* dir_name;
    buffer* hash_key;
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

}  // namespace hx

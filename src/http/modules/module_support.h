// What the web server modules share: reaching the configuration blocks and
// the server's records. Header-only, so every module stays one shared object
// that binds to nothing but the program's exported routines and libc (no C++
// runtime: modules allocate with calloc and keep no statics).
//
// A module's state lives in the data record its init returns, one per loaded
// instance, so a module listed twice runs as two independent instances.
#pragma once

#include <cstddef>

#include "http/array.h"
#include "http/config_keys.h"
#include "http/http_base.h"

namespace hx::modules {

inline size_t config_block_count(const server* srv) {
    return srv->config_context->used;
}

inline data_config* config_block(const server* srv, size_t index) {
    return static_cast<data_config*>(srv->config_context->data[index]);
}

// True when the block names `key` itself (exact spelling, as the core's own
// settings are patched), so its value overrides the blocks before it.
inline bool block_sets(const data_config* block, const char* key, size_t key_length) {
    const array* settings = block->value;
    for (size_t i = 0; i < settings->used; ++i) {
        if (buffer_is_equal_string(settings->data[i]->key, key, key_length)) {
            return true;
        }
    }
    return false;
}

// The request path ends in '/': a directory was asked for.
inline bool names_directory(const buffer* path) {
    return !buffer_is_empty(path) && path->ptr[path->used - 2] == '/';
}

}  // namespace hx::modules

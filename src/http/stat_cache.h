// The response builder's cache of file status and ETags.
//
// Only the release needed by server_free is here yet; the cache comes with
// the response builder. HTTP server thread only.
#pragma once

#include "http/http_base.h"

namespace hx {

extern "C" {

// Releases the cache; null is accepted. No cache is created yet, so there is
// never anything else to release.
void stat_cache_free(struct stat_cache* sc);

}  // extern "C"

}  // namespace hx

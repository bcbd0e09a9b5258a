#include "http/stat_cache.h"

namespace hx {

extern "C" void stat_cache_free(struct stat_cache*) {}

}  // namespace hx

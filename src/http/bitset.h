// A fixed-size bit set for plugins: bit i is bit (i mod 32) of word i / 32.
// HTTP server thread only; nothing is locked. A position at or beyond
// `nbits` is a broken precondition and ends the process (log_failed_assert).
#pragma once

#include <cstddef>
#include <cstdint>

namespace hx {

struct bitset {
    std::uint32_t* bits;
    size_t nbits;
};

extern "C" {

bitset* bitset_init(size_t nbits);
void bitset_reset(bitset* set);
void bitset_free(bitset* set);
// Both return 1.
int bitset_set_bit(bitset* set, size_t pos);
int bitset_clear_bit(bitset* set, size_t pos);
// 0 or 1.
int bitset_test_bit(const bitset* set, size_t pos);

}  // extern "C"

}  // namespace hx

#include "http/bitset.h"

#include <cstdlib>
#include <cstring>

#include "http/failed_assert.h"

namespace hx {

namespace {

constexpr size_t kWordBits = 32;

size_t words_for(size_t nbits) {
    return (nbits + kWordBits - 1) / kWordBits;
}

void check_position(const bitset* set, size_t pos) {
    if (pos >= set->nbits) {
        HTTP_ABORT();
    }
}

}  // namespace

extern "C" {

bitset* bitset_init(size_t nbits) {
    auto* set = static_cast<bitset*>(std::calloc(1, sizeof(bitset)));
    HTTP_ASSERT(set);
    // One word at least, so an empty set still owns storage to free.
    set->bits = static_cast<std::uint32_t*>(std::calloc(words_for(nbits) + (nbits == 0 ? 1 : 0), sizeof(std::uint32_t)));
    HTTP_ASSERT(set->bits);
    set->nbits = nbits;
    return set;
}

void bitset_reset(bitset* set) {
    std::memset(set->bits, 0, words_for(set->nbits) * sizeof(std::uint32_t));
}

void bitset_free(bitset* set) {
    if (set == nullptr) {
        return;
    }
    std::free(set->bits);
    std::free(set);
}

int bitset_set_bit(bitset* set, size_t pos) {
    check_position(set, pos);
    set->bits[pos / kWordBits] |= std::uint32_t{1} << (pos % kWordBits);
    return 1;
}

int bitset_clear_bit(bitset* set, size_t pos) {
    check_position(set, pos);
    set->bits[pos / kWordBits] &= ~(std::uint32_t{1} << (pos % kWordBits));
    return 1;
}

int bitset_test_bit(const bitset* set, size_t pos) {
    check_position(set, pos);
    return (set->bits[pos / kWordBits] >> (pos % kWordBits)) & 1U;
}

}  // extern "C"

}  // namespace hx

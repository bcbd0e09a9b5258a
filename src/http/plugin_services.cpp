// Services the program offers its modules and nothing inside it calls: the
// named status counters and the CRC of generate_crc32c.
#include <array>
#include <cstdint>
#include <string>

#include "http/plugin.h"

namespace hx {

namespace {

// The reflected IEEE 802.3 table (polynomial 0xEDB88320), built at compile
// time.
constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

}  // namespace

extern "C" {

data_integer* status_counter_get_counter(server* srv, const char* s, size_t len) {
    // The array looks keys up by text; the name arrives as a length.
    const std::string name(s, len);
    auto* counter = static_cast<data_integer*>(array_get_element(srv->status, name.c_str()));
    if (counter != nullptr) {
        return counter;
    }
    counter = static_cast<data_integer*>(array_get_unused_element(srv->status, TYPE_INTEGER));
    if (counter == nullptr) {
        counter = data_integer_init();
    }
    buffer_copy_string_len(counter->key, s, len);
    counter->value = 0;
    array_insert_unique(srv->status, counter);
    return counter;
}

int status_counter_inc(server* srv, const char* s, size_t len) {
    ++status_counter_get_counter(srv, s, len)->value;
    return 0;
}

int status_counter_dec(server* srv, const char* s, size_t len) {
    data_integer* counter = status_counter_get_counter(srv, s, len);
    if (counter->value > 0) {
        --counter->value;
    }
    return 0;
}

int status_counter_set(server* srv, const char* s, size_t len, int val) {
    status_counter_get_counter(srv, s, len)->value = val;
    return 0;
}

std::uint32_t generate_crc32c(const char* string, size_t length) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(string[i]);
        crc = kCrcTable[(crc ^ byte) & 0xFFU] ^ (crc >> 8);
    }
    return ~crc;
}

}  // extern "C"

}  // namespace hx

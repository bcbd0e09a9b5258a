// The MD5 message digest (RFC 1321) over the exported context record.
#include "http/md5.h"

#include <cstring>

namespace hx {

namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotations of the four rounds, four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::uint32_t rotate_left(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Words are little-endian whatever the host, so a digest is the same on the
// card and on a PC.
std::uint32_t load_le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_le32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void transform(std::uint32_t state[4], const unsigned char block[64]) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = load_le32(block + 4 * i);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        std::uint32_t f = 0;
        int word = 0;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            word = i;
            break;
        case 1:
            f = (b & d) | (c & ~d);
            word = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            word = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            word = (7 * i) % 16;
            break;
        }
        const std::uint32_t next = b + rotate_left(a + f + kSine[i] + x[word], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

extern "C" {

void li_MD5_Init(li_MD5_CTX* context) {
    context->count[0] = 0;
    context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void li_MD5_Update(li_MD5_CTX* context, const void* input, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(input);
    size_t index = (context->count[0] >> 3) & 0x3F;
    // The bit count is 64 bits wide in two words; lengths beyond 2^29 bytes
    // carry into the high word.
    const auto bits = static_cast<std::uint64_t>(length) << 3;
    const std::uint32_t low = context->count[0] + static_cast<std::uint32_t>(bits);
    context->count[1] += static_cast<std::uint32_t>(bits >> 32) + (low < context->count[0] ? 1U : 0U);
    context->count[0] = low;

    const size_t room = 64 - index;
    size_t i = 0;
    if (length >= room) {
        std::memcpy(context->buffer + index, bytes, room);
        transform(context->state, context->buffer);
        for (i = room; i + 63 < length; i += 64) {
            transform(context->state, bytes + i);
        }
        index = 0;
    }
    if (length > i) {
        std::memcpy(context->buffer + index, bytes + i, length - i);
    }
}

void li_MD5_Final(unsigned char digest[16], li_MD5_CTX* context) {
    unsigned char length_bytes[8];
    store_le32(length_bytes, context->count[0]);
    store_le32(length_bytes + 4, context->count[1]);
    static constexpr unsigned char kPadding[64] = {0x80};
    const size_t index = (context->count[0] >> 3) & 0x3F;
    const size_t pad = index < 56 ? 56 - index : 120 - index;
    li_MD5_Update(context, kPadding, pad);
    li_MD5_Update(context, length_bytes, 8);
    for (int i = 0; i < 4; ++i) {
        store_le32(digest + 4 * i, context->state[i]);
    }
    // The context may hold key material (digest authentication).
    std::memset(context, 0, sizeof(*context));
}

}  // extern "C"

}  // namespace hx

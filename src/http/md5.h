// The MD5 message digest, exported for modules and used by the
// authentication routines. Pure functions of their context; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hx {

extern "C" {

struct li_MD5_CTX {
    std::uint32_t state[4];
    std::uint32_t count[2];  // bits hashed, low word first
    unsigned char buffer[64];
};

void li_MD5_Init(li_MD5_CTX* context);
void li_MD5_Update(li_MD5_CTX* context, const void* input, size_t length);
void li_MD5_Final(unsigned char digest[16], li_MD5_CTX* context);

}  // extern "C"

}  // namespace hx

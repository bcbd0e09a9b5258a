// PSI sections written the plain way for tests and benchmarks, independently
// of the section builders under test.
#pragma once

#include <cstddef>
#include <vector>

#include "core/common_fun.h"
#include "core/types.h"

namespace hx::test {

// A long-form section (PAT, PMT, ...) of `bytes` bytes in all, CRC included:
// table_id, section_length, extension, version 0, number, last, then filler.
inline std::vector<U8> LongSection(U8 tableId, U16 extension, U8 number, U8 last, std::size_t bytes) {
    std::vector<U8> section(bytes, 0);
    const std::size_t length = bytes - 3;
    section[0] = tableId;
    section[1] = static_cast<U8>(0xB0 | (length >> 8));
    section[2] = static_cast<U8>(length);
    PutBe16(&section[3], extension);
    section[5] = 0xC1;
    section[6] = number;
    section[7] = last;
    for (std::size_t i = 8; i + 4 < bytes; ++i) {
        section[i] = static_cast<U8>(i);
    }
    PutBe32(&section[bytes - 4], Common_CRC_Calculate(section.data(), static_cast<U32>(bytes - 4), kCrcInitMpeg2));
    return section;
}

}  // namespace hx::test

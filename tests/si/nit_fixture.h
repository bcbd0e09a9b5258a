// NIT sections written the plain way for the tests, independently of the
// codec under test: header, network loop, transport-stream loop, CRC.
#pragma once

#include <algorithm>
#include <vector>

#include "core/common_fun.h"
#include "core/types.h"

namespace hx::test {

struct NitEntrySpec {
    U16 tsid = 0;
    U16 onid = 0;
    std::vector<U8> descriptors;
    bool operator==(const NitEntrySpec&) const = default;
};

// A descriptor: tag, length, `length` bytes counting up from `first`.
inline std::vector<U8> Descriptor(U8 tag, std::size_t length, U8 first = 0) {
    std::vector<U8> bytes = {tag, static_cast<U8>(length)};
    for (std::size_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<U8>(first + i));
    }
    return bytes;
}

inline std::vector<U8> Concat(std::initializer_list<std::vector<U8>> parts) {
    std::vector<U8> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// No 12-bit limit is enforced here, so tests can build what must be refused.
inline std::vector<U8> NitSection(U16 networkId, U8 version, U8 number, U8 last, const std::vector<U8>& network,
                                  const std::vector<NitEntrySpec>& entries) {
    std::vector<U8> loop;
    for (const NitEntrySpec& entry : entries) {
        loop.push_back(static_cast<U8>(entry.tsid >> 8));
        loop.push_back(static_cast<U8>(entry.tsid));
        loop.push_back(static_cast<U8>(entry.onid >> 8));
        loop.push_back(static_cast<U8>(entry.onid));
        loop.push_back(static_cast<U8>(0xF0 | (entry.descriptors.size() >> 8)));
        loop.push_back(static_cast<U8>(entry.descriptors.size()));
        loop.insert(loop.end(), entry.descriptors.begin(), entry.descriptors.end());
    }
    const std::size_t sectionLength = 13 + network.size() + loop.size();
    std::vector<U8> section = {0x40,
                               static_cast<U8>(0xF0 | ((sectionLength >> 8) & 0x0F)),
                               static_cast<U8>(sectionLength),
                               static_cast<U8>(networkId >> 8),
                               static_cast<U8>(networkId),
                               static_cast<U8>(0xC1 | (version << 1)),
                               number,
                               last,
                               static_cast<U8>(0xF0 | (network.size() >> 8)),
                               static_cast<U8>(network.size())};
    section.insert(section.end(), network.begin(), network.end());
    section.push_back(static_cast<U8>(0xF0 | (loop.size() >> 8)));
    section.push_back(static_cast<U8>(loop.size()));
    section.insert(section.end(), loop.begin(), loop.end());
    const U32 crc = Common_CRC_Calculate(section.data(), static_cast<U32>(section.size()), kCrcInitMpeg2);
    for (int i = 3; i >= 0; --i) {
        section.push_back(static_cast<U8>(crc >> (8 * i)));
    }
    return section;
}

// Entries with descriptor loops of the given lengths, ids counting from 0x100.
inline std::vector<NitEntrySpec> Entries(const std::vector<std::size_t>& descriptorBytes) {
    std::vector<NitEntrySpec> entries;
    for (std::size_t i = 0; i < descriptorBytes.size(); ++i) {
        std::vector<U8> loop;
        if (descriptorBytes[i] >= 2) {
            // One private descriptor of that many bytes in all (at most 257).
            std::size_t left = descriptorBytes[i];
            while (left >= 2) {
                const std::size_t body = std::min<std::size_t>(left - 2, 255);
                const std::size_t rest = left - 2 - body;
                const std::size_t take = rest == 1 ? body - 1 : body;
                const auto d = Descriptor(0x83, take, static_cast<U8>(i));
                loop.insert(loop.end(), d.begin(), d.end());
                left -= 2 + take;
            }
        }
        entries.push_back({static_cast<U16>(0x100 + i), static_cast<U16>(0x200 + i), loop});
    }
    return entries;
}

}  // namespace hx::test

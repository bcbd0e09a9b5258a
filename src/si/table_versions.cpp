#include "si/table_versions.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "core/common_fun.h"
#include "si/section_codec.h"

namespace hx {

namespace {

// table_id, section_syntax_indicator and length, table_id_extension, version,
// section numbers: the long-form header; then at least the CRC.
constexpr U32 kLongHeaderBytes = 8;
constexpr U32 kCrcBytes = 4;
constexpr U8 kVersionBits = 0x3E;
constexpr std::uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ull;

struct Sent {
    U8 version;
    std::uint64_t digest;
    std::uint64_t sequence;  // when it was last sent
};

std::mutex s_mutex;
std::map<std::uint64_t, Sent> s_sent;
std::uint64_t s_sequence = 0;

std::uint64_t KeyOf(U16 channel, U8 tableId, U16 extension) {
    return (std::uint64_t{channel} << 24) | (std::uint64_t{tableId} << 16) | extension;
}

void Mix(std::uint64_t& digest, U8 byte) {
    digest ^= byte;
    digest *= kFnvPrime;
}

U8 Next(U8 version) { return static_cast<U8>((version + 1) % 32); }

}  // namespace

std::optional<SettledTable> SIVersion_Settle(U16 u16Channel, U8* pu8Sections, U32 u32Length, U8 u8ModelVersion,
                                             bool bChangeFlag) {
    if (pu8Sections == nullptr || u32Length < kLongHeaderBytes + kCrcBytes) {
        return std::nullopt;
    }
    std::uint64_t digest = kFnvOffset;
    for (U32 at = 0; at < u32Length;) {
        if (u32Length - at < 3) {
            return std::nullopt;
        }
        const U8* section = pu8Sections + at;
        const U32 bytes = SIP_SectionBytes(section);
        if ((section[1] & 0x80) == 0 || bytes < kLongHeaderBytes + kCrcBytes || bytes > u32Length - at) {
            return std::nullopt;
        }
        for (U32 i = 0; i < bytes - kCrcBytes; ++i) {
            Mix(digest, i == 5 ? static_cast<U8>(section[i] & ~kVersionBits) : section[i]);
        }
        at += bytes;
    }
    SettledTable table;
    table.u16Channel = u16Channel;
    table.u8TableId = pu8Sections[0];
    table.u16Extension = GetBe16(pu8Sections + 3);
    table.u64Digest = digest;
    {
        std::lock_guard lock(s_mutex);
        const auto sent = s_sent.find(KeyOf(u16Channel, table.u8TableId, table.u16Extension));
        if (sent == s_sent.end()) {
            const U8 model = static_cast<U8>(u8ModelVersion & 0x1F);
            table.u8Version = bChangeFlag ? Next(model) : model;
        } else {
            // What receivers hold decides: a raised flag over unchanged bytes
            // would make them read the same table again for nothing.
            const bool changed = sent->second.digest != digest;
            table.u8Version = changed ? Next(sent->second.version) : sent->second.version;
        }
    }
    for (U32 at = 0; at < u32Length;) {
        U8* section = pu8Sections + at;
        const U16 bytes = SIP_SectionBytes(section);
        section[5] = static_cast<U8>((section[5] & ~kVersionBits) | (table.u8Version << 1));
        SIP_SealSection(section, bytes);
        at += bytes;
    }
    return table;
}

void SIVersion_Sent(const SettledTable& table) {
    std::lock_guard lock(s_mutex);
    s_sent[KeyOf(table.u16Channel, table.u8TableId, table.u16Extension)] = {table.u8Version, table.u64Digest,
                                                                             ++s_sequence};
    if (s_sent.size() > kSIVersionMaxEntries) {
        // Every table on air is sent again on every apply, so a table gone
        // for good is the least recently sent; 16 channels of 300 PMTs and
        // their other tables stay well below the bound.
        s_sent.erase(std::min_element(s_sent.begin(), s_sent.end(), [](const auto& a, const auto& b) {
            return a.second.sequence < b.second.sequence;
        }));
    }
}

void SIVersion_Reset() {
    std::lock_guard lock(s_mutex);
    s_sent.clear();
}

}  // namespace hx

// Fuzzes the NIT and TOT sections that arrive from input cards and import
// files: the NIT parse, the merge of back-to-back sections and the split of
// the merged one, the TOT parse, and the import's section count. Every input
// is copied to a heap block of exactly its size, so AddressSanitizer sees any
// read past it. A merge that succeeds must split into sections of at most
// 1,024 bytes that hold the merged entries again, in order.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "core/log.h"
#include "si/nit_storage.h"
#include "si/section_codec.h"

namespace {

using hx::U16;
using hx::U32;
using hx::U8;

// The entries of a section as (tsid, onid, descriptor bytes).
std::vector<std::vector<U8>> EntryBytes(const U8* section, const hx::NitLayout& layout) {
    std::vector<std::vector<U8>> entries;
    for (const hx::NitEntryView& entry : layout.entries) {
        entries.emplace_back(section + entry.offset, section + entry.offset + 6 + entry.descriptorsLength);
    }
    return entries;
}

void MergeAndSplit(const std::vector<U8>& input) {
    auto in = std::make_unique<hx::NITBuf_t>();
    auto merged = std::make_unique<hx::NITBuf_t>();
    in->u16NITLength = static_cast<U16>(input.size());
    in->u32OutputNITSectionOffset = in->u16NITLength;
    std::copy(input.begin(), input.end(), in->aru8OutputNITSection);
    if (hx::SIP_ConstructBigNITSection(in.get(), merged.get()) != 0) {
        return;
    }
    if (merged->u16NITLength > 4098) {
        std::abort();
    }
    // Exactly the merged bytes, then an output block the split is told the size of.
    std::vector<U8> section(merged->aru8OutputNITSection, merged->aru8OutputNITSection + merged->u16NITLength);
    const std::optional<hx::NitLayout> layout = hx::SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
    // Mostly room for any split; sometimes a block too small for it.
    std::vector<U8> out((input.empty() || (input.back() & 1) == 0) ? hx::kNitBufBytes : 1 + input.back() * 8u);
    U16 length = 0;
    if (hx::SIP_SplitNITSection(section.data(), static_cast<U16>(section.size()), static_cast<U16>(out.size()),
                                out.data(), &length) != 0 ||
        !layout) {
        return;
    }
    if (length > out.size()) {
        std::abort();
    }
    std::vector<std::vector<U8>> entries;
    for (U32 at = 0; at < length;) {
        const std::optional<hx::NitLayout> part = hx::SIP_NITLayout(out.data() + at, length - at);
        if (!part || part->bytes > hx::kSectionMaxBytes) {
            std::abort();
        }
        const auto some = EntryBytes(out.data() + at, *part);
        entries.insert(entries.end(), some.begin(), some.end());
        at += part->bytes;
    }
    if (entries != EntryBytes(section.data(), *layout)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > hx::kNitBufBytes) {
        return 0;
    }
    const std::vector<U8> input(data, data + size);
    const U16 length = static_cast<U16>(size);

    auto table = std::make_unique<hx::NITTable_t>();
    hx::SIP_ParseNIT(input.data(), length, table.get(), 0);
    if (table->u16TPNumber > hx::kNitEntries || table->u16NetworkInfoLen > hx::kNitDescriptorBytes) {
        std::abort();
    }

    MergeAndSplit(input);

    std::vector<U8> out(size);
    U16 splitLength = 0;
    if (hx::SIP_SplitNITSection(input.data(), length, length, out.data(), &splitLength) == 0 && splitLength > size) {
        std::abort();
    }

    hx::TOTTable_t tot{};
    hx::SIP_ParseTOT(input.data(), length, &tot, 0);

    const U32 count = hx::TSP_GetImportNITSectionCnt(input.data(), static_cast<U32>(size));
    if (count > size / 3) {
        std::abort();
    }
    return 0;
}

#include "si/nit_edit.h"

#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "si/nit_storage.h"

namespace hx {

namespace {

constexpr std::size_t kEntryHeaderBytes = 6;
constexpr std::size_t kDescriptorHeaderBytes = 2;
constexpr std::size_t kNetworkLoopStart = kNitNetworkLoopAt + 2;

// Adds `delta` to the 12-bit length field at `at`.
void GrowLength12(std::vector<U8>& section, std::size_t at, int delta) {
    SIP_SetLength12(section.data() + at, static_cast<U16>(SIP_Length12(section.data() + at) + delta));
}

// Inserts or removes bytes inside the transport-stream loop (or, with
// `inNetworkLoop`, the network loop) and keeps section_length and the loop's
// length field consistent. Entry lengths are the caller's.
void Splice(std::vector<U8>& section, const NitLayout& layout, bool inNetworkLoop, std::size_t at,
            std::size_t eraseBytes, std::span<const U8> insert) {
    const int delta = static_cast<int>(insert.size()) - static_cast<int>(eraseBytes);
    section.erase(section.begin() + static_cast<std::ptrdiff_t>(at),
                  section.begin() + static_cast<std::ptrdiff_t>(at + eraseBytes));
    section.insert(section.begin() + static_cast<std::ptrdiff_t>(at), insert.begin(), insert.end());
    // A change in the network loop lies before the transport-stream loop's
    // length field, a change in that loop behind it: neither field moves.
    GrowLength12(section, inNetworkLoop ? kNitNetworkLoopAt : layout.loopLengthAt, delta);
    GrowLength12(section, 1, delta);
}

// The descriptor `index` of a loop: offset and whole size, or nullopt when
// the loop has fewer (or a descriptor runs past the loop).
std::optional<std::pair<std::size_t, std::size_t>> FindDescriptor(const std::vector<U8>& section, std::size_t start,
                                                                  std::size_t length, U32 index) {
    const std::size_t end = start + length;
    U32 seen = 0;
    for (std::size_t at = start; at + kDescriptorHeaderBytes <= end;) {
        const std::size_t bytes = kDescriptorHeaderBytes + section[at + 1];
        if (at + bytes > end) {
            return std::nullopt;
        }
        if (seen == index) {
            return std::make_pair(at, bytes);
        }
        ++seen;
        at += bytes;
    }
    return std::nullopt;
}

std::vector<U8> DescriptorBytes(const dvbpsi_descriptor_t& descriptor) {
    std::vector<U8> bytes(kDescriptorHeaderBytes + descriptor.i_length);
    bytes[0] = descriptor.i_tag;
    bytes[1] = descriptor.i_length;
    std::memcpy(bytes.data() + kDescriptorHeaderBytes, descriptor.auc_data, descriptor.i_length);
    return bytes;
}

// What the next merge and parse must be able to hold again.
U32 CheckEditedSection(const char* function, const std::vector<U8>& section, std::optional<NitLayout>& layout) {
    // The bytes are the truth: a 12-bit field that overflowed no longer tells.
    if (section.size() - 3 > kMergedMaxLength) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT section_length[%zu] over %u\n",
                  section.size() - 3, kMergedMaxLength);
        return kTspErrRange;
    }
    layout = SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
    if (!layout || layout->bytes != section.size()) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "edited NIT section is malformed\n");
        return kTspErrInput;
    }
    if (layout->networkLength > kNitDescriptorBytes || layout->entries.size() > kNitEntries) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "NIT network loop[%u] or entries[%zu] out of range\n", layout->networkLength, layout->entries.size());
        return kTspErrRange;
    }
    for (const NitEntryView& entry : layout->entries) {
        if (entry.descriptorsLength > kNitDescriptorBytes) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT entry descriptors[%u] out of range\n",
                      entry.descriptorsLength);
            return kTspErrRange;
        }
    }
    return 0;
}

// Sections to records and into the temporary model, as the channel's NIT.
U32 StoreTemporaryNIT(const char* function, U16 channel, const U8* sections, U32 length) {
    Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, channel);
    if (tsIndex == kChainEnd) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%u] has no output TS\n", channel);
        return kTspErrInput;
    }
    std::vector<TSTable> records;
    if (!TSP_SectionsToRecords(sections, length, kNitTableId, kNitTableType, 1, channel, tsIndex, records)) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NIT sections of channel[%u] are malformed\n",
                  channel);
        return kTspErrInput;
    }
    return TSP_ReplaceTableChain(model, tsIndex, TableChainHead::Nit, records);
}

// The position of entry `index`, or nullopt.
std::optional<NitEntryView> Entry(const NitLayout& layout, U32 index) {
    if (index >= layout.entries.size()) {
        return std::nullopt;
    }
    return layout.entries[index];
}

// Descriptor `index` of an entry's loop, or nullopt (also for no entry).
std::optional<std::pair<std::size_t, std::size_t>> EntryDescriptor(const std::vector<U8>& section,
                                                                   const std::optional<NitEntryView>& entry, U32 index) {
    if (!entry) {
        return std::nullopt;
    }
    return FindDescriptor(section, entry->offset + kEntryHeaderBytes, entry->descriptorsLength, index);
}

}  // namespace

U32 NIT_EditTemporary(const char* function, U16 u16Channel, const NitWhenMissing& missing, const NitSectionEdit& edit) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    if (tsIndex == kChainEnd) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%u] has no output TS\n", u16Channel);
        return kTspErrInput;
    }
    const auto gathered = std::make_unique<NITBuf_t>();
    gathered->u16NITLength = 0;
    gathered->u32OutputNITSectionOffset = 0;
    std::vector<U8> section;
    bool created = false;
    const U32 result = TSP_GetOutputNITTable(tsIndex, model, gathered.get());
    if (result == 1) {
        if (!missing.create) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%u] has no NIT\n", u16Channel);
            return missing.code;
        }
        const auto empty = SIP_EmptyNITSection(missing.networkId);
        section.assign(empty.begin(), empty.end());
        created = true;
    } else if (result != 0) {
        return result;
    } else {
        const auto merged = std::make_unique<NITBuf_t>();
        if (const U32 code = SIP_ConstructBigNITSection(gathered.get(), merged.get()); code != 0) {
            HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "SIP_ConstructBigNITSection channel[%u] fail[%X]\n", u16Channel, code);
            return code;
        }
        section.assign(merged->aru8OutputNITSection, merged->aru8OutputNITSection + merged->u16NITLength);
    }

    std::optional<NitLayout> layout;
    if (const U32 code = CheckEditedSection(function, section, layout); code != 0) {
        return code;
    }
    if (const U32 code = edit(section); code != 0) {
        return code;
    }
    if (const U32 code = CheckEditedSection(function, section, layout); code != 0) {
        return code;
    }
    std::vector<U8> split(kNitBufBytes);
    U16 splitLength = 0;
    if (const U32 code = SIP_SplitNITSection(section.data(), static_cast<U16>(section.size()),
                                             static_cast<U16>(split.size()), split.data(), &splitLength);
        code != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "SIP_SplitNITSection channel[%u] fail[%X]\n",
                  u16Channel, code);
        return code;
    }
    const U32 stored = StoreTemporaryNIT(function, u16Channel, split.data(), splitLength);
    if (stored != 0 && created) {
        return VK_ERR_SIP_NIT_NO_EXIST;
    }
    return stored;
}

U32 TSP_AddNIT(U16 u16Channel, const U8* pu8Sections, U16 u16Length) {
    if (pu8Sections == nullptr) {
        HX_LOG_AS(__func__, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    return StoreTemporaryNIT(__func__, u16Channel, pu8Sections, u16Length);
}

U32 TSP_AddNetworkDescriptor(U16 u16Channel, dvbpsi_descriptor_t stDescriptor) {
    return NIT_EditTemporary(__func__, u16Channel, {true, 0, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        Splice(section, layout, true, kNetworkLoopStart + layout.networkLength, 0, DescriptorBytes(stDescriptor));
        return U32{0};
    });
}

U32 TSP_DeleteNetworkDesc(U16 u16Channel, U32 u32NetworkDescIndex) {
    return NIT_EditTemporary(__func__, u16Channel, {false, kNitErrNothingDone, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const auto found = FindDescriptor(section, kNetworkLoopStart, layout.networkLength, u32NetworkDescIndex);
        if (!found) {
            HX_LOG_AS("TSP_DeleteNetworkDesc", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "no network descriptor[%u]\n",
                      u32NetworkDescIndex);
            return kNitErrNothingDone;
        }
        Splice(section, layout, true, found->first, found->second, {});
        return U32{0};
    });
}

U32 TSP_AddNIT_TS(U16 u16Channel, U16 u16TransportStreamID, U16 u16OriginalNetworkID) {
    return NIT_EditTemporary(__func__, u16Channel, {true, 0, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const U8 entry[kEntryHeaderBytes] = {static_cast<U8>(u16TransportStreamID >> 8),
                                             static_cast<U8>(u16TransportStreamID),
                                             static_cast<U8>(u16OriginalNetworkID >> 8),
                                             static_cast<U8>(u16OriginalNetworkID), 0xF0, 0x00};
        Splice(section, layout, false, layout.loopLengthAt + 2u + layout.loopLength, 0, entry);
        return U32{0};
    });
}

U32 TSP_DelOneTSOfNIT(U16 u16Channel, U32 u32NITTSIndex) {
    return NIT_EditTemporary(__func__, u16Channel, {false, kNitErrNothingDone, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const auto entry = Entry(layout, u32NITTSIndex);
        if (!entry) {
            HX_LOG_AS("TSP_DelOneTSOfNIT", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "no transport stream entry[%u]\n",
                      u32NITTSIndex);
            return kNitErrNothingDone;
        }
        Splice(section, layout, false, entry->offset, kEntryHeaderBytes + entry->descriptorsLength, {});
        return U32{0};
    });
}

U32 TSP_AddDescriptor2NIT_Ts(U16 u16Channel, U32 u32NITTSIndex, const dvbpsi_descriptor_t* pstDescriptor) {
    if (pstDescriptor == nullptr) {
        HX_LOG_AS(__func__, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error\n");
        return kTspErrInput;
    }
    return NIT_EditTemporary(__func__, u16Channel, {false, kTspErrInput, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const auto entry = Entry(layout, u32NITTSIndex);
        if (!entry) {
            HX_LOG_AS("TSP_AddDescriptor2NIT_Ts", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "no transport stream entry[%u]\n", u32NITTSIndex);
            return kTspErrInput;
        }
        const std::vector<U8> bytes = DescriptorBytes(*pstDescriptor);
        if (entry->descriptorsLength + bytes.size() > kNitDescriptorBytes) {
            HX_LOG_AS("TSP_AddDescriptor2NIT_Ts", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "entry[%u] descriptors over %u bytes\n", u32NITTSIndex, kNitDescriptorBytes);
            return kTspErrRange;
        }
        Splice(section, layout, false, entry->offset + kEntryHeaderBytes + entry->descriptorsLength, 0, bytes);
        GrowLength12(section, entry->offset + 4, static_cast<int>(bytes.size()));
        return U32{0};
    });
}

U32 TSP_EditOneTSDescOfNIT(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex,
                           const dvbpsi_descriptor_t* pstDescriptor) {
    if (pstDescriptor == nullptr || pstDescriptor->i_length == 0) {
        HX_LOG_AS(__func__, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error: empty descriptor\n");
        return kTspErrInput;
    }
    return NIT_EditTemporary(__func__, u16Channel, {false, kTspErrRange, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const auto entry = Entry(layout, u32NITTSIndex);
        const auto found = EntryDescriptor(section, entry, u32NITTSDescIndex);
        if (!found) {
            HX_LOG_AS("TSP_EditOneTSDescOfNIT", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "no descriptor[%u] in entry[%u]\n", u32NITTSDescIndex, u32NITTSIndex);
            return kTspErrRange;
        }
        const std::vector<U8> bytes = DescriptorBytes(*pstDescriptor);
        const int delta = static_cast<int>(bytes.size()) - static_cast<int>(found->second);
        if (static_cast<int>(entry->descriptorsLength) + delta > kNitDescriptorBytes) {
            HX_LOG_AS("TSP_EditOneTSDescOfNIT", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "entry[%u] descriptors over %u bytes\n", u32NITTSIndex, kNitDescriptorBytes);
            return kNitErrNothingDone;
        }
        Splice(section, layout, false, found->first, found->second, bytes);
        GrowLength12(section, entry->offset + 4, delta);
        return U32{0};
    });
}

U32 TSP_DeleteOneTSDescOfNIT(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex) {
    return NIT_EditTemporary(__func__, u16Channel, {false, kNitErrNothingDone, 0}, [&](std::vector<U8>& section) {
        const NitLayout layout = *SIP_NITLayout(section.data(), static_cast<U32>(section.size()));
        const auto entry = Entry(layout, u32NITTSIndex);
        const auto found = EntryDescriptor(section, entry, u32NITTSDescIndex);
        if (!found) {
            HX_LOG_AS("TSP_DeleteOneTSDescOfNIT", LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                      "no descriptor[%u] in entry[%u]\n", u32NITTSDescIndex, u32NITTSIndex);
            return kNitErrNothingDone;
        }
        Splice(section, layout, false, found->first, found->second, {});
        GrowLength12(section, entry->offset + 4, -static_cast<int>(found->second));
        return U32{0};
    });
}

U32 TSP_GetNITTableInfo(U16 u16Channel, NITTable_t* pstNitTable) {
    if (pstNitTable == nullptr) {
        HX_LOG_AS(__func__, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    if (tsIndex == kChainEnd) {
        HX_LOG_AS(__func__, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%u] has no output TS\n", u16Channel);
        return kTspErrInput;
    }
    const auto gathered = std::make_unique<NITBuf_t>();
    gathered->u16NITLength = 0;
    gathered->u32OutputNITSectionOffset = 0;
    const U32 result = TSP_GetOutputNITTable(tsIndex, model, gathered.get());
    if (result == 1) {
        return 0;
    }
    if (result != 0) {
        return result;
    }
    const auto parsed = std::make_unique<NITTable_t>();
    U16 number = 0;
    for (U16 offset = 0; offset < gathered->u16NITLength; ++number) {
        const U8* section = gathered->aru8OutputNITSection + offset;
        const U16 bytes = SIP_SectionBytes(section);
        if (const U32 code = SIP_ParseNIT(section, static_cast<U16>(gathered->u16NITLength - offset), parsed.get(), number);
            code != 0) {
            return code;
        }
        offset = static_cast<U16>(offset + bytes);
    }
    *pstNitTable = *parsed;
    return 0;
}

U32 TSP_GetOneTsDescInfo(U16 u16Channel, U32 u32NITTSIndex, U32 u32NITTSDescIndex, dvbpsi_descriptor_t* pstDescriptor) {
    if (pstDescriptor == nullptr) {
        return 0;
    }
    const auto table = std::make_unique<NITTable_t>();
    table->u16TPNumber = 0;
    if (TSP_GetNITTableInfo(u16Channel, table.get()) != 0 || u32NITTSIndex >= table->u16TPNumber) {
        return 0;
    }
    const TSInfoStruct_t& entry = table->arstTPData[u32NITTSIndex];
    const std::vector<U8> loop(entry.aru8Descriptors, entry.aru8Descriptors + entry.u16DescriptorsLen);
    const auto found = FindDescriptor(loop, 0, loop.size(), u32NITTSDescIndex);
    if (found) {
        pstDescriptor->i_tag = loop[found->first];
        pstDescriptor->i_length = loop[found->first + 1];
        std::memcpy(pstDescriptor->auc_data, loop.data() + found->first + kDescriptorHeaderBytes,
                    pstDescriptor->i_length);
    }
    return 0;
}

}  // namespace hx

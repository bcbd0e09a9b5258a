#include "si/section_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/common_fun.h"
#include "core/log.h"
#include "si/nit_edit.h"

namespace hx {

namespace {

constexpr U16 kCrcBytes = 4;
// A NIT section's header up to and including the network loop length.
constexpr U16 kNitHeaderBytes = 10;
constexpr U16 kEntryHeaderBytes = 6;

// Writes one NIT section from its raw network loop and entries at `out` and
// returns its size; the caller has made room for it.
U16 WriteNitSection(U8* out, U16 networkId, U8 version, U8 number, U8 last, const U8* network, U16 networkLength,
                    const U8* entries, U16 entriesLength) {
    const U16 sectionLength = static_cast<U16>(kNitEmptyLength + networkLength + entriesLength);
    out[0] = kNitTableId;
    out[1] = static_cast<U8>(0xF0 | (sectionLength >> 8));
    out[2] = static_cast<U8>(sectionLength);
    PutBe16(out + 3, networkId);
    out[5] = static_cast<U8>(0xC1 | ((version & 0x1F) << 1));
    out[6] = number;
    out[7] = last;
    out[8] = static_cast<U8>(0xF0 | (networkLength >> 8));
    out[9] = static_cast<U8>(networkLength);
    U16 at = kNitHeaderBytes;
    if (networkLength != 0) {
        std::memcpy(out + at, network, networkLength);
        at = static_cast<U16>(at + networkLength);
    }
    out[at] = static_cast<U8>(0xF0 | (entriesLength >> 8));
    out[at + 1] = static_cast<U8>(entriesLength);
    at = static_cast<U16>(at + 2);
    if (entriesLength != 0) {
        std::memcpy(out + at, entries, entriesLength);
        at = static_cast<U16>(at + entriesLength);
    }
    const U16 bytes = static_cast<U16>(at + kCrcBytes);
    SIP_SealSection(out, bytes);
    return bytes;
}

}  // namespace

void SIP_SealSection(U8* section, U16 bytes) {
    const U16 covered = static_cast<U16>(bytes - kCrcBytes);
    PutBe32(section + covered, Common_CRC_Calculate(section, covered, kCrcInitMpeg2));
}

std::array<U8, kNitOverhead> SIP_EmptyNITSection(U16 u16NetworkID) {
    std::array<U8, kNitOverhead> section{};
    WriteNitSection(section.data(), u16NetworkID, 0, 0, 0, nullptr, 0, nullptr, 0);
    return section;
}

std::optional<NitLayout> SIP_NITLayout(const U8* section, U32 available) {
    if (section == nullptr || available < 3) {
        return std::nullopt;
    }
    NitLayout layout{};
    layout.bytes = SIP_SectionBytes(section);
    if (layout.bytes > available || layout.bytes < kNitOverhead) {
        return std::nullopt;
    }
    const U16 end = static_cast<U16>(layout.bytes - kCrcBytes);
    layout.networkLength = SIP_Length12(section + kNitNetworkLoopAt);
    if (kNitHeaderBytes + layout.networkLength + 2 > end) {
        return std::nullopt;
    }
    layout.loopLengthAt = static_cast<U16>(kNitHeaderBytes + layout.networkLength);
    layout.loopLength = SIP_Length12(section + layout.loopLengthAt);
    const U16 loopStart = static_cast<U16>(layout.loopLengthAt + 2);
    if (loopStart + layout.loopLength > end) {
        return std::nullopt;
    }
    const U16 loopEnd = static_cast<U16>(loopStart + layout.loopLength);
    for (U16 at = loopStart; at < loopEnd;) {
        if (at + kEntryHeaderBytes > loopEnd) {
            return std::nullopt;
        }
        const U16 descriptors = SIP_Length12(section + at + 4);
        if (at + kEntryHeaderBytes + descriptors > loopEnd) {
            return std::nullopt;
        }
        layout.entries.push_back({at, descriptors});
        at = static_cast<U16>(at + kEntryHeaderBytes + descriptors);
    }
    return layout;
}

U32 SIP_ParseNIT(const U8* pu8SectionBuf, U16 u16SectionBuffLen, NITTable_t* pstNitTable, U16 u16SectionNum) {
    if (pu8SectionBuf == nullptr || pstNitTable == nullptr || u16SectionBuffLen < 3) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
               "[SIP_ParseNIT]Input Error:pu8SectionBuf[%p],pstNitTable[%p],u16SectionBuffLen[%u]\n",
               static_cast<const void*>(pu8SectionBuf), static_cast<void*>(pstNitTable), u16SectionBuffLen);
        return kSipErrInput;
    }
    const U16 sectionLength = SIP_Length12(pu8SectionBuf + 1);
    if (sectionLength > kSectionMaxLength || u16SectionBuffLen < sectionLength + 3) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ParseNIT]error,u16SectionBuffLen[%u],u16SectLength[%u]\n",
               u16SectionBuffLen, sectionLength);
        return kSipErrInput;
    }
    const std::optional<NitLayout> layout = SIP_NITLayout(pu8SectionBuf, u16SectionBuffLen);
    if (!layout) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ParseNIT]a loop runs past the section, u16SectLength[%u]\n",
               sectionLength);
        return kSipErrInput;
    }
    if (u16SectionNum == 0) {
        std::memset(pstNitTable, 0, sizeof(NITTable_t));
    }
    pstNitTable->u16SectionLen = sectionLength;
    pstNitTable->u16NetworkId = GetBe16(pu8SectionBuf + 3);
    pstNitTable->u8VersionNum = static_cast<U8>((pu8SectionBuf[5] >> 1) & 0x1F);
    pstNitTable->u8LastSectionNum = pu8SectionBuf[7];
    if (u16SectionNum == 0) {
        if (layout->networkLength > kNitDescriptorBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ParseNIT]NetworkInfoLen:%d out of range\n",
                   layout->networkLength);
            return kSipErrBound;
        }
        pstNitTable->u16NetworkInfoLen = layout->networkLength;
        std::memcpy(pstNitTable->aru8NetworkInfo, pu8SectionBuf + kNitHeaderBytes, layout->networkLength);
    }
    for (const NitEntryView& entry : layout->entries) {
        if (entry.descriptorsLength > kNitDescriptorBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TransportStream DescriptorsLen:%d out of range\n",
                   entry.descriptorsLength);
            return kSipErrBound;
        }
        if (pstNitTable->u16TPNumber >= kNitEntries) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TransportStreamNum:%d out of range\n",
                   pstNitTable->u16TPNumber + 1);
            return kSipErrBound;
        }
        TSInfoStruct_t& out = pstNitTable->arstTPData[pstNitTable->u16TPNumber++];
        const U8* at = pu8SectionBuf + entry.offset;
        out.u16TSID = GetBe16(at);
        out.u16OriginalNetId = GetBe16(at + 2);
        out.u16DescriptorsLen = entry.descriptorsLength;
        std::memcpy(out.aru8Descriptors, at + kEntryHeaderBytes, entry.descriptorsLength);
    }
    return 0;
}

U32 SIP_ConstructBigNITSection(const NITBuf_t* pstInNITBuf, NITBuf_t* pstOutNITBuf) {
    if (pstInNITBuf == nullptr || pstOutNITBuf == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructBigNITSection]Input Error\n");
        return kSipErrInput;
    }
    pstOutNITBuf->u16NITLength = 0;
    pstOutNITBuf->u32OutputNITSectionOffset = 0;
    const U16 length = std::min<U16>(pstInNITBuf->u16NITLength, static_cast<U16>(kNitBufBytes));
    const U8* in = pstInNITBuf->aru8OutputNITSection;

    struct Section {
        U16 offset;
        U16 bytes;
    };
    std::vector<Section> sections;
    for (U16 offset = 0; offset < length && in[offset] == kNitTableId;) {
        if (offset + 3 > length || offset + SIP_SectionBytes(in + offset) > length) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TSP_GetNITTableInfo error\n");
            return kSipErrMergeOverrun;
        }
        const U16 bytes = SIP_SectionBytes(in + offset);
        sections.push_back({offset, bytes});
        offset = static_cast<U16>(offset + bytes);
    }
    if (sections.empty()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructBigNITSection]no NIT section, u16NITLength[%u]\n",
               pstInNITBuf->u16NITLength);
        return kSipErrInput;
    }
    if (sections.size() == 1) {
        std::memcpy(pstOutNITBuf->aru8OutputNITSection, in, sections[0].bytes);
        pstOutNITBuf->u16NITLength = sections[0].bytes;
        pstOutNITBuf->u32OutputNITSectionOffset = sections[0].bytes;
        return 0;
    }

    const auto table = std::make_unique<NITTable_t>();
    for (std::size_t k = 0; k < sections.size(); ++k) {
        if (const U32 result = SIP_ParseNIT(in + sections[k].offset, sections[k].bytes, table.get(), static_cast<U16>(k));
            result != 0) {
            return result;
        }
    }
    U32 loopLength = 0;
    for (U16 i = 0; i < table->u16TPNumber; ++i) {
        loopLength += kEntryHeaderBytes + table->arstTPData[i].u16DescriptorsLen;
    }
    const U32 sectionLength = kNitEmptyLength + table->u16NetworkInfoLen + loopLength;
    if (sectionLength > kMergedMaxLength) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructBigNITSection]merged section_length[%u] over %u\n",
               sectionLength, kMergedMaxLength);
        return kSipErrMergeTooLong;
    }
    std::vector<U8> entries;
    entries.reserve(loopLength);
    for (U16 i = 0; i < table->u16TPNumber; ++i) {
        const TSInfoStruct_t& entry = table->arstTPData[i];
        const U8 header[kEntryHeaderBytes] = {static_cast<U8>(entry.u16TSID >> 8), static_cast<U8>(entry.u16TSID),
                                              static_cast<U8>(entry.u16OriginalNetId >> 8),
                                              static_cast<U8>(entry.u16OriginalNetId),
                                              static_cast<U8>(0xF0 | (entry.u16DescriptorsLen >> 8)),
                                              static_cast<U8>(entry.u16DescriptorsLen)};
        entries.insert(entries.end(), header, header + kEntryHeaderBytes);
        entries.insert(entries.end(), entry.aru8Descriptors, entry.aru8Descriptors + entry.u16DescriptorsLen);
    }
    const U16 bytes = WriteNitSection(pstOutNITBuf->aru8OutputNITSection, table->u16NetworkId, table->u8VersionNum, 0,
                                      0, table->aru8NetworkInfo, table->u16NetworkInfoLen, entries.data(),
                                      static_cast<U16>(loopLength));
    pstOutNITBuf->u16NITLength = bytes;
    pstOutNITBuf->u32OutputNITSectionOffset = bytes;
    return 0;
}

U32 SIP_SplitNITSection(const U8* pu8SectionBufIn, U16 u16BuffInLen, U16 u16BuffOutLen, U8* pu8SectionBufOut,
                        U16* pu16SectionLen) {
    if (pu8SectionBufIn == nullptr || pu8SectionBufOut == nullptr || pu16SectionLen == nullptr || u16BuffInLen < 3) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_SplitNITSection]Input Error\n");
        return kSipErrInput;
    }
    const U16 sectionLength = SIP_Length12(pu8SectionBufIn + 1);
    const U16 bytes = static_cast<U16>(sectionLength + 3);
    // Shorter than the empty NIT, the section cannot hold its own header.
    if (sectionLength < kNitEmptyLength) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_SplitNITSection]Section length error\n");
        return kSipErrInput;
    }
    if (bytes <= kSectionMaxBytes) {
        if (u16BuffInLen < bytes || u16BuffOutLen < bytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
                   "[SIP_SplitNITSection]bufflen error buffinlen:%d BuffOutLen:%d\n", u16BuffInLen, u16BuffOutLen);
            return kSipErrInput;
        }
        std::memcpy(pu8SectionBufOut, pu8SectionBufIn, bytes);
        pu8SectionBufOut[1] = static_cast<U8>(0xF0 | (pu8SectionBufOut[1] & 0x0F));
        pu8SectionBufOut[kNitNetworkLoopAt] = static_cast<U8>(0xF0 | (pu8SectionBufOut[kNitNetworkLoopAt] & 0x0F));
        SIP_SealSection(pu8SectionBufOut, bytes);
        *pu16SectionLen = bytes;
        return 0;
    }

    const std::optional<NitLayout> layout = SIP_NITLayout(pu8SectionBufIn, u16BuffInLen);
    if (!layout) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
               "[SIP_SplitNITSection]bufflen error buffinlen:%d SectionLength:%d BuffOutLen:%d NitTableLen:%d\n",
               u16BuffInLen, sectionLength, u16BuffOutLen, bytes);
        return kSipErrInput;
    }
    if (layout->networkLength + kNitOverhead > kSectionMaxBytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_SplitNITSection]NetworkDescriptorLength:%d out of range\n",
               layout->networkLength + kNitOverhead);
        return kSipErrInput;
    }

    // Plan: section k holds entries [first[k], first[k + 1]).
    // An entry joins the current section while it fits, else opens the next
    // one, even when a later, smaller entry would still fit.
    std::vector<std::size_t> first = {0};
    U32 running = kNitHeaderBytes + 2 + layout->networkLength;
    for (std::size_t i = 0; i < layout->entries.size(); ++i) {
        const U32 need = kEntryHeaderBytes + layout->entries[i].descriptorsLength;
        if (kNitHeaderBytes + 2 + need + kCrcBytes > kSectionMaxBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
                   "[SIP_SplitNITSection]entry %zu of %u bytes fits no section\n", i, need);
            return kSipErrBound;
        }
        if (running + need + kCrcBytes > kSectionMaxBytes) {
            first.push_back(i);
            running = kNitHeaderBytes + 2;
        }
        running += need;
    }
    first.push_back(layout->entries.size());
    const std::size_t count = first.size() - 1;
    if (count > 256) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_SplitNITSection]%zu sections out of range\n", count);
        return kSipErrBound;
    }
    const U32 planned = bytes + kNitOverhead * static_cast<U32>(count - 1);
    if (u16BuffOutLen < planned) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
               "[SIP_SplitNITSection]bufflen error buffinlen:%d SectionLength:%d BuffOutLen:%d NitTableLen:%d\n",
               u16BuffInLen, sectionLength, u16BuffOutLen, static_cast<int>(planned));
        return kSipErrInput;
    }

    const U16 networkId = GetBe16(pu8SectionBufIn + 3);
    const U8 version = static_cast<U8>((pu8SectionBufIn[5] >> 1) & 0x1F);
    U16 written = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t begin = first[k];
        const std::size_t end = first[k + 1];
        const U8* entries = nullptr;
        U16 entriesLength = 0;
        if (begin < end) {
            const NitEntryView& last = layout->entries[end - 1];
            entries = pu8SectionBufIn + layout->entries[begin].offset;
            entriesLength = static_cast<U16>(last.offset + kEntryHeaderBytes + last.descriptorsLength -
                                             layout->entries[begin].offset);
        }
        written = static_cast<U16>(
            written + WriteNitSection(pu8SectionBufOut + written, networkId, version, static_cast<U8>(k),
                                      static_cast<U8>(count - 1), pu8SectionBufIn + kNitHeaderBytes,
                                      k == 0 ? layout->networkLength : 0, entries, entriesLength));
    }
    *pu16SectionLen = written;
    return 0;
}

U32 SIP_ConstructNITTable(U16 u16Channel, U16 u16NetworkID) {
    const std::array<U8, kNitOverhead> section = SIP_EmptyNITSection(u16NetworkID);
    return TSP_AddNIT(u16Channel, section.data(), static_cast<U16>(section.size()));
}

U32 SIP_ConstructTDT(const TDTTable_t* pstTdtTable, U16 u16BufLen, U8* pu8SectionBuf, U16* pu16SectionLen) {
    if (pstTdtTable == nullptr || pu8SectionBuf == nullptr || pu16SectionLen == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructTDT]Input Error\n");
        return kSipErrInput;
    }
    if (pstTdtTable->u8SectionLen != kTdtSectionLength) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructTDT]u8SectionLen:%d is not %d\n",
               pstTdtTable->u8SectionLen, kTdtSectionLength);
        return kSipErrBound;
    }
    const U16 bytes = static_cast<U16>(pstTdtTable->u8SectionLen + 3);
    if (u16BufLen < bytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructTDT] u16BufLen:%d u16SectionLength:%d error\n",
               u16BufLen, bytes);
        return kSipErrInput;
    }
    pu8SectionBuf[0] = kTdtTableId;
    pu8SectionBuf[1] = 0x70;
    pu8SectionBuf[2] = pstTdtTable->u8SectionLen;
    std::memcpy(pu8SectionBuf + 3, pstTdtTable->aru8UTCTime, sizeof pstTdtTable->aru8UTCTime);
    *pu16SectionLen = bytes;
    return 0;
}

U32 SIP_ConstructTOT(const TOTTable_t* pstTotTable, U16 u16BufLen, U8* pu8SectionBuf, U16* pu16SectionLen) {
    if (pstTotTable == nullptr || pu8SectionBuf == nullptr || pu16SectionLen == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructTOT]Input Error\n");
        return kSipErrInput;
    }
    const TOTDescInfo_t& descriptor = pstTotTable->arstDescInfo;
    if (pstTotTable->u8SectionLen != kTotSectionLength || descriptor.u8DescLen != kTotEntryBytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
               "[SIP_ConstructTOT]u8SectionLen:%d u8DescLen:%d not one offset entry\n", pstTotTable->u8SectionLen,
               descriptor.u8DescLen);
        return kSipErrBound;
    }
    const U16 bytes = static_cast<U16>(pstTotTable->u8SectionLen + 3);
    if (u16BufLen < bytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SIP_ConstructTDT] u16BufLen:%d u16SectionLength:%d error\n",
               u16BufLen, bytes);
        return kSipErrInput;
    }
    U8* out = pu8SectionBuf;
    out[0] = kTotTableId;
    out[1] = 0x70;
    out[2] = pstTotTable->u8SectionLen;
    std::memcpy(out + 3, pstTotTable->aru8UTCTime, 5);
    out[8] = 0xF0;
    out[9] = 2 + kTotEntryBytes;
    out[10] = descriptor.u8Tag;
    out[11] = descriptor.u8DescLen;
    const TOTDesc_t& entry = descriptor.arstDes[0];
    out[12] = static_cast<U8>(entry.u32CountryCode >> 16);
    out[13] = static_cast<U8>(entry.u32CountryCode >> 8);
    out[14] = static_cast<U8>(entry.u32CountryCode);
    out[15] = static_cast<U8>(((entry.u8CountryRegID & 0x3F) << 2) | 0x02 | (entry.u8LocalTimeOffsetPol & 0x01));
    PutBe16(out + 16, entry.u16LocalTimeOffset);
    std::memcpy(out + 18, entry.u8TimeOfChange, 5);
    PutBe16(out + 23, entry.u16NextTimeOffset);
    SIP_SealSection(out, bytes);
    *pu16SectionLen = bytes;
    return 0;
}

U32 SIP_ParseTOT(const U8* pu8SectionBuf, U16 u16SectionBuffLen, TOTTable_t* pstTOTTable, U16 u16SectionNum) {
    if (pu8SectionBuf == nullptr || pstTOTTable == nullptr) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "Input Error:pu8SectionBuf[%p],pstBATTable[%p]\n",
                  static_cast<const void*>(pu8SectionBuf), static_cast<void*>(pstTOTTable));
        return kSipErrInput;
    }
    const U16 sectionLength = u16SectionBuffLen < 3 ? 0 : SIP_Length12(pu8SectionBuf + 1);
    // The fixed fields (UTC time, loop length, descriptor tag and length) and
    // the CRC need a section_length of 13.
    if (u16SectionBuffLen < 3 || u16SectionBuffLen < sectionLength + 3 || sectionLength > kSectionMaxLength ||
        sectionLength < 13) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "error,u16SectionBuffLen[%d],u16SectLength[%d]\n",
                  u16SectionBuffLen, sectionLength);
        return kSipErrInput;
    }
    const int entries = (sectionLength - 13) / kTotEntryBytes;
    if (entries >= 2) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
                  "Description The time zone description exceeds the upper limit.u8LOTDescNum=[%d]\n", entries);
        return kSipErrInput;
    }
    if (u16SectionNum == 0) {
        std::memset(pstTOTTable, 0, sizeof(TOTTable_t));
    }
    pstTOTTable->u8SectionLen = pu8SectionBuf[2];
    std::memcpy(pstTOTTable->aru8UTCTime, pu8SectionBuf + 3, 5);
    TOTDescInfo_t& descriptor = pstTOTTable->arstDescInfo;
    descriptor.u8Tag = pu8SectionBuf[10];
    descriptor.u8DescLen = pu8SectionBuf[11];
    if (entries == 1) {
        const U8* at = pu8SectionBuf + 12;
        TOTDesc_t& entry = descriptor.arstDes[0];
        entry.u32CountryCode = static_cast<U32>(at[0]) << 16 | static_cast<U32>(at[1]) << 8 | at[2];
        entry.u8CountryRegID = static_cast<U8>(at[3] >> 2);
        entry.u8LocalTimeOffsetPol = static_cast<U8>(at[3] & 0x01);
        entry.u16LocalTimeOffset = GetBe16(at + 4);
        std::memcpy(entry.u8TimeOfChange, at + 6, 5);
        entry.u16NextTimeOffset = GetBe16(at + 11);
    }
    return 0;
}

}  // namespace hx

#include "si/psi_tables.h"

#include <cstring>
#include <functional>

#include "core/common_fun.h"
#include "core/log.h"

namespace hx {

namespace {

using Bytes = std::vector<U8>;

// What varies between the tables: the header fields, the bytes between the
// header and the entry loop (which may count the section's entries), the
// bytes after the loop, and whether the table may span several sections.
struct SectionShape {
    U8 tableId;
    U8 flagsByte;  // section_syntax_indicator and the bit after it, reserved bits set
    U16 extension;
    U8 version;
    bool singleSection;
    std::function<Bytes(std::size_t entries)> prefix;
    Bytes suffix;
};

constexpr U8 kSyntaxMpeg = 0xB0;  // syntax 1, '0', reserved '11'
constexpr U8 kSyntaxPrivate = 0xF0;  // syntax 1, private/reserved_future_use 1, reserved '11'
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kCrcBytes = 4;

void Append(Bytes& out, std::initializer_list<U8> bytes) {
    for (const U8 byte : bytes) {
        out.push_back(byte);
    }
}
void AppendBe16(Bytes& out, U16 value) { Append(out, {static_cast<U8>(value >> 8), static_cast<U8>(value)}); }
void AppendBe32(Bytes& out, U32 value) {
    AppendBe16(out, static_cast<U16>(value >> 16));
    AppendBe16(out, static_cast<U16>(value));
}
// 4 reserved bits then a 12-bit length.
void AppendLength12(Bytes& out, std::size_t length) { AppendBe16(out, static_cast<U16>(0xF000 | (length & 0x0FFF))); }
// 3 reserved bits then a 13-bit PID.
void AppendPid(Bytes& out, U16 pid) { AppendBe16(out, static_cast<U16>(0xE000 | (pid & 0x1FFF))); }

// Groups the entries into sections of at most 1,024 bytes, in order, and
// writes them back to back.
U32 PackSections(const SectionShape& shape, const std::vector<Bytes>& entries, U8* out, U32 capacity,
                 U32* length) {
    const std::size_t fixed = kHeaderBytes + shape.prefix(0).size() + shape.suffix.size() + kCrcBytes;
    if (fixed > kSectionMaxBytes) {
        return kSipErrBound;
    }
    // Section i holds entries [starts[i], starts[i + 1]).
    std::vector<std::size_t> starts{0};
    std::size_t used = fixed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (fixed + entries[i].size() > kSectionMaxBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x: entry of %zu bytes too long\n",
                   shape.tableId, entries[i].size());
            return kSipErrBound;
        }
        if (used + entries[i].size() > kSectionMaxBytes) {
            if (shape.singleSection) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x does not fit one section\n",
                       shape.tableId);
                return kSipErrBound;
            }
            starts.push_back(i);
            used = fixed;
        }
        used += entries[i].size();
    }
    starts.push_back(entries.size());
    const std::size_t sections = starts.size() - 1;
    if (sections > 256) {
        return kSipErrBound;
    }
    Bytes all;
    for (std::size_t s = 0; s < sections; ++s) {
        Bytes section;
        const Bytes prefix = shape.prefix(starts[s + 1] - starts[s]);
        std::size_t bodyBytes = prefix.size() + shape.suffix.size();
        for (std::size_t i = starts[s]; i < starts[s + 1]; ++i) {
            bodyBytes += entries[i].size();
        }
        const std::size_t sectionLength = 5 + bodyBytes + kCrcBytes;
        Append(section, {shape.tableId, static_cast<U8>(shape.flagsByte | ((sectionLength >> 8) & 0x0F)),
                         static_cast<U8>(sectionLength)});
        AppendBe16(section, shape.extension);
        Append(section, {static_cast<U8>(0xC0 | ((shape.version & 0x1F) << 1) | 0x01), static_cast<U8>(s),
                         static_cast<U8>(sections - 1)});
        section.insert(section.end(), prefix.begin(), prefix.end());
        for (std::size_t i = starts[s]; i < starts[s + 1]; ++i) {
            section.insert(section.end(), entries[i].begin(), entries[i].end());
        }
        section.insert(section.end(), shape.suffix.begin(), shape.suffix.end());
        AppendBe32(section, Common_CRC(section, kCrcInitMpeg2));
        all.insert(all.end(), section.begin(), section.end());
    }
    if (all.size() > capacity) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x: %zu bytes do not fit %u\n", shape.tableId,
               all.size(), capacity);
        return kSipErrBound;
    }
    std::memcpy(out, all.data(), all.size());
    *length = static_cast<U32>(all.size());
    return 0;
}

U32 Start(const void* table, U8* buffer, U32* length) {
    if (length != nullptr) {
        *length = 0;
    }
    return (table == nullptr || buffer == nullptr || length == nullptr) ? kSipErrInput : 0;
}

Bytes NoPrefix(std::size_t) { return {}; }

}  // namespace

U32 SIP_ConstructPATSections(const PATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    std::vector<Bytes> entries;
    for (const auto& program : pstTable->vecPrograms) {
        Bytes entry;
        AppendBe16(entry, program.u16ProgramNumber);
        AppendPid(entry, program.u16PMTPID);
        entries.push_back(std::move(entry));
    }
    const SectionShape shape{kPatTableId, kSyntaxMpeg, pstTable->u16TransportStreamID, pstTable->u8VersionNumber,
                             false, NoPrefix, {}};
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructCATSections(const CATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    // Split at descriptor borders; a descriptor running past the loop is refused.
    std::vector<Bytes> entries;
    const Bytes& loop = pstTable->vecDescriptors;
    for (std::size_t at = 0; at < loop.size();) {
        if (at + 2 > loop.size() || at + 2 + loop[at + 1] > loop.size()) {
            return kSipErrBound;
        }
        entries.emplace_back(loop.begin() + static_cast<std::ptrdiff_t>(at),
                             loop.begin() + static_cast<std::ptrdiff_t>(at + 2 + loop[at + 1]));
        at += 2 + loop[at + 1];
    }
    const SectionShape shape{kCatTableId, kSyntaxMpeg, 0xFFFF, pstTable->u8VersionNumber, false, NoPrefix, {}};
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructPMTSections(const PMTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    std::vector<Bytes> entries;
    for (const auto& stream : pstTable->vecStreams) {
        Bytes entry{stream.u8StreamType};
        AppendPid(entry, stream.u16PID);
        AppendLength12(entry, stream.vecESInfo.size());
        entry.insert(entry.end(), stream.vecESInfo.begin(), stream.vecESInfo.end());
        entries.push_back(std::move(entry));
    }
    const PMTTable_t& table = *pstTable;
    const SectionShape shape{kPmtTableId, kSyntaxMpeg, table.u16ProgramNumber, table.u8VersionNumber, true,
                             [&table](std::size_t) {
                                 Bytes prefix;
                                 AppendPid(prefix, table.u16PCRPID);
                                 AppendLength12(prefix, table.vecProgramInfo.size());
                                 prefix.insert(prefix.end(), table.vecProgramInfo.begin(),
                                               table.vecProgramInfo.end());
                                 return prefix;
                             },
                             {}};
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructSDTSections(const SDTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    std::vector<Bytes> entries;
    for (const auto& service : pstTable->vecServices) {
        Bytes entry;
        AppendBe16(entry, service.u16ServiceID);
        Append(entry, {static_cast<U8>(0xFC | ((service.u8EITScheduleFlag & 1) << 1) |
                                       (service.u8EITPresentFollowingFlag & 1))});
        const std::size_t loop = service.vecDescriptors.size();
        AppendBe16(entry, static_cast<U16>(((service.u8RunningStatus & 0x07) << 13) |
                                           ((service.u8FreeCAMode & 1) << 12) | (loop & 0x0FFF)));
        entry.insert(entry.end(), service.vecDescriptors.begin(), service.vecDescriptors.end());
        entries.push_back(std::move(entry));
    }
    const U16 onid = pstTable->u16OriginalNetworkID;
    const SectionShape shape{kSdtActualTableId, kSyntaxPrivate, pstTable->u16TransportStreamID,
                             pstTable->u8VersionNumber, false,
                             [onid](std::size_t) {
                                 Bytes prefix;
                                 AppendBe16(prefix, onid);
                                 Append(prefix, {0xFF});
                                 return prefix;
                             },
                             {}};
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructMGTSections(const MGTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    std::vector<Bytes> entries;
    for (const auto& table : pstTable->vecTables) {
        Bytes entry;
        AppendBe16(entry, table.u16TableType);
        AppendPid(entry, table.u16PID);
        Append(entry, {static_cast<U8>(0xE0 | (table.u8VersionNumber & 0x1F))});
        AppendBe32(entry, table.u32NumberBytes);
        AppendLength12(entry, 0);
        entries.push_back(std::move(entry));
    }
    const U8 protocol = pstTable->u8ProtocolVersion;
    const std::size_t count = entries.size();
    Bytes suffix;
    AppendLength12(suffix, 0);
    const SectionShape shape{kMgtTableId, kSyntaxPrivate, 0x0000, pstTable->u8VersionNumber, true,
                             [protocol, count](std::size_t) {
                                 Bytes prefix{protocol};
                                 AppendBe16(prefix, static_cast<U16>(count));
                                 return prefix;
                             },
                             suffix};
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructVCTSections(const VCTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    if (pstTable->u8TableId != kTvctTableId && pstTable->u8TableId != kCvctTableId) {
        return kSipErrInput;
    }
    std::vector<Bytes> entries;
    for (const auto& channel : pstTable->vecChannels) {
        if (3 + 6 * channel.vecStreams.size() > 255) {  // the location descriptor's 8-bit length
            return kSipErrBound;
        }
        Bytes entry(channel.aru8ShortName, channel.aru8ShortName + sizeof channel.aru8ShortName);
        // reserved 4, major 10, minor 10
        const U32 numbers = 0xF00000u | ((channel.u16MajorChannelNumber & 0x3FFu) << 10) |
                            (channel.u16MinorChannelNumber & 0x3FFu);
        Append(entry, {static_cast<U8>(numbers >> 16), static_cast<U8>(numbers >> 8), static_cast<U8>(numbers),
                       channel.u8ModulationMode});
        AppendBe32(entry, channel.u32CarrierFrequency);
        AppendBe16(entry, channel.u16ChannelTSID);
        AppendBe16(entry, channel.u16ProgramNumber);
        // ETM_location 0, access_controlled 0, hidden 0, then (TVCT) reserved
        // '11', hide_guide 0, reserved '111' or (CVCT) path_select 0,
        // out_of_band 0, hide_guide 0, reserved '111'; 2 reserved bits and the
        // 6-bit service type.
        const U8 flags = pstTable->u8TableId == kTvctTableId ? 0x0D : 0x01;
        Append(entry, {flags, static_cast<U8>(0xC0 | (channel.u8ServiceType & 0x3F))});
        AppendBe16(entry, channel.u16SourceId);
        Bytes location{kServiceLocationDescriptorTag, static_cast<U8>(3 + 6 * channel.vecStreams.size())};
        AppendPid(location, channel.u16PCRPID);
        Append(location, {static_cast<U8>(channel.vecStreams.size())});
        for (const auto& stream : channel.vecStreams) {
            Append(location, {stream.u8StreamType});
            AppendPid(location, stream.u16PID);
            Append(location, {0, 0, 0});  // no language
        }
        AppendBe16(entry, static_cast<U16>(0xFC00 | location.size()));  // reserved 6, descriptors_length 10
        entry.insert(entry.end(), location.begin(), location.end());
        entries.push_back(std::move(entry));
    }
    const U8 protocol = pstTable->u8ProtocolVersion;
    const SectionShape shape{pstTable->u8TableId, kSyntaxPrivate, pstTable->u16TransportStreamID,
                             pstTable->u8VersionNumber, false,
                             [protocol](std::size_t count) { return Bytes{protocol, static_cast<U8>(count)}; },
                             Bytes{0xFC, 0x00}};  // reserved 6, additional_descriptors_length 0
    return PackSections(shape, entries, pu8Buffer, u32Capacity, pu32Length);
}

}  // namespace hx

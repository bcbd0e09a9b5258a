#include "si/psi_tables.h"

#include <array>
#include <cstring>
#include <span>

#include "core/common_fun.h"
#include "core/log.h"

namespace hx {

namespace {

// What varies between the tables: the header fields, the bytes between the
// header and the entry loop (a fixed number of them, which may count the
// section's entries), the bytes after the loop, and whether the table may
// span several sections.
struct SectionShape {
    U8 tableId;
    U8 flagsByte;  // section_syntax_indicator and the bit after it, reserved bits set
    U16 extension;
    U8 version;
    bool singleSection;
    std::size_t prefixBytes;
    std::span<const U8> suffix;
};

constexpr U8 kSyntaxMpeg = 0xB0;  // syntax 1, '0', reserved '11'
constexpr U8 kSyntaxPrivate = 0xF0;  // syntax 1, private/reserved_future_use 1, reserved '11'
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kCrcBytes = 4;
constexpr std::size_t kMaxSections = 256;

// Writes fields straight into the caller's buffer, which the packer has
// checked is large enough for every section before anything is written.
struct SectionWriter {
    U8* at;

    void Byte(U8 value) { *at++ = value; }
    void Be16(U16 value) {
        PutBe16(at, value);
        at += 2;
    }
    void Be32(U32 value) {
        PutBe32(at, value);
        at += 4;
    }
    void Copy(const U8* bytes, std::size_t count) {
        if (count != 0) {
            std::memcpy(at, bytes, count);
        }
        at += count;
    }
    void Copy(const std::vector<U8>& bytes) { Copy(bytes.data(), bytes.size()); }
    // 4 reserved bits then a 12-bit length.
    void Length12(std::size_t length) { Be16(static_cast<U16>(0xF000 | (length & 0x0FFF))); }
    // 3 reserved bits then a 13-bit PID.
    void Pid(U16 pid) { Be16(static_cast<U16>(0xE000 | (pid & 0x1FFF))); }
};

// Groups `count` entries into sections of at most 1,024 bytes, in order, and
// writes them back to back: entrySize(i) gives entry i's bytes, which
// writeEntry(writer, i) writes; writePrefix(writer, entries) writes the
// shape's prefix for a section of that many entries. Every size is known
// before the first byte is written, so nothing is built aside and copied, and
// a table that does not fit leaves the buffer untouched.
template <typename EntrySize, typename WriteEntry, typename WritePrefix>
U32 PackSections(const SectionShape& shape, std::size_t count, EntrySize entrySize, WriteEntry writeEntry,
                 WritePrefix writePrefix, U8* out, U32 capacity, U32* length) {
    const std::size_t fixed = kHeaderBytes + shape.prefixBytes + shape.suffix.size() + kCrcBytes;
    if (fixed > kSectionMaxBytes) {
        return kSipErrBound;
    }
    // Section s holds entries [starts[s], starts[s + 1]); the last ends at count.
    std::array<std::size_t, kMaxSections + 1> starts;
    starts[0] = 0;
    std::size_t sections = 1;
    std::size_t used = fixed;
    std::size_t total = fixed;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t size = entrySize(i);
        if (fixed + size > kSectionMaxBytes) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x: entry of %zu bytes too long\n",
                   shape.tableId, size);
            return kSipErrBound;
        }
        if (used + size > kSectionMaxBytes) {
            if (shape.singleSection) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x does not fit one section\n",
                       shape.tableId);
                return kSipErrBound;
            }
            if (sections < starts.size()) {
                starts[sections] = i;
            }
            ++sections;
            used = fixed;
            total += fixed;
        }
        used += size;
        total += size;
    }
    if (sections > kMaxSections) {
        return kSipErrBound;
    }
    if (total > capacity) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "table 0x%x: %zu bytes do not fit %u\n", shape.tableId,
               total, capacity);
        return kSipErrBound;
    }
    SectionWriter writer{out};
    for (std::size_t s = 0; s < sections; ++s) {
        U8* const section = writer.at;
        const std::size_t first = starts[s];
        const std::size_t end = s + 1 < sections ? starts[s + 1] : count;
        writer.Byte(shape.tableId);
        writer.Be16(0);  // section_length, once the section is written
        writer.Be16(shape.extension);
        writer.Byte(static_cast<U8>(0xC0 | ((shape.version & 0x1F) << 1) | 0x01));
        writer.Byte(static_cast<U8>(s));
        writer.Byte(static_cast<U8>(sections - 1));
        writePrefix(writer, end - first);
        for (std::size_t i = first; i < end; ++i) {
            writeEntry(writer, i);
        }
        writer.Copy(shape.suffix.data(), shape.suffix.size());
        const std::size_t sectionLength = static_cast<std::size_t>(writer.at - section) - 3 + kCrcBytes;
        section[1] = static_cast<U8>(shape.flagsByte | ((sectionLength >> 8) & 0x0F));
        section[2] = static_cast<U8>(sectionLength);
        writer.Be32(Common_CRC({section, static_cast<std::size_t>(writer.at - section)}, kCrcInitMpeg2));
    }
    *length = static_cast<U32>(total);
    return 0;
}

U32 Start(const void* table, U8* buffer, U32* length) {
    if (length != nullptr) {
        *length = 0;
    }
    return (table == nullptr || buffer == nullptr || length == nullptr) ? kSipErrInput : 0;
}

void NoPrefix(SectionWriter&, std::size_t) {}

}  // namespace

U32 SIP_ConstructPATSections(const PATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    const auto& programs = pstTable->vecPrograms;
    const SectionShape shape{kPatTableId, kSyntaxMpeg, pstTable->u16TransportStreamID, pstTable->u8VersionNumber,
                             false, 0, {}};
    return PackSections(
        shape, programs.size(), [](std::size_t) { return std::size_t{4}; },
        [&programs](SectionWriter& out, std::size_t i) {
            out.Be16(programs[i].u16ProgramNumber);
            out.Pid(programs[i].u16PMTPID);
        },
        NoPrefix, pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructCATSections(const CATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    // Split at descriptor borders; a descriptor running past the loop is refused.
    const std::vector<U8>& loop = pstTable->vecDescriptors;
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < loop.size();) {
        if (at + 2 > loop.size() || at + 2 + loop[at + 1] > loop.size()) {
            return kSipErrBound;
        }
        starts.push_back(at);
        at += 2 + loop[at + 1];
    }
    const SectionShape shape{kCatTableId, kSyntaxMpeg, 0xFFFF, pstTable->u8VersionNumber, false, 0, {}};
    auto size = [&](std::size_t i) { return std::size_t{2} + loop[starts[i] + 1]; };
    return PackSections(
        shape, starts.size(), size,
        [&](SectionWriter& out, std::size_t i) { out.Copy(loop.data() + starts[i], size(i)); }, NoPrefix, pu8Buffer,
        u32Capacity, pu32Length);
}

U32 SIP_ConstructPMTSections(const PMTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    const PMTTable_t& table = *pstTable;
    const auto& streams = table.vecStreams;
    const SectionShape shape{kPmtTableId, kSyntaxMpeg, table.u16ProgramNumber, table.u8VersionNumber, true,
                             4 + table.vecProgramInfo.size(), {}};
    return PackSections(
        shape, streams.size(), [&streams](std::size_t i) { return 5 + streams[i].vecESInfo.size(); },
        [&streams](SectionWriter& out, std::size_t i) {
            const PMTStream_t& stream = streams[i];
            out.Byte(stream.u8StreamType);
            out.Pid(stream.u16PID);
            out.Length12(stream.vecESInfo.size());
            out.Copy(stream.vecESInfo);
        },
        [&table](SectionWriter& out, std::size_t) {
            out.Pid(table.u16PCRPID);
            out.Length12(table.vecProgramInfo.size());
            out.Copy(table.vecProgramInfo);
        },
        pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructSDTSections(const SDTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    const auto& services = pstTable->vecServices;
    const U16 onid = pstTable->u16OriginalNetworkID;
    const SectionShape shape{kSdtActualTableId, kSyntaxPrivate, pstTable->u16TransportStreamID,
                             pstTable->u8VersionNumber, false, 3, {}};
    return PackSections(
        shape, services.size(), [&services](std::size_t i) { return 5 + services[i].vecDescriptors.size(); },
        [&services](SectionWriter& out, std::size_t i) {
            const SDTService_t& service = services[i];
            out.Be16(service.u16ServiceID);
            out.Byte(static_cast<U8>(0xFC | ((service.u8EITScheduleFlag & 1) << 1) |
                                     (service.u8EITPresentFollowingFlag & 1)));
            const std::size_t loop = service.vecDescriptors.size();
            out.Be16(static_cast<U16>(((service.u8RunningStatus & 0x07) << 13) | ((service.u8FreeCAMode & 1) << 12) |
                                      (loop & 0x0FFF)));
            out.Copy(service.vecDescriptors);
        },
        [onid](SectionWriter& out, std::size_t) {
            out.Be16(onid);
            out.Byte(0xFF);
        },
        pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructMGTSections(const MGTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    static constexpr U8 kNoDescriptors[] = {0xF0, 0x00};  // reserved 4, descriptors_length 0
    const auto& tables = pstTable->vecTables;
    const U8 protocol = pstTable->u8ProtocolVersion;
    const SectionShape shape{kMgtTableId, kSyntaxPrivate, 0x0000, pstTable->u8VersionNumber, true, 3,
                             kNoDescriptors};
    return PackSections(
        shape, tables.size(), [](std::size_t) { return std::size_t{11}; },
        [&tables](SectionWriter& out, std::size_t i) {
            const MGTTableEntry_t& table = tables[i];
            out.Be16(table.u16TableType);
            out.Pid(table.u16PID);
            out.Byte(static_cast<U8>(0xE0 | (table.u8VersionNumber & 0x1F)));
            out.Be32(table.u32NumberBytes);
            out.Length12(0);
        },
        [protocol, count = tables.size()](SectionWriter& out, std::size_t) {
            out.Byte(protocol);
            out.Be16(static_cast<U16>(count));
        },
        pu8Buffer, u32Capacity, pu32Length);
}

U32 SIP_ConstructVCTSections(const VCTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length) {
    if (const U32 rc = Start(pstTable, pu8Buffer, pu32Length); rc != 0) {
        return rc;
    }
    if (pstTable->u8TableId != kTvctTableId && pstTable->u8TableId != kCvctTableId) {
        return kSipErrInput;
    }
    const auto& channels = pstTable->vecChannels;
    for (const auto& channel : channels) {
        if (3 + 6 * channel.vecStreams.size() > 255) {  // the location descriptor's 8-bit length
            return kSipErrBound;
        }
    }
    // ETM_location 0, access_controlled 0, hidden 0, then (TVCT) reserved
    // '11', hide_guide 0, reserved '111' or (CVCT) path_select 0,
    // out_of_band 0, hide_guide 0, reserved '111'.
    const U8 flags = pstTable->u8TableId == kTvctTableId ? 0x0D : 0x01;
    static constexpr U8 kNoAdditionalDescriptors[] = {0xFC, 0x00};  // reserved 6, length 0
    const U8 protocol = pstTable->u8ProtocolVersion;
    const SectionShape shape{pstTable->u8TableId, kSyntaxPrivate, pstTable->u16TransportStreamID,
                             pstTable->u8VersionNumber, false, 2, kNoAdditionalDescriptors};
    // The service location descriptor: PCR PID, count, then per stream its
    // type, PID and no language.
    auto locationBytes = [&channels](std::size_t i) { return 5 + 6 * channels[i].vecStreams.size(); };
    return PackSections(
        shape, channels.size(), [&](std::size_t i) { return 32 + locationBytes(i); },
        [&](SectionWriter& out, std::size_t i) {
            const VCTChannel_t& channel = channels[i];
            out.Copy(channel.aru8ShortName, sizeof channel.aru8ShortName);
            // reserved 4, major 10, minor 10
            const U32 numbers = 0xF00000u | ((channel.u16MajorChannelNumber & 0x3FFu) << 10) |
                                (channel.u16MinorChannelNumber & 0x3FFu);
            out.Byte(static_cast<U8>(numbers >> 16));
            out.Be16(static_cast<U16>(numbers));
            out.Byte(channel.u8ModulationMode);
            out.Be32(channel.u32CarrierFrequency);
            out.Be16(channel.u16ChannelTSID);
            out.Be16(channel.u16ProgramNumber);
            // The flags, then 2 reserved bits and the 6-bit service type.
            out.Byte(flags);
            out.Byte(static_cast<U8>(0xC0 | (channel.u8ServiceType & 0x3F)));
            out.Be16(channel.u16SourceId);
            out.Be16(static_cast<U16>(0xFC00 | locationBytes(i)));  // reserved 6, descriptors_length 10
            out.Byte(kServiceLocationDescriptorTag);
            out.Byte(static_cast<U8>(locationBytes(i) - 2));
            out.Pid(channel.u16PCRPID);
            out.Byte(static_cast<U8>(channel.vecStreams.size()));
            for (const auto& stream : channel.vecStreams) {
                out.Byte(stream.u8StreamType);
                out.Pid(stream.u16PID);
                out.Byte(0);
                out.Be16(0);
            }
        },
        [protocol](SectionWriter& out, std::size_t entries) {
            out.Byte(protocol);
            out.Byte(static_cast<U8>(entries));
        },
        pu8Buffer, u32Capacity, pu32Length);
}

}  // namespace hx

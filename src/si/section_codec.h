// NIT, TDT and TOT sections (EN 300 468): serialising, parsing, and the merge
// and split of a stored NIT.
//
// A stored NIT is a chain of raw sections of at most 1,024 bytes. To edit it,
// the sections are merged into one oversized section (SIP_ConstructBigNITSection)
// and split back afterwards (SIP_SplitNITSection). Sections come from input
// cards and import files, so every parser compares each length field with the
// bytes that are there before it reads behind it.
//
// Callers: NIT storage and editing (under the model lock), the time-table
// builders (SI sender thread), the web TOT editor. Stateless and re-entrant:
// the merge's working record lives on the heap of the call. Failures are
// logged at ERROR in module SIPROCESS.
//
// Codes: 0xD0000 null argument, short buffer or a length running past its
// section; 0xD0002 a bound of the table record exceeded; 0xC0006 merge overrun;
// 0xC0008 a merged section that its 12-bit length cannot express.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "core/types.h"

namespace hx {

constexpr U32 kSipErrInput = 0xD0000;
constexpr U32 kSipErrBound = 0xD0002;
constexpr U32 kSipErrMergeOverrun = 0xC0006;
constexpr U32 kSipErrMergeTooLong = 0xC0008;

constexpr U8 kNitTableId = 0x40;
constexpr U8 kTdtTableId = 0x70;
constexpr U8 kTotTableId = 0x73;

// A stored section is at most this long; its section_length at most 1,021.
constexpr U16 kSectionMaxBytes = 1024;
constexpr U16 kSectionMaxLength = kSectionMaxBytes - 3;
// 12-bit length fields: the largest section_length a merged NIT can carry.
constexpr U16 kMergedMaxLength = 4095;
// Bytes of a NIT section besides its loops: header up to the network loop
// length (10), the transport-stream loop length (2) and the CRC (4).
constexpr U16 kNitOverhead = 16;
constexpr U16 kNitEmptyLength = 13;

constexpr U16 kNitDescriptorBytes = 1000;
constexpr U16 kNitEntries = 96;
constexpr U32 kNitBufBytes = 40000;

// One transport-stream loop entry of a parsed NIT.
struct TSInfoStruct_t {
    U16 u16TSID;
    U16 u16OriginalNetId;
    U16 u16DescriptorsLen;
    U8 aru8Descriptors[kNitDescriptorBytes];
};

// A parsed NIT: network descriptors of section 0, the entries of all sections
// in section order.
struct NITTable_t {
    U8 u8VersionNum;
    U8 u8LastSectionNum;
    U16 u16SectionLen;
    U16 u16NetworkId;
    U16 u16NetworkInfoLen;
    U8 aru8NetworkInfo[kNitDescriptorBytes];
    U16 u16TPNumber;
    TSInfoStruct_t arstTPData[kNitEntries];
};

// NIT sections back to back.
struct NITBuf_t {
    U16 u16NITLength;
    U32 u32OutputNITSectionOffset;
    U8 aru8OutputNITSection[kNitBufBytes];
};

// TOT sections back to back, as the web TOT editor hands them over.
struct TOTBuf_t {
    U16 u16TOTLength;
    U32 u32OutputTOTSectionOffset;
    U8 aru8OutputTOTSection[kNitBufBytes];
};

// 16-bit MJD, then hours, minutes, seconds in BCD.
using UtcTime = std::array<U8, 5>;

struct TDTTable_t {
    U8 u8SectionLen;  // 5
    U8 aru8UTCTime[5];
};

// One local_time_offset entry.
struct TOTDesc_t {
    U32 u32CountryCode;         // 24 bits
    U8 u8CountryRegID;          // 6 bits
    U8 u8LocalTimeOffsetPol;    // 1 bit
    U16 u16LocalTimeOffset;     // BCD hhmm
    U8 u8TimeOfChange[5];       // MJD + BCD
    U16 u16NextTimeOffset;      // BCD hhmm
};

struct TOTDescInfo_t {
    U8 u8Tag;
    U8 u8DescLen;  // 13
    TOTDesc_t arstDes[1];
};

struct TOTTable_t {
    U8 u8SectionLen;  // 26 with one offset entry
    U8 aru8UTCTime[5];
    TOTDescInfo_t arstDescInfo;
};

constexpr U8 kTdtSectionLength = 5;
constexpr U8 kTotSectionLength = 26;
constexpr U8 kTotEntryBytes = 13;
constexpr U8 kLocalTimeOffsetTag = 0x58;

// A descriptor as the web pages and the NIT editing build it. The name is
// libdvbpsi's too; ours lives in namespace hx.
struct dvbpsi_descriptor_t {
    U8 i_tag;
    U8 i_length;
    U8 auc_data[1000];
};

// Length of the section starting at `section` (section_length + 3); the
// caller has checked that three bytes are there.
inline U16 SIP_SectionBytes(const U8* section) {
    return static_cast<U16>((((section[1] & 0x0F) << 8) | section[2]) + 3);
}

// A 12-bit length field at `at` (the high nibble of its first byte is not part of it).
inline U16 SIP_Length12(const U8* at) { return static_cast<U16>(((at[0] & 0x0F) << 8) | at[1]); }
inline void SIP_SetLength12(U8* at, U16 value) {
    at[0] = static_cast<U8>((at[0] & 0xF0) | ((value >> 8) & 0x0F));
    at[1] = static_cast<U8>(value);
}

// Where the loops of a NIT section lie. Offsets count from the section's
// first byte; every length has been checked against the section.
struct NitEntryView {
    U16 offset;             // the entry's 6-byte header
    U16 descriptorsLength;  // descriptors follow the header
};
struct NitLayout {
    U16 bytes;             // section_length + 3
    U16 networkLength;     // descriptors from offset 10
    U16 loopLengthAt;      // the transport-stream loop length field
    U16 loopLength;        // entries from loopLengthAt + 2
    std::vector<NitEntryView> entries;
};
constexpr U16 kNitNetworkLoopAt = 8;
// nullopt when the section is shorter than its own header, runs past
// `available` bytes, or a loop or entry runs past the section (CRC excluded).
std::optional<NitLayout> SIP_NITLayout(const U8* section, U32 available);

// Recomputes the CRC-32/MPEG-2 of a section of `bytes` bytes into its last four.
void SIP_SealSection(U8* section, U16 bytes);

// The empty NIT of a network, 16 bytes: no network descriptors, no entries.
std::array<U8, kNitOverhead> SIP_EmptyNITSection(U16 u16NetworkID);

// Splits one (possibly oversized) NIT section into sections of at most 1,024
// bytes, written back to back; *pu16SectionLen gets their total. An entry is
// never split; one that fits no section is refused (0xD0002).
U32 SIP_SplitNITSection(const U8* pu8SectionBufIn, U16 u16BuffInLen, U16 u16BuffOutLen, U8* pu8SectionBufOut,
                        U16* pu16SectionLen);
// Adds one section to a parsed NIT; section number 0 clears the record first.
U32 SIP_ParseNIT(const U8* pu8SectionBuf, U16 u16SectionBuffLen, NITTable_t* pstNitTable, U16 u16SectionNum);
// Merges the sections of one buffer into one section in the other. A merged
// section_length over 4,095 is refused (0xC0008), the output then empty.
U32 SIP_ConstructBigNITSection(const NITBuf_t* pstInNITBuf, NITBuf_t* pstOutNITBuf);
// Builds the empty NIT of one channel and makes it the channel's NIT in the
// temporary model (TSP_AddNIT).
U32 SIP_ConstructNITTable(U16 u16Channel, U16 u16NetworkID);

// TDT: 8 bytes; the record's u8SectionLen must be 5 (0xD0002).
U32 SIP_ConstructTDT(const TDTTable_t* pstTdtTable, U16 u16BufLen, U8* pu8SectionBuf, U16* pu16SectionLen);
// TOT with one local time offset entry: 29 bytes; u8SectionLen must be 26 and
// u8DescLen 13 (0xD0002).
U32 SIP_ConstructTOT(const TOTTable_t* pstTotTable, U16 u16BufLen, U8* pu8SectionBuf, U16* pu16SectionLen);
// Section number 0 clears the record first; a section with room for more than
// one offset entry is refused.
U32 SIP_ParseTOT(const U8* pu8SectionBuf, U16 u16SectionBuffLen, TOTTable_t* pstTOTTable, U16 u16SectionNum);

}  // namespace hx

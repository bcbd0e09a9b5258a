// PSI/SI table records and their section builders: PAT, CAT and PMT
// (MPEG-2 systems), SDT actual (DVB) and the ATSC MGT and TVCT/CVCT.
//
// Each table has one record, filled from the output model by the table
// assembly (si/psi_assembly.h), and one builder that serialises the record
// into a caller's buffer as sections laid back to back: at most 1,024 bytes
// each, several where the table allows it, each ending in its CRC-32/MPEG-2.
// The builders are stateless and re-entrant.
//
// Codes: 0xD0000 null argument; 0xD0002 the sections do not fit the buffer,
// one entry does not fit a section, or a single-section table (PMT, MGT)
// outgrows its section.
#pragma once

#include <vector>

#include "core/types.h"
#include "si/section_codec.h"

namespace hx {

constexpr U8 kPatTableId = 0x00;
constexpr U8 kCatTableId = 0x01;
constexpr U8 kPmtTableId = 0x02;
constexpr U8 kSdtActualTableId = 0x42;
constexpr U8 kMgtTableId = 0xC7;
constexpr U8 kTvctTableId = 0xC8;
constexpr U8 kCvctTableId = 0xC9;
constexpr U8 kServiceDescriptorTag = 0x48;
constexpr U8 kServiceLocationDescriptorTag = 0xA1;
constexpr U16 kNoPcrPid = 0x1FFF;
// The construction buffer each table of a stream is built into.
constexpr U32 kSiConstructBytes = 10240;
// A VCT short name: seven UTF-16 units.
constexpr U8 kVctShortNameUnits = 7;

struct PATProgram_t {
    U16 u16ProgramNumber;
    U16 u16PMTPID;
};
struct PATTable_t {
    U16 u16TransportStreamID = 0;
    U8 u8VersionNumber = 0;
    std::vector<PATProgram_t> vecPrograms;
};

struct CATTable_t {
    U8 u8VersionNumber = 0;
    std::vector<U8> vecDescriptors;  // CA descriptors back to back
};

struct PMTStream_t {
    U8 u8StreamType = 0;
    U16 u16PID = 0;
    std::vector<U8> vecESInfo;
};
struct PMTTable_t {
    U16 u16ProgramNumber = 0;
    U8 u8VersionNumber = 0;
    U16 u16PCRPID = kNoPcrPid;
    std::vector<U8> vecProgramInfo;
    std::vector<PMTStream_t> vecStreams;
};

struct SDTService_t {
    U16 u16ServiceID = 0;
    U8 u8EITScheduleFlag = 0;
    U8 u8EITPresentFollowingFlag = 0;
    U8 u8RunningStatus = 0;
    U8 u8FreeCAMode = 0;
    std::vector<U8> vecDescriptors;
};
struct SDTTable_t {
    U16 u16TransportStreamID = 0;
    U16 u16OriginalNetworkID = 0;
    U8 u8VersionNumber = 0;
    std::vector<SDTService_t> vecServices;
};

struct MGTTableEntry_t {
    U16 u16TableType;
    U16 u16PID;
    U8 u8VersionNumber;
    U32 u32NumberBytes;
};
struct MGTTable_t {
    U8 u8VersionNumber = 0;
    U8 u8ProtocolVersion = 0;
    std::vector<MGTTableEntry_t> vecTables;
};

struct VCTStreamLocation_t {
    U8 u8StreamType;
    U16 u16PID;
};
struct VCTChannel_t {
    U8 aru8ShortName[2 * kVctShortNameUnits] = {};
    U16 u16MajorChannelNumber = 0;
    U16 u16MinorChannelNumber = 0;
    U8 u8ModulationMode = 0;
    U32 u32CarrierFrequency = 0;
    U16 u16ChannelTSID = 0;
    U16 u16ProgramNumber = 0;
    U8 u8ServiceType = 0;
    U16 u16SourceId = 0;
    U16 u16PCRPID = kNoPcrPid;
    std::vector<VCTStreamLocation_t> vecStreams;  // the service location descriptor
};
struct VCTTable_t {
    U8 u8TableId = kTvctTableId;
    U16 u16TransportStreamID = 0;
    U8 u8VersionNumber = 0;
    U8 u8ProtocolVersion = 0;
    std::vector<VCTChannel_t> vecChannels;
};

// Each builds the table's sections into pu8Buffer (u32Capacity bytes) and
// stores their total length in *pu32Length (0 on failure). 0 or a code above.
U32 SIP_ConstructPATSections(const PATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);
U32 SIP_ConstructCATSections(const CATTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);
U32 SIP_ConstructPMTSections(const PMTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);
U32 SIP_ConstructSDTSections(const SDTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);
U32 SIP_ConstructMGTSections(const MGTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);
U32 SIP_ConstructVCTSections(const VCTTable_t* pstTable, U8* pu8Buffer, U32 u32Capacity, U32* pu32Length);

}  // namespace hx

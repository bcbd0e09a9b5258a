// Records of the output model: output streams, programs, PIDs, SI tables,
// descriptors and pass-through streams, and the model root that holds one pool
// of each.
//
// The six records are also the payloads of the input cards' configuration
// messages and the body of the output model file, so each struct is laid out so
// that its bytes are exactly the little-endian wire and file layout (checked by
// the static_asserts below). Records are copied whole, never field by field,
// when they cross a message or a file.
//
// Records are chained by 16-bit pool indices; 0xFFFF ends a chain (the PID
// record's 32-bit links use 0xFFFFFFFF and are followed as their low 16 bits).
// A record is in use when u8ValidFlag is 1; freeing one zeroes it whole. Every
// access to a model goes through the model lock (engine/model_lock.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "core/types.h"

namespace hx {

constexpr U16 kChainEnd = 0xFFFF;
constexpr U32 kChainEnd32 = 0xFFFFFFFF;
constexpr U8 kRecordValid = 1;
// A pool never holds more records than a 16-bit link can name besides 0xFFFF.
constexpr U32 kPoolCapacityLimit = 65535;
// Walkers return at most this many indices.
constexpr U32 kIndexListSize = 300;
// Inline program-info and ES-info loops; longer loops live in a TSDescriptor.
constexpr U16 kInlineLoopSize = 188;
constexpr U16 kDescriptorLoopSize = 1024;
// Highest source or destination slot (16 is the back board).
constexpr U8 kMaxSlot = 16;

// PID record types (u8PIDType); 1 names a program's PMT in the PID checks.
enum PIDTYPE_E : U32 {
    PID_TYPE_INVALIDPID = 0,
    PID_TYPE_PMTPID = 1,
    PID_TYPE_PCRPID = 2,
    PID_TYPE_ESPID = 3,
    PID_TYPE_EMMPID = 4,
    PID_TYPE_PS_ECMPID = 5,
    PID_TYPE_ES_ECMPID = 6,
    PID_TYPE_OTHERPID = 7,
    PID_TYPE_MAX_NUM = 8,
};

// Result codes of the output engine.
constexpr U32 kTspErrInput = 0xC0000;
constexpr U32 kTspErrNotInChain = 0xC0002;
constexpr U32 kTspErrRange = 0xC0008;
constexpr U32 kTspErrMemory = 0xC0016;
constexpr U32 kTspErrCount = 0xC0017;
constexpr U32 kTspErrNoProgram = 0xC0018;
constexpr U32 kTspErrChannelNumber = 0xC0019;
constexpr U32 kTspErrViewCount = 0xC0020;

struct Output_TSStream {
    U32 u32StructVersion;
    U32 u32Length;
    U16 u16NetworkID;
    U16 u16TransportStreamID;
    U16 u16OriginalNetworkID;
    U8 u8ValidFlag;
    U8 u8SlotID;
    U16 u16ChannelID;
    U16 u16ProgramNum;
    U16 u16ProgramIndex;
    U16 u16OtherPIDNum;
    U16 u16OtherPIDIndex;
    U16 u16EMMPIDNumber;
    U16 u16EMMPIDIndex;
    U8 u8PATVersionNumber;
    U8 u8PATChangeFlag;
    U8 u8BypassFlag;
    U8 u8SrcSlotID;
    U16 u16SrcChannelID;
    U16 u16NITIndex;
    U16 u16BATIndex;
    U16 u16TDTIndex;
    U16 u16TOTIndex;
    U16 u16OtherNITIndex;
    U16 u16OtherSDTIndex;
    U8 u8SDTVersionNumber;
    U8 u8SDTChangeFlag;
    U8 u8CATVersionNumber;
    U8 u8CATChangeFlag;
    U16 u16SrcStreamID;
    U8 u8SrcPort;
    U8 u8NITVersionNumber;
    U8 u8NITChangeFlag;
    U8 u8ModulationMode;
    U8 u8IsSDTChangedByUser;
    U8 u8Res;
    U16 u16DescriptorNum;
    U16 u16DescriptorIndex;
    U8 u8PATGenerate;
    U8 u8PMTGenerate;
    U8 u8CATGenerate;
    U8 u8SDTGenerate;
    U8 u8BATGenerate;
    U8 u8NITGenerate;
    U8 u8TDTGenerate;
    U8 u8TOTGenerate;
    U16 u16TransChannel;
    U8 u8EITGenerate;
    U8 u8BATChangeFlag;
    U8 u8BATVersionNumber;
    U8 u8Res1[3];
    U8 u8MGTGenerate;
    U8 u8VCTGenerate;
    U8 u8STTGenerate;
    U8 u8ETTGenerate;
    U32 u32VCTType;
    U32 u32Res[90];
};

struct Output_TSProgram {
    U32 u32StructVersion;
    U32 u32Length;
    U8 u8ValidFlag;
    U8 u8SourceSlotID;
    U16 u16SourceChannelID;
    U16 u16ChannelID;
    U8 u8SlotID;
    U8 u8PMTVersionNumber;
    U16 u16TSIndex;
    U16 u16ProgramIndex;
    U16 u16ProgramID;
    U16 u16NextProgramIndex;
    U16 u16PSECMPIDNumber;
    U16 u16PSECMPIDIndex;
    U16 u16OldServiceID;
    U16 u16OldPCRPID;
    U16 u16OldPMTPID;
    U16 u16ServiceID;
    U16 u16PCRPID;
    U16 u16PMTPID;
    U16 u16ESNumber;
    U16 u16PCRIndex;
    U16 u16PIDIndex;
    U8 u8ServiceNameLen;
    U8 u8ServiceProviderLen;
    U8 aru8ServiceName[32];
    U8 aru8ServiceProvider[32];
    U8 u8ServiceType;
    U8 u8RunningStatus;
    U8 u8FreeCAMode;
    U8 u8EITScheduleFlag;
    U8 u8EITPresentFollowingFlag;
    U8 u8PMTChangeFlag;
    U16 u16ProgramInfoLength;
    U8 aru8ProgramInfo[188];
    U16 u16SDTInfoLength;
    U8 u8CAMIndex;
    U8 u8CIFlag;
    U8 aru8SDTInfo[188];
    U16 u16ProgramInfoDescriptorIndex;
    U16 u16SDTInfoDescriptorIndex;
    U16 u16MajorChannelNum;
    U16 u16MinorChannelNum;
    U32 u32CarrierFrequency;
    U16 u16ChannelTSID;
    U16 u16SourceId;
    U8 u8ModulationMode;
    U8 u8VCTType;
    U8 u8SrcPort;
    U8 u8OtherInfo;
    U16 u16WebChannel;
    U8 u8DescrambFlag;
    U8 u8Res;
    U16 u16SrcStreamId;
    U16 u16Res;
    U16 u16TransportStreamID;
    U16 u16OriginalNetworkID;
    U32 u32Res[97];
};

struct Output_TSPID {
    U32 u32StructVersion;
    U32 u32Length;
    U8 u8ValidFlag;
    U8 u8SourceSlotID;
    U16 u16SourceChannelID;
    U8 u8SlotID;
    U8 u8PIDFilterFlag;
    U16 u16ChannelID;
    U32 u32TSIndex;
    U32 u32ProgramIndex;
    U32 u32PIDIndex;
    U16 u16ProgramID;
    U16 u16PIDID;
    U32 u32NextPIDIndex;
    U16 u16ESECMPIDNumber;
    U16 u16ESECMPIDIndex;
    U8 u8PIDType;
    U8 u8StreamType;
    U16 u16OldPID;
    U16 u16PID;
    U16 u16CASID;
    U16 u16ESInfoLength;
    U16 u16SrcStreamID;
    U8 aru8ESInfo[188];
    U16 u16ESInfoDescriptorIndex;
    U16 u16CISrcPID;
    U16 u16SrcCIStreamID;
    U16 u16ESPIDIndex;
    U32 u32Res[31];
};

struct TSTable {
    U32 u32StructVersion;
    U32 u32Length;
    U8 u8ValidFlag;
    U8 u8SlotID;
    U16 u16ChannelID;
    U16 u16Index;
    U16 u16NextIndex;
    U16 u16TSIndex;
    U8 u8TableType;
    U8 u8IsChangedByUser;
    U16 u16PID;
    U16 u16TableID;
    U16 u16SectionNumber;
    U16 u16LastSectionNumber;
    U16 u16TableInfoLen;
    U16 u16Res;
    U8 aru8TableInfo[1024];
    U32 aru32Res[32];
};

struct TSDescriptor {
    U32 u32StructVersion;
    U32 u32Length;
    U8 u8ValidFlag;
    U8 u8SlotID;
    U16 u16ChannelID;
    U16 u16ProgramIndex;
    U16 u16PIDIndex;
    U8 u8DescriptorInfo[1024];
    U16 u16DescriptorIndex;
    U16 u16DescriptorID;
    U16 u16NextDescriptorIndex;
    U16 u16TSIndex;
    U16 u16SrcStreamID;
    U16 u16SourceChannelID;
    U8 u8SourceSlotID;
    U8 aru8Res[3];
    U32 u32Res[28];
};

struct Passthrough_TSStream {
    U32 u32StructVersion;
    U8 u8ValidFlag;
    U8 u8SourceSlotID;
    U16 u16SourceChannelID;
    U32 aru32BypassDestChannel[8];
    U32 u32Res[10];
};

// The byte layouts of messages and files: sizes and the offsets that anchor them.
static_assert(sizeof(Output_TSStream) == 448);
static_assert(offsetof(Output_TSStream, u8ValidFlag) == 14);
static_assert(offsetof(Output_TSStream, u16ChannelID) == 16);
static_assert(offsetof(Output_TSStream, u16EMMPIDIndex) == 28);
static_assert(offsetof(Output_TSStream, u16SrcChannelID) == 34);
static_assert(offsetof(Output_TSStream, u16NITIndex) == 36);
static_assert(offsetof(Output_TSStream, u16OtherSDTIndex) == 46);
static_assert(offsetof(Output_TSStream, u8SDTVersionNumber) == 48);
static_assert(offsetof(Output_TSStream, u16SrcStreamID) == 52);
static_assert(offsetof(Output_TSStream, u8Res) == 59);
static_assert(offsetof(Output_TSStream, u16DescriptorNum) == 60);
static_assert(offsetof(Output_TSStream, u8PATGenerate) == 64);
static_assert(offsetof(Output_TSStream, u8TOTGenerate) == 71);
static_assert(offsetof(Output_TSStream, u16TransChannel) == 72);
static_assert(offsetof(Output_TSStream, u8Res1) == 77);
static_assert(offsetof(Output_TSStream, u8MGTGenerate) == 80);
static_assert(offsetof(Output_TSStream, u32VCTType) == 84);
static_assert(offsetof(Output_TSStream, u32Res) == 88);

static_assert(sizeof(Output_TSProgram) == 920);
static_assert(offsetof(Output_TSProgram, u8ValidFlag) == 8);
static_assert(offsetof(Output_TSProgram, u16ChannelID) == 12);
static_assert(offsetof(Output_TSProgram, u16TSIndex) == 16);
static_assert(offsetof(Output_TSProgram, u16NextProgramIndex) == 22);
static_assert(offsetof(Output_TSProgram, u16OldServiceID) == 28);
static_assert(offsetof(Output_TSProgram, u16ServiceID) == 34);
static_assert(offsetof(Output_TSProgram, u16PIDIndex) == 44);
static_assert(offsetof(Output_TSProgram, aru8ServiceName) == 48);
static_assert(offsetof(Output_TSProgram, aru8ServiceProvider) == 80);
static_assert(offsetof(Output_TSProgram, u8ServiceType) == 112);
static_assert(offsetof(Output_TSProgram, u16ProgramInfoLength) == 118);
static_assert(offsetof(Output_TSProgram, aru8ProgramInfo) == 120);
static_assert(offsetof(Output_TSProgram, u16SDTInfoLength) == 308);
static_assert(offsetof(Output_TSProgram, u8CIFlag) == 311);
static_assert(offsetof(Output_TSProgram, aru8SDTInfo) == 312);
static_assert(offsetof(Output_TSProgram, u16ProgramInfoDescriptorIndex) == 500);
static_assert(offsetof(Output_TSProgram, u32CarrierFrequency) == 508);
static_assert(offsetof(Output_TSProgram, u16WebChannel) == 520);
static_assert(offsetof(Output_TSProgram, u16SrcStreamId) == 524);
static_assert(offsetof(Output_TSProgram, u16TransportStreamID) == 528);
static_assert(offsetof(Output_TSProgram, u32Res) == 532);

// A program's service name and provider as far as their 32-byte fields hold
// them: a stored length above 32 (a configuration message may carry one) is
// capped here, so the SDT, the EIT list and the web views all send the same
// bytes and none reads past the field.
inline std::span<const U8> ProgramServiceName(const Output_TSProgram& program) {
    return {program.aru8ServiceName, std::min<std::size_t>(program.u8ServiceNameLen, sizeof program.aru8ServiceName)};
}
inline std::span<const U8> ProgramServiceProvider(const Output_TSProgram& program) {
    return {program.aru8ServiceProvider,
            std::min<std::size_t>(program.u8ServiceProviderLen, sizeof program.aru8ServiceProvider)};
}

static_assert(sizeof(Output_TSPID) == 372);
static_assert(offsetof(Output_TSPID, u8PIDFilterFlag) == 13);
static_assert(offsetof(Output_TSPID, u16ChannelID) == 14);
static_assert(offsetof(Output_TSPID, u32TSIndex) == 16);
static_assert(offsetof(Output_TSPID, u32PIDIndex) == 24);
static_assert(offsetof(Output_TSPID, u16PIDID) == 30);
static_assert(offsetof(Output_TSPID, u32NextPIDIndex) == 32);
static_assert(offsetof(Output_TSPID, u16ESECMPIDIndex) == 38);
static_assert(offsetof(Output_TSPID, u8PIDType) == 40);
static_assert(offsetof(Output_TSPID, u16PID) == 44);
static_assert(offsetof(Output_TSPID, u16SrcStreamID) == 50);
static_assert(offsetof(Output_TSPID, aru8ESInfo) == 52);
static_assert(offsetof(Output_TSPID, u16ESInfoDescriptorIndex) == 240);
static_assert(offsetof(Output_TSPID, u16ESPIDIndex) == 246);
static_assert(offsetof(Output_TSPID, u32Res) == 248);

static_assert(sizeof(TSTable) == 1184);
static_assert(offsetof(TSTable, u16Index) == 12);
static_assert(offsetof(TSTable, u16TSIndex) == 16);
static_assert(offsetof(TSTable, u8TableType) == 18);
static_assert(offsetof(TSTable, u16PID) == 20);
static_assert(offsetof(TSTable, u16TableInfoLen) == 28);
static_assert(offsetof(TSTable, aru8TableInfo) == 32);
static_assert(offsetof(TSTable, aru32Res) == 1056);

static_assert(sizeof(TSDescriptor) == 1168);
static_assert(offsetof(TSDescriptor, u16ProgramIndex) == 12);
static_assert(offsetof(TSDescriptor, u16PIDIndex) == 14);
static_assert(offsetof(TSDescriptor, u8DescriptorInfo) == 16);
static_assert(offsetof(TSDescriptor, u16DescriptorIndex) == 1040);
static_assert(offsetof(TSDescriptor, u16NextDescriptorIndex) == 1044);
static_assert(offsetof(TSDescriptor, u16TSIndex) == 1046);
static_assert(offsetof(TSDescriptor, u8SourceSlotID) == 1052);
static_assert(offsetof(TSDescriptor, u32Res) == 1056);

static_assert(sizeof(Passthrough_TSStream) == 80);
static_assert(offsetof(Passthrough_TSStream, u8ValidFlag) == 4);
static_assert(offsetof(Passthrough_TSStream, u16SourceChannelID) == 6);
static_assert(offsetof(Passthrough_TSStream, aru32BypassDestChannel) == 8);
static_assert(offsetof(Passthrough_TSStream, u32Res) == 40);

// The result of every chain walk.
struct IndexInfoList {
    U16 u16IndexListNum;
    U16 aru16IndexList[kIndexListSize];
};

// Record counts of the six pools, in pool order; 0 takes the default.
struct TSInfoInitNum {
    U32 u32OutputTSNumber;
    U32 u32OutputProgramNumber;
    U32 u32OutputPIDNumber;
    U32 u32OutputTableNumber;
    U32 u32OutputDescriptorNumber;
    U32 u32OutputBypassTSNumber;
};

// Engine bookkeeping kept beside a model's pools (free-search starting points
// and the key index of the lookups); owned by the engine, never saved or sent.
struct ModelEngineState;

// The output model: six pools and their capacities (records allocated, in use
// or not). The pools are heap blocks the engine allocates, grows and frees.
struct Output_TSInfo {
    Output_TSStream* pOutputTS;
    Output_TSProgram* pOutputProgram;
    Output_TSPID* pOutputPID;
    TSTable* pOutputTable;
    TSDescriptor* pDescriptor;
    Passthrough_TSStream* pOutputBypassTS;
    U32 u32OutputTSNumber;
    U32 u32OutputProgramNumber;
    U32 u32OutputPIDNumber;
    U32 u32OutputTableNumber;
    U32 u32OutputDescriptorNumber;
    U32 u32OutputBypassTSNumber;
    ModelEngineState* pstEngineState;
};

}  // namespace hx

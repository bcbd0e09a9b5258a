// The OID key table: the fixed key (1 to 167) of every output-model field that
// the OID snapshot carries. The keys, not the record layouts, are what the
// snapshot file stores, so this table is part of that file format: a key never
// changes its field.
//
// One table drives everything: the snapshot's save (field to key), its apply
// (key to field) and the order in which the keys enter the tree, which fixes
// the tree's shape and so the order of the records in a file. Offsets and
// widths come from the record structs themselves.
//
// Fields without a key (structure version and length words, reserved words,
// the program's u8DescrambFlag) are zero after a snapshot has been applied.
#pragma once

#include <array>
#include <cstddef>

#include "core/types.h"
#include "engine/model_pools.h"
#include "engine/model_records.h"

namespace hx {

// The record type a key belongs to, in the snapshot's pool order (that of
// ModelPool), and last the six pool counts (fields of TSInfoInitNum).
enum class OidPool : U8 { Stream, Program, Pid, Table, Descriptor, Bypass, Counts };
constexpr std::size_t kOidPoolCount = 7;

struct OidKeyField {
    U16 key;
    OidPool pool;
    U16 offset;  // in the record (in TSInfoInitNum for the counts)
    U16 width;   // bytes of the field: the element size in a snapshot
};

#define HX_OID_KEY(key, pool, Record, field) \
    OidKeyField { key, OidPool::pool, offsetof(Record, field), sizeof(Record::field) }

// In tree insertion order; within one pool, the order a record's fields are
// written and applied in (which has no effect: each key has a field of its own).
inline constexpr std::array<OidKeyField, 167> kOidKeyTable = {{
    HX_OID_KEY(1, Stream, Output_TSStream, u16NetworkID),
    HX_OID_KEY(2, Stream, Output_TSStream, u16TransportStreamID),
    HX_OID_KEY(3, Stream, Output_TSStream, u16OriginalNetworkID),
    HX_OID_KEY(4, Stream, Output_TSStream, u8ValidFlag),
    HX_OID_KEY(5, Stream, Output_TSStream, u8SlotID),
    HX_OID_KEY(6, Stream, Output_TSStream, u16ChannelID),
    HX_OID_KEY(7, Stream, Output_TSStream, u16ProgramNum),
    HX_OID_KEY(8, Stream, Output_TSStream, u16ProgramIndex),
    HX_OID_KEY(9, Stream, Output_TSStream, u16OtherPIDNum),
    HX_OID_KEY(10, Stream, Output_TSStream, u16OtherPIDIndex),
    HX_OID_KEY(11, Stream, Output_TSStream, u16EMMPIDNumber),
    HX_OID_KEY(12, Stream, Output_TSStream, u16EMMPIDIndex),
    HX_OID_KEY(13, Stream, Output_TSStream, u8PATVersionNumber),
    HX_OID_KEY(14, Stream, Output_TSStream, u8PATChangeFlag),
    HX_OID_KEY(15, Stream, Output_TSStream, u8BypassFlag),
    HX_OID_KEY(16, Stream, Output_TSStream, u8SrcSlotID),
    HX_OID_KEY(17, Stream, Output_TSStream, u16SrcChannelID),
    HX_OID_KEY(18, Stream, Output_TSStream, u16NITIndex),
    HX_OID_KEY(19, Stream, Output_TSStream, u16BATIndex),
    HX_OID_KEY(20, Stream, Output_TSStream, u16TDTIndex),
    HX_OID_KEY(21, Stream, Output_TSStream, u16TOTIndex),
    HX_OID_KEY(22, Stream, Output_TSStream, u16OtherNITIndex),
    HX_OID_KEY(23, Stream, Output_TSStream, u16OtherSDTIndex),
    HX_OID_KEY(24, Stream, Output_TSStream, u8SDTVersionNumber),
    HX_OID_KEY(25, Stream, Output_TSStream, u8SDTChangeFlag),
    HX_OID_KEY(26, Stream, Output_TSStream, u8CATVersionNumber),
    HX_OID_KEY(27, Stream, Output_TSStream, u8CATChangeFlag),
    HX_OID_KEY(28, Stream, Output_TSStream, u16SrcStreamID),
    HX_OID_KEY(29, Stream, Output_TSStream, u8SrcPort),
    HX_OID_KEY(134, Stream, Output_TSStream, u8IsSDTChangedByUser),
    HX_OID_KEY(30, Program, Output_TSProgram, u8ValidFlag),
    HX_OID_KEY(31, Program, Output_TSProgram, u8SourceSlotID),
    HX_OID_KEY(32, Program, Output_TSProgram, u16SourceChannelID),
    HX_OID_KEY(33, Program, Output_TSProgram, u16ChannelID),
    HX_OID_KEY(34, Program, Output_TSProgram, u8SlotID),
    HX_OID_KEY(35, Program, Output_TSProgram, u8PMTVersionNumber),
    HX_OID_KEY(36, Program, Output_TSProgram, u16TSIndex),
    HX_OID_KEY(37, Program, Output_TSProgram, u16ProgramIndex),
    HX_OID_KEY(38, Program, Output_TSProgram, u16ProgramID),
    HX_OID_KEY(39, Program, Output_TSProgram, u16NextProgramIndex),
    HX_OID_KEY(40, Program, Output_TSProgram, u16PSECMPIDNumber),
    HX_OID_KEY(41, Program, Output_TSProgram, u16PSECMPIDIndex),
    HX_OID_KEY(42, Program, Output_TSProgram, u16OldServiceID),
    HX_OID_KEY(43, Program, Output_TSProgram, u16OldPCRPID),
    HX_OID_KEY(44, Program, Output_TSProgram, u16OldPMTPID),
    HX_OID_KEY(45, Program, Output_TSProgram, u16ServiceID),
    HX_OID_KEY(46, Program, Output_TSProgram, u16PCRPID),
    HX_OID_KEY(47, Program, Output_TSProgram, u16PMTPID),
    HX_OID_KEY(48, Program, Output_TSProgram, u16ESNumber),
    HX_OID_KEY(49, Program, Output_TSProgram, u16PCRIndex),
    HX_OID_KEY(50, Program, Output_TSProgram, u16PIDIndex),
    HX_OID_KEY(51, Program, Output_TSProgram, u8ServiceNameLen),
    HX_OID_KEY(52, Program, Output_TSProgram, u8ServiceProviderLen),
    HX_OID_KEY(53, Program, Output_TSProgram, aru8ServiceName),
    HX_OID_KEY(54, Program, Output_TSProgram, aru8ServiceProvider),
    HX_OID_KEY(55, Program, Output_TSProgram, u8ServiceType),
    HX_OID_KEY(56, Program, Output_TSProgram, u8RunningStatus),
    HX_OID_KEY(57, Program, Output_TSProgram, u8FreeCAMode),
    HX_OID_KEY(58, Program, Output_TSProgram, u8EITScheduleFlag),
    HX_OID_KEY(59, Program, Output_TSProgram, u8EITPresentFollowingFlag),
    HX_OID_KEY(60, Program, Output_TSProgram, u8PMTChangeFlag),
    HX_OID_KEY(61, Program, Output_TSProgram, u16ProgramInfoLength),
    HX_OID_KEY(62, Program, Output_TSProgram, aru8ProgramInfo),
    HX_OID_KEY(63, Program, Output_TSProgram, u16SDTInfoLength),
    HX_OID_KEY(64, Program, Output_TSProgram, u8CAMIndex),
    HX_OID_KEY(65, Program, Output_TSProgram, u8CIFlag),
    HX_OID_KEY(66, Program, Output_TSProgram, aru8SDTInfo),
    HX_OID_KEY(67, Program, Output_TSProgram, u16ProgramInfoDescriptorIndex),
    HX_OID_KEY(68, Program, Output_TSProgram, u16SDTInfoDescriptorIndex),
    HX_OID_KEY(69, Program, Output_TSProgram, u16MajorChannelNum),
    HX_OID_KEY(70, Program, Output_TSProgram, u16MinorChannelNum),
    HX_OID_KEY(71, Program, Output_TSProgram, u32CarrierFrequency),
    HX_OID_KEY(72, Program, Output_TSProgram, u16ChannelTSID),
    HX_OID_KEY(73, Program, Output_TSProgram, u16SourceId),
    HX_OID_KEY(74, Program, Output_TSProgram, u8ModulationMode),
    HX_OID_KEY(75, Program, Output_TSProgram, u8VCTType),
    HX_OID_KEY(76, Program, Output_TSProgram, u8SrcPort),
    HX_OID_KEY(77, Program, Output_TSProgram, u8OtherInfo),
    HX_OID_KEY(78, Program, Output_TSProgram, u16WebChannel),
    HX_OID_KEY(132, Program, Output_TSProgram, u16SrcStreamId),
    HX_OID_KEY(137, Program, Output_TSProgram, u16TransportStreamID),
    HX_OID_KEY(138, Program, Output_TSProgram, u16OriginalNetworkID),
    HX_OID_KEY(79, Pid, Output_TSPID, u8ValidFlag),
    HX_OID_KEY(80, Pid, Output_TSPID, u8SourceSlotID),
    HX_OID_KEY(81, Pid, Output_TSPID, u16SourceChannelID),
    HX_OID_KEY(82, Pid, Output_TSPID, u8SlotID),
    HX_OID_KEY(83, Pid, Output_TSPID, u16ChannelID),
    HX_OID_KEY(84, Pid, Output_TSPID, u32TSIndex),
    HX_OID_KEY(85, Pid, Output_TSPID, u32ProgramIndex),
    HX_OID_KEY(86, Pid, Output_TSPID, u32PIDIndex),
    HX_OID_KEY(87, Pid, Output_TSPID, u16ProgramID),
    HX_OID_KEY(88, Pid, Output_TSPID, u16PIDID),
    HX_OID_KEY(89, Pid, Output_TSPID, u32NextPIDIndex),
    HX_OID_KEY(90, Pid, Output_TSPID, u16ESECMPIDNumber),
    HX_OID_KEY(91, Pid, Output_TSPID, u16ESECMPIDIndex),
    HX_OID_KEY(92, Pid, Output_TSPID, u8PIDType),
    HX_OID_KEY(93, Pid, Output_TSPID, u8StreamType),
    HX_OID_KEY(94, Pid, Output_TSPID, u16OldPID),
    HX_OID_KEY(95, Pid, Output_TSPID, u16PID),
    HX_OID_KEY(96, Pid, Output_TSPID, u16CASID),
    HX_OID_KEY(97, Pid, Output_TSPID, u16ESInfoLength),
    HX_OID_KEY(98, Pid, Output_TSPID, u16SrcStreamID),
    HX_OID_KEY(99, Pid, Output_TSPID, aru8ESInfo),
    HX_OID_KEY(100, Pid, Output_TSPID, u16ESInfoDescriptorIndex),
    HX_OID_KEY(101, Pid, Output_TSPID, u16CISrcPID),
    HX_OID_KEY(102, Pid, Output_TSPID, u16SrcCIStreamID),
    HX_OID_KEY(135, Pid, Output_TSPID, u8PIDFilterFlag),
    HX_OID_KEY(136, Pid, Output_TSPID, u16ESPIDIndex),
    HX_OID_KEY(103, Table, TSTable, u8ValidFlag),
    HX_OID_KEY(104, Table, TSTable, u8SlotID),
    HX_OID_KEY(105, Table, TSTable, u16ChannelID),
    HX_OID_KEY(106, Table, TSTable, u16Index),
    HX_OID_KEY(107, Table, TSTable, u16NextIndex),
    HX_OID_KEY(108, Table, TSTable, u16TSIndex),
    HX_OID_KEY(109, Table, TSTable, u8TableType),
    HX_OID_KEY(110, Table, TSTable, u16PID),
    HX_OID_KEY(111, Table, TSTable, u16TableID),
    HX_OID_KEY(112, Table, TSTable, u16SectionNumber),
    HX_OID_KEY(113, Table, TSTable, u16LastSectionNumber),
    HX_OID_KEY(114, Table, TSTable, u16TableInfoLen),
    HX_OID_KEY(115, Table, TSTable, aru8TableInfo),
    HX_OID_KEY(133, Table, TSTable, u8IsChangedByUser),
    HX_OID_KEY(116, Descriptor, TSDescriptor, u8ValidFlag),
    HX_OID_KEY(117, Descriptor, TSDescriptor, u8SlotID),
    HX_OID_KEY(118, Descriptor, TSDescriptor, u16ChannelID),
    HX_OID_KEY(119, Descriptor, TSDescriptor, u16ProgramIndex),
    HX_OID_KEY(120, Descriptor, TSDescriptor, u16PIDIndex),
    HX_OID_KEY(121, Descriptor, TSDescriptor, u8DescriptorInfo),
    HX_OID_KEY(122, Bypass, Passthrough_TSStream, u8ValidFlag),
    HX_OID_KEY(123, Bypass, Passthrough_TSStream, u8SourceSlotID),
    HX_OID_KEY(124, Bypass, Passthrough_TSStream, u16SourceChannelID),
    HX_OID_KEY(125, Bypass, Passthrough_TSStream, aru32BypassDestChannel),
    HX_OID_KEY(126, Counts, TSInfoInitNum, u32OutputTSNumber),
    HX_OID_KEY(127, Counts, TSInfoInitNum, u32OutputProgramNumber),
    HX_OID_KEY(128, Counts, TSInfoInitNum, u32OutputPIDNumber),
    HX_OID_KEY(129, Counts, TSInfoInitNum, u32OutputTableNumber),
    HX_OID_KEY(130, Counts, TSInfoInitNum, u32OutputDescriptorNumber),
    HX_OID_KEY(131, Counts, TSInfoInitNum, u32OutputBypassTSNumber),
    HX_OID_KEY(139, Stream, Output_TSStream, u8NITVersionNumber),
    HX_OID_KEY(140, Stream, Output_TSStream, u8NITChangeFlag),
    HX_OID_KEY(141, Stream, Output_TSStream, u8ModulationMode),
    HX_OID_KEY(142, Stream, Output_TSStream, u16DescriptorNum),
    HX_OID_KEY(143, Stream, Output_TSStream, u16DescriptorIndex),
    HX_OID_KEY(144, Descriptor, TSDescriptor, u16DescriptorIndex),
    HX_OID_KEY(145, Descriptor, TSDescriptor, u16DescriptorID),
    HX_OID_KEY(146, Descriptor, TSDescriptor, u16NextDescriptorIndex),
    HX_OID_KEY(147, Descriptor, TSDescriptor, u16TSIndex),
    HX_OID_KEY(148, Descriptor, TSDescriptor, u16SrcStreamID),
    HX_OID_KEY(149, Descriptor, TSDescriptor, u16SourceChannelID),
    HX_OID_KEY(150, Descriptor, TSDescriptor, u8SourceSlotID),
    HX_OID_KEY(151, Stream, Output_TSStream, u8PATGenerate),
    HX_OID_KEY(152, Stream, Output_TSStream, u8PMTGenerate),
    HX_OID_KEY(153, Stream, Output_TSStream, u8CATGenerate),
    HX_OID_KEY(154, Stream, Output_TSStream, u8SDTGenerate),
    HX_OID_KEY(156, Stream, Output_TSStream, u8BATGenerate),
    HX_OID_KEY(155, Stream, Output_TSStream, u8NITGenerate),
    HX_OID_KEY(157, Stream, Output_TSStream, u8TDTGenerate),
    HX_OID_KEY(158, Stream, Output_TSStream, u8TOTGenerate),
    HX_OID_KEY(160, Stream, Output_TSStream, u16TransChannel),
    HX_OID_KEY(159, Stream, Output_TSStream, u8EITGenerate),
    HX_OID_KEY(161, Stream, Output_TSStream, u8BATChangeFlag),
    HX_OID_KEY(162, Stream, Output_TSStream, u8BATVersionNumber),
    HX_OID_KEY(163, Stream, Output_TSStream, u8MGTGenerate),
    HX_OID_KEY(164, Stream, Output_TSStream, u8VCTGenerate),
    HX_OID_KEY(165, Stream, Output_TSStream, u8STTGenerate),
    HX_OID_KEY(166, Stream, Output_TSStream, u8ETTGenerate),
    HX_OID_KEY(167, Stream, Output_TSStream, u32VCTType),
}};

#undef HX_OID_KEY

constexpr std::size_t kOidKeyCount = kOidKeyTable.size();

}  // namespace hx

// Records of the input cards' configuration messages that are not model
// records: the four 8-byte delete orders and the PMT monitor's PID change.
//
// They cross the inter-board wire, so each struct is laid out as its
// little-endian wire bytes (checked below). A message's records follow its
// count byte and are therefore unaligned: they are copied into zeroed local
// records, never cast over the buffer. No state, no lock.
#pragma once

#include <cstddef>

#include "core/types.h"

namespace hx {

struct Delete_TSStream {
    U8 u8SourceSlotID;
    U8 u8Slot;  // destination slot, informational
    U16 u16Res;
    U16 u16SourceChannelID;
    U16 u16ChannelID;
};

struct Delete_TSProgram {
    U8 u8SourceSlotID;
    U8 u8Res;
    U16 u16SourceChannelID;
    U16 u16ChannelID;
    U16 u16ProgramID;
};

struct Delete_TSPID {
    U8 u8SourceSlotID;
    U8 u8PIDFilterFlag;
    U16 u16SourceChannelID;
    U16 u16ChannelID;
    U16 u16PIDID;
};

struct Delete_TSProgramDescriptor {
    U8 u8SourceSlotID;
    U8 u8Res;
    U16 u16SourceChannelID;
    U16 u16ChannelID;
    U16 u16ProgramID;
};

constexpr U16 kMonitorLoopSize = 188;
constexpr U8 kMonitorPmt = 1;

// A PID change the input card's PMT monitor reports: the PMT of a program
// (type 1) or a PID record of types 2-7.
struct MonitorPID_t {
    U8 u8PIDType;
    U8 u8StreamType;
    U16 u16OldPID;
    U16 u16NewPID;
    U8 u8SrcSlot;
    U8 u8Res;
    U16 u16SrcChannel;
    U16 u16DestChannel;
    U16 u16PIDID;
    U16 u16CASID;
    U8 aru8DescriptorInfo[kMonitorLoopSize];
    U16 u16DescriptorInfoLength;
    U16 u16DescriptorIndex;
};

static_assert(sizeof(Delete_TSStream) == 8);
static_assert(offsetof(Delete_TSStream, u8Slot) == 1);
static_assert(offsetof(Delete_TSStream, u16SourceChannelID) == 4);
static_assert(offsetof(Delete_TSStream, u16ChannelID) == 6);
static_assert(sizeof(Delete_TSProgram) == 8);
static_assert(offsetof(Delete_TSProgram, u16SourceChannelID) == 2);
static_assert(offsetof(Delete_TSProgram, u16ChannelID) == 4);
static_assert(offsetof(Delete_TSProgram, u16ProgramID) == 6);
static_assert(sizeof(Delete_TSPID) == 8);
static_assert(offsetof(Delete_TSPID, u8PIDFilterFlag) == 1);
static_assert(offsetof(Delete_TSPID, u16SourceChannelID) == 2);
static_assert(offsetof(Delete_TSPID, u16PIDID) == 6);
static_assert(sizeof(Delete_TSProgramDescriptor) == 8);
static_assert(offsetof(Delete_TSProgramDescriptor, u16ProgramID) == 6);

static_assert(sizeof(MonitorPID_t) == 208);
static_assert(offsetof(MonitorPID_t, u16OldPID) == 2);
static_assert(offsetof(MonitorPID_t, u16NewPID) == 4);
static_assert(offsetof(MonitorPID_t, u8SrcSlot) == 6);
static_assert(offsetof(MonitorPID_t, u16SrcChannel) == 8);
static_assert(offsetof(MonitorPID_t, u16DestChannel) == 10);
static_assert(offsetof(MonitorPID_t, u16PIDID) == 12);
static_assert(offsetof(MonitorPID_t, u16CASID) == 14);
static_assert(offsetof(MonitorPID_t, aru8DescriptorInfo) == 16);
static_assert(offsetof(MonitorPID_t, u16DescriptorInfoLength) == 204);
static_assert(offsetof(MonitorPID_t, u16DescriptorIndex) == 206);

}  // namespace hx

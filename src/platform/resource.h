// Board status and per-slot resource records.
//
// The board keeps 17 resource records of 1,024 bytes: slots 0-15 and the back
// board as 16. The own record is built at start-up and announced to the back
// board; the others arrive from it. Records live for the whole process and are
// reached through Resource_getSelfHandle / Resource_GetHandle.
//
// The byte layout (docs/board-interfaces.md) is the wire format of command 257;
// the struct below is laid out so that its bytes are exactly that layout on
// the card's little-endian processor (checked by static_assert).
#pragma once

#include <cstddef>

#include "core/types.h"

namespace hx {

constexpr U32 kSlotCount = 16;          // card slots 0-15
constexpr U32 kBackBoardSlot = 16;
constexpr U32 kResourceRecords = 17;    // card slots and the back board
constexpr U32 kNoEitBoardSlot = 17;
constexpr U8 kQamBoardType = 33;

struct TResource_TS {
    U8 u8SlotID;
    U8 u8BoardType;
    U8 u8Standard;
    U8 u8Language;
    U32 u32IPAddress;
    U8 au8Mac[6];
    U16 u16OutputChannelNum;
    U32 u32SoftVersion;
    U32 u32LogicVersion;
    U32 u32HardVersion;
    U8 au8BoardDescriptor[20];
    U8 au8CustomerNo[32];
    U8 u8FTPUpgrade;
    U8 u8EitEnable;
    U8 u8isDelChannelProg;
    U8 u8MuxPIDEnable;
    U8 u8CustomVariant;
    U8 u8DaylightSaving;
    S16 s16TimeZoneMinutes;
    U8 au8ChannelStatus[32];
    U8 u8GPSUTCOffset;
    U8 u8VlanEnable;
    U16 u16VlanID;
    U8 u8ServiceFlags;
    U8 au8Reserved[899];
};
static_assert(sizeof(TResource_TS) == 1024);
static_assert(offsetof(TResource_TS, u32IPAddress) == 4);
static_assert(offsetof(TResource_TS, u16OutputChannelNum) == 14);
static_assert(offsetof(TResource_TS, au8BoardDescriptor) == 28);
static_assert(offsetof(TResource_TS, u8FTPUpgrade) == 80);
static_assert(offsetof(TResource_TS, s16TimeZoneMinutes) == 86);
static_assert(offsetof(TResource_TS, au8ChannelStatus) == 88);
static_assert(offsetof(TResource_TS, u16VlanID) == 122);
static_assert(offsetof(TResource_TS, u8ServiceFlags) == 124);

void Status_Init();
U32 Status_GetSlotID();
U8 Status_GetIPReqflag();

void Resource_Init();
TResource_TS* Resource_getSelfHandle();
TResource_TS* Resource_GetHandle(U32 slot);
// The board's SI standard, the QAM parameter Standard: 0 DVB, 1 ATSC.
U8 Resource_GetSIMode();

}  // namespace hx

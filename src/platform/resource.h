// Board status and per-slot resource records.
//
// Status: the board's slot number, read once from main-FPGA register 16 at
// start-up, and the flag that the back board has answered the serial request
// for network settings.
//
// Resource records: 17 records of 1,024 bytes, slots 0-15 and the back board
// as 16. The own record is built at start-up (Resource_Init) and announced to
// the back board; the others arrive from it (Resource_SetSlotResource, in the
// inter-board server thread). The records live for the whole process and are
// handed out as pointers (Resource_getSelfHandle, Resource_GetHandle); like
// the other live records of the card they have no lock: the inter-board
// server thread writes them, start-up, the web, SNMP and the senders read.
//
// On the wire (command 257) a record is the fixed little-endian layout of
// docs/board-interfaces.md, produced and read only by Resource_Serialize and
// Resource_Parse; the struct mirrors that layout field for field.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

#include "core/types.h"

namespace hx {

constexpr U32 kSlotCount = 16;          // card slots 0-15
constexpr U32 kBackBoardSlot = 16;
constexpr U32 kResourceRecords = 17;    // card slots and the back board
constexpr U32 kNoEitBoardSlot = 17;
constexpr U8 kQamBoardType = 33;
constexpr U8 kEitBoardType = 65;        // the board that generates EIT
constexpr std::size_t kResourceSize = 1024;
// Software version when the version file cannot be read: 20.7.20.
constexpr U32 kDefaultSoftVersion = 1312532;
constexpr const char* kUpgradeVersionPath = "/vandik_data/upgradeVersion.json";
constexpr const char* kShippedVersionPath = "/vandik_app/app/upgrade.json";
constexpr const char* kEth0Name = "eth0";

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

using ResourceBytes = std::array<U8, kResourceSize>;

// The record's wire bytes; the reserved tail is written as zeros.
ResourceBytes Resource_Serialize(const TResource_TS& record);
// nullopt unless exactly 1,024 bytes are given.
std::optional<TResource_TS> Resource_Parse(std::span<const U8> bytes);

// Reads the slot number from register 16; a value above 15 is logged as an
// error and its low four bits are kept.
void Status_Init();
U32 Status_GetSlotID();
// 1 once the back board has answered the serial request for network settings.
BOOL Status_GetIPReqflag();
void Status_SetIPReqflag(BOOL bFlag);

// Builds the own record: slot, board type 33, "QAM Board", 16 channels,
// software version (version file), logic version (register 0), hardware
// version (GPIO pins), customer variant, and the eth0 MAC, which also goes to
// registers 265/266.
void Resource_Init();
TResource_TS* Resource_getSelfHandle();
// Null for a slot of 17 or more.
TResource_TS* Resource_GetHandle(U32 slot);

// Stores a record that the back board (sender 16) forwards, as the record of
// the slot named in its own u8SlotID. A record naming this board's own slot
// never replaces its address or MAC, which only the board itself knows. The
// back board's own record also applies:
//   - the live QAM Standard, under the QAM apply lock;
//   - the error-text language;
//   - the time settings (Resource_GetTimeSettings);
//   - the VLAN setting: a tagged interface "eth0.N" on eth0, added, replaced
//     or removed when the setting changes (an id outside 1-4094 is refused
//     and logged, the interface as it was).
// Its service switches are only stored. When the EIT board changes, the EIT
// list is sent again and the apply pipeline runs. Records from other senders
// are ignored; a record naming slot 17 or more, a wrong length or null data is
// refused (4) and logged.
U32 Resource_SetSlotResource(U32 u32slot, const U8* u8Data, U32 u32Length = kResourceSize);

// The chassis time settings of the back board's own record, as last applied
// (all zero before the first one): read by the time-table builders in the SI
// sender thread while the inter-board server applies a new record, so they
// are held as one atomic word and always read whole.
struct BoardTimeSettings {
    S16 s16TimeZoneMinutes = 0;
    U8 u8DaylightSaving = 0;
    U8 u8GPSUTCOffset = 0;
    bool operator==(const BoardTimeSettings&) const = default;
};
BoardTimeSettings Resource_GetTimeSettings();

// The slot's IPv4 address (host order); 0 (no address) for a slot of 17 or
// more, so a caller can never take an error code for an address.
U32 Resource_getBoardIPAddress(U32 slot);
void Resource_SetBackBoardIpAddr(U32 u32Ipaddr);
// Copies the 20-byte board descriptor of slot 0-16; 4 above or for null. For
// the web pages.
U32 Resource_getBoardDescriptor(U32 slot, U8* pu8Descriptor);
// kSiModeDvb or kSiModeAtsc: the low byte of the live QAM Standard.
constexpr U8 kSiModeDvb = 0;
constexpr U8 kSiModeAtsc = 1;
U8 Resource_GetSIMode();
// Lowest slot 0-16 with board type 65 and EIT enabled; 17 when none.
U8 Resource_GetEITBoardSlot();
// 1 when every other plugged input or output board can delete one channel's
// programs (u8isDelChannelProg), walking the user-interface slots. For the
// web channel deletion.
U8 Resource_IsAllBoardSupportDelChannelProg();
// big << 16 | mid << 8 | min from the version file, copied from the shipped
// one when missing; 1 on success, 0 (logged) otherwise.
U32 Resource_GetSoftVersion(U32* pu32SoftVersion);
// err_SetLanguage with the language byte of the back board's record.
int Resource_SetErrorCodeLanguage(U8 u8Language);

// The customer-variant switch (run profile), off by default.
BOOL IsQuenlorCustom();

// Back to a fresh start: records zeroed, slot 0, IP-request flag cleared,
// time settings zero, no VLAN applied (nothing is run).
void Resource_Reset();

}  // namespace hx

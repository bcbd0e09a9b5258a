// Firmware upgrade: the image header and its checks, the install of an image
// that passed them, the version file it leaves, the FTP upgrade order and the
// progress reporter that tells the back board how an FTP upgrade goes.
//
// Threads: the delivery commands (3841 image in packets, 3843 FTP order) are
// run by the inter-board server thread, one at a time, and with them
// everything here except the progress reporter, a detached thread started by
// SubUpgrade_TimeoutStart for each FTP order (Send_SubUpgradeProccessStatus).
//
// Shared between them:
//   - the progress record `UpgradeProFlag`, behind its own small lock
//     (s_upgradeRecordMutex in upgrade.cpp), held only to copy or change the
//     record, never across a send or a wait. Every change of the progress step
//     keeps a copy of the record as it stood, and the reporter sends those
//     copies in order, so the back board sees each step once even when
//     several pass within one of its seconds;
//   - the flags `g_isFtpUpgrading`, `g_isSendTimeOut` and
//     `g_isUpgardeTimeOut`, atomics.
//
// Every wait (3 s after the payload is written, 3 s after the install script,
// 5 s at the end, the reporter's 1 s turns) sleeps on TheClock().
//
// Shell tools run through the command runner as argument vectors; on the
// simulated board the install script, the copy script, `sync`, `mount` and
// `umount` are only recorded, so installing an image on a PC writes files
// below the data root and runs nothing the image carries.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/types.h"

namespace hx {

struct st_VK_UPGRADE {
    U8 u8SlotID = 0;
    U16 u8Res = 0;
    U32 u32TmpVersion = 0;
    U32 u32ErrorCode = 0;
    U16 u16CMD = 3847;
    U8 u8CurUpgradeProFlag = 0;
    U8 u8SumUpgradeProFlag = 10;
    U8 u8CommStatusFlag = 1;
    U8 u8UpgradeStatusFlag = 1;
    U32 u32BoardSoftVersion = 0;
    U32 u32BoardLogicVersion = 0;
    U32 u32FileSoftVersion = 0;
    U32 u32FileLogicVersion = 0;
    U8 u8BoardType = 0;
};

constexpr U32 kUpgradeRecordSize = 40;
// Progress steps. 4 to 9 are the stages of the check and install in turn.
constexpr U8 upgrade_idle = 0;
constexpr U8 upgrade_fail = 2;
constexpr U8 upgrade_doing = 3;
constexpr U8 kUpgradeHeaderStep = 4;
constexpr U8 kUpgradeSuccessStep = 10;

// The 40-byte little-endian wire form sent with command 3847.
std::array<U8, kUpgradeRecordSize> Upgrade_Serialize(const st_VK_UPGRADE& record);
// Reads the 40 bytes back (alignment bytes ignored); nullopt for any other length.
std::optional<st_VK_UPGRADE> Upgrade_Parse(std::span<const U8> bytes);

// The progress record `UpgradeProFlag`: a copy of it, and its changes.
st_VK_UPGRADE UpgradeProFlag_Get();
// Replaces the whole record (start-up's profile, tests); no change is reported.
void UpgradeProFlag_Set(const st_VK_UPGRADE& record);
void UpgradeProFlag_SetStep(U8 step);
// Step 2 with this error code and temporary version.
void UpgradeProFlag_Fail(U32 errorCode, U32 tmpVersion);
void UpgradeProFlag_SetCommStatus(U8 status);
// The copies of the record kept at each change of the step since the last
// take, oldest first (at most kUpgradeReportBacklog; older ones are dropped).
constexpr std::size_t kUpgradeReportBacklog = 32;
std::vector<st_VK_UPGRADE> UpgradeProFlag_TakeChanges();

extern std::atomic<U8> g_isFtpUpgrading;
extern std::atomic<U8> g_isSendTimeOut;     // the 240-second watch is armed
extern std::atomic<U8> g_isUpgardeTimeOut;  // the watch fired during this delivery
// Rollback_Version after an image was refused for its version; copied into
// the record whenever an upgrade fails.
extern std::atomic<U32> TmpVersion;

// The highest version this board refuses (1.1.13): an image must carry a higher one.
constexpr U32 Rollback_Version = 0x0001010D;
constexpr U32 kUpgradeSyncFlag = 0x99999999;
constexpr U32 kUpgradeBoardType = 33;
constexpr U32 kUpgradeMachineType = 26;
// Seconds after the reporter's start past which an unverified payload fails.
constexpr U32 kUpgradeWatchSeconds = 240;
constexpr U32 kFtpFetchTries = 7;
constexpr const char* kUpgradeImagePath = "/var/volatile/upgradefile";

// The firmware image's 256-byte header, little-endian on the wire. The struct
// mirrors the layout field for field; the bytes are read and written only by
// ImageHeader_Parse and ImageHeader_Serialize.
struct ImageHeader_t {
    U32 SyncFlag;
    U32 HeaderVersion;
    U32 HeaderLength;
    U32 BoardType;
    U32 DataMaxSize;
    U32 DataTimestamp;
    U32 DataLength;  // payload bytes after the header
    U32 PlatformType;
    U32 DataCRC32;   // CRC-32/MPEG-2 of the payload
    std::array<U8, 20> ucFirmwareVersion;
    U32 FirmwareLength;
    std::array<U8, 20> ucSoftwareVersion;  // "V<big>.<mid>.<min>"
    U32 SoftwareLength;
    U32 ucHardwareVersion;
    U32 MachineType;
    U32 u32SWFunction;
    U32 u32OrgSize;
    U8 u8BeginQRTMainboardValid;
    U8 u8BeginKVDMainboardValid;
    std::array<U8, 2> aru8Reserved;
    std::array<U8, 20> aru8BeginQRTMainboardSWVer;
    std::array<U8, 20> aru8BeginKVDMainboardSWVer;
    U32 u32OrgFirmSize;
    std::array<U32, 26> aru32Reserved;
    U32 HeaderCRC32;
};
constexpr std::size_t kImageHeaderSize = 256;
static_assert(sizeof(ImageHeader_t) == kImageHeaderSize);
static_assert(offsetof(ImageHeader_t, SyncFlag) == 0);
static_assert(offsetof(ImageHeader_t, HeaderVersion) == 4);
static_assert(offsetof(ImageHeader_t, HeaderLength) == 8);
static_assert(offsetof(ImageHeader_t, BoardType) == 12);
static_assert(offsetof(ImageHeader_t, DataMaxSize) == 16);
static_assert(offsetof(ImageHeader_t, DataTimestamp) == 20);
static_assert(offsetof(ImageHeader_t, DataLength) == 24);
static_assert(offsetof(ImageHeader_t, PlatformType) == 28);
static_assert(offsetof(ImageHeader_t, DataCRC32) == 32);
static_assert(offsetof(ImageHeader_t, ucFirmwareVersion) == 36);
static_assert(offsetof(ImageHeader_t, FirmwareLength) == 56);
static_assert(offsetof(ImageHeader_t, ucSoftwareVersion) == 60);
static_assert(offsetof(ImageHeader_t, SoftwareLength) == 80);
static_assert(offsetof(ImageHeader_t, ucHardwareVersion) == 84);
static_assert(offsetof(ImageHeader_t, MachineType) == 88);
static_assert(offsetof(ImageHeader_t, u32SWFunction) == 92);
static_assert(offsetof(ImageHeader_t, u32OrgSize) == 96);
static_assert(offsetof(ImageHeader_t, u8BeginQRTMainboardValid) == 100);
static_assert(offsetof(ImageHeader_t, u8BeginKVDMainboardValid) == 101);
static_assert(offsetof(ImageHeader_t, aru8Reserved) == 102);
static_assert(offsetof(ImageHeader_t, aru8BeginQRTMainboardSWVer) == 104);
static_assert(offsetof(ImageHeader_t, aru8BeginKVDMainboardSWVer) == 124);
static_assert(offsetof(ImageHeader_t, u32OrgFirmSize) == 144);
static_assert(offsetof(ImageHeader_t, aru32Reserved) == 148);
static_assert(offsetof(ImageHeader_t, HeaderCRC32) == 252);

using ImageHeaderBytes = std::array<U8, kImageHeaderSize>;
ImageHeaderBytes ImageHeader_Serialize(const ImageHeader_t& header);
ImageHeader_t ImageHeader_Parse(std::span<const U8, kImageHeaderSize> bytes);

// The software version of a header, read within its 20 bytes as "V%d.%d.%d"
// reads it: a part that does not parse, and those after it, count 0.
struct SoftwareVersion {
    std::int64_t big = 0;
    std::int64_t mid = 0;
    std::int64_t min = 0;
};
SoftwareVersion Upgrade_ReadSoftwareVersion(const ImageHeader_t& header);
// Each part within 0-255, so the version packs into its three bytes.
bool Upgrade_VersionFits(const SoftwareVersion& version);
// big << 16 | mid << 8 | min.
U32 Upgrade_PackVersion(const SoftwareVersion& version);

// Start-up: the progress record from this board's resource record.
void FTP_UpgradeProfileInit();
// Writes the received image to "/var/volatile/upgradefile". 0; 4 for null
// data; 6 when the file cannot be written.
U32 upgrade_RecieveFile(const U8* pu8Buffer, U32 u32Length);
// A delivery (3841 packet 0, an FTP order) begins: a time-out of an earlier
// upgrade no longer counts, nor do the step changes it left unreported.
void upgrade_BeginDelivery();
// Checks and installs the image; the result of the check, also kept in the
// progress record (step 10 on success, 2 with the code on failure). The image
// is deleted afterwards.
U32 upgrade_UpgradeSystem(const char* pcFileName);
// The checks and the install: 0; 4 null name; 5 payload CRC; 6 the image
// cannot be rewritten; 7 the image or its payload cannot be read (a
// DataLength beyond the file's end included) or written back, or the board's
// resource record is missing; 8 no memory; 9 the header cannot be read, or
// has a wrong sync word, board type or machine type, or a version part
// outside 0-255; 18 the payload is no readable tar archive, lacks "zz.zz" or
// "run.sh" at its top, or holds a member or link that would leave its folder
// (all found before anything is extracted); 2051 the watch fired; 2568
// version not above 1.1.13.
U32 upgrade_CheckUpgrade(const U8* UpgradeFileName);
// Whether a fetched image can be opened (its content is not examined): 0, 4, 7.
U32 upgrade_CheckFile(const U8* UpgradeFileName);
// Writes the version file "/vandik_data/upgradeVersion.json" from the header.
void storeVersionFromHeader(const ImageHeader_t* stUpgradeHeader);
// Checks that the version file holds the header's version; when not, writes
// it to the JFFS2 partition's copy through a mount of "/dev/mtdblock6".
void upgrade_CheckSoftVersionModify(const ImageHeader_t* stUpgradeHeader);
// The FTP order: fetches "upgradefile" from the back board into
// "/var/volatile/", up to 7 tries; after the seventh failure the record holds
// step 2 and 2049. Always 0.
U32 upgrade_FTPUpgradeMode();
// Starts the progress reporter thread; 0, or 1 when it cannot be started.
U32 SubUpgrade_TimeoutStart();
// The reporter thread's entry.
void* Send_SubUpgradeProccessStatus(void* arg);
// The watch: past 240 s while armed and an upgrade is at step 3 or later, the
// upgrade fails with 2051.
void upgradeCheckSubTimeout(U32 u32Time);

// One reporter: what its thread does each second, as a step tests can call.
class UpgradeReporter {
public:
    // Notes the start time (TheClock()) and logs that reporting begins.
    UpgradeReporter();
    // One turn of the loop: false once the upgrade ended (step 2 or 10),
    // without doing anything; else checks the watch and sends the changes of
    // the step (or forgets them when no FTP upgrade is under way).
    bool Turn();
    // After the last turn: the changes still unsent, and the end of the upgrade.
    void Finish();

private:
    void SendChanges();
    std::uint64_t startMicros_;
    U8 lastSent_ = upgrade_idle;
};

// Test only: waits until every reporter thread started so far has ended.
void SubUpgrade_WaitReporters();
// Test only: what SubUpgrade_TimeoutStart runs in place of starting the
// thread, so a test can turn an UpgradeReporter in virtual time itself; an
// empty function restores the thread. Set while no FTP order is handled.
void SubUpgrade_SetReporterStart(std::function<void()> start);

// Rewrites a spooled multipart/form-data upload in place so that it holds
// only the uploaded file's bytes. 0; 4 a null name, 7 the file cannot be
// read or rewritten, 8 no memory, 10 the envelope is not recognised; on
// every failure the file is left as it was.
U32 upgrade_DelNetHeader(const U8* u8UpgradeFileName);

}  // namespace hx

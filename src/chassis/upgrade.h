// Firmware upgrade: the progress record announced to the back board, the image
// received in packets, the FTP upgrade order and its progress reporter.
//
// `UpgradeProFlag` and `g_isFtpUpgrading` are shared, without a lock, between
// the inter-board server thread (which runs the upgrade orders) and the
// progress reporter thread; each is written by one side at a time.
#pragma once

#include <array>
#include <atomic>
#include <optional>
#include <span>

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
constexpr U8 upgrade_idle = 0;
constexpr U8 upgrade_fail = 2;
constexpr U8 upgrade_doing = 3;

// The 40-byte little-endian wire form sent with command 3847.
std::array<U8, kUpgradeRecordSize> Upgrade_Serialize(const st_VK_UPGRADE& record);
// Reads the 40 bytes back (alignment bytes ignored); nullopt for any other length.
std::optional<st_VK_UPGRADE> Upgrade_Parse(std::span<const U8> bytes);

extern st_VK_UPGRADE UpgradeProFlag;
extern std::atomic<U8> g_isFtpUpgrading;

void FTP_UpgradeProfileInit();
// Writes the received image to "/var/volatile/upgradefile".
U32 upgrade_RecieveFile(const U8* pu8Buffer, U32 u32Length);
U32 upgrade_UpgradeSystem(const char* pcFileName);
U32 upgrade_FTPUpgradeMode();
U32 SubUpgrade_TimeoutStart();
// Rewrites a spooled multipart/form-data upload in place so that it holds
// only the uploaded file's bytes. 0; 4 a null name, 7 the file cannot be
// read or rewritten, 8 no memory, 10 the envelope is not recognised; on
// every failure the file is left as it was.
U32 upgrade_DelNetHeader(const U8* u8UpgradeFileName);

}  // namespace hx

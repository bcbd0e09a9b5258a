// Configuration backup and import through the back board: the export order
// (517, FTP_SendBackUpPara) packs the JSON settings file and an OID snapshot
// of the output model into "<slot>conf.tar" and sends it to the back board's
// FTP service; the import order (516, IPComm_GetAndSetParam) fetches that
// archive, checks it and applies it. An import also takes the older archive
// that carries raw images of the two parameter files.
//
// Both run in the inter-board server thread after the dispatcher has answered
// success; their outcome is only logged. They take no lock of their own: the
// JSON save and restore take the QAM apply lock, the snapshot save the model
// lock. Every file is handled in "/var/volatile/": the shell tools (tar,
// ftpget, ftpput) run there as their working directory, through the command
// runner; the process never changes its own, since threads share it. A step
// succeeded when the file it should leave exists afterwards, and every file a
// step is judged by is deleted before the step, so no leftover of an earlier
// run passes for a new one.
//
// Only "param_new.conf" and "param.conf" are ever unpacked from a peer's
// archive, and only as regular files: a member that is a link, or any other
// member name, is never read.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "core/types.h"

namespace hx {

constexpr U32 kConfigStartTag = 0x50415241;  // "PARA"
constexpr U32 kConfigEndTag = 0x54454E44;    // "TEND"
constexpr std::size_t kConfigHeadSize = 128;

// The head of "param_new.conf"; the body follows: the JSON settings file
// (u32SysParamsLen bytes), then the OID snapshot (u32TsParamsLen bytes).
struct ST_CONFIGPARA {
    U32 u32StructStartTag;  // 0
    U8 u8BoardType;         // 4, the exporting board's type
    U8 u8res[3];            // 5
    U32 u32TotalSize;       // 8, body length
    U32 u32SysParamsLen;    // 12
    U32 u32TsParamsLen;     // 16
    U32 u32res[25];         // 20
    U32 u32FileCRC;         // 120, over the body (initial value 0x04C11DB7)
    U32 u32StructEndTag;    // 124
};
static_assert(sizeof(ST_CONFIGPARA) == kConfigHeadSize);

using ConfigHeadBytes = std::array<U8, kConfigHeadSize>;
// The head's file bytes (little-endian), and the head of file bytes: fewer
// than 128 bytes read as if the rest were zero.
ConfigHeadBytes ConfigPara_Serialize(const ST_CONFIGPARA& head);
ST_CONFIGPARA ConfigPara_Parse(std::span<const U8> bytes);

// The older archive's "param.conf": raw images of the two parameter files.
constexpr std::size_t kBackupModelImageSize = 2457600;
constexpr std::size_t kBackupQamImageSize = 102400;
struct ST_BACKUPPARA {
    U8 u8TsPara[kBackupModelImageSize];  // "HX_OutPutTSP.conf", its length in its own header
    U8 u8SysPara[kBackupQamImageSize];   // "HX_QAM.conf" in its first 6,444 bytes
};
static_assert(sizeof(ST_BACKUPPARA) == 2560000);

// Export (517): JSON settings saved, snapshot stamped 0xFFFF and saved, the
// archive built and put to the back board, the snapshot deleted. 0; 1 or the
// failing step's code, the snapshot then deleted too (left behind, the next
// start-up would apply it over every later edit).
U32 FTP_SendBackUpPara();
// The head and body of "param_new.conf" from the JSON settings file and the
// snapshot as they are read now (the lengths are of the bytes read). 0; 6 or
// 7 when a file is missing or unreadable; 1 when they add up past 4 GiB.
U32 PARAM_InitConfigPara(ST_CONFIGPARA* pstConfigPara, std::vector<U8>* pu8SavedConfig);
// Writes "param_new.conf" (head and body; the body is freed) and packs it into
// the archive. 0; 1 when the file or the archive is not made.
U32 PARAM_CompressConfigFile(const ST_CONFIGPARA* pstConfigPara, std::vector<U8>* pu8SavedConfig);

// Import (516): 0, or 1 (logged) when nothing was applied.
U32 IPComm_GetAndSetParam();
// Fetch, unpack, check and apply, with `pstBackUpPara` (cleared) as the work
// area of an older archive. 0 when applied or when the archive holds neither
// file; 1 otherwise. A "param_new.conf" of another board type, of a length
// other than its head states (parts past the body included), whose body
// cannot be allocated or whose CRC fails is deleted and nothing is written.
U32 IPComm_GetTheConfParam(ST_BACKUPPARA* pstBackUpPara);
// Writes the two parameter files of an older archive, both images checked
// first as start-up checks them (size, version, CRCs, the QAM section CRCs,
// the model's counts; a model image under 244 or over 2,457,600 bytes fails).
// 0; 1 when a check fails (nothing written) or a file cannot be written.
// The files take effect at the next start-up.
U32 PARAM_WriteParaFile(const ST_BACKUPPARA* pstBackUpPara);

// Test only: replaces the export's snapshot step (stamp 0xFFFF, OIDDATA_Save);
// an empty function restores it.
void ConfigBackup_SetSnapshotSaver(std::function<void()> saver);

// Test only: asked with the byte count before an imported body is allocated;
// false makes that allocation fail. An empty function allows all.
void ConfigBackup_SetBodyAllocHook(std::function<bool(std::size_t bytes)> hook);

}  // namespace hx

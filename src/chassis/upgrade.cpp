#include "chassis/upgrade.h"

#include <filesystem>
#include <span>
#include <string>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "core/standin.h"

namespace hx {

st_VK_UPGRADE UpgradeProFlag;
std::atomic<U8> g_isFtpUpgrading{0};

std::array<U8, kUpgradeRecordSize> Upgrade_Serialize(const st_VK_UPGRADE& record) {
    std::array<U8, kUpgradeRecordSize> out{};
    out[0] = record.u8SlotID;
    PutLe16(out.data() + 1, record.u8Res);
    PutLe32(out.data() + 4, record.u32TmpVersion);
    PutLe32(out.data() + 8, record.u32ErrorCode);
    PutLe16(out.data() + 12, record.u16CMD);
    out[14] = record.u8CurUpgradeProFlag;
    out[15] = record.u8SumUpgradeProFlag;
    out[16] = record.u8CommStatusFlag;
    out[17] = record.u8UpgradeStatusFlag;
    PutLe32(out.data() + 20, record.u32BoardSoftVersion);
    PutLe32(out.data() + 24, record.u32BoardLogicVersion);
    PutLe32(out.data() + 28, record.u32FileSoftVersion);
    PutLe32(out.data() + 32, record.u32FileLogicVersion);
    out[36] = record.u8BoardType;
    return out;
}

std::optional<st_VK_UPGRADE> Upgrade_Parse(std::span<const U8> bytes) {
    if (bytes.size() != kUpgradeRecordSize) {
        return std::nullopt;
    }
    const U8* in = bytes.data();
    st_VK_UPGRADE record;
    record.u8SlotID = in[0];
    record.u8Res = GetLe16(in + 1);
    record.u32TmpVersion = GetLe32(in + 4);
    record.u32ErrorCode = GetLe32(in + 8);
    record.u16CMD = GetLe16(in + 12);
    record.u8CurUpgradeProFlag = in[14];
    record.u8SumUpgradeProFlag = in[15];
    record.u8CommStatusFlag = in[16];
    record.u8UpgradeStatusFlag = in[17];
    record.u32BoardSoftVersion = GetLe32(in + 20);
    record.u32BoardLogicVersion = GetLe32(in + 24);
    record.u32FileSoftVersion = GetLe32(in + 28);
    record.u32FileLogicVersion = GetLe32(in + 32);
    record.u8BoardType = in[36];
    return record;
}

void FTP_UpgradeProfileInit() { HX_STANDIN(LOG_MODULE_UPGRADE); }

U32 upgrade_RecieveFile(const U8* pu8Buffer, U32 u32Length) {
    if (pu8Buffer == nullptr) {
        return VK_ERR_PARAMS;
    }
    const std::string path = ResolvePath("/var/volatile/upgradefile");
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    if (!File_WriteAtomic(path, std::span(pu8Buffer, u32Length))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "write %s fail\n", "/var/volatile/upgradefile");
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

U32 upgrade_UpgradeSystem(const char* pcFileName) {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "stand-in, nothing done: upgrade from %s\n",
           pcFileName == nullptr ? "(null)" : pcFileName);
    return VK_SUCCESS;
}

U32 upgrade_FTPUpgradeMode() {
    HX_STANDIN(LOG_MODULE_UPGRADE);
    return VK_SUCCESS;
}

U32 SubUpgrade_TimeoutStart() {
    HX_STANDIN(LOG_MODULE_UPGRADE);
    return VK_SUCCESS;
}

U32 upgrade_DelNetHeader(const U8* /*u8UpgradeFileName*/) {
    HX_STANDIN(LOG_MODULE_SYS);
    return VK_SUCCESS;
}

}  // namespace hx

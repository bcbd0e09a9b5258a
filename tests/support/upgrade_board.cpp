#include "support/upgrade_board.h"

#include <filesystem>

#include "core/command_runner.h"
#include "core/run_profile.h"
#include "platform/resource.h"
#include "support/param_files.h"

namespace hx::test {

std::vector<std::string> UpgradePrograms() {
    return {"rm", "rmdir", "mkdir", "ln", "tar", "ls", "chmod", "touch", "run.sh", "copy2jffs2.sh", "sync", "mount",
            "umount"};
}

sim::SimUpgradeImage InstallableImage(const std::string& version) {
    sim::SimUpgradeImage image;
    image.softwareVersion = version;
    image.members = sim::SimUpgradeImage_InstallableMembers();
    return image;
}

UpgradeBoard::UpgradeBoard() {
    RunProfile profile = Profile();
    profile.simSlotId = kUpgradeSlot;
    SetProfile(profile);
    board.emplace();
    Status_Init();
    TResource_TS* self = Resource_getSelfHandle();
    self->u8SlotID = kUpgradeSlot;
    self->u8BoardType = kQamBoardType;
    self->u32SoftVersion = kUpgradeBoardSoftVersion;
    self->u32LogicVersion = 0x17;
    Resource_SetBackBoardIpAddr(SimBoardAddress(16));
    FTP_UpgradeProfileInit();
    g_isFtpUpgrading = 0;
    g_isSendTimeOut = 1;
    g_isUpgardeTimeOut = 0;
    TmpVersion = 0;
    trace.emplace(UpgradePrograms());
}

UpgradeBoard::~UpgradeBoard() {
    trace.reset();
    UpgradeProFlag_Set(st_VK_UPGRADE{});
    g_isFtpUpgrading = 0;
    g_isSendTimeOut = 1;
    g_isUpgardeTimeOut = 0;
    TmpVersion = 0;
    board.reset();
    Resource_Reset();
}

void UpgradeBoard::Put(const std::string& logical, const std::vector<U8>& bytes) {
    std::filesystem::create_directories(std::filesystem::path(ResolvePath(logical)).parent_path());
    WriteBytes(logical, bytes);
}

bool UpgradeBoard::Exists(const std::string& logical) const {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(ResolvePath(logical), ignored));
}

std::vector<U8> UpgradeBoard::TakeSteps() {
    std::vector<U8> steps;
    for (const st_VK_UPGRADE& change : UpgradeProFlag_TakeChanges()) {
        steps.push_back(change.u8CurUpgradeProFlag);
    }
    return steps;
}

}  // namespace hx::test

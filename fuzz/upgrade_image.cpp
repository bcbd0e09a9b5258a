// Fuzzes the firmware image check: the input is the image a delivery left as
// "/var/volatile/upgradefile", checked and installed by upgrade_UpgradeSystem
// in a data root of its own, on the simulated board's runner, in virtual time.
// The header, its version text, the payload's length and CRC and the payload's
// tar headers all come from the input.
//
// The file tools are answered in place, so no process starts per input: "rm"
// removes inside the data root, "tar" unpacks only the marker "zz.zz" (the
// archive's content was already judged by the member list), the others do
// nothing; the install script and the card's scripts are recorded as the
// simulated board always records them.
//
// After every input: the result is one of the check's codes and the progress
// record holds it; the image is gone; the install script was run only for an
// image that passed, and then its payload's member list holds "zz.zz" and
// "run.sh" at the top and nothing that leaves the extraction folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "chassis/tar_listing.h"
#include "chassis/upgrade.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "fuzz/fuzz_data_root.h"
#include "fuzz/virtual_time.h"
#include "fuzz/fuzz_model.h"
#include "platform/resource.h"
#include "support/model_builder.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "upgrade_image: %s\n", why);
    std::abort();
}

hx::CommandResult Done() { return hx::CommandResult{0, true, {}}; }

void answerFileTools() {
    hx::Command_SetSimHandler("rm", [](const hx::Command& command) {
        for (std::size_t i = 1; i < command.argv.size(); ++i) {
            if (!command.argv[i].empty() && command.argv[i].front() == '/') {
                std::error_code ignored;
                std::filesystem::remove_all(hx::ResolvePath(command.argv[i]), ignored);
            }
        }
        return Done();
    });
    hx::Command_SetSimHandler("tar", [](const hx::Command&) {
        const std::filesystem::path marker = hx::ResolvePath("/var/upgrade/zz.zz");
        std::filesystem::create_directories(marker.parent_path());
        std::ofstream{marker};
        return Done();
    });
    for (const char* program : {"mkdir", "rmdir", "ln", "chmod", "touch", "ls"}) {
        hx::Command_SetSimHandler(program, [](const hx::Command&) { return Done(); });
    }
}

// What the payload's member list must be for an image that was installed.
bool InstallablePayload(std::span<const std::uint8_t> image) {
    if (image.size() < hx::kImageHeaderSize) {
        return false;
    }
    const std::uint32_t length = hx::GetLe32(image.data() + 24);
    if (image.size() - hx::kImageHeaderSize < length) {
        return false;
    }
    const auto members = hx::Tar_ListMembers(image.subspan(hx::kImageHeaderSize, length));
    if (!members) {
        return false;
    }
    bool marker = false;
    bool script = false;
    for (const hx::TarMember& member : *members) {
        if (hx::Tar_PathLeavesFolder(member.name)) {
            return false;
        }
        marker = marker || hx::Tar_PlainName(member.name) == "zz.zz";
        script = script || hx::Tar_PlainName(member.name) == "run.sh";
    }
    return marker && script;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseAutoAdvancingClock();
    hx::fuzz::UseTemporaryDataRoot();
    // Small empty shared models: each check saves a snapshot of them.
    static hx::test::ScopedSharedModels models(hx::fuzz::kSmallModelPools);
    hx::Status_Init();
    hx::Resource_getSelfHandle()->u8BoardType = hx::kQamBoardType;
    std::filesystem::create_directories(hx::ResolvePath("/var/volatile"));
    answerFileTools();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string image = hx::ResolvePath(hx::kUpgradeImagePath);
    static const std::set<hx::U32> kResults = {
        hx::VK_SUCCESS, hx::VK_ERR_CRC, hx::VK_ERR_FILE_NOT_EXISTING, hx::VK_ERR_FILE_CAN_NOT_READE,
        hx::VK_ERR_MALLOC_FALIURE, hx::VK_ERR_UPGRADE_CHECK_HEADER, hx::VK_ERR_TAR_UPGRADE_FILE_ERROR,
        hx::VK_ERR_UPGRADE_TO_LOW_VERSION};
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    hx::Command_ClearRecorded();
    hx::g_isUpgardeTimeOut = 0;
    hx::UpgradeProFlag_Set(hx::st_VK_UPGRADE{});

    const hx::U32 result = hx::upgrade_UpgradeSystem(hx::kUpgradeImagePath);

    if (kResults.count(result) == 0) {
        fail("a result the check does not give");
    }
    const hx::st_VK_UPGRADE record = hx::UpgradeProFlag_Get();
    if (result == hx::VK_SUCCESS ? record.u8CurUpgradeProFlag != hx::kUpgradeSuccessStep
                                 : record.u8CurUpgradeProFlag != hx::upgrade_fail || record.u32ErrorCode != result) {
        fail("the progress record does not hold the result");
    }
    if (std::filesystem::exists(image)) {
        fail("the image outlived its check");
    }
    bool scriptRan = false;
    for (const std::string& command : hx::Command_Recorded()) {
        scriptRan = scriptRan || command == "/var/upgrade/run.sh";
    }
    if (scriptRan != (result == hx::VK_SUCCESS)) {
        fail("the install script ran for a refused image, or not for an accepted one");
    }
    if (result == hx::VK_SUCCESS && !InstallablePayload(std::span(data, size))) {
        fail("an image was installed whose payload is not installable");
    }
    std::error_code ignored;
    std::filesystem::remove_all(hx::ResolvePath("/var/volatile/upgrade"), ignored);
    std::filesystem::remove_all(hx::ResolvePath("/var/upgrade"), ignored);
    return 0;
}

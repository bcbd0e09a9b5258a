#include "web/web_logs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/command_runner.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/fpga_reg.h"
#include "web/web_accessors.h"
#include "web/web_slot.h"

namespace hx {

namespace {

constexpr const char* kLogFolder = "/vandik_data/log/";
constexpr const char* kDataFolder = "/vandik_data/";
constexpr const char* kWebRoot = "/vandik_app/web/";
constexpr const char* kDownloadFolder = "/vandik_app/web/download/";
constexpr const char* kDownloadPrefix = "download/";
constexpr const char* kTempFolder = "/tmp/";
constexpr const char* kMibCopyFolder = "/tmp/MIB/";
constexpr const char* kMibTextFolder = "/vandik_app/app/MIBs/";
constexpr const char* kMibArchiveName = "KESTRA_MIB.tar.gz";
constexpr std::size_t kBoardDescriptorBytes = 20;

// The own slot's board descriptor as file names take it: up to its first NUL,
// every '/' as '-'.
std::string BoardDescription() {
    U8 descriptor[kBoardDescriptorBytes] = {};
    web_GetSelfBoardDescriptor(descriptor);
    const char* text = reinterpret_cast<const char*>(descriptor);
    std::string description(text, strnlen(text, sizeof descriptor));
    std::replace(description.begin(), description.end(), '/', '-');
    return description;
}

CommandResult RunLogged(const char* caller, const Command& command, U32 module) {
    HX_LOG_AS(caller, LOG_LEVEL_INFO, module, "Command : %s\n", Command_Text(command).c_str());
    return Command_Run(command);
}

// The archive is deleted first, so only this tar can leave one; made when
// the tar succeeded and the archive is there.
bool PackArchive(const char* caller, const std::string& archive, const Command& tar) {
    std::error_code error;
    std::filesystem::remove(ResolvePath(archive), error);
    const CommandResult result = RunLogged(caller, tar, LOG_MODULE_WEB);
    return result.executed && result.status == 0 && File_Exists(ResolvePath(archive));
}

void CopyPath(char* out, const std::string& path) { std::snprintf(out, kWebExportPathBytes, "%s", path.c_str()); }

}  // namespace

U32 Web_ClearLog() {
    // The shell's "rm /vandik_data/log/*", expanded here: every entry but the
    // hidden ones, each one argument.
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ResolvePath(kLogFolder), error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.front() != '.') {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    if (!names.empty()) {
        Command remove{{"rm"}, std::nullopt};
        for (const std::string& name : names) {
            remove.argv.push_back(kLogFolder + name);
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Command: %s\n", Command_Text(remove).c_str());
        Command_Run(remove);
    }
    const Command touch{{"touch", kMainLogPath}, std::nullopt};
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Command: %s\n", Command_Text(touch).c_str());
    Command_Run(touch);
    return VK_SUCCESS;
}

U32 Web_SetLogStatus(U32 u32Mask) {
    Log_SetLevel(u32Mask & 0xF);
    LogSetting_StoreParam();
    return VK_SUCCESS;
}

U32 Web_ExportLogs(char* pu8Path) {
    if (pu8Path == nullptr) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Param is NULL!\n");
        return VK_ERR_PARAMS;
    }
    pu8Path[0] = '\0';
    if (!File_Exists(ResolvePath(kMainLogPath))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Can't find %s file!\n", kMainLogPath);
        return VK_ERR_FILE_NOT_EXISTING;
    }
    if (!File_MakeDirectories(ResolvePath(kDownloadFolder))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Create dir %s fail!\n", kDownloadFolder);
        return VK_ERR_WEB_DIRCREATFAIL;
    }
    const std::string description = BoardDescription();
    const std::string name = description + "_log.tar.gz";
    const std::string path = kDownloadPrefix + name;
    const std::string archive = kTempFolder + name;
    File_MakeDirectories(ResolvePath(kTempFolder));
    if (!PackArchive(__func__, archive, Command{{"tar", "-czvf", archive, "-C", kDataFolder, "log"}, std::nullopt})) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "tar %s fail!\n", archive.c_str());
        return VK_ERR_WEB_TARFAIL;
    }
    RunLogged(__func__, Command{{"ln", "-sf", archive, kWebRoot + path}, std::nullopt}, LOG_MODULE_WEB);
    CopyPath(pu8Path, path);
    return VK_SUCCESS;
}

U32 Web_ExportMIBs(char* pu8Path) {
    const unsigned number = static_cast<U8>(Web_GetWebSlot(Web_GetZELType(), FPGA_GetSlotID()) + 1);
    if (pu8Path == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Param is NULL!\n");
        return VK_ERR_PARAMS;
    }
    pu8Path[0] = '\0';
    const std::string description = BoardDescription();
    const std::string path = kDownloadPrefix + description + "_MIB.tar.gz";
    const std::string mibName = "QAM" + std::to_string(number) + "-MIB.txt";
    const std::string mibText = kMibTextFolder + mibName;
    // Checked before anything runs: without it the archive would carry no
    // MIB, or an earlier export's copy.
    if (!File_Exists(ResolvePath(mibText))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Can't find %s file!\n", mibText.c_str());
        return VK_ERR_FILE_NOT_EXISTING;
    }
    for (const char* folder : {kDownloadFolder, kMibCopyFolder}) {
        if (!File_MakeDirectories(ResolvePath(folder))) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Create dir %s fail!\n", folder);
            return VK_ERR_WEB_DIRCREATFAIL;
        }
    }
    const std::string copyName = description + "_MIB" + std::to_string(number) + ".txt";
    Command copy{{"cp", "-f", mibText, kMibCopyFolder}, std::nullopt};
    copy.workingDirectory = kMibCopyFolder;
    // "./" keeps a descriptor that begins with '-' from reading as an option.
    Command rename{{"mv", mibName, "./" + copyName}, std::nullopt};
    rename.workingDirectory = kMibCopyFolder;
    for (const Command& step : {copy, rename}) {
        const CommandResult result = RunLogged(__func__, step, LOG_MODULE_PARAMS);
        if (!result.executed || result.status != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "%s fail!\n", Command_Text(step).c_str());
            return VK_ERR_WEB_TARFAIL;
        }
    }
    const std::string archive = kTempFolder + std::string(kMibArchiveName);
    Command tar{{"tar", "-czvf", kMibArchiveName, "MIB"}, std::nullopt};
    tar.workingDirectory = kTempFolder;
    if (!PackArchive(__func__, archive, tar)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "tar %s fail!\n", archive.c_str());
        return VK_ERR_WEB_TARFAIL;
    }
    RunLogged(__func__, Command{{"ln", "-sf", archive, kWebRoot + path}, std::nullopt}, LOG_MODULE_WEB);
    CopyPath(pu8Path, path);
    return VK_SUCCESS;
}

}  // namespace hx

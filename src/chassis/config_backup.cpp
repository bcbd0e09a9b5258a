#include "chassis/config_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

#include "chassis/oid_snapshot.h"
#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/param_file_io.h"
#include "core/run_profile.h"
#include "engine/model_pools.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr const char* kWorkFolder = "/var/volatile/";
constexpr const char* kNewConfigName = "param_new.conf";
constexpr const char* kOldConfigName = "param.conf";
constexpr const char* kSnapshotFilePath = "/vandik_data/oiddata.conf";
constexpr U16 kBackupSnapshotVersion = 0xFFFF;

std::mutex g_testHooksMutex;
std::function<void()> g_snapshotSaver;
std::function<bool(std::size_t)> g_bodyAllocHook;

std::string WorkPath(const std::string& name) { return ResolvePath(std::string(kWorkFolder) + name); }

std::string ArchiveName() { return std::to_string(Status_GetSlotID()) + "conf.tar"; }

std::string BackBoardAddress() {
    char text[32] = {};
    Common_AddrU32toString(text, Resource_getBoardIPAddress(16));
    return text;
}

// Runs a tool in the work folder.
CommandResult RunInWorkFolder(std::vector<std::string> argv, bool capture = false) {
    Command command{std::move(argv), std::nullopt};
    command.workingDirectory = kWorkFolder;
    return capture ? Command_Capture(command) : Command_Run(command);
}

enum class FileKind { Missing, Regular, Other };

// What is at the path, links not followed.
FileKind KindOf(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return FileKind::Missing;
    }
    return S_ISREG(info.st_mode) ? FileKind::Regular : FileKind::Other;
}

bool Exists(const std::string& path) { return KindOf(path) != FileKind::Missing; }

// Removes a file (or a link, never its target); false when it is still there.
bool Remove(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

void RemoveLogged(const char* caller, const std::string& path) {
    if (!Remove(path)) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Delete file %s failed!\n\n", path.c_str());
    }
}

bool BodyMayBeAllocated(std::size_t bytes) {
    std::lock_guard lock(g_testHooksMutex);
    return !g_bodyAllocHook || g_bodyAllocHook(bytes);
}

void RunSnapshotSaver() {
    std::function<void()> saver;
    {
        std::lock_guard lock(g_testHooksMutex);
        saver = g_snapshotSaver;
    }
    if (saver) {
        saver();
        return;
    }
    OID_ModifyVersionNumber(kBackupSnapshotVersion);
    OIDDATA_Save();
}

// ---- older archive ------------------------------------------------------------

constexpr std::size_t kModelSmallestImage = kModelFileHeaderSize + kModelFileCrcSize;

bool CrcHolds(const U8* bytes, std::size_t length, std::size_t crcOffset) {
    return Common_CRCCalculate(bytes, static_cast<U32>(length), kCrcInitLinks) == GetLe32(bytes + crcOffset);
}

// The checks start-up makes of the QAM file, and the section CRCs its load
// makes; a text saying what failed, or nullopt.
std::optional<std::string> QamImageFault(const U8* image) {
    if (!CrcHolds(image, kWholeCrcOffset, kWholeCrcOffset)) {
        return "CRC";
    }
    if (GetLe32(image + 4) != kParamsVersion) {
        return "version";
    }
    if (!CrcHolds(image + kQamSectionOffset, kQamSectionCrcOffset - kQamSectionOffset,
                  kQamSectionCrcOffset - kQamSectionOffset) ||
        !CrcHolds(image + kIPMonitorSectionOffset, kIPMonitorCrcOffset - kIPMonitorSectionOffset,
                  kIPMonitorCrcOffset - kIPMonitorSectionOffset)) {
        return "section CRC";
    }
    return std::nullopt;
}

// The same for the model file: its stated length within the image area, CRC,
// version, and counts that give that length and that a pool can hold.
std::optional<std::string> ModelImageFault(const U8* image) {
    const U32 length = GetLe32(image + 4);
    if (length < kModelSmallestImage || length > kBackupModelImageSize) {
        return "length " + std::to_string(length);
    }
    if (!CrcHolds(image, length - kModelFileCrcSize, length - kModelFileCrcSize)) {
        return "CRC";
    }
    if (GetLe32(image) != kParamsVersion) {
        return "version";
    }
    ModelFileCounts counts{};
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        counts[i] = GetLe32(image + 8 + 4 * i);
        if (counts[i] > kPoolCapacityLimit) {
            return "count " + std::to_string(counts[i]);
        }
    }
    if (PARAMS_ModelFileLength(counts) != length) {
        return "counts";
    }
    return std::nullopt;
}

// ---- new archive ----------------------------------------------------------------

// Checks "param_new.conf" and, when it holds, writes its two parts. 0 or 1;
// a file that fails a check is deleted.
U32 ImportNewConfig() {
    constexpr const char* caller = "IPComm_GetTheConfParam";
    const std::string path = WorkPath(kNewConfigName);
    auto reject = [&] {
        RemoveLogged(caller, path);
        return VK_ERR_FAILURE;
    };
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (!file.valid() || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[IPComm_GetTheConfParam] open error\n");
        return reject();
    }
    ConfigHeadBytes headBytes{};
    const std::size_t headRead = File_ReadUpTo(file.get(), headBytes.data(), headBytes.size());
    const ST_CONFIGPARA head = ConfigPara_Parse(std::span<const U8>(headBytes.data(), headRead));
    const U8 ownType = Resource_getSelfHandle()->u8BoardType;
    if (head.u8BoardType != ownType) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "BoardType not same! [0x%x] vs [0x%x]\n\n",
                  head.u8BoardType, ownType);
        return reject();
    }
    const auto fileLength = static_cast<std::uint64_t>(info.st_size);
    if (fileLength < kConfigHeadSize) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "config file len %lld too less!\n\n",
                  static_cast<long long>(fileLength));
        return reject();
    }
    // In 64 bits: no head can make a sum wrap round to the file's length.
    const std::uint64_t needed = kConfigHeadSize + static_cast<std::uint64_t>(head.u32TotalSize);
    const std::uint64_t parts = static_cast<std::uint64_t>(head.u32SysParamsLen) + head.u32TsParamsLen;
    if (fileLength != needed || parts > head.u32TotalSize) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS,
                  "file length error! current's length[%lld] vs need's length[%lld] \n\n",
                  static_cast<long long>(fileLength),
                  static_cast<long long>(kConfigHeadSize + std::max<std::uint64_t>(head.u32TotalSize, parts)));
        return reject();
    }
    std::vector<U8> body;
    try {
        if (!BodyMayBeAllocated(head.u32TotalSize)) {
            throw std::bad_alloc();
        }
        body.resize(head.u32TotalSize);
    } catch (const std::bad_alloc&) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "malloc memory error\n\n");
        return reject();
    }
    // The file may have changed since its size was taken: only what is read counts.
    U8 beyond = 0;
    const std::size_t bodyRead = File_ReadUpTo(file.get(), body.data(), body.size());
    if (headRead != kConfigHeadSize || bodyRead != body.size() || File_ReadUpTo(file.get(), &beyond, 1) != 0) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS,
                  "file length error! current's length[%lld] vs need's length[%lld] \n\n",
                  static_cast<long long>(headRead + bodyRead), static_cast<long long>(needed));
        return reject();
    }
    const U32 crc = Common_CRCCalculate(body.data(), static_cast<U32>(body.size()), kCrcInitLinks);
    if (crc != head.u32FileCRC) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "config file CRC error! [0x%x] vs [0x%x]\n\n", crc,
                  head.u32FileCRC);
        return reject();
    }
    if (PARAM_WriteFile(kQamJsonFilePath, body.data(), head.u32SysParamsLen) != VK_SUCCESS ||
        PARAM_WriteFile(kSnapshotFilePath, body.data() + head.u32SysParamsLen, head.u32TsParamsLen) != VK_SUCCESS) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "write config files error\n\n");
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

// Unpacks only the two names an archive may carry, each only when a member has
// exactly that name: no path, no "..", nothing else of a peer's archive lands.
void UnpackConfigMembers(const std::string& archive) {
    const CommandResult listing = RunInWorkFolder({"tar", "-ztf", archive}, true);
    std::vector<std::string> members;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        if ((line == kNewConfigName || line == kOldConfigName) &&
            std::find(members.begin(), members.end(), line) == members.end()) {
            members.push_back(line);
        }
    }
    if (members.empty()) {
        return;
    }
    std::vector<std::string> argv = {"tar", "-zxf", archive};
    argv.insert(argv.end(), members.begin(), members.end());
    RunInWorkFolder(std::move(argv));
}

}  // namespace

ConfigHeadBytes ConfigPara_Serialize(const ST_CONFIGPARA& head) {
    ConfigHeadBytes bytes{};
    PutLe32(bytes.data(), head.u32StructStartTag);
    bytes[4] = head.u8BoardType;
    std::memcpy(bytes.data() + 5, head.u8res, sizeof head.u8res);
    PutLe32(bytes.data() + 8, head.u32TotalSize);
    PutLe32(bytes.data() + 12, head.u32SysParamsLen);
    PutLe32(bytes.data() + 16, head.u32TsParamsLen);
    for (std::size_t i = 0; i < std::size(head.u32res); ++i) {
        PutLe32(bytes.data() + 20 + 4 * i, head.u32res[i]);
    }
    PutLe32(bytes.data() + 120, head.u32FileCRC);
    PutLe32(bytes.data() + 124, head.u32StructEndTag);
    return bytes;
}

ST_CONFIGPARA ConfigPara_Parse(std::span<const U8> bytes) {
    ConfigHeadBytes full{};
    std::memcpy(full.data(), bytes.data(), std::min(bytes.size(), full.size()));
    ST_CONFIGPARA head{};
    head.u32StructStartTag = GetLe32(full.data());
    head.u8BoardType = full[4];
    std::memcpy(head.u8res, full.data() + 5, sizeof head.u8res);
    head.u32TotalSize = GetLe32(full.data() + 8);
    head.u32SysParamsLen = GetLe32(full.data() + 12);
    head.u32TsParamsLen = GetLe32(full.data() + 16);
    for (std::size_t i = 0; i < std::size(head.u32res); ++i) {
        head.u32res[i] = GetLe32(full.data() + 20 + 4 * i);
    }
    head.u32FileCRC = GetLe32(full.data() + 120);
    head.u32StructEndTag = GetLe32(full.data() + 124);
    return head;
}

// ---- export ---------------------------------------------------------------------

U32 PARAM_InitConfigPara(ST_CONFIGPARA* pstConfigPara, std::vector<U8>* pu8SavedConfig) {
    if (pstConfigPara == nullptr || pu8SavedConfig == nullptr) {
        return VK_ERR_PARAMS;
    }
    *pstConfigPara = ST_CONFIGPARA{};
    pstConfigPara->u32StructStartTag = kConfigStartTag;
    pstConfigPara->u8BoardType = Resource_getSelfHandle()->u8BoardType;
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Export config file's BoardType is 0x%x\n\n", pstConfigPara->u8BoardType);

    // Each file is read once, and its length is what was read: a file that
    // changes between a size query and the read cannot skew the head.
    auto readPart = [](const char* logical) -> std::optional<std::vector<U8>> {
        const std::string path = ResolvePath(logical);
        if (!Exists(path)) {
            return std::nullopt;
        }
        return File_ReadAll(path);
    };
    const std::optional<std::vector<U8>> settings = readPart(kQamJsonFilePath);
    if (!settings) {
        const U32 result = Exists(ResolvePath(kQamJsonFilePath)) ? VK_ERR_FILE_CAN_NOT_READE : VK_ERR_FILE_NOT_EXISTING;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Get VANDIK_OID_JSON_FILE len error:%x!\n\n", result);
        return result;
    }
    const std::optional<std::vector<U8>> snapshot = readPart(kSnapshotFilePath);
    if (!snapshot) {
        const U32 result = Exists(ResolvePath(kSnapshotFilePath)) ? VK_ERR_FILE_CAN_NOT_READE : VK_ERR_FILE_NOT_EXISTING;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Get VANDIK_OID_FILE len error:%x!\n\n", result);
        return result;
    }
    const std::uint64_t total = static_cast<std::uint64_t>(settings->size()) + snapshot->size();
    if (total > UINT32_MAX - kConfigHeadSize) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "malloc memory error\n\n");
        return VK_ERR_FAILURE;
    }
    pstConfigPara->u32SysParamsLen = static_cast<U32>(settings->size());
    pstConfigPara->u32TsParamsLen = static_cast<U32>(snapshot->size());
    pstConfigPara->u32TotalSize = static_cast<U32>(total);
    try {
        pu8SavedConfig->assign(settings->begin(), settings->end());
        pu8SavedConfig->insert(pu8SavedConfig->end(), snapshot->begin(), snapshot->end());
    } catch (const std::bad_alloc&) {
        pu8SavedConfig->clear();
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "malloc memory error\n\n");
        return VK_ERR_MALLOC_FALIURE;
    }
    pstConfigPara->u32FileCRC =
        Common_CRCCalculate(pu8SavedConfig->data(), pstConfigPara->u32TotalSize, kCrcInitLinks);
    pstConfigPara->u32StructEndTag = kConfigEndTag;
    return VK_SUCCESS;
}

U32 PARAM_CompressConfigFile(const ST_CONFIGPARA* pstConfigPara, std::vector<U8>* pu8SavedConfig) {
    if (pstConfigPara == nullptr || pu8SavedConfig == nullptr ||
        pu8SavedConfig->size() != pstConfigPara->u32TotalSize) {
        return VK_ERR_FAILURE;
    }
    const std::string configPath = WorkPath(kNewConfigName);
    const std::string archive = ArchiveName();
    const std::string archivePath = WorkPath(archive);
    // Only an archive this run made may count as made.
    RemoveLogged(__func__, archivePath);
    const ConfigHeadBytes head = ConfigPara_Serialize(*pstConfigPara);
    const std::span<const U8> pieces[] = {head, *pu8SavedConfig};
    const bool written = File_WriteAtomicGathered(configPath, pieces);
    std::vector<U8>().swap(*pu8SavedConfig);
    if (!written) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "open %s error\n\n", configPath.c_str());
        return VK_ERR_FAILURE;
    }
    RunInWorkFolder({"tar", "-zcf", archive, kNewConfigName});
    RemoveLogged(__func__, configPath);
    if (KindOf(archivePath) != FileKind::Regular) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "tar %s error\n\n", archive.c_str());
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

U32 FTP_SendBackUpPara() {
    const std::string host = BackBoardAddress();
    const std::string archive = ArchiveName();
    const std::string snapshotPath = ResolvePath(kSnapshotFilePath);
    File_MakeDirectories(ResolvePath(kWorkFolder));
    // A snapshot or archive of an earlier run must not pass for this one's
    // (an upgrade's snapshot, stamped 1, would never be applied after import).
    RemoveLogged(__func__, WorkPath(archive));
    RemoveLogged(__func__, snapshotPath);

    DATA_Save();
    RunSnapshotSaver();

    // From here on the snapshot goes whatever happens: left behind, the next
    // start-up would apply it and take back every edit made since.
    ST_CONFIGPARA head{};
    std::vector<U8> body;
    if (const U32 result = PARAM_InitConfigPara(&head, &body); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PARAM_InitConfigPara error: 0x%x\n\n", result);
        RemoveLogged(__func__, snapshotPath);
        return result;
    }
    if (const U32 result = PARAM_CompressConfigFile(&head, &body); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "PARAM_CompressConfigFile error: 0x%x\n\n", result);
        RemoveLogged(__func__, snapshotPath);
        return result;
    }
    RunInWorkFolder({"ftpput", host, archive});
    RemoveLogged(__func__, snapshotPath);
    return VK_SUCCESS;
}

// ---- import ---------------------------------------------------------------------

U32 PARAM_WriteParaFile(const ST_BACKUPPARA* pstBackUpPara) {
    if (pstBackUpPara == nullptr) {
        return VK_ERR_FAILURE;
    }
    // Both images are checked before either is written: a half-applied older
    // archive would pair one board's model with another's QAM settings.
    const U8* modelImage = pstBackUpPara->u8TsPara;
    const U8* qamImage = pstBackUpPara->u8SysPara;
    if (const std::optional<std::string> fault = ModelImageFault(modelImage)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "config file [%s] %s error, nothing written\n\n",
               kModelParamFilePath, fault->c_str());
        return VK_ERR_FAILURE;
    }
    if (const std::optional<std::string> fault = QamImageFault(qamImage)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "config file [%s] %s error, nothing written\n\n",
               kQamParamFilePath, fault->c_str());
        return VK_ERR_FAILURE;
    }
    // Each file is replaced whole: a failed write leaves the live file as it was.
    const U32 modelLength = GetLe32(modelImage + 4);
    for (const auto& [path, image, length] : {std::tuple{kModelParamFilePath, modelImage, modelLength},
                                              std::tuple{kQamParamFilePath, qamImage,
                                                         static_cast<U32>(kQamParamFileSize)}}) {
        if (!File_WriteAtomic(ResolvePath(path), std::span<const U8>(image, length))) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Can't open config file [%s]\n\n", path);
            return VK_ERR_FAILURE;
        }
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Write config file success!!!\n\n");
    return VK_SUCCESS;
}

U32 IPComm_GetTheConfParam(ST_BACKUPPARA* pstBackUpPara) {
    if (pstBackUpPara == nullptr) {
        return VK_ERR_FAILURE;
    }
    const std::string host = BackBoardAddress();
    const std::string archive = ArchiveName();
    const std::string archivePath = WorkPath(archive);
    const std::string oldConfigPath = WorkPath(kOldConfigName);
    const std::string newConfigPath = WorkPath(kNewConfigName);
    File_MakeDirectories(ResolvePath(kWorkFolder));
    // Leftovers of an earlier import would pass for what this fetch brought: an
    // old archive re-imported after a failed fetch, or a "param.conf" that
    // turns every later import into an older-archive one.
    for (const std::string& path : {archivePath, oldConfigPath, newConfigPath}) {
        if (!Remove(path)) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Delete file %s failed!\n\n", path.c_str());
            return VK_ERR_FAILURE;
        }
    }

    RunInWorkFolder({"ftpget", host, archive});
    if (KindOf(archivePath) != FileKind::Regular) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[IPComm_GetTheConfParam] ftpget error\n");
        return VK_ERR_FAILURE;
    }
    UnpackConfigMembers(archive);

    switch (KindOf(oldConfigPath)) {
        case FileKind::Regular: {
            FileDescriptor file(open(oldConfigPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (!file.valid()) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[IPComm_GetTheConfParam] open error\n");
                return VK_ERR_FAILURE;
            }
            if (File_ReadUpTo(file.get(), pstBackUpPara->u8TsPara, kBackupModelImageSize) == kBackupModelImageSize) {
                File_ReadUpTo(file.get(), pstBackUpPara->u8SysPara, kBackupQamImageSize);
            }
            return PARAM_WriteParaFile(pstBackUpPara);
        }
        case FileKind::Other:
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s is not a regular file\n", kOldConfigName);
            RemoveLogged(__func__, oldConfigPath);
            return VK_ERR_FAILURE;
        case FileKind::Missing:
            break;
    }
    switch (KindOf(newConfigPath)) {
        case FileKind::Missing:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "no config file in %s, nothing changed\n", archive.c_str());
            return VK_SUCCESS;
        case FileKind::Other:
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s is not a regular file\n", kNewConfigName);
            RemoveLogged(__func__, newConfigPath);
            return VK_ERR_FAILURE;
        case FileKind::Regular:
            break;
    }
    if (ImportNewConfig() != VK_SUCCESS) {
        return VK_ERR_FAILURE;
    }
    // The snapshot waits for the next start-up, which applies and deletes it.
    if (DATA_Recovery() != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "DATA_Recovery error\n\n");
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

U32 IPComm_GetAndSetParam() {
    std::unique_ptr<ST_BACKUPPARA> workArea;
    try {
        workArea = std::make_unique<ST_BACKUPPARA>();
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "malloc memory error\n\n");
        return VK_ERR_FAILURE;
    }
    if (IPComm_GetTheConfParam(workArea.get()) != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "[IPComm_GetTheConfParam] return error\n");
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

void ConfigBackup_SetSnapshotSaver(std::function<void()> saver) {
    std::lock_guard lock(g_testHooksMutex);
    g_snapshotSaver = std::move(saver);
}

void ConfigBackup_SetBodyAllocHook(std::function<bool(std::size_t bytes)> hook) {
    std::lock_guard lock(g_testHooksMutex);
    g_bodyAllocHook = std::move(hook);
}

}  // namespace hx

#include "chassis/upgrade.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/ipcomm_messages.h"
#include "chassis/oid_snapshot.h"
#include "chassis/tar_listing.h"
#include "core/clock.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "core/thread_util.h"
#include "platform/network.h"
#include "platform/resource.h"

namespace hx {

std::atomic<U8> g_isFtpUpgrading{0};
std::atomic<U8> g_isSendTimeOut{1};
std::atomic<U8> g_isUpgardeTimeOut{0};
std::atomic<U32> TmpVersion{0};

namespace {

// Guards UpgradeProFlag and the copies kept at its step changes.
std::mutex s_upgradeRecordMutex;
st_VK_UPGRADE UpgradeProFlag;
std::deque<st_VK_UPGRADE> s_stepChanges;

// Called with s_upgradeRecordMutex held, after the record changed.
void KeepStepChange(U8 stepBefore) {
    if (UpgradeProFlag.u8CurUpgradeProFlag == stepBefore) {
        return;
    }
    if (s_stepChanges.size() == kUpgradeReportBacklog) {
        s_stepChanges.pop_front();
    }
    s_stepChanges.push_back(UpgradeProFlag);
}

// The stages of the check (4 to 9). Once the watch has fired, the upgrade has
// failed and been reported so; the check runs on to where it notices, but its
// later stages do not tell the back board it is progressing again.
void ReachStage(U8 step) {
    if (g_isUpgardeTimeOut.load() != 0) {
        return;
    }
    UpgradeProFlag_SetStep(step);
}

// Reporter threads still running (for SubUpgrade_WaitReporters).
std::mutex s_reporterMutex;
std::condition_variable s_reporterEnded;
U32 s_reportersRunning = 0;
std::function<void()> s_reporterStart;  // tests only

}  // namespace

st_VK_UPGRADE UpgradeProFlag_Get() {
    std::lock_guard lock(s_upgradeRecordMutex);
    return UpgradeProFlag;
}

void UpgradeProFlag_Set(const st_VK_UPGRADE& record) {
    std::lock_guard lock(s_upgradeRecordMutex);
    UpgradeProFlag = record;
    s_stepChanges.clear();
}

void UpgradeProFlag_SetStep(U8 step) {
    std::lock_guard lock(s_upgradeRecordMutex);
    const U8 before = UpgradeProFlag.u8CurUpgradeProFlag;
    UpgradeProFlag.u8CurUpgradeProFlag = step;
    KeepStepChange(before);
}

void UpgradeProFlag_Fail(U32 errorCode, U32 tmpVersion) {
    std::lock_guard lock(s_upgradeRecordMutex);
    const U8 before = UpgradeProFlag.u8CurUpgradeProFlag;
    UpgradeProFlag.u8CurUpgradeProFlag = upgrade_fail;
    UpgradeProFlag.u32ErrorCode = errorCode;
    UpgradeProFlag.u32TmpVersion = tmpVersion;
    KeepStepChange(before);
}

void UpgradeProFlag_SetCommStatus(U8 status) {
    std::lock_guard lock(s_upgradeRecordMutex);
    UpgradeProFlag.u8CommStatusFlag = status;
}

std::vector<st_VK_UPGRADE> UpgradeProFlag_TakeChanges() {
    std::lock_guard lock(s_upgradeRecordMutex);
    std::vector<st_VK_UPGRADE> changes(s_stepChanges.begin(), s_stepChanges.end());
    s_stepChanges.clear();
    return changes;
}

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

namespace {

constexpr std::uint64_t kSecond = 1'000'000;
constexpr const char* kExtractLink = "/var/upgrade";
constexpr const char* kExtractFolder = "/var/volatile/upgrade";
constexpr const char* kVersionFile = "/vandik_data/upgradeVersion.json";
constexpr const char* kDataUbifsFlag = "/vandik_data/ubifs.flag";
constexpr const char* kCopyScript = "/vandik_app/app/copy2jffs2.sh";
constexpr const char* kJffs2Folder = "/tmp/jffs2";
constexpr const char* kJffs2VersionFile = "/tmp/jffs2/upgradeVersion.json";
constexpr const char* kJffs2Partition = "/dev/mtdblock6";
constexpr std::size_t kVersionFileReadLimit = 1024;

void Run(std::vector<std::string> argv) { Command_Run(Command{std::move(argv), std::nullopt}); }

void RemoveExtraction() {
    Run({"rm", kExtractLink, "-fr"});
    Run({"rm", "/var/upgrade.tar"});
}

void RemoveExtractionFolders() {
    Run({"rm", kExtractLink, "-fr"});
    Run({"rm", kExtractFolder, "-fr"});
}

std::string ErrorText(int error) { return std::strerror(error); }

// The version object of the version file, in cJSON's formatted print.
std::string VersionFileText(const ImageHeader_t& header) {
    const SoftwareVersion version = Upgrade_ReadSoftwareVersion(header);
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddNumberToObject(root.get(), "MachineType", header.MachineType);
    cJSON_AddNumberToObject(root.get(), "BoardType", header.BoardType);
    cJSON_AddNumberToObject(root.get(), "BigVerNum", static_cast<double>(version.big));
    cJSON_AddNumberToObject(root.get(), "MidVerNum", static_cast<double>(version.mid));
    cJSON_AddNumberToObject(root.get(), "MinVerNum", static_cast<double>(version.min));
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_Print(root.get()), cJSON_free);
    return text ? std::string(text.get()) : std::string();
}

bool WriteVersionFile(const char* logical, const ImageHeader_t& header) {
    const std::string text = VersionFileText(header);
    return !text.empty() &&
           File_WriteAtomic(ResolvePath(logical), std::span(reinterpret_cast<const U8*>(text.data()), text.size()));
}

// The check and the version verification are split into steps here; their
// log lines still name the operation the board's logs have always named.
constexpr const char* kCheckCaller = "upgrade_CheckUpgrade";
constexpr const char* kModifyCaller = "upgrade_CheckSoftVersionModify";

// The three numbers of the version file; a file that cannot be opened, read
// or parsed, or a member it lacks, counts 0.
SoftwareVersion ReadVersionFile() {
    SoftwareVersion version;
    const std::string path = ResolvePath(kVersionFile);
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        HX_LOG_AS(kModifyCaller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "open file: %s failed\n", kVersionFile);
        return version;
    }
    std::vector<U8> text(kVersionFileReadLimit);
    const ssize_t got = read(file.get(), text.data(), text.size());
    if (got < 0) {
        HX_LOG_AS(kModifyCaller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "read error\n");
        return version;
    }
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(
        cJSON_ParseWithLength(reinterpret_cast<const char*>(text.data()), static_cast<std::size_t>(got)),
        cJSON_Delete);
    if (!root) {
        HX_LOG_AS(kModifyCaller, LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Error: The %s is empty\n", kVersionFile);
        return version;
    }
    const auto member = [&](const char* name) -> std::int64_t {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(root.get(), name);
        if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble) || item->valuedouble < -1e9 ||
            item->valuedouble > 1e9) {
            return 0;
        }
        return static_cast<std::int64_t>(item->valuedouble);
    };
    version.big = member("BigVerNum");
    HX_LOG_AS(kModifyCaller, LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "BigVerNum = %d\n", static_cast<int>(version.big));
    version.mid = member("MidVerNum");
    HX_LOG_AS(kModifyCaller, LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "MidVerNum = %d\n", static_cast<int>(version.mid));
    version.min = member("MinVerNum");
    HX_LOG_AS(kModifyCaller, LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "MinVerNum = %d\n", static_cast<int>(version.min));
    return version;
}

// Why a payload may not be extracted, or nothing when it may: it must be a tar
// archive holding "zz.zz" and "run.sh" at its top as regular files, and no
// member may be written, or link, outside the extraction folder.
std::optional<std::string> PayloadRefusal(std::span<const U8> payload) {
    const std::optional<std::vector<TarMember>> members = Tar_ListMembers(payload);
    if (!members) {
        return "not a readable tar archive";
    }
    bool marker = false;
    bool script = false;
    for (const TarMember& member : *members) {
        if (Tar_PathLeavesFolder(member.name)) {
            return "member [" + member.name + "] leaves the folder";
        }
        const bool link = member.kind == TarMemberKind::SymbolicLink || member.kind == TarMemberKind::HardLink;
        if (link && (member.linkTarget.empty() || Tar_PathLeavesFolder(member.linkTarget))) {
            return "link [" + member.name + "] to [" + member.linkTarget + "] leaves the folder";
        }
        const std::string plain = Tar_PlainName(member.name);
        if (plain == "zz.zz") {
            marker = member.kind == TarMemberKind::File;
        } else if (plain == "run.sh") {
            script = member.kind == TarMemberKind::File;
        }
    }
    if (!marker) {
        return "no file zz.zz at its top";
    }
    if (!script) {
        return "no file run.sh at its top";
    }
    return std::nullopt;
}

// The check, with the image open: header, version, payload, CRC, member list,
// payload written back.
U32 CheckImage(const char* name, int fd, ImageHeader_t* header) {
    ImageHeaderBytes headerBytes{};
    if (File_ReadUpTo(fd, headerBytes.data(), headerBytes.size()) != headerBytes.size()) {
        const int error = errno;
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE,
                  "Upgrade file [%s] header can't be read error: %s(errno: %d)\n",
                  name, ErrorText(error).c_str(), error);
        return VK_ERR_UPGRADE_CHECK_HEADER;
    }
    *header = ImageHeader_Parse(headerBytes);
    if (header->SyncFlag != kUpgradeSyncFlag || header->BoardType != kUpgradeBoardType ||
        header->MachineType != kUpgradeMachineType) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] header info error!\n", name);
        return VK_ERR_UPGRADE_CHECK_HEADER;
    }
    // A part that cannot be packed into its byte would be compared, and
    // recorded, as another version than the image names.
    const SoftwareVersion version = Upgrade_ReadSoftwareVersion(*header);
    if (!Upgrade_VersionFits(version)) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE,
                  "Upgrade file [%s] software version out of range!\n", name);
        return VK_ERR_UPGRADE_CHECK_HEADER;
    }
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file [%s] header info correct!\n", name);
    if (Upgrade_PackVersion(version) <= Rollback_Version) {
        TmpVersion = Rollback_Version;
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_SYS,
                  "Upgrade file [%s] version lower than %d.%d.%d!\n", name,
                  static_cast<int>(Rollback_Version >> 16 & 0xFF), static_cast<int>(Rollback_Version >> 8 & 0xFF),
                  static_cast<int>(Rollback_Version & 0xFF));
        return VK_ERR_UPGRADE_TO_LOW_VERSION;
    }

    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE,
              "Upgrade file [%s] len: %u !\n", name, header->DataLength);
    ReachStage(kUpgradeHeaderStep + 1);
    // The length is compared with what the file holds before anything is
    // allocated for it: a header may claim up to 4 GiB.
    struct stat status {};
    if (fstat(fd, &status) != 0 || static_cast<std::uint64_t>(status.st_size) < kImageHeaderSize ||
        static_cast<std::uint64_t>(status.st_size) - kImageHeaderSize < header->DataLength) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE,
                  "Upgrade file [%s] valid data can't be read!\n", name);
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    std::vector<U8> payload;
    try {
        payload.resize(header->DataLength);
    } catch (const std::bad_alloc&) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] malloc error!\n", name);
        return VK_ERR_MALLOC_FALIURE;
    }
    if (File_ReadUpTo(fd, payload.data(), payload.size()) != payload.size()) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE,
                  "Upgrade file [%s] valid data can't be read!\n", name);
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE,
              "Upgrade file [%s] valid data have been read succefully!\n", name);

    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file CRC value: 0x%x!\n", header->DataCRC32);
    const U32 crc = Common_CRC(payload, kCrcInitMpeg2);
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file CRC ret: 0x%x!\n", crc);
    ReachStage(kUpgradeHeaderStep + 2);

    const std::string path = ResolvePath(name);
    FileDescriptor rewrite(open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!rewrite.valid()) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] re-open fail!\n", name);
        return VK_ERR_FILE_NOT_EXISTING;
    }
    if (crc != header->DataCRC32) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] CRC failure!\n", name);
        return VK_ERR_CRC;
    }
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file [%s] CRC successfully!\n", name);
    if (const std::optional<std::string> refusal = PayloadRefusal(payload)) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] payload refused: %s!\n", name,
                  refusal->c_str());
        return VK_ERR_TAR_UPGRADE_FILE_ERROR;
    }
    if (!File_WriteFully(rewrite.get(), payload)) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE,
                  "Upgrade file [%s] valid data can't be write!\n", name);
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE,
              "Upgrade file [%s] valid data can been write successfully!\n", name);
    return VK_SUCCESS;
}

// The image opened for reading and rewriting; -1, logged under the caller's
// name, when it cannot be.
int OpenImage(const char* caller, const char* name) {
    const std::string path = ResolvePath(name);
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] open  error: %s(errno: %d)\n", name,
                  ErrorText(error).c_str(), error);
    }
    return fd;
}

// Whether this board's own slot has its resource record (logged when not).
bool OwnSlotKnown(const char* caller) {
    if (Resource_GetHandle(Status_GetSlotID()) == nullptr) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Slot-%u is invalid\n", Status_GetSlotID());
        return false;
    }
    return true;
}

// Opens the image and checks it; the image is closed again on every path.
U32 OpenAndCheckImage(const char* name, ImageHeader_t* header) {
    const FileDescriptor image(OpenImage(kCheckCaller, name));
    if (!image.valid() || !OwnSlotKnown(kCheckCaller)) {
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    ReachStage(kUpgradeHeaderStep);
    return CheckImage(name, image.get(), header);
}

// The install of a checked payload, now the image file's whole content.
U32 Install(const char* name, const ImageHeader_t& header) {
    g_isSendTimeOut = 0;
    TheClock().SleepMicros(3 * kSecond);
    if (g_isUpgardeTimeOut.load() != 0) {
        HX_LOG_AS(kCheckCaller, LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Get upgrade file time out,upgrade faile\n");
        return VK_ERR_FTP_UPGRADE_TIME_OUT;
    }
    Run({"mkdir", kExtractFolder});
    Run({"ln", "-s", kExtractFolder, kExtractLink});
    const Command tar{{"tar", "xvf", name, "-C", std::string(kExtractLink) + "/"}, std::nullopt};
    HX_LOG_AS(kCheckCaller, LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "tar commdand:[%s]!\n", Command_Text(tar).c_str());
    Command_Run(tar);
    Command_Run(tar);
    ReachStage(kUpgradeHeaderStep + 3);
    if (!File_Exists(ResolvePath("/var/upgrade/zz.zz"))) {
        RemoveExtractionFolders();
        return VK_ERR_TAR_UPGRADE_FILE_ERROR;
    }
    ReachStage(kUpgradeHeaderStep + 4);
    Run({"ls", "-l", std::string(kExtractLink) + "/"});
    Run({"chmod", "+x", "/var/upgrade/run.sh"});
    Run({"/var/upgrade/run.sh"});
    TheClock().SleepMicros(3 * kSecond);
    storeVersionFromHeader(&header);
    if (File_Exists(ResolvePath(kDataUbifsFlag))) {
        Run({"rm", kDataUbifsFlag});
    }
    Run({"chmod", "+x", kCopyScript});
    Run({kCopyScript});
    if (File_Exists(ResolvePath("/var/upgrade/ubifs.flag"))) {
        Run({"touch", kDataUbifsFlag});
    }
    upgrade_CheckSoftVersionModify(&header);
    ReachStage(kUpgradeHeaderStep + 5);
    RemoveExtractionFolders();
    TheClock().SleepMicros(5 * kSecond);
    return VK_SUCCESS;
}

void ReporterEnded() {
    std::lock_guard lock(s_reporterMutex);
    --s_reportersRunning;
    s_reporterEnded.notify_all();
}

}  // namespace

ImageHeaderBytes ImageHeader_Serialize(const ImageHeader_t& header) {
    ImageHeaderBytes out{};
    U8* p = out.data();
    PutLe32(p + 0, header.SyncFlag);
    PutLe32(p + 4, header.HeaderVersion);
    PutLe32(p + 8, header.HeaderLength);
    PutLe32(p + 12, header.BoardType);
    PutLe32(p + 16, header.DataMaxSize);
    PutLe32(p + 20, header.DataTimestamp);
    PutLe32(p + 24, header.DataLength);
    PutLe32(p + 28, header.PlatformType);
    PutLe32(p + 32, header.DataCRC32);
    std::copy(header.ucFirmwareVersion.begin(), header.ucFirmwareVersion.end(), p + 36);
    PutLe32(p + 56, header.FirmwareLength);
    std::copy(header.ucSoftwareVersion.begin(), header.ucSoftwareVersion.end(), p + 60);
    PutLe32(p + 80, header.SoftwareLength);
    PutLe32(p + 84, header.ucHardwareVersion);
    PutLe32(p + 88, header.MachineType);
    PutLe32(p + 92, header.u32SWFunction);
    PutLe32(p + 96, header.u32OrgSize);
    p[100] = header.u8BeginQRTMainboardValid;
    p[101] = header.u8BeginKVDMainboardValid;
    std::copy(header.aru8Reserved.begin(), header.aru8Reserved.end(), p + 102);
    std::copy(header.aru8BeginQRTMainboardSWVer.begin(), header.aru8BeginQRTMainboardSWVer.end(), p + 104);
    std::copy(header.aru8BeginKVDMainboardSWVer.begin(), header.aru8BeginKVDMainboardSWVer.end(), p + 124);
    PutLe32(p + 144, header.u32OrgFirmSize);
    for (std::size_t i = 0; i < header.aru32Reserved.size(); ++i) {
        PutLe32(p + 148 + 4 * i, header.aru32Reserved[i]);
    }
    PutLe32(p + 252, header.HeaderCRC32);
    return out;
}

ImageHeader_t ImageHeader_Parse(std::span<const U8, kImageHeaderSize> bytes) {
    const U8* p = bytes.data();
    ImageHeader_t header{};
    header.SyncFlag = GetLe32(p + 0);
    header.HeaderVersion = GetLe32(p + 4);
    header.HeaderLength = GetLe32(p + 8);
    header.BoardType = GetLe32(p + 12);
    header.DataMaxSize = GetLe32(p + 16);
    header.DataTimestamp = GetLe32(p + 20);
    header.DataLength = GetLe32(p + 24);
    header.PlatformType = GetLe32(p + 28);
    header.DataCRC32 = GetLe32(p + 32);
    std::copy_n(p + 36, header.ucFirmwareVersion.size(), header.ucFirmwareVersion.begin());
    header.FirmwareLength = GetLe32(p + 56);
    std::copy_n(p + 60, header.ucSoftwareVersion.size(), header.ucSoftwareVersion.begin());
    header.SoftwareLength = GetLe32(p + 80);
    header.ucHardwareVersion = GetLe32(p + 84);
    header.MachineType = GetLe32(p + 88);
    header.u32SWFunction = GetLe32(p + 92);
    header.u32OrgSize = GetLe32(p + 96);
    header.u8BeginQRTMainboardValid = p[100];
    header.u8BeginKVDMainboardValid = p[101];
    std::copy_n(p + 102, header.aru8Reserved.size(), header.aru8Reserved.begin());
    std::copy_n(p + 104, header.aru8BeginQRTMainboardSWVer.size(), header.aru8BeginQRTMainboardSWVer.begin());
    std::copy_n(p + 124, header.aru8BeginKVDMainboardSWVer.size(), header.aru8BeginKVDMainboardSWVer.begin());
    header.u32OrgFirmSize = GetLe32(p + 144);
    for (std::size_t i = 0; i < header.aru32Reserved.size(); ++i) {
        header.aru32Reserved[i] = GetLe32(p + 148 + 4 * i);
    }
    header.HeaderCRC32 = GetLe32(p + 252);
    return header;
}

SoftwareVersion Upgrade_ReadSoftwareVersion(const ImageHeader_t& header) {
    const auto& field = header.ucSoftwareVersion;
    const std::string_view text(reinterpret_cast<const char*>(field.data()),
                                static_cast<std::size_t>(std::find(field.begin(), field.end(), U8{0}) - field.begin()));
    SoftwareVersion version;
    std::int64_t* parts[] = {&version.big, &version.mid, &version.min};
    if (!text.starts_with('V')) {
        return version;
    }
    std::size_t at = 1;
    for (std::size_t part = 0; part < 3; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                break;
            }
            ++at;
        }
        // As %d reads: white space, a sign, then at least one digit. The value
        // stops growing far beyond a byte, so a long run of digits cannot overflow.
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) {
            ++at;
        }
        bool negative = false;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
            negative = text[at] == '-';
            ++at;
        }
        std::int64_t value = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), 1'000'000);
        }
        if (digits == 0) {
            break;
        }
        *parts[part] = negative ? -value : value;
    }
    return version;
}

bool Upgrade_VersionFits(const SoftwareVersion& version) {
    const auto fits = [](std::int64_t part) { return part >= 0 && part <= 255; };
    return fits(version.big) && fits(version.mid) && fits(version.min);
}

U32 Upgrade_PackVersion(const SoftwareVersion& version) {
    return static_cast<U32>(version.big & 0xFF) << 16 | static_cast<U32>(version.mid & 0xFF) << 8 |
           static_cast<U32>(version.min & 0xFF);
}

void FTP_UpgradeProfileInit() {
    const TResource_TS* self = Resource_GetHandle(Status_GetSlotID());
    if (self == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Slot-%u is invalid\n", Status_GetSlotID());
        return;
    }
    st_VK_UPGRADE record;
    record.u8SlotID = self->u8SlotID;
    record.u8BoardType = self->u8BoardType;
    record.u32BoardSoftVersion = self->u32SoftVersion;
    record.u32BoardLogicVersion = self->u32LogicVersion;
    UpgradeProFlag_Set(record);
}

U32 upgrade_RecieveFile(const U8* pu8Buffer, U32 u32Length) {
    if (pu8Buffer == nullptr) {
        return VK_ERR_PARAMS;
    }
    const std::string path = ResolvePath(kUpgradeImagePath);
    File_MakeDirectories(std::filesystem::path(path).parent_path().string());
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "u32Datalen %u\n", u32Length);
    if (!File_WriteAtomic(path, std::span(pu8Buffer, u32Length))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] re-open fail!\n", kUpgradeImagePath);
        return VK_ERR_FILE_NOT_EXISTING;
    }
    return VK_SUCCESS;
}

void upgrade_BeginDelivery() {
    g_isUpgardeTimeOut = 0;
    // Steps an earlier, unreported upgrade (an image in packets) went
    // through are not this delivery's: its reporter must not send them.
    std::lock_guard lock(s_upgradeRecordMutex);
    s_stepChanges.clear();
}

U32 upgrade_UpgradeSystem(const char* pcFileName) {
    if (pcFileName == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Null pointer!\n");
        g_isFtpUpgrading = 0;
        UpgradeProFlag_SetStep(upgrade_fail);
        return VK_ERR_PARAMS;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file name :[%s]!\n", pcFileName);
    const U32 result = upgrade_CheckUpgrade(reinterpret_cast<const U8*>(pcFileName));
    if (result != VK_SUCCESS) {
        UpgradeProFlag_Fail(result, TmpVersion.load());
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, " u32TmpVersion: 0x%x!\n", TmpVersion.load());
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, " ret: %u!\n", result);
    } else {
        UpgradeProFlag_SetStep(kUpgradeSuccessStep);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, " ret: %u!\n", result);
    }
    std::error_code ignored;
    std::filesystem::remove(ResolvePath(pcFileName), ignored);
    g_isFtpUpgrading = 0;
    g_isSendTimeOut = 1;
    return result;
}

U32 upgrade_CheckUpgrade(const U8* UpgradeFileName) {
    if (UpgradeFileName == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Param is NULL!\n");
        return VK_ERR_PARAMS;
    }
    const char* name = reinterpret_cast<const char*>(UpgradeFileName);
    // The new program takes the configuration over from this snapshot.
    OID_ModifyVersionNumber(1);
    OIDDATA_Save();
    RemoveExtraction();
    ImageHeader_t header{};
    const U32 checked = OpenAndCheckImage(name, &header);
    if (checked != VK_SUCCESS) {
        return checked;
    }
    return Install(name, header);
}

U32 upgrade_CheckFile(const U8* UpgradeFileName) {
    if (UpgradeFileName == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Param is NULL!\n");
        UpgradeProFlag_SetStep(upgrade_fail);
        return VK_ERR_PARAMS;
    }
    RemoveExtraction();
    const FileDescriptor image(OpenImage(__func__, reinterpret_cast<const char*>(UpgradeFileName)));
    return image.valid() && OwnSlotKnown(__func__) ? VK_SUCCESS : VK_ERR_FILE_CAN_NOT_READE;
}

void storeVersionFromHeader(const ImageHeader_t* stUpgradeHeader) {
    if (stUpgradeHeader != nullptr) {
        WriteVersionFile(kVersionFile, *stUpgradeHeader);
    }
    Run({"sync"});
}

void upgrade_CheckSoftVersionModify(const ImageHeader_t* stUpgradeHeader) {
    if (stUpgradeHeader == nullptr) {
        return;
    }
    const SoftwareVersion stored = ReadVersionFile();
    const SoftwareVersion image = Upgrade_ReadSoftwareVersion(*stUpgradeHeader);
    if (stored.big == image.big && stored.mid == image.mid && stored.min == image.min) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "SoftVersion has been changed successfully after upgrade\n");
        return;
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "SoftVersion changed has not changed\n");
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "The data partition probability becomes read-only, Start to recovery\n");
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "The data partition will be restored from JFFS2 partition side\n");
    Run({"mkdir", kJffs2Folder});
    Run({"mount", "-t", "jffs2", kJffs2Partition, kJffs2Folder});
    WriteVersionFile(kJffs2VersionFile, *stUpgradeHeader);
    Run({"sync"});
    TheClock().SleepMicros(2 * kSecond);
    Run({"umount", kJffs2Folder});
    Run({"rmdir", kJffs2Folder});
}

U32 upgrade_FTPUpgradeMode() {
    upgrade_BeginDelivery();
    UpgradeProFlag_SetStep(upgrade_doing);
    g_isFtpUpgrading = 1;
    // The fetch runs with "/var/volatile/" as the tool's working directory;
    // the process keeps its own, which every thread shares.
    const std::string folder = ResolvePath("/var/volatile");
    File_MakeDirectories(folder);
    Command fetch{{"ftpget", Network_AddressText(Resource_getBoardIPAddress(kBackBoardSlot)), "upgradefile"},
                  std::nullopt};
    fetch.workingDirectory = "/var/volatile/";
    const std::string image = ResolvePath(kUpgradeImagePath);
    bool fetched = false;
    for (U32 attempt = 0; attempt < kFtpFetchTries && !fetched; ++attempt) {
        // A leftover image (an earlier upgrade's, a cut-short fetch) must never
        // pass for what this fetch brought.
        std::error_code ignored;
        std::filesystem::remove(image, ignored);
        Command_Run(fetch);
        fetched = upgrade_CheckFile(reinterpret_cast<const U8*>(kUpgradeImagePath)) == VK_SUCCESS;
        if (fetched) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Ftpget upgrade file finish\n");
        } else {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Upgrade file error,redownload!!\n");
        }
    }
    if (!fetched) {
        UpgradeProFlag_Fail(VK_ERR_FTP_DOWNLOAD_FILE_FAIL, UpgradeProFlag_Get().u32TmpVersion);
    }
    return VK_SUCCESS;
}

U32 SubUpgrade_TimeoutStart() {
    if (s_reporterStart) {
        s_reporterStart();
        return VK_SUCCESS;
    }
    {
        std::lock_guard lock(s_reporterMutex);
        ++s_reportersRunning;
    }
    const int error = Thread_StartDetached(Send_SubUpgradeProccessStatus, nullptr);
    if (error != 0) {
        ReporterEnded();
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "SubUpgrade timeout process thread create error :%s(errno: %d)\n",
               ErrorText(error).c_str(), error);
        return VK_ERR_FAILURE;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "SubUpgrade timeout process create successfully!\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "SubUpgrade timeout process thread detach successfully!\n");
    return VK_SUCCESS;
}

void* Send_SubUpgradeProccessStatus(void* /*arg*/) {
    {
        UpgradeReporter reporter;
        while (reporter.Turn()) {
            TheClock().SleepMicros(kSecond);
        }
        reporter.Finish();
    }
    ReporterEnded();
    return nullptr;
}

void upgradeCheckSubTimeout(U32 u32Time) {
    if (u32Time <= kUpgradeWatchSeconds || g_isSendTimeOut.load() == 0) {
        return;
    }
    {
        std::lock_guard lock(s_upgradeRecordMutex);
        const U8 before = UpgradeProFlag.u8CurUpgradeProFlag;
        if (before < upgrade_doing) {
            return;
        }
        UpgradeProFlag.u8CurUpgradeProFlag = upgrade_fail;
        UpgradeProFlag.u32ErrorCode = VK_ERR_FTP_UPGRADE_TIME_OUT;
        g_isUpgardeTimeOut = 1;
        KeepStepChange(before);
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, " SubUpgrade time out,upgrade stop\n");
}

UpgradeReporter::UpgradeReporter() : startMicros_(TheClock().MonotonicMicros()) {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Send Subboard upgrade status timely To BackBoard\n");
}

bool UpgradeReporter::Turn() {
    const U8 step = UpgradeProFlag_Get().u8CurUpgradeProFlag;
    if (step == upgrade_fail || step == kUpgradeSuccessStep) {
        return false;
    }
    upgradeCheckSubTimeout(static_cast<U32>((TheClock().MonotonicMicros() - startMicros_) / kSecond));
    if (g_isFtpUpgrading.load() != 0) {
        SendChanges();
    } else {
        UpgradeProFlag_TakeChanges();
        lastSent_ = upgrade_idle;
    }
    return true;
}

void UpgradeReporter::Finish() {
    SendChanges();
    g_isFtpUpgrading = 0;
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "the end of Send_SubUpgradeProccessStatus function\n");
}

void UpgradeReporter::SendChanges() {
    for (const st_VK_UPGRADE& change : UpgradeProFlag_TakeChanges()) {
        IPComm_SendUpProFlagToBackBoard(&lastSent_, change);
    }
}

void SubUpgrade_SetReporterStart(std::function<void()> start) { s_reporterStart = std::move(start); }

void SubUpgrade_WaitReporters() {
    std::unique_lock lock(s_reporterMutex);
    s_reporterEnded.wait(lock, [] { return s_reportersRunning == 0; });
}

namespace {

// The part headers are read as lines of at most this many characters (a
// longer line is taken as several pieces, each counting as a line) ...
constexpr std::size_t kEnvelopeLineChars = 199;
// ... and must end within this many lines.
constexpr U32 kEnvelopeMaxLines = 50;

// The next line (up to and including its LF) or piece of one, from `position`.
std::string_view NextEnvelopeLine(std::span<const U8> file, std::size_t position) {
    const std::size_t rest = std::min(file.size() - position, kEnvelopeLineChars);
    const char* start = reinterpret_cast<const char*>(file.data() + position);
    const std::string_view window(start, rest);
    const std::size_t newline = window.find('\n');
    return newline == std::string_view::npos ? window : window.substr(0, newline + 1);
}

// A line as the log shows it: up to its first NUL.
std::string Printable(std::string_view line) {
    return std::string(line.substr(0, line.find('\0')));
}

// Where the uploaded bytes lie in a spooled multipart/form-data body, or the
// code that refuses the envelope.
struct PayloadSpan {
    std::size_t start = 0;
    std::size_t length = 0;
};

U32 FindPayload(std::span<const U8> file, PayloadSpan* payload) {
    std::string_view boundary;
    bool headerFound = false;
    bool blankFound = false;
    std::size_t position = 0;
    U32 lines = 0;
    while (position < file.size()) {
        const std::string_view line = NextEnvelopeLine(file, position);
        position += line.size();
        if (++lines > kEnvelopeMaxLines) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Cant't find valid header!\n");
            break;
        }
        if (lines == 1) {
            boundary = line;
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade original first line: [%s]!\n",
                   Printable(line).c_str());
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade record first line: [%s]!\n",
                   Printable(boundary).c_str());
        } else if (!headerFound) {
            if (line.find("filename=") != std::string_view::npos) {
                headerFound = true;
                HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Find header:%s\n", Printable(line).c_str());
            }
        } else if (line.starts_with("\r\n")) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Find space: [%s]\n", Printable(line).c_str());
            blankFound = true;
            break;
        }
    }
    if (lines == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade first can't read!\n");
        return VK_ERR_UPGRADE_CHECK_NET_HEADER;
    }
    // The closing boundary is searched by the boundary line's text without its
    // CR LF: a first line that is no text ending in CR LF ("\n", a cut piece,
    // bare "\r\n") would match anywhere, or nowhere, and the payload's end
    // would fall before its start.
    const bool boundaryIsText = boundary.size() > 2 && boundary.ends_with("\r\n") &&
                                boundary.find('\0') == std::string_view::npos;
    if (!blankFound || !boundaryIsText) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade first line: [%s]!\n", Printable(boundary).c_str());
        return VK_ERR_UPGRADE_CHECK_NET_HEADER;
    }
    const std::size_t boundaryLength = boundary.size();
    const std::string_view marker = boundary.substr(0, boundaryLength - 2);
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Position : Cur %d  Total:%d  line_len:%d\n",
           static_cast<int>(position), static_cast<int>(file.size()), static_cast<int>(boundaryLength));
    const std::string_view body(reinterpret_cast<const char*>(file.data()), file.size());
    for (std::size_t p = position; p + boundaryLength <= file.size(); ++p) {
        if (body.compare(p, marker.size(), marker) != 0) {
            continue;
        }
        // The payload ends before the CR LF that precedes the closing
        // boundary; a boundary closer to the start leaves no such CR LF.
        if (p < position + 2) {
            break;
        }
        payload->start = position;
        payload->length = p - 2 - position;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "===>Find tail line, valid len:%d!\n",
               static_cast<int>(payload->length));
        return VK_SUCCESS;
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "===>Can't find tail line!\n");
    return VK_ERR_UPGRADE_CHECK_NET_HEADER;
}

}  // namespace

// The whole spooled file is read into one work buffer and the payload is
// written back with File_WriteAtomic, so every refusal and every failed
// write leaves the upload exactly as it was spooled.
U32 upgrade_DelNetHeader(const U8* u8UpgradeFileName) {
    if (u8UpgradeFileName == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Null pointer!\n");
        return VK_ERR_PARAMS;
    }
    const std::string path(reinterpret_cast<const char*>(u8UpgradeFileName));
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade filename : [%s]!\n", path.c_str());
    std::optional<std::vector<U8>> file;
    try {
        file = File_ReadAll(path);
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] malloc failed!\n", path.c_str());
        return VK_ERR_MALLOC_FALIURE;
    }
    if (!file) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "Upgrade file [%s] can't open!\n", path.c_str());
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    PayloadSpan payload;
    if (const U32 result = FindPayload(*file, &payload); result != VK_SUCCESS) {
        return result;
    }
    if (!File_WriteAtomic(path, std::span<const U8>(*file).subspan(payload.start, payload.length))) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_UPGRADE, "===>Can't re-open file:%s\n!\n", path.c_str());
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    return VK_SUCCESS;
}

}  // namespace hx

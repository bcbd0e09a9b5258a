#include "chassis/upgrade.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

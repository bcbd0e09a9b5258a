// Requests of the SI table pages (web/web_si_tables.h).
//
// The three requests that change the configuration ("ImportSiTable.w",
// "SetTOTLocaltimeoffsetDescriptor.w", "SetSubboardPSIPChannel.w") refuse
// without the modify right before they look at anything. Numbers that address
// a channel are taken only as whole numbers in range, so a value that would
// wrap when narrowed addresses nothing rather than channel 0.
#include "web/web_si_tables.h"

#include <cJSON.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/param_store.h"
#include "chassis/qam_json.h"
#include "chassis/upgrade.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "engine/web_report.h"
#include "http/chunk.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "si/nit_storage.h"
#include "si/time_tables.h"
#include "web/user_authority.h"
#include "web/web_model.h"
#include "web/web_reply.h"
#include "web/web_value.h"

namespace hx {

namespace {

constexpr int kNitTableIdValue = 0x40;
constexpr U8 kNitFirstByte = 0x40;
constexpr U32 kExportUrlBytes = 512;
constexpr char kDownloadFolder[] = "/vandik_app/web/download/";
constexpr char kExportFolder[] = "/tmp/";
// A channel number no stream has: what an address that names nothing becomes.
constexpr U16 kNoChannel = 0xFFFF;
// The switches' and the insertion values' tables reach this far.
constexpr U16 kMaxSwitchChannel = 31;
// The query of "ImportSiTable.w": at most this many parameters of at most
// kQueryPartBytes - 1 characters, read from the first kQueryTextBytes - 1
// characters of the request line.
constexpr U32 kQueryTextBytes = 1000;
constexpr U32 kQueryParameters = 20;
constexpr U32 kQueryPartBytes = 100;
constexpr std::size_t kTotBuildBytes = 10240;

// The decimal number at the start of a text, as atoi reads it (leading blanks,
// an optional sign), but held at the ends of long long instead of overflowing.
long long LeadingNumber(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)) != 0; ++text) {
        const int digit = *text - '0';
        if (value > (LLONG_MAX - digit) / 10) {
            return negative ? LLONG_MIN : LLONG_MAX;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

// The real channel of a port and channel, or kNoChannel when either is
// negative or the sum lies past 16 bits.
U16 RealChannelOf(long long port, long long channel) {
    if (port < 0 || channel < 0 || port > 0xFFFF || channel > 0xFFFF) {
        return kNoChannel;
    }
    const long long real = channel + port * static_cast<long long>(_web_GetOutChannelNumbyPort());
    return real < kNoChannel ? static_cast<U16>(real) : kNoChannel;
}

bool HasModifyRight() {
    return VKUser_GetUser_BoardLevel_ModifyAuthority() == HX_TRUE;
}

// ---- ExportSiTable.w ------------------------------------------------------------

U32 ExportSiTable(cJSON* body, buffer* reply) {
    int tableId = 0;
    std::optional<U16> channel;
    if (!web_ReadInt(body, "tableid", &tableId) || !web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    HX_LOG_AT_AS("web_processExportOneSiTable", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: System Settings > System > click Export button!(web_ExportOneSiTable) table id:%d.\r\n",
                 tableId);
    U8 url[kExportUrlBytes] = {};
    if (tableId == kNitTableIdValue) {
        if (const U32 result = Web_ExportNIT(channel.value_or(kNoChannel), url); result != VK_SUCCESS) {
            return result;
        }
    }
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "uri", cJSON_CreateString(reinterpret_cast<const char*>(url)));
    return web_ReplyData(reply, data);
}

// ---- TOT ------------------------------------------------------------------------

U32 GetTot(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    TOTTable_t table{};
    U32 read = VK_ERR_PARAMS;
    if (channel) {
        TSP_ModelLock lock;
        read = Web_TSP_GetTOTTableInfo(*channel, &table);
    }
    cJSON* item = cJSON_CreateObject();
    if (read == VK_SUCCESS) {
        const TOTDesc_t& entry = table.arstDescInfo.arstDes[0];
        char code[kWebValueTextBytes] = {};
        char offset[kWebValueTextBytes] = {};
        char next[kWebValueTextBytes] = {};
        char change[kWebValueTextBytes] = {};
        Web_CountryCodeHex2W(entry.u32CountryCode, code);
        Web_TimeOffsetHex2W(entry.u16LocalTimeOffset, offset);
        Web_TimeOffsetHex2W(entry.u16NextTimeOffset, next);
        Web_TOTTimeHex2W(change, entry.u8TimeOfChange);
        cJSON_AddItemToObject(item, "CountryRegID", cJSON_CreateNumber(entry.u8CountryRegID));
        cJSON_AddItemToObject(item, "LocalTimeOffsetPol", cJSON_CreateNumber(entry.u8LocalTimeOffsetPol));
        cJSON_AddItemToObject(item, "CountryCode", cJSON_CreateString(code));
        cJSON_AddItemToObject(item, "LocalTimeOffset", cJSON_CreateString(offset));
        cJSON_AddItemToObject(item, "NextTimeOffset", cJSON_CreateString(next));
        cJSON_AddItemToObject(item, "TimeOfChange", cJSON_CreateString(change));
    } else {
        // No stream or no TOT yet: what the page shows for a new stream.
        cJSON_AddItemToObject(item, "CountryRegID", cJSON_CreateNumber(8));
        cJSON_AddItemToObject(item, "LocalTimeOffsetPol", cJSON_CreateNumber(0));
        cJSON_AddItemToObject(item, "CountryCode", cJSON_CreateString("43484E"));
        cJSON_AddItemToObject(item, "LocalTimeOffset", cJSON_CreateString("00:00"));
        cJSON_AddItemToObject(item, "NextTimeOffset", cJSON_CreateString("00:00"));
        cJSON_AddItemToObject(item, "TimeOfChange", cJSON_CreateString("2022/01/01 00:00:00"));
    }
    cJSON* list = cJSON_CreateArray();
    cJSON_AddItemToArray(list, item);
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "streamList", list);
    return web_ReplyData(reply, data);
}

// The one local time offset entry from the first "streamList" item; false
// for a missing or mistyped member. Only the first three country-code
// characters count; an item past them is ignored.
bool ReadTotEntry(const cJSON* item, TOTDesc_t* entry) {
    const cJSON* codes = web_ReadArray(item, "CountryCode");
    int region = 0;
    int polarity = 0;
    const char* offset = web_ReadString(item, "LocalTimeOffset");
    const char* change = web_ReadString(item, "TimeOfChange");
    const char* next = web_ReadString(item, "NextTimeOffset");
    if (codes == nullptr || !web_ReadInt(item, "CountryRegID", &region) ||
        !web_ReadInt(item, "LocalTimeOffsetPol", &polarity) || offset == nullptr || change == nullptr ||
        next == nullptr) {
        return false;
    }
    char code[kCountryCodeTextLength + 1] = {};
    for (U32 i = 0; i < kCountryCodeTextLength; ++i) {
        const cJSON* character = cJSON_GetArrayItem(codes, static_cast<int>(i));
        if (!cJSON_IsNumber(character) || static_cast<U8>(character->valueint) == 0) {
            return false;
        }
        code[i] = static_cast<char>(static_cast<U8>(character->valueint));
    }
    entry->u32CountryCode = Web_CountryCodeW2Hex(code);
    entry->u8CountryRegID = static_cast<U8>(region);
    entry->u8LocalTimeOffsetPol = static_cast<U8>(polarity);
    entry->u16LocalTimeOffset = Web_TimeOffsetW2Hex(offset);
    Web_TOTTimeW2Hex(change, entry->u8TimeOfChange);
    entry->u16NextTimeOffset = Web_TimeOffsetW2Hex(next);
    return true;
}

U32 SetTot(cJSON* body, buffer* reply) {
    std::optional<U16> channel;
    if (!web_ReadOutChannel(body, &channel)) {
        return VK_ERR_WEB_POST_PARAM;
    }
    TOTTable_t table{};
    const cJSON* list = web_ReadArray(body, "streamList");
    if (const cJSON* first = list != nullptr ? cJSON_GetArrayItem(list, 0) : nullptr) {
        if (!ReadTotEntry(first, &table.arstDescInfo.arstDes[0])) {
            return VK_ERR_WEB_POST_PARAM;
        }
    }
    table.u8SectionLen = kTotSectionLength;
    TSP_GetUTCTime(table.aru8UTCTime);
    table.arstDescInfo.u8Tag = kLocalTimeOffsetTag;
    table.arstDescInfo.u8DescLen = kTotEntryBytes;
    std::vector<U8> section(kTotBuildBytes);
    U16 length = 0;
    if (const U32 result = SIP_ConstructTOT(&table, static_cast<U16>(section.size()), section.data(), &length);
        result != VK_SUCCESS) {
        return result;
    }
    // The whole section, CRC included, goes over; u16TOTLength is its
    // section_length, as the store reads the sections by their own lengths.
    const auto totBuffer = std::make_unique<TOTBuf_t>();
    totBuffer->u16TOTLength = kTotSectionLength;
    std::memcpy(totBuffer->aru8OutputTOTSection, section.data(),
                std::min<std::size_t>(length, sizeof totBuffer->aru8OutputTOTSection));
    TSP_ModelLock lock;
    if (const U32 result = Web_TSP_AddTOT_LTODescriptor(channel.value_or(kNoChannel), totBuffer.get());
        result != VK_SUCCESS) {
        return result;
    }
    return web_processSuccess(reply);
}

// ---- GetSubboardPSIPChannel.w ---------------------------------------------------

void AddNumber(cJSON* object, const char* key, double value) {
    cJSON_AddItemToObject(object, key, cJSON_CreateNumber(value));
}

U32 GetPsipChannels(cJSON* /*body*/, buffer* reply) {
    if (GetQAMPara_Handle() == nullptr) {
        return VK_ERR_PARAMS;
    }
    const auto view = std::make_unique<Output_WebTSInfo>();
    cJSON* ports = cJSON_CreateArray();
    TSP_ModelLock lock;
    for (U32 port = 0; port < _web_GetOutPortNum(); ++port) {
        cJSON* portItem = cJSON_CreateObject();
        cJSON_AddItemToArray(ports, portItem);
        AddNumber(portItem, "port", port);
        cJSON* channels = cJSON_CreateArray();
        cJSON_AddItemToObject(portItem, "channellist", channels);
        for (U32 channel = 0; channel < _web_GetOutChannelNumbyPort(); ++channel) {
            const U16 real = static_cast<U16>(_web_GetOutRealChannel(port, channel));
            U16 index = kChainEnd;
            if (TSP_GetOutputTSIndexByTS(real, &index) != VK_SUCCESS) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputTSIndexByTS return error\r\n\n");
                continue;
            }
            if (index == kChainEnd) {
                continue;
            }
            PSITRANS switches;
            U32 result = Web_GetTSWebInfo(real, view.get());
            if (result == VK_SUCCESS) {
                result = web_GetPSITransparent(real, &switches);
            }
            if (result != VK_SUCCESS) {
                cJSON_Delete(ports);
                return result;
            }
            cJSON* item = cJSON_CreateObject();
            cJSON_AddItemToArray(channels, item);
            AddNumber(item, "channel", channel);
            AddNumber(item, "port", port);
            AddNumber(item, "enable", 1);
            AddNumber(item, "isBypass", view->u8BypassFlag == 1 ? 1 : 0);
            cJSON* flag = cJSON_CreateObject();
            cJSON_AddItemToObject(item, "flag", flag);
            AddNumber(flag, "pat", switches.u8PATGenerate);
            AddNumber(flag, "pmt", switches.u8PMTGenerate);
            AddNumber(flag, "cat", switches.u8CATGenerate);
            AddNumber(flag, "sdt", switches.u8SDTGenerate);
            AddNumber(flag, "tdt", switches.u8TDTGenerate);
            AddNumber(flag, "tot", switches.u8TOTGenerate);
            AddNumber(flag, "bat", switches.u8BATGenerate);
            AddNumber(flag, "nit", switches.u8NITGenerate);
            AddNumber(flag, "eit", switches.u8EITGenerate);
            AddNumber(flag, "mgt", switches.u8MGTGenerate);
            AddNumber(flag, "vct", switches.u8VCTGenerate);
            AddNumber(flag, "stt", switches.u8STTGenerate);
            AddNumber(flag, "vcttype", switches.u32VCTType);
        }
    }
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "portlist", ports);
    return web_ReplyData(reply, data);
}

// ---- SetSubboardPSIPChannel.w ---------------------------------------------------

struct PsipChange {
    U16 channel = 0;
    U32 enable = 0;
    PSITRANS switches;
};

// One "channellist" item, checked whole: its channel must be one of the
// board's, and every key must be there with its type.
bool ReadPsipItem(const cJSON* item, U32 port, PsipChange* change) {
    std::optional<U32> channel;
    U32 enable = 0;
    const cJSON* flag = web_ReadObject(item, "flag");
    if (!web_ReadIndex(item, "channel", 0xFFFF, &channel) || !web_ReadU32Rounded(item, "enable", &enable) ||
        flag == nullptr || !channel || *channel >= _web_GetOutChannelNumbyPort()) {
        return false;
    }
    const U32 real = _web_GetOutRealChannel(port, *channel);
    if (real >= _web_GetOutChannelNum() || real > kMaxSwitchChannel) {
        return false;
    }
    const struct {
        const char* key;
        U8* field;
    } switches[] = {
        {"pat", &change->switches.u8PATGenerate}, {"pmt", &change->switches.u8PMTGenerate},
        {"cat", &change->switches.u8CATGenerate}, {"sdt", &change->switches.u8SDTGenerate},
        {"nit", &change->switches.u8NITGenerate}, {"TDT", &change->switches.u8TDTGenerate},
        {"TOT", &change->switches.u8TOTGenerate}, {"mgt", &change->switches.u8MGTGenerate},
        {"vct", &change->switches.u8VCTGenerate}, {"stt", &change->switches.u8STTGenerate},
    };
    for (const auto& [key, field] : switches) {
        int value = 0;
        if (!web_ReadInt(flag, key, &value)) {
            return false;
        }
        *field = static_cast<U8>(value);
    }
    int vctType = 0;
    if (!web_ReadInt(flag, "vcttype", &vctType)) {
        return false;
    }
    change->switches.u32VCTType = static_cast<U8>(vctType);
    change->switches.u16TransChannel = static_cast<U16>(real);
    change->channel = static_cast<U16>(real);
    change->enable = enable;
    return true;
}

U32 SetPsipChannels(cJSON* body, buffer* reply) {
    TParameter_QAM* qam = GetQAMPara_Handle();
    if (qam == nullptr) {
        return VK_ERR_PARAMS;
    }
    const cJSON* portList = web_ReadArray(body, "portlist");
    if (portList == nullptr) {
        return VK_ERR_PARAMS;
    }
    // Every item is read and checked before anything changes, so a bad item
    // leaves the earlier ones unapplied as well.
    std::vector<PsipChange> changes;
    for (U32 p = 0; p < _web_GetOutPortNum(); ++p) {
        const cJSON* portItem = cJSON_GetArrayItem(portList, static_cast<int>(p));
        std::optional<U32> port;
        const cJSON* channels = portItem != nullptr ? web_ReadArray(portItem, "channellist") : nullptr;
        if (channels == nullptr || !web_ReadIndex(portItem, "port", 0xFFFF, &port)) {
            continue;
        }
        const cJSON* item;
        cJSON_ArrayForEach(item, channels) {
            PsipChange change;
            if (!port || *port >= _web_GetOutPortNum() || !ReadPsipItem(item, *port, &change)) {
                return VK_ERR_WEB_POST_PARAM;
            }
            changes.push_back(change);
        }
    }
    {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        if (live == nullptr) {
            return VK_ERR_WEB_BAD_PARAM;
        }
        for (const PsipChange& change : changes) {
            if (change.enable != 0) {
                web_SetPSITransparent(change.channel, &change.switches, live);
            }
        }
        HX_LOG_AT_AS("web_SetSubboardPSIPChannel", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                     " WEB:Service Configuration > SI > OK > [web_SetPSITransparent]\r\n");
        Web_MuxProcessForPSITransparent();
    }
    QamApplyGuard apply(QAM_ApplyLock());
    for (const PsipChange& change : changes) {
        qam->InsertPSIEnable[change.channel].value = change.enable;
    }
    if (const U32 result = PARAMS_SetQAMParams(qam); result != VK_SUCCESS) {
        return result;
    }
    DATA_Save();
    return web_processSuccess(reply);
}

// ---- ImportSiTable.w ------------------------------------------------------------

struct ImportQuery {
    long long port = 0;
    long long channel = 0;
    long long tableId = 0;
};

// The query of the request line: false when it has no "?", nothing after it,
// or no "&". The last parameter runs on into the rest of the line, so its
// value is read as far as it is a number.
bool ParseImportQuery(const char* header, ImportQuery* query) {
    std::string_view text(header, strnlen(header, kQueryTextBytes - 1));
    text = text.substr(0, text.find_first_of("\r\n"));
    const std::size_t mark = text.find('?');
    if (mark == std::string_view::npos || mark + 1 == text.size()) {
        return false;
    }
    const std::string_view rest = text.substr(mark + 1);
    if (rest.find('&') == std::string_view::npos) {
        return false;
    }
    U32 taken = 0;
    std::size_t position = 0;
    while (taken < kQueryParameters && position < rest.size()) {
        const std::size_t start = rest.find_first_not_of('&', position);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(rest.find('&', start), rest.size());
        position = end;
        ++taken;
        const std::string parameter(rest.substr(start, std::min<std::size_t>(end - start, kQueryPartBytes - 1)));
        char name[kQueryPartBytes];
        char value[kQueryPartBytes];
        splitIntoTwoParts(parameter.c_str(), "=", name, value, kQueryPartBytes);
        const std::string_view key(name);
        if (key.find("port") != std::string_view::npos) {
            query->port = LeadingNumber(value);
        } else if (key.find("channel") != std::string_view::npos) {
            query->channel = LeadingNumber(value);
        } else if (key.find("tableid") != std::string_view::npos) {
            query->tableId = LeadingNumber(value);
        }
    }
    return true;
}

}  // namespace

// ---- the file head --------------------------------------------------------------

std::array<U8, kSiTableFileHeaderBytes> SiTableHeader_Serialize(const DeviceConfigureSaveFileHeader_t& header) {
    std::array<U8, kSiTableFileHeaderBytes> out{};
    const U32 words[] = {header.dwSignature, header.dwDeviceType, header.dwVersion, header.dwDataLength,
                         header.dwDataCRC,   header.dwRes1,       header.dwRes2};
    for (std::size_t i = 0; i < std::size(words); ++i) {
        PutLe32(out.data() + 4 * i, words[i]);
    }
    return out;
}

std::optional<DeviceConfigureSaveFileHeader_t> SiTableHeader_Parse(std::span<const U8> bytes) {
    if (bytes.size() < kSiTableFileHeaderBytes) {
        return std::nullopt;
    }
    const U8* in = bytes.data();
    DeviceConfigureSaveFileHeader_t header;
    header.dwSignature = GetLe32(in);
    header.dwDeviceType = GetLe32(in + 4);
    header.dwVersion = GetLe32(in + 8);
    header.dwDataLength = GetLe32(in + 12);
    header.dwDataCRC = GetLe32(in + 16);
    header.dwRes1 = GetLe32(in + 20);
    header.dwRes2 = GetLe32(in + 24);
    return header;
}

// ---- operations -----------------------------------------------------------------

void splitIntoTwoParts(const char* org, const char* sep, char* left, char* right, U32 n) {
    if (left == nullptr || right == nullptr || n == 0) {
        return;
    }
    std::memset(left, 0, n);
    std::memset(right, 0, n);
    if (org == nullptr || sep == nullptr) {
        return;
    }
    const std::string_view text(org);
    char* parts[] = {left, right};
    std::size_t position = 0;
    for (char* part : parts) {
        const std::size_t start = text.find_first_not_of(sep, position);
        if (start == std::string_view::npos) {
            return;
        }
        const std::size_t end = std::min(text.find_first_of(sep, start), text.size());
        std::memcpy(part, org + start, std::min<std::size_t>(end - start, n - 1));
        position = end;
    }
}

U32 Web_ExportNIT(U32 u32RealChannel, U8* pu8ExportUrl) {
    if (pu8ExportUrl == nullptr) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    pu8ExportUrl[0] = '\0';
    const std::string downloadFolder = ResolvePath(kDownloadFolder);
    if (!File_MakeDirectories(downloadFolder)) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Create dir %s fail!\n", kDownloadFolder);
        return VK_ERR_WEB_DIRCREATFAIL;
    }
    std::vector<U8> data;
    {
        TSP_ModelLock lock;
        U16 length = 0;
        const U32 measured = TSP_GetExportNITLength(u32RealChannel, &length);
        if (measured != VK_SUCCESS || length <= 3) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "TSP_GetExportNITLength Error, u16NITLength:%02x\n", length);
            return measured != VK_SUCCESS ? measured : VK_ERR_SIP_NIT_NO_EXIST;
        }
        try {
            data.resize(length);
        } catch (const std::bad_alloc&) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "Malloc fail..\n");
            return VK_ERR_MALLOC_FALIURE;
        }
        if (const U32 result = TSP_GetExportNITBuf(u32RealChannel, data.data(), length); result != VK_SUCCESS) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "TSP_GetExportNITBuf Error:enErrCode[%08X]\n", result);
            return result;
        }
    }
    DeviceConfigureSaveFileHeader_t header;
    header.dwSignature = kSiTableFileSignature;
    header.dwDeviceType = kSiTableFileDeviceType;
    header.dwDataLength = static_cast<U32>(data.size());
    header.dwDataCRC = Common_CRCCalculate(data.data(), static_cast<U32>(data.size()), 0);
    const std::array<U8, kSiTableFileHeaderBytes> head = SiTableHeader_Serialize(header);

    const std::string name = "TS" + std::to_string(u32RealChannel + 1) + "_NIT.table";
    const std::string filePath = kExportFolder + name;
    const std::span<const U8> pieces[] = {head, data};
    const std::string realFile = ResolvePath(filePath);
    File_MakeDirectories(ResolvePath(kExportFolder));
    if (!File_WriteAtomicGathered(realFile, pieces)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_WEB, "open %s fail\n", filePath.c_str());
        return VK_SUCCESS;
    }
    const std::string url = "download/" + name;
    Command link;
    link.argv = {"ln", "-sf", filePath, "/vandik_app/web/" + url};
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_WEB, "Command : %s\n", Command_Text(link).c_str());
    Command_Run(link);
    std::snprintf(reinterpret_cast<char*>(pu8ExportUrl), kExportUrlBytes, "%s", url.c_str());
    return VK_SUCCESS;
}

U32 Web_ImportNIT(U32 u32RealChannel) {
    const U32 unwrapped = upgrade_DelNetHeader(reinterpret_cast<const U8*>(g_arcUpgradeFiledir));
    if (unwrapped != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Del net-header ret: %d!\n", static_cast<int>(unwrapped));
        return unwrapped;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Del net-header success!\n");
    std::optional<std::vector<U8>> file;
    try {
        file = File_ReadAll(g_arcUpgradeFiledir);
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Upgrade file [%s] malloc failed!\n\n", g_arcUpgradeFiledir);
        return VK_ERR_MALLOC_FALIURE;
    }
    if (!file) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "fopen %s fail..\n", g_arcUpgradeFiledir);
        return VK_ERR_FILE_CAN_NOT_READE;
    }
    // The data is the rest of the file, whatever the head's length says; a
    // file with no data byte after the head holds no NIT.
    const std::optional<DeviceConfigureSaveFileHeader_t> header = SiTableHeader_Parse(*file);
    if (!header || file->size() <= kSiTableFileHeaderBytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Not a NIT Table..\n");
        return VK_ERR_PARAMS;
    }
    const std::span<const U8> data = std::span<const U8>(*file).subspan(kSiTableFileHeaderBytes);
    if (Common_CRCCalculate(data.data(), static_cast<U32>(data.size()), 0) != header->dwDataCRC) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "CRC isn't match\n");
        return VK_ERR_PARAMS;
    }
    if (data[0] != kNitFirstByte) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Not a NIT Table..\n");
        return VK_ERR_PARAMS;
    }
    TSP_ModelLock lock;
    if (const U32 result = TSP_AddNITByImport(u32RealChannel, data.data(), static_cast<U32>(data.size()));
        result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "TSP_AddNITByImport fail..!\n");
        return result;
    }
    return VK_SUCCESS;
}

U32 Web_TSP_GetTOTTableInfo(U16 nChannel, TOTTable_t* pstTOTTable) {
    return TSP_GetTOTTableInfo(nChannel, pstTOTTable);
}

U32 Web_TSP_AddTOT_LTODescriptor(U16 u16Channel, const TOTBuf_t* pstTOTBuf) {
    return TSP_EditTOT_LTODescriptor(u16Channel, pstTOTBuf);
}

U32 web_GetPSITransparent(U16 u16OutputChannel, PSITRANS* pstPSITrans) {
    if (u16OutputChannel > kMaxSwitchChannel || pstPSITrans == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[%s:%d]Input Error:u16OutChannel[%u], pstTS[%p]\r\n\n",
               __func__, __LINE__, u16OutputChannel, static_cast<void*>(pstPSITrans));
        return VK_ERR_WEB_BAD_PARAM;
    }
    *pstPSITrans = {};
    U16 index = kChainEnd;
    if (const U32 result = TSP_GetOutputTSIndexByTS(u16OutputChannel, &index); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutputTSIndexByTS return error\r\n\n");
        return result;
    }
    if (index == kChainEnd) {
        pstPSITrans->u8PATGenerate = 1;
        pstPSITrans->u8PMTGenerate = 1;
        pstPSITrans->u8CATGenerate = 1;
        pstPSITrans->u8SDTGenerate = 1;
        pstPSITrans->u8TDTGenerate = 1;
        pstPSITrans->u8MGTGenerate = 1;
        pstPSITrans->u8VCTGenerate = 1;
        pstPSITrans->u8STTGenerate = 1;
        return VK_SUCCESS;
    }
    const Output_TSStream& stream = TSP_GetTSParam()->pOutputTS[index];
    pstPSITrans->u8PATGenerate = stream.u8PATGenerate;
    pstPSITrans->u8PMTGenerate = stream.u8PMTGenerate;
    pstPSITrans->u8CATGenerate = stream.u8CATGenerate;
    pstPSITrans->u8SDTGenerate = stream.u8SDTGenerate;
    pstPSITrans->u8BATGenerate = stream.u8BATGenerate;
    pstPSITrans->u8NITGenerate = stream.u8NITGenerate;
    pstPSITrans->u8TDTGenerate = stream.u8TDTGenerate;
    pstPSITrans->u8TOTGenerate = stream.u8TOTGenerate;
    pstPSITrans->u8EITGenerate = stream.u8EITGenerate;
    pstPSITrans->u8MGTGenerate = stream.u8MGTGenerate;
    pstPSITrans->u8VCTGenerate = stream.u8VCTGenerate;
    pstPSITrans->u8STTGenerate = stream.u8STTGenerate;
    pstPSITrans->u8ETTGenerate = stream.u8ETTGenerate;
    pstPSITrans->u16TransChannel = stream.u16TransChannel;
    pstPSITrans->u32VCTType = stream.u32VCTType;
    return VK_SUCCESS;
}

U32 web_SetPSITransparent(U16 u16OutputChannel, const PSITRANS* pstPSITrans, Output_TSInfo* model) {
    if (u16OutputChannel > kMaxSwitchChannel || pstPSITrans == nullptr || model == nullptr) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input Error:u16OutChannel[%u], pstTS[%p]\r\n",
                  u16OutputChannel, static_cast<void*>(model));
        return VK_ERR_WEB_BAD_PARAM;
    }
    const U16 index = ModelLookup_StreamOfChannel(model, u16OutputChannel);
    if (index == kChainEnd) {
        return VK_ERR_TSP_TS_ERROR;
    }
    Output_TSStream& stream = model->pOutputTS[index];
    if (stream.u8BypassFlag != 0) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    stream.u8PATGenerate = pstPSITrans->u8PATGenerate;
    stream.u8PMTGenerate = pstPSITrans->u8PMTGenerate;
    stream.u8CATGenerate = pstPSITrans->u8CATGenerate;
    stream.u8SDTGenerate = pstPSITrans->u8SDTGenerate;
    stream.u8BATGenerate = pstPSITrans->u8BATGenerate;
    stream.u8NITGenerate = pstPSITrans->u8NITGenerate;
    stream.u8TDTGenerate = pstPSITrans->u8TDTGenerate;
    stream.u8TOTGenerate = pstPSITrans->u8TOTGenerate;
    stream.u8EITGenerate = pstPSITrans->u8EITGenerate;
    stream.u8MGTGenerate = pstPSITrans->u8MGTGenerate;
    stream.u8VCTGenerate = pstPSITrans->u8VCTGenerate;
    stream.u8STTGenerate = pstPSITrans->u8STTGenerate;
    stream.u8ETTGenerate = pstPSITrans->u8ETTGenerate;
    stream.u16TransChannel = pstPSITrans->u16TransChannel;
    stream.u32VCTType = pstPSITrans->u32VCTType;
    return VK_SUCCESS;
}

U32 Web_MuxProcessForPSITransparent() {
    if (const U32 result = TSP_MuxProcess(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_WEB, "TSP_MuxProcess return %X\n", result);
    }
    return VK_SUCCESS;
}

// ---- handlers -------------------------------------------------------------------

U32 web_processImportOneSiTable(buffer* reply, const char* header) {
    if (!HasModifyRight()) {
        return VK_ERR_USER_NOT_MODUIFY_AUTHORITY;
    }
    if (reply == nullptr || header == nullptr) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    ImportQuery query;
    if (!ParseImportQuery(header, &query)) {
        return VK_SUCCESS;
    }
    const U16 channel = RealChannelOf(query.port, query.channel);
    const int tableId = query.tableId < INT_MIN || query.tableId > INT_MAX ? -1 : static_cast<int>(query.tableId);
    HX_LOG_AT_AS("web_processImportOneSiTable", LOG_LEVEL_INFO, LOG_MODULE_WEB,
                 " WEB: System Settings > System > click Upload button!(Web_ImportOneSiTable) table id:%d.\r\n",
                 tableId);
    if (tableId == kNitTableIdValue) {
        if (const U32 result = Web_ImportNIT(channel); result != VK_SUCCESS) {
            return result;
        }
    }
    // Every table ID applies the temporary copy, with whatever else is pending in it.
    Web_MuxProcess();
    cJSON* data = cJSON_CreateObject();
    cJSON_AddItemToObject(data, "importdelay", cJSON_CreateNumber(kImportDelaySeconds));
    return web_ReplyData(reply, data);
}

U32 web_processExportOneSiTable(buffer* reply) {
    return web_HandleRequest(reply, {}, ExportSiTable);
}

U32 web_GetSubboardPSIPChannel(buffer* reply) {
    return web_HandleRequest(reply, {}, GetPsipChannels);
}

U32 web_SetSubboardPSIPChannel(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, SetPsipChannels);
}

U32 web_processGetTOT_LTODescriptor(buffer* reply) {
    return web_HandleRequest(reply, {}, GetTot);
}

U32 web_processSetTOT_LTODescriptor(buffer* reply) {
    return web_HandleRequest(reply, {.modifyRight = true}, SetTot);
}

}  // namespace hx

#include "platform/resource.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "chassis/ipcomm.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/mux_process.h"
#include "platform/board.h"
#include "platform/chassis_info.h"
#include "platform/fpga_net.h"
#include "platform/fpga_reg.h"
#include "platform/gpio.h"
#include "platform/network.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"

namespace hx {

namespace {

constexpr std::size_t kVersionFileLimit = 1024;
constexpr U8 kNeitherInputNorOutput[] = {0x40, 0x41};

constexpr U16 kVlanIdMax = 4094;  // 0 and 4095 are reserved by 802.1Q

TResource_TS s_resources[kResourceRecords];
std::atomic<U32> s_slotId{0};
std::atomic<BOOL> s_ipRequestFlag{HX_FALSE};
// BoardTimeSettings packed: time zone in bits 16-31, daylight saving in 8-15,
// GPS-UTC offset in 0-7.
std::atomic<U32> s_timeSettings{0};
// The VLAN eth0 carries a tagged interface for (0: none). Written by the
// inter-board server thread only.
U16 s_appliedVlan = 0;

template <std::size_t N>
void PutBytes(ResourceBytes& out, std::size_t offset, const U8 (&field)[N]) {
    std::memcpy(out.data() + offset, field, N);
}

template <std::size_t N>
void GetBytes(std::span<const U8> in, std::size_t offset, U8 (&field)[N]) {
    std::memcpy(field, in.data() + offset, N);
}

U32 PackTimeSettings(const BoardTimeSettings& settings) {
    return static_cast<U32>(static_cast<U16>(settings.s16TimeZoneMinutes)) << 16 |
           static_cast<U32>(settings.u8DaylightSaving) << 8 | settings.u8GPSUTCOffset;
}

BoardTimeSettings UnpackTimeSettings(U32 word) {
    BoardTimeSettings settings;
    settings.s16TimeZoneMinutes = static_cast<S16>(static_cast<U16>(word >> 16));
    settings.u8DaylightSaving = static_cast<U8>(word >> 8);
    settings.u8GPSUTCOffset = static_cast<U8>(word);
    return settings;
}

std::string VlanInterface(U16 id) { return std::string(kEth0Name) + "." + std::to_string(id); }

// Brings eth0's tagged interface in line with the back board's setting; runs
// nothing while the setting stays as it was applied.
void ApplyVlan(U8 enable, U16 id) {
    if (enable != 0 && (id == 0 || id > kVlanIdMax)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "VLAN id %u refused, VLAN kept as it was\n", id);
        return;
    }
    const U16 wanted = enable != 0 ? id : 0;
    if (wanted == s_appliedVlan) {
        return;
    }
    if (s_appliedVlan != 0) {
        Command_Run({"ip", "link", "delete", VlanInterface(s_appliedVlan)});
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "VLAN %u removed\n", s_appliedVlan);
        s_appliedVlan = 0;
    }
    if (wanted != 0) {
        const std::string name = VlanInterface(wanted);
        Command_Run({"ip", "link", "add", "link", kEth0Name, "name", name, "type", "vlan", "id", std::to_string(wanted)});
        Command_Run({"ip", "link", "set", name, "up"});
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "VLAN %u on %s\n", wanted, name.c_str());
        s_appliedVlan = wanted;
    }
}

// What the back board's own record sets beyond being stored.
void ApplyBackBoardSettings(const TResource_TS& record) {
    Resource_SetErrorCodeLanguage(record.u8Language);
    BoardTimeSettings time;
    time.s16TimeZoneMinutes = record.s16TimeZoneMinutes;
    time.u8DaylightSaving = record.u8DaylightSaving;
    time.u8GPSUTCOffset = record.u8GPSUTCOffset;
    s_timeSettings.store(PackTimeSettings(time));
    {
        // An apply copies and sends the whole QAM set; the standard must not
        // change half-way through one. An apply under way (the start-up send
        // takes about half a minute) holds this thread that long.
        QamApplyGuard apply(QAM_ApplyLock());
        GetQAMPara_Handle()->Standard.value = record.u8Standard;
    }
    ApplyVlan(record.u8VlanEnable, record.u16VlanID);
}

U32 ReadVersionMember(const cJSON* root, const char* name) {
    const cJSON* member = cJSON_GetObjectItem(root, name);
    if (!cJSON_IsNumber(member) || member->valuedouble < 0) {
        return 0;
    }
    return static_cast<U32>(member->valueint) & 0xFF;
}

}  // namespace

ResourceBytes Resource_Serialize(const TResource_TS& record) {
    ResourceBytes out{};
    out[0] = record.u8SlotID;
    out[1] = record.u8BoardType;
    out[2] = record.u8Standard;
    out[3] = record.u8Language;
    PutLe32(&out[4], record.u32IPAddress);
    PutBytes(out, 8, record.au8Mac);
    PutLe16(&out[14], record.u16OutputChannelNum);
    PutLe32(&out[16], record.u32SoftVersion);
    PutLe32(&out[20], record.u32LogicVersion);
    PutLe32(&out[24], record.u32HardVersion);
    PutBytes(out, 28, record.au8BoardDescriptor);
    PutBytes(out, 48, record.au8CustomerNo);
    out[80] = record.u8FTPUpgrade;
    out[81] = record.u8EitEnable;
    out[82] = record.u8isDelChannelProg;
    out[83] = record.u8MuxPIDEnable;
    out[84] = record.u8CustomVariant;
    out[85] = record.u8DaylightSaving;
    PutLe16(&out[86], static_cast<U16>(record.s16TimeZoneMinutes));
    PutBytes(out, 88, record.au8ChannelStatus);
    out[120] = record.u8GPSUTCOffset;
    out[121] = record.u8VlanEnable;
    PutLe16(&out[122], record.u16VlanID);
    out[124] = record.u8ServiceFlags;
    return out;
}

std::optional<TResource_TS> Resource_Parse(std::span<const U8> in) {
    if (in.size() != kResourceSize) {
        return std::nullopt;
    }
    TResource_TS record{};
    record.u8SlotID = in[0];
    record.u8BoardType = in[1];
    record.u8Standard = in[2];
    record.u8Language = in[3];
    record.u32IPAddress = GetLe32(&in[4]);
    GetBytes(in, 8, record.au8Mac);
    record.u16OutputChannelNum = GetLe16(&in[14]);
    record.u32SoftVersion = GetLe32(&in[16]);
    record.u32LogicVersion = GetLe32(&in[20]);
    record.u32HardVersion = GetLe32(&in[24]);
    GetBytes(in, 28, record.au8BoardDescriptor);
    GetBytes(in, 48, record.au8CustomerNo);
    record.u8FTPUpgrade = in[80];
    record.u8EitEnable = in[81];
    record.u8isDelChannelProg = in[82];
    record.u8MuxPIDEnable = in[83];
    record.u8CustomVariant = in[84];
    record.u8DaylightSaving = in[85];
    record.s16TimeZoneMinutes = static_cast<S16>(GetLe16(&in[86]));
    GetBytes(in, 88, record.au8ChannelStatus);
    record.u8GPSUTCOffset = in[120];
    record.u8VlanEnable = in[121];
    record.u16VlanID = GetLe16(&in[122]);
    record.u8ServiceFlags = in[124];
    return record;
}

void Status_Init() {
    const U32 value = FPGA_GetSlotID();
    if (value > 15) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Slot register holds %u, using slot %u\n", value, value & 0xF);
    }
    s_slotId = value & 0xF;
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Slot ID %u\n", s_slotId.load());
}

U32 Status_GetSlotID() { return s_slotId; }

BOOL Status_GetIPReqflag() { return s_ipRequestFlag; }

void Status_SetIPReqflag(BOOL bFlag) { s_ipRequestFlag = bFlag != 0 ? HX_TRUE : HX_FALSE; }

void Resource_Init() {
    const U32 slot = Status_GetSlotID();
    TResource_TS& self = s_resources[slot];
    self.u8SlotID = static_cast<U8>(slot);
    self.u8BoardType = kQamBoardType;
    self.u16OutputChannelNum = static_cast<U16>(BMN_GetOutputChannelNum());
    std::memset(self.au8BoardDescriptor, 0, sizeof self.au8BoardDescriptor);
    std::memcpy(self.au8BoardDescriptor, "QAM Board", std::strlen("QAM Board"));
    self.u8CustomVariant = IsQuenlorCustom();

    U32 softVersion = 0;
    if (Resource_GetSoftVersion(&softVersion) == 0) {
        softVersion = kDefaultSoftVersion;
    }
    self.u32SoftVersion = softVersion;
    U32 logicVersion = 0;
    FPGA_GetLOGVerSion(&logicVersion);
    self.u32LogicVersion = logicVersion;
    self.u32HardVersion = PIN_GetHWVerSion();

    if (const auto mac = Network_ReadMac(kEth0Name)) {
        std::memcpy(self.au8Mac, mac->data(), mac->size());
        FPGA_SetMacAddr(mac->data(), 0);
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Resource of slot %u: software 0x%x, logic 0x%x, hardware %u\n", slot,
           softVersion, logicVersion, self.u32HardVersion);
}

TResource_TS* Resource_getSelfHandle() { return &s_resources[Status_GetSlotID()]; }

TResource_TS* Resource_GetHandle(U32 slot) { return slot < kResourceRecords ? &s_resources[slot] : nullptr; }

U32 Resource_SetSlotResource(U32 u32slot, const U8* u8Data, U32 u32Length) {
    if (u8Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Para Error...\n\n");
        return VK_ERR_PARAMS;
    }
    if (u32slot != kBackBoardSlot) {
        HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "Resource from slot %u ignored, only the back board sends them\n",
               u32slot);
        return VK_SUCCESS;
    }
    const auto record = Resource_Parse(std::span(u8Data, u32Length));
    if (!record) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Resource of %u bytes refused\n", u32Length);
        return VK_ERR_PARAMS;
    }
    if (record->u8SlotID >= kResourceRecords) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Resource for slot %u refused\n", record->u8SlotID);
        return VK_ERR_PARAMS;
    }
    const U8 eitBoardBefore = Resource_GetEITBoardSlot();
    TResource_TS& stored = s_resources[record->u8SlotID];
    if (record->u8SlotID == Status_GetSlotID()) {
        // The back board echoes this board's record back; what it holds of
        // the address and MAC may be stale or unset, and the board announces
        // and filters with its own.
        TResource_TS merged = *record;
        merged.u32IPAddress = stored.u32IPAddress;
        std::memcpy(merged.au8Mac, stored.au8Mac, sizeof merged.au8Mac);
        stored = merged;
    } else {
        stored = *record;
    }
    if (record->u8SlotID == kBackBoardSlot) {
        ApplyBackBoardSettings(*record);
    }
    const U8 eitBoardAfter = Resource_GetEITBoardSlot();
    if (eitBoardAfter != eitBoardBefore) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "EIT board moved from slot %u to slot %u\n", eitBoardBefore,
               eitBoardAfter);
        IPComm_SendEITInfo();
        TSP_MuxProcess();
    }
    return VK_SUCCESS;
}

U32 Resource_getBoardIPAddress(U32 slot) {
    if (slot >= kResourceRecords) {
        return 0;
    }
    return s_resources[slot].u32IPAddress;
}

BoardTimeSettings Resource_GetTimeSettings() { return UnpackTimeSettings(s_timeSettings.load()); }

void Resource_SetBackBoardIpAddr(U32 u32Ipaddr) { s_resources[kBackBoardSlot].u32IPAddress = u32Ipaddr; }

U32 Resource_getBoardDescriptor(U32 slot, U8* pu8Descriptor) {
    if (slot >= kResourceRecords || pu8Descriptor == nullptr) {
        return VK_ERR_PARAMS;
    }
    std::memcpy(pu8Descriptor, s_resources[slot].au8BoardDescriptor, sizeof s_resources[slot].au8BoardDescriptor);
    return VK_SUCCESS;
}

U8 Resource_GetSIMode() { return static_cast<U8>(GetQAMPara_Handle()->Standard.value & 0xFF); }

U8 Resource_GetEITBoardSlot() {
    for (U32 slot = 0; slot < kResourceRecords; ++slot) {
        if (s_resources[slot].u8BoardType == kEitBoardType && s_resources[slot].u8EitEnable != 0) {
            return static_cast<U8>(slot);
        }
    }
    return kNoEitBoardSlot;
}

U8 Resource_IsAllBoardSupportDelChannelProg() {
    const U8 chassisType = VKSYS_GetZelType();
    for (U32 ui = 0; ui < kResourceRecords; ++ui) {
        const U8 slot = VKSYS_UISlot2HWSlot(chassisType, static_cast<U8>(ui));
        if (slot >= kResourceRecords || slot == Status_GetSlotID()) {
            continue;
        }
        if (slot != kBackBoardSlot && !Status_CheckSubBoardPlugExist(slot)) {
            continue;
        }
        const TResource_TS& record = s_resources[slot];
        if (std::find(std::begin(kNeitherInputNorOutput), std::end(kNeitherInputNorOutput), record.u8BoardType) !=
            std::end(kNeitherInputNorOutput)) {
            continue;
        }
        if (record.u8isDelChannelProg == 0) {
            return 0;
        }
    }
    return 1;
}

U32 Resource_GetSoftVersion(U32* pu32SoftVersion) {
    if (pu32SoftVersion == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Param is NULL\n");
        return 0;
    }
    const std::string path = ResolvePath(kUpgradeVersionPath);
    if (!std::filesystem::exists(path)) {
        Command_Run(Command{{"cp", kShippedVersionPath, kUpgradeVersionPath}, std::nullopt});
    }
    auto bytes = File_ReadAll(path);
    if (!bytes) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Can't read %s\n", kUpgradeVersionPath);
        return 0;
    }
    if (bytes->size() > kVersionFileLimit) {
        bytes->resize(kVersionFileLimit);
    }
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> root(
        cJSON_ParseWithLength(reinterpret_cast<const char*>(bytes->data()), bytes->size()), cJSON_Delete);
    if (!root) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s is no JSON\n", kUpgradeVersionPath);
        return 0;
    }
    *pu32SoftVersion = ReadVersionMember(root.get(), "BigVerNum") << 16 |
                       ReadVersionMember(root.get(), "MidVerNum") << 8 | ReadVersionMember(root.get(), "MinVerNum");
    return 1;
}

int Resource_SetErrorCodeLanguage(U8 u8Language) {
    const int result = err_SetLanguage(u8Language);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_WARNING, LOG_MODULE_SYS, "Language %u not supported, kept %u\n", u8Language,
               static_cast<unsigned>(err_GetLanguage()));
    }
    return result;
}

BOOL IsQuenlorCustom() { return Profile().customVariant ? HX_TRUE : HX_FALSE; }

void Resource_Reset() {
    for (TResource_TS& record : s_resources) {
        record = TResource_TS{};
    }
    s_slotId = 0;
    s_ipRequestFlag = HX_FALSE;
    s_timeSettings = 0;
    s_appliedVlan = 0;
}

}  // namespace hx

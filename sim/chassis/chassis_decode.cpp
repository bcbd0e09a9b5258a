#include "sim/chassis/chassis_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "chassis/eit_list.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "chassis/upgrade.h"
#include "core/common_fun.h"
#include "engine/model_records.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr std::size_t kHexBytesShown = 32;
constexpr std::size_t kNameBytes = 32;

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char line[256];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// A name field: at most `length` (and at most the field's) bytes, printable
// ASCII kept, anything else shown as '.'.
std::string Name(const U8* bytes, std::size_t length, std::size_t field = kNameBytes) {
    std::string text;
    for (std::size_t i = 0; i < std::min(length, field); ++i) {
        text.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.');
    }
    return text;
}

// Text up to the first zero byte or the end of the data.
std::string Text(std::span<const U8> data) {
    const auto end = std::find(data.begin(), data.end(), U8{0});
    return Name(data.data(), static_cast<std::size_t>(end - data.begin()), data.size());
}

std::string Hex(std::span<const U8> data) {
    std::string text = Format("%zu bytes:", data.size());
    for (std::size_t i = 0; i < std::min(data.size(), kHexBytesShown); ++i) {
        text += Format(" %02x", data[i]);
    }
    if (data.size() > kHexBytesShown) {
        text += " ...";
    }
    return text;
}

std::string Slots(U32 mask) {
    std::string text;
    for (U32 slot = 0; slot < 16; ++slot) {
        if (mask & (1u << slot)) {
            text += Format(" %u", slot);
        }
    }
    return text.empty() ? " none" : text;
}

std::vector<std::string> Resource(std::span<const U8> data) {
    const std::optional<TResource_TS> parsed = Resource_Parse(data);
    if (!parsed) {
        return {Format("resource record of %zu bytes (%zu expected)", data.size(), kResourceSize)};
    }
    const TResource_TS& r = *parsed;
    std::string channels;
    for (std::size_t i = 0; i < std::min<std::size_t>(r.u16OutputChannelNum, sizeof r.au8ChannelStatus); ++i) {
        channels += Format(" %u", r.au8ChannelStatus[i]);
    }
    std::vector<std::string> lines = {
        Format("resource record: slot %u, board type %u, standard %u, language %u", r.u8SlotID, r.u8BoardType,
               r.u8Standard, r.u8Language),
        Format("  address %s, MAC %02x:%02x:%02x:%02x:%02x:%02x, %u output channels",
               IPComm_AddressText(r.u32IPAddress).c_str(), r.au8Mac[0], r.au8Mac[1], r.au8Mac[2], r.au8Mac[3],
               r.au8Mac[4], r.au8Mac[5], r.u16OutputChannelNum),
        Format("  software 0x%x, logic 0x%x, hardware 0x%x, descriptor '%s'", r.u32SoftVersion, r.u32LogicVersion,
               r.u32HardVersion, Text(r.au8BoardDescriptor).c_str()),
        Format("  FTP upgrade %u, EIT enable %u, deletes channel programs %u, muxes PIDs %u, customer variant %u",
               r.u8FTPUpgrade, r.u8EitEnable, r.u8isDelChannelProg, r.u8MuxPIDEnable, r.u8CustomVariant),
    };
    if (!channels.empty()) {
        lines.push_back("  channel states:" + channels);
    }
    return lines;
}

std::vector<std::string> EitList(std::span<const U8> data) {
    if (data.size() < 4) {
        return {Format("EIT list of %zu bytes: no record count", data.size())};
    }
    const U32 count = GetLe32(data.data());
    std::vector<std::string> lines = {Format("EIT list: %u records", count)};
    if (data.size() != 4 + std::size_t{count} * std::size_t{kEitRecordSize}) {
        lines.push_back(Format("  %zu bytes, %zu expected for %u records", data.size(),
                               4 + std::size_t{count} * std::size_t{kEitRecordSize}, count));
        return lines;
    }
    for (U32 i = 0; i < count; ++i) {
        const Output_EIT r = EIT_Parse(data.data() + 4 + std::size_t{i} * kEitRecordSize);
        lines.push_back(Format("  #%u service %u (input %u) '%s', provider '%s', program %u, enable %u", r.u16Index,
                               r.u16ServiceID, r.u16OldServiceID,
                               Name(r.aru8ServiceName.data(), r.u8ServiceNameLen).c_str(),
                               Name(r.aru8ServiceProvider.data(), r.u8ServiceProviderLen).c_str(), r.u16ProgramID,
                               r.u8Enable));
        lines.push_back(Format("     output channel %u (stream %u, TS id 0x%04x, network 0x%04x), from slot %u "
                               "channel %u stream %u, EIT version %u",
                               r.u16ChannelID, r.u16TSIndex, r.u16TransportStreamID, r.u16OriginalNetworkId,
                               r.u8SourceSlotID, r.u16SourceChannelID, r.u16SrcStreamId, r.u8EitVersionNumber));
    }
    return lines;
}

std::vector<std::string> Upgrade(std::span<const U8> data) {
    const std::optional<st_VK_UPGRADE> parsed = Upgrade_Parse(data);
    if (!parsed) {
        return {Format("upgrade progress of %zu bytes (%u expected)", data.size(), kUpgradeRecordSize)};
    }
    const st_VK_UPGRADE& r = *parsed;
    return {
        Format("upgrade progress: slot %u, step %u of %u, communication %u, upgrade status %u, error %u", r.u8SlotID,
               r.u8CurUpgradeProFlag, r.u8SumUpgradeProFlag, r.u8CommStatusFlag, r.u8UpgradeStatusFlag,
               r.u32ErrorCode),
        Format("  board software 0x%x logic 0x%x, file software 0x%x logic 0x%x, board type %u",
               r.u32BoardSoftVersion, r.u32BoardLogicVersion, r.u32FileSoftVersion, r.u32FileLogicVersion,
               r.u8BoardType),
    };
}

std::vector<std::string> Led(std::span<const U8> data) {
    if (data.size() != 1) {
        return {Format("LED status of %zu bytes (1 expected)", data.size())};
    }
    const char* meaning = data[0] == 1 ? "normal, green" : data[0] == 2 ? "alarm, red" : "unknown";
    return {Format("LED status %u (%s)", data[0], meaning)};
}

std::vector<std::string> NetworkSettings(std::span<const U8> data) {
    if (data.size() < 16) {
        return {Format("network settings of %zu bytes (16 expected)", data.size())};
    }
    const U8* d = data.data();
    return {Format("network settings: back board %s, board %s, netmask %s, gateway %s",
                   IPComm_AddressText(GetLe32(d)).c_str(), IPComm_AddressText(GetLe32(d + 4)).c_str(),
                   IPComm_AddressText(GetLe32(d + 8)).c_str(), IPComm_AddressText(GetLe32(d + 12)).c_str())};
}

// Configuration records as an input card sends them: a count byte, then that
// many whole records.
template <typename Record, typename Describe>
std::vector<std::string> Records(const char* what, std::span<const U8> data, Describe describe) {
    if (data.empty()) {
        return {Format("%s: no record count", what)};
    }
    const std::size_t count = data[0];
    std::vector<std::string> lines = {Format("%s: %zu records", what, count)};
    if (data.size() != 1 + count * sizeof(Record)) {
        lines.push_back(Format("  %zu bytes, %zu expected for %zu records of %zu bytes", data.size(),
                               1 + count * sizeof(Record), count, sizeof(Record)));
        return lines;
    }
    for (std::size_t i = 0; i < count; ++i) {
        Record record;
        std::memcpy(&record, data.data() + 1 + i * sizeof(Record), sizeof(Record));
        lines.push_back("  " + describe(record));
    }
    return lines;
}

const char* PidType(U8 type) {
    static constexpr const char* kNames[] = {"invalid", "PMT", "PCR", "ES", "EMM", "program ECM", "ES ECM", "other"};
    return type < std::size(kNames) ? kNames[type] : "unknown";
}

}  // namespace

std::string SimChassis_CommandText(U16 command) {
    const char* name = IPComm_CommandName(command);
    return Format("%s (%u)", name == nullptr ? "unknown" : name, command);
}

std::vector<std::string> SimChassis_DescribePayload(U16 command, std::span<const U8> data) {
    switch (command) {
        case IPCOMM_SEND_RESOUR:
            return Resource(data);
        case IPCOMM_SEND_EITINFO:
            return EitList(data);
        case IPCOMM_SEND_PROCESS_UPGRADE:
            return Upgrade(data);
        case IPCOMM_SEND_INDSTATUS:
            return Led(data);
        case IPCOMM_SEND_IP:
            return NetworkSettings(data);
        case IPCOMM_SEND_SUBPLUGFLAG:
            if (data.size() < 2) {
                return {Format("plug mask of %zu bytes (2 expected)", data.size())};
            }
            return {Format("plug mask 0x%04x: slots%s", GetLe16(data.data()), Slots(GetLe16(data.data())).c_str())};
        case IPCOMM_FTP_UPGRADE:
            if (data.size() < 4) {
                return {Format("FTP upgrade order of %zu bytes (4 expected)", data.size())};
            }
            return {Format("FTP upgrade of an image of %u bytes", GetBe32(data.data()))};
        case IPCOMM_SEND_DEL_DESTCHANNEL:
            if (data.size() < 4) {
                return {Format("deleted output channel, %zu bytes (4 expected)", data.size())};
            }
            return {Format("output channel %u deleted", GetLe32(data.data()))};
        case IPCOMM_USER_AUTHORITY_CONFIG:
        case IPCOMM_SEND_IPERF3_TO_SUBB:
            return {"text '" + Text(data) + "'"};
        case IPCOMM_SEND_TS:
            return Records<Output_TSStream>("streams", data, [](const Output_TSStream& s) {
                return Format("output channel %u on slot %u: TS id 0x%04x, network 0x%04x, from slot %u stream %u",
                              s.u16ChannelID, s.u8SlotID, s.u16TransportStreamID, s.u16OriginalNetworkID,
                              s.u8SrcSlotID, s.u16SrcStreamID);
            });
        case IPCOMM_SEND_PROGRAM:
            return Records<Output_TSProgram>("programs", data, [](const Output_TSProgram& p) {
                return Format("program %u '%s' (provider '%s'): service %u, PMT 0x%x, PCR 0x%x, output channel %u, "
                              "from slot %u channel %u",
                              p.u16ProgramID, Name(p.aru8ServiceName, p.u8ServiceNameLen).c_str(),
                              Name(p.aru8ServiceProvider, p.u8ServiceProviderLen).c_str(), p.u16OldServiceID,
                              p.u16OldPMTPID, p.u16OldPCRPID, p.u16ChannelID, p.u8SourceSlotID, p.u16SourceChannelID);
            });
        case IPCOMM_SEND_PID:
            return Records<Output_TSPID>("PIDs", data, [](const Output_TSPID& p) {
                return Format("%s PID 0x%x of program %u (key %u, stream type 0x%02x), output channel %u",
                              PidType(p.u8PIDType), p.u16OldPID, p.u16ProgramID, p.u16PIDID, p.u8StreamType,
                              p.u16ChannelID);
            });
        case IPCOMM_SEND_DESCRIPTOR:
            return Records<TSDescriptor>("descriptor loops", data, [](const TSDescriptor& d) {
                return Format("program %u, output channel %u: %u bytes, first tag 0x%02x", d.u16ProgramIndex,
                              d.u16ChannelID, d.u32Length, d.u32Length > 0 ? d.u8DescriptorInfo[0] : 0);
            });
        case IPCOMM_SEND_EITINFO_OVER:
            return {"end of the EIT list"};
        default:
            break;
    }
    if (data.empty()) {
        return {"no data"};
    }
    return {Hex(data)};
}

}  // namespace hx

// Fuzzes what arrives on the inter-board port: raw blocks through the packet
// parser, and well-formed packets of several senders and commands through the
// reassembly store, checked against a shadow of what each message should hold
// (one message's packets in order, never more than 5,120 bytes).
//
// Input: a sequence of 8-byte steps. Step byte 7 bit 0 set: the next
// (byte 4 | byte 5 << 8) % 1500 input bytes are one raw block. Otherwise the
// step describes a packet: sender byte0 % 3, command byte1 % 3 (259, 260,
// 3841), index byte2 % 5, count byte3 % 5, length (byte4 | byte5 << 8) % 1401,
// fill byte6; bit 1 of byte 7 flips one bit of it before parsing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "core/log.h"
#include "core/run_profile.h"

namespace {

using Key = std::pair<hx::U8, hx::U16>;

struct Shadow {
    hx::U32 lastIndex = 0;
    std::vector<std::uint8_t> data;
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-fuzz-XXXXXX").string();
    hx::SetProfile(hx::SimProfile(mkdtemp(pattern.data())));
    hx::Log_SetConsoleSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr hx::U16 kCommands[] = {259, 260, 3841};
    hx::IPComm_ResetTmpData();
    std::map<Key, Shadow> shadows;
    std::size_t at = 0;
    while (at + 8 <= size) {
        const std::uint8_t* step = data + at;
        at += 8;
        const hx::U32 length = static_cast<hx::U32>(step[4] | step[5] << 8);
        hx::ST_VK_IPCOMM record;
        if (step[7] & 1) {
            const std::size_t raw = std::min<std::size_t>(length % 1500, size - at);
            std::vector<std::uint8_t> block(data + at, data + at + raw);
            at += raw;
            const hx::U32 result = hx::IPComm_ParseData(block.data(), static_cast<hx::S32>(block.size()), &record);
            if (result != 0) {
                Check(record.u16CMD == 0 && record.u32Length == 0 && record.u8SlotID == 0);
            }
            Check(record.u32Length <= hx::kIPCommMaxData);
            // A raw block may join a message the shadow does not know: start over.
            hx::IPComm_ResetTmpData();
            shadows.clear();
            continue;
        }
        const hx::U8 sender = step[0] % 3;
        const hx::U16 command = kCommands[step[1] % 3];
        const hx::U32 index = step[2] % 5;
        const hx::U32 count = step[3] % 5;
        const hx::U32 dataLength = length % 1401;
        std::vector<std::uint8_t> payload(dataLength, step[6]);
        hx::IPCommWire wire;
        Check(hx::IPComm_Build(command, payload.data(), dataLength, index, count, &wire, sender));
        const bool corrupt = (step[7] & 2) != 0;
        if (corrupt) {
            wire.bytes[step[6] % (wire.length - 4)] ^= 0x01;
        }
        const hx::U32 result = hx::IPComm_ParseData(wire.bytes.data(), static_cast<hx::S32>(wire.length), &record);
        const bool joinable = count > 1 && command != 3841;
        if (result == 0 && joinable) {
            // Corruption that still parses (a padding byte) changes nothing the shadow sees.
            const Key key{record.u8SlotID, record.u16CMD};
            if (record.u32CurTansNum == 0) {
                shadows[key] = Shadow{0, std::vector<std::uint8_t>(record.pu8Data.begin(),
                                                                    record.pu8Data.begin() + record.u32Length)};
            } else if (auto found = shadows.find(key); found != shadows.end() &&
                                                       found->second.lastIndex + 1 == record.u32CurTansNum &&
                                                       found->second.data.size() + record.u32Length <=
                                                           hx::kIPCommTmpDataSize) {
                found->second.data.insert(found->second.data.end(), record.pu8Data.begin(),
                                          record.pu8Data.begin() + record.u32Length);
                found->second.lastIndex = record.u32CurTansNum;
            }
            const hx::S32 slot = hx::IPComm_FindTmpData(record);
            if (slot >= 0) {
                const hx::ST_VK_IPCOMM_TMPData& joined = hx::g_IPComm_Tmpdata[static_cast<hx::U32>(slot)];
                const Shadow& shadow = shadows.at(key);
                Check(joined.u32Length <= hx::kIPCommTmpDataSize);
                Check(joined.u32curPacket == shadow.lastIndex);
                Check(std::vector<std::uint8_t>(joined.pu8Data.begin(), joined.pu8Data.begin() + joined.u32Length) ==
                      shadow.data);
            }
            hx::IPComm_ClearTmpData(record);
            if (hx::IPComm_FindTmpData(record) < 0) {
                shadows.erase({record.u8SlotID, record.u16CMD});
            }
        } else if (result == 0) {
            Check(hx::IPComm_FindTmpData(record) < 0 || command != 3841);
        }
    }
    return 0;
}

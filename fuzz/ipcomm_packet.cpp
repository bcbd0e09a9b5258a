// Fuzzes what arrives on the inter-board port: raw blocks through the packet
// parser, and well-formed packets of several senders and commands through the
// reassembly store and the dispatcher, on a socketpair, as the server thread
// hands them on. Checked against a shadow of what each message should hold:
// - the reassembly store holds one message's packets in order, never more
//   than 5,120 bytes;
// - the configuration entry gets exactly a single packet's data, or a whole
//   joined message once its last packet is in, and the replies say so (none
//   for a packet count of 0);
// - a firmware image is handed on only when every packet from 0 to n-1 came in
//   order, is exactly the bytes stored, and is installed only then;
// - every other packet gets exactly one bare reply.
//
// Input: a sequence of 8-byte steps. Step byte 7 bit 0 set: the next
// (byte 4 | byte 5 << 8) % 1500 input bytes are one raw block. Otherwise the
// step describes a packet: sender byte0 % 3, command byte1 % 3 (259, 260,
// 3841), index byte2 % 5, count byte3 % 5 (for 3841 with byte 3 bit 7 set, a
// count whose image would pass 64 MiB), length (byte4 | byte5 << 8) % 1401,
// fill byte6; bit 1 of byte 7 flips one bit of it before parsing.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "chassis/ipcomm_dispatch.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "fuzz/fuzz_data_root.h"
#include "fuzz/virtual_time.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Key = std::pair<hx::U8, hx::U16>;

constexpr hx::U32 kRefusedImageCount = 47935;  // 47,935 x 1,400 bytes pass 64 MiB
constexpr hx::U32 kApplyError = 0xC0000;

struct Shadow {
    hx::U32 lastIndex = 0;
    Bytes data;
};

struct ImageShadow {
    bool intact = false;
    Bytes bytes;
    hx::U32 expected = 0;
    hx::U32 count = 0;
};

struct Handed {
    hx::U16 command;
    Bytes data;
};

int g_server = -1;  // the dispatcher's end of the connection
int g_peer = -1;    // the sender's end
std::vector<Handed> g_constructed;
std::vector<Bytes> g_images;
int g_installs = 0;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Some joined messages cannot be applied: the ones whose first byte is odd.
hx::U32 ApplyResult(const std::uint8_t* data, hx::U16 length) {
    return length > 0 && (data[0] & 1) != 0 ? kApplyError : 0;
}

hx::U32 RecordConstruct(hx::U8* data, hx::IPCOMM_CMD command, hx::U16 length) {
    Check(length <= hx::kIPCommTmpDataSize);
    g_constructed.push_back({command, Bytes(data, data + length)});
    return ApplyResult(data, length);
}

hx::U32 RecordImage(const hx::U8* image, hx::U32 length) {
    const hx::UpgradeTransfer state = hx::IPComm_UpgradeTransferState();
    Check(state.hasBuffer && length == state.stored && state.stored <= state.capacity &&
          state.capacity <= hx::kUpgradeImageLimit);
    g_images.emplace_back(image, image + length);
    return 0;
}

hx::U32 RecordInstall(const char*) {
    ++g_installs;
    return 0;
}

// The one reply the dispatcher wrote, 0 when it wrote none.
hx::U16 TakeReply() {
    std::uint8_t buffer[64];
    const ssize_t got = recv(g_peer, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0) {
        return 0;
    }
    Check(got == 20);
    hx::ST_VK_IPCOMM reply;
    Check(hx::IPComm_ParsePacket(buffer, static_cast<hx::S32>(got), &reply) == 0);
    Check(reply.u32SumTansNum == 1 && reply.u32Length == 0);
    Check(reply.u16CMD == hx::IPCOMM_SUCCESS_CMD || reply.u16CMD == hx::IPCOMM_DATA_ERROR);
    return reply.u16CMD;
}

hx::U16 Dispatch(hx::ST_VK_IPCOMM& record) {
    g_constructed.clear();
    g_images.clear();
    g_installs = 0;
    hx::IPComm_Response(g_server, &record);
    const hx::UpgradeTransfer state = hx::IPComm_UpgradeTransferState();
    Check(state.stored <= state.capacity && state.capacity <= hx::kUpgradeImageLimit);
    Check(state.hasBuffer || state.capacity == 0);
    return TakeReply();
}

bool Dispatched(hx::U16 command) { return command == 0 || command == 259 || command == 260 || command == 3841; }

// A configuration packet whose fate the shadow does not know: only what
// holds for any packet is checked.
void CheckAnyConfiguration(const hx::ST_VK_IPCOMM& record, hx::U16 reply) {
    Check(g_images.empty() && g_installs == 0);
    Check(g_constructed.size() <= 1);
    if (record.u32SumTansNum == 0) {
        Check(reply == 0 && g_constructed.empty());
    } else if (record.u32SumTansNum == 1) {
        Check(reply == hx::IPCOMM_SUCCESS_CMD && g_constructed.size() == 1 &&
              g_constructed[0].data == Bytes(record.pu8Data.begin(), record.pu8Data.begin() + record.u32Length));
    } else {
        Check(reply != 0);
    }
}

// A firmware packet the shadow knows: the image is handed on whole or not at all.
void CheckImagePacket(ImageShadow& image, const hx::ST_VK_IPCOMM& record, hx::U16 reply) {
    const hx::U32 index = record.u32CurTansNum;
    const hx::U32 count = record.u32SumTansNum;
    if (index == 0) {
        image = ImageShadow{};
        image.intact = count != 0 && static_cast<std::uint64_t>(count) * hx::kIPCommMaxData <= hx::kUpgradeImageLimit;
        image.count = count;
    }
    if (count != image.count || index != image.expected ||
        image.bytes.size() + record.u32Length > static_cast<std::uint64_t>(image.count) * hx::kIPCommMaxData) {
        image.intact = false;
    }
    if (image.intact) {
        image.bytes.insert(image.bytes.end(), record.pu8Data.begin(), record.pu8Data.begin() + record.u32Length);
    }
    ++image.expected;
    Check(reply == hx::IPCOMM_SUCCESS_CMD && g_constructed.empty());
    if (count != 0 && index == count - 1) {
        if (image.intact) {
            Check(g_images.size() == 1 && g_images[0] == image.bytes && g_installs == 1);
        } else {
            Check(g_images.empty() && g_installs == 0);
        }
        image = ImageShadow{};
    } else {
        Check(g_images.empty() && g_installs == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    hx::fuzz::UseAutoAdvancingClock();
    int fds[2];
    Check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    g_server = fds[0];
    g_peer = fds[1];
    hx::IPComm_SetDispatchHooks({RecordConstruct, RecordImage, RecordInstall});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr hx::U16 kCommands[] = {259, 260, 3841};
    hx::IPComm_ResetTmpData();
    hx::IPComm_ResetUpgradeTransfer();
    std::map<Key, Shadow> shadows;
    ImageShadow image;
    std::size_t at = 0;
    while (at + 8 <= size) {
        const std::uint8_t* step = data + at;
        at += 8;
        const hx::U32 length = static_cast<hx::U32>(step[4] | step[5] << 8);
        hx::ST_VK_IPCOMM record;
        if (step[7] & 1) {
            const std::size_t raw = std::min<std::size_t>(length % 1500, size - at);
            Bytes block(data + at, data + at + raw);
            at += raw;
            const hx::U32 result = hx::IPComm_ParseData(block.data(), static_cast<hx::S32>(block.size()), &record);
            if (result != 0) {
                Check(record.u16CMD == 0 && record.u32Length == 0 && record.u8SlotID == 0);
            }
            Check(record.u32Length <= hx::kIPCommMaxData);
            // The shadows do not know where a raw block lands, so only what holds
            // for any packet is checked, and everything starts over afterwards.
            if (Dispatched(record.u16CMD)) {
                const hx::U16 reply = Dispatch(record);
                if (record.u16CMD == 0) {
                    Check(reply == hx::IPCOMM_DATA_ERROR && g_constructed.empty() && g_images.empty());
                } else if (record.u16CMD == 3841) {
                    Check(reply == hx::IPCOMM_SUCCESS_CMD && g_constructed.empty() && g_installs <= 1);
                } else {
                    CheckAnyConfiguration(record, reply);
                }
            }
            hx::IPComm_ResetTmpData();
            hx::IPComm_ResetUpgradeTransfer();
            shadows.clear();
            image = ImageShadow{};
            continue;
        }
        const hx::U8 sender = step[0] % 3;
        const hx::U16 command = kCommands[step[1] % 3];
        const hx::U32 index = step[2] % 5;
        const hx::U32 count = command == 3841 && (step[3] & 0x80) != 0 ? kRefusedImageCount : step[3] % 5;
        const hx::U32 dataLength = length % 1401;
        Bytes payload(dataLength, step[6]);
        hx::IPCommWire wire;
        Check(hx::IPComm_Build(command, payload.data(), dataLength, index, count, &wire, sender));
        const bool corrupt = (step[7] & 2) != 0;
        if (corrupt) {
            wire.bytes[step[6] % (wire.length - 4)] ^= 0x01;
        }
        const hx::U32 result = hx::IPComm_ParseData(wire.bytes.data(), static_cast<hx::S32>(wire.length), &record);
        if (result != 0) {
            const hx::U16 reply = Dispatch(record);
            Check(reply == hx::IPCOMM_DATA_ERROR && g_constructed.empty() && g_images.empty() && g_installs == 0);
            continue;
        }
        // Corruption that still parses (a padding byte) changes nothing the shadows see.
        if (command == 3841) {
            const hx::U16 reply = Dispatch(record);
            CheckImagePacket(image, record, reply);
            continue;
        }
        const Key key{record.u8SlotID, record.u16CMD};
        if (count > 1) {
            if (record.u32CurTansNum == 0) {
                shadows[key] = Shadow{0, Bytes(record.pu8Data.begin(), record.pu8Data.begin() + record.u32Length)};
            } else if (auto found = shadows.find(key); found != shadows.end() &&
                                                       found->second.lastIndex + 1 == record.u32CurTansNum &&
                                                       found->second.data.size() + record.u32Length <=
                                                           hx::kIPCommTmpDataSize) {
                found->second.data.insert(found->second.data.end(), record.pu8Data.begin(),
                                          record.pu8Data.begin() + record.u32Length);
                found->second.lastIndex = record.u32CurTansNum;
            }
            const hx::S32 slot = hx::IPComm_FindTmpData(record);
            Check((slot >= 0) == (shadows.count(key) != 0));
            if (slot >= 0) {
                const hx::ST_VK_IPCOMM_TMPData& joined = hx::g_IPComm_Tmpdata[static_cast<hx::U32>(slot)];
                const Shadow& shadow = shadows.at(key);
                Check(joined.u32Length <= hx::kIPCommTmpDataSize);
                Check(joined.u32curPacket == shadow.lastIndex);
                Check(Bytes(joined.pu8Data.begin(), joined.pu8Data.begin() + joined.u32Length) == shadow.data);
            }
        }
        const hx::U16 reply = Dispatch(record);
        Check(g_images.empty() && g_installs == 0);
        if (count == 0) {
            Check(reply == 0 && g_constructed.empty());
        } else if (count == 1) {
            CheckAnyConfiguration(record, reply);
        } else if (auto found = shadows.find(key); found == shadows.end()) {
            Check(reply == hx::IPCOMM_DATA_ERROR && g_constructed.empty());
        } else if (found->second.lastIndex != record.u32CurTansNum) {
            Check(reply == hx::IPCOMM_DATA_ERROR && g_constructed.empty());
            shadows.erase(found);
        } else if (found->second.lastIndex == count - 1) {
            // The whole message, once, in order; answered by whether it applied.
            const Bytes& joined = found->second.data;
            Check(g_constructed.size() == 1 && g_constructed[0].command == command && g_constructed[0].data == joined);
            const hx::U32 applied = ApplyResult(joined.data(), static_cast<hx::U16>(joined.size()));
            Check(reply == (applied == 0 ? hx::IPCOMM_SUCCESS_CMD : hx::IPCOMM_DATA_ERROR));
            shadows.erase(found);
        } else {
            Check(reply == hx::IPCOMM_SUCCESS_CMD && g_constructed.empty());
        }
        Check((hx::IPComm_FindTmpData(record) >= 0) == (shadows.count(key) != 0));
    }
    return 0;
}

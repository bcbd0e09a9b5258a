#include "chassis/ipcomm_dispatch.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "chassis/config_backup.h"
#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_messages.h"
#include "chassis/ipcomm_reassembly.h"
#include "chassis/upgrade.h"
#include "core/clock.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/input_messages.h"
#include "engine/mux_process.h"
#include "engine/slot_bookkeeping.h"
#include "platform/chassis_info.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "web/user_authority.h"

namespace hx {

namespace {

constexpr char kUpgradeFile[] = "/var/volatile/upgradefile";

struct ImageState {
    std::vector<U8> buffer;
    UpgradeTransfer state;
};
ImageState g_image;
IPCommDispatchHooks g_hooks;

U32 ConstructOutput(U8* data, IPCOMM_CMD command, U16 length) {
    return g_hooks.construct != nullptr ? g_hooks.construct(data, command, length)
                                        : TSP_ConstructOutputTS(data, command, length);
}

U32 ReceiveFile(const U8* image, U32 length) {
    return g_hooks.receiveFile != nullptr ? g_hooks.receiveFile(image, length) : upgrade_RecieveFile(image, length);
}

U32 UpgradeSystem(const char* fileName) {
    return g_hooks.upgradeSystem != nullptr ? g_hooks.upgradeSystem(fileName) : upgrade_UpgradeSystem(fileName);
}

bool IsConfigurationRecord(U16 command) {
    switch (command) {
        case IPCOMM_SEND_TS: case IPCOMM_SEND_PROGRAM: case IPCOMM_SEND_PID: case IPCOMM_DEL_TS:
        case IPCOMM_DEL_PROGRAM: case IPCOMM_CHANGE_PROGRAM: case IPCOMM_CHANGE_PID:
        case IPCOMM_PROG_SET_DESCRAMBLE: case IPCOMM_DEL_SCR: case IPCOMM_SEND_NIT_TABLE: case IPCOMM_DEL_PID:
        case IPCOMM_MONITOR_PID: case IPCOMM_SEND_DESCRIPTOR: case IPCOMM_DEL_DESCRIPTOR:
            return true;
        default:
            return false;
    }
}

// Text payloads end at the first zero byte and never run past the data.
std::string PayloadText(const ST_VK_IPCOMM& packet) {
    const U8* begin = packet.pu8Data.data();
    const U8* end = begin + std::min(packet.u32Length, kIPCommMaxData);
    return std::string(begin, std::find(begin, end, U8{0}));
}

void HandleConfiguration(S32 fd, ST_VK_IPCOMM& packet) {
    const auto command = static_cast<IPCOMM_CMD>(packet.u16CMD);
    if (packet.u32SumTansNum == 1) {
        ConstructOutput(packet.pu8Data.data(), command, static_cast<U16>(packet.u32Length));
        HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "u32Length : %u\n", packet.u32Length);
        IPComm_ResponseSuccess(fd);
        return;
    }
    if (packet.u32SumTansNum == 0) {
        return;
    }
    const S32 index = IPComm_FindTmpData(packet);
    if (index < 0) {
        IPComm_ResponseError(fd);
        return;
    }
    ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata[static_cast<U32>(index)];
    if (slot.u32curPacket != packet.u32CurTansNum) {
        IPComm_ResponseError(fd);
        IPComm_FreeTmpSlot(index);
        return;
    }
    if (slot.u32curPacket == packet.u32SumTansNum - 1) {
        const U32 length = slot.u32Length;
        const U32 result = ConstructOutput(slot.pu8Data.data(), command, static_cast<U16>(length));
        if (result != 0) {
            IPComm_ResponseError(fd);
        } else {
            IPComm_ResponseSuccess(fd);
            HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "u32Length : %u\n", length);
        }
        IPComm_FreeTmpSlot(index);
        return;
    }
    IPComm_ResponseSuccess(fd);
}

void DiscardImage() {
    g_image.buffer = {};
    g_image.state.hasBuffer = false;
    g_image.state.stored = 0;
    g_image.state.capacity = 0;
}

// An image whose count is 0, whose size would pass 64 MiB, whose packets
// change their count or do not fit is discarded like one with an index error:
// nothing unstored is ever handed on, and a lost image is not installed.
void HandleUpgradePacket(S32 fd, const ST_VK_IPCOMM& packet) {
    UpgradeTransfer& state = g_image.state;
    const U32 count = packet.u32SumTansNum;
    if (packet.u32CurTansNum == 0) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "##### Receive upgrade total packet %u\n", count);
        upgrade_BeginDelivery();
        DiscardImage();
        state.received = 0;
        state.expectedIndex = 0;
        state.packetCount = count;
        const std::uint64_t size = static_cast<std::uint64_t>(count) * kIPCommMaxData;
        if (count == 0 || size > kUpgradeImageLimit) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "##### upgrade image of %u packets refused\n", count);
        } else {
            try {
                g_image.buffer.assign(size, 0);
                state.hasBuffer = true;
                state.capacity = static_cast<U32>(size);
            } catch (const std::bad_alloc&) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "##### IPCOMM UPGRADE CMD malloc fail\n");
            }
        }
    }
    if (state.hasBuffer && count != state.packetCount) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "##### upgrade packet count changed %u -> %u\n", state.packetCount, count);
        DiscardImage();
    }
    if (state.hasBuffer) {
        if (state.stored + packet.u32Length <= state.capacity) {
            std::memcpy(g_image.buffer.data() + state.stored, packet.pu8Data.data(), packet.u32Length);
            state.stored += packet.u32Length;
        } else {
            DiscardImage();
        }
    }
    state.received += packet.u32Length;
    if (packet.u32CurTansNum != state.expectedIndex) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS,
               "##### IPCOMM_SEND_UPGRADE Receive packet index error sould rec %u, rec %u\n", state.expectedIndex,
               packet.u32CurTansNum);
        DiscardImage();
    }
    state.expectedIndex += 1;
    IPComm_ResponseSuccess(fd);
    if (count != 0 && packet.u32CurTansNum == count - 1) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "##### Receive upgrade file finish\n");
        if (state.hasBuffer) {
            // A file that could not be written is not installed: it may hold
            // an earlier image.
            if (ReceiveFile(g_image.buffer.data(), state.stored) == VK_SUCCESS) {
                UpgradeSystem(kUpgradeFile);
            }
        } else {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "##### upgrade image lost, not installed\n");
        }
        DiscardImage();
        state.expectedIndex = 0;
    }
}

void HandleFtpUpgrade(S32 fd, const ST_VK_IPCOMM& packet) {
    // Bytes 0-3, most significant first; missing bytes count as zero.
    std::array<U8, 4> sizeBytes{};
    std::copy_n(packet.pu8Data.begin(), std::min<U32>(packet.u32Length, 4), sizeBytes.begin());
    const U32 size = GetBe32(sizeBytes.data());
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Upgrade file size: %u\n", size);
    IPComm_ResponseSuccess(fd);
    upgrade_FTPUpgradeMode();
    SubUpgrade_TimeoutStart();
    const TResource_TS* self = Resource_GetHandle(Status_GetSlotID());
    const bool skip =
        UpgradeProFlag_Get().u8CurUpgradeProFlag == upgrade_fail && self != nullptr && self->u8FTPUpgrade > 1;
    if (!skip) {
        UpgradeSystem(kUpgradeFile);
    }
    g_isFtpUpgrading = 0;
}

}  // namespace

UpgradeTransfer IPComm_UpgradeTransferState() { return g_image.state; }

void IPComm_ResetUpgradeTransfer() { g_image = ImageState{}; }

void IPComm_SetDispatchHooks(const IPCommDispatchHooks& hooks) { g_hooks = hooks; }

void IPComm_Response(S32 connect_fd, ST_VK_IPCOMM* pstIPComm) {
    if (pstIPComm == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Param NULL\n");
        return;
    }
    ST_VK_IPCOMM& packet = *pstIPComm;
    const U32 sender = packet.u8SlotID;
    const U16 command = packet.u16CMD;
    if (IsConfigurationRecord(command)) {
        HandleConfiguration(connect_fd, packet);
    } else {
        switch (command) {
            case IPCOMM_SEND_RESOUR: {
                // A short record would be stored padded with zeros, and one
                // naming a slot above 16 has no record to go to: both are
                // refused whole. Bytes beyond the record are not used.
                const U8 recordSlot = packet.pu8Data[offsetof(TResource_TS, u8SlotID)];
                if (packet.u32Length < kResourceSize || recordSlot >= kResourceRecords) {
                    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Resource of %u bytes for slot %u refused\n",
                           packet.u32Length, recordSlot);
                    IPComm_ResponseError(connect_fd);
                    break;
                }
                // Acknowledged whatever the record does (a sender other than
                // the back board is ignored there).
                Resource_SetSlotResource(sender, packet.pu8Data.data(), kResourceSize);
                IPComm_ResponseSuccess(connect_fd);
                break;
            }
            case IPCOMM_SEND_DATA:
                IPComm_ResponseSuccess(connect_fd);
                break;
            case IPCOMM_SEND_OVER:
                TSP_UpdateResourceInfo();
                IPComm_ResponseSuccess(connect_fd);
                break;
            case IPCOMM_CLEAR_INPUT:
                ClearOneSlotInfoFromInput(static_cast<U8>(sender));
                IPComm_ResponseSuccess(connect_fd);
                break;
            case IPCOMM_SEND_TSP_MUX_PROCESS: {
                TSP_MuxProcess();
                IPComm_ResponseSuccess(connect_fd);
                U8 pending = g_DelDestChannelNum.load();
                while (pending > 0 && !g_DelDestChannelNum.compare_exchange_weak(pending, pending - 1)) {
                }
                IPComm_SendEITInfo();
                break;
            }
            case IPCOMM_SEND_EITINFO:
                IPComm_SendEITInfo();
                IPComm_ResponseSuccess(connect_fd);
                break;
            case IPCOMM_SEND_SUBPLUGFLAG:
                if (packet.u32Length < 2) {
                    IPComm_ResponseError(connect_fd);
                    break;
                }
                HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Get subplugflag 0x%02x\n", GetLe16(packet.pu8Data.data()));
                Status_SetSubBoardPlugStatus(GetLe16(packet.pu8Data.data()));
                IPComm_ResponseSuccess(connect_fd);
                break;
            case IPCOMM_SEND_IP:
                if (packet.u32Length < 16) {
                    IPComm_ResponseError(connect_fd);
                    break;
                }
                IPComm_ResponseSuccess(connect_fd);
                IPComm_ChangeIP(sender, packet.pu8Data.data());
                break;
            case IPCOMM_SEND_BACKUPPARA:
                HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "start to import the conf file\n");
                IPComm_ResponseSuccess(connect_fd);
                IPComm_GetAndSetParam();
                break;
            case IPCOMM_SEND_EXPORTPARA:
                IPComm_ResponseSuccess(connect_fd);
                FTP_SendBackUpPara();
                break;
            case IPCOMM_USER_AUTHORITY_CONFIG: {
                HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "start to user authorization management\n");
                const std::string text = PayloadText(packet);
                VKUser_RecvUserAuthority(text.c_str(), static_cast<U32>(text.size()));
                IPComm_ResponseSuccess(connect_fd);
                break;
            }
            case IPCOMM_SEND_UPGRADE:
                HandleUpgradePacket(connect_fd, packet);
                break;
            case IPCOMM_REQ_REBOOT:
                IPComm_ResponseSuccess(connect_fd);
                TheClock().SleepMicros(5'000'000);
                IPComm_RecycleBeforeReboot();
                IPComm_RebootSubboard();
                break;
            case IPCOMM_FTP_UPGRADE:
                HandleFtpUpgrade(connect_fd, packet);
                break;
            case IPCOMM_SEND_IPERF3_TO_SUBB: {
                HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_SYS, "start to test the network quality\n");
                const std::string text = PayloadText(packet);
                NetWorkQualityTest(reinterpret_cast<const U8*>(text.c_str()));
                IPComm_ResponseSuccess(connect_fd);
                break;
            }
            default:
                IPComm_ResponseError(connect_fd);
                break;
        }
    }
    IPComm_ClearTmpData(packet);
}

}  // namespace hx

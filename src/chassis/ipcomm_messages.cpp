#include "chassis/ipcomm_messages.h"

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "chassis/eit_list.h"
#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/upgrade.h"
#include "core/clock.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "core/thread_util.h"
#include "engine/model_lock.h"
#include "platform/fpga_net.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "platform/uart_comm.h"

namespace hx {

namespace {

constexpr std::uint64_t kSecond = 1'000'000;
constexpr U32 kRebootAttempts = 3;
constexpr int kUbiDevice = 8;

// Sends until success, 21 sends at most, sleeping 1 s after each repeat; the
// last error goes to the back board over the serial line. A send that is no
// longer wanted (a newer announcement took its place) is not repeated.
void SendWithRepeats(U32 address, U32 command, const U8* data, U32 length, const char* failText,
                     const std::function<bool()>& stillWanted = [] { return true; }) {
    S32 result = IPComm_SendData(address, command, data, length);
    U32 sends = 1;
    while (result != 0) {
        if (!stillWanted()) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "%s:0x%x superseded\n", failText, address);
            return;
        }
        if (sends >= kAnnounceSends) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "%s:0x%x Fail\n\n", failText, address);
            if (command == IPCOMM_SEND_PROCESS_UPGRADE) {
                UpgradeProFlag_SetCommStatus(0);
            }
            UartComm_SendErrorCodeToBB(static_cast<U32>(result));
            return;
        }
        result = IPComm_SendData(address, command, data, length);
        ++sends;
        TheClock().SleepMicros(kSecond);
    }
}

void AnnounceRecord(U32 address, const ResourceBytes& record,
                    const std::function<bool()>& stillWanted = [] { return true; }) {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Send Resource To BackBoard:0x%x\n", address);
    SendWithRepeats(address, IPCOMM_SEND_RESOUR, record.data(), static_cast<U32>(record.size()),
                    "Send Resource To BackBoard", stillWanted);
}

void AnnounceResource(U32 address) { AnnounceRecord(address, Resource_Serialize(*Resource_getSelfHandle())); }

// The announcement that follows new network settings (514): a pause of a
// second, then up to 21 sends to the back board just named, each with its
// attempts. It runs in a worker thread of its own, so a back board that
// accepts and never answers holds that worker, not the inter-board server.
// The latest request wins: a running announcement stops before its next send
// once a newer one (or a cancel) is asked for, and the newer one follows.
//
// The record is taken when the request is made, in the requesting thread:
// the worker never reads the live resource records.
struct Announcement {
    U32 address;
    ResourceBytes record;
};

class Announcer {
public:
    void Request(std::optional<Announcement> next) {
        std::unique_lock lock(mutex_);
        if (!next && !started_) {
            return;  // nothing runs, nothing to cancel
        }
        ++requested_;
        next_ = std::move(next);
        changed_.notify_all();
        if (started_) {
            return;
        }
        started_ = true;
        if (const int error = Thread_StartDetached(&Announcer::Entry, this); error != 0) {
            // No worker: this request is announced in the caller's thread, as
            // before there was one.
            started_ = false;
            finished_ = requested_;
            const Announcement now = *next_;
            lock.unlock();
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Announcement thread create error :%s(errno: %d)\n",
                   std::strerror(error), error);
            TheClock().SleepMicros(kSecond);
            AnnounceRecord(now.address, now.record);
        }
    }

    void WaitIdle() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_ == requested_; });
    }

private:
    static void* Entry(void* self) {
        static_cast<Announcer*>(self)->Run();
        return nullptr;
    }

    bool Current(std::uint64_t generation) {
        std::lock_guard lock(mutex_);
        return generation == requested_;
    }

    void Run() {
        for (;;) {
            std::uint64_t generation = 0;
            std::optional<Announcement> job;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return finished_ != requested_; });
                generation = requested_;
                job = next_;
            }
            if (job) {
                TheClock().SleepMicros(kSecond);
                if (Current(generation)) {
                    AnnounceRecord(job->address, job->record, [&] { return Current(generation); });
                }
            }
            std::lock_guard lock(mutex_);
            finished_ = generation;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t requested_ = 0;
    std::uint64_t finished_ = 0;
    std::optional<Announcement> next_;
    bool started_ = false;
};

// Never destroyed: its worker waits on it for the life of the process.
Announcer& TheAnnouncer() {
    static auto* announcer = new Announcer();
    return *announcer;
}

}  // namespace

U32 IPComm_SendResourceToBb() {
    U32 address = Resource_getBoardIPAddress(kBackBoardSlot);
    if (Status_GetIPReqflag() != 1) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "BackBoard ip:0x%x,so Last get Ip by uart\n", address);
        if (UartComm_GetIpAddr(Status_GetSlotID()) == 0) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Last get Ip by uart\n");
            address = Resource_getBoardIPAddress(kBackBoardSlot);
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Last get backboard Ip 0x%x by uart\n", address);
            FPGA_Set_IP0();
        } else {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "uart last get backboard IP fail\n");
        }
    }
    AnnounceResource(address);
    return VK_SUCCESS;
}

U32 IPComm_SendEITInfo() {
    HX_MODEL_LOCK_FORBIDDEN();
    // Built under the model lock, sent after it is released: a slow or silent
    // EIT board must not hold the model.
    const std::vector<U8> message = EIT_Message(EIT_BuildList());
    const U8 eitSlot = Resource_GetEITBoardSlot();
    if (eitSlot == kNoEitBoardSlot) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Resource_GetEITBoardSlot error, EIT board is not exist.\n");
        return VK_SUCCESS;
    }
    S32 result = IPComm_SendData2Slot(eitSlot, IPCOMM_SEND_EITINFO, message.data(), static_cast<U32>(message.size()));
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IPComm_SendData2Slot error[0x%x]\n", result);
        return static_cast<U32>(result);
    }
    result = IPComm_SendCmd2Slot(eitSlot, IPCOMM_SEND_EITINFO_OVER);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IPComm_SendCmd2Slot error[0x%x]\n", result);
    }
    return static_cast<U32>(result);
}

U32 IPComm_SendUpProFlagToBackBoard(U8* OldFlag) { return IPComm_SendUpProFlagToBackBoard(OldFlag, UpgradeProFlag_Get()); }

U32 IPComm_SendUpProFlagToBackBoard(U8* OldFlag, const st_VK_UPGRADE& record) {
    if (OldFlag == nullptr || *OldFlag == record.u8CurUpgradeProFlag) {
        return VK_SUCCESS;
    }
    *OldFlag = record.u8CurUpgradeProFlag;
    const U32 address = Resource_getBoardIPAddress(kBackBoardSlot);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_UPGRADE, "Start Send PROCESS UPGRADE To BackBoard:0x%x\n", address);
    const auto bytes = Upgrade_Serialize(record);
    SendWithRepeats(address, IPCOMM_SEND_PROCESS_UPGRADE, bytes.data(), kUpgradeRecordSize,
                    "Send PROCESS UPGRADE To BackBoard");
    return VK_SUCCESS;
}

U32 IPComm_ChangeIP(U32 u32slot, const U8* pu8Data) {
    if (pu8Data == nullptr || u32slot != kBackBoardSlot) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Para Error u32slot[%u]...\n", u32slot);
        return VK_ERR_FAILURE;
    }
    const U32 backBoard = GetLe32(pu8Data);
    const U32 self = GetLe32(pu8Data + 4);
    const U32 netmask = GetLe32(pu8Data + 8);
    if (!IPconfig_IsValidSettings(backBoard, self, netmask)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Network settings refused: back board %s own %s mask %s\n",
               Network_AddressText(backBoard).c_str(), Network_AddressText(self).c_str(),
               Network_AddressText(netmask).c_str());
        return VK_ERR_FAILURE;
    }
    Resource_SetBackBoardIpAddr(backBoard);
    IPconfig_SetIP(self);
    FPGA_Set_IP0();
    IPconfig_SetLocalMask(netmask);
    IPconfig_SetDefaultGate(GetLe32(pu8Data + 12));
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "u32BBIPAddr[0x%x],u32SelfIPAddr[0x%x]\n", backBoard, self);
    // The back board has just given the settings: asking it again over the
    // serial line could only bring the fallback addresses back when the line
    // is down, undoing what this message set.
    TheAnnouncer().Request(Announcement{backBoard, Resource_Serialize(*Resource_getSelfHandle())});
    return VK_SUCCESS;
}

void IPComm_CancelAnnouncement() { TheAnnouncer().Request(std::nullopt); }

void IPComm_WaitAnnouncement() { TheAnnouncer().WaitIdle(); }

S32 IPComm_SendClearCmd2Slot(U8 u8Slot) { return IPComm_SendCmd2Slot(u8Slot, IPCOMM_CLEAR_OUTPUT); }

U32 IPComm_SendRebootSubCmd() {
    const U32 address = Resource_getBoardIPAddress(kBackBoardSlot);
    for (U32 attempt = 0; attempt < kRebootAttempts; ++attempt) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Start Reboot Subboard...\n");
        U16 reply = 0;
        const IPCommExchange outcome =
            IPComm_ExchangeOnce(address, Profile().interBoardPort, static_cast<U8>(Status_GetSlotID()),
                                IPCOMM_REQ_REBOOT, nullptr, 0, 0, 1, &reply);
        if (outcome == IPCommExchange::NoSocket) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication socket open failed!\n");
            return VK_ERR_SOCKET_OPEN_FAIL;
        }
        if (outcome == IPCommExchange::Refused) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "IP communication socket connect failed!\n");
            return VK_ERR_SOCKET_CONNECT_FAIL;
        }
        if (outcome == IPCommExchange::Success) {
            return VK_SUCCESS;
        }
    }
    return VK_ERR_FAILURE;
}

void IPComm_RecycleBeforeReboot() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "End logging and umount data before reboot\n");
    log_DeInit();
    // One argument vector for "kill -9 $(pidof syslogd)": no shell needed.
    Command_Run(Command{{"killall", "-9", "syslogd"}, std::nullopt});
    Command_Run(Command{{"sync"}, std::nullopt});
    TheClock().SleepMicros(kSecond);
    Command_Run(Command{{"sync"}, std::nullopt});
    Command_Run(Command{{"umount", "/vandik_data"}, std::nullopt});
    Command_Run(Command{{"ubidetach", "-m", std::to_string(kUbiDevice)}, std::nullopt});
    TheClock().SleepMicros(kSecond);
}

U32 IPComm_RebootSubboard() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Call system reboot\n");
    Command_Run(Command{{"reboot"}, std::nullopt});
    return VK_SUCCESS;
}

U32 BMN_SubBoardReboot() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_HW, "********Reboot******\n");
    if (const U32 result = IPComm_SendRebootSubCmd(); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "IPComm_SendRebootSubCmd error,enErrCode[%u]\n", result);
        return result;
    }
    IPComm_RecycleBeforeReboot();
    if (const U32 result = IPComm_RebootSubboard(); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_HW, "IPComm_RebootSubboard error,enErrCode[%u]\n", result);
        return result;
    }
    return VK_SUCCESS;
}

}  // namespace hx

#include "chassis/ipcomm_client.h"

#include <unistd.h>

#include <algorithm>

#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_socket.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U32 kNoAddress = 0xFFFFFFFFu;

bool MayConnect(U32 address) {
    if (address == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "IP communication refused address 0x%x\n", address);
        return false;
    }
    if (Profile().backend == HardwareBackend::Sim && (address >> 24) != 127) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "IP communication refused address 0x%x outside loopback\n", address);
        return false;
    }
    return true;
}

void WritePacket(S32 fd, U8 slot, U16 command, const U8* data, U32 length, U32 index, U32 count, U32 timeoutMs) {
    IPCommWire wire;
    if (IPComm_Build(command, data, length, index, count, &wire, slot)) {
        IPComm_WriteBlock(fd, std::span(wire.bytes.data(), wire.length), timeoutMs);
    }
}

// One attempt: 0 for a success reply, 1 for a failed attempt, or the code that
// ends the whole call (1538, 1539).
S32 Attempt(U32 address, U16 command, const U8* data, U32 length, U32 index, U32 count) {
    U16 reply = 0;
    switch (IPComm_ExchangeOnce(address, Profile().interBoardPort, static_cast<U8>(Status_GetSlotID()), command, data,
                                length, index, count, &reply)) {
        case IPCommExchange::Success:
            return 0;
        case IPCommExchange::NoSocket:
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication socket open failed!\n");
            return VK_ERR_SOCKET_OPEN_FAIL;
        case IPCommExchange::Refused:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "IP communication socket connect failed!\n");
            return VK_ERR_SOCKET_CONNECT_FAIL;
        default:
            return 1;
    }
}

S32 SendPackets(U32 address, U32 command, const U8* data, U32 length) {
    if (!MayConnect(address)) {
        return VK_ERR_SOCKET_CONNECT_FAIL;
    }
    const U32 count = length == 0 ? 1 : (length + kIPCommMaxData - 1) / kIPCommMaxData;
    U32 failures = 0;
    for (U32 index = 0; index < count; ++index) {
        const U32 offset = index * kIPCommMaxData;
        const U32 size = std::min(kIPCommMaxData, length - std::min(length, offset));
        for (;;) {
            const S32 result = Attempt(address, static_cast<U16>(command), data == nullptr ? nullptr : data + offset,
                                       size, index, count);
            if (result == 0) {
                break;
            }
            if (result != 1) {
                return result;
            }
            if (++failures >= kIPCommMaxFailedAttempts) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication to 0x%x command %u failed %u times\n", address,
                       command, failures);
                return VK_ERR_IPCOMM_TIME_OUT;
            }
        }
    }
    return VK_SUCCESS;
}

U32 SlotAddress(U32 slot) { return slot > 16 ? kNoAddress : Resource_getBoardIPAddress(slot); }

}  // namespace

IPCommExchange IPComm_ExchangeOnce(U32 u32IpAddr, U16 port, U8 u8FromSlot, U16 u16Cmd, const U8* u8Data,
                                   U32 u32DataLen, U32 u32CurTansNum, U32 u32SumTansNum, U16* replyCommand) {
    if (!MayConnect(u32IpAddr)) {
        return IPCommExchange::Refused;
    }
    S32 fd = -1;
    if (socketC_open(&fd) != VK_SOCKETC_SUCCESS) {
        return IPCommExchange::NoSocket;
    }
    if (socketC_connect(fd, u32IpAddr, port) != VK_SOCKETC_SUCCESS) {
        close(fd);
        return IPCommExchange::Refused;
    }
    WritePacket(fd, u8FromSlot, u16Cmd, u8Data, u32DataLen, u32CurTansNum, u32SumTansNum,
                Profile().interBoardServerTimeoutMs);
    bool timedOut = false;
    const std::vector<U8> block = IPComm_ReceiveBlock(fd, Profile().interBoardReplyTimeoutMs, &timedOut);
    close(fd);
    ST_VK_IPCOMM reply;
    const U8 nothing = 0;
    // A reply is one packet; it is never joined with anything, so a client in
    // any thread leaves the server's reassembly store alone.
    const U32 parsed =
        IPComm_ParsePacket(block.empty() ? &nothing : block.data(), static_cast<S32>(block.size()), &reply);
    if (replyCommand != nullptr) {
        *replyCommand = reply.u16CMD;
    }
    if (block.empty()) {
        return timedOut ? IPCommExchange::TimedOut : IPCommExchange::Closed;
    }
    if (parsed != VK_SUCCESS) {
        return IPComm_ExpectedLength(block) == 0 || block.size() < IPComm_ExpectedLength(block)
                   ? IPCommExchange::TimedOut
                   : IPCommExchange::BadReply;
    }
    return reply.u16CMD == IPCOMM_SUCCESS_CMD ? IPCommExchange::Success : IPCommExchange::ErrorReply;
}

void IPComm_SendTo(S32 connect_fd, U16 ipCmd, const U8* u8Data, U32 u32DataLen, U32 u32CurTansNum,
                   U32 u32SumTansNum) {
    WritePacket(connect_fd, static_cast<U8>(Status_GetSlotID()), ipCmd, u8Data, u32DataLen, u32CurTansNum,
                u32SumTansNum, Profile().interBoardServerTimeoutMs);
}

void IPComm_ResponseSuccess(S32 connect_fd) { IPComm_SendTo(connect_fd, IPCOMM_SUCCESS_CMD, nullptr, 0, 0, 1); }

void IPComm_ResponseError(S32 connect_fd) { IPComm_SendTo(connect_fd, IPCOMM_DATA_ERROR, nullptr, 0, 0, 1); }

S32 IPComm_SendCmd(U32 u32IpAddr, U32 u32cmd) { return SendPackets(u32IpAddr, u32cmd, nullptr, 0); }

S32 IPComm_SendData(U32 u32IpAddr, U32 u32cmd, const U8* u8Data, U32 u32DataLen) {
    if (u8Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Param NULL\n");
        return VK_ERR_PARAMS;
    }
    if (u32DataLen == 0) {
        return VK_SUCCESS;
    }
    return SendPackets(u32IpAddr, u32cmd, u8Data, u32DataLen);
}

S32 IPComm_SendCmd2Slot(U32 u32Slot, U32 u32cmd) {
    const U32 address = SlotAddress(u32Slot);
    if (address == kNoAddress) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication to slot %u refused\n", u32Slot);
        return VK_ERR_SOCKET_CONNECT_FAIL;
    }
    return IPComm_SendCmd(address, u32cmd);
}

S32 IPComm_SendData2Slot(U32 u32Slot, U32 u32cmd, const U8* u8Data, U32 u32DataLen) {
    if (u8Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Param NULL\n");
        return VK_ERR_PARAMS;
    }
    const U32 address = SlotAddress(u32Slot);
    if (address == kNoAddress) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "IP communication to slot %u refused\n", u32Slot);
        return VK_ERR_SOCKET_CONNECT_FAIL;
    }
    return IPComm_SendData(address, u32cmd, u8Data, u32DataLen);
}

}  // namespace hx

#include "chassis/ipcomm_reassembly.h"

#include <cstring>

#include "core/clock.h"
#include "core/err.h"
#include "core/log.h"

namespace hx {

std::array<ST_VK_IPCOMM_TMPData, kIPCommTmpSlots> g_IPComm_Tmpdata{};

namespace {

bool SameMessage(const ST_VK_IPCOMM_TMPData& slot, const ST_VK_IPCOMM& packet) {
    return slot.u8OccupyFlag == 1 && slot.u16CMD == packet.u16CMD && slot.u8SlotID == packet.u8SlotID;
}

S32 FreeSlotForPacketZero(const ST_VK_IPCOMM& packet, std::uint64_t now) {
    // A new packet 0 abandons the partial of the same sender and command.
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        if (SameMessage(g_IPComm_Tmpdata[i], packet)) {
            return static_cast<S32>(i);
        }
    }
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        if (g_IPComm_Tmpdata[i].u8OccupyFlag == 0) {
            return static_cast<S32>(i);
        }
    }
    // Full: the longest-idle partial goes, if it has been idle long enough.
    S32 oldest = -1;
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        const std::uint64_t touched = g_IPComm_Tmpdata[i].u64LastTouchMicros;
        if (now - touched >= kIPCommTmpIdleMicros &&
            (oldest < 0 || touched < g_IPComm_Tmpdata[static_cast<U32>(oldest)].u64LastTouchMicros)) {
            oldest = static_cast<S32>(i);
        }
    }
    if (oldest >= 0) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data slot[%d] idle, dropped\n", oldest);
    }
    return oldest;
}

}  // namespace

U32 IPComm_CombinePack(const ST_VK_IPCOMM* pstIPComm) {
    if (pstIPComm == nullptr) {
        return VK_ERR_PARAMS;
    }
    const ST_VK_IPCOMM& packet = *pstIPComm;
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        if (g_IPComm_Tmpdata[i].u8OccupyFlag == 1) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data cnt[%u] is occupied!\n", i);
        }
    }
    const std::uint64_t now = TheClock().MonotonicMicros();
    if (packet.u32CurTansNum == 0) {
        const S32 index = FreeSlotForPacketZero(packet, now);
        if (index < 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Temp data is full!\n");
            return VK_ERR_COMM_IP_TEMP_FULL;
        }
        ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata[static_cast<U32>(index)];
        slot = ST_VK_IPCOMM_TMPData{};
        slot.u8OccupyFlag = 1;
        slot.u8SlotID = packet.u8SlotID;
        slot.u16CMD = packet.u16CMD;
        slot.u32curPacket = 0;
        slot.u32Length = packet.u32Length;
        slot.u64LastTouchMicros = now;
        std::memcpy(slot.pu8Data.data(), packet.pu8Data.data(), packet.u32Length);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data combine %d success!\n", index);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data len = %u\n", packet.u32Length);
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS,
               "cnt = %d, u8OccupyFlag = %d, u16CMD = %d, u8SlotID = %d, u32curPacket = %u\n", index,
               slot.u8OccupyFlag, slot.u16CMD, slot.u8SlotID, slot.u32curPacket);
        return VK_SUCCESS;
    }
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata[i];
        if (SameMessage(slot, packet) && slot.u32curPacket + 1 == packet.u32CurTansNum &&
            slot.u32Length + packet.u32Length <= kIPCommTmpDataSize) {
            std::memcpy(slot.pu8Data.data() + slot.u32Length, packet.pu8Data.data(), packet.u32Length);
            slot.u32Length += packet.u32Length;
            slot.u32curPacket = packet.u32CurTansNum;
            slot.u64LastTouchMicros = now;
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data combine %u success!\n", i);
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Temp data len = %u\n", packet.u32Length);
            return VK_SUCCESS;
        }
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Temp data is not exist!\n");
    return VK_ERR_COMM_IP_TEMP_FULL;
}

S32 IPComm_FindTmpData(const ST_VK_IPCOMM& stIPComm) {
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        if (SameMessage(g_IPComm_Tmpdata[i], stIPComm)) {
            return static_cast<S32>(i);
        }
    }
    return -1;
}

void IPComm_ClearTmpData(const ST_VK_IPCOMM& stIPComm) {
    if (stIPComm.u32SumTansNum <= 1) {
        return;
    }
    for (U32 i = 0; i < kIPCommTmpSlots; ++i) {
        ST_VK_IPCOMM_TMPData& slot = g_IPComm_Tmpdata[i];
        if (SameMessage(slot, stIPComm) && slot.u32curPacket == stIPComm.u32SumTansNum - 1) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Clear temp data slot[%d] cmd[0x%x] cnt[%u]\n", slot.u8SlotID,
                   slot.u16CMD, i);
            slot = ST_VK_IPCOMM_TMPData{};
            return;
        }
    }
}

void IPComm_FreeTmpSlot(S32 index) {
    if (index >= 0 && static_cast<U32>(index) < kIPCommTmpSlots) {
        g_IPComm_Tmpdata[static_cast<U32>(index)] = ST_VK_IPCOMM_TMPData{};
    }
}

void IPComm_ResetTmpData() {
    for (ST_VK_IPCOMM_TMPData& slot : g_IPComm_Tmpdata) {
        slot = ST_VK_IPCOMM_TMPData{};
    }
}

}  // namespace hx

// Reassembly store of the inter-board receiver: the packets of a message longer
// than one packet are joined here, keyed by (sender slot, command), in a table
// of 15 slots of at most 5,120 bytes each.
//
// Touched only by the inter-board server thread (parsing and dispatching run
// there), so it has no lock. A packet 0 replaces any partial message of the same
// sender and command, so a stale partial is never spliced into a new message;
// when a packet 0 finds the table full, partials idle for 30 s (on TheClock())
// are dropped to make room.
#pragma once

#include <array>
#include <cstdint>

#include "chassis/ipcomm_packet.h"
#include "core/types.h"

namespace hx {

constexpr U32 kIPCommTmpSlots = 15;
constexpr U32 kIPCommTmpDataSize = 5120;
constexpr std::uint64_t kIPCommTmpIdleMicros = 30'000'000;

struct ST_VK_IPCOMM_TMPData {
    U8 u8OccupyFlag = 0;
    U8 u8SlotID = 0;
    U16 u16CMD = 0;
    U32 u32curPacket = 0;
    U32 u32Length = 0;
    std::array<U8, kIPCommTmpDataSize> pu8Data{};
    std::uint64_t u64LastTouchMicros = 0;  // when a packet last joined
};

extern std::array<ST_VK_IPCOMM_TMPData, kIPCommTmpSlots> g_IPComm_Tmpdata;

U32 IPComm_CombinePack(const ST_VK_IPCOMM* pstIPComm);
S32 IPComm_FindTmpData(const ST_VK_IPCOMM& stIPComm);
void IPComm_ClearTmpData(const ST_VK_IPCOMM& stIPComm);
// Frees one slot by index (the dispatcher's out-of-order and last-packet paths).
void IPComm_FreeTmpSlot(S32 index);
// Empties the whole table (tests, and the fuzz target between inputs).
void IPComm_ResetTmpData();

}  // namespace hx

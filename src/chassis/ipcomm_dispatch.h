// Inter-board command dispatcher: what the board does with one received packet.
// Exactly one bare reply per packet (none for a configuration packet of count
// 0), sent before or after the action as each command requires; the call
// always ends by freeing the reassembly slot of a completed message.
//
// Runs only in the inter-board server thread. The firmware-image state below
// is the dispatcher's own and is touched by that thread alone.
#pragma once

#include "chassis/ipcomm_packet.h"
#include "core/types.h"

namespace hx {

void IPComm_Response(S32 connect_fd, ST_VK_IPCOMM* pstIPComm);

constexpr U32 kUpgradeImageLimit = 64u * 1024 * 1024;

// Firmware transfer state (tests and the fuzz target read it).
struct UpgradeTransfer {
    bool hasBuffer = false;
    U32 received = 0;        // image bytes received (stored or not)
    U32 stored = 0;          // image bytes stored in the buffer
    U32 expectedIndex = 0;
    U32 packetCount = 0;     // packet 0's count
    U32 capacity = 0;
};
UpgradeTransfer IPComm_UpgradeTransferState();
void IPComm_ResetUpgradeTransfer();

// Where a configuration message and a received firmware image are handed on.
// A null member means the real handler (TSP_ConstructOutputTS,
// upgrade_RecieveFile, upgrade_UpgradeSystem); tests and the fuzz target put
// recorders in their place, and IPComm_SetDispatchHooks({}) restores them.
// Set only while no packet is being dispatched.
struct IPCommDispatchHooks {
    U32 (*construct)(U8* data, IPCOMM_CMD command, U16 length) = nullptr;
    U32 (*receiveFile)(const U8* image, U32 length) = nullptr;
    U32 (*upgradeSystem)(const char* fileName) = nullptr;
};
void IPComm_SetDispatchHooks(const IPCommDispatchHooks& hooks);

}  // namespace hx

// The input format of the input-message fuzz target, shared with the tool that
// writes its seed corpus (tools/input_message_seeds.cpp).
//
// An input is a flags byte (bit 0 ATSC mode, bit 1 source cards that do not
// mux PIDs), then messages: a selector byte (an index into kSelectors, taken
// modulo its size), a little-endian u16 length and the payload.
#pragma once

#include <cstddef>
#include <vector>

#include "chassis/ipcomm_packet.h"
#include "core/types.h"

namespace hx::fuzz {

constexpr U8 kFlagAtsc = 1;
constexpr U8 kFlagNoPidMux = 2;

// The two pass-through operations, which have no command code.
constexpr U32 kAddBypass = 0x10000;
constexpr U32 kDelBypass = 0x10001;

// The 14 configuration commands, two codes the entry does not know, and the
// pass-through operations.
constexpr U32 kSelectors[] = {
    IPCOMM_SEND_TS,         IPCOMM_SEND_PROGRAM,   IPCOMM_SEND_PID,    IPCOMM_DEL_TS,
    IPCOMM_DEL_PROGRAM,     IPCOMM_CHANGE_PROGRAM, IPCOMM_CHANGE_PID,  IPCOMM_PROG_SET_DESCRAMBLE,
    IPCOMM_DEL_SCR,         IPCOMM_SEND_NIT_TABLE, IPCOMM_DEL_PID,     IPCOMM_MONITOR_PID,
    IPCOMM_SEND_DESCRIPTOR, IPCOMM_DEL_DESCRIPTOR, 272,                IPCOMM_SEND_UPGRADE,
    kAddBypass,             kDelBypass,
};

// Appends one message for `command` (one of kSelectors) to an input.
inline void AppendMessage(std::vector<U8>& input, U32 command, const std::vector<U8>& payload) {
    U8 selector = 0;
    for (std::size_t i = 0; i < std::size(kSelectors); ++i) {
        if (kSelectors[i] == command) {
            selector = static_cast<U8>(i);
        }
    }
    input.push_back(selector);
    input.push_back(static_cast<U8>(payload.size()));
    input.push_back(static_cast<U8>(payload.size() >> 8));
    input.insert(input.end(), payload.begin(), payload.end());
}

}  // namespace hx::fuzz

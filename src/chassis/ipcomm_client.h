// Client side of the inter-board link: one TCP connection per packet, one reply
// packet per connection. Callable from any thread at once; all state is on the
// caller's stack.
//
// Attempt rule: failed attempts are counted over the whole call; the third one
// ends it with 1540 (a success after fewer failures counts). A socket that
// cannot be opened (1538) or a connection that fails (1539) ends the call at
// once. Slots above 16, address 0 (which Linux routes back to this board) and,
// on a PC, addresses outside 127.0.0.0/8 are never connected to (1539).
#pragma once

#include "core/types.h"

namespace hx {

constexpr U32 kIPCommMaxFailedAttempts = 3;

S32 IPComm_SendCmd(U32 u32IpAddr, U32 u32cmd);
S32 IPComm_SendData(U32 u32IpAddr, U32 u32cmd, const U8* u8Data, U32 u32DataLen);
S32 IPComm_SendCmd2Slot(U32 u32Slot, U32 u32cmd);
S32 IPComm_SendData2Slot(U32 u32Slot, U32 u32cmd, const U8* u8Data, U32 u32DataLen);

// Builds one packet (own slot number) and writes it to a connected socket.
void IPComm_SendTo(S32 connect_fd, U16 ipCmd, const U8* u8Data, U32 u32DataLen, U32 u32CurTansNum,
                   U32 u32SumTansNum);
void IPComm_ResponseSuccess(S32 connect_fd);
void IPComm_ResponseError(S32 connect_fd);

// The outcome of one exchange, for tools that report it.
enum class IPCommExchange { Success, ErrorReply, Closed, TimedOut, BadReply, Refused, NoSocket };
// One exchange, no retries: connect to `u32IpAddr`:`port`, send the packet as
// slot `u8FromSlot`, read the reply (its command in `*replyCommand`). An
// address that must not be contacted (see above) is Refused without a socket.
IPCommExchange IPComm_ExchangeOnce(U32 u32IpAddr, U16 port, U8 u8FromSlot, U16 u16Cmd, const U8* u8Data,
                                   U32 u32DataLen, U32 u32CurTansNum, U32 u32SumTansNum, U16* replyCommand);

}  // namespace hx

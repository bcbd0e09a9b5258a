// Network-management TCP service: port 30 on the card (the run profile's
// listening address and management port; a PC run listens on 127.0.0.1).
//
// One client at a time. Every request is a frame of a 20-byte head and a
// payload; the service knows a link test, answered with a 24-byte result
// frame, and quit, which closes the connection without a reply. Unknown
// commands are logged and not answered.
//
// Threads: NMS_SocketServerTask_Start (start-up) creates the detached thread
// NMS_SocketServerTask, which alone touches the connection record, the receive
// buffer, the saved head and the payload; they need no lock. Every pause goes
// through TheClock(), so tests drive the service in virtual time.
#pragma once

#include <array>

#include "core/types.h"

namespace hx {

// Frame head, 20 bytes on the wire, little-endian.
struct COMM_HEAD_t {
    U32 dwDataType;       // command code
    U32 dwDataLength;     // payload bytes after the head
    U32 dwInallFrameNum;  // 1 in replies, not read in requests
    U32 dwFrameNo;        // 0 in replies, not read in requests
    U8 ucDataRet;
    U8 ucDataExt1;
    U8 ucDataExt2;
    U8 ucDataExt3;
};

constexpr U32 kNmsHeadSize = 20;
constexpr U32 kNmsBufferSize = 10240;  // the receive buffer holds one frame at most this long
constexpr U32 kNmsCmdTest = 0x963800FE;
constexpr U32 kNmsCmdQuit = 0xA1500002;
constexpr U32 kNmsCmdResult = 0x9638FFFE;

// Result codes of this module.
constexpr U32 kNmsErrAccept = 0x1C0000;
constexpr U32 kNmsErrSend = 0x1C0002;
constexpr U32 kNmsErrMemory = 0x1C0003;
constexpr U32 kNmsErrInvalid = 0x1C0004;

std::array<U8, kNmsHeadSize> NMS_EncodeHead(const COMM_HEAD_t& head);
COMM_HEAD_t NMS_DecodeHead(const U8* bytes);

// Creates the service thread, detached. 0, or 1282 when it cannot be created.
U32 NMS_SocketServerTask_Start();

// The port the service listens on once set-up succeeded, else 0 (tests ask
// for port 0 and read the kernel's choice here).
U16 NMS_GetListenPort();

// Test only: asks the thread to end at its next turn, and waits until it has
// (true) or `timeoutMs` of real time passed (false). The caller lets virtual
// time run so a sleeping thread wakes.
void NMS_RequestStop();
bool NMS_WaitStopped(U32 timeoutMs);

}  // namespace hx

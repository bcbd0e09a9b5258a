#include "chassis/nms_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/clock.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "core/thread_util.h"

namespace hx {

namespace {

enum eConnState { READY = 0, COMPLETE = 1, CLOSE = 2 };

constexpr int kQuitRequested = 8;

struct NMSConn {
    eConnState eState;
    int nSocket;
    int nClose;
    U32 u32ReadLen;
    U32 u32WriteLen;
    S8* ps8ReadPos;
    S8* ps8WritePos;
};

struct NMS_Payload_t {
    std::vector<U8> data;  // the payload of the frame being executed
};

using HandleExecute = S32 (*)(NMSConn* pstConn);
using HandleResponse = S32 (*)(NMSConn* pstConn);

struct MgsComm_t {
    U32 u32CMD;
    HandleExecute pExe;
    HandleResponse pRes;
};

constexpr int kSetupAttempts = 5;
constexpr int kEmptyReadsPerRound = 6;
constexpr int kEmptyReadsPerFrame = 100;
constexpr U32 kSendChunk = 4096;
constexpr S32 kSendBudget = 5000;

constexpr std::uint64_t Ms(std::uint64_t milliseconds) { return milliseconds * 1000; }

// Module state, touched only by the service thread.
NMSConn s_stNMSConn;
S8 s_ars8NMSStream[kNmsBufferSize + 1];
COMM_HEAD_t s_stCOMMHeadR;
NMS_Payload_t s_Payload;
S32 s_nError = 0;

// Thread control, shared with the starter and tests.
std::atomic<U16> s_listenPort{0};
std::atomic<bool> s_stopRequested{false};
std::mutex s_runMutex;
std::condition_variable s_runChanged;
bool s_running = false;

void Sleep(std::uint64_t micros) { TheClock().SleepMicros(micros); }

void CloseSocket(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

void NMS_RecordErrorCode(S32 nErrorCode) { s_nError = nErrorCode; }
S32 NMS_ReadErrorCode() { return s_nError; }
void NMS_SaveCOMMHead(const COMM_HEAD_t& head) { s_stCOMMHeadR = head; }
COMM_HEAD_t* NMS_GetCOMMHead() { return &s_stCOMMHeadR; }

void NMS_ResetConnection(NMSConn* pstHttpConn) {
    std::memset(pstHttpConn, 0, sizeof *pstHttpConn);
    pstHttpConn->nSocket = -1;
    pstHttpConn->eState = READY;
}

S32 NonblockingReceive(S32 nSocketFd, char* pcBuf, unsigned u32MaxLen) {
    return static_cast<S32>(recv(nSocketFd, pcBuf, u32MaxLen, MSG_DONTWAIT));
}

U32 NMG_ReceiveData(S32 nSocketFd, char* pcDataBuff, S32 nDataLen) {
    if (nSocketFd < 0 || pcDataBuff == nullptr || nDataLen <= 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid input\n");
        return 0;
    }
    S32 received = 0;
    int idleReads = 0;
    while (received < nDataLen && idleReads < kEmptyReadsPerFrame) {
        const S32 got = NonblockingReceive(nSocketFd, pcDataBuff + received, static_cast<unsigned>(nDataLen - received));
        if (got > 0) {
            received += got;
            idleReads = 0;
            Sleep(Ms(2));
        } else if (got < 0) {
            ++idleReads;
            Sleep(Ms(100));
        } else {
            ++idleReads;
            Sleep(Ms(20));
        }
    }
    return static_cast<U32>(received);
}

S32 SendDataPerPacket(S32 nSocket, const char* pcDataBuff, S32 nDataLen) {
    S32 budget = kSendBudget;
    S32 sent = 0;
    while (sent < nDataLen && budget > 0) {
        // Never block and never raise SIGPIPE: a stalled or vanished client
        // costs at most the time budget.
        const ssize_t written = send(nSocket, pcDataBuff + sent, static_cast<std::size_t>(nDataLen - sent),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written < 0) {
            Sleep(Ms(64));
            budget -= 64;
        } else if (written == 0) {
            Sleep(Ms(32));
            budget -= 32;
        } else {
            sent += static_cast<S32>(written);
        }
        Sleep(Ms(2));
        budget -= 2;
    }
    if (sent < nDataLen) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "ERROR_NMG_SEND.\n");
        return static_cast<S32>(kNmsErrSend);
    }
    return 0;
}

S32 NMS_SendData(S32 nSocket, const char* pcDataBuff, S32 nDataLen) {
    if (pcDataBuff == nullptr || nDataLen < 0 || nSocket < 0) {
        return static_cast<S32>(kNmsErrInvalid);
    }
    for (S32 offset = 0; offset < nDataLen; offset += static_cast<S32>(kSendChunk)) {
        if (offset > 0) {
            Sleep(Ms(8));
        }
        const S32 chunk = std::min<S32>(static_cast<S32>(kSendChunk), nDataLen - offset);
        if (SendDataPerPacket(nSocket, pcDataBuff + offset, chunk) != 0) {
            return static_cast<S32>(kNmsErrSend);
        }
    }
    return 0;
}

S32 NMS_CommRsp(NMSConn* pstConn, U32 u32Code) {
    if (pstConn == nullptr || pstConn->nSocket < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid input\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    const auto head = NMS_EncodeHead(COMM_HEAD_t{kNmsCmdResult, 4, 1, 0, 0, 0, 0, 0});
    U8 result[4];
    PutLe32(result, u32Code);
    for (const auto& [data, length] : {std::pair{head.data(), head.size()}, std::pair<const U8*, std::size_t>{result, 4}}) {
        const S32 sent = NMS_SendData(pstConn->nSocket, reinterpret_cast<const char*>(data), static_cast<S32>(length));
        if (sent != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMS_SendData Failed.\n");
            return sent;
        }
    }
    return 0;
}

S32 NMS_Test(NMSConn*) {
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Test.\n");
    return 0;
}

S32 NMS_Quit(NMSConn* pstConn) {
    pstConn->nClose = kQuitRequested;
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Quit.\n");
    return 0;
}

S32 NMS_Response(NMSConn* pstConn) { return NMS_CommRsp(pstConn, static_cast<U32>(NMS_ReadErrorCode())); }

constexpr MgsComm_t s_stMgsComm[] = {
    {kNmsCmdTest, NMS_Test, NMS_Response},
    {kNmsCmdQuit, NMS_Quit, nullptr},
};

void NMS_DestroyPayload() { s_Payload.data = {}; }

// Copies the payload that follows the head of a complete frame of
// `u32DataLen` bytes.
S32 NMS_ParsePayload(const char* pcBuf, U32 u32DataLen) {
    if (pcBuf == nullptr || u32DataLen == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Invalid input. NULL == pcBuf || 0 == u32DataLen\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    const U32 length = std::min(NMS_GetCOMMHead()->dwDataLength, u32DataLen - std::min(u32DataLen, kNmsHeadSize));
    std::vector<U8> payload;
    try {
        payload.assign(pcBuf + kNmsHeadSize, pcBuf + kNmsHeadSize + length);
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "malloc failed.\n");
        return static_cast<S32>(kNmsErrMemory);
    }
    s_Payload.data = std::move(payload);
    return 0;
}

S32 NMS_RXD(NMSConn* pstConn) {
    if (pstConn == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid pstConn.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    if (pstConn->nSocket < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid socket.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    if (pstConn->ps8ReadPos == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid readpos.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    const COMM_HEAD_t* head = NMS_GetCOMMHead();
    // A frame must fit the receive buffer. The length is compared before 20 is
    // added, so a length near 2^32 cannot wrap into a small frame.
    if (head->dwDataLength > kNmsBufferSize - kNmsHeadSize) {
        return static_cast<S32>(kNmsErrInvalid);
    }
    const U32 totalLength = kNmsHeadSize + head->dwDataLength;
    char* buffer = reinterpret_cast<char*>(pstConn->ps8ReadPos);
    if (pstConn->u32ReadLen < totalLength) {
        const U32 missing = totalLength - pstConn->u32ReadLen;
        const U32 got = NMG_ReceiveData(pstConn->nSocket, buffer + pstConn->u32ReadLen, static_cast<S32>(missing));
        pstConn->u32ReadLen += got;
        if (got < missing) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMG_ReceiveData Failed.\n");
            return 0;
        }
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "1. u32TotalLen = %u. pstCHead->dwDataType = %x\n", totalLength,
           head->dwDataType);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "3 u32TotalLen = %u, u32HadRecvLen = %u\n", totalLength,
           pstConn->u32ReadLen);
    if (head->dwDataLength == 0) {
        return 0;  // an empty payload: nothing to keep
    }
    const S32 result = NMS_ParsePayload(buffer, totalLength);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMS_ParsePayload Failed.\n");
    }
    return result;
}

S32 NMS_ExecuteCommands(NMSConn* pstConn) {
    if (pstConn == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid conn.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    if (pstConn->ps8ReadPos == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid pstConn->ps8ReadPos.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    if (pstConn->u32ReadLen == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "invalid pstConn->u32ReadLen.\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    NMS_RecordErrorCode(0);
    NMS_SaveCOMMHead(NMS_DecodeHead(reinterpret_cast<const U8*>(pstConn->ps8ReadPos)));
    const U32 command = NMS_GetCOMMHead()->dwDataType;
    const MgsComm_t* row = nullptr;
    for (const MgsComm_t& candidate : s_stMgsComm) {
        if (candidate.u32CMD == command) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "Unknown CMD 0x%08x.\n", command);
    } else {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "u32CMD = 0x%08x\n", command);
        if (row->pExe != nullptr) {
            // The commands need no payload, so a frame that cannot be
            // completed still runs.
            if (NMS_RXD(pstConn) != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMS_RXD Failed(Cmd 0x%08x).\n", command);
            }
            const S32 result = row->pExe(pstConn);
            if (result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Exe Cmd 0x%08x Return 0x%x\n", command,
                       static_cast<U32>(result));
            }
            NMS_RecordErrorCode(result);
        }
        if (row->pRes != nullptr) {
            const S32 result = row->pRes(pstConn);
            if (result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Res Cmd 0x%08x Return 0x%x\n", command,
                       static_cast<U32>(result));
            }
            NMS_RecordErrorCode(result);
        }
    }
    NMS_DestroyPayload();
    return 0;
}

S32 NMS_HandleReceive(NMSConn* pstConn) {
    if (pstConn == nullptr || pstConn->nSocket < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Invalid Input...\n");
        return static_cast<S32>(kNmsErrInvalid);
    }
    std::memset(s_ars8NMSStream, 0, sizeof s_ars8NMSStream);
    pstConn->ps8ReadPos = s_ars8NMSStream;
    pstConn->ps8WritePos = s_ars8NMSStream;
    pstConn->nClose = 0;
    pstConn->u32ReadLen = 0;
    U32 received = 0;
    int emptyReads = 0;
    while (emptyReads < kEmptyReadsPerRound) {
        const S32 got = NonblockingReceive(pstConn->nSocket, reinterpret_cast<char*>(s_ars8NMSStream) + received,
                                           kNmsBufferSize - received);
        if (got <= 0) {
            ++emptyReads;
            Sleep(Ms(50));
            continue;
        }
        received += static_cast<U32>(got);
        if (received >= kNmsHeadSize) {
            // Only the first frame of a round runs; what came with it is
            // dropped when the next round clears the buffer.
            pstConn->u32ReadLen = received;
            if (NMS_ExecuteCommands(pstConn) != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "ExecuteCommands failed.\n");
            }
            pstConn->eState = CLOSE;
            break;
        }
    }
    if (pstConn->nClose == kQuitRequested) {
        CloseSocket(pstConn->nSocket);
        NMS_ResetConnection(pstConn);
    } else {
        pstConn->eState = READY;
    }
    return 0;
}

S32 HandleAcceptConnection(int nSocket, NMSConn* pstConn, S32 /*nType*/) {
    if (pstConn->nSocket >= 0) {
        CloseSocket(pstConn->nSocket);
        NMS_ResetConnection(pstConn);
    }
    const int client = accept4(nSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "accept failed.\n");
        return static_cast<S32>(kNmsErrAccept);
    }
    // A reply goes out as two sends (head, then result); without this the
    // result waits for the client's delayed acknowledgement of the head.
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    pstConn->nSocket = client;
    return 0;
}

// One set-up attempt: a listening socket, or -1 after the attempt's pause.
int OpenListeningSocket() {
    HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "NMS_SocketServerTask start.\n");
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Socket creation failed.\n");
        Sleep(Ms(1000));
        return -1;
    }
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        const int number = errno;
        HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_ERROR, LOG_MODULE_SOCKET,
                  "setsockopt SO_REUSEADDR err :%s(errno: %d)\n", std::strerror(number), number);
        CloseSocket(fd);
        Sleep(Ms(1000));
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(Profile().managementPort);
    if (inet_pton(AF_INET, Profile().listenAddress.c_str(), &address.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Bind failed.\n");
        CloseSocket(fd);
        Sleep(Ms(5000));
        return -1;
    }
    if (listen(fd, 1) != 0) {
        HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Listen failed.\n");
        CloseSocket(fd);
        Sleep(Ms(1000));
        return -1;
    }
    return fd;
}

void MarkRunning(bool running) {
    std::lock_guard lock(s_runMutex);
    s_running = running;
    s_runChanged.notify_all();
}

void ServeForever(int listener) {
    NMS_ResetConnection(&s_stNMSConn);
    while (!s_stopRequested.load()) {
        pollfd sockets[2] = {{listener, POLLIN, 0}, {s_stNMSConn.nSocket, POLLIN, 0}};
        const int client = s_stNMSConn.nSocket;
        const nfds_t count = client >= 0 ? 2 : 1;
        bool active = false;
        if (poll(sockets, count, 0) > 0) {
            if ((sockets[0].revents & POLLIN) != 0) {
                active = true;
                if (HandleAcceptConnection(listener, &s_stNMSConn, 0) != 0) {
                    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "HandleAcceptConnection VKNM failed\n");
                }
            }
            // The client polled may have just been replaced; the new one is
            // looked at next turn.
            if (count == 2 && (sockets[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                s_stNMSConn.nSocket == client) {
                active = true;
                const S32 result = NMS_HandleReceive(&s_stNMSConn);
                if (result != 0) {
                    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMS_HandleReceive Failed. 0x%08x\n",
                           static_cast<U32>(result));
                }
            }
        }
        Sleep(Ms(active ? 30 : 200));
    }
    CloseSocket(s_stNMSConn.nSocket);
}

void* NMS_SocketServerTask(void*) {
    int listener = -1;
    for (int attempt = 0; attempt < kSetupAttempts && listener < 0 && !s_stopRequested.load(); ++attempt) {
        listener = OpenListeningSocket();
    }
    if (listener < 0) {
        HX_LOG_AS("NMS_SocketServerTask", LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "Socket Server Create err\n");
        MarkRunning(false);
        return nullptr;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
        s_listenPort.store(ntohs(bound.sin_port));
    }
    ServeForever(listener);
    CloseSocket(listener);
    s_listenPort.store(0);
    MarkRunning(false);
    return nullptr;
}

}  // namespace

std::array<U8, kNmsHeadSize> NMS_EncodeHead(const COMM_HEAD_t& head) {
    std::array<U8, kNmsHeadSize> bytes{};
    PutLe32(bytes.data() + 0, head.dwDataType);
    PutLe32(bytes.data() + 4, head.dwDataLength);
    PutLe32(bytes.data() + 8, head.dwInallFrameNum);
    PutLe32(bytes.data() + 12, head.dwFrameNo);
    bytes[16] = head.ucDataRet;
    bytes[17] = head.ucDataExt1;
    bytes[18] = head.ucDataExt2;
    bytes[19] = head.ucDataExt3;
    return bytes;
}

COMM_HEAD_t NMS_DecodeHead(const U8* bytes) {
    return COMM_HEAD_t{GetLe32(bytes), GetLe32(bytes + 4), GetLe32(bytes + 8), GetLe32(bytes + 12),
                       bytes[16],      bytes[17],          bytes[18],          bytes[19]};
}

U32 NMS_SocketServerTask_Start() {
    s_stopRequested.store(false);
    s_listenPort.store(0);
    MarkRunning(true);
    const int result = Thread_StartDetached(NMS_SocketServerTask, nullptr);
    if (result != 0) {
        MarkRunning(false);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SOCKET, "NMGServer communication thread create error :%s(errno: %d)\n",
               std::strerror(result), result);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "NMGServer communication create successfully!\n");
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SOCKET, "NMGServer communication pthread detach successfully!\n");
    return VK_SUCCESS;
}

U16 NMS_GetListenPort() { return s_listenPort.load(); }

void NMS_RequestStop() { s_stopRequested.store(true); }

bool NMS_WaitStopped(U32 timeoutMs) {
    std::unique_lock lock(s_runMutex);
    return s_runChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return !s_running; });
}

}  // namespace hx

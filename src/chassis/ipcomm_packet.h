// Inter-board packet: the one frame every board of the chassis exchanges on the
// inter-board port. A 16-byte little-endian header (sender slot, reserved byte,
// command, packet index, packet count, data length), up to 1,400 data bytes
// padded with zeros to a multiple of 4, and a CRC-32 over header and data (the
// padding is not covered).
//
// Building and checking a packet are pure functions of their arguments,
// callable from any thread. IPComm_ParseData also hands the packets of a
// multi-packet message to the reassembly store (ipcomm_reassembly.h), which
// only the server thread touches: it is the server's parser, and a client
// reads its replies with IPComm_ParsePacket.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "chassis/ipcomm_cmd.h"
#include "core/types.h"

namespace hx {

// The name of a command code ("IPCOMM_SEND_IP"), or nullptr for a code that is
// not in the table; and the reverse lookup (0xFFFFFFFF when unknown).
const char* IPComm_CommandName(U32 code);
U32 IPComm_CommandCode(const char* name);

constexpr U32 kIPCommHeaderSize = 16;
constexpr U32 kIPCommMaxData = 1400;
constexpr U32 kIPCommMaxPacket = kIPCommHeaderSize + kIPCommMaxData + 4;  // 1,420
constexpr U32 kIPCommReceiveBuffer = 4096;
constexpr U32 kIPCommCrcInitial = 0x04C11DB7;

struct ST_VK_IPCOMM {
    U8 u8SlotID = 0;
    U8 u8Res = 0;
    U16 u16CMD = 0;
    U32 u32CurTansNum = 0;
    U32 u32SumTansNum = 0;
    U32 u32Length = 0;
    std::array<U8, kIPCommMaxData> pu8Data{};
    U32 u32StructCRC = 0;
};

// Wire length of a packet carrying `dataLength` bytes (20 + padded data).
constexpr U32 IPComm_WireLength(U32 dataLength) { return kIPCommHeaderSize + ((dataLength + 3) & ~3u) + 4; }

// The CRC of a record: header and its `u32Length` data bytes.
U32 IPComm_RecordCrc(const ST_VK_IPCOMM& stIPComm);
// Lays a finished record out in wire form in `pWriteData` (room for
// kIPCommMaxPacket bytes) and reports the byte count.
void IPComm_LoadData(const ST_VK_IPCOMM& stIPComm, U8* pWriteData, U32* pu32Writelen);
// Builds the wire form of one packet from the board's own slot, the command,
// the data and the numbering. Empty when the data is too long or missing.
struct IPCommWire {
    std::array<U8, kIPCommMaxPacket> bytes{};
    U32 length = 0;
};
bool IPComm_Build(U16 u16CMD, const U8* u8Data, U32 u32DataLen, U32 u32CurTansNum, U32 u32SumTansNum,
                  IPCommWire* wire, U8 u8SlotID);

// Checks a received block as one packet and fills the record; after every
// failure the record is all zeros. Never touches the reassembly store.
U32 IPComm_ParsePacket(const U8* pDataBuf, S32 s32Datalen, ST_VK_IPCOMM* pstIPComm);
// The server's parse: IPComm_ParsePacket, and packets of a multi-packet
// message (other than 3841 and 516) are then joined in the reassembly store.
// Server thread only.
U32 IPComm_ParseData(const U8* pDataBuf, S32 s32Datalen, ST_VK_IPCOMM* pstIPComm);

// How many bytes of a block that starts with `received` bytes make up the
// packet, once its header is in; 0 while the header is incomplete. A length
// field above 1,400 counts as the header alone, so the reader stops and the
// parser rejects it.
U32 IPComm_ExpectedLength(std::span<const U8> received);

}  // namespace hx

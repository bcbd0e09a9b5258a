#include "chassis/ipcomm_packet.h"

#include <algorithm>
#include <cstring>

#include "chassis/ipcomm_reassembly.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"

namespace hx {

namespace {

struct CommandRow {
    U32 code;
    const char* name;
};

constexpr CommandRow kCommandNames[] = {
    {0, "IPCOMM_NONE_CMD"},
    {1, "IPCOMM_SUCCESS_CMD"},
    {2, "IPCOMM_DATA_ERROR"},
    {257, "IPCOMM_SEND_RESOUR"},
    {258, "IPCOMM_SEND_DATA"},
    {259, "IPCOMM_SEND_TS"},
    {260, "IPCOMM_SEND_PROGRAM"},
    {261, "IPCOMM_SEND_PID"},
    {262, "IPCOMM_DEL_TS"},
    {263, "IPCOMM_DEL_PROGRAM"},
    {264, "IPCOMM_SEND_OVER"},
    {265, "IPCOMM_CLEAR_INPUT"},
    {266, "IPCOMM_CLEAR_OUTPUT"},
    {267, "IPCOMM_CHANGE_PROGRAM"},
    {268, "IPCOMM_CHANGE_PID"},
    {269, "IPCOMM_PROG_SET_DESCRAMBLE"},
    {270, "IPCOMM_DEL_SCR"},
    {271, "IPCOMM_SEND_TSP_MUX_PROCESS"},
    {273, "IPCOMM_SEND_NIT_TABLE"},
    {274, "IPCOMM_DEL_PID"},
    {275, "IPCOMM_MONITOR_PID"},
    {278, "IPCOMM_SEND_EITINFO"},
    {279, "IPCOMM_SEND_EITINFO_OVER"},
    {288, "IPCOMM_SEND_DESCRIPTOR"},
    {289, "IPCOMM_DEL_DESCRIPTOR"},
    {513, "IPCOMM_SEND_SUBPLUGFLAG"},
    {514, "IPCOMM_SEND_IP"},
    {515, "IPCOMM_SEND_INDSTATUS"},
    {516, "IPCOMM_SEND_BACKUPPARA"},
    {517, "IPCOMM_SEND_EXPORTPARA"},
    {518, "IPCOMM_SEND_SYS_INFO"},
    {519, "IPCOMM_REPORT_ALARM"},
    {520, "IPCOMM_REPORT_SUBSTATUS"},
    {521, "IPCOMM_ALARM_REPORT"},
    {522, "IPCOMM_ALARM_CONFIG"},
    {523, "IPCOMM_CHECK_SUBBOARD_STATUS"},
    {524, "IPCOMM_USER_AUTHORITY_CONFIG"},
    {2068, "IPCOMM_SEND_DEL_DESTCHANNEL"},
    {3841, "IPCOMM_SEND_UPGRADE"},
    {3842, "IPCOMM_REQ_REBOOT"},
    {3843, "IPCOMM_FTP_UPGRADE"},
    {3846, "IPCOMM_SEND_IPERF3_TO_SUBB"},
    {3847, "IPCOMM_SEND_PROCESS_UPGRADE"},
};

void PutHeader(U8* out, U8 slot, U16 command, U32 index, U32 count, U32 length) {
    out[0] = slot;
    out[1] = 0;
    PutLe16(out + 2, command);
    PutLe32(out + 4, index);
    PutLe32(out + 8, count);
    PutLe32(out + 12, length);
}

}  // namespace

const char* IPComm_CommandName(U32 code) {
    for (const CommandRow& row : kCommandNames) {
        if (row.code == code) {
            return row.name;
        }
    }
    return nullptr;
}

U32 IPComm_CommandCode(const char* name) {
    for (const CommandRow& row : kCommandNames) {
        if (name != nullptr && std::strcmp(row.name, name) == 0) {
            return row.code;
        }
    }
    return 0xFFFFFFFFu;
}

U32 IPComm_RecordCrc(const ST_VK_IPCOMM& stIPComm) {
    std::array<U8, kIPCommHeaderSize + kIPCommMaxData> covered{};
    const U32 length = std::min(stIPComm.u32Length, kIPCommMaxData);
    PutHeader(covered.data(), stIPComm.u8SlotID, stIPComm.u16CMD, stIPComm.u32CurTansNum, stIPComm.u32SumTansNum,
              stIPComm.u32Length);
    covered[1] = stIPComm.u8Res;
    std::memcpy(covered.data() + kIPCommHeaderSize, stIPComm.pu8Data.data(), length);
    return Common_CRCCalculate(covered.data(), kIPCommHeaderSize + length, kIPCommCrcInitial);
}

void IPComm_LoadData(const ST_VK_IPCOMM& stIPComm, U8* pWriteData, U32* pu32Writelen) {
    const U32 length = std::min(stIPComm.u32Length, kIPCommMaxData);
    const U32 wire = IPComm_WireLength(length);
    std::memset(pWriteData, 0, wire);
    PutHeader(pWriteData, stIPComm.u8SlotID, stIPComm.u16CMD, stIPComm.u32CurTansNum, stIPComm.u32SumTansNum, length);
    pWriteData[1] = stIPComm.u8Res;
    std::memcpy(pWriteData + kIPCommHeaderSize, stIPComm.pu8Data.data(), length);
    PutLe32(pWriteData + wire - 4, stIPComm.u32StructCRC);
    *pu32Writelen = wire;
}

bool IPComm_Build(U16 u16CMD, const U8* u8Data, U32 u32DataLen, U32 u32CurTansNum, U32 u32SumTansNum,
                  IPCommWire* wire, U8 u8SlotID) {
    if (u32DataLen > kIPCommMaxData) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "### Over flow datalen > 1400\n");
        return false;
    }
    if (u32DataLen != 0 && u8Data == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "bad param, u32DataLen>0 while data point null\n");
        return false;
    }
    ST_VK_IPCOMM record;
    record.u8SlotID = u8SlotID;
    record.u16CMD = u16CMD;
    record.u32CurTansNum = u32CurTansNum;
    record.u32SumTansNum = u32SumTansNum;
    record.u32Length = u32DataLen;
    if (u32DataLen != 0) {
        std::memcpy(record.pu8Data.data(), u8Data, u32DataLen);
    }
    record.u32StructCRC = IPComm_RecordCrc(record);
    IPComm_LoadData(record, wire->bytes.data(), &wire->length);
    return true;
}

U32 IPComm_ExpectedLength(std::span<const U8> received) {
    if (received.size() < kIPCommHeaderSize) {
        return 0;
    }
    const U32 length = GetLe32(received.data() + 12);
    if (length > kIPCommMaxData) {
        return kIPCommHeaderSize;
    }
    return IPComm_WireLength(length);
}

U32 IPComm_ParsePacket(const U8* pDataBuf, S32 s32Datalen, ST_VK_IPCOMM* pstIPComm) {
    if (pDataBuf == nullptr || pstIPComm == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Input Param NULL\n");
        if (pstIPComm != nullptr) {
            *pstIPComm = ST_VK_IPCOMM{};
        }
        return VK_ERR_PARAMS;
    }
    *pstIPComm = ST_VK_IPCOMM{};
    if (s32Datalen < 20) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Receive IP data too less, %d\n", s32Datalen);
        return VK_ERR_COMM_IP_RECV_MISS;
    }
    const U32 length = GetLe32(pDataBuf + 12);
    if (length > kIPCommMaxData || static_cast<U32>(s32Datalen) != IPComm_WireLength(length)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Receive ip data len error, %d\n", s32Datalen);
        return VK_ERR_COMM_IP_RECV_MISS;
    }
    const U32 received = GetLe32(pDataBuf + s32Datalen - 4);
    const U32 computed = Common_CRCCalculate(pDataBuf, kIPCommHeaderSize + length, kIPCommCrcInitial);
    if (received != computed) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Receive IP data CRC error [%d:%d]\n", static_cast<int>(received),
               static_cast<int>(computed));
        return VK_ERR_CRC;
    }
    pstIPComm->u16CMD = GetLe16(pDataBuf + 2);
    pstIPComm->u8SlotID = pDataBuf[0];
    pstIPComm->u32Length = length;
    std::memcpy(pstIPComm->pu8Data.data(), pDataBuf + kIPCommHeaderSize, length);
    pstIPComm->u32CurTansNum = GetLe32(pDataBuf + 4);
    pstIPComm->u32SumTansNum = GetLe32(pDataBuf + 8);
    pstIPComm->u32StructCRC = received;
    return VK_SUCCESS;
}

U32 IPComm_ParseData(const U8* pDataBuf, S32 s32Datalen, ST_VK_IPCOMM* pstIPComm) {
    if (const U32 result = IPComm_ParsePacket(pDataBuf, s32Datalen, pstIPComm); result != VK_SUCCESS) {
        return result;
    }
    if (pstIPComm->u32SumTansNum > 1 && pstIPComm->u16CMD != IPCOMM_SEND_UPGRADE &&
        pstIPComm->u16CMD != IPCOMM_SEND_BACKUPPARA) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "u16CMD = %d \nu8SlotID = %d \nu32curPacket = %d \n", pstIPComm->u16CMD,
               pstIPComm->u8SlotID, pstIPComm->u32CurTansNum);
        IPComm_CombinePack(pstIPComm);
    }
    return VK_SUCCESS;
}

}  // namespace hx

#include "si/time_tables.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "core/clock.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/si_packet.h"
#include "si/si_regeneration.h"

namespace hx {

namespace {

// The streams that get time tables: valid, not pass-through, one per channel.
template <typename Each>
U32 ForEachTimeChannel(Each each) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    U32 result = 0;
    for (U16 channel = 0; channel < kSiChannels; ++channel) {
        const U16 tsIndex = ModelLookup_StreamOfChannel(model, channel);
        if (tsIndex == kChainEnd || model->pOutputTS[tsIndex].u8BypassFlag == 1) {
            continue;
        }
        if (const U32 code = each(static_cast<U8>(channel), tsIndex, model->pOutputTS[tsIndex]); code != 0) {
            result = code;
        }
    }
    return result;
}

// The input passes its own TDT and TOT through on PID 20 and the user has
// not replaced the TOT: the board adds neither.
bool InputCarriesTime(U16 tsIndex) {
    return IsPSITableInOtherPID(tsIndex, kTdtTotPid) && TSP_IsTOTTableChangedByUser(tsIndex) != HX_TRUE;
}

// The first stored TOT section of a stream, or null.
const U8* StoredTot(const Output_TSInfo* model, U16 tsIndex) {
    IndexInfoList list{};
    if (TSP_GetOutTSTOTTableIndexList(tsIndex, model, &list) != 0 || list.u16IndexListNum == 0) {
        return nullptr;
    }
    return model->pOutputTable[list.aru16IndexList[0]].aru8TableInfo;
}

std::array<U8, kSttSectionBytes> SttSection(std::time_t utcSeconds, const BoardTimeSettings& time) {
    const U8 gpsUtcOffset = time.u8GPSUTCOffset;
    const bool daylightSaving = time.u8DaylightSaving != 0;
    const std::time_t gps = utcSeconds > static_cast<std::time_t>(kGpsEpochUnixSeconds)
                                ? utcSeconds - static_cast<std::time_t>(kGpsEpochUnixSeconds)
                                : 0;
    std::array<U8, kSttSectionBytes> section{};
    section[0] = kSttTableId;
    section[1] = 0xF0;  // section_syntax 1, private 1, reserved; section_length 17
    section[2] = kSttSectionBytes - 3;
    section[3] = 0x00;  // table_id_extension 0
    section[4] = 0x00;
    section[5] = 0xC1;  // version 0, current
    section[6] = 0x00;
    section[7] = 0x00;
    section[8] = 0x00;  // protocol_version
    PutBe32(section.data() + 9, static_cast<U32>(gps) + gpsUtcOffset);
    section[13] = gpsUtcOffset;
    // DS_status, two reserved bits, DS_day_of_month 0, DS_hour 0: no transition announced.
    section[14] = static_cast<U8>((daylightSaving ? 0x80 : 0x00) | 0x60);
    section[15] = 0x00;
    SIP_SealSection(section.data(), kSttSectionBytes);
    return section;
}

}  // namespace

U16 TSP_CalMJD(U32 u32Year, U32 u32Month, U32 u32Day) {
    const long leap = (u32Month == 1 || u32Month == 2) ? 1 : 0;
    const long year = static_cast<long>(u32Year) - leap;
    const long month = static_cast<long>(u32Month) + 1 + leap * 12;
    // int(y × 365.25) and int(m × 30.6001) in integers.
    const long mjd = 14956 + static_cast<long>(u32Day) + (year * 36525) / 100 + (month * 306001) / 10000;
    return static_cast<U16>(mjd);
}

U8 TSP_CalBCD(U8 u8Value) { return static_cast<U8>(((u8Value / 10) % 10) << 4 | (u8Value % 10)); }

U32 TSP_GetUTCTime(U8* pu8UTCTime) {
    if (pu8UTCTime == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "Input Error\n");
        return VK_ERR_PARAMS;
    }
    const std::time_t now = TheClock().WallTime().tv_sec;
    std::tm utc{};
    gmtime_r(&now, &utc);
    PutBe16(pu8UTCTime, TSP_CalMJD(static_cast<U32>(utc.tm_year), static_cast<U32>(utc.tm_mon + 1),
                                   static_cast<U32>(utc.tm_mday)));
    pu8UTCTime[2] = TSP_CalBCD(static_cast<U8>(utc.tm_hour));
    pu8UTCTime[3] = TSP_CalBCD(static_cast<U8>(utc.tm_min));
    pu8UTCTime[4] = TSP_CalBCD(static_cast<U8>(utc.tm_sec));
    return 0;
}

U32 TSP_ConstructSTT() {
    const std::time_t now = TheClock().WallTime().tv_sec;
    const std::array<U8, kSttSectionBytes> section = SttSection(now, Resource_GetTimeSettings());
    return ForEachTimeChannel([&](U8 channel, U16, const Output_TSStream& ts) -> U32 {
        if (ts.u8STTGenerate != 1) {
            return 0;
        }
        return SSD_AddTimeSection(channel, kPsipPid, section.data(), kSttSectionBytes);
    });
}

U32 TSP_ConstructTDT() {
    TDTTable_t tdt{};
    tdt.u8SectionLen = kTdtSectionLength;
    TSP_GetUTCTime(tdt.aru8UTCTime);
    std::array<U8, kTdtSectionLength + 3> section{};
    U16 length = 0;
    if (const U32 result = SIP_ConstructTDT(&tdt, static_cast<U16>(section.size()), section.data(), &length);
        result != 0) {
        return result;
    }
    return ForEachTimeChannel([&](U8 channel, U16 tsIndex, const Output_TSStream& ts) -> U32 {
        if (ts.u8TDTGenerate != 1 || InputCarriesTime(tsIndex)) {
            return 0;
        }
        return SSD_AddTimeSection(channel, kTdtTotPid, section.data(), length);
    });
}

U32 TSP_ConstructTOT() {
    UtcTime now{};
    TSP_GetUTCTime(now.data());
    return ForEachTimeChannel([&](U8 channel, U16 tsIndex, const Output_TSStream& ts) -> U32 {
        if (ts.u8TOTGenerate != 1 || InputCarriesTime(tsIndex)) {
            return 0;
        }
        const U8* stored = StoredTot(TSP_GetTSParam(), tsIndex);
        if (stored == nullptr) {
            return 0;
        }
        TOTTable_t tot{};
        if (const U32 result = SIP_ParseTOT(stored, kSectionMaxBytes, &tot, 0); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "stored TOT of TS[%u] unreadable[%X]\n", tsIndex, result);
            return result;
        }
        std::copy(now.begin(), now.end(), tot.aru8UTCTime);
        std::array<U8, kTotSectionLength + 3> section{};
        U16 length = 0;
        if (const U32 result = SIP_ConstructTOT(&tot, static_cast<U16>(section.size()), section.data(), &length);
            result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "stored TOT of TS[%u] not one offset entry[%X]\n", tsIndex,
                   result);
            return result;
        }
        return SSD_AddTimeSection(channel, kTdtTotPid, section.data(), length);
    });
}

BOOL TSP_IsTOTTableChangedByUser(U16 u16OutTSIndex) {
    return TSP_IsTableChainChangedByUser(TableChainHead::Tot, u16OutTSIndex);
}

U32 TSP_GetTOTTableInfo(U16 u16Channel, TOTTable_t* pstTOTTable) {
    if (pstTOTTable == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "Input Error\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    if (tsIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "channel[%u] has no output TS\n", u16Channel);
        return VK_ERR_TSP_TS_ERROR;
    }
    IndexInfoList list{};
    if (const U32 result = TSP_GetOutTSTOTTableIndexList(tsIndex, model, &list); result != 0) {
        return result;
    }
    if (list.u16IndexListNum == 0) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SIPROCESS, "channel[%u] has no TOT\n", u16Channel);
        return kTspErrCount;
    }
    TOTTable_t parsed{};
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (const U32 result =
                SIP_ParseTOT(model->pOutputTable[list.aru16IndexList[i]].aru8TableInfo, kSectionMaxBytes, &parsed, i);
            result != 0) {
            return result;
        }
    }
    *pstTOTTable = parsed;
    return 0;
}

U32 TSP_EditTOT_LTODescriptor(U16 u16Channel, const TOTBuf_t* pstTOTBuf) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    if (pstTOTBuf == nullptr || tsIndex == kChainEnd) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "Input Error,u16Channel[%u]\n", u16Channel);
        return VK_ERR_PARAMS;
    }
    // The web hands over u16TOTLength as the section_length, not a byte
    // count, so the sections are found by their own lengths.
    const U8* buffer = pstTOTBuf->aru8OutputTOTSection;
    U32 length = 0;
    while (length + 3 <= kNitBufBytes && buffer[length] == kTotTableId &&
           SIP_SectionBytes(buffer + length) <= kNitBufBytes - length) {
        length += SIP_SectionBytes(buffer + length);
    }
    std::vector<TSTable> records;
    if (length == 0 ||
        !TSP_SectionsToRecords(buffer, length, kTotTableId, kTotTableType, 1, u16Channel, tsIndex, records)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TOT sections of channel[%u] malformed, nothing stored\n",
               u16Channel);
        return VK_ERR_PARAMS;
    }
    if (const U32 result = TSP_ReplaceTableChain(model, tsIndex, TableChainHead::Tot, records); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TOT of channel[%u] not stored[%X]\n", u16Channel, result);
        return result;
    }
    return 0;
}

}  // namespace hx

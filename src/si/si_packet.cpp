#include "si/si_packet.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "core/timer.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/section_codec.h"
#include "si/table_versions.h"
#include "si/time_tables.h"

namespace hx {

std::mutex SIMutex;

namespace {

constexpr U8 kSyncByte = 0x47;
constexpr U16 kPacketBytes = 188;
constexpr U16 kRecordHeaderBytes = 8;
// Payload of a packet after its 4-byte header; a section's first packet
// gives one of them to the pointer_field.
constexpr U16 kPayloadBytes = 184;

using Record = std::array<U8, kSiRecordBytes>;

// Guarded by SIMutex.
SIPacket_t s_arstSIPacket;
bool s_carouselReady = false;
// Lowest entries that may be free; every free entry lies at or above them.
U16 s_recordSearchStart = 0;
U16 s_tableSearchStart = 0;
// Last table of each stream's chain, so queueing appends without a walk.
std::array<U16, kSiStreamHeads> s_streamTail;
// The continuity counter the next packet on (channel, PID) carries.
std::array<std::array<U8, kSiPidCount>, kSiChannels> s_continuity{};

// The sender thread's alone.
TSPacketInfo_t s_arstTimePacketInfo[kSiTimeSlots];

void ResetCarouselLocked() {
    std::memset(&s_arstSIPacket, 0, sizeof s_arstSIPacket);
    std::fill(std::begin(s_arstSIPacket.aru16OutTSSIInfo), std::end(s_arstSIPacket.aru16OutTSSIInfo), kSiEnd);
    s_streamTail.fill(kSiEnd);
    s_arstSIPacket.u8SendInterval = 1;
    s_recordSearchStart = 0;
    s_tableSearchStart = 0;
    s_carouselReady = true;
}

void EnsureCarouselLocked() {
    if (!s_carouselReady) {
        ResetCarouselLocked();
    }
}

U16 EffectiveInterval() {
    const U16 stored = std::atomic_ref<U16>(GetQAMIPMonitor_Handle()->u16PSIInterval).load(std::memory_order_relaxed);
    return stored == 0 ? kPsiIntervalDefaultMs : stored;
}

// Gives the record its (channel, PID) continuity counter and writes it to the
// insertion buffer.
void SendRecordLocked(U32* words) {
    const U8 channel = static_cast<U8>(words[0] >> 16);
    const U16 pid = static_cast<U16>((words[2] >> 8) & 0x1FFF);
    if (channel < kSiChannels) {
        U8& next = s_continuity[channel][pid];
        words[2] = (words[2] & ~0x0Fu) | next;
        next = static_cast<U8>((next + 1) & 0x0F);
    }
    FPGA_Comm_SendData(words, kSiRecordWords);
}

struct SectionPlan {
    U16 offset;
    U16 bytes;
    U8 ordinal;  // 1-based among sections numbered above 0; 0 for section 0
};

// A section's number, when it has the long header that carries one.
U8 SectionNumber(const U8* section, U16 bytes) { return bytes >= 8 && (section[1] & 0x80) != 0 ? section[6] : 0; }

// Cuts the sections into records: bytes 0-7 as the FPGA reads them, then one
// packet per 184 bytes of pointer_field and section, 0xFF after its end.
bool BuildRecords(const U8* buffer, const std::vector<SectionPlan>& sections, U8 channel, U16 pid, U8 otherSections,
                  std::size_t total, std::vector<Record>& records) {
    records.clear();
    for (const SectionPlan& section : sections) {
        for (U16 done = 0; done < section.bytes;) {
            Record& record = records.emplace_back();
            record.fill(0xFF);
            record[0] = static_cast<U8>(total);
            record[1] = channel;
            record[6] = otherSections;
            record[7] = section.ordinal;
            U8* packet = record.data() + kRecordHeaderBytes;
            const bool first = done == 0;
            packet[0] = kSyncByte;
            packet[1] = static_cast<U8>((first ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
            packet[2] = static_cast<U8>(pid);
            packet[3] = static_cast<U8>(0x10 | ((records.size() - 1) & 0x0F));
            U16 at = 4;
            if (first) {
                packet[at++] = 0;  // pointer_field
            }
            const U16 take = std::min<U16>(static_cast<U16>(kPacketBytes - at), static_cast<U16>(section.bytes - done));
            std::memcpy(packet + at, buffer + section.offset + done, take);
            done = static_cast<U16>(done + take);
        }
    }
    return records.size() == total;
}

// Free entries at or above the search start, in ascending order.
template <typename Entry, std::size_t N>
bool FindFree(Entry (&pool)[N], U16 start, std::size_t wanted, std::vector<U16>& found) {
    found.clear();
    for (std::size_t i = start; i < N && found.size() < wanted; ++i) {
        if (pool[i].stList.u8ValidFlag != 1) {
            found.push_back(static_cast<U16>(i));
        }
    }
    return found.size() == wanted;
}

// Calls onRecord for every record of every table of a stream's chain, then
// afterTable for the table; both may clear what they are given. Bounded by
// the pool sizes, so a damaged chain ends instead of looping.
template <typename OnRecord, typename AfterTable>
void WalkStreamLocked(U16 stream, OnRecord onRecord, AfterTable afterTable) {
    SIPacket_t& carousel = s_arstSIPacket;
    U16 tableIndex = carousel.aru16OutTSSIInfo[stream];
    for (U16 tables = 0; tableIndex < kSiTables && tables < kSiTables; ++tables) {
        SIPacketInfo_t& table = carousel.arstSIInfo[tableIndex];
        if (table.stList.u8ValidFlag != 1) {
            break;
        }
        const U16 nextTable = table.stList.u16NextIndex;
        U16 recordIndex = table.u16TSPacketIndex;
        for (U8 n = 0, count = table.u8PacketNum; n < count && recordIndex < kSiRecords; ++n) {
            TSPacketInfo_t& record = carousel.arstTSPacket[recordIndex];
            const U16 nextRecord = record.stList.u16NextIndex;
            onRecord(table, record, recordIndex);
            recordIndex = nextRecord;
        }
        afterTable(table, tableIndex);
        tableIndex = nextTable;
    }
}

void SendTimeSlots() {
    std::lock_guard lock(SIMutex);
    for (TSPacketInfo_t& slot : s_arstTimePacketInfo) {
        if (slot.stList.u8ValidFlag == 1) {
            SendRecordLocked(slot.aru32TSPacket);
        }
    }
}

void ClearTimeSlots() { std::memset(s_arstTimePacketInfo, 0, sizeof s_arstTimePacketInfo); }

U32 SIPacket_Start() {
    pthread_t thread{};
    int result = pthread_create(&thread, nullptr, SIPacket_Service, nullptr);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "SIPacket thread create error :%s(errno: %d)\n",
               std::strerror(result), result);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SIPROCESS, "SIPacket create successfully!\n");
    result = pthread_detach(thread);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "SIPacket thread detach error :%s(errno: %d)\n",
               std::strerror(result), result);
        return VK_ERR_COMM_PTHREAD_CREAT;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SIPROCESS, "SIPacket pthread detach successfully!\n");
    return 0;
}

}  // namespace

U32 SIP_Init() {
    Timer_Start(static_cast<U32>(EffectiveInterval()) * 1000);
    return SIPacket_Start();
}

void SSD_InitBroadcastSI() {
    std::lock_guard lock(SIMutex);
    ResetCarouselLocked();
}

void SSD_ResetForTest() {
    SIVersion_Reset();
    std::lock_guard lock(SIMutex);
    ResetCarouselLocked();
    for (auto& channel : s_continuity) {
        channel.fill(0);
    }
    ClearTimeSlots();
}

const SIPacket_t& SSD_GetBroadcastSI() {
    EnsureCarouselLocked();
    return s_arstSIPacket;
}

U32 SSD_AddBroadcastSI(const U8* pu8Section, U16 u16BuffLength, U16 u16OutTSIndex, U16 u16PID) {
    if (pu8Section == nullptr || u16OutTSIndex >= kSiStreamHeads || u16PID >= kSiPidCount) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "input error ts index[%d],pid[%d]\n", u16OutTSIndex, u16PID);
        return kSiErrInput;
    }
    U8 channel = 0;
    {
        TSP_ModelLock lock;
        const Output_TSInfo* model = TSP_GetTSParam();
        if (model->pOutputTS == nullptr || u16OutTSIndex >= model->u32OutputTSNumber) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "input error ts index[%d],pid[%d]\n", u16OutTSIndex, u16PID);
            return kSiErrInput;
        }
        U8 slot = 0;
        U16 destination = 0;
        if (const U32 result = TSP_GetDestInfoByOutTSIndex(u16OutTSIndex, model, &slot, &destination); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "TSP_GetDestInfoByOutTSIndex OutTSIndex:%d fail[%X]\n",
                   u16OutTSIndex, result);
            return result;
        }
        channel = static_cast<U8>(destination);
    }
    if (u16BuffLength == 0) {
        return 0;
    }

    std::vector<SectionPlan> sections;
    std::size_t total = 0;
    U32 otherSections = 0;
    for (U16 offset = 0; offset < u16BuffLength;) {
        const U16 bytes = u16BuffLength - offset < 3 ? 0 : SIP_SectionBytes(pu8Section + offset);
        if (bytes == 0 || bytes > u16BuffLength - offset) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS,
                   "[SSD_AddBroadcastSI]OutTSIndex:%d PID:%d  AllLength:%d TempLength:%d\n", u16OutTSIndex, u16PID,
                   u16BuffLength, offset + (bytes == 0 ? 3 : bytes));
            return kSiErrData;
        }
        const bool numbered = SectionNumber(pu8Section + offset, bytes) != 0;
        if (numbered) {
            ++otherSections;
        }
        sections.push_back({offset, bytes, static_cast<U8>(numbered ? std::min<U32>(otherSections, 255) : 0)});
        total += (bytes + 1 + kPayloadBytes - 1) / kPayloadBytes;
        offset = static_cast<U16>(offset + bytes);
    }

    std::lock_guard lock(SIMutex);
    EnsureCarouselLocked();
    SIPacket_t& carousel = s_arstSIPacket;
    if (otherSections > kSiTableMaxOtherSections) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "SendSectionNum:%d out of range\n", otherSections);
        return kSiErrFull;
    }
    if (carousel.u16SIInfoNum >= kSiTables) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "PacketInfoIndex is over:%d! \n", carousel.u16SIInfoNum);
        return kSiErrFull;
    }
    if (carousel.u16TSPacketNum + total > kSiRecords) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "SINum is over:%d!\n",
               static_cast<int>(carousel.u16TSPacketNum + total));
        return kSiErrFull;
    }
    if (total > kSiTableMaxRecords) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "AllPacketNum:%d is over!\n", static_cast<int>(total));
        return kSiErrFull;
    }
    std::vector<Record> records;
    if (!BuildRecords(pu8Section, sections, channel, u16PID, static_cast<U8>(otherSections), total, records)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "SI data is wrong!\n");
        return kSiErrData;
    }
    std::vector<U16> tableIndex;
    std::vector<U16> recordIndex;
    if (!FindFree(carousel.arstSIInfo, s_tableSearchStart, 1, tableIndex) ||
        !FindFree(carousel.arstTSPacket, s_recordSearchStart, total, recordIndex)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "no free SI entries for %d records\n", static_cast<int>(total));
        return kSiErrFull;
    }

    for (std::size_t i = 0; i < total; ++i) {
        TSPacketInfo_t& entry = carousel.arstTSPacket[recordIndex[i]];
        entry.stList = {1, {}, recordIndex[i], i + 1 < total ? recordIndex[i + 1] : kSiEnd};
        Common_ChangeBit8To32(entry.aru32TSPacket, records[i].data(), static_cast<U8>(kSiRecordBytes));
    }
    const U16 newTable = tableIndex[0];
    SIPacketInfo_t& table = carousel.arstSIInfo[newTable];
    table = {};
    table.stList = {1, {}, newTable, kSiEnd};
    table.u16OutTSIndex = u16OutTSIndex;
    table.u16TSPacketIndex = recordIndex[0];
    table.u16PID = u16PID;
    table.u8TotalSectionNum = static_cast<U8>(std::min<std::size_t>(sections.size(), 255));
    table.u8OverOneSectionTotalNum = static_cast<U8>(otherSections);
    table.u8PacketNum = static_cast<U8>(total);
    table.u8SendFlag = 1;
    U16& tail = s_streamTail[u16OutTSIndex];
    (tail == kSiEnd ? carousel.aru16OutTSSIInfo[u16OutTSIndex] : carousel.arstSIInfo[tail].stList.u16NextIndex) =
        newTable;
    tail = newTable;
    carousel.u16SIInfoNum = static_cast<U16>(carousel.u16SIInfoNum + 1);
    carousel.u16TSPacketNum = static_cast<U16>(carousel.u16TSPacketNum + total);
    s_tableSearchStart = static_cast<U16>(newTable + 1);
    s_recordSearchStart = static_cast<U16>(recordIndex.back() + 1);
    return 0;
}

void SSD_SendBroadcastSI() {
    EnsureCarouselLocked();
    for (U16 head = 0; head < kSiStreamHeads; ++head) {
        WalkStreamLocked(
            head,
            [](SIPacketInfo_t& table, TSPacketInfo_t& record, U16) {
                const U8 otherSections = static_cast<U8>(record.aru32TSPacket[1] >> 8);
                const U8 ordinal = static_cast<U8>(record.aru32TSPacket[1]);
                if (otherSections == 0 || table.u16SISendSection % (otherSections + 1) == ordinal) {
                    SendRecordLocked(record.aru32TSPacket);
                }
            },
            [](SIPacketInfo_t& table, U16) {
                table.u16SISendSection = static_cast<U16>(table.u16SISendSection + 1);
                if (table.u16SISendSection > table.u8OverOneSectionTotalNum) {
                    table.u16SISendSection = 0;
                }
            });
    }
}

U32 TSP_GetPSIInterval(U16* pu16Interval) {
    if (pu16Interval == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "Input Error\n");
        return VK_ERR_PARAMS;
    }
    *pu16Interval = EffectiveInterval();
    return 0;
}

U32 TSP_SetPSIInterval(U16 u16Interval) {
    if (u16Interval == 0) {
        // The time-table periods divide by the interval.
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "PSI interval 0 refused, keeping %u ms\n", EffectiveInterval());
        return VK_ERR_PARAMS;
    }
    std::atomic_ref<U16>(GetQAMIPMonitor_Handle()->u16PSIInterval).store(u16Interval, std::memory_order_relaxed);
    Timer_Init(static_cast<U32>(u16Interval) * 1000);
    return 0;
}

U32 SSD_AddTimeSection(U8 u8Channel, U16 u16PID, const U8* pu8Section, U16 u16Length) {
    // A time section rides in one packet, after the pointer_field.
    if (pu8Section == nullptr || u16Length == 0 || u16Length > kPayloadBytes - 1 || u16PID >= kSiPidCount) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "input error channel[%u],pid[%u],length[%u]\n", u8Channel, u16PID,
               u16Length);
        return kSiErrInput;
    }
    for (TSPacketInfo_t& slot : s_arstTimePacketInfo) {
        if (slot.stList.u8ValidFlag == 1) {
            continue;
        }
        Record record;
        record.fill(0xFF);
        record[0] = 0;
        record[1] = u8Channel;
        record[2] = 1;
        record[6] = 0;
        record[7] = 0;
        U8* packet = record.data() + kRecordHeaderBytes;
        packet[0] = kSyncByte;
        packet[1] = static_cast<U8>(0x40 | ((u16PID >> 8) & 0x1F));
        packet[2] = static_cast<U8>(u16PID);
        packet[3] = 0x10;
        packet[4] = 0;
        std::memcpy(packet + 5, pu8Section, u16Length);
        slot.stList.u8ValidFlag = 1;
        slot.stList.u16Index = static_cast<U16>(&slot - s_arstTimePacketInfo);
        slot.stList.u16NextIndex = kSiEnd;
        Common_ChangeBit8To32(slot.aru32TSPacket, record.data(), static_cast<U8>(kSiRecordBytes));
        return 0;
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "[SSD_GetUnuseTSPacketIndexList] get UnuseTimePacketNum fail\n\n");
    return kSiErrFull;
}

U32 SSD_SendTimeSITable() {
    if (Resource_GetSIMode() != kSiModeAtsc) {
        return 0;
    }
    ClearTimeSlots();
    const U32 result = TSP_ConstructSTT();
    SendTimeSlots();
    return result;
}

U32 SSD_SendTimeSITableTDTAndTOT() {
    if (Resource_GetSIMode() != kSiModeDvb) {
        return 0;
    }
    ClearTimeSlots();
    const U32 tdt = TSP_ConstructTDT();
    const U32 tot = TSP_ConstructTOT();
    SendTimeSlots();
    return tdt != 0 ? tdt : tot;
}

bool SIPacket_ServiceStep(SIPacketSenderState& state) {
    const U32 tick = GetTimeCnt();
    if (tick == state.u32LastTick) {
        return false;
    }
    {
        std::lock_guard lock(SIMutex);
        SSD_SendBroadcastSI();
    }
    state.u32LastTick = tick;
    const U32 interval = EffectiveInterval();
    const U32 sttTarget = std::max<U32>(1, 900 / interval);
    const U32 tdtTarget = std::max<U32>(1, 15000 / interval);
    const bool sttDue = state.u32SttTicks >= sttTarget;
    const bool tdtDue = state.u32TdtTicks >= tdtTarget;
    if (sttDue || tdtDue) {
        // PSI must not wait behind an apply: when the model is busy, the time
        // tables go out on the next tick instead.
        TSP_ModelLock model(std::try_to_lock);
        if (model.owns_lock()) {
            if (sttDue) {
                SSD_SendTimeSITable();
                state.u32SttTicks = 0;
            }
            if (tdtDue) {
                SSD_SendTimeSITableTDTAndTOT();
                state.u32TdtTicks = 0;
            }
        }
    }
    ++state.u32SttTicks;
    ++state.u32TdtTicks;
    return true;
}

void* SIPacket_Service(void*) {
    SIPacketSenderState state;
    state.u32LastTick = GetTimeCnt();
    for (;;) {
        // Asleep until the tick timer moves: an idle card costs no processor.
        Timer_WaitTick(state.u32LastTick);
        SIPacket_ServiceStep(state);
    }
    return nullptr;
}

}  // namespace hx

#include "engine/mux_lut.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <vector>

#include "core/log.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/time_tables.h"

namespace hx {

U32 aru32slotBuffer0[kMuxLutEntries];
U32 aru32slotBuffer1[kMuxLutEntries];
U32 aru32slotBuffer2[kMuxLutEntries];
U32 aru32slotBypassBuffer0[kBypassLutEntries];
U32 aru32slotBypassBuffer1[kBypassLutEntries];

namespace {


U32 LutSlot(U8 slot) { return slot == kMaxSlot ? kLutBackBoardSlot : (slot & 0x3Fu); }

U32 DestWord(U16 channel, U16 pid) { return (static_cast<U32>(channel) << 13) | (pid & 0x1FFFu); }
U32 SrcWord(U32 slot, U16 stream, U16 pid) {
    return ((slot & 0x3Fu) << 23) | ((stream & 0x3FFu) << 13) | (pid & 0x1FFFu);
}

// The entries of one mux build in insertion order.
struct MuxEntries {
    std::vector<U32> dest;
    std::vector<U32> src;
    void Add(U32 d, U32 s) {
        dest.push_back(d);
        src.push_back(s);
    }
};

void CollectEitEntries(const Output_TSInfo* model, U8 eitSlot, MuxEntries& entries) {
    for (U32 c = 0; c < model->u32OutputTSNumber; ++c) {
        U16 ts = kChainEnd;
        TSP_GetOutputTSIndexByTS(static_cast<U16>(c), &ts);
        if (ts == kChainEnd) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel[%d] is invalid. \r\n\n", static_cast<int>(c));
            continue;
        }
        if (model->pOutputTS[ts].u8BypassFlag == 1) {
            continue;
        }
        entries.Add(DestWord(static_cast<U16>(c), kEitPid),
                    (static_cast<U32>(eitSlot) << 23) | ((c & 0x3FFu) << 13) | kEitPid);
    }
}

void CollectPidEntries(const Output_TSInfo* model, bool eitBoard, MuxEntries& entries, std::vector<U32>& unrouted) {
    for (U32 i = 0; i < model->u32OutputPIDNumber; ++i) {
        const Output_TSPID& pid = model->pOutputPID[i];
        if (pid.u8ValidFlag != kRecordValid || (eitBoard && pid.u16PID == kEitPid)) {
            continue;
        }
        U16 ts = kChainEnd;
        TSP_GetOutputTSIndexByTS(pid.u16ChannelID, &ts);
        if (ts == kChainEnd) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "u16TSIndex is invalid Srcslot[%u],SrcChannel[%u],OldPID[%u],ChannelID[%u]\r\n\n",
                   pid.u8SourceSlotID, pid.u16SourceChannelID, pid.u16OldPID, pid.u16ChannelID);
            unrouted.push_back(i);
            continue;
        }
        const Output_TSStream& stream = model->pOutputTS[ts];
        if (pid.u16PID == kNitPid && TSP_IsNITTableChangedByUser(ts)) {
            continue;
        }
        if (pid.u16PID == kSdtPid && stream.u8IsSDTChangedByUser == 1) {
            continue;
        }
        if (pid.u16PID == kTdtTotPid && TSP_IsTOTTableChangedByUser(ts)) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "jump this one,TSP_IsTOTTableChangedByUser\r\n\n");
            continue;
        }
        if (stream.u8BypassFlag == 1) {
            continue;
        }
        U16 sourceStream = pid.u16SrcStreamID;
        U16 sourcePid = pid.u16OldPID;
        if (pid.u32ProgramIndex < model->u32OutputProgramNumber &&
            model->pOutputProgram[pid.u32ProgramIndex].u8CIFlag == 1) {
            if (pid.u8PIDType == PID_TYPE_PS_ECMPID || pid.u8PIDType == PID_TYPE_ES_ECMPID) {
                continue;
            }
            sourceStream = pid.u16SrcCIStreamID;
            sourcePid = pid.u16CISrcPID;
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
                   "SrcChannel[0x%x],OldPID[%u],CIStream[0x%x],CIPID[%u],PIDType[%u]\r\n\n", pid.u16SrcStreamID,
                   pid.u16OldPID, sourceStream, sourcePid, pid.u8PIDType);
        }
        entries.Add(DestWord(pid.u16ChannelID, pid.u16PID), SrcWord(LutSlot(pid.u8SourceSlotID), sourceStream, sourcePid));
    }
}

// Register writes of one download, stopping at the first that fails: the
// table in the FPGA is then not what the model says, and the apply must say
// so rather than go on writing into a window that is not there.
class LutWriter {
public:
    bool Write(U32 index, U32 value) {
        if (result_ == 0) {
            result_ = REG_Write(index, value);
            if (result_ != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "LUT register[%u] write fail[%u]\r\n\n", index, result_);
            }
        }
        return result_ == 0;
    }
    bool Entry(U32 index, U32 high, U32 low) {
        return Write(kRegLutIndex, index) && Write(kRegLutHigh, high) && Write(kRegLutLow, low);
    }
    bool Commit() { return Write(kRegLutCommit, 0) && Write(kRegLutCommit, 1) && Write(kRegLutCommit, 0); }
    U32 Result() const { return result_; }

private:
    U32 result_ = 0;
};

}  // namespace

U32 TSP_SortSrcInfo(U32* pu32SrcInfo, U16* pu16SrcIndex, U16 u16Length) {
    if (pu32SrcInfo == nullptr || pu16SrcIndex == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (u16Length == 0) {
        return 0;
    }
    try {
        std::vector<std::pair<U32, U16>> pairs(u16Length);
        for (U16 i = 0; i < u16Length; ++i) {
            pairs[i] = {pu32SrcInfo[i], pu16SrcIndex[i]};
        }
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (U16 i = 0; i < u16Length; ++i) {
            pu32SrcInfo[i] = pairs[i].first;
            pu16SrcIndex[i] = pairs[i].second;
        }
    } catch (const std::bad_alloc&) {
        return kTspErrMemory;
    }
    return 0;
}

U32 TSP_DelSameSrcInfo(U32* pu32DestInfo, U32* pu32SrcInfo, U16* pu16SrcIndex, U16 u16Length) {
    if (pu32DestInfo == nullptr || pu32SrcInfo == nullptr || pu16SrcIndex == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (u16Length == 0) {
        return 0;
    }
    try {
        std::vector<std::pair<U32, U16>> run;
        for (U16 start = 0; start < u16Length;) {
            U16 end = start;
            while (end < u16Length && pu32SrcInfo[end] == pu32SrcInfo[start]) {
                ++end;
            }
            run.clear();
            for (U16 i = start; i < end; ++i) {
                run.emplace_back(pu32DestInfo[i], pu16SrcIndex[i]);
            }
            std::stable_sort(run.begin(), run.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            for (U16 i = start; i < end; ++i) {
                pu32DestInfo[i] = run[i - start].first;
                pu16SrcIndex[i] = run[i - start].second;
            }
            start = end;
        }
    } catch (const std::bad_alloc&) {
        return kTspErrMemory;
    }
    for (U16 i = 0; i + 1 < u16Length; ++i) {
        if (pu32DestInfo[i] == pu32DestInfo[i + 1]) {
            pu16SrcIndex[i] = kLutDropped;
        }
    }
    return 0;
}

U32 TSP_WriteSameSrcNum(U32* pu32SlotBuffer, const U32* pu32SrcInfo, U16 u16Length) {
    if (pu32SlotBuffer == nullptr || pu32SrcInfo == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    if (u16Length > kMuxLutEntries) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[TSP_WriteSameSrcNum]LUT Buff Not enough,u16Length[%u]\n\n",
               u16Length);
        return kTspErrLutFull;
    }
    for (U16 start = 0; start < u16Length;) {
        U16 end = start;
        while (end < u16Length && pu32SrcInfo[end] == pu32SrcInfo[start]) {
            ++end;
        }
        for (U16 i = start; i < end; ++i) {
            pu32SlotBuffer[i] = 0x100u | static_cast<U32>(end - start - 1);
        }
        start = end;
    }
    return 0;
}

U32 TSP_BuildOutputLUT(MuxLutTable* pstTable) {
    if (pstTable == nullptr) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    *pstTable = MuxLutTable{};
    try {
        MuxEntries entries;
        const std::size_t capacity = static_cast<std::size_t>(model->u32OutputPIDNumber) + model->u32OutputTSNumber;
        entries.dest.reserve(capacity);
        entries.src.reserve(capacity);
        const U8 eitSlot = Resource_GetEITBoardSlot();
        const bool eitBoard = eitSlot <= kMaxSlot;
        if (eitBoard) {
            CollectEitEntries(model, eitSlot, entries);
        } else {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "u8EITSlot[%d] is not exist. \r\n\n", eitSlot);
        }
        CollectPidEntries(model, eitBoard, entries, pstTable->unrouted);
        if (entries.src.size() > 0xFFFE) {
            entries.src.resize(0xFFFE);
            entries.dest.resize(0xFFFE);
        }
        const U16 n = static_cast<U16>(entries.src.size());
        // One spare word each, so even an empty build hands the steps real arrays.
        std::vector<U32> sorted(entries.src);
        sorted.push_back(0);
        std::vector<U16> positions(static_cast<std::size_t>(n) + 1);
        std::iota(positions.begin(), positions.end(), U16{0});
        if (const U32 rc = TSP_SortSrcInfo(sorted.data(), positions.data(), n); rc != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_SortSrcInfo return error\r\n\n");
            return rc;
        }
        std::vector<U32> dest(static_cast<std::size_t>(n) + 1, 0);
        for (U16 i = 0; i < n; ++i) {
            dest[i] = entries.dest[positions[i]];
        }
        if (const U32 rc = TSP_DelSameSrcInfo(dest.data(), sorted.data(), positions.data(), n); rc != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelSameSrcInfo return error\r\n\n");
            return rc;
        }
        U32 placed = 0;
        for (U16 i = 0; i < n; ++i) {
            if (positions[i] == kLutDropped) {
                continue;
            }
            if (placed == kMuxLutEntries) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "LUT PID Number[%u] out of range\r\n\n", placed);
                break;
            }
            pstTable->dest[placed] = dest[i];
            pstTable->src[placed] = sorted[i];
            ++placed;
        }
        pstTable->count = placed;
        if (const U32 rc = TSP_WriteSameSrcNum(pstTable->same.data(), pstTable->src.data(), static_cast<U16>(placed));
            rc != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteSameSrcNum return error\r\n\n");
            return rc;
        }
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "no memory for the mux table\r\n\n");
        return kTspErrMemory;
    }
    return 0;
}

U32 TSP_BuildByPassOutputLUT(BypassLutTable* pstTable) {
    if (pstTable == nullptr) {
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    *pstTable = BypassLutTable{};
    std::array<U32, kBypassLutEntries> keys{};
    std::array<U32, kBypassLutEntries> words{};
    U16 count = 0;
    for (U32 i = 0; i < model->u32OutputTSNumber; ++i) {
        const Output_TSStream& ts = model->pOutputTS[i];
        if (ts.u8ValidFlag != kRecordValid || ts.u8BypassFlag != 1) {
            continue;
        }
        if (count == kBypassLutEntries) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "LUT PID Number[%u] out of range\r\n\n", count);
            return kTspErrCount;
        }
        const U32 slot = LutSlot(ts.u8SrcSlotID);
        words[count] = (slot << 20) | ((ts.u16SrcStreamID & 0x3FFu) << 10) | (ts.u16ChannelID & 0x3FFu);
        keys[count] = (slot << 10) | (ts.u16SrcStreamID & 0x3FFu);
        ++count;
    }
    std::array<U16, kBypassLutEntries> positions{};
    std::iota(positions.begin(), positions.end(), U16{0});
    if (const U32 rc = TSP_SortSrcInfo(keys.data(), positions.data(), count); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_SortSrcInfo return error\r\n\n");
        return rc;
    }
    for (U16 i = 0; i < count; ++i) {
        pstTable->word[i] = words[positions[i]];
    }
    if (const U32 rc = TSP_WriteSameSrcNum(pstTable->same.data(), keys.data(), count); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_WriteSameSrcNum return error\r\n\n");
        return rc;
    }
    pstTable->count = count;
    return 0;
}

U32 TSP_SendOutputLUT() {
    LutWriter writer;
    for (U32 i = 0; i < kMuxLutEntries; ++i) {
        const U32 same = aru32slotBuffer2[i];
        const U32 src = aru32slotBuffer1[i];
        const U32 dest = aru32slotBuffer0[i];
        const U32 high = ((same & 0x1FFu) << 20) | (src >> 9);
        const U32 low = (src << 23) | dest;
        if (!writer.Entry(i | kLutMuxSelect, high, low) || !writer.Write(kRegLutStrobe, 0) ||
            !writer.Write(kRegLutStrobe, 1) || !writer.Write(kRegLutStrobe, 0)) {
            return writer.Result();
        }
        if (dest != 0) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "Mux LUT high[0x%x],low[0x%x]\r\n\n", high, low);
        }
    }
    writer.Commit();
    return writer.Result();
}

U32 TSP_SendByPassOutputLUT() {
    LutWriter writer;
    for (U32 i = 0; i < kBypassLutEntries; ++i) {
        const U32 same = aru32slotBypassBuffer1[i];
        if (!writer.Entry(i, same >> 6, (same << 26) | aru32slotBypassBuffer0[i]) || !writer.Write(kRegLutStrobe, 1) ||
            !writer.Write(kRegLutStrobe, 0)) {
            return writer.Result();
        }
    }
    writer.Commit();
    return writer.Result();
}

void TSP_FreeUnroutedPids(const MuxLutTable& stTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    for (const U32 index : stTable.unrouted) {
        if (index < model->u32OutputPIDNumber) {
            ModelPool_FreeRecord(model, ModelPool::Pid, index);
        }
    }
}

U32 TSP_DownloadOutputLUT(const MuxLutTable& stTable) {
    std::memcpy(aru32slotBuffer0, stTable.dest.data(), sizeof aru32slotBuffer0);
    std::memcpy(aru32slotBuffer1, stTable.src.data(), sizeof aru32slotBuffer1);
    std::memcpy(aru32slotBuffer2, stTable.same.data(), sizeof aru32slotBuffer2);
    return TSP_SendOutputLUT();
}

U32 TSP_DownloadByPassOutputLUT(const BypassLutTable& stTable) {
    std::memcpy(aru32slotBypassBuffer0, stTable.word.data(), sizeof aru32slotBypassBuffer0);
    std::memcpy(aru32slotBypassBuffer1, stTable.same.data(), sizeof aru32slotBypassBuffer1);
    return TSP_SendByPassOutputLUT();
}

U32 TSP_WriteOutputLUTInfo() {
    TSP_ModelLock lock;
    try {
        auto table = std::make_unique<MuxLutTable>();
        if (const U32 rc = TSP_BuildOutputLUT(table.get()); rc != 0) {
            return rc;
        }
        TSP_FreeUnroutedPids(*table);
        return TSP_DownloadOutputLUT(*table);
    } catch (const std::bad_alloc&) {
        return kTspErrMemory;
    }
}

U32 TSP_WriteByPassOutputLUTInfo() {
    TSP_ModelLock lock;
    BypassLutTable table;
    if (const U32 rc = TSP_BuildByPassOutputLUT(&table); rc != 0) {
        return rc;
    }
    return TSP_DownloadByPassOutputLUT(table);
}

void TSP_PrintMuxLUT() {
    for (U32 i = 0; i < kMuxLutEntries; ++i) {
        const U32 src = aru32slotBuffer1[i];
        const U32 dest = aru32slotBuffer0[i];
        if (src == 0 && dest == 0) {
            continue;
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS,
               "Mux LUT Num[%u],SrcSlot[%u],SrcChannel[0x%x],SrcPID[%u],DestChannel[%u],NewPID[%u]\r\n\n", i,
               (src >> 23) & 0x3F, (src >> 13) & 0x3FF, src & 0x1FFF, dest >> 13, dest & 0x1FFF);
    }
}

void TSP_PrintBypassLUT() {
    for (U32 i = 0; i < kBypassLutEntries; ++i) {
        const U32 word = aru32slotBypassBuffer0[i];
        if (word == 0) {
            continue;
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "Bypass LUT Num[%u],SrcSlot[%u],SrcChannel[0x%x],DestChannel[%u]\r\n\n",
               i, (word >> 20) & 0x3F, (word >> 10) & 0x3FF, word & 0x3FF);
    }
}

}  // namespace hx

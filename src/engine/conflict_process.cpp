#include "engine/conflict_process.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U16 kFirstFreePid = 0x33;
constexpr U16 kHighestOutputPid = 0x1FFE;
constexpr U16 kNullPid = 0x1FFF;
constexpr U16 kLastTablePid = 0x1F;
constexpr U16 kAtscBasePid = 0x1FFB;
constexpr U16 kMaxChannelNumber = 1023;
constexpr U32 kServiceIds = 65536;

// The PID-use map of the web test and of the record-by-record pass; touched
// only under the model lock.
U8 s_aru8PidUseFlag[kPidUseListSize];

bool AtscMode() { return Resource_GetSIMode() == kSiModeAtsc; }

bool BadStream(const Output_TSInfo* model, U16 ts) {
    if (model == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return true;
    }
    if (ts >= model->u32OutputTSNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutputTSIndex[%u] out of range\r\n\n", ts);
        return true;
    }
    return false;
}

// A stream of packets: source slot, source channel and input PID.
std::uint64_t PacketStream(U8 slot, U16 sourceChannel, U16 inputPid) {
    return static_cast<std::uint64_t>(slot) << 32 | static_cast<std::uint64_t>(sourceChannel) << 16 | inputPid;
}

std::uint64_t PacketStreamOf(const PidMuxInfo_t& info) {
    return PacketStream(info.u8SourceSlotID, info.u16SourceChannelID, info.u16InputPid);
}

// One PID-bearing record of a stream: the PMT or PCR of a program (their
// values live in the program record) or a PID record of types 3 to 7.
struct Entry {
    PIDTYPE_E type;
    U16 record;  // the program for a PMT or PCR, else the PID record
    std::uint64_t packets;
};

// Every entry of one stream in the order resolution visits them.
struct StreamEntries {
    std::vector<Entry> entries;
    std::vector<U16> programs;    // chain order
    std::vector<U32> programEnd;  // per program: one past its last entry
    U32 emmStart = 0;
    U32 otherStart = 0;
};

U16 ValueOf(const Output_TSInfo* model, const Entry& entry) {
    switch (entry.type) {
        case PID_TYPE_PMTPID: return model->pOutputProgram[entry.record].u16PMTPID;
        case PID_TYPE_PCRPID: return model->pOutputProgram[entry.record].u16PCRPID;
        default: return model->pOutputPID[entry.record].u16PID;
    }
}

// Whether a value takes its PID in a map: any PID a record can carry, but
// not a PCR of 0x1FFF, which means the program has no PCR.
bool Occupies(PIDTYPE_E type, U16 value) {
    return value <= kNullPid && !(type == PID_TYPE_PCRPID && value == kNullPid);
}

// What a use map shows: what one record sees during resolution, or the whole
// stream (the operator's check).
enum class View { Resolution, WholeStream };

// Whether an entry is left out of the map of a record on stream of packets
// `packets`: the record itself and every record of its stream of packets,
// whatever their kinds, so records of one stream never clash (a PCR that
// still counted against a PMT or ECM of its own stream would push that record
// away on every run, never settling).
bool LeftOut(const Entry& entry, std::uint64_t packets) { return entry.packets == packets; }

// Whether an entry takes a record's new PID with it: the PMT only itself; a
// PCR or an ES every PCR and ES of its stream of packets, but for a PCR of
// 0x1FFF, which says the program has none (it moves only when it is the
// record itself); an ECM, EMM or other PID the records of its own kind on its
// stream of packets.
bool MovesWith(const Output_TSInfo* model, const Entry& entry, PIDTYPE_E type, U16 record, std::uint64_t packets) {
    if (entry.packets != packets) {
        return false;
    }
    switch (type) {
        case PID_TYPE_PMTPID: return entry.type == PID_TYPE_PMTPID && entry.record == record;
        case PID_TYPE_PCRPID:
        case PID_TYPE_ESPID:
            if (entry.type == PID_TYPE_PCRPID) {
                return (type == PID_TYPE_PCRPID && entry.record == record) || ValueOf(model, entry) != kNullPid;
            }
            return entry.type == PID_TYPE_ESPID;
        default: return entry.type == type;
    }
}

void ApplyNewPid(Output_TSInfo* model, const Entry& entry, U16 pid) {
    switch (entry.type) {
        case PID_TYPE_PMTPID:
            model->pOutputProgram[entry.record].u16PMTPID = pid;
            break;
        case PID_TYPE_PCRPID: {
            Output_TSProgram& program = model->pOutputProgram[entry.record];
            program.u16PCRPID = pid;
            const U16 pcr = program.u16PCRIndex;
            if (pcr == kChainEnd) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "u16ProgramIndex[%u] has no pcr\r\n\n", entry.record);
            } else if (pcr < model->u32OutputPIDNumber && model->pOutputPID[pcr].u8PIDType == PID_TYPE_PCRPID) {
                model->pOutputPID[pcr].u16PID = pid;
            }
            break;
        }
        default:
            model->pOutputPID[entry.record].u16PID = pid;
            break;
    }
}

U32 WalkOrLog(U32 (*walker)(U16, const Output_TSInfo*, IndexInfoList*), const char* name, U16 owner,
              const Output_TSInfo* model, IndexInfoList* list) {
    const U32 result = walker(owner, model, list);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s fail, owner[%u]\r\n\n", name, owner);
    }
    return result;
}

#define WALK(walker, owner, list) WalkOrLog(walker, #walker, owner, model, list)

void AddPidEntry(const Output_TSInfo* model, PIDTYPE_E type, U16 index, StreamEntries* out) {
    const Output_TSPID& pid = model->pOutputPID[index];
    out->entries.push_back({type, index, PacketStream(pid.u8SourceSlotID, pid.u16SourceChannelID, pid.u16OldPID)});
}

U32 CollectEntries(U16 ts, const Output_TSInfo* model, StreamEntries* out) {
    *out = StreamEntries{};
    IndexInfoList programs;
    IndexInfoList streams;
    IndexInfoList ecms;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, ts, &programs); result != 0) {
        return result;
    }
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        const U16 index = programs.aru16IndexList[p];
        const Output_TSProgram& program = model->pOutputProgram[index];
        out->programs.push_back(index);
        out->entries.push_back(
            {PID_TYPE_PMTPID, index,
             PacketStream(program.u8SourceSlotID, program.u16SourceChannelID, program.u16OldPMTPID)});
        out->entries.push_back(
            {PID_TYPE_PCRPID, index,
             PacketStream(program.u8SourceSlotID, program.u16SourceChannelID, program.u16OldPCRPID)});
        if (const U32 result = WALK(TSP_GetOutProgESPIDIndexList, index, &streams); result != 0) {
            return result;
        }
        for (U16 e = 0; e < streams.u16IndexListNum; ++e) {
            if (const U32 result = WALK(TSP_GetOutESECMPIDIndexList, streams.aru16IndexList[e], &ecms); result != 0) {
                return result;
            }
            for (U16 c = 0; c < ecms.u16IndexListNum; ++c) {
                AddPidEntry(model, PID_TYPE_ES_ECMPID, ecms.aru16IndexList[c], out);
            }
            AddPidEntry(model, PID_TYPE_ESPID, streams.aru16IndexList[e], out);
        }
        if (const U32 result = WALK(TSP_GetOutProgPSECMPIDIndexList, index, &ecms); result != 0) {
            return result;
        }
        for (U16 c = 0; c < ecms.u16IndexListNum; ++c) {
            AddPidEntry(model, PID_TYPE_PS_ECMPID, ecms.aru16IndexList[c], out);
        }
        out->programEnd.push_back(static_cast<U32>(out->entries.size()));
    }
    out->emmStart = static_cast<U32>(out->entries.size());
    if (const U32 result = WALK(TSP_GetOutTSEMMPIDIndexList, ts, &streams); result != 0) {
        return result;
    }
    for (U16 i = 0; i < streams.u16IndexListNum; ++i) {
        AddPidEntry(model, PID_TYPE_EMMPID, streams.aru16IndexList[i], out);
    }
    out->otherStart = static_cast<U32>(out->entries.size());
    if (const U32 result = WALK(TSP_GetOutTSOtherPIDIndexList, ts, &streams); result != 0) {
        return result;
    }
    for (U16 i = 0; i < streams.u16IndexListNum; ++i) {
        AddPidEntry(model, PID_TYPE_OTHERPID, streams.aru16IndexList[i], out);
    }
    return 0;
}

// The entries [0, limit) a record sees during resolution: every program up to
// and including its own; for an EMM all programs and the EMMs before it; for
// an other PID also all EMMs and the other PIDs before it.
U32 VisibleLimit(const StreamEntries& stream, const PidMuxInfo_t& info) {
    auto position = [&](U32 from, U32 to) {
        for (U32 i = from; i < to; ++i) {
            if (stream.entries[i].record == info.u16OutPutOffest) {
                return i;
            }
        }
        return to;
    };
    switch (info.ePidType) {
        case PID_TYPE_EMMPID: return position(stream.emmStart, stream.otherStart);
        case PID_TYPE_OTHERPID: return position(stream.otherStart, static_cast<U32>(stream.entries.size()));
        default:
            for (std::size_t p = 0; p < stream.programs.size(); ++p) {
                if (stream.programs[p] == info.u16ProgramOffest) {
                    return stream.programEnd[p];
                }
            }
            return stream.emmStart;
    }
}

void BuildMap(const StreamEntries& stream, const Output_TSInfo* model, const PidMuxInfo_t& info, U32 limit, U8* map) {
    std::memset(map, 0, kPidUseListSize);
    if (AtscMode()) {
        map[kAtscBasePid] = 1;
    }
    const std::uint64_t packets = PacketStreamOf(info);
    for (U32 i = 0; i < limit; ++i) {
        const Entry& entry = stream.entries[i];
        if (LeftOut(entry, packets)) {
            continue;
        }
        const U16 value = ValueOf(model, entry);
        if (Occupies(entry.type, value)) {
            map[value] = 1;
        } else if (value != kNullPid) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Record[%u] type[%u] Pid[%u] error\r\n\n", entry.record,
                   entry.type, value);
        }
    }
}

// Whether a record keeps its current PID, `taken` telling what the map holds.
// Program and EMM records never keep a table PID or the null PID.
template <typename Taken>
bool KeepsPid(PIDTYPE_E type, U16 pid, Taken taken) {
    if (type == PID_TYPE_PCRPID && pid == kNullPid) {
        return true;
    }
    if (pid > kNullPid) {
        return false;
    }
    if (type != PID_TYPE_OTHERPID && (pid <= kLastTablePid || pid == kNullPid)) {
        return false;
    }
    return !taken(pid);
}

template <typename Taken>
bool FirstFreePid(Taken taken, U16* pid) {
    for (U16 candidate = kFirstFreePid; candidate <= kHighestOutputPid; ++candidate) {
        if (!taken(candidate)) {
            *pid = candidate;
            return true;
        }
    }
    return false;
}

U32 NoFreePid(U16 ts, U16 record) {
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutputTS[%u] record[%u] no free pid from 0x33 to 0x1FFE\r\n\n", ts,
           record);
    return kTspErrNoFreePid;
}

// The use map kept up to date through one pass over a stream: counts of the
// visible entries per PID, so a record's map is the counts less its own
// stream of packets, and a renumbering moves counts instead of rebuilding.
// Gives exactly what TSP_GetPidUseListByIndex gives for every record.
class IncrementalMap {
public:
    IncrementalMap(const StreamEntries& stream, Output_TSInfo* model)
        : stream_(stream), model_(model), atsc_(AtscMode()), counts_(kPidUseListSize), excluded_(kPidUseListSize) {
        byPackets_.reserve(stream.entries.size());
        for (U32 i = 0; i < stream.entries.size(); ++i) {
            byPackets_.push_back({stream.entries[i].packets, i});
        }
        std::sort(byPackets_.begin(), byPackets_.end());
    }

    // Makes entries [0, limit) visible.
    void ShowUpTo(U32 limit) {
        for (; shown_ < limit; ++shown_) {
            Count(stream_.entries[shown_], ValueOf(model_, stream_.entries[shown_]), true);
        }
    }

    // Takes the entries the record does not see out of the counts.
    void Exclude(const Entry& record) {
        for (const auto& [packets, i] : SamePackets(record.packets)) {
            const Entry& entry = stream_.entries[i];
            if (i < shown_ && LeftOut(entry, record.packets)) {
                const U16 value = ValueOf(model_, entry);
                if (Occupies(entry.type, value)) {
                    ++excluded_[value];
                    touched_.push_back(value);
                }
            }
        }
    }

    void Restore() {
        for (U16 value : touched_) {
            excluded_[value] = 0;
        }
        touched_.clear();
    }

    bool Taken(U16 pid) const { return counts_[pid] > excluded_[pid] || (atsc_ && pid == kAtscBasePid); }

    // The first PID from 0x33 to 0x1FFE the record may take: the first one no
    // visible entry holds (64 at a time), unless one held only by the
    // record's own stream of packets comes earlier. What TSP_GetPidUseListByIndex
    // and a scan from 0x33 give.
    bool FirstFree(U16* pid) const {
        U32 best = kHighestOutputPid + 1u;
        for (U32 word = kFirstFreePid / 64; word < occupied_.size() && best > kHighestOutputPid; ++word) {
            std::uint64_t free = ~occupied_[word];
            if (word == kFirstFreePid / 64) {
                free &= ~std::uint64_t{0} << (kFirstFreePid % 64);
            }
            while (free != 0) {
                const U32 candidate = word * 64 + static_cast<U32>(std::countr_zero(free));
                free &= free - 1;
                if (candidate <= kHighestOutputPid && !(atsc_ && candidate == kAtscBasePid)) {
                    best = candidate;
                    break;
                }
            }
        }
        for (U16 value : touched_) {
            if (value >= kFirstFreePid && value < best && !Taken(value)) {
                best = value;
            }
        }
        if (best > kHighestOutputPid) {
            return false;
        }
        *pid = static_cast<U16>(best);
        return true;
    }

    void Move(const Entry& record, U16 pid) {
        for (const auto& [packets, i] : SamePackets(record.packets)) {
            const Entry& entry = stream_.entries[i];
            if (!MovesWith(model_, entry, record.type, record.record, record.packets)) {
                continue;
            }
            const bool visible = i < shown_;
            if (visible) {
                Count(entry, ValueOf(model_, entry), false);
            }
            ApplyNewPid(model_, entry, pid);
            if (visible) {
                Count(entry, pid, true);
            }
        }
    }

private:
    using Keyed = std::pair<std::uint64_t, U32>;

    std::span<const Keyed> SamePackets(std::uint64_t packets) const {
        const auto [first, last] = std::equal_range(byPackets_.begin(), byPackets_.end(), Keyed{packets, 0},
                                                    [](const Keyed& a, const Keyed& b) { return a.first < b.first; });
        return {first, last};
    }

    void Count(const Entry& entry, U16 value, bool add) {
        if (!Occupies(entry.type, value)) {
            return;
        }
        if (add) {
            ++counts_[value];
        } else {
            --counts_[value];
        }
        const std::uint64_t bit = std::uint64_t{1} << (value % 64);
        occupied_[value / 64] = counts_[value] != 0 ? occupied_[value / 64] | bit : occupied_[value / 64] & ~bit;
    }

    const StreamEntries& stream_;
    Output_TSInfo* model_;
    bool atsc_;
    std::vector<U32> counts_;
    std::array<std::uint64_t, kPidUseListSize / 64> occupied_{};  // counts_ above 0
    std::vector<U32> excluded_;
    std::vector<U16> touched_;
    std::vector<Keyed> byPackets_;
    U32 shown_ = 0;
};

}  // namespace

U32 TSP_CheckOutPidInfo(PIDTYPE_E ePidType, U16 u16PidOffset, const Output_TSInfo* pstParamTS) {
    if (pstParamTS == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    const bool program = ePidType == PID_TYPE_PMTPID || ePidType == PID_TYPE_PCRPID;
    const bool pid = ePidType >= PID_TYPE_ESPID && ePidType <= PID_TYPE_OTHERPID;
    const U32 count = program ? pstParamTS->u32OutputProgramNumber : pstParamTS->u32OutputPIDNumber;
    if ((!program && !pid) || u16PidOffset >= count) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "ePidType[%u] u16PidOffset[%u] out of range\r\n\n", ePidType,
               u16PidOffset);
        return kTspErrInput;
    }
    return 0;
}

U32 TSP_GetPidMuxInfo(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, const Output_TSInfo* pstParamTS,
                      PidMuxInfo_t* pstPidMuxInfo) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (pstPidMuxInfo == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    if (const U32 result = TSP_CheckOutPidInfo(ePidType, u16PidOffset, pstParamTS); result != 0) {
        return result;
    }
    PidMuxInfo_t info{};
    info.ePidType = ePidType;
    info.u16OutPutOffest = u16PidOffset;
    if (ePidType == PID_TYPE_PMTPID || ePidType == PID_TYPE_PCRPID) {
        const Output_TSProgram& program = pstParamTS->pOutputProgram[u16PidOffset];
        const bool pmt = ePidType == PID_TYPE_PMTPID;
        info.u16ProgramOffest = u16PidOffset;
        info.u8SourceSlotID = program.u8SourceSlotID;
        info.u16SourceChannelID = program.u16SourceChannelID;
        info.u16InputPid = pmt ? program.u16OldPMTPID : program.u16OldPCRPID;
        info.u16NewOutPutPid = pmt ? program.u16PMTPID : program.u16PCRPID;
    } else {
        const Output_TSPID& pid = pstParamTS->pOutputPID[u16PidOffset];
        if (pid.u8PIDType != ePidType) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                   "TSP_GetPidMuxInfo u8OutputTSIndex:%u u16PidOffset:%d ePidType:%u PidType error\r\n\n",
                   u16OutputTSIndex, u16PidOffset, ePidType);
            return kTspErrInput;
        }
        const bool ofProgram = ePidType != PID_TYPE_EMMPID && ePidType != PID_TYPE_OTHERPID;
        info.u16ProgramOffest = ofProgram ? static_cast<U16>(pid.u32ProgramIndex) : kChainEnd;
        info.u8SourceSlotID = pid.u8SourceSlotID;
        info.u16SourceChannelID = pid.u16SourceChannelID;
        info.u16InputPid = pid.u16OldPID;
        info.u16NewOutPutPid = pid.u16PID;
    }
    *pstPidMuxInfo = info;
    return 0;
}

namespace {

U32 UseList(const PidMuxInfo_t* info, U16 ts, U16 length, const Output_TSInfo* model, U8* list, View view) {
    if (info == nullptr || list == nullptr || length < kPidUseListSize) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR u16BuffLen[%u]\r\n\n", length);
        return kTspErrInput;
    }
    if (BadStream(model, ts)) {
        return kTspErrInput;
    }
    StreamEntries stream;
    if (const U32 result = CollectEntries(ts, model, &stream); result != 0) {
        return result;
    }
    const U32 limit = view == View::Resolution ? VisibleLimit(stream, *info) : static_cast<U32>(stream.entries.size());
    BuildMap(stream, model, *info, limit, list);
    return 0;
}

}  // namespace

U32 TSP_GetPidUseListByIndex(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16BuffLen,
                             const Output_TSInfo* pstParamTS, U8* aru8PidList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    return UseList(pstPidMuxInfo, u16OutTSIndex, u16BuffLen, pstParamTS, aru8PidList, View::Resolution);
}

U32 TSP_GetPidUseListByOutputTsIdex(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16BuffLen,
                                    const Output_TSInfo* pstParamTS, U8* aru8PidList) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    return UseList(pstPidMuxInfo, u16OutTSIndex, u16BuffLen, pstParamTS, aru8PidList, View::WholeStream);
}

U32 TSP_ModifyOutputTSNewPid(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutTSIndex, U16 u16NewPid,
                             Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (u16NewPid > kHighestOutputPid || pstPidMuxInfo == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NewPid:%d error\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    if (BadStream(pstParamTS, u16OutTSIndex)) {
        return kTspErrInput;
    }
    StreamEntries stream;
    if (const U32 result = CollectEntries(u16OutTSIndex, pstParamTS, &stream); result != 0) {
        return result;
    }
    const std::uint64_t packets = PacketStreamOf(*pstPidMuxInfo);
    for (const Entry& entry : stream.entries) {
        if (MovesWith(pstParamTS, entry, pstPidMuxInfo->ePidType, pstPidMuxInfo->u16OutPutOffest, packets)) {
            ApplyNewPid(pstParamTS, entry, u16NewPid);
        }
    }
    return 0;
}

U32 TSP_ModifyBroadcastPid(U16 u16OutTSIndex, const PidMuxInfo_t* pstPidMuxInfo, U16 u16NewPid,
                           Output_TSInfo* pstParamTS) {
    if (u16NewPid > kHighestOutputPid) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NewPid:%d error\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    return TSP_ModifyOutputTSNewPid(pstPidMuxInfo, u16OutTSIndex, u16NewPid, pstParamTS);
}

U32 TSP_CheckPidConflict(const PidMuxInfo_t* pstPidMuxInfo, U16 u16OutputTSIndex, U16 u16NewPid,
                         const Output_TSInfo* pstParamTS, BOOL* pbIsConflict) {
    TSP_ModelLock lock;
    if (pbIsConflict == nullptr || u16NewPid >= kPidUseListSize) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR NewPid[%u]\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    if (const U32 result = TSP_GetPidUseListByOutputTsIdex(pstPidMuxInfo, u16OutputTSIndex, kPidUseListSize,
                                                           pstParamTS, s_aru8PidUseFlag);
        result != 0) {
        return result;
    }
    *pbIsConflict = s_aru8PidUseFlag[u16NewPid] != 0 ? HX_TRUE : HX_FALSE;
    return 0;
}

U32 TSP_CheckOutputPidConflict(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16PidOffset, U16 u16NewPid,
                               Output_TSInfo* pstParamTS, U8* pu8Flag) {
    TSP_ModelLock lock;
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (u16NewPid > kHighestOutputPid) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NewPid:%d error\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    // PAT, CAT, NIT, SDT and the other tables live on 0x0000-0x001F: no
    // program or EMM PID may go there.
    if (ePidType != PID_TYPE_OTHERPID && u16NewPid <= kLastTablePid) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "NewPid:%d error, reserved for tables\r\n\n", u16NewPid);
        return kTspErrInput;
    }
    if (pu8Flag == nullptr || BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    PidMuxInfo_t info{};
    if (const U32 result = TSP_GetPidMuxInfo(u16OutputTSIndex, ePidType, u16PidOffset, pstParamTS, &info);
        result != 0) {
        return result;
    }
    BOOL conflict = HX_FALSE;
    if (const U32 result = TSP_CheckPidConflict(&info, u16OutputTSIndex, u16NewPid, pstParamTS, &conflict);
        result != 0) {
        return result;
    }
    if (conflict) {
        *pu8Flag = 2;
        return 0;
    }
    return TSP_ModifyBroadcastPid(u16OutputTSIndex, &info, u16NewPid, pstParamTS);
}

U32 TSP_AddOutputPidHandlePid(U16 u16OutputTSIndex, PIDTYPE_E ePidType, U16 u16ProgramOffset, U16 u16PidOffset,
                              Output_TSInfo* pstParamTS) {
    TSP_ModelLock lock;
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    std::memset(s_aru8PidUseFlag, 0, sizeof s_aru8PidUseFlag);
    PidMuxInfo_t info{};
    if (const U32 result = TSP_GetPidMuxInfo(u16OutputTSIndex, ePidType, u16PidOffset, pstParamTS, &info);
        result != 0) {
        return result;
    }
    info.u16ProgramOffest = u16ProgramOffset;
    if (const U32 result =
            TSP_GetPidUseListByIndex(&info, u16OutputTSIndex, kPidUseListSize, pstParamTS, s_aru8PidUseFlag);
        result != 0) {
        return result;
    }
    auto taken = [](U16 pid) { return s_aru8PidUseFlag[pid] != 0; };
    if (KeepsPid(ePidType, info.u16NewOutPutPid, taken)) {
        return 0;
    }
    U16 fresh = 0;
    if (!FirstFreePid(taken, &fresh)) {
        return NoFreePid(u16OutputTSIndex, u16PidOffset);
    }
    return TSP_ModifyOutputTSNewPid(&info, u16OutputTSIndex, fresh, pstParamTS);
}

U32 TSP_AddOutputProgramHandlePid(U16 u16OutputTSIndex, U16 u16ProgramOffset, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    if (u16ProgramOffset >= pstParamTS->u32OutputProgramNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error, program[%u] out of range\r\n\n", u16ProgramOffset);
        return kTspErrInput;
    }
    const Output_TSInfo* model = pstParamTS;
    auto handle = [&](PIDTYPE_E type, U16 record) {
        const U32 result = TSP_AddOutputPidHandlePid(u16OutputTSIndex, type, u16ProgramOffset, record, pstParamTS);
        if (result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutputTS[%u] type[%u] record[%u] return error\r\n\n",
                   u16OutputTSIndex, type, record);
        }
        return result;
    };
    for (PIDTYPE_E type : {PID_TYPE_PMTPID, PID_TYPE_PCRPID}) {
        if (const U32 result = handle(type, u16ProgramOffset); result != 0) {
            return result;
        }
    }
    IndexInfoList streams;
    IndexInfoList ecms;
    if (const U32 result = WALK(TSP_GetOutProgESPIDIndexList, u16ProgramOffset, &streams); result != 0) {
        return result;
    }
    for (U16 e = 0; e < streams.u16IndexListNum; ++e) {
        if (const U32 result = WALK(TSP_GetOutESECMPIDIndexList, streams.aru16IndexList[e], &ecms); result != 0) {
            return result;
        }
        for (U16 c = 0; c < ecms.u16IndexListNum; ++c) {
            if (const U32 result = handle(PID_TYPE_ES_ECMPID, ecms.aru16IndexList[c]); result != 0) {
                return result;
            }
        }
        if (const U32 result = handle(PID_TYPE_ESPID, streams.aru16IndexList[e]); result != 0) {
            return result;
        }
    }
    if (const U32 result = WALK(TSP_GetOutProgPSECMPIDIndexList, u16ProgramOffset, &ecms); result != 0) {
        return result;
    }
    for (U16 c = 0; c < ecms.u16IndexListNum; ++c) {
        if (const U32 result = handle(PID_TYPE_PS_ECMPID, ecms.aru16IndexList[c]); result != 0) {
            return result;
        }
    }
    return 0;
}

U32 TSP_AddOutputTSHandlePidPerRecord(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    const Output_TSInfo* model = pstParamTS;
    IndexInfoList list;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, u16OutputTSIndex, &list); result != 0) {
        return result;
    }
    for (U16 p = 0; p < list.u16IndexListNum; ++p) {
        if (const U32 result = TSP_AddOutputProgramHandlePid(u16OutputTSIndex, list.aru16IndexList[p], pstParamTS);
            result != 0) {
            return result;
        }
    }
    for (const PIDTYPE_E type : {PID_TYPE_EMMPID, PID_TYPE_OTHERPID}) {
        const U32 walked = type == PID_TYPE_EMMPID ? WALK(TSP_GetOutTSEMMPIDIndexList, u16OutputTSIndex, &list)
                                                   : WALK(TSP_GetOutTSOtherPIDIndexList, u16OutputTSIndex, &list);
        if (walked != 0) {
            return walked;
        }
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            if (const U32 result =
                    TSP_AddOutputPidHandlePid(u16OutputTSIndex, type, kChainEnd, list.aru16IndexList[i], pstParamTS);
                result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutputTS[%u] type[%u] record[%u] return error\r\n\n",
                       u16OutputTSIndex, type, list.aru16IndexList[i]);
                return result;
            }
        }
    }
    return 0;
}

U32 TSP_AddOutputTSHandlePid(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    StreamEntries stream;
    if (const U32 result = CollectEntries(u16OutputTSIndex, pstParamTS, &stream); result != 0) {
        return result;
    }
    IncrementalMap map(stream, pstParamTS);
    auto taken = [&map](U16 pid) { return map.Taken(pid); };
    std::size_t program = 0;
    for (U32 i = 0; i < stream.entries.size(); ++i) {
        const Entry& record = stream.entries[i];
        U32 limit = i;
        if (i < stream.emmStart) {
            while (i >= stream.programEnd[program]) {
                ++program;
            }
            limit = stream.programEnd[program];
        }
        map.ShowUpTo(limit);
        map.Exclude(record);
        U16 fresh = 0;
        const bool keeps = KeepsPid(record.type, ValueOf(pstParamTS, record), taken);
        const bool found = keeps || map.FirstFree(&fresh);
        map.Restore();
        if (!found) {
            return NoFreePid(u16OutputTSIndex, record.record);
        }
        if (!keeps) {
            map.Move(record, fresh);
        }
    }
    return 0;
}

U32 TSP_AddOutputTSHandleServID(U16 u16OutputTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutputTSIndex)) {
        return kTspErrInput;
    }
    const Output_TSInfo* model = pstParamTS;
    IndexInfoList programs;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, u16OutputTSIndex, &programs); result != 0) {
        return result;
    }
    std::array<U32, kServiceIds / 32> taken{};
    auto isTaken = [&](U32 id) { return (taken[id / 32] >> (id % 32) & 1) != 0; };
    auto take = [&](U32 id) { taken[id / 32] |= 1u << (id % 32); };
    // 0 marks the NIT in a PAT: it is never a service's ID.
    take(0);
    // IDs are only ever taken during the pass, so the lowest free one never
    // moves down: the search goes on from where the last one ended.
    U32 lowestFree = 1;
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        Output_TSProgram& program = pstParamTS->pOutputProgram[programs.aru16IndexList[p]];
        if (isTaken(program.u16ServiceID)) {
            while (lowestFree < kServiceIds && isTaken(lowestFree)) {
                ++lowestFree;
            }
            // At most 300 programs: a free ID is always found.
            program.u16ServiceID = static_cast<U16>(lowestFree);
        }
        take(program.u16ServiceID);
    }
    return 0;
}

namespace {

U32 ChannelPair(const Output_TSProgram& program) {
    return static_cast<U32>(program.u16MajorChannelNum) << 16 | program.u16MinorChannelNum;
}

}  // namespace

U32 TSP_AddOutProgHandleChannelNum(U16 u16OutTSIndex, U16 u16ProgramOffset, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutTSIndex)) {
        return kTspErrInput;
    }
    if (u16ProgramOffset >= pstParamTS->u32OutputProgramNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error, program[%u] out of range\r\n\n", u16ProgramOffset);
        return kTspErrInput;
    }
    const Output_TSInfo* model = pstParamTS;
    IndexInfoList programs;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, u16OutTSIndex, &programs); result != 0) {
        return result;
    }
    Output_TSProgram& program = pstParamTS->pOutputProgram[u16ProgramOffset];
    std::vector<U32> held;
    bool clash = program.u16MajorChannelNum > kMaxChannelNumber || program.u16MinorChannelNum > kMaxChannelNumber;
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        const U32 pair = ChannelPair(pstParamTS->pOutputProgram[programs.aru16IndexList[p]]);
        held.push_back(pair);
        clash = clash || (programs.aru16IndexList[p] != u16ProgramOffset && pair == ChannelPair(program));
    }
    if (!clash) {
        return 0;
    }
    held.push_back(ChannelPair(program));
    std::sort(held.begin(), held.end());
    for (U32 major = 0; major <= kMaxChannelNumber; ++major) {
        for (U32 minor = 0; minor <= kMaxChannelNumber; ++minor) {
            if (!std::binary_search(held.begin(), held.end(), major << 16 | minor)) {
                program.u16MajorChannelNum = static_cast<U16>(major);
                program.u16MinorChannelNum = static_cast<U16>(minor);
                return 0;
            }
        }
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutputTS[%u] program[%u] no free channel number\r\n\n",
           u16OutTSIndex, u16ProgramOffset);
    return kTspErrChannelNumber;
}

U32 TSP_AddOutTSHandleChannelNum(U16 u16OutTSIndex, Output_TSInfo* pstParamTS) {
    HX_MODEL_LOCK_REQUIRED_FOR(pstParamTS);
    if (BadStream(pstParamTS, u16OutTSIndex)) {
        return kTspErrInput;
    }
    const Output_TSInfo* model = pstParamTS;
    IndexInfoList programs;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, u16OutTSIndex, &programs); result != 0) {
        return result;
    }
    // The pairs the stream's programs hold, with how many hold each: what
    // TSP_AddOutProgHandleChannelNum finds by a walk for every program.
    std::map<U32, U32> held;
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        ++held[ChannelPair(pstParamTS->pOutputProgram[programs.aru16IndexList[p]])];
    }
    // Last to first, so the program earliest in the chain keeps a clashing pair.
    for (int p = programs.u16IndexListNum - 1; p >= 0; --p) {
        const U16 index = programs.aru16IndexList[p];
        Output_TSProgram& program = pstParamTS->pOutputProgram[index];
        const U32 pair = ChannelPair(program);
        if (program.u16MajorChannelNum > kMaxChannelNumber || program.u16MinorChannelNum > kMaxChannelNumber ||
            held[pair] > 1) {
            U32 free = 0;
            auto holder = held.begin();
            for (;;) {
                while (holder != held.end() && holder->first < free) {
                    ++holder;
                }
                if (holder == held.end() || holder->first != free) {
                    break;
                }
                free = (free & 0xFFFF) < kMaxChannelNumber ? free + 1 : ((free >> 16) + 1) << 16;
                if ((free >> 16) > kMaxChannelNumber) {
                    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                           "OutputTS[%u] program[%u] no free channel number\r\n\n", u16OutTSIndex, index);
                    return kTspErrChannelNumber;
                }
            }
            if (--held[pair] == 0) {
                held.erase(pair);
            }
            ++held[free];
            program.u16MajorChannelNum = static_cast<U16>(free >> 16);
            program.u16MinorChannelNum = static_cast<U16>(free & 0xFFFF);
        }
        program.u16ChannelTSID = pstParamTS->pOutputTS[u16OutTSIndex].u16TransportStreamID;
    }
    return 0;
}

namespace {

// The program's PCR PID from its PCR record, the one the routing table sends
// the PCR to; a program without a PCR record keeps its own value.
U32 AlignPcrPids(U16 ts, Output_TSInfo* live) {
    const Output_TSInfo* model = live;
    IndexInfoList programs;
    if (const U32 result = WALK(TSP_GetOutTSProgIndexList, ts, &programs); result != 0) {
        return result;
    }
    for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
        Output_TSProgram& program = live->pOutputProgram[programs.aru16IndexList[p]];
        const U16 pcr = program.u16PCRIndex;
        if (pcr >= live->u32OutputPIDNumber || live->pOutputPID[pcr].u8ValidFlag != kRecordValid ||
            live->pOutputPID[pcr].u8PIDType != PID_TYPE_PCRPID || live->pOutputPID[pcr].u16PID == program.u16PCRPID) {
            continue;
        }
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "program[%u] PCR PID[%u] follows its PCR record[%u]\r\n\n",
               programs.aru16IndexList[p], program.u16PCRPID, live->pOutputPID[pcr].u16PID);
        program.u16PCRPID = live->pOutputPID[pcr].u16PID;
    }
    return 0;
}

}  // namespace

ConflictSnapshot::ConflictSnapshot(const Output_TSInfo& model) {
    programs_.reserve(model.u32OutputProgramNumber);
    for (U32 i = 0; i < model.u32OutputProgramNumber; ++i) {
        const Output_TSProgram& program = model.pOutputProgram[i];
        programs_.push_back({program.u16ServiceID, program.u16PMTPID, program.u16PCRPID, program.u16MajorChannelNum,
                             program.u16MinorChannelNum, program.u16ChannelTSID});
    }
    pids_.reserve(model.u32OutputPIDNumber);
    for (U32 i = 0; i < model.u32OutputPIDNumber; ++i) {
        pids_.push_back(model.pOutputPID[i].u16PID);
    }
}

void ConflictSnapshot::Restore(Output_TSInfo* model) const {
    for (std::size_t i = 0; i < programs_.size() && i < model->u32OutputProgramNumber; ++i) {
        Output_TSProgram& program = model->pOutputProgram[i];
        const ProgramValues& kept = programs_[i];
        program.u16ServiceID = kept.serviceId;
        program.u16PMTPID = kept.pmtPid;
        program.u16PCRPID = kept.pcrPid;
        program.u16MajorChannelNum = kept.major;
        program.u16MinorChannelNum = kept.minor;
        program.u16ChannelTSID = kept.channelTsId;
    }
    for (std::size_t i = 0; i < pids_.size() && i < model->u32OutputPIDNumber; ++i) {
        model->pOutputPID[i].u16PID = pids_[i];
    }
}

U32 TSP_ConflictProcess() {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    const bool atsc = AtscMode();
    for (U32 index = 0; index < live->u32OutputTSNumber; ++index) {
        const Output_TSStream& ts = live->pOutputTS[index];
        if (ts.u8ValidFlag != kRecordValid || ts.u8BypassFlag == 1) {
            continue;
        }
        const U16 tsIndex = static_cast<U16>(index);
        if (const U32 result = TSP_AddOutputTSHandleServID(tsIndex, live); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddOutputTSHandleServID return error\r\n\n");
            return result;
        }
        if (const U32 result = AlignPcrPids(tsIndex, live); result != 0) {
            return result;
        }
        if (const U32 result = TSP_AddOutputTSHandlePid(tsIndex, live); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddOutputTSHandlePid return error\r\n\n");
            return result;
        }
        if (atsc) {
            if (const U32 result = TSP_AddOutTSHandleChannelNum(tsIndex, live); result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_AddOutTSHandleChannelNum return error\r\n\n");
                return result;
            }
        }
    }
    return 0;
}

}  // namespace hx

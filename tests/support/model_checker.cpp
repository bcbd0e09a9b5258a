#include "support/model_checker.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>

#include "engine/model_lock.h"
#include "engine/output_model.h"

namespace hx::test {

namespace {

constexpr std::size_t kMaxViolations = 1000;

class Checker {
public:
    explicit Checker(const Output_TSInfo& model)
        : model_(model),
          programSeen_(model.u32OutputProgramNumber, 0),
          pidSeen_(model.u32OutputPIDNumber, 0),
          tableSeen_(model.u32OutputTableNumber, 0),
          descriptorSeen_(model.u32OutputDescriptorNumber, 0),
          programStamp_(model.u32OutputProgramNumber, 0),
          pidStamp_(model.u32OutputPIDNumber, 0),
          tableStamp_(model.u32OutputTableNumber, 0),
          descriptorStamp_(model.u32OutputDescriptorNumber, 0) {}

    std::vector<std::string> Run() {
        CheckStreams();
        CheckMembership();
        CheckFreeRecords();
        return std::move(violations_);
    }

private:
    void Report(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (violations_.size() >= kMaxViolations) {
            return;
        }
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        violations_.emplace_back(text);
    }

    // Follows one chain: `next` gives the link after a member. Stops at the
    // end mark, a link out of range or a repeated member; returns the members.
    std::vector<U32> Walk(const char* what, U32 owner, U32 head, U32 poolCount, std::vector<U32>& stamps,
                          const std::function<U32(U32)>& next, U32 end) {
        std::vector<U32> members;
        const U32 walk = ++walkId_;
        U32 index = head;
        while (index != end) {
            if (index >= poolCount) {
                Report("%s of [%u]: link %u out of range (pool of %u)", what, owner, index, poolCount);
                break;
            }
            if (stamps[index] == walk) {
                Report("%s of [%u]: cycle at %u", what, owner, index);
                break;
            }
            stamps[index] = walk;
            members.push_back(index);
            index = next(index);
        }
        return members;
    }

    void CheckCount(const char* what, U32 owner, std::size_t length, U32 count, std::size_t limit) {
        if (length != count) {
            Report("%s of [%u]: %zu members, count %u", what, owner, length, count);
        }
        if (length > limit) {
            Report("%s of [%u]: %zu members, beyond the walkers' %zu", what, owner, length, limit);
        }
    }

    // A PID chain of an owner; checks each member and returns the valid ones.
    std::vector<U32> PidChain(const char* what, U32 owner, U16 count, U16 head, U8 type,
                              const std::function<bool(const Output_TSPID&)>& backLink) {
        if (count == 0) {
            return {};
        }
        const std::vector<U32> members =
            Walk(what, owner, head, model_.u32OutputPIDNumber, pidStamp_,
                 [&](U32 at) { return static_cast<U32>(static_cast<U16>(model_.pOutputPID[at].u32NextPIDIndex)); },
                 kChainEnd);
        CheckCount(what, owner, members.size(), count, kIndexListSize);
        std::vector<U32> valid;
        for (U32 index : members) {
            const Output_TSPID& pid = model_.pOutputPID[index];
            if (pid.u8ValidFlag != kRecordValid || pid.u8PIDType != type) {
                Report("%s of [%u]: PID %u valid %u type %u, expected a valid type %u", what, owner, index,
                       pid.u8ValidFlag, pid.u8PIDType, type);
                continue;
            }
            if (pid.u32PIDIndex != index) {
                Report("%s of [%u]: PID %u names itself %u", what, owner, index, pid.u32PIDIndex);
            }
            if (!backLink(pid)) {
                Report("%s of [%u]: PID %u does not name its owner", what, owner, index);
            }
            ++pidSeen_[index];
            valid.push_back(index);
        }
        return valid;
    }

    void CheckStreams() {
        // Few streams: a map, not a table of every channel (the fuzz targets
        // run the checker after every message).
        std::map<U16, U32> channelOwner;
        for (U32 t = 0; t < model_.u32OutputTSNumber; ++t) {
            const Output_TSStream& ts = model_.pOutputTS[t];
            if (ts.u8ValidFlag != kRecordValid) {
                continue;
            }
            if (const auto [owner, added] = channelOwner.emplace(ts.u16ChannelID, t); !added) {
                Report("TS[%u] shares channel %u with TS[%u]", t, ts.u16ChannelID, owner->second);
            }
            CheckPrograms(t, ts);
            PidChain("other PIDs", t, ts.u16OtherPIDNum, ts.u16OtherPIDIndex, PID_TYPE_OTHERPID,
                     [&](const Output_TSPID& pid) { return pid.u32TSIndex == t; });
            PidChain("EMM PIDs", t, ts.u16EMMPIDNumber, ts.u16EMMPIDIndex, PID_TYPE_EMMPID,
                     [&](const Output_TSPID& pid) { return pid.u32TSIndex == t; });
            CheckDescriptors(t, ts);
            const std::pair<const char*, U16> tables[] = {{"NIT", ts.u16NITIndex},       {"BAT", ts.u16BATIndex},
                                                          {"TDT", ts.u16TDTIndex},       {"TOT", ts.u16TOTIndex},
                                                          {"other NIT", ts.u16OtherNITIndex},
                                                          {"other SDT", ts.u16OtherSDTIndex}};
            for (const auto& [name, head] : tables) {
                CheckTables(name, t, head);
            }
        }
    }

    void CheckPrograms(U32 t, const Output_TSStream& ts) {
        if (ts.u16ProgramNum == 0) {
            return;
        }
        const std::vector<U32> members = Walk(
            "programs", t, ts.u16ProgramIndex, model_.u32OutputProgramNumber, programStamp_,
            [&](U32 at) { return static_cast<U32>(model_.pOutputProgram[at].u16NextProgramIndex); }, kChainEnd);
        CheckCount("programs", t, members.size(), ts.u16ProgramNum, kIndexListSize);
        for (U32 p : members) {
            const Output_TSProgram& program = model_.pOutputProgram[p];
            if (program.u8ValidFlag != kRecordValid) {
                Report("programs of [%u]: program %u not valid", t, p);
                continue;
            }
            if (program.u16ProgramIndex != p) {
                Report("programs of [%u]: program %u names itself %u", t, p, program.u16ProgramIndex);
            }
            if (program.u16TSIndex != t) {
                Report("program %u names TS %u, is on TS %u", p, program.u16TSIndex, t);
            }
            ++programSeen_[p];
            CheckProgram(t, p, program);
        }
    }

    void CheckProgram(U32 t, U32 p, const Output_TSProgram& program) {
        if (program.u16PCRIndex != kChainEnd) {
            const U32 pcr = program.u16PCRIndex;
            if (pcr >= model_.u32OutputPIDNumber) {
                Report("program %u: PCR link %u out of range", p, pcr);
            } else if (model_.pOutputPID[pcr].u8ValidFlag != kRecordValid ||
                       model_.pOutputPID[pcr].u8PIDType != PID_TYPE_PCRPID ||
                       model_.pOutputPID[pcr].u32ProgramIndex != p) {
                Report("program %u: PCR %u is not its valid PCR record", p, pcr);
            } else {
                ++pidSeen_[pcr];
            }
        }
        auto ofProgram = [&](const Output_TSPID& pid) { return pid.u32ProgramIndex == p && pid.u32TSIndex == t; };
        PidChain("program ECMs", p, program.u16PSECMPIDNumber, program.u16PSECMPIDIndex, PID_TYPE_PS_ECMPID,
                 ofProgram);
        const std::vector<U32> streams =
            PidChain("ESs", p, program.u16ESNumber, program.u16PIDIndex, PID_TYPE_ESPID, ofProgram);
        for (U32 e : streams) {
            const Output_TSPID& es = model_.pOutputPID[e];
            PidChain("ES ECMs", e, es.u16ESECMPIDNumber, es.u16ESECMPIDIndex, PID_TYPE_ES_ECMPID,
                     [&](const Output_TSPID& pid) { return pid.u16ESPIDIndex == e && pid.u32ProgramIndex == p; });
            CheckOwnedDescriptor("ES", e, es.u16ESInfoDescriptorIndex, t,
                                 [&](const TSDescriptor& d) { return d.u16PIDIndex == e; });
        }
        CheckOwnedDescriptor("program", p, program.u16ProgramInfoDescriptorIndex, t,
                             [&](const TSDescriptor& d) { return d.u16ProgramIndex == p; });
    }

    void CheckOwnedDescriptor(const char* owner, U32 index, U16 descriptor, U32 t,
                              const std::function<bool(const TSDescriptor&)>& namesOwner) {
        if (descriptor == kChainEnd) {
            return;
        }
        if (descriptor >= model_.u32OutputDescriptorNumber) {
            Report("%s %u: descriptor link %u out of range", owner, index, descriptor);
            return;
        }
        const TSDescriptor& d = model_.pDescriptor[descriptor];
        if (d.u8ValidFlag != kRecordValid || !namesOwner(d) || d.u16TSIndex != t) {
            Report("%s %u: descriptor %u does not name it back", owner, index, descriptor);
        }
    }

    void CheckDescriptors(U32 t, const Output_TSStream& ts) {
        if (ts.u16DescriptorNum == 0) {
            return;
        }
        const std::vector<U32> members = Walk(
            "descriptors", t, ts.u16DescriptorIndex, model_.u32OutputDescriptorNumber, descriptorStamp_,
            [&](U32 at) { return static_cast<U32>(model_.pDescriptor[at].u16NextDescriptorIndex); }, kChainEnd);
        CheckCount("descriptors", t, members.size(), ts.u16DescriptorNum, kIndexListSize - 1);
        for (U32 d : members) {
            const TSDescriptor& descriptor = model_.pDescriptor[d];
            if (descriptor.u8ValidFlag != kRecordValid) {
                Report("descriptors of [%u]: descriptor %u not valid", t, d);
                continue;
            }
            if (descriptor.u16TSIndex != t) {
                Report("descriptor %u names TS %u, is on TS %u", d, descriptor.u16TSIndex, t);
            }
            const bool ownedByProgram = descriptor.u16ProgramIndex < model_.u32OutputProgramNumber &&
                                        model_.pOutputProgram[descriptor.u16ProgramIndex].u8ValidFlag == kRecordValid &&
                                        model_.pOutputProgram[descriptor.u16ProgramIndex]
                                                .u16ProgramInfoDescriptorIndex == d;
            const bool ownedByEs = descriptor.u16PIDIndex < model_.u32OutputPIDNumber &&
                                   model_.pOutputPID[descriptor.u16PIDIndex].u8ValidFlag == kRecordValid &&
                                   model_.pOutputPID[descriptor.u16PIDIndex].u16ESInfoDescriptorIndex == d;
            if (!ownedByProgram && !ownedByEs) {
                Report("descriptor %u: no program or ES names it", d);
            }
            ++descriptorSeen_[d];
        }
    }

    void CheckTables(const char* name, U32 t, U16 head) {
        const std::vector<U32> members = Walk(
            name, t, head, model_.u32OutputTableNumber, tableStamp_,
            [&](U32 at) { return static_cast<U32>(model_.pOutputTable[at].u16NextIndex); }, kChainEnd);
        if (members.size() > kIndexListSize) {
            Report("%s of [%u]: %zu tables, beyond the walkers' %u", name, t, members.size(), kIndexListSize);
        }
        for (U32 index : members) {
            const TSTable& table = model_.pOutputTable[index];
            if (table.u8ValidFlag != kRecordValid) {
                Report("%s of [%u]: table %u not valid", name, t, index);
                continue;
            }
            if (table.u16Index != index) {
                Report("%s of [%u]: table %u names itself %u", name, t, index, table.u16Index);
            }
            ++tableSeen_[index];
        }
    }

    void CheckMembership() {
        auto check = [&](const char* what, U32 count, const std::vector<U32>& seen, auto valid) {
            for (U32 i = 0; i < count; ++i) {
                if (valid(i) && seen[i] != 1) {
                    Report("%s %u: valid, on %u chains", what, i, seen[i]);
                } else if (!valid(i) && seen[i] != 0) {
                    Report("%s %u: free, on %u chains", what, i, seen[i]);
                }
            }
        };
        check("program", model_.u32OutputProgramNumber, programSeen_,
              [&](U32 i) { return model_.pOutputProgram[i].u8ValidFlag == kRecordValid; });
        check("PID", model_.u32OutputPIDNumber, pidSeen_,
              [&](U32 i) { return model_.pOutputPID[i].u8ValidFlag == kRecordValid; });
        check("descriptor", model_.u32OutputDescriptorNumber, descriptorSeen_,
              [&](U32 i) { return model_.pDescriptor[i].u8ValidFlag == kRecordValid; });
        check("table", model_.u32OutputTableNumber, tableSeen_,
              [&](U32 i) { return model_.pOutputTable[i].u8ValidFlag == kRecordValid; });
    }

    // A free record is all zero; the removal pass may leave its own-index field 0xFFFF.
    template <typename Record>
    void CheckFree(const char* what, const Record* pool, U32 count, std::size_t validOffset, std::size_t markOffset,
                   std::size_t markSize) {
        U8 zero[sizeof(Record)] = {};
        for (U32 i = 0; i < count; ++i) {
            const U8* bytes = reinterpret_cast<const U8*>(&pool[i]);
            if (bytes[validOffset] == kRecordValid) {
                continue;
            }
            U8 copy[sizeof(Record)];
            std::memcpy(copy, bytes, sizeof copy);
            if (markSize != 0) {
                U32 mark = 0;
                std::memcpy(&mark, copy + markOffset, markSize);
                if (mark == kChainEnd) {
                    std::memset(copy + markOffset, 0, markSize);
                }
            }
            if (std::memcmp(copy, zero, sizeof copy) != 0) {
                Report("%s %u: free but not zero", what, i);
            }
        }
    }

    void CheckFreeRecords() {
        CheckFree("TS", model_.pOutputTS, model_.u32OutputTSNumber, offsetof(Output_TSStream, u8ValidFlag), 0, 0);
        CheckFree("program", model_.pOutputProgram, model_.u32OutputProgramNumber,
                  offsetof(Output_TSProgram, u8ValidFlag), offsetof(Output_TSProgram, u16ProgramIndex), 2);
        CheckFree("PID", model_.pOutputPID, model_.u32OutputPIDNumber, offsetof(Output_TSPID, u8ValidFlag),
                  offsetof(Output_TSPID, u32PIDIndex), 4);
        CheckFree("table", model_.pOutputTable, model_.u32OutputTableNumber, offsetof(TSTable, u8ValidFlag),
                  offsetof(TSTable, u16Index), 2);
        CheckFree("descriptor", model_.pDescriptor, model_.u32OutputDescriptorNumber,
                  offsetof(TSDescriptor, u8ValidFlag), 0, 0);
        CheckFree("pass-through", model_.pOutputBypassTS, model_.u32OutputBypassTSNumber,
                  offsetof(Passthrough_TSStream, u8ValidFlag), 0, 0);
    }

    const Output_TSInfo& model_;
    std::vector<std::string> violations_;
    std::vector<U32> programSeen_, pidSeen_, tableSeen_, descriptorSeen_;
    std::vector<U32> programStamp_, pidStamp_, tableStamp_, descriptorStamp_;
    U32 walkId_ = 0;
};

}  // namespace

std::vector<std::string> CheckModel(const Output_TSInfo& model) { return Checker(model).Run(); }

std::string DescribeViolations(const std::vector<std::string>& violations) {
    std::string text;
    for (const std::string& line : violations) {
        text += line;
        text += '\n';
    }
    return text;
}

std::string PoolBytes(const Output_TSInfo* model, ModelPool pool) {
    const U32 count = ModelPool_Count(model, pool);
    if (count == 0) {
        return {};
    }
    const U8* begin = ModelPool_Record(model, pool, 0);
    return std::string(reinterpret_cast<const char*>(begin), count * ModelPool_RecordSize(pool));
}

std::vector<std::string> SharedModelsBytes() {
    TSP_ModelLock lock;
    std::vector<std::string> bytes;
    for (const Output_TSInfo* model : {TSP_GetTSParam(), TSP_GetTempTSParam()}) {
        for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                               ModelPool::Descriptor, ModelPool::Bypass}) {
            bytes.push_back(PoolBytes(model, pool));
        }
    }
    return bytes;
}

}  // namespace hx::test

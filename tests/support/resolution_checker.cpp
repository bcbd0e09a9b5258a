#include "support/resolution_checker.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>

#include "engine/conflict_process.h"
#include "engine/model_walkers.h"

namespace hx::test {

namespace {

constexpr U16 kNullPid = 0x1FFF;
constexpr U16 kAtscBasePid = 0x1FFB;

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...) {
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::uint64_t Packets(U8 slot, U16 sourceChannel, U16 inputPid) {
    return static_cast<std::uint64_t>(slot) << 32 | static_cast<std::uint64_t>(sourceChannel) << 16 | inputPid;
}

class StreamCheck {
public:
    StreamCheck(const Output_TSInfo& model, U16 ts, bool atsc, std::vector<std::string>& out)
        : model_(model), ts_(ts), atsc_(atsc), out_(out) {}

    void Run() {
        IndexInfoList programs;
        if (TSP_GetOutTSProgIndexList(ts_, &model_, &programs) != 0) {
            out_.push_back(Line("TS[%u]: program chain not walkable", ts_));
            return;
        }
        std::set<U16> serviceIds;
        std::set<U32> pairs;
        for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
            const U16 index = programs.aru16IndexList[p];
            const Output_TSProgram& program = model_.pOutputProgram[index];
            if (program.u16ServiceID == 0 || !serviceIds.insert(program.u16ServiceID).second) {
                out_.push_back(
                    Line("TS[%u]: program %u service ID %u is 0 or taken", ts_, index, program.u16ServiceID));
            }
            if (atsc_) {
                CheckPair(index, program, pairs);
            }
            Use(PID_TYPE_PMTPID, index,
                Packets(program.u8SourceSlotID, program.u16SourceChannelID, program.u16OldPMTPID), program.u16PMTPID);
            if (program.u16PCRPID != kNullPid) {
                Use(PID_TYPE_PCRPID, index,
                    Packets(program.u8SourceSlotID, program.u16SourceChannelID, program.u16OldPCRPID),
                    program.u16PCRPID);
            }
            IndexInfoList list;
            if (TSP_GetOutProgESPIDIndexList(index, &model_, &list) == 0) {
                for (U16 e = 0; e < list.u16IndexListNum; ++e) {
                    UsePid(PID_TYPE_ESPID, list.aru16IndexList[e]);
                    IndexInfoList ecms;
                    if (TSP_GetOutESECMPIDIndexList(list.aru16IndexList[e], &model_, &ecms) == 0) {
                        for (U16 c = 0; c < ecms.u16IndexListNum; ++c) {
                            UsePid(PID_TYPE_ES_ECMPID, ecms.aru16IndexList[c]);
                        }
                    }
                }
            }
            if (TSP_GetOutProgPSECMPIDIndexList(index, &model_, &list) == 0) {
                for (U16 c = 0; c < list.u16IndexListNum; ++c) {
                    UsePid(PID_TYPE_PS_ECMPID, list.aru16IndexList[c]);
                }
            }
        }
        IndexInfoList list;
        if (TSP_GetOutTSEMMPIDIndexList(ts_, &model_, &list) == 0) {
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                UsePid(PID_TYPE_EMMPID, list.aru16IndexList[i]);
            }
        }
        if (TSP_GetOutTSOtherPIDIndexList(ts_, &model_, &list) == 0) {
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                UsePid(PID_TYPE_OTHERPID, list.aru16IndexList[i]);
            }
        }
    }

private:
    void CheckPair(U16 index, const Output_TSProgram& program, std::set<U32>& pairs) {
        const U32 pair = static_cast<U32>(program.u16MajorChannelNum) << 16 | program.u16MinorChannelNum;
        if (program.u16MajorChannelNum > 1023 || program.u16MinorChannelNum > 1023 || !pairs.insert(pair).second) {
            out_.push_back(Line("TS[%u]: program %u channel pair %#x beyond 1023 or taken", ts_, index, pair));
        }
        if (program.u16ChannelTSID != model_.pOutputTS[ts_].u16TransportStreamID) {
            out_.push_back(Line("TS[%u]: program %u u16ChannelTSID %u", ts_, index, program.u16ChannelTSID));
        }
    }

    void UsePid(PIDTYPE_E type, U16 index) {
        const Output_TSPID& pid = model_.pOutputPID[index];
        Use(type, index, Packets(pid.u8SourceSlotID, pid.u16SourceChannelID, pid.u16OldPID), pid.u16PID);
    }

    void Use(PIDTYPE_E type, U16 record, std::uint64_t packets, U16 pid) {
        const bool tablePid = pid <= 0x1F || pid == kNullPid || (atsc_ && pid == kAtscBasePid);
        if (tablePid && type != PID_TYPE_OTHERPID) {
            out_.push_back(Line("TS[%u]: type %u record %u on a reserved PID", ts_, type, record));
        }
        if (pid > kNullPid) {
            out_.push_back(Line("TS[%u]: record %u PID %u beyond 0x1FFF", ts_, record, pid));
            return;
        }
        const auto [holder, inserted] = holders_.emplace(pid, packets);
        if (!inserted && holder->second != packets) {
            out_.push_back(Line("TS[%u]: PID %u of type %u record shared by two streams of packets", ts_, pid, type));
        }
    }

    const Output_TSInfo& model_;
    U16 ts_;
    bool atsc_;
    std::vector<std::string>& out_;
    std::map<U16, std::uint64_t> holders_;
};

}  // namespace

std::vector<std::string> CheckResolved(const Output_TSInfo& model, bool atsc) {
    std::vector<std::string> violations;
    for (U32 ts = 0; ts < model.u32OutputTSNumber; ++ts) {
        const Output_TSStream& stream = model.pOutputTS[ts];
        if (stream.u8ValidFlag == kRecordValid && stream.u8BypassFlag != 1) {
            StreamCheck(model, static_cast<U16>(ts), atsc, violations).Run();
        }
    }
    return violations;
}

std::vector<U16> InputValues(const Output_TSInfo& model) {
    std::vector<U16> values;
    for (U32 i = 0; i < model.u32OutputProgramNumber; ++i) {
        const Output_TSProgram& program = model.pOutputProgram[i];
        if (program.u8ValidFlag == kRecordValid) {
            values.insert(values.end(), {program.u16OldServiceID, program.u16OldPMTPID, program.u16OldPCRPID});
        }
    }
    for (U32 i = 0; i < model.u32OutputPIDNumber; ++i) {
        if (model.pOutputPID[i].u8ValidFlag == kRecordValid) {
            values.push_back(model.pOutputPID[i].u16OldPID);
        }
    }
    return values;
}

std::vector<U8> ProgramAndPidBytes(const Output_TSInfo& model) {
    const U8* programs = reinterpret_cast<const U8*>(model.pOutputProgram);
    const U8* pids = reinterpret_cast<const U8*>(model.pOutputPID);
    std::vector<U8> bytes(programs, programs + model.u32OutputProgramNumber * sizeof(Output_TSProgram));
    bytes.insert(bytes.end(), pids, pids + model.u32OutputPIDNumber * sizeof(Output_TSPID));
    return bytes;
}

U32 ResolveRecordByRecord(Output_TSInfo* model, bool atsc) {
    for (U32 index = 0; index < model->u32OutputTSNumber; ++index) {
        const Output_TSStream& ts = model->pOutputTS[index];
        if (ts.u8ValidFlag != kRecordValid || ts.u8BypassFlag == 1) {
            continue;
        }
        const U16 tsIndex = static_cast<U16>(index);
        if (const U32 result = TSP_AddOutputTSHandleServID(tsIndex, model); result != 0) {
            return result;
        }
        IndexInfoList programs;
        if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &programs); result != 0) {
            return result;
        }
        // Before the PIDs, a program with a PCR record takes that record's
        // output PID as its PCR PID: the PMT names the PID the PCR is routed
        // to. Left out, the two differ whenever they came apart before
        // resolution (a PCR record whose input PID is not the program's input
        // PCR PID): the program's value gets resolved while the record stays
        // where it was, even on PID 0.
        for (U16 p = 0; p < programs.u16IndexListNum; ++p) {
            Output_TSProgram& program = model->pOutputProgram[programs.aru16IndexList[p]];
            const U16 pcr = program.u16PCRIndex;
            if (pcr < model->u32OutputPIDNumber && model->pOutputPID[pcr].u8ValidFlag == kRecordValid &&
                model->pOutputPID[pcr].u8PIDType == PID_TYPE_PCRPID) {
                program.u16PCRPID = model->pOutputPID[pcr].u16PID;
            }
        }
        if (const U32 result = TSP_AddOutputTSHandlePidPerRecord(tsIndex, model); result != 0) {
            return result;
        }
        if (!atsc) {
            continue;
        }
        for (int p = programs.u16IndexListNum - 1; p >= 0; --p) {
            const U16 program = programs.aru16IndexList[p];
            if (const U32 result = TSP_AddOutProgHandleChannelNum(tsIndex, program, model); result != 0) {
                return result;
            }
            model->pOutputProgram[program].u16ChannelTSID = ts.u16TransportStreamID;
        }
    }
    return 0;
}

}  // namespace hx::test

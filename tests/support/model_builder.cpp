#include "support/model_builder.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/output_model.h"
#include "si/ca_descriptor.h"

namespace hx::test {

namespace {

constexpr U8 kNitTableType = 2;

U16 FreeProgram(Output_TSInfo* model) {
    IndexInfoList list;
    return TSP_GetUnusedOutputProgList(model, 1, &list) == 0 ? list.aru16IndexList[0] : kChainEnd;
}

U16 FreePid(Output_TSInfo* model) {
    IndexInfoList list;
    return TSP_GetUnusedOutputPIDIndex(model, 1, &list) == 0 ? list.aru16IndexList[0] : kChainEnd;
}

// Appends `index` behind the chain's last member, as the input messages do.
void AppendPid(Output_TSInfo* model, U16& count, U16& head, U16 last, U16 index) {
    if (count == 0) {
        head = index;
        count = 1;
    } else {
        model->pOutputPID[last].u32NextPIDIndex = index;
        ++count;
    }
}

U16& TableHead(Output_TSStream& ts, TableChainKind chain) {
    switch (chain) {
        case TableChainKind::Nit: return ts.u16NITIndex;
        case TableChainKind::Bat: return ts.u16BATIndex;
        case TableChainKind::Tdt: return ts.u16TDTIndex;
        case TableChainKind::Tot: return ts.u16TOTIndex;
        case TableChainKind::OtherNit: return ts.u16OtherNITIndex;
        case TableChainKind::OtherSdt: return ts.u16OtherSDTIndex;
    }
    return ts.u16NITIndex;
}

}  // namespace

U16 ModelBuilder::AddStream(U16 channel, U8 slot) {
    const U16 existing = ModelLookup_StreamOfChannel(model_, channel);
    if (existing != kChainEnd) {
        return existing;
    }
    U16 index = kChainEnd;
    if (TSP_GetUnusedOutputTSIndex(model_, &index) != 0) {
        return kChainEnd;
    }
    Output_TSStream ts{};
    TSP_InitOneOutputTSStream(&ts);
    ts.u16ChannelID = channel;
    ts.u8SlotID = slot;
    model_->pOutputTS[index] = ts;
    return index;
}

U16 ModelBuilder::AddProgram(U16 ts, const ProgramSpec& wanted) {
    const U16 index = FreeProgram(model_);
    U16 last = kChainEnd;
    if (index == kChainEnd || TSP_GetOutTSProgLastIndex(ts, model_, &last) != 0) {
        return kChainEnd;
    }
    Output_TSStream& stream = model_->pOutputTS[ts];
    Output_TSProgram program{};
    program.u8SourceSlotID = wanted.sourceSlot;
    program.u16SourceChannelID = wanted.sourceChannel;
    program.u16ChannelID = stream.u16ChannelID;
    program.u8SlotID = stream.u8SlotID;
    program.u16ProgramID = wanted.programId;
    program.u16OldServiceID = wanted.serviceId;
    program.u16OldPMTPID = wanted.pmtPid;
    program.u16OldPCRPID = wanted.pcrPid;
    program.u16WebChannel = wanted.sourceChannel;
    const int nameLength = std::snprintf(reinterpret_cast<char*>(program.aru8ServiceName),
                                         sizeof program.aru8ServiceName, "Service %u", wanted.serviceId);
    program.u8ServiceNameLen = static_cast<U8>(nameLength);
    TSP_InitOneOutputTSProgram(&program);
    program.u16TSIndex = ts;
    program.u16ProgramIndex = index;
    program.u16NextProgramIndex = kChainEnd;
    model_->pOutputProgram[index] = program;
    if (stream.u16ProgramNum == 0) {
        stream.u16ProgramIndex = index;
        stream.u16ProgramNum = 1;
    } else {
        model_->pOutputProgram[last].u16NextProgramIndex = index;
        ++stream.u16ProgramNum;
    }
    stream.u8PATChangeFlag = 1;
    stream.u8SDTChangeFlag = 1;
    return index;
}

U16 ModelBuilder::AddPid(PIDTYPE_E type, U16 owner, const PidSpec& wanted) {
    const U16 index = FreePid(model_);
    if (index == kChainEnd) {
        return kChainEnd;
    }
    Output_TSPID pid{};
    pid.u8SourceSlotID = wanted.sourceSlot;
    pid.u16SourceChannelID = wanted.sourceChannel;
    pid.u16PIDID = wanted.key;
    pid.u16OldPID = wanted.pid;
    pid.u8StreamType = wanted.streamType;
    pid.u8PIDType = static_cast<U8>(type);
    TSP_InitOneOutputTSPID(&pid);
    pid.u32PIDIndex = index;
    U16 last = kChainEnd;
    switch (type) {
        case PID_TYPE_PCRPID:
        case PID_TYPE_ESPID:
        case PID_TYPE_PS_ECMPID: {
            if (owner >= model_->u32OutputProgramNumber) {
                return kChainEnd;
            }
            Output_TSProgram& program = model_->pOutputProgram[owner];
            pid.u32ProgramIndex = owner;
            pid.u32TSIndex = program.u16TSIndex;
            pid.u16ChannelID = program.u16ChannelID;
            pid.u16ProgramID = program.u16ProgramID;
            if (type == PID_TYPE_PCRPID) {
                model_->pOutputPID[index] = pid;
                program.u16PCRIndex = index;
                return index;
            }
            const bool es = type == PID_TYPE_ESPID;
            if ((es ? TSP_GetOutProgPIDListLastIndex(owner, model_, &last)
                    : TSP_GetOutProgPSECMPIDLastIndex(owner, model_, &last)) != 0) {
                return kChainEnd;
            }
            model_->pOutputPID[index] = pid;
            AppendPid(model_, es ? program.u16ESNumber : program.u16PSECMPIDNumber,
                      es ? program.u16PIDIndex : program.u16PSECMPIDIndex, last, index);
            return index;
        }
        case PID_TYPE_EMMPID:
        case PID_TYPE_OTHERPID: {
            if (owner >= model_->u32OutputTSNumber) {
                return kChainEnd;
            }
            Output_TSStream& ts = model_->pOutputTS[owner];
            pid.u32TSIndex = owner;
            pid.u16ChannelID = ts.u16ChannelID;
            const bool emm = type == PID_TYPE_EMMPID;
            if ((emm ? TSP_GetOutTSEMMPIDLastIndex(owner, model_, &last)
                     : TSP_GetOutTSOtherPIDLastIndex(owner, model_, &last)) != 0) {
                return kChainEnd;
            }
            model_->pOutputPID[index] = pid;
            AppendPid(model_, emm ? ts.u16EMMPIDNumber : ts.u16OtherPIDNum,
                      emm ? ts.u16EMMPIDIndex : ts.u16OtherPIDIndex, last, index);
            return index;
        }
        case PID_TYPE_ES_ECMPID: {
            if (owner >= model_->u32OutputPIDNumber || TSP_GetOutESECMPIDLastIndex(owner, model_, &last) != 0) {
                return kChainEnd;
            }
            Output_TSPID& es = model_->pOutputPID[owner];
            pid.u32ProgramIndex = es.u32ProgramIndex;
            pid.u32TSIndex = es.u32TSIndex;
            pid.u16ChannelID = es.u16ChannelID;
            pid.u16ESPIDIndex = owner;
            // An ES-level ECM names its ES by the ES's key and carries its own
            // key where an ES keeps its ECM chain head.
            pid.u16PIDID = es.u16PIDID;
            pid.u16ESECMPIDIndex = wanted.key;
            model_->pOutputPID[index] = pid;
            AppendPid(model_, es.u16ESECMPIDNumber, es.u16ESECMPIDIndex, last, index);
            return index;
        }
        default:
            return kChainEnd;
    }
}

U16 ModelBuilder::AddDescriptor(U16 ts, std::span<const U8> loop) {
    U16 index = kChainEnd;
    U16 last = kChainEnd;
    if (loop.size() > kDescriptorLoopSize || ts >= model_->u32OutputTSNumber ||
        TSP_GetUnusedOutputDescIndex(model_, &index) != 0 || TSP_GetOutTSLastDescIndex(ts, model_, &last) != 0) {
        return kChainEnd;
    }
    TSDescriptor descriptor{};
    TSP_InitOneOutputTSDescriptor(&descriptor);
    descriptor.u16TSIndex = ts;
    descriptor.u32Length = static_cast<U32>(loop.size());
    std::memcpy(descriptor.u8DescriptorInfo, loop.data(), loop.size());
    model_->pDescriptor[index] = descriptor;
    Output_TSStream& stream = model_->pOutputTS[ts];
    if (stream.u16DescriptorNum == 0) {
        stream.u16DescriptorIndex = index;
    } else {
        model_->pDescriptor[last].u16NextDescriptorIndex = index;
    }
    ++stream.u16DescriptorNum;
    return index;
}

U16 ModelBuilder::AddProgramDescriptor(U16 program, std::span<const U8> loop) {
    const U16 index = AddDescriptor(model_->pOutputProgram[program].u16TSIndex, loop);
    if (index != kChainEnd) {
        model_->pDescriptor[index].u16ProgramIndex = program;
        model_->pOutputProgram[program].u16ProgramInfoDescriptorIndex = index;
        model_->pOutputProgram[program].u16ProgramInfoLength = static_cast<U16>(loop.size());
    }
    return index;
}

U16 ModelBuilder::AddEsDescriptor(U16 es, std::span<const U8> loop) {
    const U16 index = AddDescriptor(static_cast<U16>(model_->pOutputPID[es].u32TSIndex), loop);
    if (index != kChainEnd) {
        model_->pDescriptor[index].u16PIDIndex = es;
        model_->pOutputPID[es].u16ESInfoDescriptorIndex = index;
        model_->pOutputPID[es].u16ESInfoLength = static_cast<U16>(loop.size());
    }
    return index;
}

U16 ModelBuilder::AddTable(U16 ts, TableChainKind chain, U8 sourceSlot, U16 channel) {
    IndexInfoList list;
    if (ts >= model_->u32OutputTSNumber || ModelPool_GetUnusedTableList(model_, 1, &list) != 0) {
        return kChainEnd;
    }
    const U16 index = list.aru16IndexList[0];
    TSTable table{};
    table.u8ValidFlag = kRecordValid;
    table.u16Index = index;
    table.u16NextIndex = kChainEnd;
    table.u16TSIndex = ts;
    table.u8SlotID = sourceSlot;
    table.u16ChannelID = channel;
    table.u8TableType = chain == TableChainKind::Nit ? kNitTableType : 0;
    model_->pOutputTable[index] = table;
    U16* link = &TableHead(model_->pOutputTS[ts], chain);
    for (U32 steps = 0; *link != kChainEnd && steps <= model_->u32OutputTableNumber; ++steps) {
        link = &model_->pOutputTable[*link].u16NextIndex;
    }
    *link = index;
    return index;
}

ScopedModel::ScopedModel(const TSInfoInitNum& counts) { TSP_InitTSInfo(&model_, &counts); }

ScopedModel::~ScopedModel() { ModelPool_FreeAll(&model_); }

ScopedSharedModels::ScopedSharedModels(const TSInfoInitNum& counts) {
    TSP_ModelLock lock;
    TSP_InitTSInfo(TSP_GetTSParam(), &counts);
    TSP_InitTSInfo(TSP_GetTempTSParam(), &counts);
}

ScopedSharedModels::~ScopedSharedModels() {
    TSP_ModelLock lock;
    ModelPool_SetAllocHook({});
    ModelPool_FreeAll(TSP_GetTSParam());
    ModelPool_FreeAll(TSP_GetTempTSParam());
}

std::vector<U8> CaDescriptor(U16 caSystemId, U16 caPid, std::size_t privateBytes) {
    std::vector<U8> bytes = {kCaDescriptorTag,
                             static_cast<U8>(4 + privateBytes),
                             static_cast<U8>(caSystemId >> 8),
                             static_cast<U8>(caSystemId),
                             static_cast<U8>(0xE0 | (caPid >> 8)),
                             static_cast<U8>(caPid)};
    for (std::size_t i = 0; i < privateBytes; ++i) {
        bytes.push_back(static_cast<U8>(0xA0 + i));
    }
    return bytes;
}

}  // namespace hx::test

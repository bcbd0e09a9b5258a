#include "si/psi_assembly.h"

#include <algorithm>
#include <cstdint>

#include "core/common_fun.h"
#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "si/ca_descriptor.h"

namespace hx {

namespace {

using Bytes = std::vector<U8>;

// The version the model holds; the regeneration settles the one sent.
U8 ModelVersion(U8 version) { return static_cast<U8>(version & 0x1F); }

const Output_TSStream* LiveStream(const Output_TSInfo* model, U16 index) {
    if (model == nullptr || index >= model->u32OutputTSNumber || model->pOutputTS[index].u8ValidFlag != kRecordValid) {
        return nullptr;
    }
    return &model->pOutputTS[index];
}

// A loop kept inline up to 188 bytes, in a descriptor record beyond.
Bytes StoredLoop(const Output_TSInfo* model, const U8* inlineBytes, U16 length, U16 descriptorIndex) {
    if (length <= kInlineLoopSize) {
        return Bytes(inlineBytes, inlineBytes + length);
    }
    if (descriptorIndex >= model->u32OutputDescriptorNumber ||
        model->pDescriptor[descriptorIndex].u8ValidFlag != kRecordValid) {
        return {};
    }
    const U8* bytes = model->pDescriptor[descriptorIndex].u8DescriptorInfo;
    return Bytes(bytes, bytes + std::min<U16>(length, kDescriptorLoopSize));
}

// Calls visit(tag, body, bodyLength) for each whole descriptor of the loop.
template <typename Visit>
void ForEachDescriptor(const Bytes& loop, Visit visit) {
    for (std::size_t at = 0; at + 2 <= loop.size();) {
        const std::size_t bytes = 2u + loop[at + 1];
        if (at + bytes > loop.size()) {
            return;
        }
        visit(loop.data() + at, bytes);
        at += bytes;
    }
}

// The loop with its CA descriptors dropped or pointed at the output ECM PIDs.
Bytes RewriteCaDescriptors(const Output_TSInfo* model, const Bytes& loop, bool descrambled, const IndexInfoList& ecms) {
    Bytes out;
    ForEachDescriptor(loop, [&](const U8* descriptor, std::size_t bytes) {
        if (descriptor[0] != kCaDescriptorTag) {
            out.insert(out.end(), descriptor, descriptor + bytes);
            return;
        }
        if (descrambled || bytes < 6) {
            return;
        }
        const U16 caSystem = GetBe16(descriptor + 2);
        const U16 caPid = static_cast<U16>(GetBe16(descriptor + 4) & 0x1FFF);
        for (U16 i = 0; i < ecms.u16IndexListNum; ++i) {
            const Output_TSPID& ecm = model->pOutputPID[ecms.aru16IndexList[i]];
            if (ecm.u16OldPID == caPid && ecm.u16CASID == caSystem) {
                const std::size_t at = out.size();
                out.insert(out.end(), descriptor, descriptor + bytes);
                PutBe16(&out[at + 4], static_cast<U16>((descriptor[4] & 0xE0) << 8 | (ecm.u16PID & 0x1FFF)));
                return;
            }
        }
    });
    return out;
}

// modulation_mode of a VCT channel (ATSC A/65): SCTE mode 1 is 64-QAM, SCTE
// mode 2 256-QAM; 0 is reserved.
constexpr U8 kModulationReserved = 0x00;
constexpr U8 kModulationScteMode1 = 0x02;
constexpr U8 kModulationScteMode2 = 0x03;
constexpr U32 kHzPerKHz = 1000;

// The modulation_mode of the constellation an output channel is modulated
// with: in Annex B the code picks 64-QAM (0) or 256-QAM (1); in Annexes A and
// C code c stands for 2^(c+4)-QAM. A constellation without an SCTE mode
// leaves the reserved 0.
U8 ChannelModulationMode(U16 outputChannel) {
    if (outputChannel >= kQamChannelSlots) {
        return kModulationReserved;
    }
    const TParameter_QAM* qam = GetQAMPara_Handle();
    const U32 group = outputChannel / 8;
    const U32 code = qam->Constellation[group].value;
    const bool annexB = qam->Mode[group].value == MODE_QAMB;
    if ((annexB && code == 0) || (!annexB && code == 2)) {
        return kModulationScteMode1;
    }
    if ((annexB && code == 1) || (!annexB && code == 4)) {
        return kModulationScteMode2;
    }
    return kModulationReserved;
}

// The centre frequency of an output channel in Hz (the QAM set keeps kHz); 0
// when the channel has none the field can carry.
U32 ChannelCarrierFrequency(U16 outputChannel) {
    if (outputChannel >= kQamChannelSlots) {
        return 0;
    }
    const std::uint64_t kilohertz = GetQAMPara_Handle()->Frequency[outputChannel].value;
    const std::uint64_t hz = kilohertz * kHzPerKHz;
    return hz > 0xFFFFFFFFu ? 0 : static_cast<U32>(hz);
}

// The live model and the stream's programs in chain order, for a table built
// from one stream. The caller holds the model lock.
U32 StreamPrograms(U16 tsIndex, const void* table, Output_TSInfo*& model, IndexInfoList& programs) {
    model = TSP_GetTSParam();
    if (table == nullptr || LiveStream(model, tsIndex) == nullptr) {
        return kSipErrInput;
    }
    return TSP_GetOutTSProgIndexList(tsIndex, model, &programs);
}

}  // namespace

U32 TSP_GetPATInfo(U16 u16OutTSIndex, PATTable_t* pstTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    const Output_TSStream* stream = LiveStream(model, u16OutTSIndex);
    if (pstTable == nullptr || stream == nullptr) {
        return kSipErrInput;
    }
    IndexInfoList programs{};
    if (const U32 rc = TSP_GetOutTSProgIndexList(u16OutTSIndex, model, &programs); rc != 0) {
        return rc;
    }
    const Output_TSStream& live = model->pOutputTS[u16OutTSIndex];
    *pstTable = PATTable_t{};
    pstTable->u16TransportStreamID = live.u16TransportStreamID;
    pstTable->u8VersionNumber = ModelVersion(live.u8PATVersionNumber);
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        const Output_TSProgram& program = model->pOutputProgram[programs.aru16IndexList[i]];
        pstTable->vecPrograms.push_back({program.u16ServiceID, program.u16PMTPID});
    }
    return 0;
}

U32 TSP_GetCATInfo(U16 u16OutTSIndex, CATTable_t* pstTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    if (pstTable == nullptr || LiveStream(model, u16OutTSIndex) == nullptr) {
        return kSipErrInput;
    }
    IndexInfoList emms{};
    if (const U32 rc = TSP_GetOutTSEMMPIDIndexList(u16OutTSIndex, model, &emms); rc != 0) {
        return rc;
    }
    const Output_TSStream& live = model->pOutputTS[u16OutTSIndex];
    *pstTable = CATTable_t{};
    pstTable->u8VersionNumber = ModelVersion(live.u8CATVersionNumber);
    for (U16 i = 0; i < emms.u16IndexListNum; ++i) {
        const Output_TSPID& emm = model->pOutputPID[emms.aru16IndexList[i]];
        Bytes& loop = pstTable->vecDescriptors;
        const std::size_t at = loop.size();
        loop.resize(at + 6);
        loop[at] = kCaDescriptorTag;
        loop[at + 1] = 4;
        PutBe16(&loop[at + 2], emm.u16CASID);
        PutBe16(&loop[at + 4], static_cast<U16>(0xE000 | (emm.u16PID & 0x1FFF)));
    }
    return 0;
}

U32 TSP_GetPMTInfo(U16 u16ProgramIndex, PMTTable_t* pstTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    if (pstTable == nullptr || u16ProgramIndex >= model->u32OutputProgramNumber ||
        model->pOutputProgram[u16ProgramIndex].u8ValidFlag != kRecordValid) {
        return kSipErrInput;
    }
    const Output_TSProgram& program = model->pOutputProgram[u16ProgramIndex];
    IndexInfoList programEcms{};
    IndexInfoList streams{};
    if (const U32 rc = TSP_GetOutProgPSECMPIDIndexList(u16ProgramIndex, model, &programEcms); rc != 0) {
        return rc;
    }
    if (const U32 rc = TSP_GetOutProgESPIDIndexList(u16ProgramIndex, model, &streams); rc != 0) {
        return rc;
    }
    const bool descrambled = program.u8CIFlag == 1;
    *pstTable = PMTTable_t{};
    pstTable->u16ProgramNumber = program.u16ServiceID;
    pstTable->u8VersionNumber = ModelVersion(program.u8PMTVersionNumber);
    pstTable->u16PCRPID = program.u16PCRPID;
    pstTable->vecProgramInfo = RewriteCaDescriptors(
        model,
        StoredLoop(model, program.aru8ProgramInfo, program.u16ProgramInfoLength, program.u16ProgramInfoDescriptorIndex),
        descrambled, programEcms);
    for (U16 i = 0; i < streams.u16IndexListNum; ++i) {
        const U16 esIndex = streams.aru16IndexList[i];
        const Output_TSPID& es = model->pOutputPID[esIndex];
        if (es.u8PIDFilterFlag == 1) {
            continue;
        }
        IndexInfoList esEcms{};
        if (const U32 rc = TSP_GetOutESECMPIDIndexList(esIndex, model, &esEcms); rc != 0) {
            return rc;
        }
        PMTStream_t entry;
        entry.u8StreamType = es.u8StreamType;
        entry.u16PID = es.u16PID;
        entry.vecESInfo = RewriteCaDescriptors(
            model, StoredLoop(model, es.aru8ESInfo, es.u16ESInfoLength, es.u16ESInfoDescriptorIndex), descrambled,
            esEcms);
        pstTable->vecStreams.push_back(std::move(entry));
    }
    return 0;
}

U32 TSP_GetSDTInfo(U16 u16OutTSIndex, SDTTable_t* pstTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = nullptr;
    IndexInfoList programs{};
    if (const U32 rc = StreamPrograms(u16OutTSIndex, pstTable, model, programs); rc != 0) {
        return rc;
    }
    const Output_TSStream& live = model->pOutputTS[u16OutTSIndex];
    *pstTable = SDTTable_t{};
    pstTable->u16TransportStreamID = live.u16TransportStreamID;
    pstTable->u16OriginalNetworkID = live.u16OriginalNetworkID;
    pstTable->u8VersionNumber = ModelVersion(live.u8SDTVersionNumber);
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        const Output_TSProgram& program = model->pOutputProgram[programs.aru16IndexList[i]];
        SDTService_t service;
        service.u16ServiceID = program.u16ServiceID;
        service.u8EITScheduleFlag = program.u8EITScheduleFlag;
        service.u8EITPresentFollowingFlag = program.u8EITPresentFollowingFlag;
        service.u8RunningStatus = program.u8RunningStatus;
        service.u8FreeCAMode = program.u8FreeCAMode;
        const auto provider = ProgramServiceProvider(program);
        const auto name = ProgramServiceName(program);
        Bytes& loop = service.vecDescriptors;
        loop = {kServiceDescriptorTag, static_cast<U8>(3 + provider.size() + name.size()), program.u8ServiceType,
                static_cast<U8>(provider.size())};
        loop.insert(loop.end(), provider.begin(), provider.end());
        loop.push_back(static_cast<U8>(name.size()));
        loop.insert(loop.end(), name.begin(), name.end());
        const Bytes stored =
            StoredLoop(model, program.aru8SDTInfo, program.u16SDTInfoLength, program.u16SDTInfoDescriptorIndex);
        ForEachDescriptor(stored, [&loop](const U8* descriptor, std::size_t bytes) {
            if (descriptor[0] != kServiceDescriptorTag) {
                loop.insert(loop.end(), descriptor, descriptor + bytes);
            }
        });
        pstTable->vecServices.push_back(std::move(service));
    }
    return 0;
}

U32 TSP_GetVCTInfo(U16 u16OutTSIndex, VCTTable_t* pstTable) {
    TSP_ModelLock lock;
    Output_TSInfo* model = nullptr;
    IndexInfoList programs{};
    if (const U32 rc = StreamPrograms(u16OutTSIndex, pstTable, model, programs); rc != 0) {
        return rc;
    }
    const Output_TSStream& live = model->pOutputTS[u16OutTSIndex];
    *pstTable = VCTTable_t{};
    pstTable->u8TableId = live.u32VCTType != 0 ? kTvctTableId : kCvctTableId;
    pstTable->u16TransportStreamID = live.u16TransportStreamID;
    pstTable->u8VersionNumber = ModelVersion(live.u8SDTVersionNumber);
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        const U16 programIndex = programs.aru16IndexList[i];
        const Output_TSProgram& program = model->pOutputProgram[programIndex];
        VCTChannel_t channel;
        const U8 nameLength = std::min<U8>(program.u8ServiceNameLen, kVctShortNameUnits);
        Common_ConvertASCToUTF16(program.aru8ServiceName, nameLength, channel.aru8ShortName);
        channel.u16MajorChannelNumber = program.u16MajorChannelNum;
        channel.u16MinorChannelNumber = program.u16MinorChannelNum;
        // Both come from the input card unchecked: a reserved mode or no
        // frequency is replaced by what this channel is modulated with.
        channel.u8ModulationMode = program.u8ModulationMode != kModulationReserved
                                       ? program.u8ModulationMode
                                       : ChannelModulationMode(live.u16ChannelID);
        channel.u32CarrierFrequency = program.u32CarrierFrequency != 0 ? program.u32CarrierFrequency
                                                                         : ChannelCarrierFrequency(live.u16ChannelID);
        channel.u16ChannelTSID = program.u16ChannelTSID;
        channel.u16ProgramNumber = program.u16ServiceID;
        channel.u8ServiceType = program.u8ServiceType;
        channel.u16SourceId = program.u16SourceId;
        channel.u16PCRPID = program.u16PCRPID;
        IndexInfoList streams{};
        if (const U32 rc = TSP_GetOutProgESPIDIndexList(programIndex, model, &streams); rc != 0) {
            return rc;
        }
        for (U16 s = 0; s < streams.u16IndexListNum; ++s) {
            const Output_TSPID& es = model->pOutputPID[streams.aru16IndexList[s]];
            if (es.u8PIDFilterFlag != 1) {
                channel.vecStreams.push_back({es.u8StreamType, es.u16PID});
            }
        }
        pstTable->vecChannels.push_back(std::move(channel));
    }
    return 0;
}

}  // namespace hx

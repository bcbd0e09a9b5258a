#include "si/si_regeneration.h"

#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "core/log.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/psi_assembly.h"
#include "si/psi_tables.h"
#include "si/si_packet.h"
#include "si/table_versions.h"

namespace hx {

namespace {

const Output_TSStream* Stream(U16 index) {
    const Output_TSInfo* model = TSP_GetTSParam();
    if (index >= model->u32OutputTSNumber || model->pOutputTS[index].u8ValidFlag != kRecordValid) {
        return nullptr;
    }
    return &model->pOutputTS[index];
}

U32 Queue(const U8* buffer, U32 length, U16 stream, U16 pid) {
    if (length == 0) {
        return 0;
    }
    return SSD_AddBroadcastSI(buffer, static_cast<U16>(length), stream, pid);
}

// Where one table keeps its version in the model: the live record, and the
// record at the same place in the temporary copy when it holds the same
// stream or program. The copy follows the live model, so that a second web
// apply from it cannot raise a flag the first one already answered and move a
// version without a change.
struct VersionFields {
    U8* version = nullptr;
    U8* flag = nullptr;
    U8* copyVersion = nullptr;
    U8* copyFlag = nullptr;
};

VersionFields StreamVersionFields(U16 ts, U8 Output_TSStream::*version, U8 Output_TSStream::*flag) {
    Output_TSStream& live = TSP_GetTSParam()->pOutputTS[ts];
    VersionFields fields{&(live.*version), &(live.*flag)};
    Output_TSInfo* copy = TSP_GetTempTSParam();
    if (ts < copy->u32OutputTSNumber && copy->pOutputTS[ts].u8ValidFlag == kRecordValid &&
        copy->pOutputTS[ts].u16ChannelID == live.u16ChannelID) {
        fields.copyVersion = &(copy->pOutputTS[ts].*version);
        fields.copyFlag = &(copy->pOutputTS[ts].*flag);
    }
    return fields;
}

// The SDT's fields; the VCT keeps its version there too (no SDT in ATSC mode).
VersionFields SdtVersionFields(U16 ts) {
    return StreamVersionFields(ts, &Output_TSStream::u8SDTVersionNumber, &Output_TSStream::u8SDTChangeFlag);
}

VersionFields ProgramVersionFields(U16 programIndex) {
    Output_TSProgram& live = TSP_GetTSParam()->pOutputProgram[programIndex];
    VersionFields fields{&live.u8PMTVersionNumber, &live.u8PMTChangeFlag};
    Output_TSInfo* copy = TSP_GetTempTSParam();
    if (programIndex >= copy->u32OutputProgramNumber) {
        return fields;
    }
    Output_TSProgram& same = copy->pOutputProgram[programIndex];
    if (same.u8ValidFlag == kRecordValid && same.u16ChannelID == live.u16ChannelID &&
        same.u8SourceSlotID == live.u8SourceSlotID && same.u16SourceChannelID == live.u16SourceChannelID &&
        same.u16ProgramID == live.u16ProgramID) {
        fields.copyVersion = &same.u8PMTVersionNumber;
        fields.copyFlag = &same.u8PMTChangeFlag;
    }
    return fields;
}

// The version a table goes out with, written into its sections (see
// si/table_versions.h). A model without a version field passes none.
std::optional<SettledTable> Settle(U16 ts, U8* sections, U32 length, U8 modelVersion, bool changed) {
    const std::optional<SettledTable> settled =
        SIVersion_Settle(Stream(ts)->u16ChannelID, sections, length, modelVersion, changed);
    if (!settled) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "OutTSIndex:%d built sections malformed, length %u\n", ts,
               length);
    }
    return settled;
}

std::optional<SettledTable> Settle(U16 ts, U8* sections, U32 length, const VersionFields& fields) {
    return Settle(ts, sections, length, *fields.version, *fields.flag == 1);
}

// The table is on air: remembered as sent, its version kept in the model and
// its change flag answered.
void MarkSent(const SettledTable& table, const VersionFields& fields) {
    SIVersion_Sent(table);
    for (auto [version, flag] :
         {std::pair{fields.version, fields.flag}, std::pair{fields.copyVersion, fields.copyFlag}}) {
        if (version != nullptr) {
            *version = table.u8Version;
            *flag = 0;
        }
    }
}

// Settles, queues and, once queued, marks sent one table.
U32 QueueVersioned(U8* buffer, U32 length, U16 ts, U16 pid, const VersionFields& fields) {
    if (length == 0) {
        return 0;
    }
    const std::optional<SettledTable> settled = Settle(ts, buffer, length, fields);
    if (!settled) {
        return kSipErrInput;
    }
    if (const U32 rc = Queue(buffer, length, ts, pid); rc != 0) {
        return rc;
    }
    MarkSent(*settled, fields);
    return 0;
}

}  // namespace

bool IsPSITableInOtherPID(U16 u16OutTSIndex, U16 u16PID) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    IndexInfoList list{};
    if (TSP_GetOutTSOtherPIDIndexList(u16OutTSIndex, model, &list) != 0) {
        return false;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        if (model->pOutputPID[list.aru16IndexList[i]].u16PID == u16PID) {
            return true;
        }
    }
    return false;
}

void TSP_ClearAllSIInfo() { SSD_InitBroadcastSI(); }

U32 TSP_MuxOutputAllSI() {
    TSP_ModelLock lock;
    TSP_ClearAllSIInfo();
    const Output_TSInfo* model = TSP_GetTSParam();
    for (U32 i = 0; i < model->u32OutputTSNumber; ++i) {
        const Output_TSStream& stream = model->pOutputTS[i];
        if (stream.u8ValidFlag == kRecordValid && stream.u8BypassFlag != 1) {
            TSP_MuxTsSIProc(static_cast<U16>(i));
        }
    }
    return 0;
}

U32 TSP_MuxTsSIProc(U16 u16OutTSIndex) {
    TSP_ModelLock lock;
    const auto buffer = std::make_unique<U8[]>(kSiConstructBytes);
    struct Step {
        const char* name;
        U32 (*run)(U16, U8*);
    };
    static const Step steps[] = {
        {"TSP_ConstructPAT", TSP_ConstructPAT},
        {"TSP_ConstructCAT", TSP_ConstructCAT},
        {"TSP_ConstructNIT", [](U16 ts, U8*) { return TSP_ConstructNIT(ts); }},
        {"TSP_ConstructSDT", TSP_ConstructSDT},
        {"TSP_ConstructPMTs", TSP_ConstructPMT},
        {"TSP_ConstructPSIP", TSP_ConstructPSIP},
    };
    U32 first = 0;
    for (const Step& step : steps) {
        std::memset(buffer.get(), 0, kSiConstructBytes);
        const U32 rc = step.run(u16OutTSIndex, buffer.get());
        if (rc != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s OutTSIndex:%d  fail\n", step.name, u16OutTSIndex);
            if (first == 0) {
                first = rc;
            }
        }
    }
    return first;
}

U32 TSP_ConstructPAT(U16 u16OutTSIndex, U8* pu8Buffer) {
    TSP_ModelLock lock;
    const Output_TSStream* stream = Stream(u16OutTSIndex);
    if (stream == nullptr || pu8Buffer == nullptr) {
        return kSipErrInput;
    }
    if (IsPSITableInOtherPID(u16OutTSIndex, kPatPid)) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "OutTSIndex:%d  exist PAT in other pid\n", u16OutTSIndex);
        return 0;
    }
    if (stream->u16ProgramNum == 0 || stream->u8PATGenerate != 1) {
        return 0;
    }
    PATTable_t table;
    U32 length = 0;
    if (const U32 rc = TSP_GetPATInfo(u16OutTSIndex, &table); rc != 0) {
        return rc;
    }
    if (const U32 rc = SIP_ConstructPATSections(&table, pu8Buffer, kSiConstructBytes, &length); rc != 0) {
        return rc;
    }
    return QueueVersioned(pu8Buffer, length, u16OutTSIndex, kPatPid,
                          StreamVersionFields(u16OutTSIndex, &Output_TSStream::u8PATVersionNumber,
                                              &Output_TSStream::u8PATChangeFlag));
}

U32 TSP_ConstructCAT(U16 u16OutTSIndex, U8* pu8Buffer) {
    TSP_ModelLock lock;
    const Output_TSStream* stream = Stream(u16OutTSIndex);
    if (stream == nullptr || pu8Buffer == nullptr) {
        return kSipErrInput;
    }
    if (IsPSITableInOtherPID(u16OutTSIndex, kCatPid) || Resource_GetSIMode() != kSiModeDvb ||
        stream->u16EMMPIDNumber == 0 || stream->u8CATGenerate != 1) {
        return 0;
    }
    CATTable_t table;
    U32 length = 0;
    if (const U32 rc = TSP_GetCATInfo(u16OutTSIndex, &table); rc != 0) {
        return rc;
    }
    if (table.vecDescriptors.empty()) {
        return 0;
    }
    if (const U32 rc = SIP_ConstructCATSections(&table, pu8Buffer, kSiConstructBytes, &length); rc != 0) {
        return rc;
    }
    return QueueVersioned(pu8Buffer, length, u16OutTSIndex, kCatPid,
                          StreamVersionFields(u16OutTSIndex, &Output_TSStream::u8CATVersionNumber,
                                              &Output_TSStream::u8CATChangeFlag));
}

U32 TSP_ConstructSDT(U16 u16OutTSIndex, U8* pu8Buffer) {
    TSP_ModelLock lock;
    const Output_TSStream* stream = Stream(u16OutTSIndex);
    if (stream == nullptr || pu8Buffer == nullptr) {
        return kSipErrInput;
    }
    if (IsPSITableInOtherPID(u16OutTSIndex, kSdtPid) && stream->u8IsSDTChangedByUser != 1) {
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "OutTSIndex:%d exist SDT in other PID and not changed\n",
               u16OutTSIndex);
        return 0;
    }
    if (Resource_GetSIMode() != kSiModeDvb || stream->u16ProgramNum == 0 || stream->u8SDTGenerate != 1) {
        return 0;
    }
    SDTTable_t table;
    U32 length = 0;
    if (const U32 rc = TSP_GetSDTInfo(u16OutTSIndex, &table); rc != 0) {
        return rc;
    }
    if (const U32 rc = SIP_ConstructSDTSections(&table, pu8Buffer, kSiConstructBytes, &length); rc != 0) {
        return rc;
    }
    return QueueVersioned(pu8Buffer, length, u16OutTSIndex, kSdtPid, SdtVersionFields(u16OutTSIndex));
}

U32 TSP_ConstructPMTForProg(U16 u16ProgramIndex, U8* pu8Buffer, U32* pu32Length) {
    if (pu8Buffer == nullptr || pu32Length == nullptr) {
        return kSipErrInput;
    }
    *pu32Length = 0;
    std::memset(pu8Buffer, 0, kSiConstructBytes);
    PMTTable_t table;
    if (const U32 rc = TSP_GetPMTInfo(u16ProgramIndex, &table); rc != 0) {
        return rc;
    }
    return SIP_ConstructPMTSections(&table, pu8Buffer, kSiConstructBytes, pu32Length);
}

U32 TSP_ConstructPMT(U16 u16OutTSIndex, U8* pu8Buffer) {
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    const Output_TSStream* stream = Stream(u16OutTSIndex);
    if (pu8Buffer == nullptr) {
        return kSipErrInput;
    }
    U8 slot = 0;
    U16 channel = 0;
    if (stream == nullptr || TSP_GetDestInfoByOutTSIndex(u16OutTSIndex, model, &slot, &channel) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetDestInfoByOutTSIndex return error\r\n\n");
        return kTspErrInput;
    }
    if (stream->u16ProgramNum == 0 || stream->u8PMTGenerate != 1) {
        return 0;
    }
    IndexInfoList programs{};
    if (const U32 rc = TSP_GetOutTSProgIndexList(u16OutTSIndex, model, &programs); rc != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return rc;
    }
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        const U16 programIndex = programs.aru16IndexList[i];
        const Output_TSProgram& program = model->pOutputProgram[programIndex];
        IndexInfoList ecms{};
        if (TSP_GetOutProgPSECMPIDIndexList(programIndex, model, &ecms) == 0 && ecms.u16IndexListNum == 1 &&
            model->pOutputPID[ecms.aru16IndexList[0]].u16PID == program.u16PMTPID) {
            continue;
        }
        if (IsPSITableInOtherPID(u16OutTSIndex, program.u16PMTPID)) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "OutTSIndex:%d  exist PMT %d in other pid\n", u16OutTSIndex,
                   program.u16PMTPID);
            continue;
        }
        U32 length = 0;
        TSP_ConstructPMTForProg(programIndex, pu8Buffer, &length);
        QueueVersioned(pu8Buffer, length, u16OutTSIndex, program.u16PMTPID, ProgramVersionFields(programIndex));
    }
    return 0;
}

U32 TSP_ConstructPSIP(U16 u16OutTSIndex, U8* pu8Buffer) {
    TSP_ModelLock lock;
    const Output_TSStream* stream = Stream(u16OutTSIndex);
    if (stream == nullptr || pu8Buffer == nullptr) {
        return kSipErrInput;
    }
    if (Resource_GetSIMode() != kSiModeAtsc || (stream->u8VCTGenerate != 1 && stream->u8MGTGenerate != 1)) {
        return 0;
    }
    VCTTable_t vct;
    std::vector<U8> vctBytes;
    std::optional<SettledTable> vctSettled;
    const VersionFields vctFields = SdtVersionFields(u16OutTSIndex);
    if (stream->u8VCTGenerate == 1) {
        if (const U32 rc = TSP_GetVCTInfo(u16OutTSIndex, &vct); rc != 0) {
            return rc;
        }
        vctBytes.resize(kSiConstructBytes);
        U32 length = 0;
        if (const U32 rc = SIP_ConstructVCTSections(&vct, vctBytes.data(), kSiConstructBytes, &length); rc != 0) {
            return rc;
        }
        vctBytes.resize(length);
        if (!vctBytes.empty()) {
            vctSettled = Settle(u16OutTSIndex, vctBytes.data(), length, vctFields);
            if (!vctSettled) {
                return kSipErrInput;
            }
        }
    }
    // The MGT has no version field in the model: it starts from the VCT's and
    // moves on whenever an entry it lists changes (the VCT's version or length).
    MGTTable_t mgt;
    mgt.u8VersionNumber = vctSettled ? vctSettled->u8Version : 0;
    mgt.u8ProtocolVersion = 0;
    if (vctSettled) {
        mgt.vecTables.push_back({stream->u32VCTType != 0 ? kMgtTypeTvct : kMgtTypeCvct, kPsipPid,
                                 vctSettled->u8Version, static_cast<U32>(vctBytes.size())});
    }
    U32 mgtLength = 0;
    if (const U32 rc = SIP_ConstructMGTSections(&mgt, pu8Buffer, kSiConstructBytes, &mgtLength); rc != 0) {
        return rc;
    }
    if (mgtLength + vctBytes.size() > kSiConstructBytes) {
        return kSipErrBound;
    }
    const std::optional<SettledTable> mgtSettled =
        Settle(u16OutTSIndex, pu8Buffer, mgtLength, mgt.u8VersionNumber, false);
    if (!mgtSettled) {
        return kSipErrInput;
    }
    if (!vctBytes.empty()) {
        std::memcpy(pu8Buffer + mgtLength, vctBytes.data(), vctBytes.size());
    }
    if (const U32 rc = Queue(pu8Buffer, mgtLength + static_cast<U32>(vctBytes.size()), u16OutTSIndex, kPsipPid);
        rc != 0) {
        return rc;
    }
    MarkSent(*mgtSettled, {});
    if (vctSettled) {
        MarkSent(*vctSettled, vctFields);
    }
    return 0;
}

}  // namespace hx

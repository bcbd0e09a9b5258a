#include "engine/web_edit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/err.h"
#include "core/log.h"
#include "engine/conflict_process.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_walkers.h"
#include "engine/output_model.h"
#include "platform/resource.h"

namespace hx {

namespace {

constexpr U16 kMaxAtscChannelNumber = 1023;

bool SameText(const U8* a, U8 aLength, const U8* b, U8 bLength) {
    return aLength == bLength && std::memcmp(a, b, aLength) == 0;
}

// Copies a view's name into a record; true when it changed anything.
bool SetName(U8* field, U8& length, const U8* name, U8 nameLength) {
    const U8 kept = std::min<U8>(nameLength, 32);
    if (SameText(field, length, name, kept)) {
        return false;
    }
    std::memset(field, 0, 32);
    std::memcpy(field, name, kept);
    length = kept;
    return true;
}

// The program of the stream whose current service ID is `serviceId`.
U16 ProgramWithServiceId(const Output_TSInfo* model, const IndexInfoList& programs, U16 serviceId) {
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        if (model->pOutputProgram[programs.aru16IndexList[i]].u16ServiceID == serviceId) {
            return programs.aru16IndexList[i];
        }
    }
    return kChainEnd;
}

// Service ID, names: the fields both edits set the same way.
void ApplyProgramIdentity(Output_TSStream& ts, Output_TSProgram& program, const Output_WebProgramInfo& view) {
    if (program.u16ServiceID != view.u16ServiceID) {
        program.u16ServiceID = view.u16ServiceID;
        ts.u8PATChangeFlag = 1;
        ts.u8SDTChangeFlag = 1;
        program.u8PMTChangeFlag = 1;
    }
    const bool nameChanged =
        SetName(program.aru8ServiceName, program.u8ServiceNameLen, view.aru8ServiceName, view.u8ServiceNameLen);
    const bool providerChanged = SetName(program.aru8ServiceProvider, program.u8ServiceProviderLen,
                                         view.aru8ServiceProvider, view.u8ServiceProviderLen);
    if (nameChanged || providerChanged) {
        ts.u8SDTChangeFlag = 1;
    }
}

// Discards every pending edit: the temporary model becomes the live one again.
void ReloadTemporaryModel() {
    if (TSP_InitOutputTempTSInfo() != 0 || TSP_CopyOutputTempTSInfo() != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "reload of the temporary model failed\r\n\n");
    }
}

struct SavedPids {
    U16 pmt;
    U16 pcr;
    U16 pcrRecord;
    std::vector<std::pair<U16, U16>> es;  // record index, PID
};

SavedPids SavePids(const Output_TSInfo* model, U16 programIndex, const IndexInfoList& esList) {
    const Output_TSProgram& program = model->pOutputProgram[programIndex];
    SavedPids saved{program.u16PMTPID, program.u16PCRPID, 0, {}};
    if (program.u16PCRIndex < model->u32OutputPIDNumber) {
        saved.pcrRecord = model->pOutputPID[program.u16PCRIndex].u16PID;
    }
    for (U16 i = 0; i < esList.u16IndexListNum; ++i) {
        saved.es.emplace_back(esList.aru16IndexList[i], model->pOutputPID[esList.aru16IndexList[i]].u16PID);
    }
    return saved;
}

void RestorePids(Output_TSInfo* model, U16 programIndex, const SavedPids& saved) {
    Output_TSProgram& program = model->pOutputProgram[programIndex];
    program.u16PMTPID = saved.pmt;
    program.u16PCRPID = saved.pcr;
    if (program.u16PCRIndex < model->u32OutputPIDNumber) {
        model->pOutputPID[program.u16PCRIndex].u16PID = saved.pcrRecord;
    }
    for (const auto& [index, pid] : saved.es) {
        model->pOutputPID[index].u16PID = pid;
    }
}

// One operator PID through the conflict check; true when it clashed.
bool PidClashes(U32* result, U16 tsIndex, PIDTYPE_E type, U16 offset, U16 newPid, Output_TSInfo* model) {
    U8 clash = 0;
    *result = TSP_CheckOutputPidConflict(tsIndex, type, offset, newPid, model, &clash);
    return *result == 0 && clash != 0;
}

}  // namespace

U32 TSP_ModifyTSInfoByWeb(Output_WebTSInfo* pstWebTSInfo, U8* pu8ConflictFlag) {
    if (pstWebTSInfo == nullptr || pu8ConflictFlag == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const Output_WebTSInfo& view = *pstWebTSInfo;
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, view.u16Channel);
    if (tsIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u] has no output ts\r\n\n", view.u16Channel);
        return kTspErrNoProgram;
    }
    const U16 programViews = std::min<U16>(view.u16ProgramNum, kWebProgramViews);
    for (U16 i = 0; i < programViews; ++i) {
        if (view.arOutputProInfo[i].u16ServiceID == 0) {
            *pu8ConflictFlag = 1;
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u] ServiceID[0] marks the NIT\r\n\n",
                   view.u16Channel);
            return kErrServiceIdConflict;
        }
        for (U16 j = 0; j < i; ++j) {
            if (view.arOutputProInfo[i].u16ServiceID == view.arOutputProInfo[j].u16ServiceID) {
                *pu8ConflictFlag = 1;
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u] ServiceID[%u] used twice\r\n\n",
                       view.u16Channel, view.arOutputProInfo[i].u16ServiceID);
                return kErrServiceIdConflict;
            }
        }
    }
    if (view.u16PIDNum > kWebPidViews) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "u16PIDNum[%u] beyond [%u]\r\n\n", view.u16PIDNum, kWebPidViews);
        return kTspErrInput;
    }
    // Every check comes before the first change, so a refused edit leaves the
    // temporary model as it was. Every view finds its program before any
    // service ID changes, so two programs can swap their IDs.
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    if (list.u16IndexListNum != view.u16ProgramNum) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "program number[%u] but view[%u]\r\n\n", list.u16IndexListNum,
               view.u16ProgramNum);
        return kTspErrViewCount;
    }
    std::vector<U16> targets(programViews);
    for (U16 i = 0; i < programViews; ++i) {
        targets[i] = ProgramWithServiceId(model, list, view.arOutputProInfo[i].u16OldServiceID);
        if (targets[i] == kChainEnd) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u],ServiceID[%u] program don't exist\r\n\n",
                   view.u16Channel, view.arOutputProInfo[i].u16OldServiceID);
            return kTspErrNoProgram;
        }
    }
    if (const U32 result = TSP_GetOutTSOtherPIDIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSOtherPIDIndexList return error\r\n\n");
        return result;
    }
    if (list.u16IndexListNum != view.u16PIDNum) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "other PID number[%u] but view[%u]\r\n\n", list.u16IndexListNum,
               view.u16PIDNum);
        return kTspErrViewCount;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const U16 pidIndex = list.aru16IndexList[i];
        const U16 newPid = view.arOutputPIDInfo[i].u16PID;
        if (model->pOutputPID[pidIndex].u16PID == newPid) {
            continue;
        }
        U32 result = 0;
        if (PidClashes(&result, tsIndex, PID_TYPE_OTHERPID, pidIndex, newPid, model)) {
            *pu8ConflictFlag = 1;
            ReloadTemporaryModel();
            return kErrPidConflict;
        }
        if (result != 0) {
            // Other PIDs written before this one would stay half an edit.
            ReloadTemporaryModel();
            return result;
        }
    }
    *pu8ConflictFlag = 0;

    Output_TSStream& ts = model->pOutputTS[tsIndex];
    if (ts.u16OriginalNetworkID != view.u16OriginalNetworkID) {
        ts.u16OriginalNetworkID = view.u16OriginalNetworkID;
        ts.u8SDTChangeFlag = 1;
    }
    if (ts.u16TransportStreamID != view.u16TransportStreamID) {
        ts.u16TransportStreamID = view.u16TransportStreamID;
        ts.u8PATChangeFlag = 1;
        ts.u8SDTChangeFlag = 1;
    }
    ts.u8ModulationMode = view.u8ModulationMode;
    ts.u8TDTGenerate = view.u8TDTGenerate;

    for (U16 i = 0; i < programViews; ++i) {
        ApplyProgramIdentity(ts, model->pOutputProgram[targets[i]], view.arOutputProInfo[i]);
    }
    return 0;
}

U32 TSP_ModifyProgramInfoByWeb(U16 u16Channel, Output_WebProgramInfo* pstWebProgramInfo, U8* pu8ConflictFlag) {
    if (pstWebProgramInfo == nullptr || pu8ConflictFlag == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "input ERROR\r\n\n");
        return kTspErrInput;
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTempTSParam();
    const Output_WebProgramInfo& view = *pstWebProgramInfo;
    const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
    IndexInfoList programs;
    programs.u16IndexListNum = 0;
    if (tsIndex != kChainEnd) {
        if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &programs); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
            return result;
        }
    }
    const U16 programIndex = ProgramWithServiceId(model, programs, view.u16OldServiceID);
    if (programIndex == kChainEnd) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u],ServiceID[%u] program don't exist\r\n\n", u16Channel,
               view.u16OldServiceID);
        return kTspErrNoProgram;
    }
    if (view.u16ServiceID == 0) {
        *pu8ConflictFlag = 1;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u] ServiceID[0] marks the NIT\r\n\n", u16Channel);
        return kErrServiceIdConflict;
    }
    for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
        const Output_TSProgram& other = model->pOutputProgram[programs.aru16IndexList[i]];
        if (programs.aru16IndexList[i] != programIndex && other.u16ServiceID == view.u16ServiceID) {
            *pu8ConflictFlag = 1;
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Channel[%u] ServiceID[%u] used by another program\r\n\n",
                   u16Channel, view.u16ServiceID);
            return kErrServiceIdConflict;
        }
    }
    Output_TSProgram& program = model->pOutputProgram[programIndex];
    if (Resource_GetSIMode() == kSiModeAtsc) {
        if (view.u16MajorChannelNum > kMaxAtscChannelNumber || view.u16MinorChannelNum > kMaxAtscChannelNumber) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel number[%u-%u] beyond 1023\r\n\n",
                   view.u16MajorChannelNum, view.u16MinorChannelNum);
            return kTspErrChannelNumber;
        }
        for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
            const Output_TSProgram& other = model->pOutputProgram[programs.aru16IndexList[i]];
            if (programs.aru16IndexList[i] != programIndex && other.u16MajorChannelNum == view.u16MajorChannelNum &&
                other.u16MinorChannelNum == view.u16MinorChannelNum) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "channel number[%u-%u] used by another program\r\n\n",
                       view.u16MajorChannelNum, view.u16MinorChannelNum);
                return kTspErrChannelNumber;
            }
        }
    }
    Output_TSStream& ts = model->pOutputTS[tsIndex];
    if (view.u16ESNumber != program.u16ESNumber) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "ES number[%u] but view[%u]\r\n\n", program.u16ESNumber,
               view.u16ESNumber);
        return kTspErrViewCount;
    }
    IndexInfoList esList;
    if (const U32 result = TSP_GetOutProgESPIDIndexList(programIndex, model, &esList); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutProgESPIDIndexList return error\r\n\n");
        return result == kTspErrInput ? kTspErrCount : result;
    }
    const SavedPids saved = SavePids(model, programIndex, esList);
    // Each view entry names its ES record by the PID it showed.
    std::vector<std::pair<U16, U16>> esChanges;  // record index, new PID
    for (U16 j = 0; j < std::min<U16>(view.u16ESNumber, kWebEsViews); ++j) {
        for (const auto& [index, pid] : saved.es) {
            if (pid == view.arOutputESInfo[j].u16OldPID) {
                esChanges.emplace_back(index, view.arOutputESInfo[j].u16PID);
                break;
            }
        }
    }
    struct Check {
        PIDTYPE_E type;
        U16 offset;
        U16 oldPid;
        U16 newPid;
    };
    std::vector<Check> checks = {{PID_TYPE_PMTPID, programIndex, saved.pmt, view.u16PMTPID},
                                 {PID_TYPE_PCRPID, programIndex, saved.pcr, view.u16PCRPID}};
    for (const auto& [index, newPid] : esChanges) {
        checks.push_back({PID_TYPE_ESPID, index, model->pOutputPID[index].u16PID, newPid});
    }
    for (const Check& check : checks) {
        if (check.oldPid == check.newPid) {
            continue;
        }
        U32 result = 0;
        if (PidClashes(&result, tsIndex, check.type, check.offset, check.newPid, model)) {
            *pu8ConflictFlag = 1;
            RestorePids(model, programIndex, saved);
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "PID[%u] clashes in Channel[%u]\r\n\n", check.newPid,
                   u16Channel);
            return kErrPidConflict;
        }
        if (result != 0) {
            RestorePids(model, programIndex, saved);
            return result;
        }
    }

    // Every check has passed (the PID checks put back what they moved when
    // one refused), so nothing a refused edit named is left in the copy.
    if (Resource_GetSIMode() == kSiModeAtsc) {
        program.u16MajorChannelNum = view.u16MajorChannelNum;
        program.u16MinorChannelNum = view.u16MinorChannelNum;
    }
    if (program.u8ServiceType != static_cast<U8>(view.u8ServiceType)) {
        program.u8ServiceType = static_cast<U8>(view.u8ServiceType);
        ts.u8SDTChangeFlag = 1;
    }
    ApplyProgramIdentity(ts, program, view);
    program.u16PMTPID = view.u16PMTPID;
    // Only the PIDs the operator changed are written: one the checks moved
    // with another record of its stream of packets (a video carrying the PCR)
    // stays where they put it, or the pair would be routed apart.
    for (const auto& [index, newPid] : esChanges) {
        for (const auto& [savedIndex, savedPid] : saved.es) {
            if (savedIndex == index && savedPid != newPid) {
                model->pOutputPID[index].u16PID = newPid;
            }
        }
    }
    // The PMT names the PID the PCR record is routed to, wherever the checks
    // moved it (with its video, say); the view's value only counts for a
    // program without a PCR record.
    const U16 pcrRecord = program.u16PCRIndex;
    const bool hasPcrRecord = pcrRecord < model->u32OutputPIDNumber &&
                              model->pOutputPID[pcrRecord].u8ValidFlag == kRecordValid &&
                              model->pOutputPID[pcrRecord].u8PIDType == PID_TYPE_PCRPID;
    program.u16PCRPID = hasPcrRecord ? model->pOutputPID[pcrRecord].u16PID : view.u16PCRPID;
    if (program.u16PMTPID != saved.pmt) {
        ts.u8PATChangeFlag = 1;
        program.u8PMTChangeFlag = 1;
    }
    bool pidsMoved = program.u16PCRPID != saved.pcr;
    for (const auto& [index, pid] : saved.es) {
        pidsMoved = pidsMoved || model->pOutputPID[index].u16PID != pid;
    }
    if (pidsMoved) {
        program.u8PMTChangeFlag = 1;
    }
    return 0;
}

}  // namespace hx

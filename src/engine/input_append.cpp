// Where input messages append: the tail of an owner's chain, from the tail the
// previous append left when it still holds, else from a walk. See
// input_common.h. The hints are engine bookkeeping beside the live model,
// guarded by the model lock like the model.
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "engine/input_common.h"
#include "engine/model_walkers.h"

namespace hx {

namespace {

struct ChainTraits {
    U32 (*walker)(U16, const Output_TSInfo*, IndexInfoList*);
    const char* walkerName;
    U32 limit;
};

const ChainTraits& Traits(InputChain chain) {
    static const ChainTraits kTraits[] = {
        {TSP_GetOutTSProgIndexList, "TSP_GetOutTSProgIndexList", kIndexListSize},
        {TSP_GetOutTSDescIndexList, "TSP_GetOutTSDescIndexList", kIndexListSize - 1},
        {TSP_GetOutProgESPIDIndexList, "TSP_GetOutProgESPIDIndexList", kIndexListSize},
        {TSP_GetOutProgPSECMPIDIndexList, "TSP_GetOutProgPSECMPIDIndexList", kIndexListSize},
        {TSP_GetOutESECMPIDIndexList, "TSP_GetOutESECMPIDIndexList", kIndexListSize - 1},
        {TSP_GetOutTSEMMPIDIndexList, "TSP_GetOutTSEMMPIDIndexList", kIndexListSize},
        {TSP_GetOutTSOtherPIDIndexList, "TSP_GetOutTSOtherPIDIndexList", kIndexListSize},
    };
    return kTraits[static_cast<std::size_t>(chain)];
}

U32 HintKey(InputChain chain, U16 owner) { return static_cast<U32>(chain) << 16 | owner; }

std::unordered_map<U32, U16>& Hints() {
    static std::unordered_map<U32, U16> hints;
    return hints;
}

// A PID record at the end of a chain of `type` whose owner field is `owner`.
bool PidTail(const Output_TSInfo* model, U16 index, U8 type, U32 ownerField, U16 owner) {
    if (index >= model->u32OutputPIDNumber) {
        return false;
    }
    const Output_TSPID& pid = model->pOutputPID[index];
    return pid.u8ValidFlag == kRecordValid && pid.u8PIDType == type && pid.u32PIDIndex == index &&
           static_cast<U16>(pid.u32NextPIDIndex) == kChainEnd && ownerField == owner;
}

// The chain's length when `index` still says it is the tail of the owner's
// chain, else 0.
U32 HintedLength(const Output_TSInfo* model, InputChain chain, U16 owner, U16 index) {
    const bool streamOwner = chain == InputChain::Programs || chain == InputChain::Descriptors ||
                             chain == InputChain::Emms || chain == InputChain::Others;
    const bool programOwner = chain == InputChain::ElementaryStreams || chain == InputChain::ProgramEcms;
    if ((streamOwner && owner >= model->u32OutputTSNumber) ||
        (programOwner && owner >= model->u32OutputProgramNumber) ||
        (chain == InputChain::EsEcms && owner >= model->u32OutputPIDNumber)) {
        return 0;
    }
    bool tail = false;
    U32 count = 0;
    switch (chain) {
        case InputChain::Programs: {
            if (index < model->u32OutputProgramNumber) {
                const Output_TSProgram& program = model->pOutputProgram[index];
                tail = program.u8ValidFlag == kRecordValid && program.u16ProgramIndex == index &&
                       program.u16TSIndex == owner && program.u16NextProgramIndex == kChainEnd;
            }
            count = model->pOutputTS[owner].u16ProgramNum;
            break;
        }
        case InputChain::Descriptors: {
            if (index < model->u32OutputDescriptorNumber) {
                const TSDescriptor& descriptor = model->pDescriptor[index];
                tail = descriptor.u8ValidFlag == kRecordValid && descriptor.u16TSIndex == owner &&
                       descriptor.u16NextDescriptorIndex == kChainEnd;
            }
            count = model->pOutputTS[owner].u16DescriptorNum;
            break;
        }
        case InputChain::ElementaryStreams:
        case InputChain::ProgramEcms: {
            const bool es = chain == InputChain::ElementaryStreams;
            tail = PidTail(model, index, es ? PID_TYPE_ESPID : PID_TYPE_PS_ECMPID,
                           index < model->u32OutputPIDNumber ? model->pOutputPID[index].u32ProgramIndex : 0, owner);
            const Output_TSProgram& program = model->pOutputProgram[owner];
            count = es ? program.u16ESNumber : program.u16PSECMPIDNumber;
            break;
        }
        case InputChain::EsEcms:
            tail = PidTail(model, index, PID_TYPE_ES_ECMPID,
                           index < model->u32OutputPIDNumber ? model->pOutputPID[index].u16ESPIDIndex : 0, owner);
            count = model->pOutputPID[owner].u16ESECMPIDNumber;
            break;
        case InputChain::Emms:
        case InputChain::Others: {
            const bool emm = chain == InputChain::Emms;
            tail = PidTail(model, index, emm ? PID_TYPE_EMMPID : PID_TYPE_OTHERPID,
                           index < model->u32OutputPIDNumber ? model->pOutputPID[index].u32TSIndex : 0, owner);
            const Output_TSStream& ts = model->pOutputTS[owner];
            count = emm ? ts.u16EMMPIDNumber : ts.u16OtherPIDNum;
            break;
        }
    }
    return tail ? count : 0;
}

U32 Walk(const char* function, const ChainTraits& traits, U16 owner, const Output_TSInfo* model, U16* last,
         U32* length) {
    IndexInfoList list;
    if (const U32 result = traits.walker(owner, model, &list); result != 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n", traits.walkerName);
        return result;
    }
    *length = list.u16IndexListNum;
    *last = list.u16IndexListNum == 0 ? kChainEnd : list.aru16IndexList[list.u16IndexListNum - 1];
    return 0;
}

}  // namespace

U32 Input_AppendPoint(const char* function, InputChain chain, U16 owner, Output_TSInfo* model, U16* last) {
    const ChainTraits& traits = Traits(chain);
    U32 length = 0;
    const auto hint = Hints().find(HintKey(chain, owner));
    if (hint != Hints().end()) {
        length = HintedLength(model, chain, owner, hint->second);
    }
    if (length != 0) {
        *last = hint->second;
#if defined(HX_SANITIZED)
        U16 walkedLast = kChainEnd;
        U32 walkedLength = 0;
        if (Walk(function, traits, owner, model, &walkedLast, &walkedLength) != 0 || walkedLast != *last ||
            walkedLength != length) {
            std::fprintf(stderr,
                         "append hint of chain %u owner %u names %u (length %u) where the walk ends at %u (length "
                         "%u): the model's links disagree\n",
                         static_cast<unsigned>(chain), owner, *last, length, walkedLast, walkedLength);
            std::abort();
        }
#endif
    } else if (const U32 result = Walk(function, traits, owner, model, last, &length); result != 0) {
        return result;
    }
    if (length >= traits.limit) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s owner[%u] already holds [%u], chain full\r\n\n",
                  traits.walkerName, owner, length);
        return kTspErrRange;
    }
    return 0;
}

void Input_Appended(InputChain chain, U16 owner, U16 index) { Hints()[HintKey(chain, owner)] = index; }

}  // namespace hx

#include "engine/slot_bookkeeping.h"

#include <algorithm>
#include <array>
#include <vector>

#include "chassis/ipcomm.h"
#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/log.h"
#include "engine/model_lock.h"
#include "engine/model_lookup.h"
#include "engine/model_remove.h"
#include "engine/model_walkers.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "platform/board.h"
#include "platform/chassis_info.h"
#include "platform/resource.h"

namespace hx {

std::atomic<U8> g_DelDestChannelNum{0};

namespace {

constexpr U32 kCmdSendResource = 257;
constexpr U32 kCmdDelDestChannel = 2068;
constexpr U8 kChannelStatusNone = 0;
constexpr U8 kChannelStatusBypass = 1;
constexpr U8 kChannelStatusMux = 2;

// Whether the chassis reports a board in the slot (the plug map the back
// board keeps up to date).
bool SlotPlugged(U8 slot) { return Status_CheckSubBoardPlugExist(slot) != 0; }

void Uncount(std::atomic<U8>& counter) {
    U8 value = counter.load();
    while (value > 0 && !counter.compare_exchange_weak(value, static_cast<U8>(value - 1))) {
    }
}

struct PidOrder {
    U16 sourceChannel;
    U16 channel;
    U16 key;
    U8 filterFlag;
};

struct ProgramOrder {
    U16 sourceChannel;
    U16 channel;
    U16 programId;
};

// Calls `visit` with each other PID and then each EMM PID of a stream.
template <typename Visit>
U32 ForEachStreamPid(const Output_TSInfo* model, U16 tsIndex, Visit visit) {
    IndexInfoList list;
    for (auto walker : {TSP_GetOutTSOtherPIDIndexList, TSP_GetOutTSEMMPIDIndexList}) {
        if (const U32 result = walker(tsIndex, model, &list); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TS[%u] PID walk return error\r\n\n", tsIndex);
            return result;
        }
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            visit(model->pOutputPID[list.aru16IndexList[i]]);
        }
    }
    return 0;
}

// The delete orders that clear one slot's share of one stream, collected
// before any of them runs (each removal relinks the chains).
U32 CollectOrders(const Output_TSInfo* model, U16 tsIndex, U8 slot, std::vector<PidOrder>* pids,
                  std::vector<ProgramOrder>* programs) {
    if (const U32 result = ForEachStreamPid(model, tsIndex, [&](const Output_TSPID& pid) {
            if (pid.u8SourceSlotID == slot) {
                pids->push_back({pid.u16SourceChannelID, pid.u16ChannelID, pid.u16PIDID, pid.u8PIDFilterFlag});
            }
        });
        result != 0) {
        return result;
    }
    IndexInfoList list;
    if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
        return result;
    }
    for (U16 i = 0; i < list.u16IndexListNum; ++i) {
        const Output_TSProgram& program = model->pOutputProgram[list.aru16IndexList[i]];
        if (program.u8SourceSlotID == slot) {
            programs->push_back({program.u16SourceChannelID, program.u16ChannelID, program.u16ProgramID});
        }
    }
    return 0;
}

U32 RemoveSlotFromModel(U8 slot) {
    TSP_ModelLock lock;
    const U32 streams = TSP_GetTSParam()->u32OutputTSNumber;
    for (U32 tsIndex = 0; tsIndex < streams; ++tsIndex) {
        const Output_TSInfo* model = TSP_GetTSParam();
        if (model->pOutputTS[tsIndex].u8ValidFlag != kRecordValid) {
            continue;
        }
        std::vector<PidOrder> pids;
        std::vector<ProgramOrder> programs;
        if (const U32 result = CollectOrders(model, static_cast<U16>(tsIndex), slot, &pids, &programs); result != 0) {
            return result;
        }
        for (const PidOrder& order : pids) {
            if (const U32 result =
                    TSP_DelPIDInfoByInput(slot, order.sourceChannel, order.channel, order.key, order.filterFlag);
                result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelPIDInfoByInput return error\r\n\n");
                return result;
            }
        }
        for (const ProgramOrder& order : programs) {
            if (const U32 result = TSP_DelProgramInfoByInput(slot, order.sourceChannel, order.channel, order.programId);
                result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_DelProgramInfoByInput return error\r\n\n");
                return result;
            }
        }
    }
    return 0;
}

}  // namespace

U32 ClearOneSlotInfoFromInput(U8 u8Slot) {
    HX_MODEL_LOCK_FORBIDDEN();
    if (u8Slot > kMaxSlot) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error\r\n\n");
        return kTspErrInput;
    }
    const U32 removal = RemoveSlotFromModel(u8Slot);
    // Whatever was removed must reach the FPGA, the back board and the EIT
    // board even when the removal stopped early.
    const U32 apply = TSP_MuxProcess();
    TSP_UpdateResourceInfo();
    IPComm_SendEITInfo();
    PARAMS_TSPParametersSave();
    return removal != 0 ? removal : apply;
}

U32 TSP_SendClearCmd() {
    HX_MODEL_LOCK_FORBIDDEN();
    std::array<bool, kMaxSlot + 1> feeds{};
    {
        TSP_ModelLock lock;
        const Output_TSInfo* model = TSP_GetTSParam();
        auto mark = [&](U8 slot) {
            if (slot <= kMaxSlot) {
                feeds[slot] = true;
            }
        };
        for (U32 i = 0; i < model->u32OutputProgramNumber; ++i) {
            if (model->pOutputProgram[i].u8ValidFlag == kRecordValid) {
                mark(model->pOutputProgram[i].u8SourceSlotID);
            }
        }
        for (U32 i = 0; i < model->u32OutputPIDNumber; ++i) {
            if (model->pOutputPID[i].u8ValidFlag == kRecordValid) {
                mark(model->pOutputPID[i].u8SourceSlotID);
            }
        }
        for (U32 i = 0; i < model->u32OutputTSNumber; ++i) {
            if (model->pOutputTS[i].u8ValidFlag == kRecordValid && model->pOutputTS[i].u8BypassFlag == 1) {
                mark(model->pOutputTS[i].u8SrcSlotID);
            }
        }
        for (U32 i = 0; i < model->u32OutputBypassTSNumber; ++i) {
            if (model->pOutputBypassTS[i].u8ValidFlag == kRecordValid) {
                mark(model->pOutputBypassTS[i].u8SourceSlotID);
            }
        }
    }
    const U32 own = Status_GetSlotID();
    U32 firstFailure = 0;
    for (U8 slot = 0; slot <= kMaxSlot; ++slot) {
        if (!feeds[slot] || slot == own) {
            continue;
        }
        if (const S32 result = IPComm_SendClearCmd2Slot(slot); result != 0) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "send clear command to slot[%u] fail[%d]\r\n\n", slot, result);
            if (firstFailure == 0) {
                firstFailure = static_cast<U32>(result);
            }
        }
    }
    return firstFailure;
}

U32 TSP_UpdateResourceInfo() {
    HX_MODEL_LOCK_FORBIDDEN();
    ResourceBytes record{};
    bool changed = false;
    {
        TSP_ModelLock lock;
        const Output_TSInfo* model = TSP_GetTSParam();
        TResource_TS* self = Resource_getSelfHandle();
        for (U32 channel = 0; channel < BMN_GetOutputChannelNum(); ++channel) {
            const U16 tsIndex = ModelLookup_StreamOfChannel(model, static_cast<U16>(channel));
            U8 status = kChannelStatusNone;
            if (tsIndex != kChainEnd) {
                status = model->pOutputTS[tsIndex].u8BypassFlag == 1 ? kChannelStatusBypass : kChannelStatusMux;
            }
            if (self->au8ChannelStatus[channel] != status) {
                self->au8ChannelStatus[channel] = status;
                changed = true;
            }
        }
        if (changed) {
            record = Resource_Serialize(*self);
        }
    }
    if (!changed) {
        return 0;
    }
    if (const S32 result = IPComm_SendData2Slot(kBackBoardSlot, kCmdSendResource, record.data(), record.size());
        result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "send resource to back board fail[%d]\r\n\n", result);
        return static_cast<U32>(result);
    }
    return 0;
}

U32 TSP_SendDelDestChannelNumToInputBoard(U16 u16Channel) {
    HX_MODEL_LOCK_FORBIDDEN();
    std::vector<U8> sources;
    {
        TSP_ModelLock lock;
        const Output_TSInfo* model = TSP_GetTSParam();
        const U16 tsIndex = ModelLookup_StreamOfChannel(model, u16Channel);
        if (tsIndex == kChainEnd) {
            return 0;
        }
        const Output_TSStream& ts = model->pOutputTS[tsIndex];
        auto add = [&sources](U8 slot) {
            if (std::find(sources.begin(), sources.end(), slot) == sources.end()) {
                sources.push_back(slot);
            }
        };
        if (ts.u8BypassFlag == 1) {
            add(ts.u8SrcSlotID);
        } else {
            // A card may feed the channel only an EMM or other PID: it must
            // drop it too, or its next apply puts the PID back.
            IndexInfoList list;
            if (const U32 result = TSP_GetOutTSProgIndexList(tsIndex, model, &list); result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "TSP_GetOutTSProgIndexList return error\r\n\n");
                return result;
            }
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                add(model->pOutputProgram[list.aru16IndexList[i]].u8SourceSlotID);
            }
            if (const U32 result =
                    ForEachStreamPid(model, tsIndex, [&](const Output_TSPID& pid) { add(pid.u8SourceSlotID); });
                result != 0) {
                return result;
            }
        }
    }
    const U32 own = Status_GetSlotID();
    g_DelDestChannelNum.store(0);
    for (U8 slot : sources) {
        if (slot == own) {
            continue;
        }
        if (slot > kMaxSlot) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "source slot[%u] error\r\n\n", slot);
            continue;
        }
        if (slot != kBackBoardSlot && !SlotPlugged(slot)) {
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "slot[%u] not plugged, clear its programs\r\n\n", slot);
            if (const U32 result = ClearOneSlotInfoFromInput(slot); result != 0) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "ClearOneSlotInfoFromInput return error\r\n\n");
            }
            continue;
        }
        U8 data[4];
        PutLe32(data, u16Channel);
        // Counted before it goes out: the card may answer with its apply
        // command before this call returns.
        g_DelDestChannelNum.fetch_add(1);
        if (const S32 result = IPComm_SendData2Slot(slot, kCmdDelDestChannel, data, sizeof data); result != 0) {
            Uncount(g_DelDestChannelNum);
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "send DelDestChannel to slot[%u] fail[%d]\r\n\n", slot, result);
            return static_cast<U32>(result);
        }
    }
    return 0;
}

}  // namespace hx

// Fuzzes the output model store with records as they can arrive from input
// cards or a damaged model file: the structural fields of every record (links,
// counts, valid flags, types, keys, loop lengths) come from the input. Then
// every walker, predecessor finder, lookup, view, removal and copy runs over
// the model, and the invariant checker reads it before and after. Nothing may
// read or write outside a pool or loop for ever.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "core/log.h"
#include "core/run_profile.h"
#include "engine/output_model.h"
#include "engine/web_report.h"
#include "support/model_checker.h"

namespace {

using namespace hx;

struct Region {
    std::size_t offset;
    std::size_t size;
};

// The bytes of each record kind the input fills; the rest stays zero.
constexpr Region kStreamRegions[] = {{0, 88}};
constexpr Region kProgramRegions[] = {{0, 48}, {118, 18}, {500, 32}};
constexpr Region kPidRegions[] = {{0, 50}, {52, 16}, {240, 8}};
constexpr Region kTableRegions[] = {{0, 32}};
constexpr Region kDescriptorRegions[] = {{0, 32}, {1040, 16}};
constexpr Region kBypassRegions[] = {{0, 40}};

constexpr TSInfoInitNum kCounts = {4, 8, 24, 4, 4, 2};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    template <std::size_t N>
    void Fill(U8* record, const Region (&regions)[N]) {
        for (const Region& region : regions) {
            const std::size_t take = std::min(region.size, size_ - std::min(size_, at_));
            if (take > 0) {
                std::memcpy(record + region.offset, data_ + at_, take);
            }
            at_ += region.size;
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

template <std::size_t N>
void FillPool(Output_TSInfo* model, ModelPool pool, Input& input, const Region (&regions)[N]) {
    for (U32 i = 0; i < ModelPool_Count(model, pool); ++i) {
        input.Fill(ModelPool_Record(model, pool, i), regions);
    }
}

void WalkEverything(Output_TSInfo* model) {
    IndexInfoList list;
    U16 out = 0;
    for (U16 ts = 0; ts <= model->u32OutputTSNumber; ++ts) {
        for (auto walker : {TSP_GetOutTSProgIndexList, TSP_GetOutTSEMMPIDIndexList, TSP_GetOutTSOtherPIDIndexList,
                            TSP_GetOutTSDescIndexList, TSP_GetOutTSNITTableIndexList, TSP_GetOutTSBATTableIndexList,
                            TSP_GetOutTSTOTTableIndexList, TSP_GetOutTSOtherNitTableIndexList,
                            TSP_GetOutTSOtherSdtTableIndexList}) {
            walker(ts, model, &list);
        }
    }
    for (U16 program = 0; program <= model->u32OutputProgramNumber; ++program) {
        TSP_GetOutProgESPIDIndexList(program, model, &list);
        TSP_GetOutProgPSECMPIDIndexList(program, model, &list);
        TSP_GetPrevOutputProgIndex(program, model, &out);
    }
    for (U16 pid = 0; pid <= model->u32OutputPIDNumber; ++pid) {
        TSP_GetOutESECMPIDIndexList(pid, model, &list);
        TSP_GetOutPIDESECMPIDIndexList(pid, model, &list);
        TSP_GetPrevOutputPIDIndex(pid, model, &out);
    }
    for (U16 descriptor = 0; descriptor <= model->u32OutputDescriptorNumber; ++descriptor) {
        TSP_GetPrevOutputDescIndex(descriptor, model, &out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    // Streams zeroed by input orders are announced on standard output.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    if (TSP_InitTSInfo(live, &kCounts) != 0 || TSP_InitTSInfo(TSP_GetTempTSParam(), &kCounts) != 0) {
        return 0;
    }
    Input input(data, size);
    FillPool(live, ModelPool::Stream, input, kStreamRegions);
    FillPool(live, ModelPool::Program, input, kProgramRegions);
    FillPool(live, ModelPool::Pid, input, kPidRegions);
    FillPool(live, ModelPool::Table, input, kTableRegions);
    FillPool(live, ModelPool::Descriptor, input, kDescriptorRegions);
    FillPool(live, ModelPool::Bypass, input, kBypassRegions);
    ModelPool_RecordsChanged(live);

    hx::test::CheckModel(*live);
    WalkEverything(live);

    auto view = std::make_unique<Output_WebTSInfo>();
    for (U16 ts = 0; ts < live->u32OutputTSNumber; ++ts) {
        TSP_SendTSInfoToWeb(live->pOutputTS[ts].u16ChannelID, view.get(), live);
    }
    TSP_InitOutputTempTSInfo();
    TSP_CopyOutputTempTSInfo();

    // Delete orders keyed as the records themselves are.
    for (U16 program = 0; program < live->u32OutputProgramNumber; program += 3) {
        const Output_TSProgram record = live->pOutputProgram[program];
        TSP_DelDescriptorInfoByInput(record.u8SourceSlotID, record.u16SourceChannelID, record.u16ChannelID,
                                     record.u16ProgramID);
        TSP_DelProgramInfoByInput(record.u8SourceSlotID, record.u16SourceChannelID, record.u16ChannelID,
                                  record.u16ProgramID);
    }
    for (U16 pid = 0; pid < live->u32OutputPIDNumber; pid += 2) {
        const Output_TSPID record = live->pOutputPID[pid];
        TSP_DelPIDInfoByInput(record.u8SourceSlotID, record.u16SourceChannelID, record.u16ChannelID, record.u16PIDID,
                              record.u8PIDFilterFlag);
    }
    if (live->pOutputTS[0].u8ValidFlag == 1) {
        TSP_DelTSInfoByInput(live->pOutputTS[0].u8SrcSlotID, live->pOutputTS[0].u16SrcChannelID,
                             live->pOutputTS[0].u16ChannelID);
    }
    // By index, on whatever is left, then the apply copy of the earlier refresh.
    for (U16 pid = 1; pid < live->u32OutputPIDNumber; pid += 2) {
        TSP_DelOutputPID(pid, live);
    }
    for (U16 ts = 0; ts < live->u32OutputTSNumber; ++ts) {
        TSP_DelOutputTS(ts, live);
    }
    hx::test::CheckModel(*live);
    TSP_CopyOutputTSInfo();
    hx::test::CheckModel(*live);
    return 0;
}

// The small model the fuzz targets that touch the output model start every
// input from: channel 0 a multiplexed stream with a NIT and two programs
// ("Eins", "Zwei"; service IDs 100 and 101, each with a PCR and a video PID),
// channel 1 a stream passed through from slot 12, the temporary copy
// refreshed from it as "GetSubboardTSInfo.w" does. Small pools, so that
// edits and imports also take the growth paths.
#pragma once

#include <algorithm>
#include <vector>

#include "core/common_fun.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "si/nit_storage.h"
#include "si/section_codec.h"
#include "support/model_builder.h"

namespace hx::fuzz {

constexpr TSInfoInitNum kSmallModelPools = {16, 8, 16, 8, 8, 8};

struct SmallModelExtras {
    bool audio = false;     // an audio PID beside each program's video PID
    bool otherPid = false;  // an other PID on channel 0
};

// One NIT section of that network with one transport-stream entry.
inline std::vector<U8> SmallModelNit(U16 networkId, U16 tsid) {
    std::vector<U8> section = {0x40, 0xF0, 0x00, static_cast<U8>(networkId >> 8), static_cast<U8>(networkId),
                               0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x06, static_cast<U8>(tsid >> 8),
                               static_cast<U8>(tsid), 0x00, 0x01, 0xF0, 0x00};
    section[2] = static_cast<U8>(section.size() + 4 - 3);
    const U32 crc = Common_CRC(section, kCrcInitMpeg2);
    section.resize(section.size() + 4);
    PutBe32(&section[section.size() - 4], crc);
    return section;
}

// Builds the model into the live model (its pools given by the caller) and
// refreshes the temporary copy from it.
inline void BuildSmallModel(const SmallModelExtras& extras = {}) {
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    test::ModelBuilder builder(live);
    const U16 ts = builder.AddStream(0);
    for (U16 p = 0; p < 2; ++p) {
        const U8 slot = static_cast<U8>(5 + p);
        const U16 base = static_cast<U16>(0x100 + 0x10 * p);
        const U16 program = builder.AddProgram(
            ts, {.sourceSlot = slot, .programId = static_cast<U16>(p + 1), .serviceId = static_cast<U16>(100 + p),
                 .pmtPid = base, .pcrPid = static_cast<U16>(base + 1)});
        builder.AddPid(PID_TYPE_PCRPID, program, {.sourceSlot = slot, .key = base, .pid = static_cast<U16>(base + 1)});
        builder.AddPid(PID_TYPE_ESPID, program,
                       {.sourceSlot = slot, .key = base, .pid = static_cast<U16>(base + 1), .streamType = 0x02});
        if (extras.audio) {
            builder.AddPid(PID_TYPE_ESPID, program,
                           {.sourceSlot = slot, .key = static_cast<U16>(base + 2), .pid = static_cast<U16>(base + 2),
                            .streamType = 0x04});
        }
        Output_TSProgram& record = live->pOutputProgram[program];
        record.u8ServiceNameLen = 4;
        std::copy_n(p == 0 ? "Eins" : "Zwei", 4, record.aru8ServiceName);
    }
    if (extras.otherPid) {
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.sourceSlot = 5, .key = 0x1FF0, .pid = 0x1FF0, .streamType = 0x06});
    }
    const std::vector<U8> nit = SmallModelNit(1, 1);
    std::vector<TSTable> records;
    TSP_SectionsToRecords(nit.data(), static_cast<U32>(nit.size()), kNitTableId, kNitTableType, 0, 0, ts, records);
    TSP_ReplaceTableChain(live, ts, TableChainHead::Nit, records);
    live->pOutputTS[ts].u8NITGenerate = 1;
    Output_TSStream& bypass = live->pOutputTS[builder.AddStream(1)];
    bypass.u8BypassFlag = 1;
    bypass.u8SrcSlotID = 12;
    bypass.u16SrcChannelID = 3;
    TSP_InitOutputTempTSInfo();
    TSP_CopyOutputTempTSInfo();
}

}  // namespace hx::fuzz

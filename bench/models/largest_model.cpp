#include "models/largest_model.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "si/nit_storage.h"
#include "support/model_builder.h"

namespace hx::bench {

namespace {

std::vector<U8> NitOf(U16 networkId) {
    std::vector<U8> section = {0x40, 0xF0, 0x0D, static_cast<U8>(networkId >> 8), static_cast<U8>(networkId),
                               0xC1, 0x00, 0x00, 0xF0, 0x00, 0xF0, 0x00};
    section[2] = static_cast<U8>(section.size() + 4 - 3);
    const U32 crc = Common_CRC(section, kCrcInitMpeg2);
    section.resize(section.size() + 4);
    PutBe32(&section[section.size() - 4], crc);
    return section;
}

}  // namespace

U32 BuildLargestModel(U32 programs, const LargestModelOptions& options) {
    TSP_ModelLock lock;
    if (TSP_FactoryOutputTSInfo() != 0) {
        return 0;
    }
    Output_TSInfo* model = TSP_GetTSParam();
    test::ModelBuilder builder(model);
    std::array<U16, kLargestModelStreams> streams{};
    for (U16 c = 0; c < kLargestModelStreams; ++c) {
        streams[c] = builder.AddStream(c);
        const std::vector<U8> nit = NitOf(c);
        std::vector<TSTable> records;
        TSP_SectionsToRecords(nit.data(), static_cast<U32>(nit.size()), kNitTableId, kNitTableType, 0, c, streams[c],
                              records);
        TSP_ReplaceTableChain(model, streams[c], TableChainHead::Nit, records);
        model->pOutputTS[streams[c]].u8NITGenerate = 1;
    }
    U32 routed = 0;
    for (U32 p = 0; p < programs; ++p) {
        const U16 c = static_cast<U16>(p % kLargestModelStreams);
        const U8 slot = static_cast<U8>(1 + p % 8);
        const U16 id = static_cast<U16>(p + 1);
        const U16 base = static_cast<U16>(0x100 + 8 * (p / kLargestModelStreams));
        const U16 program = builder.AddProgram(
            streams[c], test::ProgramSpec{.sourceSlot = slot, .programId = id, .serviceId = id, .pmtPid = base,
                                          .pcrPid = static_cast<U16>(base + 1)});
        if (program == 0xFFFF) {
            return 0;
        }
        if (options.programNames) {
            Output_TSProgram& record = model->pOutputProgram[program];
            const std::string name = "Program " + std::to_string(id);
            record.u8ServiceNameLen = static_cast<U8>(name.size());
            std::copy(name.begin(), name.end(), record.aru8ServiceName);
        }
        builder.AddPid(PID_TYPE_PCRPID, program,
                       test::PidSpec{.sourceSlot = slot, .key = static_cast<U16>(4 * id), .pid = static_cast<U16>(base + 1)});
        for (U16 e = 1; e <= 4; ++e) {
            builder.AddPid(PID_TYPE_ESPID, program,
                           test::PidSpec{.sourceSlot = slot, .key = static_cast<U16>(4 * id + e),
                                         .pid = static_cast<U16>(base + e), .streamType = e == 1 ? U8{0x02} : U8{0x04}});
        }
        routed += 4;
    }
    const U32 emms = kLargestModelEmms * programs / kLargestModelPrograms;
    for (U32 e = 0; e < emms; ++e) {
        const U16 emm = builder.AddPid(PID_TYPE_EMMPID, streams[e % kLargestModelStreams],
                                       test::PidSpec{.sourceSlot = 9, .key = static_cast<U16>(60000 + e),
                                                     .pid = static_cast<U16>(0x1F00 + e)});
        model->pOutputPID[emm].u16CASID = 0x0B00;
        ++routed;
    }
    return routed;
}

}  // namespace hx::bench

#include "support/input_card_model.h"

#include "engine/input_messages.h"

namespace hx::test {

namespace {

constexpr U8 kSources[] = {3, 5, 7};
constexpr std::size_t kLoopBytes = 200;
constexpr U8 kNitTableType = 2;

template <typename Record>
void Append(std::vector<InputCardMessage>& messages, IPCOMM_CMD command, const std::vector<Record>& records,
            std::vector<U8> (*encode)(std::span<const Record>), std::size_t recordBytes = sizeof(Record)) {
    for (InputCardMessage& message : InputCard_Messages<Record>(command, records, encode, recordBytes)) {
        messages.push_back(std::move(message));
    }
}

}  // namespace

InputCardModel MakeInputCardModel(U32 programs) {
    std::vector<Output_TSProgram> programRecords;
    std::vector<Output_TSPID> pids;
    std::vector<TSDescriptor> loops;
    std::vector<DeleteProgramOrder> programOrders;
    std::vector<U8> loop(kLoopBytes, 0);
    loop[0] = 0x0A;  // one ISO-639 language descriptor filling the loop
    loop[1] = kLoopBytes - 2;
    for (U32 i = 0; i < programs; ++i) {
        const U8 slot = kSources[i % 3];
        const U16 channel = static_cast<U16>(i % kInputCardStreams);
        // The three sources of a stream number alike: their PIDs and service IDs clash.
        const U16 group = static_cast<U16>(i / kInputCardStreams / 3);
        const U16 base = static_cast<U16>(0x100 + 8 * group);
        const ProgramFields program{.sourceSlot = slot, .channel = channel, .programId = static_cast<U16>(i + 1),
                                    .serviceId = static_cast<U16>(group + 1), .pmtPid = base,
                                    .pcrPid = static_cast<U16>(base + 1)};
        programRecords.push_back(InputCard_Program(program));
        auto pid = [&](PIDTYPE_E type, U16 key, U16 value) {
            return InputCard_Pid({.type = type, .sourceSlot = slot, .channel = channel, .programId = program.programId,
                                  .key = key, .pid = value});
        };
        pids.push_back(pid(PID_TYPE_PCRPID, static_cast<U16>(base + 4), static_cast<U16>(base + 1)));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(base + 1), static_cast<U16>(base + 1)));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(base + 2), static_cast<U16>(base + 2)));
        pids.push_back(pid(PID_TYPE_PS_ECMPID, static_cast<U16>(base + 3), static_cast<U16>(base + 3)));
        loops.push_back(InputCard_ProgramLoop(program, loop));
        programOrders.push_back({.sourceSlot = slot, .channel = channel, .programId = program.programId});
    }
    std::vector<TSTable> nits;
    std::vector<DeletePidOrder> pidOrders;
    for (U16 channel = 0; channel < kInputCardStreams; ++channel) {
        pids.push_back(InputCard_Pid({.type = PID_TYPE_EMMPID, .channel = channel,
                                      .key = static_cast<U16>(0x1F00 + channel), .pid = 0x1F00}));
        pids.push_back(InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = channel,
                                      .key = static_cast<U16>(0x1E00 + channel), .pid = 0x1E00}));
        pidOrders.push_back({.channel = channel, .key = static_cast<U16>(0x1F00 + channel)});
        pidOrders.push_back({.channel = channel, .key = static_cast<U16>(0x1E00 + channel)});
        TSTable nit{};
        nit.u8SlotID = 3;
        nit.u16ChannelID = channel;
        nit.u8TableType = kNitTableType;
        nit.aru8TableInfo[0] = 0x40;
        nits.push_back(nit);
    }

    InputCardModel model;
    Append(model.build, IPCOMM_SEND_PROGRAM, programRecords, InputCard_EncodePrograms);
    Append(model.build, IPCOMM_SEND_PID, pids, InputCard_EncodePids);
    Append(model.build, IPCOMM_SEND_DESCRIPTOR, loops, InputCard_EncodeDescriptors);
    // A NIT message carries the sections of one stream.
    for (const TSTable& nit : nits) {
        model.build.push_back({IPCOMM_SEND_NIT_TABLE, InputCard_EncodeTables(std::vector{nit})});
    }
    Append(model.remove, IPCOMM_DEL_PROGRAM, programOrders, InputCard_EncodeDeletePrograms, kOrderBytes);
    Append(model.remove, IPCOMM_DEL_PID, pidOrders, InputCard_EncodeDeletePids, kOrderBytes);
    model.records = programRecords.size() + pids.size() + loops.size() + nits.size();
    return model;
}

U32 SendInputCardMessages(const std::vector<InputCardMessage>& messages) {
    for (const InputCardMessage& message : messages) {
        // The entry reads the buffer only; the dispatcher hands over its own.
        U8* data = const_cast<U8*>(message.payload.data());
        if (const U32 result = TSP_ConstructOutputTS(data, message.command, static_cast<U16>(message.payload.size()));
            result != 0) {
            return result;
        }
    }
    return 0;
}

}  // namespace hx::test

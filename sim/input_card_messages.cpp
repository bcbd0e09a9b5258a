#include "sim/input_card_messages.h"

#include <algorithm>
#include <cstring>

#include "core/common_fun.h"

namespace hx {

namespace {

template <typename Record>
std::vector<U8> WholeRecords(std::span<const Record> records) {
    std::vector<U8> bytes(records.size() * sizeof(Record));
    if (!records.empty()) {
        std::memcpy(bytes.data(), records.data(), bytes.size());
    }
    return InputCard_Counted(static_cast<U8>(records.size()), bytes);
}

template <typename Order, typename Pack>
std::vector<U8> PackedOrders(std::span<const Order> orders, Pack pack) {
    std::vector<U8> bytes(orders.size() * kOrderBytes, 0);
    for (std::size_t i = 0; i < orders.size(); ++i) {
        pack(orders[i], &bytes[i * kOrderBytes]);
    }
    return InputCard_Counted(static_cast<U8>(orders.size()), bytes);
}

}  // namespace

Output_TSStream InputCard_Stream(U16 channel, U8 destinationSlot) {
    Output_TSStream stream{};
    stream.u32Length = sizeof stream;
    stream.u16ChannelID = channel;
    stream.u8SlotID = destinationSlot;
    stream.u16TransportStreamID = channel;
    stream.u16OriginalNetworkID = 1;
    return stream;
}

Output_TSProgram InputCard_Program(const ProgramFields& fields) {
    Output_TSProgram program{};
    program.u32Length = sizeof program;
    program.u8SourceSlotID = fields.sourceSlot;
    program.u16SourceChannelID = fields.sourceChannel;
    program.u16ChannelID = fields.channel;
    program.u8SlotID = fields.destinationSlot;
    program.u16ProgramID = fields.programId;
    program.u16OldServiceID = fields.serviceId;
    program.u16OldPMTPID = fields.pmtPid;
    program.u16OldPCRPID = fields.pcrPid;
    program.u8ServiceType = 1;
    static constexpr char kName[] = "Service";
    std::memcpy(program.aru8ServiceName, kName, sizeof kName - 1);
    program.u8ServiceNameLen = sizeof kName - 1;
    return program;
}

Output_TSPID InputCard_Pid(const PidFields& fields) {
    Output_TSPID pid{};
    pid.u32Length = sizeof pid;
    pid.u8PIDType = static_cast<U8>(fields.type);
    pid.u8SourceSlotID = fields.sourceSlot;
    pid.u16SourceChannelID = fields.sourceChannel;
    pid.u16ChannelID = fields.channel;
    pid.u8SlotID = fields.destinationSlot;
    pid.u16ProgramID = fields.programId;
    pid.u16PIDID = fields.key;
    pid.u16ESECMPIDIndex = fields.ownKey;
    pid.u16OldPID = fields.pid;
    pid.u8StreamType = fields.streamType;
    pid.u16SrcStreamID = fields.sourceStream;
    return pid;
}

TSDescriptor InputCard_ProgramLoop(const ProgramFields& program, std::span<const U8> loop) {
    TSDescriptor descriptor{};
    descriptor.u8SourceSlotID = program.sourceSlot;
    descriptor.u16SourceChannelID = program.sourceChannel;
    descriptor.u16ChannelID = program.channel;
    descriptor.u8SlotID = program.destinationSlot;
    descriptor.u16ProgramIndex = program.programId;
    const std::size_t length = std::min(loop.size(), sizeof descriptor.u8DescriptorInfo);
    std::memcpy(descriptor.u8DescriptorInfo, loop.data(), length);
    descriptor.u32Length = static_cast<U32>(length);
    return descriptor;
}

std::vector<U8> InputCard_Counted(U8 count, std::span<const U8> records) {
    std::vector<U8> payload;
    payload.reserve(1 + records.size());
    payload.push_back(count);
    payload.insert(payload.end(), records.begin(), records.end());
    return payload;
}

std::vector<U8> InputCard_EncodeStreams(std::span<const Output_TSStream> records) { return WholeRecords(records); }
std::vector<U8> InputCard_EncodePrograms(std::span<const Output_TSProgram> records) { return WholeRecords(records); }
std::vector<U8> InputCard_EncodePids(std::span<const Output_TSPID> records) { return WholeRecords(records); }
std::vector<U8> InputCard_EncodeDescriptors(std::span<const TSDescriptor> records) { return WholeRecords(records); }
std::vector<U8> InputCard_EncodeTables(std::span<const TSTable> records) { return WholeRecords(records); }
std::vector<U8> InputCard_EncodePassthrough(std::span<const Passthrough_TSStream> records) {
    return WholeRecords(records);
}

std::vector<U8> InputCard_EncodeDeleteStreams(std::span<const DeleteStreamOrder> orders) {
    return PackedOrders(orders, [](const DeleteStreamOrder& order, U8* out) {
        out[0] = order.sourceSlot;
        out[1] = order.destinationSlot;
        PutLe16(out + 4, order.sourceChannel);
        PutLe16(out + 6, order.channel);
    });
}

std::vector<U8> InputCard_EncodeDeletePrograms(std::span<const DeleteProgramOrder> orders) {
    return PackedOrders(orders, [](const DeleteProgramOrder& order, U8* out) {
        out[0] = order.sourceSlot;
        PutLe16(out + 2, order.sourceChannel);
        PutLe16(out + 4, order.channel);
        PutLe16(out + 6, order.programId);
    });
}

std::vector<U8> InputCard_EncodeDeletePids(std::span<const DeletePidOrder> orders) {
    return PackedOrders(orders, [](const DeletePidOrder& order, U8* out) {
        out[0] = order.sourceSlot;
        out[1] = order.filterFlag;
        PutLe16(out + 2, order.sourceChannel);
        PutLe16(out + 4, order.channel);
        PutLe16(out + 6, order.key);
    });
}

std::vector<U8> InputCard_EncodeMonitor(const MonitorChange& change) {
    std::vector<U8> bytes(kMonitorBytes, 0);
    bytes[0] = change.type;
    bytes[1] = change.streamType;
    PutLe16(&bytes[2], change.oldPid);
    PutLe16(&bytes[4], change.newPid);
    bytes[6] = change.sourceSlot;
    PutLe16(&bytes[8], change.sourceChannel);
    PutLe16(&bytes[10], change.channel);
    PutLe16(&bytes[12], change.key);
    PutLe16(&bytes[14], change.casId);
    std::copy_n(change.loop.begin(), std::min<std::size_t>(change.loop.size(), 188), bytes.begin() + 16);
    PutLe16(&bytes[204], change.loopLength);
    PutLe16(&bytes[206], change.descriptorIndex);
    return bytes;
}

}  // namespace hx

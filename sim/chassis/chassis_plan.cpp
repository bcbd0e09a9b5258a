#include "sim/chassis/chassis_plan.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "chassis/ipcomm_cmd.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "platform/resource.h"
#include "sim/input_card_messages.h"

namespace hx {

namespace {

constexpr U8 kBackBoardType = 0x40;  // neither an input nor an output board
constexpr U8 kInputCardType = 0x11;
constexpr U8 kStreamTypeVideo = 0x02;  // MPEG-2 video
constexpr U8 kStreamTypeAudio = 0x04;  // MPEG-2 audio
constexpr U8 kMaximumBitrateTag = 0x0E;

template <std::size_t N>
void CopyText(U8 (&field)[N], const char* text) {
    std::memcpy(field, text, std::min(N, std::strlen(text)));
}

TResource_TS Record(U32 slot, U8 type, const char* descriptor) {
    TResource_TS record{};
    record.u8SlotID = static_cast<U8>(slot);
    record.u8BoardType = type;
    record.u8Language = EN_LANGUAGE_EN;
    record.u32IPAddress = SimBoardAddress(slot);
    const U8 mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, static_cast<U8>(slot)};  // locally administered
    std::memcpy(record.au8Mac, mac, sizeof mac);
    CopyText(record.au8BoardDescriptor, descriptor);
    record.u32SoftVersion = kDefaultSoftVersion;
    return record;
}

std::vector<U8> Bytes(const TResource_TS& record) {
    const ResourceBytes bytes = Resource_Serialize(record);
    return std::vector<U8>(bytes.begin(), bytes.end());
}

ProgramFields Fields(const SimChassisPlan& plan, const SimPlanProgram& program) {
    return ProgramFields{.sourceSlot = static_cast<U8>(plan.inputSlot),
                         .sourceChannel = kSimPlanOutputChannel,
                         .channel = kSimPlanOutputChannel,
                         .destinationSlot = static_cast<U8>(plan.cardSlot),
                         .programId = program.programId,
                         .serviceId = program.serviceId,
                         .pmtPid = program.pmtPid,
                         .pcrPid = program.videoPid};
}

}  // namespace

std::vector<U32> SimChassis_PlanSlots(const SimChassisPlan& plan) {
    if (plan.backBoardOnly) {
        return {kBackBoardSlot};
    }
    return {kBackBoardSlot, plan.inputSlot, plan.eitSlot};
}

std::vector<SimPlanMessage> SimChassis_BackBoardMessages(const SimChassisPlan& plan) {
    std::vector<U8> mask(2);
    const TResource_TS backBoard = Record(kBackBoardSlot, kBackBoardType, "Back Board");
    if (plan.backBoardOnly) {
        PutLe16(mask.data(), static_cast<U16>(1u << plan.cardSlot));
        return {
            {kBackBoardSlot, IPCOMM_SEND_SUBPLUGFLAG, mask},
            {kBackBoardSlot, IPCOMM_SEND_RESOUR, Bytes(backBoard)},
        };
    }
    PutLe16(mask.data(), static_cast<U16>(1u << plan.cardSlot | 1u << plan.inputSlot | 1u << plan.eitSlot));
    TResource_TS input = Record(plan.inputSlot, kInputCardType, "IP Input");
    input.u8isDelChannelProg = 1;
    input.u8MuxPIDEnable = 1;
    TResource_TS eit = Record(plan.eitSlot, kEitBoardType, "EIT Board");
    eit.u8EitEnable = 1;
    return {
        {kBackBoardSlot, IPCOMM_SEND_SUBPLUGFLAG, mask},
        {kBackBoardSlot, IPCOMM_SEND_RESOUR, Bytes(backBoard)},
        {kBackBoardSlot, IPCOMM_SEND_RESOUR, Bytes(input)},
        {kBackBoardSlot, IPCOMM_SEND_RESOUR, Bytes(eit)},
    };
}

std::vector<SimPlanMessage> SimChassis_InputCardMessages(const SimChassisPlan& plan) {
    Output_TSStream stream = InputCard_Stream(kSimPlanOutputChannel, static_cast<U8>(plan.cardSlot));
    stream.u16TransportStreamID = kSimPlanTransportStreamId;
    stream.u16OriginalNetworkID = kSimPlanNetworkId;
    stream.u16NetworkID = kSimPlanNetworkId;
    stream.u8SrcSlotID = static_cast<U8>(plan.inputSlot);

    std::vector<Output_TSProgram> programs;
    std::vector<Output_TSPID> pids;
    std::vector<TSDescriptor> loops;
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        const ProgramFields fields = Fields(plan, program);
        Output_TSProgram record = InputCard_Program(fields);
        std::memset(record.aru8ServiceName, 0, sizeof record.aru8ServiceName);
        CopyText(record.aru8ServiceName, program.name);
        record.u8ServiceNameLen = static_cast<U8>(std::strlen(program.name));
        CopyText(record.aru8ServiceProvider, kSimPlanProvider);
        record.u8ServiceProviderLen = static_cast<U8>(std::strlen(kSimPlanProvider));
        programs.push_back(record);

        auto pid = [&](PIDTYPE_E type, U16 key, U16 value, U8 streamType) {
            return InputCard_Pid({.type = type, .sourceSlot = fields.sourceSlot, .sourceChannel = fields.sourceChannel,
                                  .channel = fields.channel, .destinationSlot = fields.destinationSlot,
                                  .programId = program.programId, .key = key, .pid = value,
                                  .streamType = streamType});
        };
        // Keys are the input card's own numbers of its PID records.
        const U16 key = static_cast<U16>(program.programId * 10);
        pids.push_back(pid(PID_TYPE_PCRPID, key, program.videoPid, 0));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(key + 1), program.videoPid, kStreamTypeVideo));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(key + 2), program.audioPid, kStreamTypeAudio));

        // Maximum bitrate descriptor: 15 Mbit/s in units of 50 bytes/s.
        const U32 units = 15'000'000 / 8 / 50;
        const U8 loop[] = {kMaximumBitrateTag, 3, static_cast<U8>(0xC0 | units >> 16), static_cast<U8>(units >> 8),
                           static_cast<U8>(units)};
        loops.push_back(InputCard_ProgramLoop(fields, loop));
    }
    return {
        {plan.inputSlot, IPCOMM_SEND_TS, InputCard_EncodeStreams(std::vector{stream})},
        {plan.inputSlot, IPCOMM_SEND_PROGRAM, InputCard_EncodePrograms(programs)},
        {plan.inputSlot, IPCOMM_SEND_PID, InputCard_EncodePids(pids)},
        {plan.inputSlot, IPCOMM_SEND_DESCRIPTOR, InputCard_EncodeDescriptors(loops)},
        {plan.inputSlot, IPCOMM_SEND_TSP_MUX_PROCESS, {}},
        {plan.inputSlot, IPCOMM_SEND_OVER, {}},
    };
}

std::vector<SimMessage> SimChassis_InputCardDropMessages(const SimChassisPlan& plan) {
    std::vector<DeleteProgramOrder> orders;
    for (const SimPlanProgram& program : kSimPlanPrograms) {
        orders.push_back({.sourceSlot = static_cast<U8>(plan.inputSlot), .sourceChannel = kSimPlanOutputChannel,
                          .channel = kSimPlanOutputChannel, .programId = program.programId});
    }
    return {
        {IPCOMM_DEL_PROGRAM, InputCard_EncodeDeletePrograms(orders)},
        {IPCOMM_SEND_TSP_MUX_PROCESS, {}},
    };
}

bool SimChassis_RunPlan(SimChassis& chassis, const SimChassisPlan& plan) {
    std::vector<SimPlanMessage> messages = SimChassis_BackBoardMessages(plan);
    if (!plan.backBoardOnly) {
        chassis.SetChannelFeed(plan.inputSlot, kSimPlanOutputChannel, plan.cardAddress, plan.port,
                               SimChassis_InputCardDropMessages(plan));
        for (SimPlanMessage& message : SimChassis_InputCardMessages(plan)) {
            messages.push_back(std::move(message));
        }
    }
    bool allAnswered = true;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const SimPlanMessage& message = messages[i];
        const SimSendResult result = chassis.Send(message.fromSlot, plan.cardAddress, plan.port, message.command,
                                                  message.payload, i == 0 ? plan.waitForCardMs : 0);
        if (i == 0 && result.outcome == IPCommExchange::Refused) {
            return false;  // the card never came up: nothing else can go out
        }
        allAnswered = allAnswered && result.ok();
    }
    return allAnswered;
}

}  // namespace hx

// The inter-board link over loopback, with the card's own server in this
// process and a simulated EIT board of the chassis:
//
// - a bare exchange: IPComm_SendCmd of 258 (a connection, one packet, the
//   dispatcher's success reply, close);
// - a whole configuration as an input card sends it: per output stream 31
//   programs (in messages of 5), 3 PIDs each (PCR record, video, audio; 13 to
//   a message) and a 200-byte program-info loop each (4 to a message), every
//   message cut into packets of 1,400 data bytes, one connection per packet,
//   then 271; timed from the first packet until the EIT board holds the card's
//   EIT list and 279. The apply in between runs the real pipeline against the
//   simulated main FPGA and saves the model file (fsync included). Ranged by
//   streams, 1, 4 and 16 (16 streams: 496 programs, 1,488 PIDs, 496 loops);
//   the fit is against packets.
//
// The data root is a temporary folder with the simulated board's profile;
// nothing outside 127.0.0.0/8 is contacted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_server.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "platform/board.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "sim/chassis/sim_chassis.h"
#include "sim/input_card_messages.h"
#include "sim/main_fpga.h"

namespace hx {
namespace {

constexpr U32 kCard = 0x7F000001;  // the card's server on the simulated board's profile
constexpr U8 kInputSlot = 3;
constexpr U32 kEitSlot = 5;
constexpr U16 kProgramsPerStream = 31;  // 16 streams: 496 programs
constexpr std::size_t kLoopBytes = 200;


// The card's server and an EIT board at slot 5, in a temporary data root,
// set up once for the whole program and removed at its end.
class Link {
public:
    Link() {
        Log_SetConsoleSink([](std::string_view) {});
        char folder[] = "/tmp/hx-chassis-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            return;
        }
        root_ = folder;
        RunProfile profile = SimProfile(root_);
        profile.interBoardPort = SimChassis_FreeLoopbackPort();
        SetProfile(profile);
        PrepareDataRoot();
        REG_AttachBus(std::make_shared<sim::MainFpga>(sim::MainFpgaConfig{}));
        Resource_Reset();
        // The card's own record: its output channels bound the EIT list.
        Resource_getSelfHandle()->u16OutputChannelNum = static_cast<U16>(BMN_GetOutputChannelNum());
        GetQAMPara_Handle()->Standard.value = 0;
        Resource_GetHandle(kInputSlot)->u8MuxPIDEnable = 1;
        TResource_TS* eit = Resource_GetHandle(kEitSlot);
        eit->u8BoardType = kEitBoardType;
        eit->u8EitEnable = 1;
        eit->u32IPAddress = SimBoardAddress(kEitSlot);
        ready_ = chassis_.Start({kEitSlot}, profile.interBoardPort) && IPServer_Start() == 0 &&
                 IPServer_WaitListening() == profile.interBoardPort;
    }
    ~Link() {
        IPServer_Stop();
        chassis_.Stop();
        if (!root_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
        }
    }
    bool ready() const { return ready_; }
    SimChassis& chassis() { return chassis_; }

private:
    std::filesystem::path root_;
    SimChassis chassis_;
    bool ready_ = false;
};

Link& TheLink() {
    static Link link;
    return link;
}

template <typename Record>
void Append(std::vector<InputCardMessage>& messages, IPCOMM_CMD command, const std::vector<Record>& records,
            std::vector<U8> (*encode)(std::span<const Record>)) {
    for (InputCardMessage& message : InputCard_Messages<Record>(command, records, encode)) {
        messages.push_back(std::move(message));
    }
}

// The whole configuration of `streams` output streams from the input card in
// slot 3, ending with the apply order.
std::vector<InputCardMessage> Configuration(U16 streams) {
    std::vector<Output_TSStream> streamRecords;
    std::vector<Output_TSProgram> programs;
    std::vector<Output_TSPID> pids;
    std::vector<TSDescriptor> loops;
    std::vector<U8> loop(kLoopBytes, 0);
    loop[0] = 0x0A;  // one ISO-639 language descriptor filling the loop
    loop[1] = kLoopBytes - 2;
    for (U16 channel = 0; channel < streams; ++channel) {
        streamRecords.push_back(InputCard_Stream(channel));
    }
    for (U32 i = 0; i < U32{streams} * kProgramsPerStream; ++i) {
        const U16 channel = static_cast<U16>(i % streams);
        const U16 base = static_cast<U16>(0x100 + 8 * (i / streams));
        const ProgramFields program{.sourceSlot = kInputSlot, .channel = channel, .programId = static_cast<U16>(i + 1),
                                    .serviceId = static_cast<U16>(i + 1), .pmtPid = base,
                                    .pcrPid = static_cast<U16>(base + 1)};
        programs.push_back(InputCard_Program(program));
        auto pid = [&](PIDTYPE_E type, U16 key, U16 value, U8 streamType) {
            return InputCard_Pid({.type = type, .sourceSlot = kInputSlot, .channel = channel,
                                  .programId = program.programId, .key = key, .pid = value, .streamType = streamType});
        };
        pids.push_back(pid(PID_TYPE_PCRPID, static_cast<U16>(base + 4), static_cast<U16>(base + 1), 0x02));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(base + 1), static_cast<U16>(base + 1), 0x02));
        pids.push_back(pid(PID_TYPE_ESPID, static_cast<U16>(base + 2), static_cast<U16>(base + 2), 0x04));
        loops.push_back(InputCard_ProgramLoop(program, loop));
    }
    std::vector<InputCardMessage> messages;
    Append(messages, IPCOMM_SEND_TS, streamRecords, InputCard_EncodeStreams);
    Append(messages, IPCOMM_SEND_PROGRAM, programs, InputCard_EncodePrograms);
    Append(messages, IPCOMM_SEND_PID, pids, InputCard_EncodePids);
    Append(messages, IPCOMM_SEND_DESCRIPTOR, loops, InputCard_EncodeDescriptors);
    messages.push_back({IPCOMM_SEND_TSP_MUX_PROCESS, {}});
    return messages;
}

U32 PacketsOf(const InputCardMessage& message) {
    return std::max<U32>(1, static_cast<U32>((message.payload.size() + kIPCommMaxData - 1) / kIPCommMaxData));
}

// Sends one message as the input card does, packet by packet; false unless
// every packet got success.
bool Send(const InputCardMessage& message) {
    const U32 packets = PacketsOf(message);
    for (U32 i = 0; i < packets; ++i) {
        const std::size_t first = std::size_t{i} * kIPCommMaxData;
        const U32 length = static_cast<U32>(std::min<std::size_t>(kIPCommMaxData, message.payload.size() - first));
        U16 reply = 0;
        if (IPComm_ExchangeOnce(kCard, Profile().interBoardPort, kInputSlot, message.command,
                                length == 0 ? nullptr : message.payload.data() + first, length, i, packets,
                                &reply) != IPCommExchange::Success) {
            return false;
        }
    }
    return true;
}

std::size_t ValidPrograms() {
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    std::size_t count = 0;
    for (U32 i = 0; i < live->u32OutputProgramNumber; ++i) {
        count += live->pOutputProgram[i].u8ValidFlag == kRecordValid;
    }
    return count;
}

bool EmptyModel() {
    TSP_ModelLock lock;
    return TSP_FactoryOutputTSInfo() == 0;
}

void BM_BareExchange(benchmark::State& state) {
    if (!TheLink().ready()) {
        state.SkipWithError("link not set up");
        return;
    }
    for (auto _ : state) {
        if (IPComm_SendCmd(kCard, IPCOMM_SEND_DATA) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_BareExchange)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->DisplayAggregatesOnly();

void BM_ConfigurationToEitBoard(benchmark::State& state) {
    Link& link = TheLink();
    if (!link.ready()) {
        state.SkipWithError("link not set up");
        return;
    }
    const std::vector<InputCardMessage> messages = Configuration(static_cast<U16>(state.range(0)));
    U32 packets = 0;
    for (const InputCardMessage& message : messages) {
        packets += PacketsOf(message);
    }
    using Clock = std::chrono::steady_clock;
    double applyMs = 0;
    double eitMs = 0;
    std::size_t eitBytes = 0;
    std::size_t livePrograms = 0;
    for (auto _ : state) {
        state.PauseTiming();
        link.chassis().Take();
        if (!EmptyModel()) {
            state.SkipWithError("no model");
            break;
        }
        state.ResumeTiming();
        bool delivered = true;
        for (std::size_t m = 0; m + 1 < messages.size(); ++m) {
            delivered = delivered && Send(messages[m]);
        }
        // The apply order: its reply follows the apply (model save included);
        // the EIT list (278) and its end (279) follow the reply.
        const auto applyStart = Clock::now();
        delivered = delivered && Send(messages.back());
        const auto applied = Clock::now();
        if (!delivered || !link.chassis().WaitForMessages(2, 30'000)) {
            state.SkipWithError("configuration not delivered");
            break;
        }
        const auto eitDone = Clock::now();
        state.PauseTiming();
        applyMs += std::chrono::duration<double, std::milli>(applied - applyStart).count();
        eitMs += std::chrono::duration<double, std::milli>(eitDone - applied).count();
        const std::vector<SimReceivedMessage> received = link.chassis().Take();
        if (received.size() != 2 || received[0].command != IPCOMM_SEND_EITINFO ||
            received[1].command != IPCOMM_SEND_EITINFO_OVER) {
            state.SkipWithError("EIT board did not get the list and 279");
            break;
        }
        eitBytes = received[0].data.size();
        livePrograms = ValidPrograms();
        state.ResumeTiming();
    }
    const double runs = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["apply_ms"] = applyMs / runs;
    state.counters["eit_ms"] = eitMs / runs;
    state.counters["eit_bytes"] = static_cast<double>(eitBytes);
    state.counters["live_programs"] = static_cast<double>(livePrograms);
    state.SetComplexityN(packets);
    state.counters["messages"] = static_cast<double>(messages.size());
    state.counters["packets"] = packets;
    state.counters["programs"] = state.range(0) * kProgramsPerStream;
}
BENCHMARK(BM_ConfigurationToEitBoard)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace hx

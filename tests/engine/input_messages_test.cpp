// Input-card configuration messages, sent as the simulated input card encodes
// them into a live model with tiny pools (so every kind grows); the invariant
// checker reads the model after every message.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "core/err.h"
#include "core/run_profile.h"
#include "engine/conflict_process.h"
#include "engine/input_messages.h"
#include "engine/output_model.h"
#include "platform/resource.h"
#include "sim/input_card_messages.h"
#include "support/input_card_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/resolution_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr TSInfoInitNum kTinyPools = {2, 4, 8, 2, 2, 2};

std::vector<U16> Entries(const IndexInfoList& list) {
    return std::vector<U16>(list.aru16IndexList, list.aru16IndexList + list.u16IndexListNum);
}

class InputMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (U8 slot : {3, 5}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
        }
    }

    void TearDown() override {
        for (U8 slot : {3, 5}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
        }
    }

    // One message through the entry, as the dispatcher hands it over; the
    // model must be whole afterwards, whatever the result.
    U32 Send(IPCOMM_CMD command, std::vector<U8> payload) {
        const U32 result = TSP_ConstructOutputTS(payload.data(), command, static_cast<U16>(payload.size()));
        EXPECT_EQ("", Violations()) << "after command " << command;
        return result;
    }
    U32 Send(const InputCardMessage& message) { return Send(message.command, message.payload); }

    U32 SendPrograms(std::vector<Output_TSProgram> programs) {
        return Send(IPCOMM_SEND_PROGRAM, InputCard_EncodePrograms(programs));
    }
    U32 SendPids(std::vector<Output_TSPID> pids) { return Send(IPCOMM_SEND_PID, InputCard_EncodePids(pids)); }

    std::string Violations() {
        TSP_ModelLock lock;
        return test::DescribeViolations(test::CheckModel(*Live()));
    }

    Output_TSInfo* Live() { return TSP_GetTSParam(); }
    U16 StreamOf(U16 channel) {
        TSP_ModelLock lock;
        return ModelLookup_StreamOfChannel(Live(), channel);
    }
    Output_TSStream& Stream(U16 channel) { return Live()->pOutputTS[StreamOf(channel)]; }
    U16 ProgramOf(U8 slot, U16 channel, U16 programId) {
        U16 index = kChainEnd;
        EXPECT_EQ(0u, TSP_GetOutputProgramIndexByPID(slot, 0, channel, programId, &index));
        return index;
    }
    U16 PidOf(U8 slot, U16 channel, U16 key) {
        U16 index = kChainEnd;
        EXPECT_EQ(0u, TSP_GetOutputPIDIndexByPID(slot, 0, channel, key, &index));
        return index;
    }
    template <typename Walker>
    std::vector<U16> Chain(Walker walker, U16 owner) {
        TSP_ModelLock lock;
        IndexInfoList list;
        EXPECT_EQ(0u, walker(owner, Live(), &list));
        return Entries(list);
    }

    // Every byte of the live pools and their counts.
    std::vector<U8> Snapshot() {
        TSP_ModelLock lock;
        std::vector<U8> bytes;
        for (ModelPool pool : {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                               ModelPool::Descriptor, ModelPool::Bypass}) {
            const U32 count = ModelPool_Count(Live(), pool);
            bytes.insert(bytes.end(), reinterpret_cast<const U8*>(&count), reinterpret_cast<const U8*>(&count) + 4);
            const U8* begin = ModelPool_Record(Live(), pool, 0);
            bytes.insert(bytes.end(), begin, begin + count * ModelPool_RecordSize(pool));
        }
        return bytes;
    }

    // Channel 1: a program of slot 3 with a PCR, a video ES and an EMM PID.
    void BuildSmallModel() {
        ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 1, .programId = 7})}));
        ASSERT_EQ(0u, SendPids({InputCard_Pid({.type = PID_TYPE_PCRPID, .channel = 1, .programId = 7, .key = 0x101,
                                               .pid = 0x101}),
                                InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 7, .key = 0x102,
                                               .pid = 0x102}),
                                InputCard_Pid({.type = PID_TYPE_EMMPID, .channel = 1, .key = 0x600, .pid = 0x600})}));
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models{kTinyPools};
    TSP_ModelLock lock;
};

constexpr IPCOMM_CMD kCountedCommands[] = {
    IPCOMM_SEND_TS,      IPCOMM_SEND_PROGRAM, IPCOMM_SEND_PID,           IPCOMM_DEL_TS,
    IPCOMM_DEL_PROGRAM,  IPCOMM_CHANGE_PID,   IPCOMM_PROG_SET_DESCRAMBLE, IPCOMM_DEL_SCR,
    IPCOMM_SEND_NIT_TABLE, IPCOMM_DEL_PID,    IPCOMM_SEND_DESCRIPTOR,    IPCOMM_DEL_DESCRIPTOR,
};

std::size_t RecordSize(IPCOMM_CMD command) {
    switch (command) {
        case IPCOMM_SEND_TS: return sizeof(Output_TSStream);
        case IPCOMM_SEND_PROGRAM:
        case IPCOMM_PROG_SET_DESCRAMBLE:
        case IPCOMM_DEL_SCR: return sizeof(Output_TSProgram);
        case IPCOMM_SEND_PID:
        case IPCOMM_CHANGE_PID: return sizeof(Output_TSPID);
        case IPCOMM_SEND_NIT_TABLE: return sizeof(TSTable);
        case IPCOMM_SEND_DESCRIPTOR: return sizeof(TSDescriptor);
        default: return kOrderBytes;
    }
}

struct RefusedCase {
    std::string name;
    IPCOMM_CMD command;
    std::vector<U8> payload;
    U32 expected;
    std::string line;  // a console line that must name the refusal
};

std::vector<RefusedCase> RefusedCases() {
    std::vector<RefusedCase> cases;
    for (IPCOMM_CMD command : kCountedCommands) {
        const std::string code = std::to_string(command);
        cases.push_back({"count 0 of " + code, command, {0}, kTspErrInput, "u16Number[0]"});
        std::vector<U8> shortPayload(RecordSize(command), 0);
        shortPayload[0] = 1;  // one record claimed, one byte missing
        cases.push_back({"short " + code, command, shortPayload, kTspErrLength, "smaller than structure"});
    }
    // 57 x 1,168 wraps to 1,040 in 16 bits.
    cases.push_back({"57 descriptors in 1,040 bytes", IPCOMM_SEND_DESCRIPTOR,
                     InputCard_Counted(57, std::vector<U8>(1040, 0)), kTspErrLength, "structure[66576]"});
    cases.push_back({"truncated monitor", IPCOMM_MONITOR_PID, std::vector<U8>(207, 1), kTspErrLength,
                     "smaller than structure[208]"});
    cases.push_back({"unknown 272", static_cast<IPCOMM_CMD>(272), {1, 2, 3}, kTspErrCommand,
                     "IP data type error,eDataType[110]"});
    cases.push_back({"unknown 0", IPCOMM_NONE_CMD, {1}, kTspErrCommand, "eDataType[0]"});
    cases.push_back({"empty", IPCOMM_SEND_PROGRAM, {}, kTspErrInput, "Input error"});

    // A bad field in the second record refuses the whole message.
    auto programs = [](const std::function<void(Output_TSProgram&)>& spoil) {
        Output_TSProgram bad = InputCard_Program({.channel = 2, .programId = 9});
        spoil(bad);
        return InputCard_EncodePrograms(std::vector{InputCard_Program({.channel = 2, .programId = 8}), bad});
    };
    auto pids = [](const std::function<void(Output_TSPID&)>& spoil) {
        Output_TSPID bad = InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 2, .key = 0x701, .pid = 0x701});
        spoil(bad);
        return InputCard_EncodePids(
            std::vector{InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 2, .key = 0x700, .pid = 0x700}), bad});
    };
    const std::vector<std::tuple<std::string, std::function<void(Output_TSProgram&)>, std::string>> programFields = {
        {"source slot 17", [](Output_TSProgram& p) { p.u8SourceSlotID = 17; }, "u8SourceSlotID[17]"},
        {"name of 33", [](Output_TSProgram& p) { p.u8ServiceNameLen = 33; }, "u8ServiceNameLen[33]"},
        {"provider of 33", [](Output_TSProgram& p) { p.u8ServiceProviderLen = 33; }, "u8ServiceProviderLen[33]"},
        {"program info of 1,025", [](Output_TSProgram& p) { p.u16ProgramInfoLength = 1025; },
         "u16ProgramInfoLength[1025]"},
        {"SDT info of 1,025", [](Output_TSProgram& p) { p.u16SDTInfoLength = 1025; }, "u16SDTInfoLength[1025]"},
        {"PMT PID 0x2000", [](Output_TSProgram& p) { p.u16OldPMTPID = 0x2000; }, "u16OldPMTPID[8192]"},
        {"PCR PID 0x2000", [](Output_TSProgram& p) { p.u16OldPCRPID = 0x2000; }, "u16OldPCRPID[8192]"},
    };
    for (const auto& [name, spoil, line] : programFields) {
        cases.push_back({"program " + name, IPCOMM_SEND_PROGRAM, programs(spoil), kTspErrInput, "record[1] " + line});
    }
    const std::vector<std::tuple<std::string, std::function<void(Output_TSPID&)>, std::string>> pidFields = {
        {"source slot 17", [](Output_TSPID& p) { p.u8SourceSlotID = 17; }, "u8SourceSlotID[17]"},
        {"source stream 1,024", [](Output_TSPID& p) { p.u16SrcStreamID = 1024; }, "u16SrcStreamID[1024]"},
        {"PID 0x2000", [](Output_TSPID& p) { p.u16OldPID = 0x2000; }, "u16OldPID[8192]"},
        {"ES info of 1,025", [](Output_TSPID& p) { p.u16ESInfoLength = 1025; }, "u16ESInfoLength[1025]"},
    };
    for (const auto& [name, spoil, line] : pidFields) {
        cases.push_back({"PID " + name, IPCOMM_SEND_PID, pids(spoil), kTspErrInput, "record[1] " + line});
    }
    Output_TSPID cam = InputCard_Pid({.channel = 1, .key = 0x102, .pid = 0x102});
    cam.u16CISrcPID = 0x2000;
    cases.push_back({"CAM PID 0x2000", IPCOMM_CHANGE_PID, InputCard_EncodePids(std::vector{cam}), kTspErrInput,
                     "record[0] u16CISrcPID[8192]"});
    cam.u16CISrcPID = 0x40;
    cam.u16SrcCIStreamID = 1024;
    cases.push_back({"CAM stream 1,024", IPCOMM_CHANGE_PID, InputCard_EncodePids(std::vector{cam}), kTspErrInput,
                     "record[0] u16SrcCIStreamID[1024]"});
    Output_TSStream stream = InputCard_Stream(5);
    stream.u8SrcSlotID = 17;
    cases.push_back({"stream source slot 17", IPCOMM_SEND_TS,
                     InputCard_EncodeStreams(std::vector{InputCard_Stream(6), stream}), kTspErrInput,
                     "record[1] u8SrcSlotID[17]"});
    stream.u8SrcSlotID = 3;
    stream.u16SrcStreamID = 1024;
    cases.push_back({"stream source stream 1,024", IPCOMM_SEND_TS, InputCard_EncodeStreams(std::vector{stream}),
                     kTspErrInput, "record[0] u16SrcStreamID[1024]"});
    TSDescriptor loop = InputCard_ProgramLoop({.channel = 1, .programId = 7}, std::vector<U8>(200, 0));
    loop.u32Length = 1025;
    cases.push_back({"descriptor of 1,025", IPCOMM_SEND_DESCRIPTOR, InputCard_EncodeDescriptors(std::vector{loop}),
                     kTspErrInput, "record[0] u32Length[1025]"});
    cases.push_back({"monitor PID 0x2000", IPCOMM_MONITOR_PID,
                     InputCard_EncodeMonitor({.newPid = 0x2000, .channel = 1, .key = 7}), kTspErrInput,
                     "u16NewPID[8192]"});
    cases.push_back({"monitor loop of 1,025", IPCOMM_MONITOR_PID,
                     InputCard_EncodeMonitor({.newPid = 0x120, .channel = 1, .key = 7, .loopLength = 1025}),
                     kTspErrInput, "u16DescriptorInfoLength[1025]"});
    // The second record repeats the stored program: neither is added.
    cases.push_back({"repeated program", IPCOMM_SEND_PROGRAM,
                     InputCard_EncodePrograms(std::vector{InputCard_Program({.channel = 2, .programId = 8}),
                                                          InputCard_Program({.channel = 1, .programId = 7})}),
                     kTspErrCount, "sends repeatly"});
    return cases;
}

TEST_F(InputMessageTest, RefusedMessagesLeaveThePoolsByteIdentical) {
    BuildSmallModel();
    for (const RefusedCase& c : RefusedCases()) {
        SCOPED_TRACE(c.name);
        env.TakeConsole();
        const std::vector<U8> before = Snapshot();
        EXPECT_EQ(c.expected, Send(c.command, c.payload));
        EXPECT_EQ(before, Snapshot());
        EXPECT_NE(std::string::npos, env.Console().find(c.line)) << env.Console();
    }
}

TEST_F(InputMessageTest, ChangeProgramIsAcceptedWhateverItCarries) {
    BuildSmallModel();
    const std::vector<U8> before = Snapshot();
    for (const std::vector<U8>& payload : {std::vector<U8>{0}, std::vector<U8>{9, 1, 2}, std::vector<U8>(900, 0xFF)}) {
        EXPECT_EQ(0u, Send(IPCOMM_CHANGE_PROGRAM, payload));
    }
    EXPECT_EQ(before, Snapshot());
}

TEST_F(InputMessageTest, StreamsAreCreatedOncePerChannel) {
    ASSERT_EQ(0u, Send(IPCOMM_SEND_TS, InputCard_EncodeStreams(std::vector{InputCard_Stream(4), InputCard_Stream(4),
                                                                           InputCard_Stream(5), InputCard_Stream(6)})));
    EXPECT_EQ(18u, Live()->u32OutputTSNumber) << "the pool of two grew by 16";
    const Output_TSStream& stream = Stream(4);
    EXPECT_EQ(0xFFFF, stream.u16NITIndex);
    EXPECT_EQ(1, stream.u8PATGenerate);
    EXPECT_EQ(0, stream.u8PATChangeFlag) << "no change flag";
    EXPECT_NE(kChainEnd, StreamOf(5));
    EXPECT_NE(kChainEnd, StreamOf(6));
}

TEST_F(InputMessageTest, ProgramsMakeTheirStreamAndJoinItsChain) {
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 2, .programId = 1, .serviceId = 11}),
                                InputCard_Program({.channel = 2, .programId = 2, .serviceId = 12}),
                                InputCard_Program({.sourceSlot = 5, .channel = 2, .programId = 1})}));
    const U16 ts = StreamOf(2);
    const Output_TSStream& stream = Live()->pOutputTS[ts];
    EXPECT_EQ(0, stream.u16TransportStreamID) << "customer switch off";
    EXPECT_EQ(0, stream.u16OriginalNetworkID);
    EXPECT_EQ(4, stream.u8SlotID);
    EXPECT_EQ(1, stream.u8PATChangeFlag);
    EXPECT_EQ(1, stream.u8SDTChangeFlag);
    EXPECT_EQ((std::vector<U16>{ProgramOf(3, 2, 1), ProgramOf(3, 2, 2), ProgramOf(5, 2, 1)}),
              Chain(TSP_GetOutTSProgIndexList, ts));
    const Output_TSProgram& program = Live()->pOutputProgram[ProgramOf(3, 2, 2)];
    EXPECT_EQ(12, program.u16ServiceID) << "output values start as the input ones";
    EXPECT_EQ(0x100, program.u16PMTPID);
    EXPECT_EQ(ts, program.u16TSIndex);

    // Only a stream made for a program takes the record's IDs, and only in
    // the customer variant.
    RunProfile profile = Profile();
    profile.customVariant = true;
    SetProfile(profile);
    Output_TSProgram custom = InputCard_Program({.channel = 3});
    custom.u16TransportStreamID = 0x55;
    custom.u16OriginalNetworkID = 0x66;
    ASSERT_EQ(0u, SendPrograms({custom, InputCard_Program({.channel = 2, .programId = 3})}));
    EXPECT_EQ(0x55, Stream(3).u16TransportStreamID);
    EXPECT_EQ(0x66, Stream(3).u16OriginalNetworkID);
    EXPECT_EQ(0, Stream(2).u16TransportStreamID);
}

TEST_F(InputMessageTest, ThreeHundredProgramsFillAChannelAndTheNextIsRefused) {
    std::vector<Output_TSProgram> programs;
    for (U16 id = 1; id <= 300; ++id) {
        programs.push_back(InputCard_Program({.channel = 1, .programId = id, .serviceId = 5}));
    }
    for (const InputCardMessage& message :
         InputCard_Messages<Output_TSProgram>(IPCOMM_SEND_PROGRAM, programs, InputCard_EncodePrograms)) {
        ASSERT_EQ(0u, Send(message));
    }
    EXPECT_EQ(kTspErrRange, SendPrograms({InputCard_Program({.channel = 1, .programId = 301})}));
    EXPECT_EQ(300u, Chain(TSP_GetOutTSProgIndexList, StreamOf(1)).size()) << "still walkable";
    EXPECT_EQ(kChainEnd, ProgramOf(3, 1, 301)) << "not stored";
    EXPECT_EQ(0u, TSP_ConflictProcess()) << "and resolvable";
    EXPECT_EQ(300, Live()->pOutputProgram[ProgramOf(3, 1, 300)].u16ServiceID);
}

TEST_F(InputMessageTest, AFailureHalfwayKeepsTheStoredProgramsChained) {
    ASSERT_EQ(0u, Send(IPCOMM_SEND_TS, InputCard_EncodeStreams(std::vector{InputCard_Stream(2)})));
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 1})}));
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    // The third program needs a third stream, and the pool of two cannot grow.
    EXPECT_EQ(kTspErrMemory, SendPrograms({InputCard_Program({.channel = 1, .programId = 2}),
                                           InputCard_Program({.channel = 2, .programId = 2}),
                                           InputCard_Program({.channel = 3, .programId = 2})}));
    ModelPool_SetAllocHook({});
    EXPECT_EQ(2u, Chain(TSP_GetOutTSProgIndexList, StreamOf(1)).size());
    EXPECT_EQ(1u, Chain(TSP_GetOutTSProgIndexList, StreamOf(2)).size());
    EXPECT_EQ(kChainEnd, ProgramOf(3, 3, 2));
}

TEST_F(InputMessageTest, PidsHangOnTheirOwnersByType) {
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 1, .programId = 7})}));
    Stream(1).u8PATChangeFlag = Stream(1).u8SDTChangeFlag = 0;
    ASSERT_EQ(
        0u,
        SendPids({
            InputCard_Pid({.type = PID_TYPE_PCRPID, .channel = 1, .programId = 7, .key = 0x101, .pid = 0x101}),
            InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 7, .key = 0x102, .pid = 0x102}),
            InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 7, .key = 0x103, .pid = 0x103}),
            InputCard_Pid({.type = PID_TYPE_PS_ECMPID, .channel = 1, .programId = 7, .key = 0x104, .pid = 0x104}),
            InputCard_Pid({.type = PID_TYPE_ES_ECMPID, .channel = 1, .key = 0x102, .ownKey = 0x105, .pid = 0x105}),
            InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 1, .destinationSlot = 6, .key = 0x700, .pid = 0x700}),
        }));
    const U16 ts = StreamOf(1);
    const U16 program = ProgramOf(3, 1, 7);
    const U16 video = PidOf(3, 1, 0x102);
    EXPECT_EQ(PidOf(3, 1, 0x101), Live()->pOutputProgram[program].u16PCRIndex);
    EXPECT_EQ((std::vector<U16>{video, PidOf(3, 1, 0x103)}), Chain(TSP_GetOutProgESPIDIndexList, program));
    EXPECT_EQ((std::vector<U16>{PidOf(3, 1, 0x104)}), Chain(TSP_GetOutProgPSECMPIDIndexList, program));
    const U16 ecm = PidOf(3, 1, 0x105);
    EXPECT_EQ((std::vector<U16>{ecm}), Chain(TSP_GetOutESECMPIDIndexList, video));
    EXPECT_EQ(video, Live()->pOutputPID[ecm].u16ESPIDIndex);
    EXPECT_EQ(program, Live()->pOutputPID[ecm].u32ProgramIndex) << "the ES's program and stream";
    EXPECT_EQ(ts, Live()->pOutputPID[ecm].u32TSIndex);
    EXPECT_EQ((std::vector<U16>{PidOf(3, 1, 0x700)}), Chain(TSP_GetOutTSOtherPIDIndexList, ts));
    EXPECT_EQ(6, Stream(1).u8SlotID) << "the first other PID sets the stream's slot";
    EXPECT_EQ(0, Stream(1).u8PATChangeFlag + Stream(1).u8SDTChangeFlag + Stream(1).u8CATChangeFlag +
                     Live()->pOutputProgram[program].u8PMTChangeFlag)
        << "only an EMM raises a flag";
    EXPECT_NE(std::string::npos, env.Console().find("OutputTS PID type[3] Index[" + std::to_string(video) +
                                                    "] Pid [258] has been added"));
}

TEST_F(InputMessageTest, AnEmmMakesItsStreamAndAnOrphanIsSkipped) {
    testing::internal::CaptureStdout();
    ASSERT_EQ(0u, SendPids({InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 4, .programId = 9, .key = 0x102}),
                            InputCard_Pid({.type = PID_TYPE_ES_ECMPID, .channel = 4, .key = 0x102, .ownKey = 1}),
                            InputCard_Pid({.type = PID_TYPE_EMMPID, .channel = 4, .key = 0x600, .pid = 0x600})}));
    const std::string printed = testing::internal::GetCapturedStdout();
    const U16 ts = StreamOf(4);
    ASSERT_NE(kChainEnd, ts);
    EXPECT_EQ(1, Stream(4).u8CATChangeFlag);
    EXPECT_EQ(0, Stream(4).u16TransportStreamID);
    EXPECT_EQ((std::vector<U16>{PidOf(3, 4, 0x600)}), Chain(TSP_GetOutTSEMMPIDIndexList, ts));
    EXPECT_EQ(kChainEnd, PidOf(3, 4, 0x102));
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("ESPID find no Program index"));
    EXPECT_NE(std::string::npos, console.find("ES_ECMPID find no EsPID index"));
    // Each skipped record's 372 bytes, 20 to a line: 19 lines each.
    EXPECT_EQ(0u, printed.find("0x0  0x0  0x0  0x0  0x74  0x1  0x0  0x0  "));
    std::size_t lines = 0;
    for (char c : printed) {
        lines += c == '\n';
    }
    EXPECT_EQ(2u * 19, lines);
}

TEST_F(InputMessageTest, AnUnknownPidTypeEndsTheMessageAfterWhatWasPlaced) {
    BuildSmallModel();
    Output_TSPID odd = InputCard_Pid({.channel = 1, .key = 0x777});
    odd.u8PIDType = 9;
    EXPECT_EQ(kTspErrCommand,
              SendPids({InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 1, .key = 0x700, .pid = 0x700}), odd,
                        InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 1, .key = 0x701, .pid = 0x701})}));
    EXPECT_NE(kChainEnd, PidOf(3, 1, 0x700));
    EXPECT_EQ(kChainEnd, PidOf(3, 1, 0x701));
    EXPECT_NE(std::string::npos, env.Console().find("PID type error,PidType[9]"));
}

TEST_F(InputMessageTest, ARepeatedPcrReplacesAndFreesTheFirst) {
    BuildSmallModel();
    const U16 first = PidOf(3, 1, 0x101);
    ASSERT_EQ(0u, SendPids({InputCard_Pid({.type = PID_TYPE_PCRPID, .channel = 1, .programId = 7, .key = 0x111,
                                           .pid = 0x111})}));
    const U16 second = PidOf(3, 1, 0x111);
    EXPECT_EQ(second, Live()->pOutputProgram[ProgramOf(3, 1, 7)].u16PCRIndex);
    EXPECT_FALSE(ModelPool_IsValid(Live(), ModelPool::Pid, first)) << "left valid it would stay routed";
}

TEST_F(InputMessageTest, ProgramLoopsGoIntoDescriptorRecords) {
    BuildSmallModel();
    const std::vector<U8> loop(400, 0x0A);
    ASSERT_EQ(0u, Send(IPCOMM_SEND_DESCRIPTOR,
                       InputCard_EncodeDescriptors(std::vector{InputCard_ProgramLoop({.channel = 1, .programId = 7},
                                                                                     loop)})));
    const Output_TSProgram& program = Live()->pOutputProgram[ProgramOf(3, 1, 7)];
    ASSERT_NE(kChainEnd, program.u16ProgramInfoDescriptorIndex);
    EXPECT_EQ(400, program.u16ProgramInfoLength);
    const TSDescriptor& descriptor = Live()->pDescriptor[program.u16ProgramInfoDescriptorIndex];
    EXPECT_EQ(0, std::memcmp(descriptor.u8DescriptorInfo, loop.data(), loop.size()));
    EXPECT_EQ(1, Stream(1).u16DescriptorNum);

    const std::vector<U8> before = Snapshot();
    EXPECT_EQ(kTspErrInput, Send(IPCOMM_SEND_DESCRIPTOR,
                                 InputCard_EncodeDescriptors(std::vector{
                                     InputCard_ProgramLoop({.channel = 1, .programId = 7}, loop)})));
    EXPECT_NE(std::string::npos, env.Console().find("DescriptorInfo already exist"));
    EXPECT_EQ(kTspErrInput, Send(IPCOMM_SEND_DESCRIPTOR,
                                 InputCard_EncodeDescriptors(std::vector{
                                     InputCard_ProgramLoop({.channel = 1, .programId = 8}, loop)})));
    EXPECT_NE(std::string::npos, env.Console().find("Can't find the relevant OutputProgram index"));
    EXPECT_EQ(before, Snapshot());
}

TEST_F(InputMessageTest, DescramblingFollowsTheSourceServiceOnEveryChannel) {
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 1, .programId = 1, .serviceId = 20}),
                                InputCard_Program({.channel = 2, .programId = 1, .serviceId = 20}),
                                InputCard_Program({.channel = 2, .programId = 2, .serviceId = 21})}));
    Stream(1).u8SDTChangeFlag = Stream(2).u8SDTChangeFlag = 0;
    Output_TSProgram order = InputCard_Program({.serviceId = 20});
    order.u8CAMIndex = 2;
    ASSERT_EQ(0u, Send(IPCOMM_PROG_SET_DESCRAMBLE, InputCard_EncodePrograms(std::vector{order})));
    for (U16 channel : {1, 2}) {
        const Output_TSProgram& program = Live()->pOutputProgram[ProgramOf(3, channel, 1)];
        EXPECT_EQ(1, program.u8CIFlag);
        EXPECT_EQ(2, program.u8CAMIndex);
        EXPECT_EQ(1, Stream(channel).u8SDTChangeFlag);
    }
    EXPECT_EQ(0, Live()->pOutputProgram[ProgramOf(3, 2, 2)].u8CIFlag) << "another service";
    EXPECT_NE(std::string::npos, env.Console().find("service id 20 set camindex 2"));

    Stream(1).u8SDTChangeFlag = 0;
    ASSERT_EQ(0u, Send(IPCOMM_DEL_SCR, InputCard_EncodePrograms(std::vector{order})));
    EXPECT_EQ(255, Live()->pOutputProgram[ProgramOf(3, 1, 1)].u8CIFlag);
    EXPECT_EQ(0, Stream(1).u8SDTChangeFlag) << "same CAM index, no SDT change";

    Output_TSPID cam = InputCard_Pid({.pid = 0x102});
    cam.u16CISrcPID = 0x902;
    cam.u16SrcCIStreamID = 40;
    BuildSmallModel();
    ASSERT_EQ(0u, Send(IPCOMM_CHANGE_PID, InputCard_EncodePids(std::vector{cam})));
    EXPECT_EQ(0x902, Live()->pOutputPID[PidOf(3, 1, 0x102)].u16CISrcPID);
    EXPECT_EQ(40, Live()->pOutputPID[PidOf(3, 1, 0x102)].u16SrcCIStreamID);
    EXPECT_EQ(0, Live()->pOutputPID[PidOf(3, 1, 0x101)].u16CISrcPID);
}

TEST_F(InputMessageTest, MonitorChangesPidsLoopsAndFlags) {
    BuildSmallModel();
    const U16 program = ProgramOf(3, 1, 7);
    const std::vector<U8> loop = {0x0A, 2, 'e', 'n'};
    ASSERT_EQ(0u, Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 1, .newPid = 0x120, .channel = 1,
                                                                    .key = 7, .loop = loop, .loopLength = 4})));
    EXPECT_EQ(0x120, Live()->pOutputProgram[program].u16PMTPID);
    EXPECT_EQ(0x120, Live()->pOutputProgram[program].u16OldPMTPID);
    EXPECT_EQ(4, Live()->pOutputProgram[program].u16ProgramInfoLength);
    EXPECT_EQ(0, std::memcmp(Live()->pOutputProgram[program].aru8ProgramInfo, loop.data(), loop.size()));
    EXPECT_EQ(1, Live()->pOutputProgram[program].u8PMTChangeFlag);

    // A loop over 188 bytes names the sender's descriptor record: logged, the
    // local loop stays.
    ASSERT_EQ(0u, Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 1, .newPid = 0x121, .channel = 1,
                                                                    .key = 7, .loopLength = 300,
                                                                    .descriptorIndex = 3})));
    EXPECT_EQ(0x121, Live()->pOutputProgram[program].u16PMTPID);
    EXPECT_EQ(4, Live()->pOutputProgram[program].u16ProgramInfoLength);
    EXPECT_EQ(kChainEnd, Live()->pOutputProgram[program].u16ProgramInfoDescriptorIndex);
    EXPECT_NE(std::string::npos, env.Console().find("ProgramInfo Length bigger than 188 Bytes!"));

    Live()->pOutputProgram[program].u8PMTChangeFlag = 0;
    ASSERT_EQ(0u, Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 3, .streamType = 0x1B,
                                                                    .newPid = 0x130, .channel = 1, .key = 0x102,
                                                                    .loop = loop, .loopLength = 4})));
    const Output_TSPID& video = Live()->pOutputPID[PidOf(3, 1, 0x102)];
    EXPECT_EQ(0x130, video.u16PID);
    EXPECT_EQ(0x130, video.u16OldPID);
    EXPECT_EQ(0x130, video.u16CISrcPID);
    EXPECT_EQ(0x1B, video.u8StreamType);
    EXPECT_EQ(4, video.u16ESInfoLength);
    EXPECT_EQ(1, Live()->pOutputProgram[program].u8PMTChangeFlag);

    Live()->pOutputProgram[program].u8PMTChangeFlag = 0;
    ASSERT_EQ(0u, Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 4, .newPid = 0x610,
                                                                    .channel = 1, .key = 0x600})));
    EXPECT_EQ(0x610, Live()->pOutputPID[PidOf(3, 1, 0x600)].u16PID);
    EXPECT_EQ(0, Live()->pOutputProgram[program].u8PMTChangeFlag);
    EXPECT_EQ(1, Stream(1).u8CATChangeFlag) << "as the EMM message left it";

    const std::vector<U8> before = Snapshot();
    EXPECT_EQ(static_cast<U32>(VK_ERR_TSP_TS_ERROR),
              Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 1, .newPid = 0x140, .channel = 1, .key = 8})));
    EXPECT_NE(std::string::npos, env.Console().find("u16PIDID[8] get u16OutputIndex invalid"));
    EXPECT_EQ(static_cast<U32>(VK_ERR_TSP_TS_ERROR),
              Send(IPCOMM_MONITOR_PID, InputCard_EncodeMonitor({.type = 2, .newPid = 0x140,
                                                                .channel = 1, .key = 0x102})));
    EXPECT_NE(std::string::npos, env.Console().find("PID Type not same! old u8PIDType[3] vs new u8PIDType[2]"));
    EXPECT_EQ(before, Snapshot());
}

TEST_F(InputMessageTest, PassThroughRecordsAddOrAndClearDestinations) {
    Passthrough_TSStream record{};
    record.u8SourceSlotID = 5;
    record.u16SourceChannelID = 2;
    record.aru32BypassDestChannel[0] = 0b0011;
    std::vector<U8> payload = InputCard_EncodePassthrough(std::vector{record});
    ASSERT_EQ(0u, TSP_ConstructOutputTSByAddBypassTs(payload.data() + 1, 1, static_cast<U16>(payload.size() - 1)));
    U16 index = kChainEnd;
    ASSERT_EQ(0u, TSP_GetOutputBypassTSIndex(5, 2, &index));
    ASSERT_NE(kChainEnd, index);
    record.aru32BypassDestChannel[0] = 0b0100;
    record.aru32BypassDestChannel[7] = 0x80000000;
    payload = InputCard_EncodePassthrough(std::vector{record});
    ASSERT_EQ(0u, TSP_ConstructOutputTSByAddBypassTs(payload.data() + 1, 1, static_cast<U16>(payload.size() - 1)));
    EXPECT_EQ(0b0111u, Live()->pOutputBypassTS[index].aru32BypassDestChannel[0]);
    record.aru32BypassDestChannel[0] = 0b0001;
    payload = InputCard_EncodePassthrough(std::vector{record});
    ASSERT_EQ(0u, TSP_ConstructOutputTSByDelBypassTS(payload.data() + 1, 1, static_cast<U16>(payload.size() - 1)));
    EXPECT_EQ(0b0110u, Live()->pOutputBypassTS[index].aru32BypassDestChannel[0]);
    EXPECT_EQ(0u, Live()->pOutputBypassTS[index].aru32BypassDestChannel[7]);
    record.u8SourceSlotID = 6;
    payload = InputCard_EncodePassthrough(std::vector{record});
    EXPECT_EQ(kTspErrNoProgram,
              TSP_ConstructOutputTSByDelBypassTS(payload.data() + 1, 1, static_cast<U16>(payload.size() - 1)));
    EXPECT_NE(std::string::npos, env.Console().find("The bypass ts been deleted don't exsit"));
}

// A stream fed by slot 3 with every kind of record, then taken apart by one
// delete order after another; the checker reads the model after each.
TEST_F(InputMessageTest, EveryDeleteOrderAsAMessage) {
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 1, .programId = 7}),
                                InputCard_Program({.channel = 1, .programId = 8})}));
    ASSERT_EQ(
        0u, SendPids({
                InputCard_Pid({.type = PID_TYPE_PCRPID, .channel = 1, .programId = 7, .key = 0x101, .pid = 0x101}),
                InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 7, .key = 0x102, .pid = 0x102}),
                InputCard_Pid({.type = PID_TYPE_ES_ECMPID, .channel = 1, .key = 0x102, .ownKey = 0x105, .pid = 0x105}),
                InputCard_Pid({.type = PID_TYPE_PS_ECMPID, .channel = 1, .programId = 7, .key = 0x104, .pid = 0x104}),
                InputCard_Pid({.type = PID_TYPE_EMMPID, .channel = 1, .key = 0x600, .pid = 0x600}),
                InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 1, .key = 0x700, .pid = 0x700}),
            }));
    ASSERT_EQ(0u, Send(IPCOMM_SEND_DESCRIPTOR, InputCard_EncodeDescriptors(std::vector{InputCard_ProgramLoop(
                                                   {.channel = 1, .programId = 7}, std::vector<U8>(200, 1))})));
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 2, .programId = 9})}));
    testing::internal::CaptureStdout();

    ASSERT_EQ(0u, Send(IPCOMM_DEL_DESCRIPTOR, InputCard_EncodeDeletePrograms(std::vector<DeleteProgramOrder>{
                                                  {.channel = 1, .programId = 7}})));
    EXPECT_EQ(0, Stream(1).u16DescriptorNum);
    const std::vector<DeletePidOrder> pidOrders = {{.channel = 1, .key = 0x105},
                                                   {.channel = 1, .key = 0x104},
                                                   {.channel = 1, .key = 0x102},
                                                   {.channel = 1, .key = 0x600},
                                                   {.channel = 1, .key = 0x999}};
    ASSERT_EQ(0u, Send(IPCOMM_DEL_PID, InputCard_EncodeDeletePids(pidOrders))) << "a missing PID is only logged";
    EXPECT_EQ(kChainEnd, PidOf(3, 1, 0x102));
    EXPECT_EQ(kChainEnd, PidOf(3, 1, 0x600));
    EXPECT_NE(std::string::npos, env.Console().find("the pid being deleted don't exist in outputboard"));
    ASSERT_EQ(0u, Send(IPCOMM_DEL_PROGRAM, InputCard_EncodeDeletePrograms(std::vector<DeleteProgramOrder>{
                                               {.channel = 1, .programId = 7}, {.channel = 1, .programId = 8}})));
    EXPECT_NE(kChainEnd, StreamOf(1)) << "the other PID is still there";
    ASSERT_EQ(0u, Send(IPCOMM_DEL_PID,
                       InputCard_EncodeDeletePids(std::vector<DeletePidOrder>{{.channel = 1, .key = 0x700}})));
    EXPECT_EQ(kChainEnd, StreamOf(1)) << "gone once empty";

    EXPECT_EQ(0u, Send(IPCOMM_DEL_TS,
                       InputCard_EncodeDeleteStreams(std::vector<DeleteStreamOrder>{{.channel = 2}})));
    EXPECT_EQ(kChainEnd, StreamOf(2));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, printed.find("Del Pro sourceSlot[3],sourceChannel[0],DestChannel[1],u16ProgramID[8]"));
    EXPECT_NE(std::string::npos, printed.find("Del TS sourceSlot[3],destSlot[4],sourceChannel[0],DestChannel[2]"));

    // A delete-stream order stops at its first failure.
    ASSERT_EQ(0u, SendPrograms({InputCard_Program({.channel = 3})}));
    EXPECT_EQ(kTspErrInput, Send(IPCOMM_DEL_TS, InputCard_EncodeDeleteStreams(std::vector<DeleteStreamOrder>{
                                                    {.channel = 9}, {.channel = 3}})));
    EXPECT_NE(kChainEnd, StreamOf(3));
}

// The benchmarks' model end to end: built by messages, resolved, emptied by
// delete orders.
TEST_F(InputMessageTest, AWholeModelFromThreeSourcesBuildsResolvesAndGoes) {
    for (U8 slot : {3, 5, 7}) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
    }
    const test::InputCardModel model = test::MakeInputCardModel(96);
    ASSERT_EQ(0u, test::SendInputCardMessages(model.build));
    EXPECT_EQ("", Violations());
    EXPECT_EQ(6u, Chain(TSP_GetOutTSProgIndexList, StreamOf(15)).size());
    ASSERT_EQ(0u, TSP_ConflictProcess());
    EXPECT_EQ("", test::DescribeViolations(test::CheckResolved(*Live(), false)));
    testing::internal::CaptureStdout();
    ASSERT_EQ(0u, test::SendInputCardMessages(model.remove));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("", Violations());
    for (U32 i = 0; i < Live()->u32OutputTSNumber; ++i) {
        EXPECT_NE(kRecordValid, Live()->pOutputTS[i].u8ValidFlag) << i;
    }
    Resource_GetHandle(7)->u8MuxPIDEnable = 0;
}

}  // namespace
}  // namespace hx

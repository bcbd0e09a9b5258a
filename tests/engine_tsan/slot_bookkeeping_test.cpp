// Slot bookkeeping against the inter-board send recorder: clearing one input
// slot, the clear-output and delete-channel notices, the channel status bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chassis/ipcomm.h"
#include "chassis/param_store.h"
#include "support/ipcomm_recorder.h"
#include "core/run_profile.h"
#include "engine/output_model.h"
#include "engine/slot_bookkeeping.h"
#include "platform/chassis_info.h"
#include "platform/resource.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;

constexpr U8 kOwnSlot = 9;

std::vector<std::pair<U32, U32>> SlotsAndCommands(const std::vector<IPCommRecordedSend>& sends) {
    std::vector<std::pair<U32, U32>> result;
    for (const IPCommRecordedSend& send : sends) {
        result.emplace_back(send.slot, send.command);
    }
    return result;
}

class SlotBookkeepingTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = kOwnSlot;
        SetProfile(profile);
        board.emplace();  // the slot register answers from the profile
        Status_Init();
        Status_SetSubBoardPlugStatus(0xFFFF);  // every slot holds a board
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
        }
        IPComm_TakeRecordedSends();
        IPComm_FailNextSends(0);
        std::fill(std::begin(Self().au8ChannelStatus), std::end(Self().au8ChannelStatus), 0);
    }

    void TearDown() override {
        ChassisInfo_Reset();
        IPComm_FailNextSends(0);
        IPComm_TakeRecordedSends();
        g_DelDestChannelNum.store(0);
        for (U8 slot : {3, 5, 7}) {
            Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
        }
    }

    static TResource_TS& Self() { return *Resource_getSelfHandle(); }

    // Channel 1: programs from slots 3, 5, 3; other PIDs from 3 and 5; an EMM
    // PID from 3. Channel 2: one program from slot 3.
    void BuildModel(std::initializer_list<U8> channel1Sources = {3, 5, 3}) {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        const U16 first = builder.AddStream(1);
        U16 id = 1;
        for (U8 slot : channel1Sources) {
            const U16 program = builder.AddProgram(first, {.sourceSlot = slot, .programId = id});
            builder.AddPid(PID_TYPE_ESPID, program, {.sourceSlot = slot, .key = static_cast<U16>(0x100 + id)});
            ++id;
        }
        builder.AddPid(PID_TYPE_OTHERPID, first, {.sourceSlot = 3, .key = 0x500});
        builder.AddPid(PID_TYPE_OTHERPID, first, {.sourceSlot = 5, .key = 0x501});
        builder.AddPid(PID_TYPE_EMMPID, first, {.sourceSlot = 3, .key = 0x600});
        const U16 second = builder.AddStream(2);
        builder.AddProgram(second, {.sourceSlot = 3, .programId = 20});
    }

    std::vector<U8> SourcesOfChannel(U16 channel) {
        TSP_ModelLock lock;
        const Output_TSInfo* live = TSP_GetTSParam();
        std::vector<U8> sources;
        const U16 ts = ModelLookup_StreamOfChannel(live, channel);
        if (ts == 0xFFFF) {
            return sources;
        }
        IndexInfoList list;
        EXPECT_EQ(0u, TSP_GetOutTSProgIndexList(ts, live, &list));
        for (U16 i = 0; i < list.u16IndexListNum; ++i) {
            sources.push_back(live->pOutputProgram[list.aru16IndexList[i]].u8SourceSlotID);
        }
        if (TSP_GetOutTSOtherPIDIndexList(ts, live, &list) == 0) {
            for (U16 i = 0; i < list.u16IndexListNum; ++i) {
                sources.push_back(live->pOutputPID[list.aru16IndexList[i]].u8SourceSlotID);
            }
        }
        return sources;
    }

    std::string Violations() {
        TSP_ModelLock lock;
        return test::DescribeViolations(test::CheckModel(*TSP_GetTSParam()));
    }

    test::TestEnvironment env;
    std::optional<test::SimBoard> board;
    test::ChassisPeers peers;
    test::ScopedSharedModels models;
};

TEST_F(SlotBookkeepingTest, ClearingOneSlotLeavesTheOtherSlotsRecords) {
    BuildModel();
    ASSERT_EQ(0u, TSP_UpdateResourceInfo());
    IPComm_TakeRecordedSends();
    Resource_getSelfHandle()->au8Reserved[0] = 0xAA;  // never sent: the record's tail goes as zeros

    ASSERT_EQ(0u, ClearOneSlotInfoFromInput(3));
    EXPECT_EQ((std::vector<U8>{5, 5}), SourcesOfChannel(1)) << "slot 5's program and other PID stay";
    EXPECT_TRUE(SourcesOfChannel(2).empty()) << "a stream only slot 3 fed is gone";
    EXPECT_EQ("", Violations());

    // Channel 2 went from multiplexed to nothing: the record goes to the back board.
    const std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(16u, sends[0].slot);
    EXPECT_EQ(257u, sends[0].command);
    ASSERT_EQ(1024u, sends[0].data.size());
    EXPECT_EQ(2, sends[0].data[88 + 1]);
    EXPECT_EQ(0, sends[0].data[88 + 2]);
    EXPECT_EQ(0, sends[0].data[125]);
    const std::string console = env.Console();
    EXPECT_NE(std::string::npos, console.find("TSP_BuildOutputLUT")) << "the apply ran";
    EXPECT_NE(std::string::npos, console.find("IPComm_SendEITInfo"));
    EXPECT_TRUE(std::filesystem::exists(env.Path(kModelParamFilePath))) << "the model file was saved";

    EXPECT_EQ(0xC0000u, ClearOneSlotInfoFromInput(17));
}

TEST_F(SlotBookkeepingTest, AFailedRemovalStillAppliesAndReportsAndIsReturned) {
    BuildModel();
    {
        // Channel 2's program chain names a record that is not in use.
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        const U16 second = ModelLookup_StreamOfChannel(live, 2);
        live->pOutputProgram[live->pOutputTS[second].u16ProgramIndex].u8ValidFlag = 0;
    }
    EXPECT_EQ(0xC0000u, ClearOneSlotInfoFromInput(3));
    EXPECT_EQ((std::vector<U8>{5, 5}), SourcesOfChannel(1)) << "the stream before the failure was cleared";
    const std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size()) << "the resource update ran";
    EXPECT_EQ(257u, sends[0].command);
    EXPECT_NE(std::string::npos, env.Console().find("IPComm_SendEITInfo"));
}

TEST_F(SlotBookkeepingTest, ClearCommandGoesOnceToEachFeedingSlotButOurOwn) {
    BuildModel({3, 5, kOwnSlot, 3});
    {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        Output_TSStream& bypass = TSP_GetTSParam()->pOutputTS[builder.AddStream(6)];
        bypass.u8BypassFlag = 1;
        bypass.u8SrcSlotID = 12;
    }
    ASSERT_EQ(0u, TSP_SendClearCmd());
    EXPECT_EQ((std::vector<std::pair<U32, U32>>{{3, 266}, {5, 266}, {12, 266}}),
              SlotsAndCommands(IPComm_TakeRecordedSends()));

    peers.chassis().Refuse(3, true);
    EXPECT_EQ(1539u, TSP_SendClearCmd());
    EXPECT_EQ((std::vector<std::pair<U32, U32>>{{5, 266}, {12, 266}}), SlotsAndCommands(IPComm_TakeRecordedSends()))
        << "the other slots are still told";
    peers.chassis().Refuse(3, false);
}

TEST_F(SlotBookkeepingTest, UnpluggedSourceIsClearedLocallyPluggedOneIsNotified) {
    BuildModel({3, 5, kOwnSlot, 3});
    Status_SetSubBoardPlugStatus(static_cast<U16>(0xFFFF & ~(1u << 3)));  // slot 3 is empty
    ASSERT_EQ(0u, TSP_SendDelDestChannelNumToInputBoard(1));
    const std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    std::vector<IPCommRecordedSend> notices;
    for (const IPCommRecordedSend& send : sends) {
        if (send.command == 2068) {
            notices.push_back(send);
        }
    }
    ASSERT_EQ(1u, notices.size()) << "neither the unplugged slot nor our own";
    EXPECT_EQ(5u, notices[0].slot);
    EXPECT_EQ((std::vector<U8>{1, 0, 0, 0}), notices[0].data) << "the channel as a little-endian u32";
    EXPECT_EQ(1, g_DelDestChannelNum.load());
    EXPECT_EQ((std::vector<U8>{5, kOwnSlot, 5}), SourcesOfChannel(1)) << "slot 3 cleared at once";

    EXPECT_EQ(0u, TSP_SendDelDestChannelNumToInputBoard(7)) << "no stream on channel 7";
    EXPECT_TRUE(IPComm_TakeRecordedSends().empty());
}

TEST_F(SlotBookkeepingTest, SlotsFeedingOnlyEmmOrOtherPidsAreNotifiedOrCleared) {
    {
        // Channel 4: a program from slot 5; slot 7 feeds only an other PID,
        // slot 11 only an EMM PID, slot 12 (empty) only an other PID.
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        const U16 ts = builder.AddStream(4);
        builder.AddProgram(ts, {.sourceSlot = 5, .programId = 1});
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.sourceSlot = 7, .key = 0x500});
        builder.AddPid(PID_TYPE_EMMPID, ts, {.sourceSlot = 11, .key = 0x600});
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.sourceSlot = 12, .key = 0x501});
    }
    Status_SetSubBoardPlugStatus(static_cast<U16>(0xFFFF & ~(1u << 12)));
    ASSERT_EQ(0u, TSP_SendDelDestChannelNumToInputBoard(4));
    std::vector<std::pair<U32, U32>> notices;
    for (const auto& sent : SlotsAndCommands(IPComm_TakeRecordedSends())) {
        if (sent.second == 2068) {
            notices.push_back(sent);
        }
    }
    EXPECT_EQ((std::vector<std::pair<U32, U32>>{{5, 2068}, {7, 2068}, {11, 2068}}), notices);
    EXPECT_EQ(3, g_DelDestChannelNum.load());
    EXPECT_EQ((std::vector<U8>{5, 7}), SourcesOfChannel(4)) << "slot 12's other PID cleared at once";
    EXPECT_EQ("", Violations());
}

TEST_F(SlotBookkeepingTest, AFailedNoticeEndsTheWalkUncounted) {
    BuildModel({5, 7, 16});
    IPComm_FailNextSends(1540, 1);
    EXPECT_EQ(1540u, TSP_SendDelDestChannelNumToInputBoard(1));
    EXPECT_TRUE(IPComm_TakeRecordedSends().empty()) << "slots 7 and 16 are not told after the failure";
    EXPECT_EQ(0, g_DelDestChannelNum.load());

    // Slot 16 is told even when the chassis reports no board there.
    Status_SetSubBoardPlugStatus(0);  // no board anywhere
    ASSERT_EQ(0u, TSP_SendDelDestChannelNumToInputBoard(1));
    std::vector<std::pair<U32, U32>> notices;
    for (const auto& sent : SlotsAndCommands(IPComm_TakeRecordedSends())) {
        if (sent.second == 2068) {
            notices.push_back(sent);
        }
    }
    EXPECT_EQ((std::vector<std::pair<U32, U32>>{{16, 2068}}), notices);
    EXPECT_EQ(1, g_DelDestChannelNum.load());
}

TEST_F(SlotBookkeepingTest, ChannelStatusBytesAreSentOnlyWhenOneChanges) {
    BuildModel();
    {
        TSP_ModelLock lock;
        ModelBuilder builder(TSP_GetTSParam());
        TSP_GetTSParam()->pOutputTS[builder.AddStream(4)].u8BypassFlag = 1;
    }
    ASSERT_EQ(0u, TSP_UpdateResourceInfo());
    std::vector<IPCommRecordedSend> sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ(16u, sends[0].slot);
    EXPECT_EQ(257u, sends[0].command);
    const std::vector<U8> expected = {0, 2, 2, 0, 1, 0};
    EXPECT_EQ(expected, std::vector<U8>(sends[0].data.begin() + 88, sends[0].data.begin() + 94));
    EXPECT_EQ(2, Self().au8ChannelStatus[1]);

    ASSERT_EQ(0u, TSP_UpdateResourceInfo());
    EXPECT_TRUE(IPComm_TakeRecordedSends().empty());

    {
        TSP_ModelLock lock;
        TSP_GetTSParam()->pOutputTS[ModelLookup_StreamOfChannel(TSP_GetTSParam(), 4)].u8BypassFlag = 0;
    }
    peers.chassis().Refuse(16, true);
    EXPECT_EQ(1539u, TSP_UpdateResourceInfo());
    peers.chassis().Refuse(16, false);
}

}  // namespace
}  // namespace hx

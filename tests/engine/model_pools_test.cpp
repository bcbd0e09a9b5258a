// Pools, finders, walkers and the key index of the output model.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/output_model.h"
#include "platform/qam_params.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::ScopedModel;

class ModelPoolsTest : public ::testing::Test {
protected:
    test::TestEnvironment env;
    TSP_ModelLock lock;
};

void MarkValid(Output_TSInfo* model, ModelPool pool, U32 from, U32 to) {
    for (U32 i = from; i < to; ++i) {
        ModelPool_Record(model, pool, i)[pool == ModelPool::Stream ? 14 : pool == ModelPool::Bypass ? 4 : 8] = 1;
    }
    ModelPool_RecordsChanged(model);
}

std::vector<U16> Entries(const IndexInfoList& list) {
    return std::vector<U16>(list.aru16IndexList, list.aru16IndexList + list.u16IndexListNum);
}

TEST_F(ModelPoolsTest, FullStreamPoolGrowsOneStepAndTheNewStreamTakesIndex16) {
    ScopedModel model;
    MarkValid(model.get(), ModelPool::Stream, 0, 16);
    model->pOutputTS[15].u16ChannelID = 15;
    U16 index = 0;
    ASSERT_EQ(0u, TSP_GetUnusedOutputTSIndex(model.get(), &index));
    EXPECT_EQ(16, index);
    EXPECT_EQ(32u, model->u32OutputTSNumber);
    EXPECT_EQ(15, model->pOutputTS[15].u16ChannelID) << "growth keeps the records";
    EXPECT_EQ(0, model->pOutputTS[31].u8ValidFlag);
    EXPECT_NE(std::string::npos, env.Console().find("allocating new [16] TS memory, now total TS number is [32]"));
}

TEST_F(ModelPoolsTest, FindersReturnTheFirstFreeRecordFromIndexZero) {
    ScopedModel model;
    MarkValid(model.get(), ModelPool::Descriptor, 0, 10);
    U16 index = 0;
    ASSERT_EQ(0u, TSP_GetUnusedOutputDescIndex(model.get(), &index));
    EXPECT_EQ(10, index);
    ModelPool_FreeRecord(model.get(), ModelPool::Descriptor, 4);
    ASSERT_EQ(0u, TSP_GetUnusedOutputDescIndex(model.get(), &index));
    EXPECT_EQ(4, index);
    // A record freed behind the engine's back is found once it is told.
    model->pDescriptor[4].u8ValidFlag = 1;
    model->pDescriptor[2].u8ValidFlag = 0;
    ModelPool_RecordsChanged(model.get());
    ASSERT_EQ(0u, TSP_GetUnusedOutputDescIndex(model.get(), &index));
    EXPECT_EQ(2, index);

    IndexInfoList list;
    ASSERT_EQ(0u, TSP_GetUnusedOutputPIDIndex(model.get(), 3, &list));
    EXPECT_EQ((std::vector<U16>{0, 1, 2}), Entries(list));
}

struct ListFinderCase {
    const char* name;
    bool programs;
    U16 wanted;
    U32 result;
    const char* logged;
};

TEST_F(ModelPoolsTest, ListFinderLimits) {
    const ListFinderCase cases[] = {
        {"none asked", true, 0, 0, nullptr},
        {"beyond the program limit", true, 501, 0xC0000, "Need Program Number beyond [300]"},
        {"beyond what a list holds", true, 301, 0xC0000, "Need Program Number beyond [300]"},
        {"beyond the PID limit", false, 1001, 0xC0000, "Need PID Number beyond [300]"},
        {"a full list", false, 300, 0, nullptr},
    };
    for (const ListFinderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedModel model;
        env.TakeConsole();
        IndexInfoList list;
        list.u16IndexListNum = 7;
        const U32 result = c.programs ? TSP_GetUnusedOutputProgList(model.get(), c.wanted, &list)
                                      : TSP_GetUnusedOutputPIDIndex(model.get(), c.wanted, &list);
        EXPECT_EQ(c.result, result);
        if (result == 0) {
            EXPECT_EQ(c.wanted, list.u16IndexListNum);
        }
        if (c.logged != nullptr) {
            EXPECT_NE(std::string::npos, env.Console().find(c.logged));
        }
    }
}

TEST_F(ModelPoolsTest, ListFinderShortAfterGrowingToTheCap) {
    ScopedModel model(TSInfoInitNum{0, 0, 65400, 0, 0, 0});
    MarkValid(model.get(), ModelPool::Pid, 0, 65400);
    IndexInfoList list;
    EXPECT_EQ(0xC0017u, TSP_GetUnusedOutputPIDIndex(model.get(), 200, &list));
    EXPECT_EQ(65535u, model->u32OutputPIDNumber) << "grown to the cap, no further";
    EXPECT_NE(std::string::npos, env.Console().find("didn't get enouth Unused PIDList"));
    ASSERT_EQ(0u, TSP_GetUnusedOutputPIDIndex(model.get(), 135, &list));
    EXPECT_EQ(65400, list.aru16IndexList[0]);
    EXPECT_EQ(65534, list.aru16IndexList[134]);
}

TEST_F(ModelPoolsTest, NoPoolGrowsPastTheLastIndexAChainCanName) {
    ScopedModel model(TSInfoInitNum{0, 0, 0, 0, 0, 65535});
    MarkValid(model.get(), ModelPool::Bypass, 0, 65535);
    Passthrough_TSStream* before = model->pOutputBypassTS;
    U16 index = 0;
    EXPECT_EQ(0xC0016u, TSP_GetUnusedOutputBypassTsIndex(model.get(), &index));
    EXPECT_EQ(65535u, model->u32OutputBypassTSNumber);
    EXPECT_EQ(before, model->pOutputBypassTS);
    EXPECT_NE(std::string::npos,
              env.Console().find("allocating memory: Get no invalid OutputBypassTS, but the memory is full"));
}

TEST_F(ModelPoolsTest, FailedGrowthLeavesThePoolAsItWas) {
    ScopedModel model;
    MarkValid(model.get(), ModelPool::Stream, 0, 16);
    MarkValid(model.get(), ModelPool::Program, 0, 500);
    Output_TSStream* streams = model->pOutputTS;
    ModelPool_SetAllocHook([](std::size_t) { return false; });
    U16 index = 0;
    EXPECT_EQ(0xC0016u, TSP_GetUnusedOutputTSIndex(model.get(), &index));
    IndexInfoList list;
    EXPECT_EQ(0xC0016u, TSP_GetUnusedOutputProgList(model.get(), 2, &list));
    ModelPool_SetAllocHook({});
    EXPECT_EQ(streams, model->pOutputTS);
    EXPECT_EQ(16u, model->u32OutputTSNumber);
    EXPECT_EQ(500u, model->u32OutputProgramNumber);
    EXPECT_NE(std::string::npos,
              env.Console().find("allocating memory: Get no invalid outputProgram, but the memory is full"));
}

TEST_F(ModelPoolsTest, InitTSInfoReplacesPoolsOnlyWhenAllSixExist) {
    Output_TSInfo model{};
    ASSERT_EQ(0u, TSP_InitTSInfo(&model, &kDefaultPoolCounts));
    const TSInfoInitNum zeros{};
    ASSERT_EQ(0u, TSP_InitTSInfo(&model, &zeros)) << "a second init frees the first pools (the leak check sees)";
    EXPECT_EQ(16u, model.u32OutputTSNumber);
    EXPECT_EQ(256u, model.u32OutputBypassTSNumber);
    model.pOutputPID[3].u8ValidFlag = 1;

    Output_TSPID* pids = model.pOutputPID;
    int allocations = 0;
    ModelPool_SetAllocHook([&](std::size_t) { return ++allocations < 4; });
    const TSInfoInitNum bigger{32, 600, 2000, 0, 0, 0};
    EXPECT_EQ(8u, TSP_InitTSInfo(&model, &bigger));
    ModelPool_SetAllocHook({});
    EXPECT_EQ(pids, model.pOutputPID) << "the old model stays whole";
    EXPECT_EQ(1000u, model.u32OutputPIDNumber);
    EXPECT_EQ(1, model.pOutputPID[3].u8ValidFlag);
    EXPECT_NE(std::string::npos, env.Console().find("calloc for pOutputTable fail,u32Num[100],TableSize[1184]"));

    EXPECT_EQ(4u, TSP_InitTSInfo(nullptr, &zeros));
    EXPECT_EQ(4u, TSP_InitTSInfo(&model, nullptr));
    const TSInfoInitNum tooBig{70000, 0, 0, 0, 0, 0};
    EXPECT_EQ(4u, TSP_InitTSInfo(&model, &tooBig));
    EXPECT_EQ(pids, model.pOutputPID);
    ModelPool_FreeAll(&model);
}

// Walkers over chains built as the input messages build them, and over
// chains broken in the ways a damaged file or message can break them.
struct Chains {
    Chains() {
        ts = builder.AddStream(1);
        for (U16 i = 0; i < 3; ++i) {
            programs.push_back(builder.AddProgram(ts, {.programId = static_cast<U16>(i + 1)}));
        }
        es = builder.AddPid(PID_TYPE_ESPID, programs[0], {.key = 10});
        second = builder.AddPid(PID_TYPE_ESPID, programs[0], {.key = 11});
        builder.AddPid(PID_TYPE_OTHERPID, ts, {.key = 12});
    }

    ScopedModel model;
    ModelBuilder builder{model.get()};
    U16 ts = 0;
    U16 es = 0;
    U16 second = 0;
    std::vector<U16> programs;
    IndexInfoList list{};
};

class WalkerTest : public ModelPoolsTest {
protected:
    Chains chains;
};

TEST_F(WalkerTest, ChainsInChainOrderAndEmptyChains) {
    Chains& c = chains;
    ASSERT_TRUE(test::CheckModel(*c.model.get()).empty());
    ASSERT_EQ(0u, TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list));
    EXPECT_EQ(c.programs, Entries(c.list));
    U16 last = 0;
    ASSERT_EQ(0u, TSP_GetOutTSProgLastIndex(c.ts, c.model.get(), &last));
    EXPECT_EQ(c.programs.back(), last);
    ASSERT_EQ(0u, TSP_GetOutTSEMMPIDLastIndex(c.ts, c.model.get(), &last));
    EXPECT_EQ(0xFFFF, last);
    ASSERT_EQ(0u, TSP_GetOutProgPSECMPIDIndexList(c.programs[1], c.model.get(), &c.list));
    EXPECT_EQ(0, c.list.u16IndexListNum);

    // A zeroed stream has chain heads 0 and reads as empty: walkers trust a count of 0.
    const U16 zeroed = c.builder.AddStream(2);
    c.builder.AddTable(zeroed, test::TableChainKind::Nit, 3, 2);
    std::memset(&c.model->pOutputTS[zeroed], 0, sizeof(Output_TSStream));
    for (auto walker : {TSP_GetOutTSProgIndexList, TSP_GetOutTSOtherPIDIndexList, TSP_GetOutTSEMMPIDIndexList,
                        TSP_GetOutTSDescIndexList, TSP_GetOutTSNITTableIndexList}) {
        c.list.u16IndexListNum = 9;
        EXPECT_EQ(0u, walker(zeroed, c.model.get(), &c.list));
        EXPECT_EQ(0, c.list.u16IndexListNum);
    }
}

struct BrokenChainCase {
    const char* name;
    void (*breakChain)(Chains&);
    U32 (*walk)(Chains&);
    U32 result;
};

TEST_F(ModelPoolsTest, BrokenChainsEndInAnErrorNotALoop) {
    const BrokenChainCase cases[] = {
        {"member of the wrong type", [](Chains& c) { c.model->pOutputPID[c.es].u8PIDType = PID_TYPE_EMMPID; },
         [](Chains& c) { return TSP_GetOutProgESPIDIndexList(c.programs[0], c.model.get(), &c.list); }, 0xC0000},
        {"member not valid", [](Chains& c) { c.model->pOutputProgram[c.programs[1]].u8ValidFlag = 0; },
         [](Chains& c) { return TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list); }, 0xC0000},
        {"program head beyond the pool", [](Chains& c) { c.model->pOutputTS[c.ts].u16ProgramIndex = 500; },
         [](Chains& c) { return TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list); }, 0xC0008},
        {"a cycle", [](Chains& c) { c.model->pOutputProgram[c.programs[2]].u16NextProgramIndex = c.programs[0]; },
         [](Chains& c) { return TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list); }, 0xC0008},
        {"owner beyond the pool", [](Chains&) {},
         [](Chains& c) { return TSP_GetOutTSOtherPIDIndexList(16, c.model.get(), &c.list); }, 0xC0000},
        {"table head beyond the pool", [](Chains& c) { c.model->pOutputTS[c.ts].u16BATIndex = 100; },
         [](Chains& c) { return TSP_GetOutTSBATTableIndexList(c.ts, c.model.get(), &c.list); }, 0xC0008},
        {"second table link beyond the pool",
         [](Chains& c) {
             const U16 first = c.builder.AddTable(c.ts, test::TableChainKind::Tot, 3, 1);
             c.model->pOutputTable[first].u16NextIndex = 100;
         },
         [](Chains& c) { return TSP_GetOutTSTOTTableIndexList(c.ts, c.model.get(), &c.list); }, 0xC0008},
        {"descriptor cycle through free records",
         [](Chains& c) {
             // Free records are skipped, so the count is never reached: only the step bound ends it.
             c.model->pOutputTS[c.ts].u16DescriptorNum = 1;
             c.model->pOutputTS[c.ts].u16DescriptorIndex = 7;
             c.model->pDescriptor[7].u16NextDescriptorIndex = 8;
             c.model->pDescriptor[8].u16NextDescriptorIndex = 7;
         },
         [](Chains& c) { return TSP_GetOutTSDescIndexList(c.ts, c.model.get(), &c.list); }, 0xC0008},
        {"descriptor count above the chain", [](Chains& c) { c.model->pOutputTS[c.ts].u16DescriptorNum = 1; },
         [](Chains& c) { return TSP_GetOutTSDescIndexList(c.ts, c.model.get(), &c.list); }, 0xC0017},
    };
    for (const BrokenChainCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Chains chains;
        testCase.breakChain(chains);
        EXPECT_EQ(testCase.result, testCase.walk(chains));
    }
}

TEST_F(WalkerTest, ThreeHundredEntriesAreTheLimit) {
    Chains& c = chains;
    for (U16 i = 3; i < 300; ++i) {
        ASSERT_NE(0xFFFF, c.builder.AddProgram(c.ts, {.programId = static_cast<U16>(i + 1)}));
    }
    ASSERT_EQ(0u, TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list));
    EXPECT_EQ(300, c.list.u16IndexListNum);
    // A 301st record linked behind the last fails the walk.
    const U16 last = c.list.aru16IndexList[299];
    const U16 extra = 400;
    c.model->pOutputProgram[extra] = c.model->pOutputProgram[last];
    c.model->pOutputProgram[extra].u16ProgramIndex = extra;
    c.model->pOutputProgram[last].u16NextProgramIndex = extra;
    EXPECT_EQ(0xC0008u, TSP_GetOutTSProgIndexList(c.ts, c.model.get(), &c.list));
    EXPECT_NE(std::string::npos, env.Console().find("IndexListNum[300] out or range"));
    EXPECT_EQ(0xFFFF, c.builder.AddProgram(c.ts, {.programId = 999})) << "nothing is appended to a broken chain";
}

TEST_F(WalkerTest, PidLinksAreFollowedAsTheirLow16Bits) {
    Chains& c = chains;
    c.model->pOutputPID[c.es].u32NextPIDIndex = 0xABCD0000u | c.second;
    c.model->pOutputPID[c.second].u32NextPIDIndex = 0x1234FFFFu;
    ASSERT_EQ(0u, TSP_GetOutProgESPIDIndexList(c.programs[0], c.model.get(), &c.list));
    EXPECT_EQ((std::vector<U16>{c.es, c.second}), Entries(c.list));
}

// The key index must give what a scan gives: the first valid match in pool order.
TEST_F(ModelPoolsTest, KeyIndexGivesTheFirstValidMatchInPoolOrder) {
    test::ScopedSharedModels models;
    Output_TSInfo* live = TSP_GetTSParam();
    ModelBuilder builder(live);
    const U16 ts = builder.AddStream(2);
    const U16 first = builder.AddProgram(ts, {.programId = 9});
    builder.AddProgram(ts, {.programId = 8});
    U16 found = 0;
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 2, 9, &found));
    EXPECT_EQ(first, found);

    // A duplicate key later in the pool; then the first one freed.
    const U16 second = builder.AddProgram(ts, {.programId = 9});
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 2, 9, &found));
    EXPECT_EQ(first, found);
    ModelPool_FreeRecord(live, ModelPool::Program, first);
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 2, 9, &found));
    EXPECT_EQ(second, found);

    // A key changed in place, and a record written where no finder handed out a slot.
    live->pOutputProgram[second].u16ProgramID = 10;
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 2, 9, &found));
    EXPECT_EQ(0xFFFF, found);
    live->pOutputProgram[first] = live->pOutputProgram[second];
    live->pOutputProgram[first].u16ProgramID = 11;
    ModelPool_RecordsChanged(live);
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 2, 11, &found));
    EXPECT_EQ(first, found);

    // An ES-level ECM is found by its own key, kept in u16ESECMPIDIndex; its
    // u16PIDID names its ES and is not compared.
    const U16 es = builder.AddPid(PID_TYPE_ESPID, second, {.key = 0x31});
    const U16 ecm = builder.AddPid(PID_TYPE_ES_ECMPID, es, {.key = 0x77});
    ASSERT_EQ(0x31, live->pOutputPID[ecm].u16PIDID);
    ASSERT_EQ(0u, TSP_GetOutputPIDIndexByPID(3, 0, 2, 0x77, &found));
    EXPECT_EQ(ecm, found);
    live->pOutputPID[es].u16PIDID = 0x32;
    ModelPool_RecordsChanged(live);
    ASSERT_EQ(0u, TSP_GetOutputPIDIndexByPID(3, 0, 2, 0x31, &found));
    EXPECT_EQ(0xFFFF, found);
    EXPECT_EQ(0xC0000u, TSP_GetOutputPIDIndexByPID(3, 0, 2, 0x31, nullptr));
}

TEST_F(ModelPoolsTest, StreamLookupsAndCreation) {
    test::ScopedSharedModels models;
    Output_TSInfo* live = TSP_GetTSParam();
    U16 index = 0;
    ASSERT_EQ(0u, TSP_GetOutputTSIndexByTS(5, &index));
    EXPECT_EQ(0xFFFF, index);
    ASSERT_EQ(0u, TSP_GetOutputTSIndexByPID(5, &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(5, live->pOutputTS[0].u16ChannelID) << "created on the asked channel";
    EXPECT_EQ(0xFFFF, live->pOutputTS[0].u16NITIndex);
    U16 again = 0;
    ASSERT_EQ(0u, TSP_GetOutputTSIndexByPID(5, &again));
    EXPECT_EQ(index, again) << "the second call finds the first stream";

    U8 slot = 0;
    U16 channel = 0;
    live->pOutputTS[0].u8SlotID = 6;
    ASSERT_EQ(0u, TSP_GetDestInfoByOutTSIndex(0, live, &slot, &channel));
    EXPECT_EQ(6, slot);
    EXPECT_EQ(5, channel);
    live->pOutputTS[0].u8SlotID = 17;
    EXPECT_EQ(0xC0000u, TSP_GetDestInfoByOutTSIndex(0, live, &slot, &channel));
    EXPECT_EQ(0xC0000u, TSP_GetDestInfoByOutTSIndex(1, live, &slot, &channel)) << "a stream not in use";
    EXPECT_EQ(0xC0000u, TSP_GetOutputTSIndexByTS(5, nullptr));

    U16 bypass = 0;
    ASSERT_EQ(0u, TSP_GetUnusedOutputBypassTsIndex(live, &bypass));
    Passthrough_TSStream record{};
    record.u8SourceSlotID = 3;
    record.u16SourceChannelID = 2;
    TSP_InitOneOutputBypassTS(&record);
    live->pOutputBypassTS[bypass] = record;
    ASSERT_EQ(0u, TSP_GetOutputBypassTSIndex(3, 2, &index));
    EXPECT_EQ(bypass, index);
    ASSERT_EQ(0u, TSP_GetOutputBypassTSIndex(3, 1, &index));
    EXPECT_EQ(0xFFFF, index);
}

}  // namespace
}  // namespace hx

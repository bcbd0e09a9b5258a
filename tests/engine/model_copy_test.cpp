// The temporary model: the refresh from the live model and the apply copy
// back, which must leave the destination an exact image of the source.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "chassis/param_store.h"
#include "engine/model_state.h"
#include "engine/output_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::ModelBuilder;
using test::PoolBytes;

constexpr ModelPool kCopied[] = {ModelPool::Stream, ModelPool::Program, ModelPool::Pid, ModelPool::Table,
                                 ModelPool::Descriptor};

class ModelCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ModelBuilder builder(Live());
        for (U16 channel = 0; channel < 3; ++channel) {
            const U16 ts = builder.AddStream(channel);
            for (U16 p = 0; p < 4; ++p) {
                const U16 program = builder.AddProgram(ts, {.programId = static_cast<U16>(p + 1)});
                builder.AddPid(PID_TYPE_ESPID, program, {.key = static_cast<U16>(p + 10)});
            }
            builder.AddTable(ts, test::TableChainKind::Nit, 3, channel);
        }
    }

    Output_TSInfo* Live() { return TSP_GetTSParam(); }
    Output_TSInfo* Temp() { return TSP_GetTempTSParam(); }

    void Refresh() {
        ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
        ASSERT_EQ(0u, TSP_CopyOutputTempTSInfo());
    }

    void ExpectLiveIsImageOfTemp() {
        for (ModelPool pool : kCopied) {
            const std::string live = PoolBytes(Live(), pool);
            const std::string temp = PoolBytes(Temp(), pool);
            ASSERT_GE(live.size(), temp.size());
            EXPECT_EQ(temp, live.substr(0, temp.size())) << static_cast<int>(pool);
            EXPECT_EQ(std::string(live.size() - temp.size(), '\0'), live.substr(temp.size()))
                << "live records beyond the temporary count are free";
        }
        EXPECT_TRUE(test::CheckModel(*Live()).empty()) << test::DescribeViolations(test::CheckModel(*Live()));
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models;
    TSP_ModelLock lock;
};

TEST_F(ModelCopyTest, RefreshMakesTheTemporaryModelAnImageOfTheLiveOne) {
    Refresh();
    for (ModelPool pool : kCopied) {
        EXPECT_EQ(PoolBytes(Live(), pool), PoolBytes(Temp(), pool));
    }
    // An edit of the copy reaches the live model only through the apply.
    Temp()->pOutputProgram[0].u16ServiceID = 999;
    EXPECT_NE(999, Live()->pOutputProgram[0].u16ServiceID);
    ASSERT_EQ(0u, TSP_CopyOutputTSInfo());
    EXPECT_EQ(999, Live()->pOutputProgram[0].u16ServiceID);
    ExpectLiveIsImageOfTemp();
}

TEST_F(ModelCopyTest, ApplyBeforeAnyRefreshCopiesNothing) {
    const std::string before = PoolBytes(Live(), ModelPool::Program);
    EXPECT_EQ(0xC0000u, TSP_CopyOutputTSInfo());
    EXPECT_EQ(before, PoolBytes(Live(), ModelPool::Program));
    // Pools made again (a factory reset) make the copy stale again.
    Refresh();
    ASSERT_EQ(0u, TSP_InitOutputTempTSInfo());
    EXPECT_EQ(0xC0000u, TSP_CopyOutputTSInfo());
    EXPECT_EQ(before, PoolBytes(Live(), ModelPool::Program));
}

TEST_F(ModelCopyTest, LiveGrownSinceTheRefresh) {
    Refresh();
    // An input card adds 600 programs after the refresh: the live pool grows to 1,000.
    ModelBuilder builder(Live());
    const U16 ts = builder.AddStream(9);
    for (U16 i = 0; i < 290; ++i) {
        ASSERT_NE(0xFFFF, builder.AddProgram(ts, {.programId = static_cast<U16>(i + 1)}));
    }
    const U16 ts2 = builder.AddStream(10);
    for (U16 i = 0; i < 290; ++i) {
        ASSERT_NE(0xFFFF, builder.AddProgram(ts2, {.programId = static_cast<U16>(i + 1)}));
    }
    ASSERT_EQ(1000u, Live()->u32OutputProgramNumber);
    ASSERT_EQ(500u, Temp()->u32OutputProgramNumber);
    ASSERT_EQ(0u, TSP_CopyOutputTSInfo());
    EXPECT_EQ(1000u, Live()->u32OutputProgramNumber) << "pools never shrink";
    // Programs beyond the temporary count would stay routed on no chain: they are gone.
    EXPECT_FALSE(ModelPool_IsValid(Live(), ModelPool::Program, 700));
    ExpectLiveIsImageOfTemp();
}

TEST_F(ModelCopyTest, TemporaryTablePoolGrownByAnImport) {
    Refresh();
    ModelBuilder builder(Temp());
    for (U16 i = 0; i < 120; ++i) {
        ASSERT_NE(0xFFFF, builder.AddTable(0, test::TableChainKind::Nit, 3, 0));
    }
    ASSERT_EQ(200u, Temp()->u32OutputTableNumber);
    ASSERT_EQ(0u, TSP_CopyOutputTSInfo());
    EXPECT_EQ(200u, Live()->u32OutputTableNumber) << "the live pool grew first";
    ExpectLiveIsImageOfTemp();
    IndexInfoList list;
    ASSERT_EQ(0u, TSP_GetOutTSNITTableIndexList(0, Live(), &list));
    EXPECT_EQ(121, list.u16IndexListNum);

    // The next refresh gives the temporary model the live counts.
    Live()->pOutputTS[2].u16TransportStreamID = 77;
    Refresh();
    EXPECT_EQ(77, Temp()->pOutputTS[2].u16TransportStreamID);
    EXPECT_EQ(Live()->u32OutputTableNumber, Temp()->u32OutputTableNumber);
}

TEST_F(ModelCopyTest, AllocationFailingHalfwayCopiesNothing) {
    Refresh();
    // Both the PID and descriptor pools of the temporary model need to grow the live ones.
    void* pids = nullptr;
    ASSERT_TRUE(PoolAllocate(ModelPool::Pid, 2000, &pids));
    std::memcpy(pids, Temp()->pOutputPID, 1000 * sizeof(Output_TSPID));
    PoolInstall(Temp(), ModelPool::Pid, pids, 2000);
    void* descriptors = nullptr;
    ASSERT_TRUE(PoolAllocate(ModelPool::Descriptor, 1000, &descriptors));
    PoolInstall(Temp(), ModelPool::Descriptor, descriptors, 1000);
    Temp()->pOutputProgram[0].u16ServiceID = 4242;

    const std::string before = PoolBytes(Live(), ModelPool::Program);
    Output_TSPID* livePids = Live()->pOutputPID;
    int allocations = 0;
    ModelPool_SetAllocHook([&](std::size_t) { return ++allocations < 2; });
    EXPECT_EQ(0xC0016u, TSP_CopyOutputTSInfo());
    ModelPool_SetAllocHook({});
    EXPECT_EQ(before, PoolBytes(Live(), ModelPool::Program)) << "nothing copied";
    EXPECT_EQ(livePids, Live()->pOutputPID) << "nothing resized";
    EXPECT_EQ(1000u, Live()->u32OutputPIDNumber);
    EXPECT_NE(std::string::npos,
              env.Console().find("allocating memory: Get no invalid outputDescriptor, but the memory is full"));

    // A refresh that fails halfway leaves the temporary model as it was.
    allocations = 0;
    ModelPool_SetAllocHook([&](std::size_t) { return ++allocations < 2; });
    EXPECT_EQ(0xC0016u, TSP_CopyOutputTempTSInfo());
    EXPECT_EQ(0xC0016u, TSP_InitOutputTempTSInfo());
    ModelPool_SetAllocHook({});
    EXPECT_EQ(2000u, Temp()->u32OutputPIDNumber);
    EXPECT_EQ(4242, Temp()->pOutputProgram[0].u16ServiceID);
    ASSERT_EQ(0u, TSP_CopyOutputTSInfo()) << "the copy it keeps can still be applied";
    EXPECT_EQ(4242, Live()->pOutputProgram[0].u16ServiceID);
}

TEST_F(ModelCopyTest, FactoryModelsAreEmptyAndAFailedFactoryKeepsTheOldOnes) {
    Output_TSProgram* programs = Live()->pOutputProgram;
    int allocations = 0;
    ModelPool_SetAllocHook([&](std::size_t) { return ++allocations < 7; });
    EXPECT_EQ(8u, TSP_FactoryOutputTSInfo());
    ModelPool_SetAllocHook({});
    EXPECT_EQ(programs, Live()->pOutputProgram);
    EXPECT_EQ(1, Live()->pOutputProgram[0].u8ValidFlag);
}

// Start-up's parameter step, with no model file yet, leaves both models with
// their factory pools. It runs without the model lock, as start-up does (it
// sends clear orders to the input slots, which is never done under the lock).
TEST(ModelFactoryStartTest, TheParameterStepMakesTheFactoryModels) {
    test::TestEnvironment env;
    // A fresh data root: start-up finds neither settings file nor JSON copy.
    env.FailOnUnexpectedErrors(
        {"HX_QAM.conf] is not exist!", "HX_OutPutTSP.conf] is not exist!", "open file: /product_data/oid.json failed"});
    test::SimBoard board;
    test::ScopedSharedModels models;
    ASSERT_EQ(0u, PARAMS_Init());
    TSP_ModelLock lock;
    for (Output_TSInfo* model : {TSP_GetTSParam(), TSP_GetTempTSParam()}) {
        EXPECT_EQ(16u, model->u32OutputTSNumber);
        EXPECT_EQ(500u, model->u32OutputProgramNumber);
        EXPECT_EQ(1000u, model->u32OutputPIDNumber);
        EXPECT_EQ(100u, model->u32OutputTableNumber);
        EXPECT_EQ(500u, model->u32OutputDescriptorNumber);
        EXPECT_TRUE(test::CheckModel(*model).empty());
    }
}

}  // namespace
}  // namespace hx

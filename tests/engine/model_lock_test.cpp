// The sanitizer builds' checks that the model lock is held by every reader
// and by nobody who sends.
#include <gtest/gtest.h>

#include "engine/output_model.h"
#include "engine/slot_bookkeeping.h"
#include "support/model_builder.h"
#include "support/test_env.h"

namespace hx {
namespace {

#if defined(HX_SANITIZED)

class ModelLockDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ModelLockDeathTest, AGetterWithoutTheLockDies) {
    EXPECT_DEATH(TSP_GetTSParam(), "TSP_GetTSParam called without the model lock");
    EXPECT_DEATH(TSP_GetTempTSParam(), "TSP_GetTempTSParam called without the model lock");
    Output_TSInfo* live = nullptr;
    {
        TSP_ModelLock lock;
        live = TSP_GetTSParam();
    }
    IndexInfoList list;
    EXPECT_DEATH(TSP_GetOutTSProgIndexList(0, live, &list), "called without the model lock")
        << "a pointer kept past the lock is no licence to walk";
}

TEST_F(ModelLockDeathTest, SendingToOtherBoardsUnderTheLockDies) {
    TSP_ModelLock lock;
    EXPECT_DEATH(TSP_UpdateResourceInfo(), "TSP_UpdateResourceInfo called with the model lock held");
    EXPECT_DEATH(ClearOneSlotInfoFromInput(3), "called with the model lock held");
}

TEST_F(ModelLockDeathTest, ARecordMadeValidBehindTheKeyIndexIsCaught) {
    test::TestEnvironment env;
    test::ScopedSharedModels models;
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    test::ModelBuilder builder(live);
    const U16 ts = builder.AddStream(1);
    builder.AddProgram(ts, {.programId = 5});
    U16 found = 0;
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 1, 5, &found));
    // Written into a slot no finder handed out, and nobody told the engine.
    live->pOutputProgram[400] = live->pOutputProgram[found];
    live->pOutputProgram[400].u16ProgramID = 6;
    EXPECT_DEATH(TSP_GetOutputProgramIndexByPID(3, 0, 1, 6, &found), "without ModelPool_RecordsChanged");
    ModelPool_RecordsChanged(live);
    ASSERT_EQ(0u, TSP_GetOutputProgramIndexByPID(3, 0, 1, 6, &found));
    EXPECT_EQ(400, found);
}

#endif

}  // namespace
}  // namespace hx

// The back board's resource record against an apply of the QAM set in
// another thread: the standard it brings waits for the apply to end.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/err.h"
#include "platform/board_state_fixture.h"
#include "platform/qam_apply.h"
#include "platform/qam_params.h"
#include "platform/resource.h"

namespace hx::test {
namespace {

class ResourceApplyLockTest : public BoardStateTest {};

TEST_F(ResourceApplyLockTest, TheStandardWaitsForAnApplyUnderWay) {
    TResource_TS backBoard{};
    backBoard.u8SlotID = kBackBoardSlot;
    backBoard.u8Standard = 1;
    backBoard.u8Language = EN_LANGUAGE_CN;
    const ResourceBytes bytes = Resource_Serialize(backBoard);
    std::thread server;
    {
        QamApplyGuard apply(QAM_ApplyLock());  // an apply is sending the QAM set
        server = std::thread([&] { Resource_SetSlotResource(16, bytes.data()); });
        // The language is set before the standard: once it shows, the record
        // has reached the standard, which must wait for the apply to end.
        while (err_GetLanguage() != EN_LANGUAGE_CN) {
            std::this_thread::yield();
        }
        EXPECT_EQ(GetQAMPara_Handle()->Standard.value, 0u);
    }
    server.join();
    EXPECT_EQ(GetQAMPara_Handle()->Standard.value, 1u);
}

}  // namespace
}  // namespace hx::test

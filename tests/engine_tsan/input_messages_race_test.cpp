// Input-card messages from the inter-board server thread against two readers
// of the live model. A message runs whole under the model lock, so a reader
// sees the model before or after it, never between two of its records:
// programs come five to a message, so a reader always counts a multiple of
// five, and the invariant checker finds nothing. ThreadSanitizer
// (./scripts/test's third stage) reports any access the lock does not order.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/output_model.h"
#include "platform/resource.h"
#include "support/input_card_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

constexpr int kRounds = 8;
constexpr U32 kPrograms = 60;  // twelve messages of five

TEST(InputMessagesRaceTest, ReadersNeverSeeHalfAMessage) {
    test::TestEnvironment env;
    test::ScopedSharedModels models({4, 8, 16, 2, 2, 2});
    for (U8 slot : {3, 5, 7}) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = 1;
    }
    const test::InputCardModel model = test::MakeInputCardModel(kPrograms);
    std::atomic<bool> writing{true};
    std::atomic<int> halfSeen{0};
    std::atomic<int> brokenSeen{0};
    std::atomic<int> looks{0};

    auto reader = [&] {
        while (writing.load()) {
            TSP_ModelLock lock;
            const Output_TSInfo* live = TSP_GetTSParam();
            U32 programs = 0;
            for (U32 i = 0; i < live->u32OutputProgramNumber; ++i) {
                programs += live->pOutputProgram[i].u8ValidFlag == kRecordValid;
            }
            halfSeen += programs % 5 != 0;
            brokenSeen += !test::CheckModel(*live).empty();
            ++looks;
        }
    };
    std::thread first(reader);
    std::thread second(reader);

    // Failures are counted, not asserted, so the readers are always joined;
    // the delete orders' lines on standard output are dropped.
    int failures = 0;
    testing::internal::CaptureStdout();
    for (int round = 0; round < kRounds; ++round) {
        failures += test::SendInputCardMessages(model.build) != 0;
        std::this_thread::yield();
        failures += test::SendInputCardMessages(model.remove) != 0;
    }
    testing::internal::GetCapturedStdout();
    writing.store(false);
    first.join();
    second.join();
    for (U8 slot : {3, 5, 7}) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = 0;
    }
    EXPECT_EQ(0, failures);
    EXPECT_EQ(0, halfSeen.load());
    EXPECT_EQ(0, brokenSeen.load());
    EXPECT_GT(looks.load(), 0);
}

}  // namespace
}  // namespace hx

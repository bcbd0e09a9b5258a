// The model lock across threads: re-entry and the SI sender's try, then a
// writer that adds and removes records, growing the pools as it goes,
// against two readers walking every chain. Each side holds the model lock for
// its whole turn; ThreadSanitizer (./scripts/test's third stage) reports any
// access that is not ordered by it, and AddressSanitizer any read of a pool
// that growth has moved.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/output_model.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "support/test_env.h"

namespace hx {
namespace {

TEST(ModelLockTest, NestedHoldersReEnterAndOtherThreadsOnlyGetItAfter) {
    EXPECT_FALSE(TSP_ModelLockHeld());
    {
        TSP_ModelLock outer;
        TSP_ModelLock inner;
        EXPECT_TRUE(TSP_ModelLockHeld());
        bool otherGotIt = true;
        std::thread([&] {
            TSP_ModelLock attempt(std::try_to_lock);
            otherGotIt = attempt.owns_lock();
            EXPECT_FALSE(TSP_ModelLockHeld());
        }).join();
        EXPECT_FALSE(otherGotIt) << "the time tables wait for their next tick";
    }
    EXPECT_FALSE(TSP_ModelLockHeld());
    bool otherGotIt = false;
    std::thread([&] {
        TSP_ModelLock attempt(std::try_to_lock);
        otherGotIt = attempt.owns_lock();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

constexpr int kRounds = 40;
constexpr U16 kChannels = 4;
constexpr U16 kProgramsPerRound = 25;

// Walks every chain of the live model; returns how many records it saw.
std::size_t WalkEverything() {
    TSP_ModelLock lock;
    const Output_TSInfo* live = TSP_GetTSParam();
    std::size_t seen = 0;
    IndexInfoList programs;
    IndexInfoList pids;
    for (U32 ts = 0; ts < live->u32OutputTSNumber; ++ts) {
        if (live->pOutputTS[ts].u8ValidFlag != 1 ||
            TSP_GetOutTSProgIndexList(static_cast<U16>(ts), live, &programs) != 0) {
            continue;
        }
        for (U16 i = 0; i < programs.u16IndexListNum; ++i) {
            if (TSP_GetOutProgESPIDIndexList(programs.aru16IndexList[i], live, &pids) == 0) {
                seen += 1 + pids.u16IndexListNum;
            }
        }
    }
    return seen;
}

TEST(ModelLockRaceTest, WriterWithGrowthAgainstTwoWalkingReaders) {
    test::TestEnvironment env;
    test::ScopedSharedModels models({4, 16, 16, 0, 0, 0});
    std::atomic<bool> writing{true};
    std::atomic<std::size_t> walks{0};

    auto reader = [&] {
        while (writing.load()) {
            WalkEverything();
            walks.fetch_add(1);
        }
    };
    std::thread first(reader);
    std::thread second(reader);

    // Failures are counted, not asserted, so the readers are always joined.
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        const U16 channel = static_cast<U16>(round % kChannels);
        {
            TSP_ModelLock lock;
            test::ModelBuilder builder(TSP_GetTSParam());
            const U16 ts = builder.AddStream(channel);
            for (U16 p = 0; p < kProgramsPerRound; ++p) {
                const U16 key = static_cast<U16>(round * 100 + p);
                const U16 program = builder.AddProgram(ts, {.sourceSlot = 3, .programId = key});
                failures += program == 0xFFFF || builder.AddPid(PID_TYPE_ESPID, program, {.key = key}) == 0xFFFF;
            }
        }
        std::this_thread::yield();
        if (round % 2 == 1) {
            // Half the rounds take a stream away again by delete order.
            failures += TSP_DelTSInfoByInput(3, 0, channel) != 0;
        }
    }
    writing.store(false);
    first.join();
    second.join();

    EXPECT_EQ(0, failures);
    TSP_ModelLock lock;
    EXPECT_GT(TSP_GetTSParam()->u32OutputProgramNumber, 16u) << "the pools grew while readers walked";
    EXPECT_TRUE(test::CheckModel(*TSP_GetTSParam()).empty());
    EXPECT_GT(walks.load(), 0u);
}

}  // namespace
}  // namespace hx

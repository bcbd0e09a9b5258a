// Saves of the output-model file from several threads at once, while another
// thread edits the model under the model lock and a reader keeps reading the
// file: every file on disk is one whole save of one whole model state.
//
// Each edit stamps every stored record with one generation byte, half the
// records, a yield, then the rest, and now and then gives the pools other
// sizes. A save that ran beside an edit, or two saves that wrote into one
// file, would leave mixed stamps, counts that do not match the length, or a
// failing CRC.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/file_util.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/output_model.h"
#include "support/model_builder.h"
#include "support/param_files.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::kModelFilePools;
using test::kRecordTailBytes;

constexpr std::size_t kHeaderSize = 240;
constexpr int kSavers = 4;
constexpr int kSavesPerThread = 25;

const std::array<TSInfoInitNum, 2> kSizes = {TSInfoInitNum{4, 12, 24, 3, 6, 1}, TSInfoInitNum{2, 20, 10, 5, 9, 1}};

// Every stored record of the live model gets `stamp` in its reserved tail,
// half of them before a yield, so a save not ordered by the lock would catch
// the model half stamped.
void StampLiveModel(U8 stamp, std::optional<std::size_t> resizeTo) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    if (resizeTo) {
        ASSERT_EQ(0u, TSP_InitTSInfo(model, &kSizes[*resizeTo]));
    }
    const std::vector<U8*> tails = test::StoredRecordTails(model);
    for (std::size_t i = 0; i < tails.size(); ++i) {
        if (i == tails.size() / 2) {
            std::this_thread::yield();
        }
        std::memset(tails[i], stamp, kRecordTailBytes);
    }
    ModelPool_RecordsChanged(model);
}

// What is wrong with a model file image ("" when it is one whole save).
std::string CheckModelFile(const std::vector<U8>& file) {
    if (file.size() < kHeaderSize + 4) {
        return "short file of " + std::to_string(file.size()) + " bytes";
    }
    if (GetLe32(&file[0]) != kParamsVersion || GetLe32(&file[4]) != file.size()) {
        return "header does not match a file of " + std::to_string(file.size()) + " bytes";
    }
    if (Common_CRC_Calculate(file.data(), static_cast<U32>(file.size() - 4), kCrcInitLinks) !=
        GetLe32(&file[file.size() - 4])) {
        return "CRC fails";
    }
    std::size_t offset = kHeaderSize;
    std::optional<U8> stamp;
    for (std::size_t p = 0; p < kModelFilePools.size(); ++p) {
        const std::size_t size = ModelPool_RecordSize(kModelFilePools[p]);
        const U32 count = GetLe32(&file[8 + 4 * p]);
        if (offset + std::size_t{count} * size + 4 > file.size()) {
            return "counts run past the file";
        }
        for (U32 i = 0; i < count; ++i, offset += size) {
            const U8* tail = &file[offset + size - kRecordTailBytes];
            stamp = stamp.value_or(tail[0]);
            for (std::size_t b = 0; b < kRecordTailBytes; ++b) {
                if (tail[b] != *stamp) {
                    return "records of two model states in one file (pool " + std::to_string(p) + ", record " +
                           std::to_string(i) + ")";
                }
            }
        }
    }
    if (offset + 4 != file.size()) {
        return "counts do not add up to the length";
    }
    return "";
}

TEST(ModelSaveRaceTest, ConcurrentSavesBesideEditsAlwaysLeaveOneWholeSave) {
    test::TestEnvironment env;
    env.FailOnUnexpectedErrors();
    test::SimBoard board;
    test::ResetParameterState();
    test::ScopedSharedModels models(kSizes[0]);
    StampLiveModel(1, std::nullopt);
    const std::string path = env.Path(kModelParamFilePath);

    std::atomic<int> saversLeft{kSavers};
    std::atomic<int> failedSaves{0};
    std::atomic<int> filesRead{0};
    std::atomic<int> edits{0};
    std::mutex problemsMutex;
    std::vector<std::string> problems;
    auto note = [&](const std::string& problem) {
        std::lock_guard lock(problemsMutex);
        if (problems.size() < 5) {
            problems.push_back(problem);
        }
    };

    std::vector<std::thread> threads;
    for (int s = 0; s < kSavers; ++s) {
        threads.emplace_back([&] {
            while (edits.load() == 0) {
                std::this_thread::yield();  // saves start once the edits run
            }
            for (int i = 0; i < kSavesPerThread; ++i) {
                if (PARAMS_TSPParametersSave() != 0) {
                    failedSaves.fetch_add(1);
                }
            }
            saversLeft.fetch_sub(1);
        });
    }
    threads.emplace_back([&] {
        U8 stamp = 1;
        for (int edit = 0; saversLeft.load() > 0; ++edit) {
            stamp = static_cast<U8>(stamp % 250 + 1);
            StampLiveModel(stamp, edit % 7 == 0 ? std::optional<std::size_t>(edit / 7 % 2) : std::nullopt);
            edits.fetch_add(1);
        }
    });
    // The reader takes no lock: the file on disk itself must always be whole.
    // Its last read comes after the last save.
    threads.emplace_back([&] {
        bool more = true;
        while (more) {
            more = saversLeft.load() > 0;
            if (const std::optional<std::vector<U8>> file = File_ReadAll(path)) {
                filesRead.fetch_add(1);
                if (std::string problem = CheckModelFile(*file); !problem.empty()) {
                    note(problem);
                }
            }
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(0, failedSaves.load()) << "a save removed or replaced the temporary file of another";
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_GT(filesRead.load(), 0);
    EXPECT_GT(edits.load(), 1);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path())) {
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".HX_OutPutTSP"))
            << "temporary file left: " << entry.path();
    }

    // The last save loads back and is the model as it stands.
    const std::vector<U8> last = test::ReadBytes(kModelParamFilePath);
    ASSERT_EQ("", CheckModelFile(last));
    ASSERT_EQ(0u, PARAMS_TSPParametersSave());
    const std::vector<U8> current = test::ReadBytes(kModelParamFilePath);
    StampLiveModel(0, std::nullopt);
    ASSERT_EQ(0u, PARAMS_VerifyTSPConfigFiles());
    ASSERT_EQ(0u, PARAMS_TSP_Load());
    EXPECT_EQ(current, test::ReadBytes(kModelParamFilePath)) << "the load's apply saves what it loaded";
}

}  // namespace
}  // namespace hx

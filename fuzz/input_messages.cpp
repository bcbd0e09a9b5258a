// Fuzzes the input-card configuration entry: an input is a sequence of
// messages as the dispatcher hands them over, applied to a live model with
// tiny pools so every kind grows. The model invariant checker reads the model
// after every message; then one conflict-resolution pass runs, the checker
// reads the model again and the resolved streams must keep resolution's
// promises; a record-by-record pass over a copy must give the same values.
// Any violation aborts.
//
// Input format: fuzz/input_messages_format.h; of each message's payload at
// most 5,120 bytes are taken, as the dispatcher delivers.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "engine/conflict_process.h"
#include "engine/input_messages.h"
#include "engine/output_model.h"
#include "fuzz/input_messages_format.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "support/model_checker.h"
#include "support/resolution_checker.h"

namespace {

using namespace hx;
using fuzz::kAddBypass;
using fuzz::kDelBypass;
using fuzz::kSelectors;

constexpr TSInfoInitNum kTinyPools = {2, 4, 8, 2, 2, 2};
constexpr std::size_t kMaxMessage = 5120;
void DieOn(const std::vector<std::string>& violations, const char* when) {
    if (violations.empty()) {
        return;
    }
    std::fprintf(stderr, "%s:\n%s", when, test::DescribeViolations(violations).c_str());
    std::abort();
}

void Apply(U32 selector, std::vector<U8>& payload) {
    const U16 length = static_cast<U16>(payload.size());
    if (selector == kAddBypass || selector == kDelBypass) {
        if (payload.empty()) {
            return;
        }
        auto operation =
            selector == kAddBypass ? TSP_ConstructOutputTSByAddBypassTs : TSP_ConstructOutputTSByDelBypassTS;
        operation(payload.data() + 1, payload[0], static_cast<U16>(length - 1));
        return;
    }
    TSP_ConstructOutputTS(payload.data(), static_cast<IPCOMM_CMD>(selector), length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    // Skipped records and delete orders are printed on standard output.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    TSP_ModelLock lock;
    Output_TSInfo* live = TSP_GetTSParam();
    if (TSP_InitTSInfo(live, &kTinyPools) != 0 || TSP_InitTSInfo(TSP_GetTempTSParam(), &kTinyPools) != 0) {
        return 0;
    }
    const bool atsc = (data[0] & fuzz::kFlagAtsc) != 0;
    GetQAMPara_Handle()->Standard.value = atsc ? 1 : 0;
    for (U8 slot = 0; slot <= 16; ++slot) {
        Resource_GetHandle(slot)->u8MuxPIDEnable = (data[0] & fuzz::kFlagNoPidMux) != 0 ? 0 : 1;
    }

    std::size_t at = 1;
    while (at + 3 <= size) {
        const U32 selector = kSelectors[data[at] % std::size(kSelectors)];
        const std::size_t asked = GetLe16(data + at + 1);
        at += 3;
        const std::size_t length = std::min({asked, size - at, kMaxMessage});
        // A buffer of exactly the message's size, so a read past it is seen.
        std::vector<U8> payload(data + at, data + at + length);
        at += length;
        Apply(selector, payload);
        DieOn(test::CheckModel(*live), "after a message");
    }

    TSP_InitOutputTempTSInfo();
    TSP_CopyOutputTempTSInfo();
    const U32 resolved = TSP_ConflictProcess();
    DieOn(test::CheckModel(*live), "after resolution");
    if (resolved == 0) {
        DieOn(test::CheckResolved(*live, atsc), "resolution's promises");
    }
    Output_TSInfo* copy = TSP_GetTempTSParam();
    if (test::ResolveRecordByRecord(copy, atsc) != resolved ||
        test::ProgramAndPidBytes(*copy) != test::ProgramAndPidBytes(*live)) {
        std::fprintf(stderr, "the incremental and the record-by-record passes differ\n");
        std::abort();
    }
    return 0;
}

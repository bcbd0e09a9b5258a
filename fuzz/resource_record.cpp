// Fuzzes the resource records the back board forwards: the record reader and
// the store that applies the back board's own record (standard, language, EIT
// board).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/run_profile.h"
#include "platform/resource.h"
#include "fuzz/fuzz_data_root.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> record(data, data + std::min<std::size_t>(size, hx::kResourceSize));
    if (const auto parsed = hx::Resource_Parse(record)) {
        // Only the reserved tail may differ after a round trip.
        const hx::ResourceBytes again = hx::Resource_Serialize(*parsed);
        if (!std::equal(again.begin(), again.begin() + 125, record.begin())) {
            std::abort();
        }
    }
    record.resize(hx::kResourceSize);
    hx::Resource_SetSlotResource(16, record.data(), static_cast<hx::U32>(record.size()));
    hx::Resource_SetSlotResource(16, data, static_cast<hx::U32>(size));
    if (hx::Resource_GetEITBoardSlot() > hx::kNoEitBoardSlot) {
        std::abort();
    }
    return 0;
}

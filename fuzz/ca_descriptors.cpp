// Fuzzes the removal of CA descriptors from a descriptor loop that came from
// an input card: byte 0 and 1 give the loop's stored length (which may lie),
// byte 2 and 3 the CA PID, the rest is the loop buffer. A damaged loop must be
// left exactly as it came; a good one must lose exactly its matching CA
// descriptors and keep every other byte in order.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "engine/model_records.h"
#include "si/ca_descriptor.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size - 4 > hx::kDescriptorLoopSize) {
        return 0;
    }
    const hx::U16 storedLength = static_cast<hx::U16>(data[0] | data[1] << 8);
    const hx::U16 caPid = static_cast<hx::U16>((data[2] | data[3] << 8) & 0x1FFF);
    // Exactly the buffer's size on the heap, so AddressSanitizer sees any overrun.
    std::vector<hx::U8> loop(data + 4, data + size);
    const std::vector<hx::U8> original = loop;
    hx::U16 length = storedLength;
    const hx::U32 result = hx::TSP_DelCaDescriptors(loop.data(), &length, static_cast<hx::U16>(loop.size()), caPid);
    if (result != 0) {
        if (loop != original || length != storedLength) {
            std::abort();
        }
        return 0;
    }
    // What stays: every descriptor of the original loop that is not ours, in order.
    std::vector<hx::U8> expected;
    for (std::size_t at = 0; at < storedLength; at += 2 + original[at + 1]) {
        const bool ours = original[at] == hx::kCaDescriptorTag && original[at + 1] >= 4 &&
                          (hx::GetBe16(&original[at + 4]) & 0x1FFF) == caPid;
        if (!ours) {
            expected.insert(expected.end(), original.begin() + at, original.begin() + at + 2 + original[at + 1]);
        }
    }
    if (length != expected.size() || !std::equal(expected.begin(), expected.end(), loop.begin())) {
        std::abort();
    }
    return 0;
}

// Fuzzes the reader of the back board's serial line: the frame parser with
// its resynchronisation, and the payload readers of the answers. The line can
// carry anything: noise at power-up, a back board of another firmware, a
// half-sent frame.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/serial_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        const hx::SerialParseResult result = hx::SerialFrame_Parse(input);
        if (result.consumed > input.size()) {
            std::abort();
        }
        if (result.status == hx::SerialParseStatus::Frame) {
            // A frame taken from the line serialises back to the very bytes it came from.
            const std::vector<std::uint8_t> again = hx::SerialFrame_Serialize(result.frame);
            if (again.size() > result.consumed ||
                !std::equal(again.begin(), again.end(), input.begin() + (result.consumed - again.size()))) {
                std::abort();
            }
            hx::SerialNetworkSettings_Parse(result.frame.data);
            hx::SerialErrorCode_Parse(result.frame.data);
        }
        if (result.consumed == 0) {
            break;  // needs more bytes than there are
        }
        input = input.subspan(result.consumed);
    }
    return 0;
}

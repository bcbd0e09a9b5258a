#include "si/ca_descriptor.h"

#include <cstring>

#include "core/common_fun.h"
#include "core/log.h"
#include "si/section_codec.h"

namespace hx {

namespace {

constexpr U16 kCaPidMask = 0x1FFF;
constexpr std::size_t kHeaderSize = 2;

bool IsCaDescriptorFor(const U8* descriptor, U16 caPid) {
    const U8 bodyLength = descriptor[1];
    return descriptor[0] == kCaDescriptorTag && bodyLength >= 4 &&
           (GetBe16(descriptor + kHeaderSize + 2) & kCaPidMask) == caPid;
}

}  // namespace

U32 TSP_DelCaDescriptors(U8* pu8Loop, U16* pu16Length, U16 u16Capacity, U16 u16CaPid) {
    if (pu8Loop == nullptr || pu16Length == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "input error\r\n\n");
        return kSipErrInput;
    }
    const std::size_t length = *pu16Length;
    if (length > u16Capacity) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "loop length[%u] above its buffer[%u]\r\n\n", *pu16Length,
               u16Capacity);
        return kSipErrBound;
    }
    // Check the whole loop before moving a byte, so a damaged loop stays as it came.
    for (std::size_t at = 0; at < length;) {
        if (length - at < kHeaderSize || length - at - kHeaderSize < pu8Loop[at + 1]) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SIPROCESS, "descriptor at [%u] runs past the loop length[%u]\r\n\n",
                   static_cast<unsigned>(at), *pu16Length);
            return kSipErrBound;
        }
        at += kHeaderSize + pu8Loop[at + 1];
    }
    std::size_t kept = 0;
    for (std::size_t at = 0; at < length;) {
        const std::size_t size = kHeaderSize + pu8Loop[at + 1];
        if (!IsCaDescriptorFor(pu8Loop + at, u16CaPid)) {
            std::memmove(pu8Loop + kept, pu8Loop + at, size);
            kept += size;
        }
        at += size;
    }
    std::memset(pu8Loop + kept, 0, length - kept);
    *pu16Length = static_cast<U16>(kept);
    return 0;
}

}  // namespace hx

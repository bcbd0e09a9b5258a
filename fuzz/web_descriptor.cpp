// Fuzzes the listing of a descriptor loop for the web pages: the input is the
// loop. Every listed descriptor must lie inside the loop (ASan sees any read
// past the exactly sized copy), carry its tag, data and length, and the
// listed descriptors together must not cover more bytes than the loop holds.
#include <cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "web/web_value.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFF) {
        return 0;
    }
    // Exactly the loop's size on the heap, so AddressSanitizer sees any overrun.
    std::vector<hx::U8> loop(data, data + size);
    cJSON* array = cJSON_CreateArray();
    const hx::U32 result = hx::_web_parseDescriptor(loop.data(), static_cast<hx::U32>(size), array);
    if (result != (size == 0 ? 775u : 0u)) {
        std::abort();
    }
    // Walk the listed objects along the loop: each must be the descriptor
    // that starts where the one before it ended.
    std::size_t at = 0;
    int empty = 0;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, array) {
        const cJSON* tag = cJSON_GetObjectItemCaseSensitive(item, "tag");
        const cJSON* text = cJSON_GetObjectItemCaseSensitive(item, "data");
        const cJSON* length = cJSON_GetObjectItemCaseSensitive(item, "length");
        if (!cJSON_IsString(tag) || !cJSON_IsString(text) || !cJSON_IsNumber(length) || at + 2 > size) {
            std::abort();
        }
        char expectedTag[3];
        std::snprintf(expectedTag, sizeof expectedTag, "%02x", loop[at]);
        const std::size_t descriptorLength = loop[at + 1];
        const auto listed = static_cast<std::size_t>(length->valuedouble);
        const std::size_t textLength = std::strlen(text->valuestring);
        const bool name = loop[at] == 0x40;
        if (std::strcmp(expectedTag, tag->valuestring) != 0 || at + 2 + descriptorLength > size ||
            (name ? listed != textLength : listed != descriptorLength || textLength != 2 * listed)) {
            std::abort();
        }
        if (descriptorLength == 0 && ++empty > 4) {
            std::abort();
        }
        at += 2 + descriptorLength;
    }
    cJSON_Delete(array);
    return 0;
}

// Fuzzes the receipt of the user-rights message (inter-board command 524): any
// bytes from the back board, parsed over their exact length.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/log.h"
#include "platform/resource.h"
#include "web/user_authority.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so reading past the payload is caught.
    const std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
    std::copy(data, data + size, text.get());
    hx::VKUser_RecvUserAuthority(text.get(), static_cast<hx::U32>(size));
    const hx::U32 base = hx::Status_GetSlotID() * hx::kUserAuthorityEntries;
    for (hx::U32 i = 0; i < hx::kUserAuthorityEntries; ++i) {
        const hx::stAccessModifyEn right = hx::VKUser_GetAuthorityEntry(i);
        // An entry holds the granted default or a right of this board at its own place.
        if (right.u16AuthorityId != 257 && right.u16AuthorityId != base + i) {
            std::abort();
        }
    }
    hx::VKUser_GetUser_BoardLevel_ModifyAuthority();
    return 0;
}

#include "sim/sim_network.h"

#include <cstdio>
#include <filesystem>

#include "core/file_util.h"
#include "core/run_profile.h"
#include "platform/resource.h"

namespace hx {

std::string SimNetwork_PlausibleMac(std::string_view interfaceName, U32 u32Slot) {
    unsigned index = 0;
    if (interfaceName.size() > 3 && interfaceName.starts_with("eth")) {
        index = static_cast<unsigned>(interfaceName[3] - '0') & 0xFF;
    }
    char text[18];
    std::snprintf(text, sizeof text, "02:48:58:51:%02x:%02x", u32Slot & 0xFF, index);
    return text;
}

bool SimNetwork_CreateInterface(std::string_view interfaceName) {
    const std::filesystem::path path = ResolvePath("/sys/class/net/" + std::string(interfaceName) + "/address");
    if (std::filesystem::exists(path)) {
        return true;
    }
    if (!File_MakeDirectories(path.parent_path().string())) {
        return false;
    }
    const std::string text = SimNetwork_PlausibleMac(interfaceName, Status_GetSlotID()) + "\n";
    return File_WriteAtomic(path.string(), std::span(reinterpret_cast<const U8*>(text.data()), text.size()));
}

}  // namespace hx

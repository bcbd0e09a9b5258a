// Every fuzz target that touches files or logs runs in a data root of its own:
// a fresh temporary folder as the simulated board's, with the card's folders
// in place and the console silenced (its lines would drown libFuzzer's).
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "core/log.h"
#include "core/run_profile.h"

namespace hx::fuzz {

inline std::filesystem::path UseTemporaryDataRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-fuzz-XXXXXX").string();
    const std::filesystem::path root =
        mkdtemp(pattern.data()) != nullptr ? std::filesystem::path(pattern) : std::filesystem::temp_directory_path();
    SetProfile(SimProfile(root));
    PrepareDataRoot();
    Log_SetConsoleSink([](std::string_view) {});
    return root;
}

}  // namespace hx::fuzz

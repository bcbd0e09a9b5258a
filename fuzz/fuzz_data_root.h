// Every fuzz target that touches files or logs runs in a data root of its own:
// a fresh temporary folder as the simulated board's, with the card's folders
// in place and the console silenced (its lines would drown libFuzzer's). The
// folder is removed when the process ends normally (libFuzzer exits once its
// runs are done, the corpus replay when it has replayed everything); after a
// crash it stays beside the artifact, for a look at what the input left.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "core/log.h"
#include "core/run_profile.h"

namespace hx::fuzz {

struct TemporaryDataRoot {
    std::filesystem::path path;
    ~TemporaryDataRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline std::filesystem::path MakeTemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hx-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        // Never fall back on a shared folder: it would be removed at exit.
        std::perror("hx-fuzz: cannot create a temporary data root");
        std::abort();
    }
    return pattern;
}

inline std::filesystem::path UseTemporaryDataRoot() {
    static const TemporaryDataRoot root{MakeTemporaryFolder()};
    SetProfile(SimProfile(root.path));
    PrepareDataRoot();
    Log_SetConsoleSink([](std::string_view) {});
    return root.path;
}

}  // namespace hx::fuzz

// Fuzzes the start-up readers of the settings files: the QAM parameter file's
// checks, load and section checks, the output-model file's checks and the
// account file. All of them can hold anything after a power cut, a hand edit
// or an imported backup.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "chassis/param_store.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "web/user_accounts.h"
#include "fuzz/fuzz_data_root.h"

namespace {

void WriteFile(const char* logical, const std::uint8_t* data, std::size_t size) {
    std::ofstream(hx::ResolvePath(logical), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::fuzz::UseTemporaryDataRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteFile(hx::kQamParamFilePath, data, size);
    if (hx::PARAMS_VerifyConfigFiles() == 0) {
        if (hx::PARAMS_Load() != 0) {
            std::abort();  // a file the checks accept is read whole
        }
        hx::PARAMS_Update_QAM();
    }

    WriteFile(hx::kModelParamFilePath, data, size);
    hx::PARAMS_VerifyTSPConfigFiles();

    WriteFile(hx::kUserFilePath, data, size);
    if (hx::user_LoadUser() == 0) {
        if (hx::g_u32UserNum > hx::kMaxUsers) {
            std::abort();
        }
        for (hx::U32 i = 0; i < hx::g_u32UserNum; ++i) {
            if (hx::g_stUserArr[i].u8UserName[hx::kUserFieldSize - 1] != 0 ||
                hx::g_stUserArr[i].u8UserPasswd[hx::kUserFieldSize - 1] != 0) {
                std::abort();
            }
        }
    }
    return 0;
}

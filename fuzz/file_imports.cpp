// Fuzzes the readers of the files the board takes in from outside: an SI
// table upload, an OID snapshot and an imported configuration backup. Each
// arrives whole from a browser, a peer board or a power cut, and each rebuilds
// part of the live model or the saved settings.
//
// The first byte chooses (modulo 4) where the rest goes:
//   0  a spooled upload of "ImportSiTable.w" for channel 1 of port 0: the
//      multipart body is unwrapped in place, the NIT table file read and the
//      copy applied, as the HTTP server's request would;
//   1  "oiddata.conf", applied by OIDDATA_Recovery as at start-up;
//   2  "param_new.conf" of a fetched backup archive, checked and written by
//      the import; once it is accepted the snapshot it carried is applied
//      as the next start-up would;
//   3  "param.conf" of an older backup archive, its two images checked
//      before either is written.
// The archive's fetch and unpacking are answered in place of ftpget and tar:
// the member named is the input itself, so no process starts per input.
//
// Every input runs on a small model built afresh (a multiplexed stream with
// two programs and a NIT on channel 0, a passed-through stream on channel 1)
// with the temporary copy refreshed from it. Afterwards both models must pass
// the invariant checker, and a snapshot that is not applied must leave the
// live model byte for byte as it was. A snapshot that is applied sets every
// keyed field as stored, links and valid flags included, and is trusted as
// the model file is: its chains are taken as they come (the engine reads any
// structure safely), so after one the live model must only hold no free
// record with data in it, which the finders would hand out as it stands.
// Inter-board sends go to a loopback port that refuses every connection.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/config_backup.h"
#include "chassis/oid_snapshot.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/run_profile.h"
#include "engine/model_copy.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "fuzz/fuzz_data_root.h"
#include "fuzz/virtual_time.h"
#include "fuzz/fuzz_model.h"
#include "fuzz/refusing_port.h"
#include "http/chunk.h"
#include "http/http_base.h"
#include "platform/resource.h"
#include "si/nit_storage.h"
#include "si/section_codec.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "web/web_si_tables.h"

namespace {

constexpr hx::U8 kOwnBoardType = 33;
constexpr const char* kWorkFolder = "/var/volatile/";
constexpr const char* kImportHeader =
    "POST /ImportSiTable.w?tableid=64&port=0&channel=1 HTTP/1.1\r\n"
    "Host: card\r\n"
    "Content-Type: multipart/form-data; boundary=------------------------hxfuzzboundary\r\n\r\n";

// The input of the current run, as the unpacked archive member of that name.
std::string g_memberName;
const std::uint8_t* g_member = nullptr;
std::size_t g_memberSize = 0;

[[noreturn]] void fail(const char* why, std::string_view detail = {}) {
    std::fprintf(stderr, "file_imports: %s\n%.*s\n", why, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

constexpr hx::ModelPool kAllPools[] = {hx::ModelPool::Stream, hx::ModelPool::Program,    hx::ModelPool::Pid,
                                       hx::ModelPool::Table,  hx::ModelPool::Descriptor, hx::ModelPool::Bypass};

std::string liveBytes() {
    hx::TSP_ModelLock lock;
    std::string bytes;
    for (hx::ModelPool pool : kAllPools) {
        bytes += hx::test::PoolBytes(hx::TSP_GetTSParam(), pool);
    }
    return bytes;
}

void checkModels(const char* path, bool snapshotApplied) {
    hx::TSP_ModelLock lock;
    for (const hx::Output_TSInfo* model : {hx::TSP_GetTSParam(), hx::TSP_GetTempTSParam()}) {
        std::vector<std::string> violations = hx::test::CheckModel(*model);
        if (snapshotApplied && model == hx::TSP_GetTSParam()) {
            std::erase_if(violations,
                          [](const std::string& line) { return line.find("free but not zero") == std::string::npos; });
        }
        if (!violations.empty()) {
            fail(model == hx::TSP_GetTSParam() ? "the live model breaks an invariant" : "the copy breaks an invariant",
                 std::string(path) + "\n" + hx::test::DescribeViolations(violations));
        }
    }
}

// ftpget leaves a (placeholder) archive; tar lists the one member and
// unpacks it as the input's bytes.
void answerArchiveTools() {
    hx::Command_SetSimHandler("ftpget", [](const hx::Command& command) {
        hx::CommandResult result;
        result.executed = true;
        if (command.argv.size() == 3) {
            const std::string archive = hx::ResolvePath(std::string(kWorkFolder) + command.argv[2]);
            std::ofstream(archive, std::ios::binary | std::ios::trunc) << "archive";
        }
        return result;
    });
    hx::Command_SetSimHandler("tar", [](const hx::Command& command) {
        hx::CommandResult result;
        result.executed = true;
        if (command.argv.size() >= 2 && command.argv[1] == "-ztf") {
            result.output = g_memberName + "\n";
        } else if (command.argv.size() >= 2 && command.argv[1] == "-zxf" &&
                   std::find(command.argv.begin(), command.argv.end(), g_memberName) != command.argv.end()) {
            writeFile(hx::ResolvePath(std::string(kWorkFolder) + g_memberName), g_member, g_memberSize);
        }
        return result;
    });
}

void importSiTable(const std::filesystem::path& upload, const std::uint8_t* data, std::size_t size) {
    writeFile(upload.string(), data, size);
    const std::string path = upload.string();
    std::snprintf(hx::g_arcUpgradeFiledir, sizeof hx::g_arcUpgradeFiledir, "%s", path.c_str());
    hx::buffer* reply = hx::buffer_init();
    hx::web_processImportOneSiTable(reply, kImportHeader);
    hx::buffer_free(reply);
    std::filesystem::remove(upload);
}

// True when a snapshot was applied.
bool importArchive(const char* member, const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<hx::ST_BACKUPPARA> workArea = std::make_unique<hx::ST_BACKUPPARA>();
    g_memberName = member;
    g_member = data;
    g_memberSize = size;
    std::fill_n(reinterpret_cast<hx::U8*>(workArea.get()), sizeof(hx::ST_BACKUPPARA), hx::U8{0});
    const hx::U32 result = hx::IPComm_GetTheConfParam(workArea.get());
    if (result == 0 && g_memberName == "param_new.conf") {
        // The snapshot it carried applies at the next start-up.
        return hx::OIDDATA_Recovery() == 0;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No 160T answers here: its waits pass in virtual time.
    hx::fuzz::UseAutoAdvancingClock();
    hx::fuzz::UseTemporaryDataRoot();
    hx::RunProfile profile = hx::Profile();
    profile.interBoardPort = hx::fuzz::RefusingLoopbackPort();
    profile.simSlotId = 5;
    hx::SetProfile(profile);
    hx::Status_Init();
    hx::Resource_getSelfHandle()->u8BoardType = kOwnBoardType;
    hx::Resource_SetBackBoardIpAddr(hx::SimBoardAddress(16));
    std::filesystem::create_directories(hx::ResolvePath(kWorkFolder));
    answerArchiveTools();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static const std::filesystem::path upload = hx::ResolvePath("/tmp/hx-upload-fuzz");
    hx::test::ScopedSharedModels models(hx::fuzz::kSmallModelPools);
    hx::fuzz::BuildSmallModel();
    const std::uint8_t* rest = data + 1;
    const std::size_t restSize = size - 1;
    const char* path = "";
    bool snapshotApplied = false;
    switch (data[0] % 4) {
        case 0:
            path = "ImportSiTable.w";
            importSiTable(upload, rest, restSize);
            break;
        case 1: {
            path = "oiddata.conf";
            const std::string before = liveBytes();
            writeFile(hx::ResolvePath(hx::kOidSnapshotPath), rest, restSize);
            snapshotApplied = hx::OIDDATA_Recovery() == 0;
            if (!snapshotApplied && liveBytes() != before) {
                fail("a snapshot that was not applied changed the live model");
            }
            break;
        }
        case 2:
            path = "param_new.conf";
            snapshotApplied = importArchive("param_new.conf", rest, restSize);
            break;
        default:
            path = "param.conf";
            importArchive("param.conf", rest, restSize);
            break;
    }
    checkModels(path, snapshotApplied);
    return 0;
}

// Fuzzes the web requests' entry: the body gathering, the table look-up and
// the handlers behind it, as the HTTP server calls them, and the JSON
// settings file read back at start-up.
//
// The first byte chooses: its low 7 bits modulo 48 pick the request table's
// row (48th: a name that is no row), its top bit sends the rest of the input
// through DATA_Recovery as the text of oid.json instead. Otherwise the rest
// is the request body, handed over in chunks of up to 3,000 bytes so that
// growth across chunks is taken too.
//
// A dispatch must answer 200 (0) for every row and 404 (770) only for the
// unknown name, leave no body behind, and leave an empty reply or one JSON
// object with a numeric "code".
//
// The rows of the stream, output status and NIT pages run on a small model
// built afresh for each input: a multiplexed stream with two programs, an
// other PID and a NIT on channel 0, a passed-through stream on channel 1, the
// temporary copy refreshed from it as "GetSubboardTSInfo.w" does, and one
// pending edit in the copy (a renamed program), so a copy reloaded from the
// live model shows. After the request both models must pass the invariant
// checker; an edit refused with a non-zero code must leave both byte for byte
// as they were, but for a stream edit's PID clash (0x30017), which reloads the
// copy from the live model: then the copy must equal the live model. The
// rows that copy the copy over the live model (apply, clear, automatic NIT)
// may fail after that copy, so only the invariants hold for them.
// Inter-board sends go to a loopback port that refuses every connection.
//
// The system rows run their tools through the command runner of the
// simulated board: file tools (the archives' tar, the log clearing's rm and
// touch, the erase flag) only inside the temporary data root, host commands
// (the SSH init script, sync, the reboot's preparation, which a refused
// reboot never reaches) recorded, "ps" answered by the simulated SSH
// service. Their waits pass in virtual time. The record is emptied after
// each input so a long run does not grow it.
#include <cJSON.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chassis/qam_json.h"
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
#include "http/config_keys.h"
#include "http/connection_internal.h"
#include "http/connections.h"
#include "sim/ssh_service.h"
#include "si/nit_storage.h"
#include "si/section_codec.h"
#include "support/model_builder.h"
#include "support/model_checker.h"
#include "web/web_request.h"

namespace {

constexpr std::size_t kRows = 47;
constexpr std::size_t kChunk = 3000;

hx::server* g_server = nullptr;

[[noreturn]] void fail(const char* why, std::string_view name, std::string_view reply) {
    std::fprintf(stderr, "web_request: %s (%.*s)\n--- reply ---\n%.*s\n", why, static_cast<int>(name.size()),
                 name.data(), static_cast<int>(reply.size()), reply.data());
    std::abort();
}

// The rows that work on the output model.
constexpr std::string_view kModelRows[] = {
    "GetOutputTSStatus.w", "GetOutputProgramStatus.w", "GetOutputTSDetailStatus.w", "ClearAllErr.w",
    "ApplyAllParam.w", "ClearAllParam.w", "DeleteTSConfig.w", "GetSubboardTSInfo.w", "SetTsParam.w",
    "SetProgramParam.w", "GetTempTSInfo.w", "GetTempProgramInfo.w", "SetNitVersionNum.w", "GetNIT.w",
    "AddNITNetwork.w", "DeleteNITNetwork.w", "AddNITStream.w", "DeleteNITStream.w", "DeleteLCN.w", "SetLCN.w",
    "AddDescriptor.w", "AutoGenerateNITDescriptor.w",
};
// Of those, the ones that copy the temporary copy over the live model.
constexpr std::string_view kApplyRows[] = {"ApplyAllParam.w", "ClearAllParam.w", "AutoGenerateNITDescriptor.w"};
constexpr hx::U32 kPidClash = 0x30017;

template <std::size_t N>
bool among(std::string_view name, const std::string_view (&names)[N]) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// The small model with an audio PID per program and an other PID, then an
// edit of the refreshed copy not yet applied.
void buildModel() {
    hx::fuzz::BuildSmallModel({.audio = true, .otherPid = true});
    hx::TSP_ModelLock lock;
    hx::Output_TSInfo* copy = hx::TSP_GetTempTSParam();
    for (hx::U32 i = 0; i < copy->u32OutputProgramNumber; ++i) {
        if (copy->pOutputProgram[i].u8ValidFlag != 0) {
            copy->pOutputProgram[i].aru8ServiceName[0] = 'X';
            break;
        }
    }
}

constexpr hx::ModelPool kCopiedPools[] = {hx::ModelPool::Stream, hx::ModelPool::Program, hx::ModelPool::Pid,
                                          hx::ModelPool::Table, hx::ModelPool::Descriptor};

std::string poolBytes(const hx::Output_TSInfo* model) {
    std::string bytes;
    for (hx::ModelPool pool : kCopiedPools) {
        bytes += hx::test::PoolBytes(model, pool);
    }
    return bytes;
}

struct ModelBytes {
    std::string live;
    std::string copy;
};

ModelBytes modelBytes() {
    hx::TSP_ModelLock lock;
    return {poolBytes(hx::TSP_GetTSParam()), poolBytes(hx::TSP_GetTempTSParam())};
}

void checkModels(std::string_view name, const std::string& reply) {
    hx::TSP_ModelLock lock;
    for (const hx::Output_TSInfo* model : {hx::TSP_GetTSParam(), hx::TSP_GetTempTSParam()}) {
        const std::vector<std::string> violations = hx::test::CheckModel(*model);
        if (!violations.empty()) {
            fail(model == hx::TSP_GetTSParam() ? "the live model breaks an invariant" : "the copy breaks an invariant",
                 name, reply + "\n--- violations ---\n" + hx::test::DescribeViolations(violations));
        }
    }
}

// The reply's "code" (0 for an empty reply).
hx::U32 replyCode(const std::string& text) {
    cJSON* tree = cJSON_Parse(text.c_str());
    const cJSON* code = cJSON_GetObjectItem(tree, "code");
    const hx::U32 value = cJSON_IsNumber(code) ? static_cast<hx::U32>(code->valuedouble) : 0;
    cJSON_Delete(tree);
    return value;
}

void recover(const std::uint8_t* text, std::size_t size) {
    std::ofstream(hx::ResolvePath(hx::kQamJsonFilePath), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(text), static_cast<std::streamsize>(size));
    hx::DATA_Recovery();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No 160T answers here: its waits pass in virtual time, so a setter costs
    // what the handler does, not the link's time-outs.
    hx::fuzz::UseAutoAdvancingClock();
    const std::filesystem::path root = hx::fuzz::UseTemporaryDataRoot();
    hx::RunProfile profile = hx::Profile();
    profile.interBoardPort = hx::fuzz::RefusingLoopbackPort();
    hx::SetProfile(profile);
    const std::filesystem::path config = root / "webserver.conf";
    std::ofstream(config) << "server.document-root = \"" << root.string() << "\"\n";
    g_server = hx::server_init();
    g_server->errorlog_fd = -1;
    if (hx::config_read(g_server, config.c_str()) != 0 || hx::config_set_defaults(g_server) != 0) {
        std::fprintf(stderr, "web_request: the configuration was refused\n");
        std::abort();
    }
    hx::Web_SetRequestHookForTest(nullptr);
    hx::sim::SimSsh_Install();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 0x80) != 0) {
        recover(data + 1, size - 1);
        return 0;
    }
    const std::size_t row = (data[0] & 0x7F) % (kRows + 1);
    const std::string name = row < kRows ? hx::arstWEBComm[row].pcStr : "NoSuchRequest.w";

    const bool onModel = row < kRows && among(name, kModelRows);
    std::optional<hx::test::ScopedSharedModels> models;
    ModelBytes before;
    if (onModel) {
        models.emplace(hx::fuzz::kSmallModelPools);
        buildModel();
        before = modelBytes();
    }

    hx::connection* con = hx::connections_get_new_connection(g_server);
    const std::string header = "POST /" + name + " HTTP/1.1\r\nHost: card\r\n\r\n";
    hx::buffer_copy_string(con->request.request, header.c_str());
    for (std::size_t at = 1; at < size; at += kChunk) {
        const std::size_t length = std::min(kChunk, size - at);
        // The length counts a terminator, which is not copied.
        hx::chunkqueue_append_mem(con->request_content_queue, reinterpret_cast<const char*>(data + at), length + 1);
    }
    hx::buffer* reply = hx::buffer_init();
    const hx::U32 result = hx::web_ProcessData(reply, g_server, con);
    const std::string text = reply->used > 1 ? std::string(reply->ptr, reply->used - 1) : std::string();
    hx::buffer_free(reply);
    hx::connection_del(g_server, con);
    hx::Command_ClearRecorded();
    std::filesystem::remove(hx::ResolvePath("/sim/commands.log"));

    if (result != (row < kRows ? 0u : 770u)) {
        fail("wrong dispatch result", name, text);
    }
    if (hx::g_ps8RevData != nullptr) {
        fail("the body outlived its request", name, text);
    }
    if (!text.empty()) {
        cJSON* tree = cJSON_Parse(text.c_str());
        const bool shaped = cJSON_IsObject(tree) && cJSON_IsNumber(cJSON_GetObjectItem(tree, "code"));
        cJSON_Delete(tree);
        if (!shaped) {
            fail("a reply that is not an object with a code", name, text);
        }
    }
    if (onModel) {
        checkModels(name, text);
        const hx::U32 code = replyCode(text);
        if (code != 0 && !among(name, kApplyRows)) {
            const ModelBytes after = modelBytes();
            if (after.live != before.live) {
                fail("a refused request changed the live model", name, text);
            }
            if (code == kPidClash && name == "SetTsParam.w") {
                if (after.copy != after.live) {
                    fail("a stream edit's PID clash left the copy other than the live model", name, text);
                }
            } else if (after.copy != before.copy) {
                fail("a refused edit changed the copy", name, text);
            }
        }
    }
    return 0;
}

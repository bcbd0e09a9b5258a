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
#include <cJSON.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "chassis/qam_json.h"
#include "core/clock.h"
#include "core/run_profile.h"
#include "fuzz/fuzz_data_root.h"
#include "http/chunk.h"
#include "http/config_keys.h"
#include "http/connection_internal.h"
#include "http/connections.h"
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

void recover(const std::uint8_t* text, std::size_t size) {
    std::ofstream(hx::ResolvePath(hx::kQamJsonFilePath), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(text), static_cast<std::streamsize>(size));
    hx::DATA_Recovery();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No 160T answers here: its waits pass in virtual time, so a setter costs
    // what the handler does, not the link's time-outs.
    static hx::VirtualClock clock;
    clock.SetAutoAdvance(true);
    hx::SetClock(&clock);
    const std::filesystem::path root = hx::fuzz::UseTemporaryDataRoot();
    const std::filesystem::path config = root / "webserver.conf";
    std::ofstream(config) << "server.document-root = \"" << root.string() << "\"\n";
    g_server = hx::server_init();
    g_server->errorlog_fd = -1;
    if (hx::config_read(g_server, config.c_str()) != 0 || hx::config_set_defaults(g_server) != 0) {
        std::fprintf(stderr, "web_request: the configuration was refused\n");
        std::abort();
    }
    hx::Web_SetRequestHookForTest(nullptr);
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
    return 0;
}

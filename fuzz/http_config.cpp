// Fuzzes the configuration parser: any bytes as a configuration file. Included
// files come from a fixed set of fixtures and commands from a stub, so no
// process starts and no other file is read.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/config_file.h"

namespace {

int read_fixture(const hx::buffer* name, hx::buffer* out) {
    const std::string path = name->used > 0 ? name->ptr : "";
    if (path.ends_with("vars.conf")) {
        hx::buffer_copy_string(out, "v = 1\ns = \"text\"\na = (\"x\" => \"y\", 2)\n");
        return 0;
    }
    if (path.ends_with("block.conf")) {
        hx::buffer_copy_string(out, "$HTTP[\"host\"] == \"h\" {\n  server.tag = \"t\"\n}\n");
        return 0;
    }
    if (path.ends_with("self.conf")) {
        hx::buffer_copy_string(out, "include \"self.conf\"\n");
        return 0;
    }
    errno = ENOENT;
    return -1;
}

int run_stub(const hx::buffer*, hx::buffer* out) {
    hx::buffer_copy_string(out, "shell.out = \"printed\"\n");
    return 0;
}

const hx::config_source_hooks kFixtures = {read_fixture, run_stub};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::config_set_source_hooks(&kFixtures);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::config_set_source_hooks(&kFixtures);
    hx::server* srv = hx::server_init();
    srv->errorlog_fd = -1;
    hx::config_t context;
    hx::context_init(srv, &context);
    context.all_configs = srv->config_context;
    hx::buffer_copy_string(context.basedir, "/fixtures/");
    hx::data_config* global = hx::data_config_init();
    hx::buffer_copy_string(global->key, "global");
    hx::configparser_push(&context, global, 1);
    // A copy of exactly `size` bytes, so reading past the input is caught.
    char* text = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    std::memcpy(text, data, size);
    hx::buffer* source = hx::buffer_init_string("fuzz.conf");
    hx::tokenizer_t t;
    hx::tokenizer_init(&t, source, text, size);
    const int result = hx::config_parse(srv, &context, &t);
    // Every block is closed again after a good parse.
    if (result == 0 && context.current != global) {
        std::abort();
    }
    hx::buffer_free(source);
    std::free(text);
    hx::context_free(&context);
    hx::server_free(srv);
    return 0;
}

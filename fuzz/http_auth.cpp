// Fuzzes the authentication routines with what a client and a user file can
// hold. Input: one byte choosing the backend (and the request method), then
// four parts separated by NUL bytes: the Authorization text (Basic credentials
// and Digest parameters alike), the require rules, the realm, and the user
// file's content. The user file is written into a data root of its own.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_data_root.h"
#include "http/http_auth.h"

namespace {

std::filesystem::path g_userFile;

// The system crypt's "$id$" hashes (SHA-crypt, bcrypt, yescrypt ...) cost
// milliseconds to seconds each by design, and what they compute is the C
// library's business: htpasswd lines here are "$apr1$" hashes or the plain
// DES form, which still take the crypt path of the comparison.
bool HasSystemHashSetting(std::string_view file) {
    for (size_t at = file.find('$'); at != std::string_view::npos; at = file.find('$', at)) {
        if (!file.substr(at).starts_with("$apr1$")) {
            return true;
        }
        at += 6;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_userFile = hx::fuzz::UseTemporaryDataRoot() / "users";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto backend = static_cast<hx::auth_backend_t>(data[0] % 5);
    const auto method = static_cast<hx::http_method_t>((data[0] / 5) % 8);
    std::vector<std::string> parts(4);
    std::size_t part = 0;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == '\0' && part + 1 < parts.size()) {
            ++part;
        } else {
            parts[part] += static_cast<char>(data[i]);
        }
    }
    const std::string& authorization = parts[0];
    const std::string& require = parts[1];
    const std::string& realm = parts[2];
    const std::string& file = parts[3];
    if (backend == hx::AUTH_BACKEND_HTPASSWD && HasSystemHashSetting(file)) {
        return 0;
    }
    // Rewritten only when it changes: most inputs vary the other parts.
    static std::string written;
    if (file != written || !std::filesystem::exists(g_userFile)) {
        std::ofstream(g_userFile, std::ios::binary | std::ios::trunc) << file;
        written = file;
    }

    hx::server* srv = hx::server_init();
    srv->errorlog_fd = -1;
    hx::mod_auth_plugin_data p{};
    p.auth_user = hx::buffer_init();
    p.tmp_buf = hx::buffer_init();
    p.conf.auth_backend = backend;
    p.conf.auth_debug = 2;
    p.conf.auth_plain_userfile = hx::buffer_init_string(g_userFile.c_str());
    p.conf.auth_htpasswd_userfile = hx::buffer_init_string(g_userFile.c_str());
    p.conf.auth_htdigest_userfile = hx::buffer_init_string(g_userFile.c_str());
    hx::connection con{};
    con.uri.path = hx::buffer_init_string("/private/");
    con.dst_addr_buf = hx::buffer_init_string("127.0.0.9");
    con.request.http_method = method;
    hx::array* req = hx::array_init();
    // An empty part leaves its key out of the entry.
    if (!realm.empty()) {
        hx::array_set_key_value(req, "realm", 5, realm.data(), realm.size());
    }
    if (!require.empty()) {
        hx::array_set_key_value(req, "require", 7, require.data(), require.size());
    }

    const int basic = hx::http_auth_basic_check(srv, &con, &p, req, authorization.c_str());
    if (basic != 0 && basic != 1) {
        std::abort();
    }
    const int digest = hx::http_auth_digest_check(srv, &con, &p, req, authorization.c_str());
    if (digest < -1 || digest > 1) {
        std::abort();
    }
    const int rules = hx::http_auth_match_rules(srv, req, authorization.c_str(), nullptr);
    if (rules != 0 && rules != -1) {
        std::abort();
    }
    hx::buffer* decoded = hx::buffer_init();
    if (const char* text = hx::base64_decode(decoded, authorization.c_str()); text != nullptr && decoded->used == 0) {
        std::abort();  // a result is always NUL-terminated
    }

    hx::buffer_free(decoded);
    hx::array_free(req);
    hx::buffer_free(con.uri.path);
    hx::buffer_free(con.dst_addr_buf);
    hx::buffer_free(p.conf.auth_plain_userfile);
    hx::buffer_free(p.conf.auth_htpasswd_userfile);
    hx::buffer_free(p.conf.auth_htdigest_userfile);
    hx::buffer_free(p.auth_user);
    hx::buffer_free(p.tmp_buf);
    hx::server_free(srv);
    return 0;
}

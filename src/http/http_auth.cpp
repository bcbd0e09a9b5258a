// Basic authentication, the user files, the require rules and the nonce.
// The Digest check is in http_auth_digest.cpp.
#include "http/http_auth.h"

#include <crypt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "http/errorlog.h"
#include "http/http_auth_internal.h"
#include "http/md5.h"

namespace hx {

namespace {

constexpr const char* kTag = "http_auth";
constexpr std::string_view kRequireParseError = "parsing the 'require' section in 'auth.require' failed: ";

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// The user file of the backend and the separators of its lines.
struct UserFile {
    const buffer* name;
    const char* openText;
    const char* expectedText;
    bool withRealm;
};

UserFile UserFileOf(const mod_auth_plugin_config& conf) {
    if (conf.auth_backend == AUTH_BACKEND_HTDIGEST) {
        return {conf.auth_htdigest_userfile, "opening digest-userfile", "expected 'username:realm:hashed password'",
                true};
    }
    if (conf.auth_backend == AUTH_BACKEND_HTPASSWD) {
        return {conf.auth_htpasswd_userfile, "opening htpasswd-userfile", "expected 'username:hashed password'",
                false};
    }
    return {conf.auth_plain_userfile, "opening plain-userfile", "expected 'username:hashed password'", false};
}

std::string_view TextOf(const buffer* b) {
    return b == nullptr || b->used == 0 ? std::string_view() : std::string_view(b->ptr, b->used - 1);
}

// Searches the lines of a mapped user file: 0 and the stored value when a
// line names the user (and realm); -1 when none does or a line is malformed.
int FindStoredValue(server* srv, const UserFile& file, std::string_view text, std::string_view user,
                    std::string_view realm, buffer* password) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(start, end - start);
        start = next;
        const size_t userEnd = line.find(':');
        const size_t realmEnd = file.withRealm && userEnd != std::string_view::npos ? line.find(':', userEnd + 1)
                                                                                     : userEnd;
        if (realmEnd == std::string_view::npos) {
            log_error_write(srv, kTag, __LINE__, "sbs", "parsed error in", file.name, file.expectedText);
            return -1;
        }
        if (line.substr(0, userEnd) != user) {
            continue;
        }
        if (file.withRealm && line.substr(userEnd + 1, realmEnd - userEnd - 1) != realm) {
            continue;
        }
        const std::string_view stored = line.substr(realmEnd + 1);
        buffer_copy_string_len(password, stored.data(), stored.size());
        return 0;
    }
    return -1;
}

std::string_view ClientAddress(const connection* con) { return TextOf(con->dst_addr_buf); }

bool IsRuleBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsRuleBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsRuleBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

void LogRequireError(server* srv, unsigned int line, std::string_view what) {
    const std::string text = std::string(kRequireParseError) + std::string(what);
    log_error_write(srv, kTag, line, "s", text.c_str());
}

}  // namespace

const buffer* http_auth_require_string(server* srv, array* req, const char* key) {
    const data_unset* element = req == nullptr ? nullptr : array_get_element(req, key);
    if (element == nullptr || element->type != TYPE_STRING) {
        log_error_write(srv, kTag, __LINE__, "sss", "auth.require entry has no", key, "string");
        return nullptr;
    }
    return static_cast<const data_string*>(element)->value;
}

void http_auth_log_address(server* srv, unsigned int line, const char* text, const connection* con) {
    const std::string address(ClientAddress(con));
    log_error_write(srv, kTag, line, "ss", text, address.c_str());
}

extern "C" {

char* base64_decode(buffer* out, const char* in) {
    const size_t inLength = std::strlen(in);
    buffer_prepare_copy(out, inLength / 4 * 3 + 4);
    unsigned char* result = reinterpret_cast<unsigned char*>(out->ptr);
    size_t length = 0;
    unsigned long group = 0;
    int digits = 0;
    const char* at = in;
    for (; *at != '\0' && *at != '='; ++at) {
        const int value = Base64Value(static_cast<unsigned char>(*at));
        if (value < 0) {
            continue;
        }
        group = (group << 6) | static_cast<unsigned long>(value);
        if (++digits == 4) {
            result[length++] = static_cast<unsigned char>(group >> 16);
            result[length++] = static_cast<unsigned char>(group >> 8);
            result[length++] = static_cast<unsigned char>(group);
            group = 0;
            digits = 0;
        }
    }
    if (*at == '=' && digits < 2) {
        return nullptr;
    }
    switch (digits) {
        case 1:
            return nullptr;
        case 2:
            if ((group & 0x0f) != 0) {
                return nullptr;
            }
            result[length++] = static_cast<unsigned char>(group >> 4);
            break;
        case 3:
            if ((group & 0x03) != 0) {
                return nullptr;
            }
            result[length++] = static_cast<unsigned char>(group >> 10);
            result[length++] = static_cast<unsigned char>(group >> 2);
            break;
        default:
            break;
    }
    result[length] = '\0';
    out->used = length + 1;
    return out->ptr;
}

void CvtHex(const HASH Bin, HASHHEX Hex) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        Hex[i * 2] = kDigits[(Bin[i] >> 4) & 0xf];
        Hex[i * 2 + 1] = kDigits[Bin[i] & 0xf];
    }
    Hex[32] = '\0';
}

int http_auth_get_password(server* srv, mod_auth_plugin_data* p, buffer* username, buffer* realm, buffer* password) {
    if (TextOf(username).empty() || TextOf(realm).empty()) {
        return -1;
    }
    switch (p->conf.auth_backend) {
        case AUTH_BACKEND_PLAIN:
        case AUTH_BACKEND_HTPASSWD:
        case AUTH_BACKEND_HTDIGEST:
            break;
        case AUTH_BACKEND_LDAP:
            // No directory client: the comparison then refuses.
            buffer_copy_string(password, "");
            return 0;
        default:
            return -1;
    }
    const UserFile file = UserFileOf(p->conf);
    if (TextOf(file.name).empty()) {
        return -1;
    }
    stream content{};
    if (stream_open(&content, file.name) != 0) {
        char scratch[128];
        log_error_write(srv, kTag, __LINE__, "sbss", file.openText, file.name, "failed:",
                        http_error_text(errno, scratch, sizeof scratch));
        return -1;
    }
    const int result = FindStoredValue(srv, file, std::string_view(content.start, static_cast<size_t>(content.size)),
                                       TextOf(username), TextOf(realm), password);
    stream_close(&content);
    return result;
}

int http_auth_basic_password_compare(server* srv, mod_auth_plugin_data* p, array* req, buffer* username,
                                     buffer* realm, buffer* password, const char* pw) {
    (void)srv;
    (void)req;
    const std::string_view stored = TextOf(password);
    switch (p->conf.auth_backend) {
        case AUTH_BACKEND_HTDIGEST: {
            li_MD5_CTX context;
            li_MD5_Init(&context);
            li_MD5_Update(&context, username->ptr, username->used - 1);
            li_MD5_Update(&context, ":", 1);
            li_MD5_Update(&context, realm->ptr, realm->used - 1);
            li_MD5_Update(&context, ":", 1);
            li_MD5_Update(&context, pw, std::strlen(pw));
            HASH digest;
            li_MD5_Final(digest, &context);
            HASHHEX hex;
            CvtHex(digest, hex);
            return stored == hex ? 0 : -1;
        }
        case AUTH_BACKEND_HTPASSWD: {
            const std::string storedText(stored);
            if (storedText.starts_with("$apr1$")) {
                char sample[120];
                apr_md5_encode(pw, storedText.c_str(), sample, sizeof sample);
                return storedText == sample ? 0 : -1;
            }
            if (storedText.size() < 13) {
                return -1;
            }
            // crypt() shares one result area per process; crypt_r keeps its
            // own (and is large, so not on the stack).
            const auto data = std::make_unique<crypt_data>();
            const char* hashed = crypt_r(pw, storedText.c_str(), data.get());
            return hashed != nullptr && storedText == hashed ? 0 : -1;
        }
        case AUTH_BACKEND_PLAIN:
            return stored == pw ? 0 : -1;
        default:
            return -1;
    }
}

int http_auth_match_rules(server* srv, array* req, const char* username, const char* group) {
    (void)group;
    const buffer* require = http_auth_require_string(srv, req, "require");
    if (require == nullptr) {
        return -1;
    }
    const std::string_view rules = TextOf(require);
    if (rules == "valid-user") {
        return 0;
    }
    const std::string_view user = username == nullptr ? std::string_view() : std::string_view(username);
    size_t start = 0;
    while (start < rules.size()) {
        size_t end = rules.find('|', start);
        if (end == std::string_view::npos) {
            end = rules.size();
        }
        const std::string_view rule = rules.substr(start, end - start);
        if (Trimmed(rule) == "valid-user") {
            LogRequireError(srv, __LINE__, "valid-user cannot be combined with other require rules");
            return -1;
        }
        const size_t equals = rules.find('=', start);
        if (equals == std::string_view::npos) {
            LogRequireError(srv, __LINE__, "a = is missing");
            return -1;
        }
        if (equals >= end) {
            LogRequireError(srv, __LINE__, "= out of range");
            return -1;
        }
        const std::string_view key = Trimmed(rules.substr(start, equals - start));
        const std::string_view value = Trimmed(rules.substr(equals + 1, end - equals - 1));
        const std::string valueText(value);
        if (key == "user") {
            if (value == user) {
                return 0;
            }
        } else if (key == "host") {
            log_error_write(srv, kTag, __LINE__, "s", "host ... (not implemented)");
        } else if (key == "group") {
            log_error_write(srv, kTag, __LINE__, "s", "group ... (not implemented)");
        } else {
            const std::string keyText(key);
            log_error_write(srv, kTag, __LINE__, "ss", key.size() == 4 || key.size() == 5 ? "unknown key" : "unknown  key",
                            keyText.c_str());
            return -1;
        }
        start = end + 1;
    }
    log_error_write(srv, kTag, __LINE__, "s", "nothing matched");
    return -1;
}

int http_auth_basic_check(server* srv, connection* con, mod_auth_plugin_data* p, array* req, const char* credentials) {
    const buffer* realmText = http_auth_require_string(srv, req, "realm");
    if (realmText == nullptr || http_auth_require_string(srv, req, "require") == nullptr) {
        return 0;
    }
    const std::unique_ptr<buffer, void (*)(buffer*)> decoded(buffer_init(), buffer_free);
    if (base64_decode(decoded.get(), credentials) == nullptr) {
        log_error_write(srv, kTag, __LINE__, "ss", "decodeing base64-string failed", credentials);
        return 0;
    }
    const std::string_view userAndPassword = TextOf(decoded.get());
    const size_t colon = userAndPassword.find(':');
    if (colon == std::string_view::npos) {
        log_error_write(srv, kTag, __LINE__, "ss", ": is missing in", credentials);
        return 0;
    }
    const std::string_view userText = userAndPassword.substr(0, colon);
    const std::string given(userAndPassword.substr(colon + 1));
    const std::unique_ptr<buffer, void (*)(buffer*)> user(buffer_init(), buffer_free);
    const std::unique_ptr<buffer, void (*)(buffer*)> realm(buffer_init_buffer(realmText), buffer_free);
    const std::unique_ptr<buffer, void (*)(buffer*)> stored(buffer_init(), buffer_free);
    buffer_copy_string_len(user.get(), userText.data(), userText.size());

    if (http_auth_get_password(srv, p, user.get(), realm.get(), stored.get()) != 0) {
        if (p->conf.auth_backend == AUTH_BACKEND_UNSET) {
            log_error_write(srv, kTag, __LINE__, "s", "auth.backend is not set");
        } else {
            http_auth_log_address(srv, __LINE__, "get_password failed, IP:", con);
        }
        return 0;
    }
    if (http_auth_basic_password_compare(srv, p, req, user.get(), realm.get(), stored.get(), given.c_str()) != 0) {
        const std::string address(ClientAddress(con));
        log_error_write(srv, kTag, __LINE__, "sbsBss", "password doesn't match for", con->uri.path, "username:",
                        user.get(), ", IP:", address.c_str());
        return 0;
    }
    if (http_auth_match_rules(srv, req, user->ptr, nullptr) != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "rules didn't match");
        return 0;
    }
    buffer_copy_string_buffer(p->auth_user, user.get());
    return 1;
}

int http_auth_digest_generate_nonce(server* srv, mod_auth_plugin_data* p, buffer* fn, char hh[33]) {
    (void)p;
    li_MD5_CTX context;
    li_MD5_Init(&context);
    if (fn != nullptr && fn->used > 0) {
        li_MD5_Update(&context, fn->ptr, fn->used - 1);
    }
    li_MD5_Update(&context, "+", 1);
    const std::string now = std::to_string(static_cast<long long>(TheClock().WallTime().tv_sec));
    li_MD5_Update(&context, now.data(), now.size());
    li_MD5_Update(&context, srv->entropy, sizeof srv->entropy);
    const std::string random = std::to_string(std::rand());
    li_MD5_Update(&context, random.data(), random.size());
    HASH digest;
    li_MD5_Final(digest, &context);
    CvtHex(digest, hh);
    return 0;
}

}  // extern "C"

}  // namespace hx

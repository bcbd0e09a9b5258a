// Digest authentication (RFC 2617): the parameters of the Authorization
// header checked against the plain or htdigest user file.
#include <strings.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/errorlog.h"
#include "http/http_auth.h"
#include "http/http_auth_internal.h"
#include "http/keyvalue.h"
#include "http/md5.h"

namespace hx {

namespace {

constexpr const char* kTag = "http_auth";

enum DigestField { kUsername, kRealm, kNonce, kUri, kAlgorithm, kQop, kCnonce, kNc, kResponse, kFieldCount };

// Recognised by prefix at each position of the text.
constexpr std::array<std::string_view, kFieldCount> kFieldKeys = {
    "username=", "realm=", "nonce=", "uri=", "algorithm=", "qop=", "cnonce=", "nc=", "response="};

using DigestFields = std::array<std::optional<std::string>, kFieldCount>;

DigestFields ParseParameters(std::string_view text) {
    DigestFields fields;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\t') {
            ++at;
            continue;
        }
        bool known = false;
        for (size_t field = 0; field < kFieldCount; ++field) {
            if (!text.substr(at).starts_with(kFieldKeys[field])) {
                continue;
            }
            known = true;
            at += kFieldKeys[field].size();
            size_t end;
            if (at < text.size() && text[at] == '"') {
                ++at;
                // A value whose closing quote is missing ends with the text.
                end = text.find('"', at);
                if (end == std::string_view::npos) {
                    end = text.size();
                }
                fields[field] = std::string(text.substr(at, end - at));
                at = end < text.size() ? end + 1 : end;
            } else {
                end = text.find(',', at);
                if (end == std::string_view::npos) {
                    end = text.size();
                }
                fields[field] = std::string(text.substr(at, end - at));
                at = end;
            }
            break;
        }
        if (!known) {
            ++at;
        }
    }
    return fields;
}

class Md5 {
public:
    Md5() { li_MD5_Init(&context_); }
    Md5& Add(std::string_view text) {
        li_MD5_Update(&context_, text.data(), text.size());
        return *this;
    }
    Md5& Add(const unsigned char* bytes, size_t length) {
        li_MD5_Update(&context_, bytes, length);
        return *this;
    }
    void Final(HASH digest) { li_MD5_Final(digest, &context_); }
    std::string Hex() {
        HASH digest;
        Final(digest);
        HASHHEX hex;
        CvtHex(digest, hex);
        return hex;
    }

private:
    li_MD5_CTX context_;
};

// 32 hexadecimal digits (either case) to 16 bytes; false for anything else.
bool StoredHa1(std::string_view text, HASH digest) {
    if (text.size() != 32) {
        return false;
    }
    for (size_t i = 0; i < 16; ++i) {
        const int high = hex2int(static_cast<unsigned char>(text[i * 2]));
        const int low = hex2int(static_cast<unsigned char>(text[i * 2 + 1]));
        if (high == 0xFF || low == 0xFF) {
            return false;
        }
        digest[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

using BufferPtr = std::unique_ptr<buffer, void (*)(buffer*)>;

BufferPtr BufferOf(const std::string& text) { return BufferPtr(buffer_init_string(text.c_str()), buffer_free); }

}  // namespace

extern "C" int http_auth_digest_check(server* srv, connection* con, mod_auth_plugin_data* p, array* req,
                                      const char* parameters) {
    if (p->conf.auth_backend != AUTH_BACKEND_HTDIGEST && p->conf.auth_backend != AUTH_BACKEND_PLAIN) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: unsupported backend (only htdigest or plain)");
        return -1;
    }
    const buffer* guardedRealm = http_auth_require_string(srv, req, "realm");
    if (guardedRealm == nullptr || http_auth_require_string(srv, req, "require") == nullptr) {
        return 0;
    }
    const DigestFields fields = ParseParameters(parameters);
    if (p->conf.auth_debug > 1) {
        for (size_t field = 0; field < kFieldCount; ++field) {
            if (fields[field]) {
                const std::string name(kFieldKeys[field].substr(0, kFieldKeys[field].size() - 1));
                log_error_write(srv, kTag, __LINE__, "sss", "digest:", name.c_str(), fields[field]->c_str());
            }
        }
    }
    const auto& username = fields[kUsername];
    const auto& realm = fields[kRealm];
    const auto& nonce = fields[kNonce];
    const auto& uri = fields[kUri];
    const auto& algorithm = fields[kAlgorithm];
    const auto& qop = fields[kQop];
    const auto& cnonce = fields[kCnonce];
    const auto& nc = fields[kNc];
    const auto& response = fields[kResponse];
    if (!username || !realm || !nonce || !uri || !response || (qop && (!nc || !cnonce))) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: missing field");
        return -1;
    }
    const bool session = algorithm && strcasecmp(algorithm->c_str(), "md5-sess") == 0;
    if (session && (!nonce || !cnonce)) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: (md5-sess: missing field");
        return -1;
    }
    if (qop && strcasecmp(qop->c_str(), "auth-int") == 0) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: qop=auth-int not supported");
        return -1;
    }

    // The user's password for another realm opens nothing here.
    if (!buffer_is_equal_string(guardedRealm, realm->data(), realm->size())) {
        log_error_write(srv, kTag, __LINE__, "sssb", "digest: realm", realm->c_str(), "is not the realm", guardedRealm);
        return 0;
    }
    const BufferPtr user = BufferOf(*username);
    const BufferPtr realmBuffer = BufferOf(*realm);
    const BufferPtr stored(buffer_init(), buffer_free);
    if (http_auth_get_password(srv, p, user.get(), realmBuffer.get(), stored.get()) != 0) {
        return 0;
    }
    const std::string_view storedText =
        stored->used == 0 ? std::string_view() : std::string_view(stored->ptr, stored->used - 1);

    HASH ha1;
    if (p->conf.auth_backend == AUTH_BACKEND_PLAIN) {
        Md5().Add(*username).Add(":").Add(*realm).Add(":").Add(storedText).Final(ha1);
    } else if (!StoredHa1(storedText, ha1)) {
        log_error_write(srv, kTag, __LINE__, "sss", "digest: stored HA1 of", username->c_str(),
                        "is not 32 hexadecimal digits");
        return 0;
    }
    HASHHEX ha1Hex;
    CvtHex(ha1, ha1Hex);
    if (session) {
        Md5().Add(ha1Hex).Add(":").Add(*nonce).Add(":").Add(*cnonce).Final(ha1);
        CvtHex(ha1, ha1Hex);
    }
    const char* method = get_http_method_name(con->request.http_method);
    const std::string ha2Hex = Md5().Add(method == nullptr ? "" : method).Add(":").Add(*uri).Hex();

    Md5 expected;
    expected.Add(ha1Hex).Add(":").Add(*nonce).Add(":");
    if (qop && !qop->empty()) {
        expected.Add(*nc).Add(":").Add(*cnonce).Add(":").Add(*qop).Add(":");
    }
    const std::string expectedHex = expected.Add(ha2Hex).Hex();
    if (expectedHex != *response) {
        if (p->conf.auth_debug != 0) {
            log_error_write(srv, kTag, __LINE__, "sss", "digest: digest mismatch", expectedHex.c_str(),
                            response->c_str());
        }
        const std::string text = "digest: auth failed for " + *username + ": wrong password, IP:";
        http_auth_log_address(srv, __LINE__, text.c_str(), con);
        return 0;
    }
    if (http_auth_match_rules(srv, req, username->c_str(), nullptr) != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: rules didn't match");
        return 0;
    }
    buffer_copy_string_buffer(p->auth_user, user.get());
    if (p->conf.auth_debug != 0) {
        log_error_write(srv, kTag, __LINE__, "s", "digest: auth ok");
    }
    return 1;
}

}  // namespace hx

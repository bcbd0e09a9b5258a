// The authentication routines a plugin calls: Base64, the MD5-crypt rounds
// (against the system's crypt), Basic against each kind of user file, Digest
// with RFC 2617's worked example, the require rules and the nonce. Real user
// files in a temporary folder; the server's error log in a memory file.
#include <crypt.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/errorlog_lines.h"
#include "http/http_auth.h"
#include "http/errorlog.h"
#include "http_test_util.h"
#include "support/test_env.h"

namespace hx {
namespace {

using test::BufferPtr;
using test::NewBuffer;
using test::Text;

// "secret" with the salt "q8vZ7hUe" ("$apr1$"), as the rounds below computed it
// once they matched the system's crypt.
constexpr const char* kApr1SecretFixture = "$apr1$q8vZ7hUe$ZkTmpbs4ABvJ2EJOVua75.";
constexpr const char* kCryptAlphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string SystemCrypt(const std::string& password, const std::string& setting) {
    const auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r(password.c_str(), setting.c_str(), data.get());
    return hashed == nullptr ? std::string() : hashed;
}

// ---- Base64 -------------------------------------------------------------------

TEST(Base64Decode, Rfc4648VectorsAndWhatIsSkipped) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},          {"Zg==", "f"},         {"Zm8=", "fo"},           {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"},
        {"Zg", "f"},       // padding may be left out
        {"Zm9v\r\nYm Fy", "foobar"},  // characters outside the alphabet are skipped
        {"Zm9vYg==Zm9v", "foob"},     // decoding ends at "="
        {"YT9+", "a?~"},   {"Pz8/", "???"},
    };
    for (const auto& c : cases) {
        const BufferPtr out = NewBuffer();
        const char* decoded = base64_decode(out.get(), c.in);
        ASSERT_NE(nullptr, decoded) << c.in;
        EXPECT_STREQ(c.out, decoded) << c.in;
        EXPECT_EQ(std::strlen(c.out) + 1, out->used) << c.in;
    }
    const BufferPtr binary = NewBuffer();
    ASSERT_NE(nullptr, base64_decode(binary.get(), "AP8A"));
    EXPECT_EQ(std::string("\0\xff\0", 3), std::string(binary->ptr, 3));
    EXPECT_EQ(4u, binary->used) << "counted bytes, NUL-terminated";
}

TEST(Base64Decode, EachFailure) {
    for (const char* in : {
             "Z",          // a final group of one digit
             "Zm9vY",      // the same after a whole group
             "=",          // "=" after no digit of a group
             "Zm9v=",      // the same after a whole group
             "Z===",       // "=" after one digit
             "Zh==",       // two digits whose unused low 4 bits are not zero
             "Zm9=",       // three digits whose unused low 2 bits are not zero
             "Zm9vYh",
         }) {
        const BufferPtr out = NewBuffer();
        EXPECT_EQ(nullptr, base64_decode(out.get(), in)) << in;
    }
}

// ---- MD5-crypt ----------------------------------------------------------------

TEST(Md5Crypt, ShapeAndSaltOfTheApr1Variant) {
    for (const std::string& password : {std::string(), std::string("a"), std::string("password"), std::string(100, 'x')}) {
        char result[120];
        apr_md5_encode(password.c_str(), "abcdefgh", result, sizeof result);
        const std::string text(result);
        ASSERT_EQ(37u, text.size()) << password;
        EXPECT_TRUE(text.starts_with("$apr1$abcdefgh$")) << text;
        EXPECT_EQ(std::string::npos, text.substr(15).find_first_not_of(kCryptAlphabet)) << text;

        char longSalt[120];
        apr_md5_encode(password.c_str(), "$apr1$abcdefghijk$whatever", longSalt, sizeof longSalt);
        EXPECT_EQ(text, longSalt) << "the salt is cut to 8 characters";
    }
    char shortSalt[120];
    apr_md5_encode("pw", "$apr1$ab$rest", shortSalt, sizeof shortSalt);
    EXPECT_TRUE(std::string(shortSalt).starts_with("$apr1$ab$")) << "the salt ends at the next $";
    EXPECT_EQ(31u, std::strlen(shortSalt));

    char small[10];
    apr_md5_encode("pw", "abcdefgh", small, sizeof small);
    EXPECT_STREQ("$apr1$abc", small) << "cut to the buffer, NUL-terminated";

    // A fixed value, so a change of the rounds shows even where both sides
    // below would change alike.
    char fixed[120];
    apr_md5_encode("secret", "$apr1$q8vZ7hUe$", fixed, sizeof fixed);
    EXPECT_STREQ(kApr1SecretFixture, fixed);
}

TEST(Md5Crypt, RoundsWithTheSystemMagicMatchCrypt) {
    ASSERT_FALSE(SystemCrypt("x", "$1$abc$").empty()) << "the system crypt has no MD5 variant";
    const struct {
        std::string password;
        std::string salt;
    } cases[] = {
        {"", "abcdefgh"},           {"a", "abcdefgh"},
        {"password", "saltsalt"},   {"Circle Of Life", "x"},
        {std::string(15, 'p'), "12345678"}, {std::string(16, 'p'), "12345678"},
        {std::string(17, 'p'), "./AZaz09"}, {std::string(64, 'q'), "longsaltcut"},
        {"\xc3\xa9t\xc3\xa9", "utf8"},   {"pass word:with colon", "s"},
    };
    for (const auto& c : cases) {
        char ours[120];
        md5_crypt_encode("$1$", c.password.c_str(), c.salt.c_str(), ours, sizeof ours);
        EXPECT_EQ(SystemCrypt(c.password, "$1$" + c.salt.substr(0, 8) + "$"), ours) << c.password << " / " << c.salt;
    }
}

TEST(CvtHexTest, LowerCaseDigits) {
    const HASH bytes = {0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0xff};
    HASHHEX hex;
    CvtHex(bytes, hex);
    EXPECT_STREQ("000123456789abcdeffedcba987654ff", hex);
}

// ---- fixture --------------------------------------------------------------------

class HttpAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        srv_ = server_init();
        srv_->errorlog_fd = memfd_create("errorlog", 0);
        srv_->errorlog_mode = ERRORLOG_FD;
        for (buffer** field : ConfBuffers()) {
            *field = buffer_init();
        }
        data_.tmp_buf = buffer_init();
        data_.auth_user = buffer_init();
        con_.uri.path = buffer_init_string("/dir/index.html");
        con_.dst_addr_buf = buffer_init_string("127.0.0.5");
        con_.request.http_method = HTTP_METHOD_GET;
        req_ = array_init();
        SetRequire("testrealm@host.com", "valid-user");
        folder_ = env_.root() / "users";
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        ::close(srv_->errorlog_fd);
        srv_->errorlog_fd = 2;
        server_free(srv_);
        for (buffer** field : ConfBuffers()) {
            buffer_free(*field);
        }
        buffer_free(data_.tmp_buf);
        buffer_free(data_.auth_user);
        buffer_free(con_.uri.path);
        buffer_free(con_.dst_addr_buf);
        array_free(req_);
    }

    std::vector<buffer**> ConfBuffers() {
        mod_auth_plugin_config& c = data_.conf;
        return {&c.auth_plain_groupfile, &c.auth_plain_userfile, &c.auth_htdigest_userfile,
                &c.auth_htpasswd_userfile, &c.auth_backend_conf, &c.auth_ldap_hostname,
                &c.auth_ldap_basedn, &c.auth_ldap_binddn, &c.auth_ldap_bindpw,
                &c.auth_ldap_filter, &c.auth_ldap_cafile};
    }

    // A new require entry; a null text leaves that key out.
    void SetRequire(const char* realm, const char* require) {
        array_free(req_);
        req_ = array_init();
        if (realm != nullptr) {
            array_set_key_value(req_, "realm", 5, realm, std::strlen(realm));
        }
        if (require != nullptr) {
            array_set_key_value(req_, "require", 7, require, std::strlen(require));
        }
    }

    // Writes the user file of `backend` and selects both.
    void UseFile(auth_backend_t backend, const std::string& content) {
        const std::filesystem::path path = folder_ / ("users" + std::to_string(++files_));
        std::ofstream(path, std::ios::binary) << content;
        UseBackend(backend, path.string());
    }
    void UseBackend(auth_backend_t backend, const std::string& path) {
        data_.conf.auth_backend = backend;
        buffer* target = backend == AUTH_BACKEND_HTDIGEST   ? data_.conf.auth_htdigest_userfile
                         : backend == AUTH_BACKEND_HTPASSWD ? data_.conf.auth_htpasswd_userfile
                                                            : data_.conf.auth_plain_userfile;
        buffer_copy_string(target, path.c_str());
    }

    // The error log so far, emptied.
    std::string TakeLog() { return test::TakeWholeLog(srv_->errorlog_fd); }

    int Basic(const char* credentials) {
        buffer_reset(data_.auth_user);
        return http_auth_basic_check(srv_, &con_, &data_, req_, credentials);
    }
    int Digest(const std::string& parameters) {
        buffer_reset(data_.auth_user);
        return http_auth_digest_check(srv_, &con_, &data_, req_, parameters.c_str());
    }

    test::TestEnvironment env_;
    server* srv_ = nullptr;
    connection con_{};
    mod_auth_plugin_data data_{};
    array* req_ = nullptr;
    std::filesystem::path folder_;
    int files_ = 0;
};

// ---- Basic ----------------------------------------------------------------------

struct BasicCase {
    const char* name;
    auth_backend_t backend;
    std::string file;
    const char* credentials;
    int result;
    std::string logged;  // a text the error log must hold ("" none)
};

void PrintTo(const BasicCase& c, std::ostream* out) { *out << c.name; }

// "alice:secret" and friends in Base64.
constexpr const char* kAliceSecret = "YWxpY2U6c2VjcmV0";
constexpr const char* kAliceWrong = "YWxpY2U6d3Jvbmc=";
constexpr const char* kAliSecret = "YWxpOnNlY3JldA==";
constexpr const char* kAlicexSecret = "YWxpY2V4OnNlY3JldA==";
constexpr const char* kAliceNoColon = "YWxpY2U=";
constexpr const char* kAliceColonInPassword = "YWxpY2U6c2U6Y3JldA==";  // alice:se:cret
// MD5("alice:testrealm@host.com:secret").
constexpr const char* kAliceHa1 = "79b186910570b672468832988a634f1e";

std::vector<BasicCase> BasicCases() {
    const std::string sha512 = SystemCrypt("secret", "$6$saltsaltsalt$");
    const std::string mismatch = "password doesn't match for /dir/index.html username: alice, IP: 127.0.0.5";
    return {
        {"PlainGood", AUTH_BACKEND_PLAIN, "bob:x\nalice:secret\n", kAliceSecret, 1, ""},
        {"PlainLastLineWithoutNewline", AUTH_BACKEND_PLAIN, "bob:x\nalice:secret", kAliceSecret, 1, ""},
        {"PlainWrong", AUTH_BACKEND_PLAIN, "alice:secret\n", kAliceWrong, 0, mismatch},
        {"PlainPasswordWithColon", AUTH_BACKEND_PLAIN, "alice:se:cret\n", kAliceColonInPassword, 1, ""},
        {"PlainCrIsPartOfTheValue", AUTH_BACKEND_PLAIN, "alice:secret\r\n", kAliceSecret, 0, "password doesn't match"},
        {"UserNamePrefixRefused", AUTH_BACKEND_PLAIN, "alice:secret\n", kAliSecret, 0,
         "get_password failed, IP: 127.0.0.5"},
        {"LongerUserNameRefused", AUTH_BACKEND_PLAIN, "alice:secret\n", kAlicexSecret, 0, "get_password failed"},
        {"LineWithoutColonStopsTheLookup", AUTH_BACKEND_PLAIN, "bob:x\nbroken line\nalice:secret\n", kAliceSecret, 0,
         "expected 'username:hashed password'"},
        {"Apr1Good", AUTH_BACKEND_HTPASSWD, std::string("alice:") + kApr1SecretFixture + "\n", kAliceSecret, 1, ""},
        {"Apr1Wrong", AUTH_BACKEND_HTPASSWD, std::string("alice:") + kApr1SecretFixture + "\n", kAliceWrong, 0,
         "password doesn't match"},
        {"Sha512CryptGood", AUTH_BACKEND_HTPASSWD, "alice:" + sha512 + "\n", kAliceSecret, 1, ""},
        {"Sha512CryptWrong", AUTH_BACKEND_HTPASSWD, "alice:" + sha512 + "\n", kAliceWrong, 0, "password doesn't match"},
        {"CryptHashTooShort", AUTH_BACKEND_HTPASSWD, "alice:" + sha512.substr(0, 12) + "\n", kAliceSecret, 0,
         "password doesn't match"},
        {"CryptRefusesTheSetting", AUTH_BACKEND_HTPASSWD, "alice:!!!!!!!!!!!!!!!!\n", kAliceSecret, 0,
         "password doesn't match"},
        {"HtdigestGood", AUTH_BACKEND_HTDIGEST, std::string("alice:testrealm@host.com:") + kAliceHa1 + "\n",
         kAliceSecret, 1, ""},
        {"HtdigestOtherRealm", AUTH_BACKEND_HTDIGEST, std::string("alice:testrealm@host:") + kAliceHa1 + "\n",
         kAliceSecret, 0, "get_password failed"},
        {"HtdigestRealmPrefix", AUTH_BACKEND_HTDIGEST, std::string("alice:testrealm@host.com.x:") + kAliceHa1 + "\n",
         kAliceSecret, 0, "get_password failed"},
        {"HtdigestWrong", AUTH_BACKEND_HTDIGEST, std::string("alice:testrealm@host.com:") + kAliceHa1 + "\n",
         kAliceWrong, 0, "password doesn't match"},
        {"HtdigestLineWithOneColon", AUTH_BACKEND_HTDIGEST,
         std::string("bob:x\nalice:testrealm@host.com:") + kAliceHa1 + "\n", kAliceSecret, 0,
         "expected 'username:realm:hashed password'"},
        {"NoColonInCredentials", AUTH_BACKEND_PLAIN, "alice:secret\n", kAliceNoColon, 0, ": is missing in YWxpY2U="},
        {"NotBase64", AUTH_BACKEND_PLAIN, "alice:secret\n", "YWxpY2U6c2VjcmV0Z", 0,
         "decodeing base64-string failed YWxpY2U6c2VjcmV0Z"},
        {"LdapHasNoDirectory", AUTH_BACKEND_LDAP, "", kAliceSecret, 0, "password doesn't match"},
        {"NoBackend", AUTH_BACKEND_UNSET, "", kAliceSecret, 0, "auth.backend is not set"},
    };
}

class HttpAuthBasicTest : public HttpAuthTest, public ::testing::WithParamInterface<BasicCase> {};

TEST_P(HttpAuthBasicTest, Check) {
    const BasicCase& c = GetParam();
    if (c.file.empty()) {
        data_.conf.auth_backend = c.backend;
    } else {
        UseFile(c.backend, c.file);
    }
    EXPECT_EQ(c.result, Basic(c.credentials));
    EXPECT_EQ(c.result == 1 ? "alice" : "", Text(data_.auth_user));
    const std::string log = TakeLog();
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
    if (c.result == 1) {
        EXPECT_EQ("", log);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpAuthBasicTest, ::testing::ValuesIn(BasicCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpAuthTest, BasicReadsTheFileAndTheRulesOfTheEntry) {
    UseBackend(AUTH_BACKEND_PLAIN, (folder_ / "missing").string());
    EXPECT_EQ(0, Basic(kAliceSecret));
    EXPECT_NE(std::string::npos, TakeLog().find("opening plain-userfile " + (folder_ / "missing").string() +
                                               " failed: No such file or directory"));
    UseBackend(AUTH_BACKEND_HTDIGEST, (folder_ / "missing").string());
    EXPECT_EQ(0, Basic(kAliceSecret));
    EXPECT_NE(std::string::npos, TakeLog().find("opening digest-userfile"));

    UseFile(AUTH_BACKEND_PLAIN, "alice:secret\n");
    SetRequire("testrealm@host.com", "user=bob");
    EXPECT_EQ(0, Basic(kAliceSecret));
    EXPECT_NE(std::string::npos, TakeLog().find("rules didn't match"));
    SetRequire("testrealm@host.com", "user=bob|user=alice");
    EXPECT_EQ(1, Basic(kAliceSecret));

    // An entry without its realm or rules refuses; nothing reads what is not there.
    SetRequire(nullptr, "valid-user");
    EXPECT_EQ(0, Basic(kAliceSecret));
    EXPECT_NE(std::string::npos, TakeLog().find("auth.require entry has no realm string"));
    SetRequire("testrealm@host.com", nullptr);
    EXPECT_EQ(0, Basic(kAliceSecret));
    EXPECT_NE(std::string::npos, TakeLog().find("auth.require entry has no require string"));
}

TEST_F(HttpAuthTest, PasswordLookupNeedsUserAndRealm) {
    UseFile(AUTH_BACKEND_PLAIN, "alice:secret\n");
    const BufferPtr password = NewBuffer();
    EXPECT_EQ(-1, http_auth_get_password(srv_, &data_, NewBuffer("").get(), NewBuffer("r").get(), password.get()));
    EXPECT_EQ(-1, http_auth_get_password(srv_, &data_, NewBuffer("alice").get(), NewBuffer("").get(), password.get()));
    EXPECT_EQ(0, http_auth_get_password(srv_, &data_, NewBuffer("alice").get(), NewBuffer("r").get(), password.get()));
    EXPECT_EQ("secret", Text(password.get()));
    buffer_reset(data_.conf.auth_plain_userfile);
    EXPECT_EQ(-1, http_auth_get_password(srv_, &data_, NewBuffer("alice").get(), NewBuffer("r").get(), password.get()))
        << "no file configured";
}

// ---- Digest ---------------------------------------------------------------------

// RFC 2617, section 3.5: Mufasa, "Circle Of Life", GET /dir/index.html.
constexpr const char* kMufasaHa1 = "939e7578ed9e3c518a452acee763bce9";
constexpr const char* kMufasaPlain = "Mufasa:Circle Of Life\n";

std::string Rfc2617Parameters(const std::string& response = "6629fae49393a05397450978507c4ef1",
                              const std::string& extra = "") {
    return "username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
           "uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"" +
           response + "\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"" + extra;
}

struct DigestCase {
    const char* name;
    auth_backend_t backend;
    std::string file;
    std::string parameters;
    int result;
    const char* logged;
};

void PrintTo(const DigestCase& c, std::ostream* out) { *out << c.name; }

std::vector<DigestCase> DigestCases() {
    const std::string htdigest = std::string("Mufasa:testrealm@host.com:") + kMufasaHa1 + "\n";
    const std::string base =
        "username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "uri=\"/dir/index.html\", ";
    return {
        {"Rfc2617ExamplePlain", AUTH_BACKEND_PLAIN, kMufasaPlain, Rfc2617Parameters(), 1, ""},
        {"Rfc2617ExampleHtdigest", AUTH_BACKEND_HTDIGEST, htdigest, Rfc2617Parameters(), 1, ""},
        {"UpperCaseStoredHa1", AUTH_BACKEND_HTDIGEST, "Mufasa:testrealm@host.com:939E7578ED9E3C518A452ACEE763BCE9\n",
         Rfc2617Parameters(), 1, ""},
        {"WithoutQop", AUTH_BACKEND_PLAIN, kMufasaPlain, base + "response=\"670fd8c2df070c60b045671b8b24ff02\"", 1,
         ""},
        {"WrongResponse", AUTH_BACKEND_PLAIN, kMufasaPlain, Rfc2617Parameters("6629fae49393a05397450978507c4ef2"), 0,
         "digest: auth failed for Mufasa: wrong password, IP: 127.0.0.5"},
        {"UpperCaseResponseIsNotTheDigest", AUTH_BACKEND_PLAIN, kMufasaPlain,
         Rfc2617Parameters("6629FAE49393A05397450978507C4EF1"), 0, "wrong password"},
        {"WrongPasswordInFile", AUTH_BACKEND_PLAIN, "Mufasa:Circle of Life\n", Rfc2617Parameters(), 0,
         "wrong password"},
        {"UnknownUser", AUTH_BACKEND_HTDIGEST, "Simba:testrealm@host.com:939e7578ed9e3c518a452acee763bce9\n",
         Rfc2617Parameters(), 0, ""},
        {"Md5Sess", AUTH_BACKEND_HTDIGEST, htdigest,
         Rfc2617Parameters("8e3825c57e897f5a0dec6c2d4e5059d0", ", algorithm=MD5-sess"), 1, ""},
        {"Md5SessUsesTheSessionKey", AUTH_BACKEND_PLAIN, kMufasaPlain,
         Rfc2617Parameters("6629fae49393a05397450978507c4ef1", ", algorithm=md5-sess"), 0, "wrong password"},
        {"QopWithoutNc", AUTH_BACKEND_PLAIN, kMufasaPlain,
         base + "qop=auth, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"", -1,
         "digest: missing field"},
        {"QopWithoutCnonce", AUTH_BACKEND_PLAIN, kMufasaPlain,
         base + "qop=auth, nc=00000001, response=\"6629fae49393a05397450978507c4ef1\"", -1, "digest: missing field"},
        {"NoUri", AUTH_BACKEND_PLAIN, kMufasaPlain,
         "username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"n\", response=\"r\"", -1,
         "digest: missing field"},
        {"AuthInt", AUTH_BACKEND_PLAIN, kMufasaPlain,
         base + "qop=auth-int, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"", -1,
         "digest: qop=auth-int not supported"},
        // A right digest for another realm of the same user is no pass here.
        {"RealmNotTheGuardedOne", AUTH_BACKEND_PLAIN, kMufasaPlain,
         "username=\"Mufasa\", realm=\"lab\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
         "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"a47825356af2e94f1f96666b862a9f64\"",
         0, "digest: realm lab is not the realm testrealm@host.com"},
        {"RealmNotTheGuardedOneHtdigest", AUTH_BACKEND_HTDIGEST,
         std::string("Mufasa:lab:") + kMufasaHa1 + "\n" + htdigest,
         "username=\"Mufasa\", realm=\"lab\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
         "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
         0, "digest: realm lab is not the realm testrealm@host.com"},
        {"HtpasswdUnsupported", AUTH_BACKEND_HTPASSWD, "Mufasa:x\n", Rfc2617Parameters(), -1,
         "digest: unsupported backend (only htdigest or plain)"},
        {"UnterminatedQuoteEndsAtTheEnd", AUTH_BACKEND_PLAIN, kMufasaPlain,
         base + "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1", 1, ""},
        {"MisquotedValueSwallowsTheNextKey", AUTH_BACKEND_PLAIN, kMufasaPlain,
         "username=\"Mufasa, realm=\"testrealm@host.com\", nonce=\"n\", uri=\"/\", response=\"r\"", -1,
         "digest: missing field"},
        {"LoneQuote", AUTH_BACKEND_PLAIN, kMufasaPlain, "username=\"", -1, "digest: missing field"},
        {"ShortStoredHa1", AUTH_BACKEND_HTDIGEST, "Mufasa:testrealm@host.com:939e7578ed9e3c51\n", Rfc2617Parameters(),
         0, "digest: stored HA1 of Mufasa is not 32 hexadecimal digits"},
        {"StoredHa1NotHex", AUTH_BACKEND_HTDIGEST,
         "Mufasa:testrealm@host.com:939e7578ed9e3c518a452acee763bcez\n", Rfc2617Parameters(), 0,
         "is not 32 hexadecimal digits"},
        {"StoredHa1WithCr", AUTH_BACKEND_HTDIGEST, std::string("Mufasa:testrealm@host.com:") + kMufasaHa1 + "\r\n",
         Rfc2617Parameters(), 0, "is not 32 hexadecimal digits"},
    };
}

class HttpAuthDigestTest : public HttpAuthTest, public ::testing::WithParamInterface<DigestCase> {};

TEST_P(HttpAuthDigestTest, Check) {
    const DigestCase& c = GetParam();
    UseFile(c.backend, c.file);
    EXPECT_EQ(c.result, Digest(c.parameters));
    EXPECT_EQ(c.result == 1 ? "Mufasa" : "", Text(data_.auth_user));
    const std::string log = TakeLog();
    EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
}

INSTANTIATE_TEST_SUITE_P(Cases, HttpAuthDigestTest, ::testing::ValuesIn(DigestCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpAuthTest, DigestUsesTheRequestMethodRulesAndDebugLines) {
    UseFile(AUTH_BACKEND_PLAIN, kMufasaPlain);
    con_.request.http_method = HTTP_METHOD_POST;
    EXPECT_EQ(0, Digest(Rfc2617Parameters()));
    EXPECT_EQ(1, Digest(Rfc2617Parameters("440c5a7b9ed304fecd2ddd39c9c7b726")));
    con_.request.http_method = HTTP_METHOD_GET;
    TakeLog();

    data_.conf.auth_debug = 2;
    EXPECT_EQ(1, Digest(Rfc2617Parameters()));
    const std::string log = TakeLog();
    EXPECT_NE(std::string::npos, log.find("digest: cnonce 0a4f113b")) << log;
    EXPECT_NE(std::string::npos, log.find("digest: auth ok")) << log;
    EXPECT_EQ(0, Digest(Rfc2617Parameters("00000000000000000000000000000000")));
    EXPECT_NE(std::string::npos,
              TakeLog().find("digest: digest mismatch 6629fae49393a05397450978507c4ef1 00000000000000000000000000000000"));
    data_.conf.auth_debug = 0;

    SetRequire("testrealm@host.com", "user=Simba");
    EXPECT_EQ(0, Digest(Rfc2617Parameters()));
    EXPECT_NE(std::string::npos, TakeLog().find("digest: rules didn't match"));
    SetRequire(nullptr, "valid-user");
    EXPECT_EQ(0, Digest(Rfc2617Parameters()));
    EXPECT_NE(std::string::npos, TakeLog().find("auth.require entry has no realm string"));
}

// ---- require rules --------------------------------------------------------------

TEST_F(HttpAuthTest, RequireRules) {
    const struct {
        const char* require;
        const char* user;
        int result;
        const char* logged;
    } cases[] = {
        {"valid-user", "anyone", 0, ""},
        {"user=a|user=b", "a", 0, ""},
        {"user=a|user=b", "b", 0, ""},
        {"user=a|user=b", "c", -1, "nothing matched"},
        {"user=ab", "a", -1, "nothing matched"},
        {"user=a", "ab", -1, "nothing matched"},
        {"valid-user|user=a", "a", -1,
         "parsing the 'require' section in 'auth.require' failed: valid-user cannot be combined with other require "
         "rules"},
        {"user=a|valid-user", "b", -1, "valid-user cannot be combined"},
        {"user=a|group=g", "a", 0, ""},
        {"user=a|group=g", "x", -1, "group ... (not implemented)"},
        {"user=a|group=g", "x", -1, "nothing matched"},
        {"host=h|user=a", "a", 0, "host ... (not implemented)"},
        {"usera", "a", -1, "parsing the 'require' section in 'auth.require' failed: a = is missing"},
        {"user|name=a", "a", -1, "parsing the 'require' section in 'auth.require' failed: = out of range"},
        {"user=b|", "a", -1, "nothing matched"},
        {"user=b||user=a", "a", -1, "= out of range"},
        {"role=a", "a", -1, "unknown key role"},
        {"realm=a", "a", -1, "unknown key realm"},
        {"ab=a", "a", -1, "unknown  key ab"},
        {"department=a", "a", -1, "unknown  key department"},
    };
    for (const auto& c : cases) {
        SetRequire("r", c.require);
        EXPECT_EQ(c.result, http_auth_match_rules(srv_, req_, c.user, nullptr)) << c.require << " / " << c.user;
        const std::string log = TakeLog();
        EXPECT_NE(std::string::npos, log.find(c.logged)) << c.require << " / " << c.user << ": " << log;
    }
    SetRequire("r", nullptr);
    EXPECT_EQ(-1, http_auth_match_rules(srv_, req_, "a", nullptr));
}

// ---- nonce ----------------------------------------------------------------------

TEST_F(HttpAuthTest, NonceIsHexOfNameTimeEntropyAndRand) {
    const BufferPtr file = NewBuffer("/www/private/index.html");
    auto nonce = [&](const char* name) {
        char out[33];
        std::memset(out, 'X', sizeof out);
        EXPECT_EQ(0, http_auth_digest_generate_nonce(srv_, &data_, NewBuffer(name).get(), out));
        return std::string(out, 33);
    };
    std::srand(7);
    const std::string first = nonce("/www/private/index.html");
    EXPECT_EQ('\0', first[32]);
    EXPECT_EQ(std::string::npos, first.substr(0, 32).find_first_not_of("0123456789abcdef")) << first;
    std::srand(7);
    EXPECT_EQ(first, nonce("/www/private/index.html")) << "nothing else goes in";
    std::srand(7);
    EXPECT_NE(first, nonce("/www/private/other.html"));
    std::srand(7);
    env_.clock().Advance(1000000);
    EXPECT_NE(first, nonce("/www/private/index.html")) << "the second goes in";
    std::srand(7);
    srv_->entropy[3] ^= 1;
    const std::string otherEntropy = nonce("/www/private/index.html");
    EXPECT_NE(first, otherEntropy);
    EXPECT_NE(otherEntropy, nonce("/www/private/index.html")) << "rand() goes in";
}

}  // namespace
}  // namespace hx

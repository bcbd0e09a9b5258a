// The authentication checks the program exports, driven end to end: a
// test-only module in the data root's module folder (mod_authtest) guards
// paths with them, the real server thread loads it, and curl answers its
// Basic and Digest challenges with good and bad credentials, against plain,
// htpasswd and htdigest user files.
#include <crypt.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/http_modules.h"
#include "support/http_test_server.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kPage = "guarded page\n";
// What the test server's web hook answers a known request name.
const std::string kStandInReply = "{\n\t\"code\":\t0,\n\t\"description\":\tnull\n}";

// The last response curl printed (after a Digest challenge it prints two),
// and how many connections it opened.
struct Answer {
    int status = 0;
    std::string head;
    std::string body;
    int connects = -1;
    std::string raw;
};

Answer CurlGet(const std::string& url, const std::vector<std::string>& options) {
    std::vector<std::string> argv = {"curl", "--noproxy", "*", "-sS", "-i", "-w", "\nconnects=%{num_connects}\n"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(url);
    test::ChildProgram curl;
    Answer answer;
    if (!curl.Start(argv)) {
        ADD_FAILURE() << curl.Output();
        return answer;
    }
    EXPECT_EQ(curl.WaitForExit(std::chrono::seconds(60)), 0) << curl.Output();
    answer.raw = curl.Output();
    const size_t start = answer.raw.rfind("HTTP/1.");
    const size_t headEnd = answer.raw.find("\r\n\r\n", start == std::string::npos ? 0 : start);
    const size_t trailer = answer.raw.rfind("\nconnects=");
    if (start == std::string::npos || headEnd == std::string::npos || trailer == std::string::npos ||
        trailer < headEnd) {
        ADD_FAILURE() << "no response in: " << answer.raw;
        return answer;
    }
    answer.status = std::stoi(answer.raw.substr(answer.raw.find(' ', start) + 1, 3));
    answer.head = answer.raw.substr(start, headEnd - start);
    answer.body = answer.raw.substr(headEnd + 4, trailer - headEnd - 4);
    answer.connects = std::stoi(answer.raw.substr(trailer + 10));
    return answer;
}

std::string SystemCrypt(const std::string& password, const std::string& setting) {
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_r(password.c_str(), setting.c_str(), data.get());
    return hashed == nullptr ? "" : hashed;
}

// Every guarded folder of one server: Basic and Digest over the backend
// named, any valid user; "/basic/carol.txt" for carol alone.
std::string AuthConfig(const std::string& backend, const std::string& userFile) {
    return "server.modules = ( \"mod_authtest\" )\n"
           "auth.backend = \"" + backend + "\"\n"
           "auth.backend." + backend + ".userfile = \"" + userFile + "\"\n"
           "auth.require = (\n"
           "  \"/basic/\" => ( \"method\" => \"basic\", \"realm\" => \"card\", \"require\" => \"valid-user\" ),\n"
           "  \"/digest/\" => ( \"method\" => \"digest\", \"realm\" => \"card\", \"require\" => \"valid-user\" ),\n"
           ")\n"
           "$HTTP[\"url\"] == \"/basic/carol.txt\" {\n"
           "  auth.require = ( \"/basic/\" => ( \"method\" => \"basic\", \"realm\" => \"card\", "
           "\"require\" => \"user=carol\" ) )\n"
           "}\n";
}

TEST(AuthModule, BasicAndDigestAgainstEachUserFile) {
    test::TestEnvironment env;
    for (const char* path : {"/open/page.txt", "/basic/page.txt", "/basic/carol.txt", "/digest/page.txt"}) {
        env.WriteText(std::string("/vandik_app/web") + path, kPage);
    }
    test::InstallHttpModule(env.root(), std::string(HX_TEST_MODULES_DIR) + "/mod_authtest.so");

    const std::string sha512 = SystemCrypt("sesame", "$6$Nq3sT8wZ$");
    ASSERT_EQ(sha512.rfind("$6$Nq3sT8wZ$", 0), 0u) << "libcrypt without SHA-512: " << sha512;
    env.WriteText("/vandik_data/auth/plain", "alice:wonderland\ncarol:queen\n");
    // The "$apr1$" line as `openssl passwd -apr1 -salt Qx7.pA9z apple` made it.
    env.WriteText("/vandik_data/auth/htpasswd", "apr:$apr1$Qx7.pA9z$FY9T9VaMZ59AwtW/jXv5e.\nsha:" + sha512 + "\n");
    // MD5("dave:card:diamond"); the last line has no LF.
    env.WriteText("/vandik_data/auth/htdigest",
                  "dave:lab:00000000000000000000000000000000\ndave:card:de8de94bb203b510a497681d2a33263c");

    struct Case {
        const char* path;
        const char* method;  // "" sends no credentials
        const char* user;
        int status;
    };
    const struct {
        const char* backend;
        std::vector<Case> cases;
    } servers[] = {
        {"plain",
         {
             {"/open/page.txt", "", "", 200},
             {"/basic/page.txt", "", "", 401},
             {"/basic/page.txt", "--basic", "alice:wonderland", 200},
             {"/basic/page.txt", "--basic", "alice:wonder", 401},
             {"/basic/page.txt", "--basic", "bob:wonderland", 401},
             {"/basic/page.txt", "--basic", "alic:wonderland", 401},
             // The guard sees the path after decoding and clean-up.
             {"/%62asic/page.txt", "", "", 401},
             {"/open/%2e%2e/basic/page.txt", "", "", 401},
             {"/basic/carol.txt", "--basic", "alice:wonderland", 401},
             {"/basic/carol.txt", "--basic", "carol:queen", 200},
             {"/digest/page.txt", "", "", 401},
             {"/digest/page.txt", "--digest", "alice:wonderland", 200},
             {"/digest/page.txt?lang=en", "--digest", "alice:wonderland", 200},
             {"/digest/page.txt", "--digest", "alice:wonder", 401},
             {"/digest/page.txt", "--digest", "bob:wonderland", 401},
             // Basic credentials where Digest is asked for are no credentials.
             {"/digest/page.txt", "--basic", "alice:wonderland", 401},
         }},
        {"htpasswd",
         {
             {"/basic/page.txt", "--basic", "apr:apple", 200},
             {"/basic/page.txt", "--basic", "apr:pear", 401},
             {"/basic/page.txt", "--basic", "sha:sesame", 200},
             {"/basic/page.txt", "--basic", "sha:sesam", 401},
             // The checks take Digest only over plain and htdigest files.
             {"/digest/page.txt", "--digest", "apr:apple", 400},
         }},
        {"htdigest",
         {
             {"/basic/page.txt", "--basic", "dave:diamond", 200},
             {"/basic/page.txt", "--basic", "dave:ruby", 401},
             {"/digest/page.txt", "--digest", "dave:diamond", 200},
             {"/digest/page.txt", "--digest", "dave:ruby", 401},
             {"/digest/page.txt", "--digest", "eve:diamond", 401},
         }},
    };

    for (const auto& s : servers) {
        SCOPED_TRACE(s.backend);
        test::HttpServerOptions options;
        options.extra = AuthConfig(s.backend, env.Path(std::string("/vandik_data/auth/") + s.backend));
        test::HttpTestServer server(env, options);
        ASSERT_TRUE(server.Start()) << server.ErrorLog();
        for (const Case& c : s.cases) {
            SCOPED_TRACE(std::string(c.path) + " " + c.method + " " + c.user);
            std::vector<std::string> credentials;
            if (*c.method != '\0') {
                credentials = {c.method, "-u", c.user};
            }
            const Answer answer = CurlGet(server.Url(c.path), credentials);
            EXPECT_EQ(answer.status, c.status) << answer.raw;
            // The challenge and its answer share one kept-alive connection.
            EXPECT_EQ(answer.connects, 1) << answer.raw;
            const std::string user = std::string(c.user).substr(0, std::string(c.user).find(':'));
            if (c.status == 200) {
                EXPECT_EQ(answer.body, kPage);
                if (*c.method != '\0') {
                    EXPECT_THAT(answer.head, HasSubstr("\r\nX-Auth-User: " + user + "\r\n"));
                }
            } else {
                EXPECT_THAT(answer.body, Not(HasSubstr(kPage)));
                EXPECT_THAT(answer.head, Not(HasSubstr("X-Auth-User")));
            }
            if (c.status == 401) {
                const bool digest = std::string(c.path).find("/digest/") != std::string::npos;
                EXPECT_THAT(answer.head, HasSubstr(digest ? "\r\nWWW-Authenticate: Digest realm=\"card\", nonce=\""
                                                          : "\r\nWWW-Authenticate: Basic realm=\"card\"\r\n"));
            }
        }
        server.Stop();
        const std::string log = server.ErrorLog();
        EXPECT_THAT(log, Not(HasSubstr("assertion failed")));
        EXPECT_THAT(log, Not(HasSubstr("parsed error")));
    }
    const std::string log = test::HttpServerErrorLog(env);
    EXPECT_THAT(log, HasSubstr("password doesn't match for"));
    EXPECT_THAT(log, HasSubstr("digest: auth failed for alice: wrong password, IP: 127.0.0.1"));
}

// The web application answers every POST, whatever file its path names;
// one the module refused must keep the module's answer and never reach it.
TEST(AuthModule, AGuardedPostReachesTheWebApplicationOnlyOnceAuthenticated) {
    test::TestEnvironment env;
    test::InstallHttpModule(env.root(), std::string(HX_TEST_MODULES_DIR) + "/mod_authtest.so");
    env.WriteText("/vandik_data/auth/plain", "alice:wonderland\n");
    test::HttpServerOptions options;
    options.extra = AuthConfig("plain", env.Path("/vandik_data/auth/plain"));
    test::HttpTestServer server(env, options);
    ASSERT_TRUE(server.Start()) << server.ErrorLog();

    const std::vector<std::string> post = {"-H", "Content-Type: application/json", "--data", "{\"token\":\"t\"}"};
    const struct {
        const char* path;
        std::vector<std::string> credentials;
        int status;
    } cases[] = {
        {"/basic/GetSubboardParam.w", {}, 401},
        {"/basic/GetSubboardParam.w", {"--basic", "-u", "alice:wonder"}, 401},
        {"/digest/GetSubboardParam.w", {"--digest", "-u", "alice:wonder"}, 401},
        // A Digest header without its response: malformed, refused as such.
        {"/digest/GetSubboardParam.w", {"-H", "Authorization: Digest username=\"alice\", realm=\"card\""}, 400},
        {"/basic/GetSubboardParam.w", {"--basic", "-u", "alice:wonderland"}, 200},
        {"/digest/GetSubboardParam.w", {"--digest", "-u", "alice:wonderland"}, 200},
    };
    size_t expectedCalls = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + (c.credentials.empty() ? "" : c.credentials.back()));
        std::vector<std::string> options = post;
        options.insert(options.end(), c.credentials.begin(), c.credentials.end());
        const Answer answer = CurlGet(server.Url(c.path), options);
        EXPECT_EQ(answer.status, c.status) << answer.raw;
        EXPECT_EQ(answer.connects, 1) << answer.raw;
        if (c.status == 200) {
            ++expectedCalls;
            EXPECT_EQ(answer.body, kStandInReply);
        }
        EXPECT_EQ(server.WebCalls().size(), expectedCalls);
    }
}

}  // namespace
}  // namespace hx

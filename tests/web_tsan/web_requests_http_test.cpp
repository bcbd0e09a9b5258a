// The web requests as a browser sends them: curl against the real HTTP server
// thread with the real dispatch behind it, and the per-slot proxy links that
// lead pages of either slot numbering back to the web root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resource.h"
#include "support/http_test_server.h"
#include "support/program_run.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"
#include "web/web_server.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kBeatReply = "{\n\t\"code\":\t0,\n\t\"description\":\tnull,\n\t\"data\":\t{\n\t}\n}";
// The module list's reply begins so (its list follows).
const std::string kModulesReplyStart =
    "{\n\t\"code\":\t0,\n\t\"description\":\t\"SUCCESS\",\n\t\"data\":\t{\n\t\t\"modulelist\":\t[";
// The stream view's own answer to a body without a token.
const std::string kNoTokenReply = "{\n\t\"code\":\t774,\n\t\"description\":\t\"Web sent wrong parameters!\"\n}";
const std::string kPage = "<!DOCTYPE html>\n<p>card</p>\n";
// Hardware slot 12 shows as slot 3 in the renumbered chassis.
constexpr U32 kSlot = 12;
constexpr U32 kRenumberedSlot = 3;

struct ToolResult {
    int status;
    std::string output;
};

// curl without proxies, quiet but for errors, the response's head included.
ToolResult Curl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"curl", "--noproxy", "*", "-sS", "-i"};
    argv.insert(argv.end(), args.begin(), args.end());
    test::ChildProgram program;
    if (!program.Start(argv)) {
        return {-1, program.Output()};
    }
    const int status = program.WaitForExit(std::chrono::seconds(60));
    return {status, program.Output()};
}

class WebRequestsHttp : public testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = kSlot;
        SetProfile(profile);
        board_.emplace();
        Status_Init();
        // Every right granted, whatever an earlier test's rights message withdrew.
        VKUser_InitUserAuthority();
        env_.FailOnUnexpectedErrors();
        std::filesystem::create_directories(env_.Path("/vandik_app/web"));
        env_.WriteText("/vandik_app/web/index.html", kPage);
    }
    std::string WebFolder(U32 slot) const { return env_.Path("/vandik_app/web/" + std::to_string(slot)); }

    test::TestEnvironment env_;
    std::optional<test::SimBoard> board_;
};

TEST_F(WebRequestsHttp, PostsReachTheirRowsByPathAndUnknownNamesGet404) {
    test::HttpTestServer server(env_, test::DispatchingOptions());
    ASSERT_TRUE(server.Start()) << server.ErrorLog();
    const std::string upload(3000, 'u');
    const struct {
        const char* what;
        std::vector<std::string> args;
        const char* path;
        const char* status;
        std::string reply;
        long long uploadSize;
    } cases[] = {
        {"a row", {"--data", R"({"token":"t"})"}, "/Beat.w", "200 OK", kBeatReply, -1},
        {"the one name without .w", {"--data", "{}"}, "/GetModules", "200 OK", kModulesReplyStart, -1},
        {"an unknown name", {"--data", "{}"}, "/Nothing.w", "404 Not Found", "", -1},
        {"another slot's proxy path", {"--data", "{}"}, "/3/proxy/GetTempTSInfo.w", "200 OK", kNoTokenReply, -1},
        {"headers naming other rows",
         {"-H", "Referer: http://card/Upgrade.w", "-H", "Cookie: p=GetSubboardParam.w", "--data", "{}"},
         "/Nothing.w", "404 Not Found", "", -1},
        // Its query names no table without "&", so the reply is empty.
        {"the SI table import, spooled",
         {"-H", "Expect:", "-H", "Content-Type: application/octet-stream", "--data-binary", upload},
         "/ImportSiTable.w?table=nit", "200 OK", "", 3000},
        {"an upgrade, spooled and then unknown",
         {"-H", "Expect:", "-H", "Content-Type: application/octet-stream", "--data-binary", upload},
         "/Upgrade.w", "404 Not Found", "", 3000},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back(server.Url(c.path));
        const ToolResult result = Curl(args);
        ASSERT_EQ(result.status, 0) << c.what << result.output;
        EXPECT_THAT(result.output, StartsWith(std::string("HTTP/1.1 ") + c.status + "\r\n")) << c.what;
        const size_t end = result.output.find("\r\n\r\n");
        ASSERT_NE(end, std::string::npos) << c.what;
        if (std::string_view(c.status) == "200 OK") {
            const std::string body = result.output.substr(end + 4);
            if (c.reply == kModulesReplyStart) {
                EXPECT_THAT(body, StartsWith(c.reply)) << c.what;
            } else {
                EXPECT_EQ(body, c.reply) << c.what;
            }
        }
        const std::vector<test::WebCall> calls = server.WebCalls();
        ASSERT_FALSE(calls.empty()) << c.what;
        EXPECT_EQ(calls.back().uploadSize, c.uploadSize) << c.what;
        if (c.uploadSize >= 0) {
            EXPECT_EQ(calls.back().body, "") << c.what;  // never held in memory
        }
    }
    server.Stop();
}

TEST_F(WebRequestsHttp, ProxyLinksOfBothNumberingsLeadBackToTheWebRoot) {
    Web_ProxyPathCreate();
    for (const U32 slot : {kSlot, kRenumberedSlot}) {
        const std::filesystem::path link = WebFolder(slot) + "/proxy";
        ASSERT_TRUE(std::filesystem::is_symlink(link)) << link;
        EXPECT_TRUE(std::filesystem::equivalent(link, env_.Path("/vandik_app/web"))) << link;
    }

    test::HttpTestServer server(env_);
    ASSERT_TRUE(server.Start()) << server.ErrorLog();
    for (const U32 slot : {kSlot, kRenumberedSlot}) {
        const ToolResult page = Curl({server.Url("/" + std::to_string(slot) + "/proxy/index.html")});
        ASSERT_EQ(page.status, 0) << page.output;
        EXPECT_THAT(page.output, StartsWith("HTTP/1.1 200 OK\r\n")) << slot;
        EXPECT_THAT(page.output, HasSubstr("\r\n\r\n" + kPage)) << slot;
    }
    server.Stop();
}

TEST_F(WebRequestsHttp, ExistingFolderStopsItsChainOnly) {
    std::filesystem::create_directories(WebFolder(kSlot));
    Web_ProxyPathCreate();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(WebFolder(kSlot) + "/proxy")));
    EXPECT_TRUE(std::filesystem::is_symlink(WebFolder(kRenumberedSlot) + "/proxy"));

    // A second start finds both folders and leaves the link as it is.
    Web_ProxyPathCreate();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(WebFolder(kSlot) + "/proxy")));
    EXPECT_TRUE(std::filesystem::is_symlink(WebFolder(kRenumberedSlot) + "/proxy"));
    // (ln into an existing link would have put a "web" link into the web root.)
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(env_.Path("/vandik_app/web/web"))));
}

}  // namespace
}  // namespace hx

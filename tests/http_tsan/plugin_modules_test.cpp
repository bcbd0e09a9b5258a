// The three web server modules as a browser meets them: the real server
// thread on a loopback port loads them from the data root's lib folder, and
// curl asks for index files, directory listings and static files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/http_test_server.h"
#include "support/program_run.h"
#include "support/test_env.h"

namespace hx {
namespace {

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string raw;

    std::string Header(const std::string& lower_name) const {
        const auto it = headers.find(lower_name);
        return it == headers.end() ? "" : it->second;
    }
    bool Has(const std::string& lower_name) const { return headers.count(lower_name) != 0; }
};

Reply Parse(const std::string& raw) {
    Reply reply;
    reply.raw = raw;
    const size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) {
        return reply;
    }
    reply.status = std::stoi(raw.substr(raw.find(' ') + 1, 3));
    std::istringstream lines(raw.substr(0, end));
    std::string line;
    std::getline(lines, line);  // the status line
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        reply.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

// The quoted ETag the server gives a file: its inode-size-mtime text folded
// by rotating left 5 bits and XOR-ing each byte, printed as a signed number.
std::string ExpectedEtag(const struct stat& st) {
    const std::string text = std::to_string(st.st_ino) + "-" + std::to_string(st.st_size) + "-" +
                             std::to_string(st.st_mtime);
    std::uint32_t h = 0;
    for (unsigned char c : text) {
        h = ((h << 5) | (h >> 27)) ^ c;
    }
    std::string quoted = "\"";
    quoted += std::to_string(static_cast<std::int32_t>(h));
    quoted += '"';
    return quoted;
}

std::string HttpTime(std::time_t t) {
    char text[64];
    struct tm utc {};
    gmtime_r(&t, &utc);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

class WebModules : public testing::Test {
protected:
    void Start(const std::string& extra = "") {
        test::HttpServerOptions options;
        options.extra = extra;
        server_ = std::make_unique<test::HttpTestServer>(env_, options);
        ASSERT_TRUE(server_->Start()) << server_->ErrorLog();
    }
    void TearDown() override {
        if (server_) {
            server_->Stop();
        }
    }
    void Page(const std::string& path, const std::string& text) {
        const std::filesystem::path file = env_.Path("/vandik_app/web" + path);
        std::filesystem::create_directories(file.parent_path());
        env_.WriteText("/vandik_app/web" + path, text);
    }
    void Folder(const std::string& path) {
        std::filesystem::create_directories(env_.Path("/vandik_app/web" + path));
    }
    struct stat Stat(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(env_.Path("/vandik_app/web" + path).c_str(), &st), 0);
        return st;
    }
    // curl prints the response as it came: status line, headers, body.
    Reply Get(const std::string& path, const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv = {"curl", "--noproxy", "*", "-sS", "-i"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(server_->Url(path));
        test::ChildProgram curl;
        if (!curl.Start(argv)) {
            ADD_FAILURE() << curl.Output();
            return {};
        }
        EXPECT_EQ(curl.WaitForExit(std::chrono::seconds(60)), 0) << curl.Output();
        return Parse(curl.Output());
    }

    test::TestEnvironment env_;
    std::unique_ptr<test::HttpTestServer> server_;
};

TEST_F(WebModules, AStaticFileComesWithItsTypeTimeAndTagAndIsConditional) {
    const std::string text = "body { color: red }\n";
    Page("/style/main.css", text);
    Start();
    const struct stat st = Stat("/style/main.css");

    const Reply reply = Get("/style/main.css");
    EXPECT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(reply.body, text);
    EXPECT_EQ(reply.Header("content-type"), "text/css");
    EXPECT_EQ(reply.Header("content-length"), std::to_string(text.size()));
    EXPECT_EQ(reply.Header("etag"), ExpectedEtag(st));
    EXPECT_EQ(reply.Header("last-modified"), HttpTime(st.st_mtime));

    const struct {
        std::vector<std::string> options;
        int status;
        std::string body;
    } cases[] = {
        {{"-H", "If-None-Match: " + ExpectedEtag(st)}, 304, ""},
        {{"-H", "If-None-Match: \"1\""}, 200, text},
        {{"-H", "If-Modified-Since: " + HttpTime(st.st_mtime)}, 304, ""},
        {{"-H", "If-Modified-Since: " + HttpTime(st.st_mtime - 60)}, 200, text},
        // No byte ranges: the whole file, as a plain 200.
        {{"-H", "Range: bytes=0-3"}, 200, text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.back());
        const Reply conditional = Get("/style/main.css", c.options);
        EXPECT_EQ(conditional.status, c.status) << conditional.raw;
        EXPECT_EQ(conditional.body, c.body);
        EXPECT_FALSE(conditional.Has("content-range"));
    }

    // HEAD: the same headers, no body.
    const Reply head = Get("/style/main.css", {"-I"});
    EXPECT_EQ(head.status, 200) << head.raw;
    EXPECT_EQ(head.Header("content-length"), std::to_string(text.size()));
    EXPECT_EQ(head.Header("etag"), ExpectedEtag(st));
    EXPECT_EQ(head.body, "");
}

TEST_F(WebModules, AFileWithoutAKnownTypeIsSentAsBytes) {
    Page("/data.bin", std::string("\x00\x01\x02", 3));
    Start();
    const Reply reply = Get("/data.bin");
    EXPECT_EQ(reply.status, 200) << reply.raw;
    EXPECT_EQ(reply.body, std::string("\x00\x01\x02", 3));
    EXPECT_EQ(reply.Header("content-type"), "application/octet-stream");
}

TEST_F(WebModules, ADirectoryTakesItsFirstExistingIndexFile) {
    Page("/index.html", "root index\n");
    Page("/pages/start.htm", "start\n");
    Page("/pages/index.html", "pages index\n");
    Page("/only/index.html", "only index\n");
    Start("index-file.names = ( \"missing.html\", \"start.htm\", \"index.html\" )\n");

    const struct {
        const char* path;
        const char* body;
        const char* type;
    } cases[] = {
        {"/", "root index\n", "text/html"},
        {"/pages/", "start\n", "application/octet-stream"},  // ".htm" has no type assigned
        {"/only/", "only index\n", "text/html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Reply reply = Get(c.path);
        EXPECT_EQ(reply.status, 200) << reply.raw;
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.Header("content-type"), c.type);
    }
}

TEST_F(WebModules, WithoutIndexFileNamesIndexHtmlIsTakenAndAnyOtherRefused) {
    Page("/a/index.html", "a\n");
    Page("/b/index.htm", "b\n");
    Start();
    EXPECT_EQ(Get("/a/").body, "a\n");
    // No index file and no listing: the core refuses the directory.
    EXPECT_EQ(Get("/b/").status, 403);
}

TEST_F(WebModules, ListingsAreOffUnlessEnabledAndThenEncodeEveryName) {
    Page("/open/a&b <c>.txt", "x");
    Page("/open/\"quoted\".txt", "y");
    Page("/open/zeta.txt", "zzz");
    Folder("/open/sub dir");
    Page("/closed/file.txt", "f");
    Start("$HTTP[\"url\"] == \"/open/\" {\n  dir-listing.activate = \"enable\"\n}\n");

    EXPECT_EQ(Get("/closed/").status, 403);
    const Reply listing = Get("/open/");
    ASSERT_EQ(listing.status, 200) << listing.raw;
    EXPECT_EQ(listing.Header("content-type"), "text/html");
    const std::string& page = listing.body;
    EXPECT_NE(page.find("<title>Index of /open/</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"../\">../</a>"), std::string::npos) << page;
    // Links are URL-encoded; texts are escaped for HTML; folders end in '/'.
    EXPECT_NE(page.find("<a href=\"%22quoted%22.txt\">\"quoted\".txt</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"a%26b%20%3cc%3e.txt\">a&#x26;b &#x3c;c&#x3e;.txt</a>"), std::string::npos)
        << page;
    EXPECT_NE(page.find("<a href=\"sub%20dir/\">sub dir/</a>"), std::string::npos) << page;
    EXPECT_NE(page.find("<td>3</td>"), std::string::npos) << page;  // zeta.txt's size
    // Sorted by name.
    EXPECT_LT(page.find("quoted"), page.find("a&#x26;b"));
    EXPECT_LT(page.find("a&#x26;b"), page.find("sub dir"));
    EXPECT_LT(page.find("sub dir"), page.find("zeta.txt"));
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

TEST_F(WebModules, ModulesListedAgainRunAsInstancesOfTheirOwn) {
    Page("/index.html", "root index\n");
    Page("/files/one.txt", "1");
    Page("/files/two.txt", "22");
    Start("server.modules = ( \"mod_staticfile\", \"mod_indexfile\", \"mod_dirlisting\" )\n"
          "dir-listing.activate = \"enable\"\n");
    // Loaded: mod_indexfile, mod_staticfile, mod_indexfile, mod_dirlisting,
    // mod_dirlisting, mod_staticfile (the reader adds the three again).
    EXPECT_EQ(Get("/").body, "root index\n");
    EXPECT_EQ(Get("/files/two.txt").body, "22");
    const Reply listing = Get("/files/");
    EXPECT_EQ(listing.status, 200);
    EXPECT_NE(listing.body.find("one.txt"), std::string::npos);
    server_->Stop();  // every instance releases its own settings
}

}  // namespace
}  // namespace hx

// The unwrapping of a spooled multipart/form-data upload: bodies built by
// hand for each envelope the unwrap must take or refuse, and a body that real
// curl sent to a loopback socket. A refused body leaves the file byte for
// byte as it was.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "chassis/upgrade.h"
#include "core/err.h"
#include "support/child_process.h"
#include "support/test_env.h"

extern char** environ;

namespace hx {
namespace {

const std::string kBoundary = "------------------------abc123";

// The lines the unwrap logs at ERROR on every run, and the refusals.
void ExpectUnwrapLog(test::TestEnvironment& env) {
    env.FailOnUnexpectedErrors({"Upgrade filename : [", "Upgrade original first line", "Upgrade record first line",
                                "Position : Cur", "===>Find tail line", "===>Can't find tail line",
                                "Upgrade first line: [", "Cant't find valid header", "Upgrade first can't read",
                                "can't open", "Null pointer"});
}

std::string Wrap(const std::string& payload, const std::string& boundary = kBoundary) {
    return boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"TS1_NIT.table\"\r\n" +
           "Content-Type: application/octet-stream\r\n" + "\r\n" + payload + "\r\n" + boundary + "--\r\n";
}

class UpgradeUnwrap : public ::testing::Test {
protected:
    UpgradeUnwrap() { ExpectUnwrapLog(env_); }

    std::string Write(const std::string& bytes) {
        const std::string path = (env_.root() / "upload").string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static U32 Unwrap(const std::string& path) {
        return upgrade_DelNetHeader(reinterpret_cast<const U8*>(path.c_str()));
    }

    test::TestEnvironment env_;
};

TEST_F(UpgradeUnwrap, EnvelopesGiveTheirPayloadOrAreRefusedWithTheFileUnchanged) {
    const std::string binary("\x40\xF0\x00\r\n\r\n\0\xFF-", 10);
    std::string manyHeaders = kBoundary + "\r\n";
    for (int i = 0; i < 49; ++i) {
        manyHeaders += "X-Header: " + std::to_string(i) + "\r\n";
    }
    manyHeaders += "Content-Disposition: form-data; filename=\"a\"\r\n\r\nB\r\n" + kBoundary + "--\r\n";
    const std::string longLine(450, 'x');
    const struct {
        const char* what;
        std::string body;
        U32 result;
        std::string payload;  // when the result is 0
    } cases[] = {
        {"plain payload", Wrap("NIT bytes"), 0, "NIT bytes"},
        {"CR LF inside the payload", Wrap("a\r\nb\r\n\r\nc"), 0, "a\r\nb\r\n\r\nc"},
        {"binary payload with NUL and a boundary-like dash", Wrap(binary), 0, binary},
        {"empty payload", Wrap(""), 0, ""},
        {"a long header line is read in pieces",
         kBoundary + "\r\nX-Long: " + longLine + "\r\nContent-Disposition: form-data; filename=\"a\"\r\n\r\nP\r\n" +
             kBoundary + "--\r\n",
         0, "P"},
        {"closing boundary right after the blank line",
         kBoundary + "\r\nContent-Disposition: form-data; filename=\"a\"\r\n\r\n" + kBoundary + "--\r\n",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"boundary line of LF only", "\n" + std::string("Content-Disposition: form-data; filename=\"a\"\r\n\r\nP\r\n\n"),
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"boundary line of bare CR LF", "\r\nContent-Disposition: form-data; filename=\"a\"\r\n\r\nPayload\r\n\r\n",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"boundary line without CR", "--b\nContent-Disposition: form-data; filename=\"a\"\r\n\r\nP\r\n--b--\r\n",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"headers past line 50", manyHeaders, VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"no filename=", kBoundary + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nP\r\n" + kBoundary + "--\r\n",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"no blank line", kBoundary + "\r\nContent-Disposition: form-data; filename=\"a\"\r\nP\r\n",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"closing boundary cut off", Wrap("NIT bytes").substr(0, Wrap("NIT bytes").size() - 12),
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"file shorter than the boundary line after the blank line",
         kBoundary + "\r\nContent-Disposition: form-data; filename=\"a\"\r\n\r\nab",
         VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
        {"empty file", "", VK_ERR_UPGRADE_CHECK_NET_HEADER, ""},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.body);
        EXPECT_EQ(Unwrap(path), c.result) << c.what;
        EXPECT_EQ(Read(path), c.result == VK_SUCCESS ? c.payload : c.body) << c.what;
    }
}

TEST_F(UpgradeUnwrap, NoNameOrNoFileIsRefused) {
    EXPECT_EQ(upgrade_DelNetHeader(nullptr), VK_ERR_PARAMS);
    EXPECT_EQ(Unwrap((env_.root() / "missing").string()), VK_ERR_FILE_CAN_NOT_READE);
    EXPECT_FALSE(std::filesystem::exists(env_.root() / "missing"));
}

// A rewrite that cannot be written whole (a file size limit stands in for a
// full partition) leaves the upload as it was spooled.
TEST_F(UpgradeUnwrap, FailedRewriteLeavesTheFileAsItWas) {
    const std::string body = Wrap(std::string(4096, 'p'));
    const std::string path = Write(body);
    const int result = test::InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        return static_cast<int>(Unwrap(path));
    });
    EXPECT_EQ(result, static_cast<int>(VK_ERR_FILE_CAN_NOT_READE));
    EXPECT_EQ(Read(path), body);
    // No temporary file of the failed rewrite is left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(env_.root())) {
        EXPECT_EQ(entry.path().filename().string().find(".upload."), std::string::npos) << entry.path();
    }
}

// What curl sends for `-F file=@path`: the request body, read from a
// loopback socket (curl runs as a child process; no thread here).
std::string CurlFormBody(const std::string& file) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(listener);
        return {};
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/ImportSiTable.w";
    const std::string form = "file=@" + file;
    const char* argv[] = {"curl", "-s", "-o", "/dev/null", "-H", "Expect:", "-F", form.c_str(), url.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        close(listener);
        return {};
    }
    const int connection = accept(listener, nullptr, nullptr);
    std::string request;
    std::size_t bodyStart = std::string::npos;
    std::size_t length = 0;
    char chunk[4096];
    while (connection >= 0) {
        const ssize_t got = read(connection, chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        request.append(chunk, static_cast<std::size_t>(got));
        if (bodyStart == std::string::npos && (bodyStart = request.find("\r\n\r\n")) != std::string::npos) {
            bodyStart += 4;
            const std::size_t field = request.find("Content-Length: ");
            length = field < bodyStart ? std::stoul(request.substr(field + 16)) : 0;
        }
        if (bodyStart != std::string::npos && request.size() >= bodyStart + length) {
            break;
        }
    }
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    if (connection >= 0) {
        EXPECT_EQ(write(connection, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
        close(connection);
    }
    close(listener);
    int status = 0;
    waitpid(pid, &status, 0);
    return bodyStart == std::string::npos ? std::string() : request.substr(bodyStart, length);
}

TEST_F(UpgradeUnwrap, CurlFormBodyUnwrapsToTheOriginalFile) {
    // Bytes a NIT table file may hold: CR LF pairs, NULs, dashes.
    std::string original;
    for (int i = 0; i < 3000; ++i) {
        original.push_back(static_cast<char>((i * 37) & 0xFF));
    }
    original += "\r\n--\r\n\r\n";
    const std::string source = (env_.root() / "TS1_NIT.table").string();
    std::ofstream(source, std::ios::binary) << original;
    const std::string body = CurlFormBody(source);
    ASSERT_GT(body.size(), original.size());
    const std::string path = Write(body);
    ASSERT_EQ(Unwrap(path), VK_SUCCESS);
    EXPECT_EQ(Read(path), original);
}

}  // namespace
}  // namespace hx

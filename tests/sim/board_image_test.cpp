// The simulated board's flash image, seeded into a fresh data root and read
// back by the start-up steps that need it.
#include "sim/board_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/command_runner.h"
#include "core/run_profile.h"
#include "http/config_keys.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "snmp/qam_mib_text.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class BoardImageTest : public ::testing::Test {
protected:
    test::TestEnvironment env;
};

TEST_F(BoardImageTest, AFreshRootGetsAWorkingIperf3AndTheShippedVersion) {
    ASSERT_TRUE(SimBoardImage_Seed());
    env.TakeConsole();

    Iperf3SoftwareInit();
    U32 version = 0;
    EXPECT_EQ(Resource_GetSoftVersion(&version), 1u);
    EXPECT_EQ(version, kDefaultSoftVersion);
    EXPECT_THAT(env.Console(), HasSubstr("iperf3 unpacked"));
    EXPECT_THAT(env.Console(), Not(HasSubstr("[ERROR]")));
    EXPECT_THAT(env.ReadText(kShippedVersionPath), HasSubstr("\"MachineType\":\t26"));
    EXPECT_THAT(env.ReadText(kShippedVersionPath), HasSubstr("\"BoardType\":\t33"));
    // The board MIB's text for every slot, under the name the MIB export copies.
    for (const char* mib : {"/vandik_app/app/MIBs/QAM1-MIB.txt", "/vandik_app/app/MIBs/QAM16-MIB.txt"}) {
        EXPECT_EQ(env.ReadText(mib), kQamMibText) << mib;
    }
    EXPECT_EQ(env.ReadText("/vandik_app/web/index.html"), SimBoardImage_PlaceholderPage());
    // The board's scripts that the erase request and the upgrade look for.
    for (const char* script : {"/vandik_app/app/EraseDataMtd.sh", "/vandik_app/app/copy2jffs2.sh"}) {
        EXPECT_THAT(env.ReadText(script), HasSubstr("#!/bin/sh\n")) << script;
    }

    // The unpacked placeholder runs as the card's tool would: one line, exit 0.
    // (The simulated board only records iperf3, so run it as the card does.)
    RunProfile card = Profile();
    card.backend = HardwareBackend::Card;
    SetProfile(card);
    const CommandResult result = Command_Capture(Command{{env.Path(kIperf3Program), "-c", "127.0.0.1"}, std::nullopt});
    EXPECT_TRUE(result.executed);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, std::string(kSimIperf3Line) + "\n");
}

TEST_F(BoardImageTest, FilesAlreadyThereAreLeftAlone) {
    const std::string ownVersion = R"({"BigVerNum": 3, "MidVerNum": 1, "MinVerNum": 9})";
    env.WriteText(kShippedVersionPath, ownVersion);
    ASSERT_TRUE(SimBoardImage_Seed());
    EXPECT_EQ(env.ReadText(kShippedVersionPath), ownVersion);
    const std::string archive = env.ReadText(kIperf3Archive);
    ASSERT_FALSE(archive.empty());

    env.WriteText(kIperf3Archive, "not a tar");
    env.WriteText("/vandik_app/web/index.html", "<p>edited</p>");
    EXPECT_TRUE(SimBoardImage_Seed());
    EXPECT_EQ(env.ReadText(kIperf3Archive), "not a tar");
    EXPECT_EQ(env.ReadText("/vandik_app/web/index.html"), "<p>edited</p>");
}

TEST_F(BoardImageTest, TheCardKeepsItsOwnFlash) {
    RunProfile card = Profile();
    card.backend = HardwareBackend::Card;
    SetProfile(card);
    EXPECT_FALSE(SimBoardImage_Seed());
    EXPECT_FALSE(std::filesystem::exists(env.Path(kIperf3Archive)));
    EXPECT_FALSE(std::filesystem::exists(env.Path(kShippedVersionPath)));
}

// The archive is plain ustar: whole 512-byte blocks, the member's header
// (name, mode, size, checksum) where every tar reader looks, two empty blocks
// at the end.
TEST_F(BoardImageTest, ArchiveIsUstar) {
    const std::string content = "#!/bin/sh\nexit 0\n";
    const std::vector<U8> archive =
        SimBoardImage_TarOneFile("iperf3", 0755, std::span(reinterpret_cast<const U8*>(content.data()), content.size()));
    ASSERT_EQ(archive.size(), 4u * 512);
    const std::string header(archive.begin(), archive.begin() + 512);
    EXPECT_EQ(header.substr(0, 7), std::string("iperf3\0", 7));
    EXPECT_EQ(header.substr(100, 8), std::string("0000755\0", 8));
    EXPECT_EQ(header.substr(124, 12), std::string("00000000021\0", 12));  // 17 bytes
    EXPECT_EQ(header[156], '0');
    EXPECT_EQ(header.substr(257, 8), std::string("ustar\0" "00", 8));
    unsigned sum = 0;
    for (std::size_t i = 0; i < 512; ++i) {
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<U8>(header[i]);
    }
    EXPECT_EQ(std::stoul(header.substr(148, 6), nullptr, 8), sum);
    EXPECT_EQ(std::string(archive.begin() + 512, archive.begin() + 512 + 17), content);
    EXPECT_TRUE(std::all_of(archive.begin() + 512 + 17, archive.end(), [](U8 byte) { return byte == 0; }));
}

}  // namespace
}  // namespace hx

namespace hx {
namespace {

constexpr const char* kWebserverConf = "/vandik_app/tools/webserver/config/webserver.conf";

// The shipped web server configuration, as the server start reads it: the run
// profile's data root, address and port come in through the environment.
TEST_F(BoardImageTest, TheWebServerConfigurationFitsTheRunProfile) {
    RunProfile profile = Profile();
    profile.listenAddress = "127.0.0.9";
    profile.httpPort = 18080;
    SetProfile(profile);
    ExportRunProfileEnvironment(profile);
    ASSERT_TRUE(SimBoardImage_Seed());
    EXPECT_EQ(env.ReadText(kWebserverConf), std::string(SimBoardImage_WebserverConf()));

    server* srv = server_init();
    ASSERT_EQ(config_read(srv, env.Path(kWebserverConf).c_str()), 0);
    ASSERT_EQ(config_set_defaults(srv), 0);
    std::string root = Profile().dataRoot.string();
    while (!root.empty() && root.back() == '/') {
        root.pop_back();
    }
    EXPECT_EQ(std::string(srv->config_storage[0]->document_root->ptr), root + "/vandik_app/web");
    EXPECT_EQ(std::string(srv->srvconf.bindhost->ptr), "127.0.0.9");
    EXPECT_EQ(srv->srvconf.port, 18080);
    EXPECT_EQ(std::string(srv->srvconf.errorlog_file->ptr), root + "/vandik_data/log/webserver-error.log");
    EXPECT_EQ(std::string(srv->srvconf.breakagelog_file->ptr), root + "/vandik_data/log/webserver-breakage.log");
    const auto* html = static_cast<const data_string*>(array_get_element(srv->config_storage[0]->mimetypes, ".html"));
    ASSERT_NE(html, nullptr);
    EXPECT_STREQ(html->value->ptr, "text/html");
    server_free(srv);

    // A user's edit stays.
    env.WriteText(kWebserverConf, "server.port = 1\n");
    EXPECT_TRUE(SimBoardImage_Seed());
    EXPECT_EQ(env.ReadText(kWebserverConf), "server.port = 1\n");
}

}  // namespace
}  // namespace hx

// Firmware upgrade as the back board delivers it, through the inter-board
// dispatcher: the FTP order against the simulated FTP folder, in virtual time,
// with the progress reports arriving at the back board of a simulated chassis
// (the reporter turned once a virtual second, as its thread would), and the
// image in packets, from chassis-send as a process and packet by packet.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chassis/ipcomm_dispatch.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "chassis/upgrade.h"
#include "core/clock.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "platform/resource.h"
#include "sim/ftp_service.h"
#include "sim/upgrade_image.h"
#include "support/card_server.h"
#include "support/ipcomm_recorder.h"
#include "support/param_files.h"
#include "support/tool_run.h"
#include "support/upgrade_board.h"

namespace hx {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint64_t kSecond = 1'000'000;
const std::string kImage = kUpgradeImagePath;
const std::string kFtpImage = "/sim/ftp/upgradefile";
const std::string kVersionFile = "/vandik_data/upgradeVersion.json";

// A clock for one thread that turns the progress reporter at every whole
// virtual second its sleeps pass, as the reporter's thread would turn beside
// the install's waits. A sleep inside a turn (a report's repeat) only moves
// time.
class ReporterClock final : public Clock {
public:
    std::uint64_t MonotonicMicros() override { return now_; }
    timespec WallTime() override { return timespec{1'767'225'600 + static_cast<time_t>(now_ / kSecond), 0}; }
    void SleepMicros(std::uint64_t micros) override {
        const std::uint64_t end = now_ + micros;
        while ((now_ / kSecond + 1) * kSecond <= end) {
            now_ = (now_ / kSecond + 1) * kSecond;
            if (onSecond && !turning_) {
                turning_ = true;
                onSecond();
                turning_ = false;
            }
        }
        now_ = end;
    }
    std::function<void()> onSecond;

private:
    std::uint64_t now_ = 5 * kSecond;
    bool turning_ = false;
};

// The reporter the FTP order starts, turned by the clock instead of a thread.
class SteppedReporter {
public:
    explicit SteppedReporter(ReporterClock& clock) : clock_(clock) {
        SubUpgrade_SetReporterStart([this] {
            reporter_.emplace();
            running_ = reporter_->Turn();
        });
        clock_.onSecond = [this] {
            if (reporter_ && running_) {
                running_ = reporter_->Turn();
            }
        };
    }
    ~SteppedReporter() {
        clock_.onSecond = nullptr;
        SubUpgrade_SetReporterStart({});
    }
    // The seconds after the order, until the reporter's loop ends; then its end.
    void RunOut() {
        ASSERT_TRUE(reporter_) << "no reporter was started";
        for (int second = 0; running_ && second < 400; ++second) {
            clock_.SleepMicros(kSecond);
        }
        EXPECT_FALSE(running_);
        reporter_->Finish();
        reporter_.reset();
    }

private:
    ReporterClock& clock_;
    std::optional<UpgradeReporter> reporter_;
    bool running_ = false;
};

class UpgradeDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        peers.AssignAddresses();
        IPComm_ResetTmpData();
        IPComm_ResetUpgradeTransfer();
    }
    void TearDown() override {
        SetClock(&card.env.clock());
        IPComm_ResetUpgradeTransfer();
    }

    // Dispatches one packet from the back board as the server would, on a
    // connection of its own; the reply's command.
    U16 Dispatch(U16 command, const std::vector<U8>& data, U32 index = 0, U32 count = 1) {
        IPCommWire wire;
        EXPECT_TRUE(IPComm_Build(command, data.data(), static_cast<U32>(data.size()), index, count, &wire, 16));
        ST_VK_IPCOMM packet;
        EXPECT_EQ(VK_SUCCESS, IPComm_ParseData(wire.bytes.data(), static_cast<S32>(wire.length), &packet));
        int fds[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        IPComm_Response(fds[0], &packet);
        close(fds[0]);
        std::vector<U8> reply(64);
        const ssize_t got = recv(fds[1], reply.data(), reply.size(), 0);
        close(fds[1]);
        ST_VK_IPCOMM answer;
        if (got <= 0 || IPComm_ParsePacket(reply.data(), static_cast<S32>(got), &answer) != VK_SUCCESS) {
            return 0;
        }
        return answer.u16CMD;
    }

    // The FTP order with the image size of `imageBytes`, in virtual time.
    void FtpOrder(std::size_t imageBytes = 4096) {
        SetClock(&clock);
        SteppedReporter reporter(clock);
        std::vector<U8> size(4);
        PutBe32(size.data(), static_cast<U32>(imageBytes));
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(IPCOMM_FTP_UPGRADE, size));
        reporter.RunOut();
        SetClock(&card.env.clock());
    }

    // The progress records the back board received, oldest first.
    std::vector<st_VK_UPGRADE> Reports() {
        std::vector<st_VK_UPGRADE> reports;
        for (const IPCommRecordedSend& send : IPComm_TakeRecordedSends()) {
            EXPECT_EQ(16u, send.slot);
            EXPECT_EQ(IPCOMM_SEND_PROCESS_UPGRADE, send.command);
            if (const std::optional<st_VK_UPGRADE> record = Upgrade_Parse(send.data)) {
                reports.push_back(*record);
            }
        }
        return reports;
    }
    static std::vector<U8> Steps(const std::vector<st_VK_UPGRADE>& reports) {
        std::vector<U8> steps;
        for (const st_VK_UPGRADE& report : reports) {
            steps.push_back(report.u8CurUpgradeProFlag);
        }
        return steps;
    }

    void PutImage(const std::string& logical, const std::string& version) {
        card.Put(logical, sim::SimUpgradeImage_Build(test::InstallableImage(version)));
    }

    test::UpgradeBoard card;
    test::ChassisPeers peers;
    ReporterClock clock;
};

TEST_F(UpgradeDeliveryTest, AnFtpUpgradeReportsEachStepOnceAndInstalls) {
    PutImage(kFtpImage, "V1.6.1");
    FtpOrder();

    const std::vector<st_VK_UPGRADE> reports = Reports();
    EXPECT_THAT(Steps(reports), ElementsAre(3, 4, 5, 6, 7, 8, 9, 10));
    for (const st_VK_UPGRADE& report : reports) {
        EXPECT_EQ(test::kUpgradeSlot, report.u8SlotID);
        EXPECT_EQ(0u, report.u32ErrorCode);
        EXPECT_EQ(1, report.u8CommStatusFlag);
    }
    EXPECT_THAT(card.env.ReadText(kVersionFile), ::testing::HasSubstr("\"MinVerNum\":\t1"));
    EXPECT_EQ(0, g_isFtpUpgrading.load());
    EXPECT_THAT(Command_Recorded(), ::testing::Contains("ftpget 127.0.0.16 upgradefile"));
}

// An image in packets changes the progress without reporting it; the next
// FTP upgrade must not report those steps as its own.
TEST_F(UpgradeDeliveryTest, AnFtpUpgradeAfterAnUnreportedOneReportsOnlyItsOwnSteps) {
    PutImage(kImage, "V1.6.0");
    ASSERT_EQ(VK_SUCCESS, upgrade_UpgradeSystem(kImage.c_str()));
    EXPECT_THAT(Reports(), IsEmpty());

    PutImage(kFtpImage, "V1.6.1");
    FtpOrder();
    EXPECT_THAT(Steps(Reports()), ElementsAre(3, 4, 5, 6, 7, 8, 9, 10));
}

TEST_F(UpgradeDeliveryTest, SevenFailedFetchesFailTheUpgradeAndNoStaleImageIsInstalled) {
    card.env.FailOnUnexpectedErrors({"open  error: No such file or directory", " u32TmpVersion: 0x", " ret: 7!"});
    // An image an earlier delivery left behind, which would pass every check.
    PutImage(kImage, "V1.6.1");
    Resource_getSelfHandle()->u8FTPUpgrade = 1;  // installs even after a failed fetch
    FtpOrder();

    std::vector<std::string> fetches;
    for (const std::string& command : Command_Recorded()) {
        if (command.starts_with("ftpget")) {
            fetches.push_back(command);
        }
    }
    EXPECT_EQ(std::vector<std::string>(kFtpFetchTries, "ftpget 127.0.0.16 upgradefile"), fetches);
    const std::vector<st_VK_UPGRADE> reports = Reports();
    EXPECT_THAT(Steps(reports), ElementsAre(3, 2));
    EXPECT_EQ(VK_ERR_FTP_DOWNLOAD_FILE_FAIL, reports.back().u32ErrorCode);
    // The install step ran on the missing file and failed; nothing was installed.
    EXPECT_EQ(VK_ERR_FILE_CAN_NOT_READE, UpgradeProFlag_Get().u32ErrorCode);
    EXPECT_FALSE(card.Exists(kVersionFile));
    EXPECT_THAT(Command_Recorded(), ::testing::Not(::testing::Contains("/var/upgrade/run.sh")));
}

TEST_F(UpgradeDeliveryTest, AFailedFetchSkipsTheInstallOnlyForAnFtpBoard) {
    card.env.FailOnUnexpectedErrors({"open  error: No such file or directory", " u32TmpVersion: 0x", " ret: 7!"});
    struct Case {
        U8 ftpUpgrade;
        bool checked;  // the install step ran (and failed on the missing image)
    };
    for (const Case& c : {Case{0, true}, Case{1, true}, Case{2, false}, Case{255, false}}) {
        SCOPED_TRACE(static_cast<int>(c.ftpUpgrade));
        Resource_getSelfHandle()->u8FTPUpgrade = c.ftpUpgrade;
        card.env.TakeConsole();
        FtpOrder();
        EXPECT_EQ(c.checked, card.env.Console().find("Upgrade file name :[/var/volatile/upgradefile]!") !=
                                 std::string::npos);
        EXPECT_EQ(c.checked ? VK_ERR_FILE_CAN_NOT_READE : VK_ERR_FTP_DOWNLOAD_FILE_FAIL,
                  UpgradeProFlag_Get().u32ErrorCode);
        EXPECT_THAT(Steps(Reports()), ElementsAre(3, 2));
    }
}

// The image is fetched, then the check stalls past the watch's 240 seconds
// before it reaches the payload's verification.
TEST_F(UpgradeDeliveryTest, AnUpgradePastTheWatchFailsAndTheNextOneSucceeds) {
    card.env.FailOnUnexpectedErrors({" SubUpgrade time out,upgrade stop", "Get upgrade file time out,upgrade faile",
                                     " u32TmpVersion: 0x", " ret: 2051!"});
    PutImage(kFtpImage, "V1.6.1");
    bool stall = true;
    std::function<CommandResult(const Command&)> stallOnce = [&](const Command& command) {
        // The first removal of the check: the upgrade hangs for 241 seconds.
        if (card.env.Console().find("Upgrade file name :") != std::string::npos) {
            stall = false;
            TheClock().SleepMicros(241 * kSecond);
        }
        Command_SetSimHandler("rm", {});
        const CommandResult result = Command_Run(command);
        if (stall) {
            Command_SetSimHandler("rm", stallOnce);
        }
        return result;
    };
    Command_SetSimHandler("rm", stallOnce);
    FtpOrder();
    EXPECT_FALSE(stall) << "the check never stalled";

    std::vector<st_VK_UPGRADE> reports = Reports();
    EXPECT_THAT(Steps(reports), ElementsAre(3, 2));
    EXPECT_EQ(VK_ERR_FTP_UPGRADE_TIME_OUT, reports.back().u32ErrorCode);
    EXPECT_EQ(upgrade_fail, UpgradeProFlag_Get().u8CurUpgradeProFlag);
    EXPECT_EQ(VK_ERR_FTP_UPGRADE_TIME_OUT, UpgradeProFlag_Get().u32ErrorCode);
    EXPECT_FALSE(card.Exists(kVersionFile)) << "nothing installed";

    // The next order is a delivery of its own: the time-out is over.
    card.trace.emplace(test::UpgradePrograms());
    PutImage(kFtpImage, "V1.6.2");
    FtpOrder();
    reports = Reports();
    EXPECT_THAT(Steps(reports), ElementsAre(3, 4, 5, 6, 7, 8, 9, 10));
    EXPECT_THAT(card.env.ReadText(kVersionFile), ::testing::HasSubstr("\"MinVerNum\":\t2"));
}

// ---------------------------------------------------------------------------
// The image in packets (3841)

TEST_F(UpgradeDeliveryTest, AnImageFromChassisSendIsInstalledEvenAfterAnEarlierTimeOut) {
    g_isUpgardeTimeOut = 1;  // as an FTP upgrade that timed out leaves it
    const std::string file = card.env.Path("/tmp/image.bin");
    card.Put("/tmp/image.bin", sim::SimUpgradeImage_Build(test::InstallableImage("V1.7.3")));
    std::optional<test::CardServer> server(std::in_place, 0, 500);
    ASSERT_NE(0, server->port());

    const test::ToolRun run =
        test::RunTool(HX_CHASSIS_SEND_BINARY, {"--port", std::to_string(server->port()), "--file", file, "SEND_UPGRADE"});
    server.reset();  // the install runs after the last packet's reply

    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(test::Has(run, "packet 3/3")) << run.output;
    EXPECT_EQ(kUpgradeSuccessStep, UpgradeProFlag_Get().u8CurUpgradeProFlag);
    U32 version = 0;
    ASSERT_EQ(1u, Resource_GetSoftVersion(&version));
    EXPECT_EQ(0x010703u, version);
    EXPECT_THAT(Reports(), IsEmpty()) << "an image in packets is not reported";
}

TEST_F(UpgradeDeliveryTest, AnImageThatLostAPacketIsNotInstalled) {
    const std::vector<U8> image = sim::SimUpgradeImage_Build(test::InstallableImage("V1.8.0"));
    ASSERT_GT(image.size(), 2 * kIPCommMaxData);
    const auto piece = [&](U32 index) {
        const std::size_t begin = index * kIPCommMaxData;
        return std::vector<U8>(image.begin() + static_cast<std::ptrdiff_t>(begin),
                               image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), begin + kIPCommMaxData)));
    };
    const U32 count = static_cast<U32>((image.size() + kIPCommMaxData - 1) / kIPCommMaxData);
    // A good image of an earlier delivery waits in the image's place.
    PutImage(kImage, "V1.6.1");
    for (U32 index = 0; index < count; ++index) {
        if (index != 1) {
            EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(IPCOMM_SEND_UPGRADE, piece(index), index, count));
        }
    }
    EXPECT_FALSE(card.Exists(kVersionFile)) << "nothing installed";
    EXPECT_THAT(card.trace->Take(), IsEmpty());

    for (U32 index = 0; index < count; ++index) {
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(IPCOMM_SEND_UPGRADE, piece(index), index, count));
    }
    EXPECT_THAT(card.env.ReadText(kVersionFile), ::testing::HasSubstr("\"MidVerNum\":\t8"));
}

}  // namespace
}  // namespace hx

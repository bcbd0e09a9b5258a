// Firmware upgrade: the checks an image must pass, each shown by a made-up
// image that fails it (sim/upgrade_image.h), and the install of one that
// passes, in the simulated board's data root: the extraction and the card's
// scripts through the command runner (file tools for real, scripts recorded),
// the progress steps, the snapshot, the version file and the recovery of a
// version file that could not be written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "chassis/oid_snapshot.h"
#include "chassis/tar_listing.h"
#include "chassis/upgrade.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/run_profile.h"
#include "platform/resource.h"
#include "sim/upgrade_image.h"
#include "support/param_files.h"
#include "support/upgrade_board.h"

namespace hx {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using sim::SimTarKind;
using sim::SimTarMember;
using sim::SimUpgradeImage;

const std::string kImage = kUpgradeImagePath;
const std::string kVersionFile = "/vandik_data/upgradeVersion.json";

std::vector<U8> Bytes(const std::string& text) { return std::vector<U8>(text.begin(), text.end()); }

// The version file as the install writes it (cJSON's formatted print).
std::string VersionText(int big, int mid, int min) {
    return "{\n\t\"MachineType\":\t26,\n\t\"BoardType\":\t33,\n\t\"BigVerNum\":\t" + std::to_string(big) +
           ",\n\t\"MidVerNum\":\t" + std::to_string(mid) + ",\n\t\"MinVerNum\":\t" + std::to_string(min) + "\n}";
}

class UpgradeTest : public ::testing::Test {
protected:
    U32 Install(const SimUpgradeImage& image) {
        card.Put(kImage, sim::SimUpgradeImage_Build(image));
        return upgrade_UpgradeSystem(kImage.c_str());
    }

    test::UpgradeBoard card;
    test::TestEnvironment& env = card.env;
};

// ---------------------------------------------------------------------------
// The checks

struct CheckCase {
    const char* name;
    std::function<void(SimUpgradeImage&)> change;
    U32 result;
    const char* logged;  // an ERROR line of the refusal
};

// The commands of a check that stopped before the install: the extraction
// folder's leftovers removed, nothing made, unpacked or run.
const std::vector<std::string> kCheckedOnly = {"rm /var/upgrade -fr", "rm /var/upgrade.tar"};

TEST_F(UpgradeTest, EveryCheckRefusesItsImageBeforeAnythingIsExtracted) {
    const std::vector<CheckCase> cases = {
        {"version 1.1.13", [](SimUpgradeImage& i) { i.softwareVersion = "V1.1.13"; }, VK_ERR_UPGRADE_TO_LOW_VERSION,
         "version lower than 1.1.13!"},
        {"version 1.0.99", [](SimUpgradeImage& i) { i.softwareVersion = "V1.0.99"; }, VK_ERR_UPGRADE_TO_LOW_VERSION,
         "version lower than 1.1.13!"},
        {"version 1.1 read as 1.1.0", [](SimUpgradeImage& i) { i.softwareVersion = "V1.1"; },
         VK_ERR_UPGRADE_TO_LOW_VERSION, "version lower than 1.1.13!"},
        {"no V", [](SimUpgradeImage& i) { i.softwareVersion = "2.0.0"; }, VK_ERR_UPGRADE_TO_LOW_VERSION,
         "version lower than 1.1.13!"},
        {"a part above 255", [](SimUpgradeImage& i) { i.softwareVersion = "V1.256.0"; },
         VK_ERR_UPGRADE_CHECK_HEADER, "software version out of range!"},
        {"a negative part", [](SimUpgradeImage& i) { i.softwareVersion = "V2.-1.0"; }, VK_ERR_UPGRADE_CHECK_HEADER,
         "software version out of range!"},
        {"20 digits of a part", [](SimUpgradeImage& i) { i.softwareVersion = "V2.0.999999999999999"; },
         VK_ERR_UPGRADE_CHECK_HEADER, "software version out of range!"},
        {"machine type 25", [](SimUpgradeImage& i) { i.machineType = 25; }, VK_ERR_UPGRADE_CHECK_HEADER,
         "header info error!"},
        {"board type 34", [](SimUpgradeImage& i) { i.boardType = 34; }, VK_ERR_UPGRADE_CHECK_HEADER,
         "header info error!"},
        {"sync word", [](SimUpgradeImage& i) { i.syncFlag = 0x99999998; }, VK_ERR_UPGRADE_CHECK_HEADER,
         "header info error!"},
        {"payload one byte short", [](SimUpgradeImage& i) { i.missingBytes = 1; }, VK_ERR_FILE_CAN_NOT_READE,
         "valid data can't be read!"},
        {"DataLength 0xFFFFFF00", [](SimUpgradeImage& i) { i.dataLength = 0xFFFFFF00; }, VK_ERR_FILE_CAN_NOT_READE,
         "valid data can't be read!"},
        {"bad CRC", [](SimUpgradeImage& i) { i.dataCrc = 0x12345678; }, VK_ERR_CRC, "CRC failure!"},
        {"no zz.zz", [](SimUpgradeImage& i) { i.members.erase(i.members.begin()); }, VK_ERR_TAR_UPGRADE_FILE_ERROR,
         "no file zz.zz at its top"},
        {"zz.zz below the top", [](SimUpgradeImage& i) { i.members[0].name = "sub/zz.zz"; },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "no file zz.zz at its top"},
        {"no run.sh", [](SimUpgradeImage& i) { i.members.pop_back(); }, VK_ERR_TAR_UPGRADE_FILE_ERROR,
         "no file run.sh at its top"},
        {"run.sh a folder", [](SimUpgradeImage& i) { i.members.back() = SimTarMember{"run.sh", {}, 0755, SimTarKind::Folder}; },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "no file run.sh at its top"},
        {"member ../x", [](SimUpgradeImage& i) { i.members.push_back({"../x", Bytes("x")}); },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "member [../x] leaves the folder"},
        {"member a/../../x", [](SimUpgradeImage& i) { i.members.push_back({"a/../../x", Bytes("x")}); },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "member [a/../../x] leaves the folder"},
        {"member /abs", [](SimUpgradeImage& i) { i.members.push_back({"/abs", Bytes("x")}); },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "member [/abs] leaves the folder"},
        {"link to /etc", [](SimUpgradeImage& i) { i.members.push_back({"etc", {}, 0777, SimTarKind::SymbolicLink, "/etc"}); },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "link [etc] to [/etc] leaves the folder"},
        {"link up", [](SimUpgradeImage& i) { i.members.push_back({"up", {}, 0777, SimTarKind::SymbolicLink, "../.."}); },
         VK_ERR_TAR_UPGRADE_FILE_ERROR, "link [up] to [../..] leaves the folder"},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        env.FailOnUnexpectedErrors({c.logged, " u32TmpVersion: 0x", " ret: "});
        SimUpgradeImage image = test::InstallableImage();
        c.change(image);
        card.trace->Take();
        UpgradeProFlag_TakeChanges();

        EXPECT_EQ(c.result, Install(image));

        EXPECT_THAT(env.Console(), HasSubstr(c.logged));
        EXPECT_FALSE(card.Exists(kImage)) << "the image is deleted after every check";
        const st_VK_UPGRADE record = UpgradeProFlag_Get();
        EXPECT_EQ(upgrade_fail, record.u8CurUpgradeProFlag);
        EXPECT_EQ(c.result, record.u32ErrorCode);
        EXPECT_EQ(kCheckedOnly, card.trace->Take()) << "nothing made, unpacked or run";
        EXPECT_THAT(Command_Recorded(), IsEmpty());
        for (const char* path : {"/var/volatile/upgrade", "/var/upgrade", "/var/x", "/x", "/abs", kVersionFile.c_str()}) {
            EXPECT_FALSE(card.Exists(path)) << path;
        }
        env.TakeConsole();
    }
    // Refused for its version, an upgrade reports 1.1.13 as the version it must pass.
    EXPECT_EQ(Rollback_Version, UpgradeProFlag_Get().u32TmpVersion);
}

TEST_F(UpgradeTest, VersionsAbove1_1_13PassAndAreRecorded) {
    struct Case {
        const char* text;
        int big, mid, min;
    };
    for (const Case& c : {Case{"V1.1.14", 1, 1, 14}, Case{"V1.2.0", 1, 2, 0}, Case{"V2.0.0", 2, 0, 0},
                          Case{"V1.1.000000000000014", 1, 1, 14}, Case{"V 3. 4.5", 3, 4, 5}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(VK_SUCCESS, Install(test::InstallableImage(c.text)));
        EXPECT_EQ(VersionText(c.big, c.mid, c.min), env.ReadText(kVersionFile));
    }
}

TEST_F(UpgradeTest, BytesBeyondTheLengthAreIgnored) {
    std::vector<U8> file = sim::SimUpgradeImage_Build(test::InstallableImage());
    file.insert(file.end(), 3000, 0xEE);
    card.Put(kImage, file);
    EXPECT_EQ(VK_SUCCESS, upgrade_UpgradeSystem(kImage.c_str()));
}

TEST_F(UpgradeTest, AHeaderCutShortIsAHeaderError) {
    env.FailOnUnexpectedErrors({"header can't be read error", " u32TmpVersion: 0x", " ret: 9!"});
    std::vector<U8> file = sim::SimUpgradeImage_Build(test::InstallableImage());
    file.resize(255);
    card.Put(kImage, file);
    EXPECT_EQ(VK_ERR_UPGRADE_CHECK_HEADER, upgrade_UpgradeSystem(kImage.c_str()));
}

TEST_F(UpgradeTest, AMissingImageOrNameFails) {
    env.FailOnUnexpectedErrors({"open  error: No such file or directory(errno: 2)", "Null pointer!",
                                " u32TmpVersion: 0x", " ret: 7!"});
    EXPECT_EQ(VK_ERR_FILE_CAN_NOT_READE, upgrade_UpgradeSystem(kImage.c_str()));
    EXPECT_EQ(VK_ERR_PARAMS, upgrade_UpgradeSystem(nullptr));
    EXPECT_EQ(upgrade_fail, UpgradeProFlag_Get().u8CurUpgradeProFlag);
}

// ---------------------------------------------------------------------------
// The install

TEST_F(UpgradeTest, AnInstallUnpacksRecordsTheScriptsAndTheVersion) {
    struct Case {
        const char* name;
        bool imageHasUbifsFlag;
        bool dataHasUbifsFlag;
    };
    for (const Case& c : {Case{"no flag anywhere", false, false}, Case{"flag in the image", true, false},
                          Case{"flag left on the data partition", false, true}}) {
        SCOPED_TRACE(c.name);
        SimUpgradeImage image = test::InstallableImage("V1.3.7");
        image.members.push_back({"bin/", {}, 0755, SimTarKind::Folder});
        image.members.push_back({"bin/app", Bytes("new program"), 0755});
        if (c.imageHasUbifsFlag) {
            image.members.push_back({"ubifs.flag", {}});
        }
        std::filesystem::remove(env.Path("/vandik_data/ubifs.flag"));
        if (c.dataHasUbifsFlag) {
            card.Put("/vandik_data/ubifs.flag", {});
        }
        std::filesystem::remove(env.Path("/vandik_data/oiddata.conf"));
        card.trace->Take();
        Command_ClearRecorded();
        UpgradeProFlag_TakeChanges();

        EXPECT_EQ(VK_SUCCESS, Install(image));

        std::vector<std::string> expected = {
            "rm /var/upgrade -fr",
            "rm /var/upgrade.tar",
            "mkdir /var/volatile/upgrade",
            "ln -s /var/volatile/upgrade /var/upgrade",
            "tar xvf /var/volatile/upgradefile -C /var/upgrade/",
            "tar xvf /var/volatile/upgradefile -C /var/upgrade/",
            "ls -l /var/upgrade/",
            "chmod +x /var/upgrade/run.sh",
            "/var/upgrade/run.sh",
            "sync",
        };
        if (c.dataHasUbifsFlag) {
            expected.push_back("rm /vandik_data/ubifs.flag");
        }
        expected.push_back("chmod +x /vandik_app/app/copy2jffs2.sh");
        expected.push_back("/vandik_app/app/copy2jffs2.sh");
        if (c.imageHasUbifsFlag) {
            expected.push_back("touch /vandik_data/ubifs.flag");
        }
        expected.push_back("rm /var/upgrade -fr");
        expected.push_back("rm /var/volatile/upgrade -fr");
        EXPECT_EQ(expected, card.trace->Take());
        // Nothing the image carries runs on the simulated board.
        EXPECT_THAT(Command_Recorded(),
                    ElementsAre("/var/upgrade/run.sh", "sync", "/vandik_app/app/copy2jffs2.sh"));
        EXPECT_EQ(c.imageHasUbifsFlag, card.Exists("/vandik_data/ubifs.flag"));

        EXPECT_THAT(test::UpgradeBoard::TakeSteps(), ElementsAre(4, 5, 6, 7, 8, 9, 10));
        const st_VK_UPGRADE record = UpgradeProFlag_Get();
        EXPECT_EQ(0u, record.u32ErrorCode);
        EXPECT_EQ(test::kUpgradeSlot, record.u8SlotID);
        EXPECT_EQ(test::kUpgradeBoardSoftVersion, record.u32BoardSoftVersion);

        EXPECT_EQ(VersionText(1, 3, 7), env.ReadText(kVersionFile));
        for (const char* path : {"/var/volatile/upgrade", "/var/upgrade", kImage.c_str()}) {
            EXPECT_FALSE(card.Exists(path)) << path << " is removed";
        }
        // The snapshot for the new program: stamped 1, which this program's
        // start-up leaves on disk unapplied.
        const std::vector<U8> snapshot = test::ReadBytes("/vandik_data/oiddata.conf");
        ASSERT_GE(snapshot.size(), 2u);
        EXPECT_EQ(1, GetLe16(snapshot.data()));
    }
    // The next start reports the installed version.
    U32 version = 0;
    ASSERT_EQ(1u, Resource_GetSoftVersion(&version));
    EXPECT_EQ(0x010307u, version);
}

TEST_F(UpgradeTest, TheInstallWaitsThreeThreeAndFiveSeconds) {
    const std::size_t before = env.clock().SleepHistory().size();
    EXPECT_EQ(VK_SUCCESS, Install(test::InstallableImage()));
    const std::vector<std::uint64_t> sleeps = env.clock().SleepHistory();
    EXPECT_EQ(std::vector<std::uint64_t>({3'000'000, 3'000'000, 5'000'000}),
              std::vector<std::uint64_t>(sleeps.begin() + static_cast<std::ptrdiff_t>(before), sleeps.end()));
}

// The temporary file of a write gives way to a folder just before its
// rename, for the data partition's version file only: the write fails as on
// a partition gone read-only, and the old file stays.
void FailTheDataVersionFile(AtomicWriteStep step, const char* path) {
    const std::filesystem::path target(path);
    if (step != AtomicWriteStep::FullyWritten || target.filename() != "upgradeVersion.json" ||
        target.parent_path().filename() != "vandik_data") {
        return;
    }
    for (const auto& entry : std::filesystem::directory_iterator(target.parent_path())) {
        if (entry.path().filename().string().starts_with(".upgradeVersion.json.")) {
            std::filesystem::remove(entry.path());
            std::filesystem::create_directory(entry.path());
        }
    }
}

TEST_F(UpgradeTest, AVersionFileThatCannotBeWrittenGoesToTheJffs2Partition) {
    env.FailOnUnexpectedErrors({"SoftVersion changed has not changed",
                                "The data partition probability becomes read-only, Start to recovery",
                                "The data partition will be restored from JFFS2 partition side"});
    card.Put(kVersionFile, Bytes(VersionText(20, 7, 20)));
    File_SetAtomicWriteHook(FailTheDataVersionFile);
    const U32 result = Install(test::InstallableImage("V1.4.2"));
    File_SetAtomicWriteHook(nullptr);

    EXPECT_EQ(VK_SUCCESS, result) << "the version check only decides where the version goes";
    EXPECT_EQ(VersionText(20, 7, 20), env.ReadText(kVersionFile)) << "the old file stays whole";
    EXPECT_EQ(VersionText(1, 4, 2), env.ReadText("/tmp/jffs2/upgradeVersion.json"));
    const std::vector<std::string> commands = card.trace->Take();
    const std::vector<std::string> recovery = {"mkdir /tmp/jffs2", "mount -t jffs2 /dev/mtdblock6 /tmp/jffs2", "sync",
                                               "umount /tmp/jffs2", "rmdir /tmp/jffs2"};
    const auto at = std::search(commands.begin(), commands.end(), recovery.begin(), recovery.end());
    EXPECT_NE(commands.end(), at) << ::testing::PrintToString(commands);
    EXPECT_EQ(1, std::count(commands.begin(), commands.end(), "/vandik_app/app/copy2jffs2.sh"));
    EXPECT_LT(at - commands.begin(),
              std::find(commands.begin(), commands.end(), "rm /var/volatile/upgrade -fr") - commands.begin())
        << "the recovery comes before the extraction folder goes";
    EXPECT_THAT(Command_Recorded(), ::testing::Contains("mount -t jffs2 /dev/mtdblock6 /tmp/jffs2"));
    for (const auto& entry : std::filesystem::directory_iterator(env.Path("/vandik_data"))) {
        if (entry.path().filename().string().starts_with(".upgradeVersion.json.")) {
            std::filesystem::remove(entry.path());
        }
    }
}

TEST_F(UpgradeTest, AnUnreadableVersionFileCountsAsVersionZero) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* logged;
    };
    const SimUpgradeImage image = test::InstallableImage("V1.5.3");
    const ImageHeader_t header = ImageHeader_Parse(
        std::span<const U8, kImageHeaderSize>(sim::SimUpgradeImage_Build(image).data(), kImageHeaderSize));
    for (const Case& c : {Case{"missing", [&] { std::filesystem::remove(env.Path(kVersionFile)); },
                               "open file: /product_data/upgradeVersion.json failed"},
                          Case{"not JSON", [&] { card.Put(kVersionFile, Bytes("BigVerNum")); },
                               "Error: The /product_data/upgradeVersion.json is empty"},
                          Case{"a member missing", [&] { card.Put(kVersionFile, Bytes("{\"BigVerNum\":1,\"MidVerNum\":5}")); },
                               "SoftVersion changed has not changed"}}) {
        SCOPED_TRACE(c.name);
        env.FailOnUnexpectedErrors({c.logged, "SoftVersion changed has not changed", "The data partition"});
        c.arrange();
        card.trace->Take();
        upgrade_CheckSoftVersionModify(&header);
        EXPECT_THAT(env.TakeConsole(), HasSubstr(c.logged));
        EXPECT_THAT(card.trace->Take(), ::testing::Contains("mount -t jffs2 /dev/mtdblock6 /tmp/jffs2"));
    }
    // A file with the image's version: nothing to recover.
    card.Put(kVersionFile, Bytes(VersionText(1, 5, 3)));
    upgrade_CheckSoftVersionModify(&header);
    EXPECT_THAT(env.TakeConsole(), HasSubstr("SoftVersion has been changed successfully after upgrade"));
    EXPECT_THAT(card.trace->Take(), IsEmpty());
}

// ---------------------------------------------------------------------------
// The progress record and the header layout

TEST_F(UpgradeTest, TheProfileComesFromTheResourceRecord) {
    const st_VK_UPGRADE record = UpgradeProFlag_Get();
    const auto bytes = Upgrade_Serialize(record);
    EXPECT_EQ(test::kUpgradeSlot, bytes[0]);
    EXPECT_EQ(3847, GetLe16(bytes.data() + 12));
    EXPECT_EQ(0, bytes[14]);
    EXPECT_EQ(10, bytes[15]);
    EXPECT_EQ(1, bytes[16]);
    EXPECT_EQ(1, bytes[17]);
    EXPECT_EQ(test::kUpgradeBoardSoftVersion, GetLe32(bytes.data() + 20));
    EXPECT_EQ(0x17u, GetLe32(bytes.data() + 24));
    EXPECT_EQ(kQamBoardType, bytes[36]);
}

TEST(ImageHeader, FieldsSitAtTheirOffsetsAndRoundTrip) {
    ImageHeader_t header{};
    header.SyncFlag = 0x99999999;
    header.BoardType = 33;
    header.DataLength = 0x01020304;
    header.DataCRC32 = 0xA1B2C3D4;
    header.ucSoftwareVersion = {'V', '1', '.', '2', '.', '3'};
    header.MachineType = 26;
    header.u8BeginKVDMainboardValid = 0x5A;
    header.aru32Reserved[25] = 0x0BADF00D;
    header.HeaderCRC32 = 0xCAFEBABE;
    const ImageHeaderBytes bytes = ImageHeader_Serialize(header);
    EXPECT_EQ(0x99999999u, GetLe32(bytes.data()));
    EXPECT_EQ(33u, GetLe32(bytes.data() + 12));
    EXPECT_EQ(0x01020304u, GetLe32(bytes.data() + 24));
    EXPECT_EQ(0xA1B2C3D4u, GetLe32(bytes.data() + 32));
    EXPECT_EQ('V', bytes[60]);
    EXPECT_EQ('3', bytes[65]);
    EXPECT_EQ(26u, GetLe32(bytes.data() + 88));
    EXPECT_EQ(0x5A, bytes[101]);
    EXPECT_EQ(0x0BADF00Du, GetLe32(bytes.data() + 248));
    EXPECT_EQ(0xCAFEBABEu, GetLe32(bytes.data() + 252));
    EXPECT_EQ(bytes, ImageHeader_Serialize(ImageHeader_Parse(bytes)));
}

// ---------------------------------------------------------------------------
// The member list

// The first header's checksum again, after a test changed a field.
void Rechecksum(std::vector<U8>& archive) {
    std::fill_n(archive.begin() + 148, 8, ' ');
    unsigned sum = 0;
    for (std::size_t i = 0; i < 512; ++i) {
        sum += archive[i];
    }
    std::snprintf(reinterpret_cast<char*>(archive.data()) + 148, 8, "%06o", sum);
    archive[155] = ' ';
}

TEST(TarListing, NamesKindsAndLinksAsTarWouldExtractThem) {
    const std::string longName = std::string(120, 'n');
    const std::vector<SimTarMember> members = {
        {"./zz.zz", {}},
        {"dir/", {}, 0755, SimTarKind::Folder},
        {"dir/" + std::string(110, 'p') + "/file", Bytes("abc")},
        {longName, Bytes("long")},
        {"link", {}, 0777, SimTarKind::SymbolicLink, "dir/x"},
        {"hard", {}, 0644, SimTarKind::HardLink, "./zz.zz"},
    };
    const std::optional<std::vector<TarMember>> listed = Tar_ListMembers(sim::SimTar_Write(members));
    ASSERT_TRUE(listed);
    ASSERT_EQ(members.size(), listed->size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(members[i].name, (*listed)[i].name);
        EXPECT_EQ(members[i].linkTarget, (*listed)[i].linkTarget);
    }
    EXPECT_EQ(TarMemberKind::Folder, (*listed)[1].kind);
    EXPECT_EQ(3u, (*listed)[2].size);
    EXPECT_EQ(TarMemberKind::SymbolicLink, (*listed)[4].kind);
    EXPECT_EQ(TarMemberKind::HardLink, (*listed)[5].kind);
    EXPECT_EQ("zz.zz", Tar_PlainName((*listed)[0].name));
    EXPECT_EQ("dir", Tar_PlainName((*listed)[1].name));
}

TEST(TarListing, APaxPathReplacesTheNameOfTheMemberAfterIt) {
    // What GNU tar writes for a name it cannot fit: the header's name field is
    // harmless, the extended header's path is what gets extracted.
    const std::string record = "16 path=../evil\n";
    std::vector<U8> archive = sim::SimTar_Write(std::vector<SimTarMember>{{"PaxHeaders/x", Bytes(record)}});
    archive[156] = 'x';
    Rechecksum(archive);
    archive.resize(1024);
    const std::vector<U8> next = sim::SimTar_Write(std::vector<SimTarMember>{{"harmless", Bytes("x")}});
    archive.insert(archive.end(), next.begin(), next.end());

    const auto listed = Tar_ListMembers(archive);
    ASSERT_TRUE(listed);
    ASSERT_EQ(1u, listed->size());
    EXPECT_EQ("../evil", (*listed)[0].name);
    EXPECT_TRUE(Tar_PathLeavesFolder((*listed)[0].name));
}

TEST(TarListing, ArchivesThatCannotBeReadWholeAreRefused) {
    const std::vector<U8> good = sim::SimTar_Write(std::vector<SimTarMember>{{"run.sh", Bytes(std::string(600, 's'))}});
    struct Case {
        const char* name;
        std::function<void(std::vector<U8>&)> damage;
    };
    for (const Case& c : {Case{"checksum", [](std::vector<U8>& a) { a[0] ^= 1; }},
                          Case{"data past the end", [](std::vector<U8>& a) { a.resize(512 + 599); }},
                          Case{"a cut header", [](std::vector<U8>& a) { a.resize(300); }},
                          Case{"size not octal",
                               [](std::vector<U8>& a) {
                                   a[124] = '9';
                                   Rechecksum(a);
                               }},
                          Case{"a device", [](std::vector<U8>& a) {
                                   a[156] = '3';
                                   Rechecksum(a);
                               }}}) {
        SCOPED_TRACE(c.name);
        std::vector<U8> archive = good;
        c.damage(archive);
        EXPECT_FALSE(Tar_ListMembers(archive));
    }
    ASSERT_TRUE(Tar_ListMembers(good));
    EXPECT_TRUE(Tar_ListMembers(std::vector<U8>{})->empty());
}

TEST(TarListing, PathsThatLeaveTheirFolder) {
    for (const char* path : {"/abs", "..", "../x", "a/../../x", "a/..", "./../x"}) {
        EXPECT_TRUE(Tar_PathLeavesFolder(path)) << path;
    }
    for (const char* path : {"x", "./x", "a/b", "a..b", "..a/b", "a/.../b"}) {
        EXPECT_FALSE(Tar_PathLeavesFolder(path)) << path;
    }
}

}  // namespace
}  // namespace hx

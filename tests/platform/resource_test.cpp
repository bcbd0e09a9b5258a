#include "platform/resource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board_state_fixture.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "platform/chassis_info.h"
#include "platform/qam_params.h"

namespace hx::test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

// A record with a distinct value in every field.
TResource_TS SampleRecord() {
    TResource_TS record{};
    record.u8SlotID = 5;
    record.u8BoardType = 33;
    record.u8Standard = 1;
    record.u8Language = 0;
    record.u32IPAddress = 0xC0A80105;
    const U8 mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::memcpy(record.au8Mac, mac, 6);
    record.u16OutputChannelNum = 16;
    record.u32SoftVersion = 0x00140714;
    record.u32LogicVersion = 0x01020304;
    record.u32HardVersion = 2;
    std::memcpy(record.au8BoardDescriptor, "QAM Board", 9);
    std::memcpy(record.au8CustomerNo, "C-0042", 6);
    record.u8FTPUpgrade = 2;
    record.u8EitEnable = 1;
    record.u8isDelChannelProg = 1;
    record.u8MuxPIDEnable = 1;
    record.u8CustomVariant = 1;
    record.u8DaylightSaving = 1;
    record.s16TimeZoneMinutes = -300;
    for (U8 i = 0; i < 32; ++i) {
        record.au8ChannelStatus[i] = i;
    }
    record.u8GPSUTCOffset = 18;
    record.u8VlanEnable = 1;
    record.u16VlanID = 0x0123;
    record.u8ServiceFlags = 0x05;
    std::memset(record.au8Reserved, 0xAA, sizeof record.au8Reserved);  // never sent
    return record;
}

std::vector<U8> SampleBytes() {
    std::vector<U8> bytes(1024, 0);
    auto put = [&](std::size_t offset, std::vector<U8> field) {
        std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    put(0, {5, 33, 1, 0});
    put(4, {0x05, 0x01, 0xA8, 0xC0});
    put(8, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    put(14, {0x10, 0x00});
    put(16, {0x14, 0x07, 0x14, 0x00});
    put(20, {0x04, 0x03, 0x02, 0x01});
    put(24, {0x02, 0x00, 0x00, 0x00});
    put(28, {'Q', 'A', 'M', ' ', 'B', 'o', 'a', 'r', 'd'});
    put(48, {'C', '-', '0', '0', '4', '2'});
    put(80, {2, 1, 1, 1, 1, 1});
    put(86, {0xD4, 0xFE});
    for (U8 i = 0; i < 32; ++i) {
        bytes[88 + i] = i;
    }
    put(120, {18, 1, 0x23, 0x01, 0x05});
    return bytes;
}

std::vector<U8> Bytes(const TResource_TS& record) {
    const ResourceBytes bytes = Resource_Serialize(record);
    return {bytes.begin(), bytes.end()};
}

TEST(ResourceLayout, SerialisesEveryFieldAtItsOffset) {
    EXPECT_THAT(Bytes(SampleRecord()), ElementsAreArray(SampleBytes()));
}

TEST(ResourceLayout, ParsesTheSameBytesBack) {
    const std::vector<U8> bytes = SampleBytes();
    const auto parsed = Resource_Parse(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_THAT(Bytes(*parsed), ElementsAreArray(bytes));
    EXPECT_EQ(parsed->s16TimeZoneMinutes, -300);
    EXPECT_EQ(parsed->u32IPAddress, 0xC0A80105u);
}

TEST(ResourceLayout, RefusesAnyOtherLength) {
    const std::vector<U8> bytes(1025, 0);
    EXPECT_FALSE(Resource_Parse(std::span(bytes).first(1023)));
    EXPECT_FALSE(Resource_Parse(bytes));
    EXPECT_FALSE(Resource_Parse({}));
}

class BoardStatusTest : public BoardStateTest {
protected:
    void SetSlotRegister(U32 value) {
        EditProfile([&](RunProfile& profile) { profile.simSlotId = value; });
        PowerOn();
    }
};

TEST_F(BoardStatusTest, SlotRegisterKeepsTheLowFourBitsOfAnImpossibleValue) {
    struct Case {
        U32 registerValue;
        U32 slot;
        bool error;
    };
    for (const Case& c : {Case{3, 3, false}, Case{15, 15, false}, Case{16, 0, true}, Case{0x13, 3, true}}) {
        SCOPED_TRACE(c.registerValue);
        env_.TakeConsole();
        SetSlotRegister(c.registerValue);
        Status_Init();
        EXPECT_EQ(Status_GetSlotID(), c.slot);
        EXPECT_EQ(env_.Console().find("[ERROR][SYS]") != std::string::npos, c.error);
        EXPECT_EQ(Resource_getSelfHandle(), Resource_GetHandle(c.slot));
    }
}

TEST_F(BoardStatusTest, ResourceInitBuildsTheOwnRecordAndProgramsTheMac) {
    EditProfile([](RunProfile& profile) { profile.simHardwareVersion = 5; });
    SetSlotRegister(5);
    Status_Init();
    env_.WriteText("/sys/class/net/eth0/address", "00:1a:2B:3c:4d:5e\n");
    env_.WriteText(kUpgradeVersionPath, R"({"MachineType": 1, "BigVerNum": 3, "MidVerNum": 1, "MinVerNum": 9})");
    EditProfile([](RunProfile& profile) { profile.customVariant = true; });

    const std::vector<RegisterStep> macWords = {{265, 0x001A2B, 0}, {266, 0x3C4D5E, 20'000}};
    EXPECT_EQ(WriteSequence(Fpga(), [] { Resource_Init(); }), macWords);

    const TResource_TS* self = Resource_getSelfHandle();
    EXPECT_EQ(self->u8SlotID, 5);
    EXPECT_EQ(self->u8BoardType, 33);
    EXPECT_STREQ(reinterpret_cast<const char*>(self->au8BoardDescriptor), "QAM Board");
    EXPECT_EQ(self->u16OutputChannelNum, 16);
    EXPECT_EQ(self->u32SoftVersion, 0x030109u);
    EXPECT_EQ(self->u32LogicVersion, Profile().simLogicVersion);
    EXPECT_EQ(self->u32HardVersion, 5u);
    EXPECT_EQ(self->u8CustomVariant, 1);
    EXPECT_THAT(self->au8Mac, ElementsAreArray({0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
}

TEST_F(BoardStatusTest, SimulatedBoardGetsAPlausibleMacWhenNoneIsThere) {
    SetSlotRegister(5);
    Status_Init();
    Resource_Init();
    EXPECT_EQ(env_.ReadText("/sys/class/net/eth0/address"), "02:48:58:51:05:00\n");
    EXPECT_EQ(Reg(265), 0x024858u);
    EXPECT_EQ(Reg(266), 0x510500u);
    EXPECT_EQ(Resource_getSelfHandle()->u32SoftVersion, kDefaultSoftVersion);
}

TEST_F(BoardStatusTest, SoftwareVersionComesFromTheShippedFileWhenTheDataCopyIsMissing) {
    env_.WriteText(kShippedVersionPath, R"({"BigVerNum": 2, "MinVerNum": 7})");
    U32 version = 0;
    EXPECT_EQ(Resource_GetSoftVersion(&version), 1u);
    EXPECT_EQ(version, 0x020007u);  // a missing member counts 0
    EXPECT_EQ(env_.ReadText(kUpgradeVersionPath), env_.ReadText(kShippedVersionPath));
}

TEST_F(BoardStatusTest, SoftwareVersionFailures) {
    U32 version = 77;
    EXPECT_EQ(Resource_GetSoftVersion(nullptr), 0u);
    EXPECT_EQ(Resource_GetSoftVersion(&version), 0u);  // no file at all
    env_.WriteText(kUpgradeVersionPath, "{\"BigVerNum\": ");
    EXPECT_EQ(Resource_GetSoftVersion(&version), 0u);
    EXPECT_EQ(version, 77u);
}

class SlotResourceTest : public BoardStateTest {
protected:
    static std::vector<U8> Record(U8 slot, U32 address, U8 standard = 0, U8 language = 1) {
        TResource_TS record{};
        record.u8SlotID = slot;
        record.u32IPAddress = address;
        record.u8Standard = standard;
        record.u8Language = language;
        record.u8VlanEnable = 1;
        record.u16VlanID = 42;
        return Bytes(record);
    }
    static std::vector<U8> EitBoard(U8 slot) {
        TResource_TS record{};
        record.u8SlotID = slot;
        record.u8BoardType = kEitBoardType;
        record.u8EitEnable = 1;
        return Bytes(record);
    }
    static std::vector<U32> Addresses() {
        std::vector<U32> addresses;
        for (U32 slot = 0; slot < kResourceRecords; ++slot) {
            addresses.push_back(Resource_getBoardIPAddress(slot));
        }
        return addresses;
    }
};

TEST_F(SlotResourceTest, StoresAppliesOrRefuses) {
    struct Case {
        const char* name;
        U32 sender;
        std::vector<U8> data;
        U32 result;
        int storedSlot;  // -1: nothing stored
        U32 standard;
        vkLanguage language;
        const char* log;
    };
    const std::vector<Case> cases = {
        {"card record forwarded", 16, Record(7, 0x0A000007, 1, 0), 0, 7, 0, EN_LANGUAGE_EN, ""},
        {"back board's own record", 16, Record(16, 0x0A000010, 1, 0), 0, 16, 1, EN_LANGUAGE_CN, ""},
        {"unsupported language kept out", 16, Record(16, 0x0A000010, 1, 9), 0, 16, 1, EN_LANGUAGE_EN, "Language 9"},
        {"sent by a card", 5, Record(16, 0x0A000010, 1, 0), 0, -1, 0, EN_LANGUAGE_EN, "ignored"},
        {"slot 17", 16, Record(17, 0x0A000011), 4, -1, 0, EN_LANGUAGE_EN, "refused"},
        {"slot 255", 16, Record(255, 0x0A0000FF), 4, -1, 0, EN_LANGUAGE_EN, "refused"},
        {"short record", 16, std::vector<U8>(1000, 0), 4, -1, 0, EN_LANGUAGE_EN, "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Resource_Reset();
        GetQAMPara_Handle()->Standard.value = 0;
        err_SetLanguage(EN_LANGUAGE_EN);
        env_.TakeConsole();

        EXPECT_EQ(Resource_SetSlotResource(c.sender, c.data.data(), static_cast<U32>(c.data.size())), c.result);

        std::vector<U32> expected(kResourceRecords, 0);
        if (c.storedSlot >= 0) {
            expected[static_cast<std::size_t>(c.storedSlot)] = GetLe32(&c.data[4]);
            EXPECT_EQ(Resource_GetHandle(static_cast<U32>(c.storedSlot))->u16VlanID, 42);
        }
        EXPECT_EQ(Addresses(), expected);
        EXPECT_EQ(GetQAMPara_Handle()->Standard.value, c.standard);
        EXPECT_EQ(Resource_GetSIMode(), c.standard);
        EXPECT_EQ(err_GetLanguage(), c.language);
        EXPECT_THAT(env_.Console(), HasSubstr(c.log));
    }
}

TEST_F(SlotResourceTest, NullDataIsRefused) {
    EXPECT_EQ(Resource_SetSlotResource(16, nullptr), 4u);
    EXPECT_THAT(env_.Console(), HasSubstr("Input Para Error..."));
}

TEST_F(SlotResourceTest, AChangedEitBoardIsAnnouncedOnce) {
    EXPECT_EQ(Resource_GetEITBoardSlot(), kNoEitBoardSlot);
    Resource_SetSlotResource(16, EitBoard(9).data());
    EXPECT_EQ(Resource_GetEITBoardSlot(), 9);
    EXPECT_THAT(env_.TakeConsole(), HasSubstr("EIT board moved from slot 17 to slot 9"));

    Resource_SetSlotResource(16, EitBoard(9).data());
    EXPECT_THAT(env_.TakeConsole(), Not(HasSubstr("EIT board moved")));

    Resource_SetSlotResource(16, EitBoard(4).data());  // the lowest slot wins
    EXPECT_EQ(Resource_GetEITBoardSlot(), 4);
    EXPECT_THAT(env_.TakeConsole(), HasSubstr("EIT board moved from slot 9 to slot 4"));
}

TEST_F(SlotResourceTest, LookupsRefuseSlotsBeyondTheBackBoard) {
    Resource_SetBackBoardIpAddr(0x0A000010);
    EXPECT_EQ(Resource_getBoardIPAddress(16), 0x0A000010u);
    // No slot beyond the back board has an address; never an error code
    // that a caller would connect to as 0.0.0.4.
    for (U32 slot : {17u, 255u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Resource_getBoardIPAddress(slot), 0u) << slot;
    }
    EXPECT_EQ(Resource_GetHandle(17), nullptr);
    U8 descriptor[20] = {};
    std::memcpy(Resource_GetHandle(16)->au8BoardDescriptor, "Back Board", 10);
    EXPECT_EQ(Resource_getBoardDescriptor(16, descriptor), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(descriptor), "Back Board");
    EXPECT_EQ(Resource_getBoardDescriptor(17, descriptor), 4u);
    EXPECT_EQ(Resource_getBoardDescriptor(0, nullptr), 4u);
}

TEST_F(SlotResourceTest, ARecordOfTheOwnSlotKeepsTheOwnAddressAndMac) {
    Status_Init();  // slot 3
    TResource_TS* self = Resource_getSelfHandle();
    self->u32IPAddress = 0x7F000023;
    const U8 ownMac[6] = {0x02, 0x48, 0x58, 0x51, 0x03, 0x00};
    std::memcpy(self->au8Mac, ownMac, 6);

    TResource_TS echoed{};
    echoed.u8SlotID = 3;
    echoed.u8BoardType = kQamBoardType;
    echoed.u32IPAddress = 0x0A000099;
    std::memset(echoed.au8Mac, 0xEE, 6);
    echoed.u8FTPUpgrade = 2;  // what the back board sets in the board's record is taken
    ASSERT_EQ(Resource_SetSlotResource(16, Bytes(echoed).data()), 0u);
    EXPECT_EQ(Resource_getBoardIPAddress(3), 0x7F000023u);
    EXPECT_THAT(self->au8Mac, ElementsAreArray(ownMac));
    EXPECT_EQ(self->u8FTPUpgrade, 2);

    // Another card's record is stored whole.
    echoed.u8SlotID = 4;
    ASSERT_EQ(Resource_SetSlotResource(16, Bytes(echoed).data()), 0u);
    EXPECT_EQ(Resource_getBoardIPAddress(4), 0x0A000099u);
    EXPECT_THAT(Resource_GetHandle(4)->au8Mac, ElementsAreArray({0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(SlotResourceTest, TheBackBoardsOwnRecordAppliesTimeAndVlan) {
    auto backBoard = [](S16 zone, U8 daylight, U8 gps, U8 vlanOn, U16 vlan, U8 slot = kBackBoardSlot) {
        TResource_TS record{};
        record.u8SlotID = slot;
        record.s16TimeZoneMinutes = zone;
        record.u8DaylightSaving = daylight;
        record.u8GPSUTCOffset = gps;
        record.u8VlanEnable = vlanOn;
        record.u16VlanID = vlan;
        return Bytes(record);
    };
    struct Step {
        const char* name;
        std::vector<U8> record;
        BoardTimeSettings time;
        std::vector<std::string> commands;
        const char* log;
    };
    const std::vector<Step> steps = {
        {"VLAN 42 on", backBoard(-300, 1, 18, 1, 42), {-300, 1, 18},
         {"ip link add link eth0 name eth0.42 type vlan id 42", "ip link set eth0.42 up"}, "VLAN 42 on eth0.42"},
        {"the same again: nothing run", backBoard(480, 0, 18, 1, 42), {480, 0, 18}, {}, ""},
        {"another card's record applies nothing", backBoard(60, 1, 17, 1, 7, 5), {480, 0, 18}, {}, ""},
        {"VLAN 4094 replaces 42", backBoard(480, 0, 18, 1, 4094), {480, 0, 18},
         {"ip link delete eth0.42", "ip link add link eth0 name eth0.4094 type vlan id 4094",
          "ip link set eth0.4094 up"},
         "VLAN 42 removed"},
        {"id 0 refused", backBoard(480, 0, 18, 1, 0), {480, 0, 18}, {}, "VLAN id 0 refused"},
        {"id 4095 refused", backBoard(480, 0, 18, 1, 4095), {480, 0, 18}, {}, "VLAN id 4095 refused"},
        {"VLAN off", backBoard(480, 0, 18, 0, 4094), {480, 0, 18}, {"ip link delete eth0.4094"}, "VLAN 4094 removed"},
        {"off stays off", backBoard(-720, 1, 0, 0, 9), {-720, 1, 0}, {}, ""},
    };
    EXPECT_EQ(Resource_GetTimeSettings(), BoardTimeSettings{});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        Command_ClearRecorded();
        env_.TakeConsole();
        ASSERT_EQ(Resource_SetSlotResource(16, step.record.data()), 0u);
        EXPECT_EQ(Resource_GetTimeSettings(), step.time);
        EXPECT_EQ(Command_Recorded(), step.commands);
        EXPECT_THAT(env_.Console(), HasSubstr(step.log));
    }
}

class DeleteChannelSupportTest : public BoardStateTest {
protected:
    DeleteChannelSupportTest() {
        // Own slot 3; the back board is no input or output board.
        Resource_GetHandle(16)->u8BoardType = 0x40;
    }
    static void Board(U32 slot, U8 type, U8 canDelete) {
        Resource_GetHandle(slot)->u8BoardType = type;
        Resource_GetHandle(slot)->u8isDelChannelProg = canDelete;
    }
};

TEST_F(DeleteChannelSupportTest, AsksOnlyPluggedInputAndOutputBoards) {
    EditProfile([](RunProfile& profile) { profile.simSlotId = 3; });
    PowerOn();
    Status_Init();
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 1);  // nobody to ask

    Board(3, 33, 0);  // the board itself
    Board(6, 1, 0);   // not plugged
    Board(8, 0x41, 0);
    Status_SetSubBoardPlugStatus(1u << 3 | 1u << 8);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 1);

    Board(5, 1, 1);
    Status_SetSubBoardPlugStatus(1u << 3 | 1u << 5 | 1u << 8);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 1);
    Board(5, 1, 0);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 0);

    Board(16, 0x20, 0);  // the back board is always asked when it is a TS board
    Board(5, 1, 1);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 0);
}

TEST_F(DeleteChannelSupportTest, WalksTheUserInterfaceSlotsOfTheChassis) {
    Board(2, 1, 0);  // hardware slot 2 has no place in the renumbered chassis
    Status_SetSubBoardPlugStatus(1u << 2);
    VKSYS_SetZelType(0);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 0);
    VKSYS_SetZelType(1);
    EXPECT_EQ(Resource_IsAllBoardSupportDelChannelProg(), 1);
}

TEST_F(BoardStatusTest, CustomerVariantFollowsTheRunProfile) {
    EXPECT_EQ(IsQuenlorCustom(), 0);
    EditProfile([](RunProfile& profile) { profile.customVariant = true; });
    EXPECT_EQ(IsQuenlorCustom(), 1);
}

}  // namespace
}  // namespace hx::test

// Messages this board originates, against simulated chassis boards on loopback
// TCP and the simulated serial back board: their byte layouts, the repeat rule
// of the resource and progress reports, the EIT list, network settings from
// the back board, and both reboot paths through the command runner.
#include "chassis/ipcomm_messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "chassis/eit_list.h"
#include "chassis/ipcomm_cmd.h"
#include "chassis/upgrade.h"
#include "core/command_runner.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/resource.h"
#include "platform/uart_comm.h"
#include "sim/sim_back_board.h"
#include "support/ipcomm_recorder.h"
#include "support/model_builder.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr U8 kOwnSlot = 9;
constexpr U8 kEitSlot = 6;
constexpr std::uint64_t kSecond = 1'000'000;
constexpr U32 kRegOwnAddress = 291;  // where FPGA_Set_IP0 puts the own address
// A loopback address no simulated board listens on: connections are refused.
constexpr U32 kNobodyListens = 0x7F000063;  // 127.0.0.99

std::vector<U8> Concat(std::initializer_list<std::vector<U8>> parts) {
    std::vector<U8> all;
    for (const std::vector<U8>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::vector<U8> Text(const char* text, std::size_t width) {
    std::vector<U8> bytes(width, 0);
    std::memcpy(bytes.data(), text, std::strlen(text));
    return bytes;
}

// ---------------------------------------------------------------------------
// Byte layouts

TEST(MessageLayout, EitRecordPutsEveryFieldAtItsOffset) {
    Output_EIT record;
    record.u8Enable = 0x01;
    record.u8ValidFlag = 0x02;
    record.u8SourceSlotID = 0x03;
    record.u8EitSlotID = 0x04;
    record.u8SlotID = 0x05;
    record.u8SrcPort = 0x06;
    record.u16SourceChannelID = 0x0807;
    record.u16EitChannelID = 0x0A09;
    record.u16ChannelID = 0x0C0B;
    record.u16SrcStreamId = 0x0E0D;
    record.u16TSIndex = 0x100F;
    record.u16Index = 0x1211;
    record.u16ProgramID = 0x1413;
    record.u16NextIndex = 0x1615;
    record.u16OldServiceID = 0x1817;
    record.u16ServiceID = 0x1A19;
    record.u16TransportStreamID = 0x1C1B;
    record.u16OriginalNetworkId = 0x1E1D;
    record.u8ServiceNameLen = 4;
    record.u8ServiceProviderLen = 3;
    std::memcpy(record.aru8ServiceName.data(), "News", 4);
    std::memcpy(record.aru8ServiceProvider.data(), "ACME", 4);
    record.u8EitVersionNumber = 0x1F;

    std::vector<U8> expected = Concat({
        {0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
        {0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12},
        {0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E},
        {4, 3},
        Text("News", 32),
        Text("ACME", 32),
        {0x1F},
    });
    expected.resize(kEitRecordSize, 0);  // reserved bytes 97-179 stay zero
    ASSERT_EQ(expected.size(), 180u);

    const auto bytes = EIT_Serialize(record);
    EXPECT_THAT(bytes, ElementsAreArray(expected));
    EXPECT_THAT(EIT_Serialize(EIT_Parse(expected.data())), ElementsAreArray(expected));
}

TEST(MessageLayout, UpgradeRecordIsFortyLittleEndianBytes) {
    st_VK_UPGRADE record;
    record.u8SlotID = 9;
    record.u8Res = 0x0201;
    record.u32TmpVersion = 0x0001010D;
    record.u32ErrorCode = 2049;
    record.u16CMD = 3847;
    record.u8CurUpgradeProFlag = 5;
    record.u8SumUpgradeProFlag = 10;
    record.u8CommStatusFlag = 1;
    record.u8UpgradeStatusFlag = 1;
    record.u32BoardSoftVersion = 0x00140714;
    record.u32BoardLogicVersion = 0x01020304;
    record.u32FileSoftVersion = 0x00150000;
    record.u32FileLogicVersion = 0x05060708;
    record.u8BoardType = 33;

    const std::vector<U8> expected = {
        9,    0x01, 0x02, 0,                // slot, reserved, alignment
        0x0D, 0x01, 0x01, 0x00,             // u32TmpVersion
        0x01, 0x08, 0x00, 0x00,             // u32ErrorCode 2049
        0x07, 0x0F, 5,    10,               // u16CMD 3847, current and final step
        1,    1,    0,    0,                // status flags, alignment
        0x14, 0x07, 0x14, 0x00,             // u32BoardSoftVersion
        0x04, 0x03, 0x02, 0x01,             // u32BoardLogicVersion
        0x00, 0x00, 0x15, 0x00,             // u32FileSoftVersion
        0x08, 0x07, 0x06, 0x05,             // u32FileLogicVersion
        33,   0,    0,    0,                // board type, alignment
    };
    EXPECT_THAT(Upgrade_Serialize(record), ElementsAreArray(expected));

    const auto parsed = Upgrade_Parse(expected);
    ASSERT_TRUE(parsed);
    EXPECT_THAT(Upgrade_Serialize(*parsed), ElementsAreArray(expected));
    EXPECT_FALSE(Upgrade_Parse(std::span(expected).first(39)));

    // A fresh record as start-up leaves it before the profile is filled.
    EXPECT_THAT(Upgrade_Serialize(st_VK_UPGRADE{}),
                ElementsAre(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x0F, 0, 10, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
}

// ---------------------------------------------------------------------------
// A board in slot 9 of a simulated chassis: every other slot listens on
// loopback, the serial back board answers on the profile's device.

struct Arrival {
    U32 slot;
    U16 command;
    std::uint64_t atMicros;      // virtual time of the exchange
    bool modelLockFree;          // the sender did not hold the model lock
    std::size_t commandsBefore;  // host commands recorded by then
};

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        RunProfile profile = Profile();
        profile.simSlotId = kOwnSlot;
        profile.serialReadTimeoutMs = 2000;  // answers come at once; only a silent back board waits
        SetProfile(profile);
        board_.emplace();
        Resource_Reset();
        Status_Init();
        Resource_Init();
        Status_SetIPReqflag(1);
        peers_.emplace();
        peers_->chassis().SetPrinter([this](const std::string& line) { Note(line); });
        ASSERT_TRUE(serial_.Start(env_.Path(Profile().serialDevice)));
        ASSERT_EQ(UartComm_init(), 0u);
        UpgradeProFlag_Set(st_VK_UPGRADE{});
        Command_ClearRecorded();
        env_.TakeConsole();
    }

    void TearDown() override {
        peers_.reset();
        UartComm_Close();
        serial_.Stop();
        Resource_Reset();
        UpgradeProFlag_Set(st_VK_UPGRADE{});
    }

    // Called by the simulated board's thread for every packet it reads.
    void Note(const std::string& line) {
        // "slot S <- slot F: NAME (CMD) packet ..."
        unsigned slot = 0;
        unsigned from = 0;
        if (std::sscanf(line.c_str(), "slot %u <- slot %u:", &slot, &from) != 2) {
            return;
        }
        const auto open = line.find('(');
        const U16 command = static_cast<U16>(std::stoul(line.substr(open + 1)));
        TSP_ModelLock probe(std::try_to_lock);
        std::lock_guard lock(mutex_);
        arrivals_.push_back(
            Arrival{slot, command, env_.clock().MonotonicMicros(), probe.owns_lock(), Command_Recorded().size()});
    }
    std::vector<Arrival> Arrivals() {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }
    // Virtual times of the exchanges, relative to the first.
    std::vector<std::uint64_t> ExchangeTimes() {
        std::vector<std::uint64_t> times;
        for (const Arrival& arrival : Arrivals()) {
            times.push_back(arrival.atMicros - Arrivals().front().atMicros);
        }
        return times;
    }
    U32 SecondSleeps() {
        const auto sleeps = env_.clock().SleepHistory();
        return static_cast<U32>(std::count(sleeps.begin(), sleeps.end(), kSecond));
    }
    U32 AllExchanges() {
        U32 total = 0;
        for (U32 slot = 0; slot <= 16; ++slot) {
            total += peers_->chassis().Exchanges(slot);
        }
        return total;
    }
    static std::vector<std::pair<U32, U32>> SlotsAndCommands(const std::vector<IPCommRecordedSend>& sends) {
        std::vector<std::pair<U32, U32>> result;
        for (const IPCommRecordedSend& send : sends) {
            result.emplace_back(send.slot, send.command);
        }
        return result;
    }
    static std::vector<U8> OwnRecord() {
        const ResourceBytes bytes = Resource_Serialize(*Resource_getSelfHandle());
        return {bytes.begin(), bytes.end()};
    }
    static U32 Reg(U32 index) {
        U32 value = 0xDEADBEEF;
        REG_Read(index, &value);
        return value;
    }
    static void MakeEitBoard(U8 slot) {
        Resource_GetHandle(slot)->u8BoardType = kEitBoardType;
        Resource_GetHandle(slot)->u8EitEnable = 1;
    }

    test::TestEnvironment env_;
    std::optional<test::SimBoard> board_;
    std::optional<test::ChassisPeers> peers_;
    SimBackBoard serial_;
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
};

// ---------------------------------------------------------------------------
// Resource announcement

TEST_F(MessagesTest, ResourceAnnouncementRepeatsUntilSuccessOrTwentyOneSends) {
    struct Case {
        const char* name;
        U32 failingSends;  // answered with errors (1540 each)
        bool refused;      // the back board does not listen (1539)
        U32 sends;
        std::vector<U32> reported;  // error codes over the serial line
    };
    const std::vector<Case> cases = {
        {"first send succeeds", 0, false, 1, {}},
        {"success at the third send", 2, false, 3, {}},
        {"success at the last send", 20, false, 21, {}},
        {"never acknowledged", 21, false, 21, {VK_ERR_IPCOMM_TIME_OUT}},
        {"back board not listening", 0, true, 21, {VK_ERR_SOCKET_CONNECT_FAIL}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard lock(mutex_);
            arrivals_.clear();
        }
        const std::size_t sleepsBefore = env_.clock().SleepHistory().size();
        const std::vector<U32> reportedBefore = serial_.acknowledgedErrorCodes();
        env_.TakeConsole();
        IPComm_FailNextSends(VK_ERR_IPCOMM_TIME_OUT, c.failingSends);
        Resource_SetBackBoardIpAddr(c.refused ? kNobodyListens : SimBoardAddress(16));

        EXPECT_EQ(IPComm_SendResourceToBb(), 0u);

        // Every send of 1540 is three exchanges; a refused one none.
        const U32 perSend = c.refused ? 0 : 3;
        const U32 exchanges = c.refused ? 0 : c.failingSends * perSend + (c.sends > c.failingSends ? 1 : 0);
        EXPECT_EQ(Arrivals().size(), exchanges);
        // The second send goes at once, every later one a second after the one before.
        std::vector<std::uint64_t> expectedTimes;
        for (U32 send = 0; send < c.sends && !c.refused; ++send) {
            const U32 attempts = send < c.failingSends ? 3 : 1;
            expectedTimes.insert(expectedTimes.end(), attempts, send == 0 ? 0 : (send - 1) * kSecond);
        }
        EXPECT_EQ(ExchangeTimes(), expectedTimes);
        const auto sleeps = env_.clock().SleepHistory();
        EXPECT_EQ(std::vector<std::uint64_t>(sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsBefore), sleeps.end()),
                  std::vector<std::uint64_t>(c.sends - 1, kSecond));

        const auto sends = IPComm_TakeRecordedSends();
        if (c.sends > c.failingSends && !c.refused) {
            ASSERT_EQ(sends.size(), 1u);
            EXPECT_EQ(sends[0].slot, 16u);
            EXPECT_EQ(sends[0].command, 257u);
            EXPECT_EQ(sends[0].data, OwnRecord());
            EXPECT_THAT(env_.Console(), Not(HasSubstr("Fail")));
        } else {
            EXPECT_THAT(sends, IsEmpty());
            EXPECT_THAT(env_.Console(), HasSubstr(c.refused ? "Send Resource To BackBoard:0x7f000063 Fail"
                                                            : "Send Resource To BackBoard:0x7f000010 Fail"));
        }
        std::vector<U32> reported = reportedBefore;
        reported.insert(reported.end(), c.reported.begin(), c.reported.end());
        EXPECT_EQ(serial_.acknowledgedErrorCodes(), reported);
        IPComm_FailNextSends(0);
    }
}

TEST_F(MessagesTest, ResourceAnnouncementAsksTheSerialLineFirstWhenItHadFailed) {
    // Start-up never heard from the serial back board; the back board's
    // record still names a board that does not answer.
    Status_SetIPReqflag(0);
    Resource_SetBackBoardIpAddr(0x7F000063);  // 127.0.0.99

    EXPECT_EQ(IPComm_SendResourceToBb(), 0u);

    EXPECT_EQ(serial_.networkRequests(), 1u);
    EXPECT_EQ(Status_GetIPReqflag(), 1);
    const std::string console = env_.Console();
    EXPECT_THAT(console, HasSubstr("BackBoard ip:0x7f000063,so Last get Ip by uart"));
    EXPECT_THAT(console, HasSubstr("Last get backboard Ip 0x7f000010 by uart"));
    EXPECT_EQ(Reg(kRegOwnAddress), Resource_getSelfHandle()->u32IPAddress) << "the own address went to the FPGA again";
    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].slot, 16u) << "sent to the address the serial line gave";
    EXPECT_EQ(sends[0].data, OwnRecord());
}

TEST_F(MessagesTest, ResourceAnnouncementGoesOnWhenTheSerialLineStaysSilent) {
    Status_SetIPReqflag(0);
    serial_.SetFault(SimBackBoard::Fault::Silent, kUartGetIpTries);
    RunProfile profile = Profile();
    profile.serialReadTimeoutMs = 10;
    profile.fallbackBackBoardAddress = SimBoardAddress(16);
    SetProfile(profile);

    EXPECT_EQ(IPComm_SendResourceToBb(), 0u);

    EXPECT_THAT(env_.Console(), HasSubstr("uart last get backboard IP fail"));
    EXPECT_EQ(Status_GetIPReqflag(), 0);
    EXPECT_THAT(SlotsAndCommands(IPComm_TakeRecordedSends()), ElementsAre(std::pair<U32, U32>{16, 257}));
}

// ---------------------------------------------------------------------------
// EIT list

class EitListTest : public MessagesTest {
protected:
    void SetUp() override {
        MessagesTest::SetUp();
        models_.emplace(TSInfoInitNum{0, 600, 0, 0, 0, 0});
    }
    void TearDown() override {
        models_.reset();
        MessagesTest::TearDown();
    }

    // Channel 2: two named programs from slot 3, SDT version 4. Channel 5: a
    // pass-through stream. Channel 7: one program from slot 5, SDT version 31.
    void BuildModel() {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        test::ModelBuilder builder(live);
        const U16 first = builder.AddStream(2);
        live->pOutputTS[first].u16TransportStreamID = 0x0102;
        live->pOutputTS[first].u16OriginalNetworkID = 0x0304;
        live->pOutputTS[first].u8SDTVersionNumber = 4;
        Name(live, builder.AddProgram(first, {.sourceSlot = 3, .sourceChannel = 1, .programId = 11, .serviceId = 101}),
             "One", "Prov", 0x21, 2, 1001);
        Name(live, builder.AddProgram(first, {.sourceSlot = 3, .sourceChannel = 1, .programId = 12, .serviceId = 102}),
             "Two", "", 0x22, 3, 1002);
        const U16 bypass = builder.AddStream(5);
        live->pOutputTS[bypass].u8BypassFlag = 1;
        const U16 last = builder.AddStream(7);
        live->pOutputTS[last].u16TransportStreamID = 0x0708;
        live->pOutputTS[last].u16OriginalNetworkID = 0x090A;
        live->pOutputTS[last].u8SDTVersionNumber = 31;
        Name(live, builder.AddProgram(last, {.sourceSlot = 5, .sourceChannel = 4, .programId = 13, .serviceId = 103}),
             "Three", "P3", 0x23, 0, 1003);
    }
    static void Name(Output_TSInfo* live, U16 index, const char* name, const char* provider, U8 slot, U8 port,
                     U16 stream) {
        ASSERT_NE(index, 0xFFFF);
        Output_TSProgram& program = live->pOutputProgram[index];
        program.u8SlotID = slot;
        program.u8SrcPort = port;
        program.u16SrcStreamId = stream;
        // The builder gave the input service ID; the output one differs.
        program.u16ServiceID = program.u16OldServiceID;
        program.u16OldServiceID = static_cast<U16>(program.u16ServiceID + 0x1000);
        std::memset(program.aru8ServiceName, 0, sizeof program.aru8ServiceName);
        std::memset(program.aru8ServiceProvider, 0, sizeof program.aru8ServiceProvider);
        program.u8ServiceNameLen = static_cast<U8>(std::strlen(name));
        std::memcpy(program.aru8ServiceName, name, std::strlen(name));
        program.u8ServiceProviderLen = static_cast<U8>(std::strlen(provider));
        std::memcpy(program.aru8ServiceProvider, provider, std::strlen(provider));
    }
    // The record the EIT board must see for one program, written out by hand.
    static std::vector<U8> Record(U8 sourceSlot, U8 slot, U8 port, U16 sourceChannel, U16 channel, U16 stream,
                                  U16 tsIndex, U16 index, U16 programId, U16 serviceId, U16 tsid, U16 onid,
                                  const char* name, const char* provider, U8 version) {
        auto le = [](U16 value) { return std::vector<U8>{static_cast<U8>(value), static_cast<U8>(value >> 8)}; };
        std::vector<U8> bytes = Concat({{1, 0, sourceSlot, 0, slot, port},
                                        le(sourceChannel), le(0), le(channel), le(stream), le(tsIndex), le(index),
                                        le(programId), le(0), le(static_cast<U16>(serviceId + 0x1000)),
                                        le(serviceId), le(tsid), le(onid),
                                        {static_cast<U8>(std::strlen(name)), static_cast<U8>(std::strlen(provider))},
                                        Text(name, 32), Text(provider, 32), {version}});
        bytes.resize(kEitRecordSize, 0);
        return bytes;
    }
    static U16 StreamOf(U16 channel) {
        TSP_ModelLock lock;
        U16 index = 0xFFFF;
        TSP_GetOutputTSIndexByTS(channel, &index);
        return index;
    }

    std::optional<test::ScopedSharedModels> models_;
};

TEST_F(EitListTest, ListOfTheMultiplexedProgramsThenTheEndCommandToTheEitBoard) {
    BuildModel();
    MakeEitBoard(kEitSlot);
    MakeEitBoard(12);  // the lowest slot is the EIT board

    EXPECT_EQ(IPComm_SendEITInfo(), 0u);

    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_THAT(SlotsAndCommands(sends), ElementsAre(std::pair<U32, U32>{kEitSlot, 278}, std::pair<U32, U32>{kEitSlot, 279}));
    const U16 first = StreamOf(2);
    const U16 last = StreamOf(7);
    const std::vector<U8> expected = Concat({
        {3, 0, 0, 0},
        Record(3, 0x21, 2, 1, 2, 1001, first, 0, 11, 101, 0x0102, 0x0304, "One", "Prov", 5),
        Record(3, 0x22, 3, 1, 2, 1002, first, 1, 12, 102, 0x0102, 0x0304, "Two", "", 5),
        Record(5, 0x23, 0, 4, 7, 1003, last, 2, 13, 103, 0x0708, 0x090A, "Three", "P3", 0),  // SDT version 31 wraps
    });
    EXPECT_EQ(sends[0].data.size(), 4u + 3 * 180);
    EXPECT_THAT(sends[0].data, ElementsAreArray(expected));
    EXPECT_THAT(sends[1].data, IsEmpty());

    // Built under the model lock, sent with it released.
    const auto arrivals = Arrivals();
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_TRUE(arrivals[0].modelLockFree);
    EXPECT_TRUE(arrivals[1].modelLockFree);
}

TEST_F(EitListTest, AStoredLengthPastTheNameFieldIsCappedAsTheSdtCapsIt) {
    BuildModel();
    {
        TSP_ModelLock lock;
        Output_TSProgram& program = TSP_GetTSParam()->pOutputProgram[0];
        std::memset(program.aru8ServiceName, 'N', sizeof program.aru8ServiceName);
        program.u8ServiceNameLen = 200;
        program.u8ServiceProviderLen = 33;
    }

    const auto records = EIT_BuildList();

    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].u16ProgramID, 11);
    EXPECT_EQ(records[0].u8ServiceNameLen, 32);
    EXPECT_EQ(records[0].u8ServiceProviderLen, 32);
    EXPECT_THAT(records[0].aru8ServiceName, Each(U8{'N'}));
}

TEST_F(EitListTest, NoEitBoardMeansNoConnectionAndSuccess) {
    BuildModel();
    Resource_GetHandle(kEitSlot)->u8BoardType = kEitBoardType;  // EIT switched off
    Resource_GetHandle(4)->u8EitEnable = 1;                      // not the EIT type

    EXPECT_EQ(IPComm_SendEITInfo(), 0u);

    EXPECT_EQ(AllExchanges(), 0u);
    EXPECT_THAT(env_.Console(), HasSubstr("Resource_GetEITBoardSlot error, EIT board is not exist."));
}

TEST_F(EitListTest, OnlyPassThroughStreamsSendAnEmptyList) {
    {
        TSP_ModelLock lock;
        test::ModelBuilder builder(TSP_GetTSParam());
        for (U16 channel : {0, 15}) {
            const U16 stream = builder.AddStream(channel);
            TSP_GetTSParam()->pOutputTS[stream].u8BypassFlag = 1;
            builder.AddProgram(stream, {});
        }
    }
    MakeEitBoard(kEitSlot);

    EXPECT_EQ(IPComm_SendEITInfo(), 0u);

    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_THAT(SlotsAndCommands(sends), ElementsAre(std::pair<U32, U32>{kEitSlot, 278}, std::pair<U32, U32>{kEitSlot, 279}));
    EXPECT_THAT(sends[0].data, ElementsAre(0, 0, 0, 0));
}

TEST_F(EitListTest, TheChannelThatWouldPassFiveHundredEndsTheList) {
    // 15 channels of 32 programs, then 21 more on channel 15: 501 in all.
    {
        TSP_ModelLock lock;
        test::ModelBuilder builder(TSP_GetTSParam());
        U16 id = 1;
        for (U16 channel = 0; channel < 16; ++channel) {
            const U16 stream = builder.AddStream(channel);
            for (U16 i = 0; i < (channel < 15 ? 32 : 21); ++i, ++id) {
                ASSERT_NE(builder.AddProgram(stream, {.programId = id, .serviceId = id}), 0xFFFF);
            }
        }
    }
    MakeEitBoard(kEitSlot);

    EXPECT_EQ(IPComm_SendEITInfo(), 0u);

    EXPECT_THAT(env_.Console(), HasSubstr("u32OutputEITNumber out of range[500]!"));
    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_THAT(SlotsAndCommands(sends), ElementsAre(std::pair<U32, U32>{kEitSlot, 278}, std::pair<U32, U32>{kEitSlot, 279}));
    ASSERT_EQ(sends[0].data.size(), 4u + 480 * 180);
    EXPECT_EQ(GetLe32(sends[0].data.data()), 480u);
    const Output_EIT last = EIT_Parse(sends[0].data.data() + 4 + 479 * 180);
    EXPECT_EQ(last.u16Index, 479);
    EXPECT_EQ(last.u16ChannelID, 14);
    EXPECT_EQ(last.u16OldServiceID, 480);
    // 86,404 bytes go in packets of 1,400, one exchange each.
    EXPECT_EQ(peers_->chassis().Exchanges(kEitSlot), 62u + 1);
}

TEST_F(EitListTest, AStreamWhoseProgramChainIsBrokenIsLeftOut) {
    BuildModel();
    MakeEitBoard(kEitSlot);
    {
        TSP_ModelLock lock;
        Output_TSInfo* live = TSP_GetTSParam();
        live->pOutputProgram[live->pOutputTS[StreamOf(2)].u16ProgramIndex].u8ValidFlag = 0;
    }

    EXPECT_EQ(IPComm_SendEITInfo(), 0u);

    EXPECT_THAT(env_.Console(), HasSubstr("TSP_GetOutTSProgIndexList fail error[0xc0000]"));
    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_EQ(sends.size(), 2u);
    ASSERT_EQ(GetLe32(sends[0].data.data()), 1u) << "channel 7 is still listed";
    const Output_EIT only = EIT_Parse(sends[0].data.data() + 4);
    EXPECT_EQ(only.u16ChannelID, 7);
    EXPECT_EQ(only.u16Index, 0);
}

TEST_F(EitListTest, AFailedListSuppressesTheEndCommand) {
    BuildModel();
    MakeEitBoard(kEitSlot);
    peers_->chassis().SetAnswer(kEitSlot, SimAnswer::Error);

    EXPECT_EQ(IPComm_SendEITInfo(), static_cast<U32>(VK_ERR_IPCOMM_TIME_OUT));

    EXPECT_THAT(env_.Console(), HasSubstr("IPComm_SendData2Slot error[0x604]"));
    EXPECT_EQ(peers_->chassis().Exchanges(kEitSlot), 3u) << "only the list's three attempts";
}

TEST_F(EitListTest, AFailedEndCommandIsLoggedAndReturned) {
    BuildModel();
    MakeEitBoard(kEitSlot);
    // The list goes in; the end command is answered with errors.
    peers_->chassis().SetCommandAnswer(IPCOMM_SEND_EITINFO_OVER, SimAnswer::Error);

    EXPECT_EQ(IPComm_SendEITInfo(), static_cast<U32>(VK_ERR_IPCOMM_TIME_OUT));

    EXPECT_THAT(env_.Console(), HasSubstr("IPComm_SendCmd2Slot error[0x604]"));
    EXPECT_THAT(SlotsAndCommands(IPComm_TakeRecordedSends()), ElementsAre(std::pair<U32, U32>{kEitSlot, 278}));
}

// ---------------------------------------------------------------------------
// Upgrade progress

TEST_F(MessagesTest, ProgressGoesOnlyWhenTheStepChanged) {
    st_VK_UPGRADE record;
    record.u8SlotID = kOwnSlot;
    record.u8BoardType = 33;
    record.u8CurUpgradeProFlag = upgrade_doing;
    UpgradeProFlag_Set(record);
    U8 lastSent = upgrade_idle;

    EXPECT_EQ(IPComm_SendUpProFlagToBackBoard(&lastSent), 0u);
    EXPECT_EQ(lastSent, upgrade_doing);
    EXPECT_EQ(IPComm_SendUpProFlagToBackBoard(&lastSent), 0u);  // same step: nothing

    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_THAT(SlotsAndCommands(sends), ElementsAre(std::pair<U32, U32>{16, 3847}));
    EXPECT_THAT(sends[0].data, ElementsAreArray(Upgrade_Serialize(record)));
    EXPECT_EQ(sends[0].data[14], upgrade_doing);
    EXPECT_THAT(env_.Console(), HasSubstr("Start Send PROCESS UPGRADE To BackBoard:0x7f000010"));
    EXPECT_EQ(AllExchanges(), 1u);
}

TEST_F(MessagesTest, ProgressThatCannotBeDeliveredClearsTheCommunicationFlag) {
    UpgradeProFlag_SetStep(upgrade_fail);
    U8 lastSent = upgrade_doing;
    IPComm_FailNextSends(VK_ERR_IPCOMM_TIME_OUT, kAnnounceSends);

    EXPECT_EQ(IPComm_SendUpProFlagToBackBoard(&lastSent), 0u);

    EXPECT_EQ(lastSent, upgrade_fail);
    EXPECT_EQ(peers_->chassis().Exchanges(16), 3 * kAnnounceSends);
    EXPECT_EQ(SecondSleeps(), kAnnounceSends - 1);
    EXPECT_EQ(UpgradeProFlag_Get().u8CommStatusFlag, 0);
    EXPECT_THAT(env_.Console(), HasSubstr("Send PROCESS UPGRADE To BackBoard:0x7f000010 Fail"));
    EXPECT_THAT(serial_.acknowledgedErrorCodes(), ElementsAre(VK_ERR_IPCOMM_TIME_OUT));
    EXPECT_THAT(IPComm_TakeRecordedSends(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Network settings from the back board

std::vector<U8> Settings(U32 backBoard, U32 own, U32 mask, U32 gateway) {
    std::vector<U8> bytes(16);
    PutLe32(bytes.data(), backBoard);
    PutLe32(bytes.data() + 4, own);
    PutLe32(bytes.data() + 8, mask);
    PutLe32(bytes.data() + 12, gateway);
    return bytes;
}

TEST_F(MessagesTest, NetworkSettingsFromTheBackBoardAreTakenOverAndAnnounced) {
    Resource_SetBackBoardIpAddr(0x7F000063);  // to be replaced
    const std::vector<U8> data = Settings(SimBoardAddress(16), 0x7F000029, 0xFFFFFF00, 0x7F0000FE);

    EXPECT_EQ(IPComm_ChangeIP(16, data.data()), 0u);
    IPComm_WaitAnnouncement();

    EXPECT_EQ(Resource_getBoardIPAddress(16), SimBoardAddress(16));
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F000029u);
    EXPECT_EQ(Reg(kRegOwnAddress), 0x7F000029u);
    const std::vector<std::string> commands = Command_Recorded();
    const std::vector<std::string> wanted = {"ifconfig eth0 127.0.0.41 netmask 255.255.255.0",
                                             "ifconfig eth0 netmask 255.255.255.0", "route del default",
                                             "route add default gw 127.0.0.254"};
    // The own address, then the netmask and the gateway, in this order (the
    // FPGA step in between also sets up the second port).
    std::vector<std::string> seen;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(seen), [&](const std::string& command) {
        return std::find(wanted.begin(), wanted.end(), command) != wanted.end();
    });
    EXPECT_EQ(seen, wanted);
    EXPECT_THAT(env_.Console(), HasSubstr("u32BBIPAddr[0x7f000010],u32SelfIPAddr[0x7f000029]"));

    const auto sends = IPComm_TakeRecordedSends();
    ASSERT_THAT(SlotsAndCommands(sends), ElementsAre(std::pair<U32, U32>{16, 257}));
    EXPECT_EQ(GetLe32(sends[0].data.data() + 4), 0x7F000029u) << "the record carries the new address";
    const auto arrivals = Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    // A pause of a second after the gateway, then the record (and nothing after it).
    EXPECT_EQ(env_.clock().SleepHistory().back(), kSecond);
    EXPECT_EQ(arrivals[0].atMicros, env_.clock().MonotonicMicros());
}

TEST_F(MessagesTest, NetworkSettingsAreRefusedFromAnyOtherSenderOrWhenInvalid) {
    const std::vector<U8> good = Settings(SimBoardAddress(16), 0x7F000029, 0xFFFFFF00, 0x7F0000FE);
    struct Case {
        const char* name;
        U32 sender;
        std::vector<U8> data;
        const char* log;
    };
    const std::vector<Case> cases = {
        {"from slot 5", 5, good, "Input Para Error u32slot[5]..."},
        {"from slot 17", 17, good, "Input Para Error u32slot[17]..."},
        {"own address 0", 16, Settings(SimBoardAddress(16), 0, 0xFFFFFF00, 0x7F0000FE), "Network settings refused"},
        {"multicast back board", 16, Settings(0xE0000001, 0x7F000029, 0xFFFFFF00, 0), "Network settings refused"},
        {"broken netmask", 16, Settings(SimBoardAddress(16), 0x7F000029, 0xFF00FF00, 0), "Network settings refused"},
    };
    const U32 ownBefore = Resource_getSelfHandle()->u32IPAddress;
    Resource_SetBackBoardIpAddr(SimBoardAddress(16));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env_.TakeConsole();
        EXPECT_EQ(IPComm_ChangeIP(c.sender, c.data.data()), 1u);
        EXPECT_THAT(env_.Console(), HasSubstr(c.log));
    }
    EXPECT_EQ(IPComm_ChangeIP(16, nullptr), 1u);
    EXPECT_THAT(Command_Recorded(), IsEmpty());
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, ownBefore);
    EXPECT_EQ(Resource_getBoardIPAddress(16), SimBoardAddress(16));
    EXPECT_EQ(AllExchanges(), 0u);
}

TEST_F(MessagesTest, NetworkSettingsSurviveASerialLineThatIsDown) {
    // Start-up fell back to the built-in addresses; now the back board sends
    // the real ones over the link while the serial line still does not answer.
    Status_SetIPReqflag(0);
    serial_.SetFault(SimBackBoard::Fault::Silent);
    RunProfile profile = Profile();
    profile.serialReadTimeoutMs = 10;
    SetProfile(profile);
    const std::vector<U8> data = Settings(SimBoardAddress(16), 0x7F000029, 0xFFFFFF00, 0x7F0000FE);

    EXPECT_EQ(IPComm_ChangeIP(16, data.data()), 0u);
    IPComm_WaitAnnouncement();

    EXPECT_EQ(serial_.networkRequests(), 0u);
    EXPECT_EQ(Resource_getBoardIPAddress(16), SimBoardAddress(16));
    EXPECT_EQ(Resource_getSelfHandle()->u32IPAddress, 0x7F000029u);
    EXPECT_THAT(SlotsAndCommands(IPComm_TakeRecordedSends()), ElementsAre(std::pair<U32, U32>{16, 257}));
}

// ---------------------------------------------------------------------------
// Clear order

TEST_F(MessagesTest, ClearOrderGoesToTheSlotAndReturnsTheSendResult) {
    EXPECT_EQ(IPComm_SendClearCmd2Slot(5), 0);
    EXPECT_THAT(SlotsAndCommands(IPComm_TakeRecordedSends()), ElementsAre(std::pair<U32, U32>{5, 266}));

    Resource_GetHandle(5)->u32IPAddress = kNobodyListens;
    EXPECT_EQ(IPComm_SendClearCmd2Slot(5), VK_ERR_SOCKET_CONNECT_FAIL);
    peers_->chassis().SetAnswer(7, SimAnswer::Error);
    EXPECT_EQ(IPComm_SendClearCmd2Slot(7), VK_ERR_IPCOMM_TIME_OUT);
    EXPECT_EQ(IPComm_SendClearCmd2Slot(17), VK_ERR_SOCKET_CONNECT_FAIL);
    EXPECT_THAT(IPComm_TakeRecordedSends(), IsEmpty());
}

// ---------------------------------------------------------------------------
// Reboot

TEST_F(MessagesTest, RebootRequestMakesThreeAttemptsAtMost) {
    struct Case {
        const char* name;
        SimAnswer answer;
        U32 answerCount;
        U32 backBoard;
        U32 result;
        U32 exchanges;
    };
    const std::vector<Case> cases = {
        {"accepted", SimAnswer::Success, 0, SimBoardAddress(16), VK_SUCCESS, 1},
        {"accepted at the third", SimAnswer::Error, 2, SimBoardAddress(16), VK_SUCCESS, 3},
        {"always refused", SimAnswer::Error, SimChassis::kForever, SimBoardAddress(16), VK_ERR_FAILURE, 3},
        {"closed without reply", SimAnswer::Close, SimChassis::kForever, SimBoardAddress(16), VK_ERR_FAILURE, 3},
        {"not listening", SimAnswer::Success, 0, kNobodyListens, VK_ERR_SOCKET_CONNECT_FAIL, 0},
        {"address outside loopback", SimAnswer::Success, 0, 0xC0A8010A, VK_ERR_SOCKET_CONNECT_FAIL, 0},
        {"address 0", SimAnswer::Success, 0, 0, VK_ERR_SOCKET_CONNECT_FAIL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const U32 before = peers_->chassis().Exchanges(16);
        Resource_SetBackBoardIpAddr(c.backBoard);
        peers_->chassis().SetAnswer(16, c.answer, c.answerCount);
        env_.TakeConsole();

        EXPECT_EQ(IPComm_SendRebootSubCmd(), c.result);

        EXPECT_EQ(peers_->chassis().Exchanges(16) - before, c.exchanges);
        const std::string console = env_.Console();
        std::size_t starts = 0;
        for (auto at = console.find("Start Reboot Subboard..."); at != std::string::npos;
             at = console.find("Start Reboot Subboard...", at + 1)) {
            ++starts;
        }
        EXPECT_EQ(starts, std::max<U32>(c.exchanges, 1)) << console;
        peers_->chassis().SetAnswer(16, SimAnswer::Success, 0);
    }
    EXPECT_THAT(Command_Recorded(), IsEmpty());
}

const std::vector<std::string> kPreparation = {"killall -9 syslogd", "sync", "sync", "umount /vandik_data",
                                               "ubidetach -m 8"};

TEST_F(MessagesTest, PreparationStopsLoggingThenRunsTheHostCommandsInOrder) {
    log_Init("/vandik_data/messages");
    const std::size_t syslogBefore = env_.syslog().Lines().size();
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "still logging\n");
    ASSERT_GT(env_.syslog().Lines().size(), syslogBefore);
    const std::size_t sleepsBefore = env_.clock().SleepHistory().size();

    IPComm_RecycleBeforeReboot();

    EXPECT_EQ(Command_Recorded(), kPreparation);
    const auto sleeps = env_.clock().SleepHistory();
    EXPECT_EQ(std::vector<std::uint64_t>(sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsBefore), sleeps.end()),
              (std::vector<std::uint64_t>{kSecond, kSecond}));
    const std::string console = env_.Console();
    EXPECT_LT(console.find("End logging and umount data before reboot"), console.find("close log"));
    const std::size_t syslogAfter = env_.syslog().Lines().size();
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "after the preparation\n");
    EXPECT_EQ(env_.syslog().Lines().size(), syslogAfter) << "syslog is closed";
    EXPECT_THAT(env_.Console(), HasSubstr("after the preparation")) << "the console still prints";
}

TEST_F(MessagesTest, RebootIsRecordedAndTheProcessLivesOn) {
    EXPECT_EQ(IPComm_RebootSubboard(), 0u);
    EXPECT_THAT(Command_Recorded(), ElementsAre("reboot"));
    EXPECT_THAT(env_.Console(), HasSubstr("Call system reboot"));
    EXPECT_THAT(env_.ReadText("/sim/commands.log"), HasSubstr("reboot\n"));
}

TEST_F(MessagesTest, WebRebootAsksTheBackBoardBeforePreparing) {
    log_Init("/vandik_data/messages");

    EXPECT_EQ(BMN_SubBoardReboot(), 0u);

    std::vector<std::string> expected = kPreparation;
    expected.push_back("reboot");
    EXPECT_EQ(Command_Recorded(), expected);
    const auto arrivals = Arrivals();
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].slot, 16u);
    EXPECT_EQ(arrivals[0].command, IPCOMM_REQ_REBOOT);
    EXPECT_EQ(arrivals[0].commandsBefore, 0u) << "the request precedes the preparation";
    const std::string console = env_.Console();
    EXPECT_LT(console.find("********Reboot******"), console.find("Start Reboot Subboard..."));
    EXPECT_LT(console.find("Start Reboot Subboard..."), console.find("End logging and umount data before reboot"));
}

TEST_F(MessagesTest, RefusedWebRebootLeavesTheBoardUntouched) {
    struct Case {
        const char* name;
        SimAnswer answer;
        U32 backBoard;
        U32 result;
    };
    const std::vector<Case> cases = {
        {"back board answers with errors", SimAnswer::Error, SimBoardAddress(16), VK_ERR_FAILURE},
        {"back board closes without reply", SimAnswer::Close, SimBoardAddress(16), VK_ERR_FAILURE},
        {"back board not listening", SimAnswer::Success, kNobodyListens, VK_ERR_SOCKET_CONNECT_FAIL},
        {"back board outside loopback", SimAnswer::Success, 0xC0A8010A, VK_ERR_SOCKET_CONNECT_FAIL},
    };
    log_Init("/vandik_data/messages");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peers_->chassis().SetAnswer(16, c.answer);
        Resource_SetBackBoardIpAddr(c.backBoard);
        env_.TakeConsole();

        EXPECT_EQ(BMN_SubBoardReboot(), c.result);

        EXPECT_THAT(Command_Recorded(), IsEmpty()) << "syslog, data partition and UBI device left alone";
        EXPECT_THAT(env_.Console(),
                    HasSubstr("IPComm_SendRebootSubCmd error,enErrCode[" + std::to_string(c.result) + "]"));
        EXPECT_THAT(env_.Console(), Not(HasSubstr("close log")));
        const std::size_t syslogBefore = env_.syslog().Lines().size();
        HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "still logging\n");
        EXPECT_GT(env_.syslog().Lines().size(), syslogBefore) << "logging goes on";
        peers_->chassis().SetAnswer(16, SimAnswer::Success, 0);
    }
}

}  // namespace
}  // namespace hx

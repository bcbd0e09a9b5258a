// The inter-board command dispatcher, one packet at a time over a socketpair:
// the reply each command gets, what it does, and whether the reply goes out
// before or after the action.
//
// Order is observed without timing: every log line, every packet a simulated
// board receives and every host command the runner is asked to run is noted
// together with whether the reply could already be read on the peer's end at
// that moment. Actions that leave only state behind are probed at the reply
// itself: the packet is dispatched once more on a connection whose sending
// side is shut, so the reply fails and logs the moment it is written, and the
// probe runs on that log line in the dispatcher's own thread.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chassis/ipcomm_dispatch.h"
#include "chassis/ipcomm_messages.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_reassembly.h"
#include "chassis/upgrade.h"
#include "core/command_runner.h"
#include "core/err.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/input_messages.h"
#include "engine/slot_bookkeeping.h"
#include "platform/chassis_info.h"
#include "platform/network.h"
#include "platform/resource.h"
#include "support/ipcomm_recorder.h"
#include "support/model_builder.h"
#include "support/sim_board.h"
#include "support/test_env.h"
#include "web/user_authority.h"

namespace hx {
namespace {

using Bytes = std::vector<U8>;

constexpr U8 kOwnSlot = 9;
constexpr U8 kEitSlot = 5;
constexpr U8 kBackBoard = 16;
constexpr U32 kTspErrInput = 0xC0000;
constexpr const char* kModelFile = "/vandik_data/HX_OutPutTSP.conf";

struct Event {
    std::string text;
    bool replied;  // the reply could already be read when it happened
};

// What one dispatched packet did.
struct Outcome {
    U16 reply = 0;  // 0: the connection closed without a reply
    std::vector<Event> events;

    bool Has(const std::string& text) const {
        for (const Event& event : events) {
            if (event.text.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // Index of the first event at or after `from` holding `text`, or -1.
    int Find(const std::string& text, int from = 0) const {
        for (int i = from; i < static_cast<int>(events.size()); ++i) {
            if (events[static_cast<std::size_t>(i)].text.find(text) != std::string::npos) {
                return i;
            }
        }
        return -1;
    }
    std::string Describe() const {
        std::string text;
        for (const Event& event : events) {
            text += (event.replied ? "  [after reply] " : "  [before reply] ") + event.text + "\n";
        }
        return text;
    }
};

// A configuration message or an image handed on by the dispatcher.
struct Handed {
    U16 command = 0;
    Bytes data;
};

class DispatchTest;
DispatchTest* g_test = nullptr;

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_test = this;
        Resource_Reset();
        RunProfile profile = Profile();
        profile.simSlotId = kOwnSlot;
        SetProfile(profile);
        board.emplace();
        Status_Init();
        Status_SetIPReqflag(1);
        peers.AssignAddresses();
        Resource_GetHandle(kEitSlot)->u8BoardType = kEitBoardType;
        Resource_GetHandle(kEitSlot)->u8EitEnable = 1;
        Log_SetLevel(LOG_LEVEL_DEBUG | LOG_LEVEL_INFO | LOG_LEVEL_WARNING | LOG_LEVEL_ERROR);
        Log_SetConsoleSink([](std::string_view text) { g_test->Note(std::string(text)); });
        peers.chassis().SetPrinter([](const std::string& line) {
            if (line.find(" packet ") != std::string::npos) {  // not the "complete" line printed after the answer
                g_test->Note("sim: " + line);
            }
        });
        for (const char* program : {"ifconfig", "route", "iperf3"}) {
            Command_SetSimHandler(program, [](const Command& command) {
                g_test->Note("cmd: " + Command_Text(command));
                return CommandResult{0, false, {}};
            });
        }
        IPComm_ResetTmpData();
        IPComm_ResetUpgradeTransfer();
        IPComm_SetDispatchHooks({RecordConstruct, RecordImage, RecordInstall});
        UpgradeProFlag_Set(st_VK_UPGRADE{});
    }

    void TearDown() override {
        SubUpgrade_WaitReporters();
        IPComm_SetDispatchHooks({});
        peers.chassis().SetPrinter({});
        Log_SetConsoleSink({});
        IPComm_ResetTmpData();
        IPComm_ResetUpgradeTransfer();
        g_DelDestChannelNum.store(0);
        g_isFtpUpgrading = 0;
        UpgradeProFlag_Set(st_VK_UPGRADE{});
        ChassisInfo_Reset();
        Resource_Reset();
        g_test = nullptr;
    }

    void Note(std::string text) {
        if (probe_ && text.find("send to client error") != std::string::npos) {
            atReply_ = probe_();
        }
        bool replied = false;
        if (const int peer = peer_; peer >= 0) {
            pollfd ready{peer, POLLIN, 0};
            replied = poll(&ready, 1, 0) > 0;
        }
        std::lock_guard lock(mutex_);
        events_.push_back({std::move(text), replied});
    }

    // The record the server thread hands the dispatcher: the wire form of the
    // packet parsed as received (which also joins it in the reassembly store).
    static ST_VK_IPCOMM Packet(U16 command, const Bytes& data = {}, U8 sender = kBackBoard, U32 index = 0,
                               U32 count = 1) {
        IPCommWire wire;
        EXPECT_TRUE(IPComm_Build(command, data.data(), static_cast<U32>(data.size()), index, count, &wire, sender));
        ST_VK_IPCOMM record;
        EXPECT_EQ(VK_SUCCESS, IPComm_ParseData(wire.bytes.data(), static_cast<S32>(wire.length), &record));
        return record;
    }

    std::vector<Event> TakeEvents() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

    // What `probe` says at the moment the dispatcher writes its reply to this
    // packet ("no reply" when it writes none).
    std::string StateAtReply(ST_VK_IPCOMM packet, std::function<std::string()> probe) {
        int fds[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        shutdown(fds[0], SHUT_WR);
        atReply_ = "no reply";
        probe_ = std::move(probe);
        IPComm_Response(fds[0], &packet);
        probe_ = nullptr;
        close(fds[0]);
        close(fds[1]);
        TakeEvents();
        return atReply_;
    }

    // Dispatches one packet on a fresh connection and closes it as the
    // server does.
    Outcome Dispatch(ST_VK_IPCOMM packet) {
        int fds[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        TakeEvents();
        peer_ = fds[1];
        Outcome outcome;
        IPComm_Response(fds[0], &packet);
        IPComm_WaitAnnouncement();  // a 514 announces from the worker
        close(fds[0]);
        peer_ = -1;
        Bytes received;
        U8 buffer[256];
        for (ssize_t got; (got = recv(fds[1], buffer, sizeof buffer, 0)) > 0;) {
            received.insert(received.end(), buffer, buffer + got);
        }
        close(fds[1]);
        outcome.events = TakeEvents();
        if (!received.empty()) {
            // Exactly one bare reply: 20 bytes from this board's slot.
            EXPECT_EQ(20u, received.size()) << "more than one reply, or not a bare one";
            ST_VK_IPCOMM reply;
            EXPECT_EQ(VK_SUCCESS, IPComm_ParseData(received.data(), static_cast<S32>(received.size()), &reply));
            EXPECT_EQ(kOwnSlot, reply.u8SlotID);
            EXPECT_EQ(1u, reply.u32SumTansNum);
            outcome.reply = reply.u16CMD;
        }
        return outcome;
    }

    // Expects the events named, in this order, each before or after the reply.
    static void ExpectSequence(const Outcome& outcome, const std::vector<std::pair<std::string, bool>>& expected) {
        int at = 0;
        for (const auto& [text, afterReply] : expected) {
            const int found = outcome.Find(text, at);
            ASSERT_GE(found, 0) << "missing, or out of order: " << text << "\n" << outcome.Describe();
            EXPECT_EQ(afterReply, outcome.events[static_cast<std::size_t>(found)].replied)
                << text << (afterReply ? " should follow" : " should precede") << " the reply\n"
                << outcome.Describe();
            at = found + 1;
        }
    }

    static U32 RecordConstruct(U8* data, IPCOMM_CMD command, U16 length) {
        g_test->Note("construct " + std::to_string(command) + " " + std::to_string(length));
        g_test->constructed.push_back({command, Bytes(data, data + length)});
        if (g_test->constructResult) {
            return *g_test->constructResult;
        }
        g_test->realResult = TSP_ConstructOutputTS(data, command, length);
        return g_test->realResult;
    }
    static U32 RecordImage(const U8* image, U32 length) {
        g_test->Note("image " + std::to_string(length) + " bytes");
        g_test->images.push_back({IPCOMM_SEND_UPGRADE, Bytes(image, image + length)});
        return g_test->imageResult != VK_SUCCESS ? g_test->imageResult : upgrade_RecieveFile(image, length);
    }
    static U32 RecordInstall(const char* fileName) {
        g_test->Note(std::string("install ") + fileName);
        ++g_test->installs;
        return VK_SUCCESS;
    }

    test::TestEnvironment env;
    test::ScopedSharedModels models;
    test::ChassisPeers peers;
    std::optional<test::SimBoard> board;

    std::vector<Handed> constructed;
    std::optional<U32> constructResult;  // set: the entry is not called and this is its result
    U32 realResult = 0;
    std::vector<Handed> images;
    U32 imageResult = VK_SUCCESS;
    int installs = 0;

private:
    std::mutex mutex_;
    std::vector<Event> events_;
    std::atomic<int> peer_{-1};
    std::function<std::string()> probe_;  // set and read in the dispatching thread only
    std::string atReply_;
};

Bytes Pattern(std::size_t size, U8 seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<U8>(seed + i * 7);
    }
    return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Le32s(std::initializer_list<U32> words) {
    Bytes bytes;
    for (U32 word : words) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<U8>(word >> shift));
        }
    }
    return bytes;
}

// A resource record as the back board forwards it.
Bytes ResourceRecord(U8 slot, U8 boardType = 0x20, U8 eitEnable = 0) {
    TResource_TS record{};
    record.u8SlotID = slot;
    record.u8BoardType = boardType;
    record.u8EitEnable = eitEnable;
    record.u32IPAddress = slot <= 16 ? SimBoardAddress(slot) : 0;
    const ResourceBytes bytes = Resource_Serialize(record);
    return Bytes(bytes.begin(), bytes.end());
}

std::string EitListTo(U8 slot) {
    return "slot " + std::to_string(slot) + " <- slot " + std::to_string(kOwnSlot) + ": IPCOMM_SEND_EITINFO (278)";
}
std::string ResourceToBackBoard() {
    return "slot 16 <- slot " + std::to_string(kOwnSlot) + ": IPCOMM_SEND_RESOUR (257)";
}

// ---------------------------------------------------------------------------
// Every command code: reply, action, and the action's side of the reply.

struct CodeRow {
    U16 command;
    Bytes data;
    U16 reply;
    // Events in order; true: after the reply. An error row runs nothing at all.
    std::vector<std::pair<std::string, bool>> events;
    U8 sender = kBackBoard;
    std::function<void()> before = {};        // before each dispatch of the packet
    std::function<std::string()> probe = {};  // state when the reply is written
    std::string atReply = {};
    std::function<void()> after = {};  // checks once the call returned
};

TEST_F(DispatchTest, EveryCommandCodeGetsItsReplyAndAction) {
    const U16 kSuccess = IPCOMM_SUCCESS_CMD;
    const U16 kError = IPCOMM_DATA_ERROR;
    std::vector<CodeRow> rows = {
        {0, {}, kError, {}},
        {1, {}, kError, {}},
        {2, {}, kError, {}},
        {IPCOMM_SEND_RESOUR, ResourceRecord(4, kEitBoardType, 1), kSuccess,
         // the record moves the EIT board to slot 4, which gets the EIT list
         {{EitListTo(4), false}}, kBackBoard, [] { Resource_GetHandle(4)->u8BoardType = 0; },
         [] { return std::to_string(Resource_GetHandle(4)->u8BoardType); }, std::to_string(kEitBoardType),
         [] { Resource_GetHandle(4)->u8BoardType = 0; }},
        {IPCOMM_SEND_DATA, {1, 2, 3}, kSuccess, {}},
        {IPCOMM_SEND_OVER, {}, kSuccess, {{ResourceToBackBoard(), false}}, 3,
         [] { Resource_getSelfHandle()->au8ChannelStatus[0] = 7; }, {}, {},
         [] { EXPECT_EQ(0, Resource_getSelfHandle()->au8ChannelStatus[0]); }},
        {IPCOMM_CLEAR_INPUT, {}, kSuccess, {{EitListTo(kEitSlot), false}}, 3},
        {IPCOMM_CLEAR_OUTPUT, {}, kError, {}},
        {IPCOMM_SEND_TSP_MUX_PROCESS, {}, kSuccess, {{EitListTo(kEitSlot), true}}, 3,
         [&] { std::filesystem::remove(env.Path(kModelFile)); },
         [&] { return std::filesystem::exists(env.Path(kModelFile)) ? "applied" : "not applied"; }, "applied"},
        {272, {}, kError, {}},
        {276, {}, kError, {}},
        {277, {}, kError, {}},
        {IPCOMM_SEND_EITINFO, Bytes(4), kSuccess, {{EitListTo(kEitSlot), false}}, 3},
        {IPCOMM_SEND_EITINFO_OVER, {}, kError, {}},
        {IPCOMM_SEND_SUBPLUGFLAG, {0x05, 0x80}, kSuccess, {{"Get subplugflag 0x8005", false}}, kBackBoard,
         [] { Status_SetSubBoardPlugStatus(0); },
         [] { return std::to_string(Status_GetSubBoardPlugStatus()); }, "32773"},
        {IPCOMM_SEND_IP, Le32s({SimBoardAddress(16), SimBoardAddress(kOwnSlot), 0xFF000000u, 0x7F0000FEu}), kSuccess,
         {{"cmd: ifconfig eth0", true}, {"cmd: route add default gw 127.0.0.254", true}, {ResourceToBackBoard(), true}}},
        {IPCOMM_SEND_INDSTATUS, {1}, kError, {}},
        // The back board's FTP folder is empty here: the import finds no archive.
        {IPCOMM_SEND_BACKUPPARA, {}, kSuccess,
         {{"start to import the conf file", false}, {"[IPComm_GetTheConfParam] ftpget error", true}}},
        {IPCOMM_SEND_EXPORTPARA, {}, kSuccess, {{"Export config file's BoardType is", true}}},
        {IPCOMM_USER_AUTHORITY_CONFIG, Text("not json"), kSuccess,
         {{"start to user authorization management", false}, {"cJSON_Parse err", false}}},
        {IPCOMM_SEND_DEL_DESTCHANNEL, {0, 0, 0, 0}, kError, {}},
        {IPCOMM_SEND_UPGRADE, {1, 2, 3}, kSuccess,
         {{"##### Receive upgrade total packet 1", false},
          {"##### Receive upgrade file finish", true},
          {"image 3 bytes", true},
          {"install /var/volatile/upgradefile", true}}},
        // The back board's FTP folder holds no image: the fetch fails, and the
        // progress reporter reports that and ends.
        {IPCOMM_FTP_UPGRADE, {0x00, 0x10, 0x00, 0x00}, kSuccess,
         {{"Upgrade file size: 1048576", false},
          {"Upgrade file error,redownload!!", true},
          {"SubUpgrade timeout process create successfully!", true},
          {"install /var/volatile/upgradefile", true}},
         kBackBoard, {}, {}, {}, [] { SubUpgrade_WaitReporters(); }},
        {IPCOMM_SEND_IPERF3_TO_SUBB, Text("iperf3 -c 127.0.0.1"), kSuccess,
         {{"start to test the network quality", false}, {"cmd: /tmp/iperf3/iperf3 -c 127.0.0.1 -R", false},
          {"cmd: /tmp/iperf3/iperf3 -c 127.0.0.1 -u", false}}},
        {IPCOMM_SEND_PROCESS_UPGRADE, Bytes(40), kError, {}},
    };
    for (U16 command : {IPCOMM_SEND_TS, IPCOMM_SEND_PROGRAM, IPCOMM_SEND_PID, IPCOMM_DEL_TS, IPCOMM_DEL_PROGRAM,
                        IPCOMM_CHANGE_PROGRAM, IPCOMM_CHANGE_PID, IPCOMM_PROG_SET_DESCRAMBLE, IPCOMM_DEL_SCR,
                        IPCOMM_SEND_NIT_TABLE, IPCOMM_DEL_PID, IPCOMM_MONITOR_PID, IPCOMM_SEND_DESCRIPTOR,
                        IPCOMM_DEL_DESCRIPTOR}) {
        rows.push_back({command, {0}, kSuccess, {{"construct " + std::to_string(command) + " 1", false}}, 3});
    }
    for (U16 command : {IPCOMM_SEND_SYS_INFO, IPCOMM_REPORT_ALARM, IPCOMM_REPORT_SUBSTATUS, IPCOMM_ALARM_REPORT,
                        IPCOMM_ALARM_CONFIG, IPCOMM_CHECK_SUBBOARD_STATUS}) {
        rows.push_back({command, {}, kError, {}});
    }
    for (U16 command = 280; command <= 287; ++command) {
        rows.push_back({command, {}, kError, {}});
    }
    for (U16 command : {3, 256, 290, 512, 525, 1024, 2067, 2069, 3840, 3844, 3845, 3848, 0xFFFF}) {
        rows.push_back({command, {9}, kError, {}});
    }
    // Last: the reboot order ends the board's logging.
    rows.push_back({IPCOMM_REQ_REBOOT, {}, kSuccess, {{"Call system reboot", true}}, kBackBoard, {}, {}, {},
                    [] { EXPECT_EQ("reboot", Command_Recorded().back()); }});

    std::set<U32> covered;
    for (const CodeRow& row : rows) {
        covered.insert(row.command);
    }
    for (U32 code = 0; code <= 0xFFFF; ++code) {
        if (IPComm_CommandName(code) != nullptr) {
            EXPECT_TRUE(covered.count(code)) << "no row for command " << code;
        }
    }

    for (const CodeRow& row : rows) {
        SCOPED_TRACE("command " + std::to_string(row.command));
        if (row.before) {
            row.before();
        }
        const Outcome outcome = Dispatch(Packet(row.command, row.data, row.sender));
        EXPECT_EQ(row.reply, outcome.reply);
        if (row.reply == kError) {
            EXPECT_TRUE(outcome.events.empty()) << "nothing may run:\n" << outcome.Describe();
        }
        ExpectSequence(outcome, row.events);
        if (row.probe) {
            if (row.before) {
                row.before();
            }
            EXPECT_EQ(row.atReply, StateAtReply(Packet(row.command, row.data, row.sender), row.probe))
                << "done before the reply";
        }
        if (row.after) {
            row.after();
        }
    }
}

TEST_F(DispatchTest, ANullRecordIsLoggedAndNotAnswered) {
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    TakeEvents();
    IPComm_Response(fds[0], nullptr);
    close(fds[0]);
    U8 byte;
    EXPECT_EQ(0, recv(fds[1], &byte, 1, 0));
    close(fds[1]);
    const std::vector<Event> events = TakeEvents();
    ASSERT_EQ(1u, events.size());
    EXPECT_NE(std::string::npos, events[0].text.find("Input Param NULL"));
}

TEST_F(DispatchTest, AMessageHandledPacketByPacketLeavesNoPartialBehind) {
    // The transport joins every multi-packet message; for commands other than
    // the configuration records the dispatcher answers each packet and frees
    // the joined copy after the last.
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_DATA, Pattern(1400, 1), 3, 0, 2)).reply);
    EXPECT_GE(IPComm_FindTmpData(Packet(IPCOMM_SEND_DATA, {}, 3)), 0);
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_DATA, Pattern(9, 2), 3, 1, 2)).reply);
    EXPECT_LT(IPComm_FindTmpData(Packet(IPCOMM_SEND_DATA, {}, 3)), 0);
    // The same for a command that is refused.
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_INDSTATUS, Pattern(1400, 1), 3, 0, 2)).reply);
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_INDSTATUS, Pattern(9, 2), 3, 1, 2)).reply);
    EXPECT_LT(IPComm_FindTmpData(Packet(IPCOMM_SEND_INDSTATUS, {}, 3)), 0);
}

// ---------------------------------------------------------------------------
// Configuration messages.

TEST_F(DispatchTest, AMessageOfSeveralPacketsIsAnsweredByItsJoinAndItsApply) {
    const Bytes message = Pattern(3000, 11);
    const Bytes parts[] = {Bytes(message.begin(), message.begin() + 1400),
                           Bytes(message.begin() + 1400, message.begin() + 2800),
                           Bytes(message.begin() + 2800, message.end())};
    struct Case {
        const char* name;
        U32 applyResult;
        U16 lastReply;
    };
    for (const Case& c : {Case{"applied", 0, IPCOMM_SUCCESS_CMD}, Case{"cannot be applied", kTspErrInput,
                                                                      IPCOMM_DATA_ERROR}}) {
        SCOPED_TRACE(c.name);
        constructed.clear();
        constructResult = c.applyResult;
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_PROGRAM, parts[0], 3, 0, 3)).reply);
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_PROGRAM, parts[1], 3, 1, 3)).reply);
        EXPECT_TRUE(constructed.empty()) << "nothing is applied before the last packet";
        const Outcome last = Dispatch(Packet(IPCOMM_SEND_PROGRAM, parts[2], 3, 2, 3));
        EXPECT_EQ(c.lastReply, last.reply);
        ExpectSequence(last, {{"construct 260 3000", false}});
        ASSERT_EQ(1u, constructed.size());
        EXPECT_EQ(message, constructed[0].data) << "the three packets joined in order";
        EXPECT_EQ(c.applyResult == 0, last.Has("u32Length : 3000"));
        EXPECT_LT(IPComm_FindTmpData(Packet(IPCOMM_SEND_PROGRAM, {}, 3)), 0) << "the slot is free again";
    }
}

TEST_F(DispatchTest, APacketThatDidNotJoinIsAnErrorAndFreesItsMessage) {
    constructResult = 0;
    // Packet 1 without packet 0: there is no message to join.
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(100, 1), 3, 1, 3)).reply);
    // Packet 2 after packet 0: out of order, and the partial message is dropped.
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(1400, 2), 3, 0, 3)).reply);
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(100, 3), 3, 2, 3)).reply);
    EXPECT_LT(IPComm_FindTmpData(Packet(IPCOMM_SEND_PID, {}, 3)), 0);
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(1400, 4), 3, 1, 3)).reply);
    // Another sender's message of the same command is its own.
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(1400, 5), 7, 0, 2)).reply);
    EXPECT_EQ(IPCOMM_DATA_ERROR, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(10, 6), 3, 1, 2)).reply);
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_PID, Pattern(10, 7), 7, 1, 2)).reply);
    ASSERT_EQ(1u, constructed.size());
    Bytes expected = Pattern(1400, 5);
    const Bytes tail = Pattern(10, 7);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(expected, constructed[0].data);
}

TEST_F(DispatchTest, OnePacketIsAcknowledgedEvenWhenItCannotBeApplied) {
    // The real configuration entry: a count of 5 records with none following.
    const Outcome outcome = Dispatch(Packet(IPCOMM_SEND_PROGRAM, {5}, 3));
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
    ASSERT_EQ(1u, constructed.size());
    EXPECT_NE(0u, realResult);
    EXPECT_TRUE(outcome.Has("u32Length : 1"));
}

TEST_F(DispatchTest, APacketCountOfZeroIsNotAnswered) {
    const Outcome outcome = Dispatch(Packet(IPCOMM_SEND_TS, {1, 2, 3}, 3, 0, 0));
    EXPECT_EQ(0, outcome.reply) << "the peer sees the connection close without data";
    EXPECT_TRUE(constructed.empty());
}

TEST_F(DispatchTest, MuxProcessCountsDownTheDeleteNoticesNeverBelowZero) {
    struct Case {
        U8 before;
        U8 after;
    };
    for (const Case& c : {Case{0, 0}, Case{2, 1}, Case{1, 0}}) {
        g_DelDestChannelNum.store(c.before);
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_TSP_MUX_PROCESS, {}, 3)).reply);
        EXPECT_EQ(c.after, g_DelDestChannelNum.load()) << "from " << int(c.before);
    }
}

// ---------------------------------------------------------------------------
// Firmware image in packets (3841).

class UpgradeTransferTest : public DispatchTest {
protected:
    // Sends packets of `count` by index; every one must be acknowledged.
    void Send(const std::vector<U32>& indices, U32 count, std::size_t packetBytes = 1400) {
        for (U32 index : indices) {
            EXPECT_EQ(IPCOMM_SUCCESS_CMD,
                      Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(packetBytes, static_cast<U8>(index)), kBackBoard,
                                      index, count))
                          .reply)
                << "packet " << index;
        }
    }
    static Bytes Image(const std::vector<U32>& indices, std::size_t packetBytes, std::size_t lastBytes) {
        Bytes image;
        for (std::size_t i = 0; i < indices.size(); ++i) {
            const Bytes part = Pattern(i + 1 == indices.size() ? lastBytes : packetBytes, static_cast<U8>(indices[i]));
            image.insert(image.end(), part.begin(), part.end());
        }
        return image;
    }
};

TEST_F(UpgradeTransferTest, AGoodTransferWritesExactlyTheImageAndInstallsIt) {
    Send({0, 1}, 3);
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(37, 2), kBackBoard, 2, 3)).reply);
    const Bytes image = Image({0, 1, 2}, 1400, 37);
    ASSERT_EQ(1u, images.size());
    EXPECT_EQ(image, images[0].data);
    EXPECT_EQ(std::string(image.begin(), image.end()), env.ReadText("/var/volatile/upgradefile"));
    EXPECT_EQ(1, installs);
    const UpgradeTransfer state = IPComm_UpgradeTransferState();
    EXPECT_FALSE(state.hasBuffer);
    EXPECT_EQ(0u, state.expectedIndex);
}

TEST_F(UpgradeTransferTest, AMissingPacketLosesTheImageButEveryPacketIsAcknowledged) {
    Send({0, 1}, 5);
    Outcome outcome = Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(10, 3), kBackBoard, 3, 5));
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
    EXPECT_TRUE(outcome.Has("##### IPCOMM_SEND_UPGRADE Receive packet index error sould rec 2, rec 3"))
        << outcome.Describe();
    outcome = Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(10, 4), kBackBoard, 4, 5));
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
    EXPECT_TRUE(outcome.Has("##### IPCOMM_SEND_UPGRADE Receive packet index error sould rec 3, rec 4"))
        << outcome.Describe();
    EXPECT_TRUE(outcome.Has("##### Receive upgrade file finish"));
    EXPECT_TRUE(images.empty());
    EXPECT_EQ(0, installs);
    // The next transfer from packet 0 is taken normally.
    Send({0}, 2);
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(5, 1), kBackBoard, 1, 2)).reply);
    ASSERT_EQ(1u, images.size());
    EXPECT_EQ(Image({0, 1}, 1400, 5), images[0].data);
    EXPECT_EQ(1, installs);
}

TEST_F(UpgradeTransferTest, ImagesThatCannotBeTrustedAreDiscardedNotInstalled) {
    struct Case {
        const char* name;
        std::vector<U32> indices;
        std::function<U32(U32)> countOf;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"count 0", {0}, [](U32) { return 0u; }, "##### upgrade image of 0 packets refused"},
        {"over 64 MiB", {0, 1}, [](U32) { return 47935u; }, "##### upgrade image of 47935 packets refused"},
        {"count changed", {0, 1, 2}, [](U32 index) { return index == 1 ? 4u : 3u; },
         "##### upgrade packet count changed 3 -> 4"},
        {"count changed to end early", {0, 1}, [](U32 index) { return index == 1 ? 2u : 3u; },
         "##### upgrade packet count changed 3 -> 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IPComm_ResetUpgradeTransfer();
        images.clear();
        installs = 0;
        bool logged = false;
        for (U32 index : c.indices) {
            const Outcome outcome =
                Dispatch(Packet(IPCOMM_SEND_UPGRADE, Pattern(1400, static_cast<U8>(index)), kBackBoard, index,
                                c.countOf(index)));
            EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
            logged = logged || outcome.Has(c.logged);
        }
        EXPECT_TRUE(logged);
        EXPECT_TRUE(images.empty());
        EXPECT_EQ(0, installs);
        const UpgradeTransfer state = IPComm_UpgradeTransferState();
        EXPECT_FALSE(state.hasBuffer);
        EXPECT_LE(state.stored, state.capacity);
    }
    // 47934 packets of 1,400 bytes are just within 64 MiB: that buffer is taken.
    IPComm_ResetUpgradeTransfer();
    Send({0}, 47934);
    EXPECT_TRUE(IPComm_UpgradeTransferState().hasBuffer);
    IPComm_ResetUpgradeTransfer();
}

TEST_F(UpgradeTransferTest, AnImageThatCannotBeWrittenIsNotInstalled) {
    imageResult = VK_ERR_FILE_NOT_EXISTING;
    Send({0, 1}, 2);
    EXPECT_EQ(1u, images.size());
    EXPECT_EQ(0, installs);
}

// ---------------------------------------------------------------------------
// FTP upgrade, reboot, network test, user rights.

TEST_F(DispatchTest, FtpUpgradeInstallsUnlessTheFetchFailedForAnFtpBoard) {
    // The reporter thread sleeps on the clock until the test lets it go.
    env.clock().SetAutoAdvance(false);
    struct Case {
        bool imageOnServer;
        U8 ftpUpgrade;
        bool installed;
    };
    for (const Case& c : {Case{false, 0, true}, Case{false, 1, true}, Case{false, 2, false}, Case{true, 2, true}}) {
        SCOPED_TRACE(::testing::Message() << "image " << c.imageOnServer << ", ftp byte " << int(c.ftpUpgrade));
        std::filesystem::create_directories(env.Path("/sim/ftp"));
        std::filesystem::remove(env.Path("/sim/ftp/upgradefile"));
        if (c.imageOnServer) {
            env.WriteText("/sim/ftp/upgradefile", "image");
        }
        Resource_getSelfHandle()->u8FTPUpgrade = c.ftpUpgrade;
        installs = 0;
        const Outcome outcome = Dispatch(Packet(IPCOMM_FTP_UPGRADE, {0x00, 0x10, 0x00, 0x00}));
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
        ExpectSequence(outcome, {{"Upgrade file size: 1048576", false},
                                 {c.imageOnServer ? "Ftpget upgrade file finish" : "Upgrade file error,redownload!!",
                                  true},
                                 {"SubUpgrade timeout process create successfully!", true}});
        EXPECT_EQ(c.installed ? 1 : 0, installs);
        EXPECT_EQ(0, g_isFtpUpgrading.load());
        // A failed fetch ends the reporter at once. Else the recorder installed
        // nothing: the test ends the upgrade for the reporter, which waits
        // for its next second.
        if (c.imageOnServer) {
            env.clock().WaitForSleepers(1);
            UpgradeProFlag_SetStep(kUpgradeSuccessStep);
            env.clock().Advance(1'000'000);
        }
        SubUpgrade_WaitReporters();
    }
    // A short size field is read as far as it goes.
    std::filesystem::remove(env.Path("/sim/ftp/upgradefile"));
    EXPECT_TRUE(Dispatch(Packet(IPCOMM_FTP_UPGRADE, {0x01})).Has("Upgrade file size: 16777216"));
    SubUpgrade_WaitReporters();
}

TEST_F(DispatchTest, RebootOrderRepliesWaitsFiveSecondsThenPreparesAndReboots) {
    env.clock().SetAutoAdvance(false);
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    ST_VK_IPCOMM packet = Packet(IPCOMM_REQ_REBOOT);
    Command_ClearRecorded();
    std::thread server([&] { IPComm_Response(fds[0], &packet); });
    env.clock().WaitForSleepers(1);
    EXPECT_EQ(5'000'000u, env.clock().SleepHistory().back());
    pollfd ready{fds[1], POLLIN, 0};
    EXPECT_EQ(1, poll(&ready, 1, 0)) << "the reply is out before the wait";
    EXPECT_TRUE(Command_Recorded().empty()) << "nothing prepared during the wait";
    env.clock().SetAutoAdvance(true);
    env.clock().Advance(5'000'000);
    server.join();
    close(fds[0]);
    U8 reply[32];
    ASSERT_EQ(20, recv(fds[1], reply, sizeof reply, 0));
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, reply[2] | reply[3] << 8);
    close(fds[1]);
    const std::vector<std::string> commands = Command_Recorded();
    const std::vector<std::string> tail = {"sync", "sync", "umount /vandik_data", "ubidetach -m 8", "reboot"};
    ASSERT_GE(commands.size(), tail.size());
    EXPECT_EQ(tail, std::vector<std::string>(commands.end() - static_cast<std::ptrdiff_t>(tail.size()), commands.end()));
}

TEST_F(DispatchTest, NetworkTestRunsOnlyAnIperf3CommandWordByWord) {
    struct Case {
        const char* name;
        Bytes text;
        bool runs;
        const char* command;  // the first variant run
    };
    Bytes withZero = Text("iperf3 -c 127.0.0.2 -t 3");
    withZero.push_back(0);
    const Bytes tail = Text(";reboot");
    withZero.insert(withZero.end(), tail.begin(), tail.end());
    const std::vector<Case> cases = {
        {"plain", Text("iperf3 -c 127.0.0.1 -t 10 -p 5201"), true, "/tmp/iperf3/iperf3 -c 127.0.0.1 -t 10 -p 5201 -R"},
        {"ends at the first zero byte", withZero, true, "/tmp/iperf3/iperf3 -c 127.0.0.2 -t 3 -R"},
        {"separator", Text("iperf3 -c 127.0.0.1; reboot"), false, nullptr},
        {"substitution", Text("iperf3 -c $(reboot)"), false, nullptr},
        {"backquote", Text("iperf3 -c `id`"), false, nullptr},
        {"pipe", Text("iperf3 -c 127.0.0.1 | sh"), false, nullptr},
        {"redirect", Text("iperf3 -c 127.0.0.1 >/vandik_data/x"), false, nullptr},
        {"newline", Text("iperf3 -c 127.0.0.1\nreboot"), false, nullptr},
        {"quote", Text("iperf3 -c '127.0.0.1'"), false, nullptr},
        {"other program", Text("reboot -f"), false, nullptr},
        {"iperf3 later", Text("sh iperf3"), false, nullptr},
        {"empty", {}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = Dispatch(Packet(IPCOMM_SEND_IPERF3_TO_SUBB, c.text));
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
        EXPECT_EQ(c.runs, outcome.Has("cmd: ")) << outcome.Describe();
        if (c.runs) {
            ExpectSequence(outcome, {{std::string("cmd: ") + c.command, false}});
            EXPECT_FALSE(outcome.Has("reboot"));
        } else {
            EXPECT_TRUE(outcome.Has("[NetWorkQualityTest]")) << outcome.Describe();
            const std::string text(c.text.begin(), c.text.end());
            EXPECT_EQ(VK_ERR_PARAMS, NetWorkQualityTest(reinterpret_cast<const U8*>(text.c_str())));
        }
    }
    // A text filling its data to the end, with bytes past u32Length: only
    // u32Length bytes are the command.
    ST_VK_IPCOMM packet = Packet(IPCOMM_SEND_IPERF3_TO_SUBB, Text("iperf3 -c 127.0.0.3"));
    const char extra[] = " ; reboot";
    std::memcpy(packet.pu8Data.data() + packet.u32Length, extra, sizeof extra - 1);
    const Outcome outcome = Dispatch(packet);
    ExpectSequence(outcome, {{"cmd: /tmp/iperf3/iperf3 -c 127.0.0.3 -R", false}});
    EXPECT_FALSE(outcome.Has("reboot"));
}

TEST_F(DispatchTest, UserRightsTextEndsAtTheFirstZeroByteOrAtItsLength) {
    const U32 own = Status_GetSlotID() * kUserAuthorityEntries;
    const std::string json = R"({"data":[{"UserName":"op","Authoritylist":[{"AuthorityId":)" + std::to_string(own) +
                             R"(,"ViewEnable":1,"ModifyEnable":0}]}]})";
    Bytes zeroEnded = Text(json);
    zeroEnded.push_back(0);
    const Bytes garbage = Text("}}garbage");
    zeroEnded.insert(zeroEnded.end(), garbage.begin(), garbage.end());
    ST_VK_IPCOMM lengthEnded = Packet(IPCOMM_USER_AUTHORITY_CONFIG, Text(json));
    std::memcpy(lengthEnded.pu8Data.data() + lengthEnded.u32Length, garbage.data(), garbage.size());
    for (const ST_VK_IPCOMM& packet : {Packet(IPCOMM_USER_AUTHORITY_CONFIG, zeroEnded), lengthEnded}) {
        VKUser_InitUserAuthority();
        const Outcome outcome = Dispatch(packet);
        EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
        EXPECT_FALSE(outcome.Has("cJSON_Parse err")) << outcome.Describe();
        EXPECT_EQ(0, VKUser_GetAuthorityEntry(0).u8ModifyEnable);
        VKUser_InitUserAuthority();
        EXPECT_EQ("0", StateAtReply(packet, [] { return std::to_string(VKUser_GetAuthorityEntry(0).u8ModifyEnable); }))
            << "the rights are in place when the reply goes out";
    }
    VKUser_InitUserAuthority();
}

// ---------------------------------------------------------------------------
// Payloads too short to use, and records from the wrong sender.

TEST_F(DispatchTest, ShortOrImpossiblePayloadsChangeNothingAndGetAnError) {
    struct Case {
        const char* name;
        U16 command;
        Bytes data;
        U8 sender;
    };
    Bytes shortRecord = ResourceRecord(4, kEitBoardType, 1);
    shortRecord.pop_back();
    Status_SetSubBoardPlugStatus(0x0011);
    const std::vector<Case> cases = {
        {"257 of 1,023 bytes", IPCOMM_SEND_RESOUR, shortRecord, kBackBoard},
        {"257 empty", IPCOMM_SEND_RESOUR, {}, kBackBoard},
        {"257 naming slot 17", IPCOMM_SEND_RESOUR, ResourceRecord(17, kEitBoardType, 1), kBackBoard},
        {"257 naming slot 255", IPCOMM_SEND_RESOUR, ResourceRecord(255), kBackBoard},
        {"257 naming slot 17 from a card", IPCOMM_SEND_RESOUR, ResourceRecord(17), 3},
        {"513 of one byte", IPCOMM_SEND_SUBPLUGFLAG, {0xFF}, kBackBoard},
        {"513 empty", IPCOMM_SEND_SUBPLUGFLAG, {}, kBackBoard},
        {"514 of 15 bytes", IPCOMM_SEND_IP, Bytes(15, 0x7F), kBackBoard},
        {"514 empty", IPCOMM_SEND_IP, {}, kBackBoard},
    };
    auto snapshot = [] {
        Bytes all;
        for (U32 slot = 0; slot < kResourceRecords; ++slot) {
            const ResourceBytes bytes = Resource_Serialize(*Resource_GetHandle(slot));
            all.insert(all.end(), bytes.begin(), bytes.end());
        }
        return all;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes records = snapshot();
        const Outcome outcome = Dispatch(Packet(c.command, c.data, c.sender));
        EXPECT_EQ(IPCOMM_DATA_ERROR, outcome.reply);
        EXPECT_EQ(records, snapshot());
        EXPECT_EQ(0x0011, Status_GetSubBoardPlugStatus());
        EXPECT_FALSE(outcome.Has("sim: ")) << outcome.Describe();
        EXPECT_FALSE(outcome.Has("cmd: ")) << outcome.Describe();
    }
}

TEST_F(DispatchTest, AResourceRecordIsStoredForTheSlotItNamesAndOnlyFromTheBackBoard) {
    // Longer than a record: the record is taken, the rest ignored.
    Bytes longer = ResourceRecord(6, 0x21);
    longer.resize(1100, 0xEE);
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_RESOUR, longer)).reply);
    EXPECT_EQ(0x21, Resource_GetHandle(6)->u8BoardType);
    // From a card it is acknowledged and ignored.
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, Dispatch(Packet(IPCOMM_SEND_RESOUR, ResourceRecord(7, 0x22), 3)).reply);
    EXPECT_EQ(0, Resource_GetHandle(7)->u8BoardType);
}

TEST_F(DispatchTest, NetworkSettingsFromACardAreAcknowledgedAndRefused) {
    const U32 backBoard = Resource_getBoardIPAddress(kBackBoard);
    const U32 own = Resource_getSelfHandle()->u32IPAddress;
    const Outcome outcome =
        Dispatch(Packet(IPCOMM_SEND_IP, Le32s({0x7F000063, 0x7F000064, 0xFFFFFF00u, 0x7F000001}), 5));
    EXPECT_EQ(IPCOMM_SUCCESS_CMD, outcome.reply);
    ExpectSequence(outcome, {{"Input Para Error u32slot[5]...", true}});
    EXPECT_FALSE(outcome.Has("cmd: ")) << outcome.Describe();
    EXPECT_FALSE(outcome.Has("sim: ")) << outcome.Describe();
    EXPECT_EQ(backBoard, Resource_getBoardIPAddress(kBackBoard));
    EXPECT_EQ(own, Resource_getSelfHandle()->u32IPAddress);
}

}  // namespace
}  // namespace hx
